#pragma once
#include <QString>
#include <QStringList>

namespace tabulon::gui {

// The folder for the state files: the program's folder when a file can be created there,
// otherwise the per-user configuration folder (created when missing).
QString chooseStateFolder(const QString& programFolder);

// One value per line; CR LF, LF and a lone CR all end a line, and a last line without an
// end is still read. A missing or unreadable file reads as no lines.
QStringList readLines(const QString& file);

// Replaces the file's content, every line ended by CR LF, through a temporary file that is
// renamed into place, so a crash never leaves a truncated list. Returns false on failure.
bool writeLines(const QString& file, const QStringList& lines);

// Whether the lists are saved at exit; only the exact text "1" means yes.
struct SaveSwitches {
    bool sourceList = false;
    bool outputDirectories = false;
};

// The three files beside the program: EXCEL.txt (sources), output.txt (output
// directories, at most 201 lines) and set.txt (the two save switches).
class StateFiles {
public:
    static constexpr int kMaxOutputDirectories = 201;

    explicit StateFiles(QString folder) : m_folder(std::move(folder)) {}
    const QString& folder() const { return m_folder; }

    QStringList sources() const { return readLines(file("EXCEL.txt")); }
    QStringList outputDirectories() const { return readLines(file("output.txt")); }
    // A missing set.txt, or a missing line, means "0".
    SaveSwitches switches() const;

    bool saveSources(const QStringList& entries) const { return writeLines(file("EXCEL.txt"), entries); }
    bool saveOutputDirectories(const QStringList& entries) const;
    bool saveSwitches(SaveSwitches switches) const;

    QString file(const char* name) const;

private:
    QString m_folder;
};

}  // namespace tabulon::gui
