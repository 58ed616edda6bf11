#pragma once
#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

class QWidget;

namespace tabulon::dialogs {

// Everything that would block or leave the program (dialogs, message boxes, the shell's
// "open") goes through these interfaces, so tests can answer and record instead.

// A file dialog as the caller wants it; filters are Qt name filters, "Text (*.txt *.TXT)".
struct FileRequest {
    QWidget* owner = nullptr;
    QString caption;
    QString directory;
    QString proposedName;
    QStringList filters;
    int selectedFilter = 0;
    QString defaultSuffix;
    bool mustExist = false;
    bool confirmOverwrite = false;
};

struct ColorRequest {
    QWidget* owner = nullptr;
    QColor initial;
    bool fullOpen = false;
};

struct FontRequest {
    QWidget* owner = nullptr;
    QFont initial;
};

// The platform's choosers. Each returns no value when the user cancels or the dialog fails.
class DialogBackend {
public:
    virtual ~DialogBackend() = default;
    virtual std::optional<QString> openFile(const FileRequest& request) = 0;
    virtual std::optional<QString> saveFile(const FileRequest& request) = 0;
    // `directory` is where the chooser starts ("" for the system's choice).
    virtual std::optional<QString> folder(QWidget* owner, const QString& caption, const QString& directory) = 0;
    virtual std::optional<QColor> color(const ColorRequest& request) = 0;
    virtual std::optional<QFont> font(const FontRequest& request) = 0;
    virtual bool printer(QWidget* owner) = 0;
    // The default printer's own settings; false when there is no printer.
    virtual bool printerProperties(QWidget* owner) = 0;
};

// The icon values keep the numbers of the message-box style they stand for.
enum class MessageIcon { None = 0, Critical = 16, Information = 64 };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // One OK button, the program's title as caption; returns when the user closed it.
    virtual void show(QWidget* owner, const QString& text, MessageIcon icon) = 0;
    // A question with Yes and No, the program's title as caption; true for Yes.
    virtual bool ask(QWidget* owner, const QString& question) = 0;
};

// Show commands keep the numbers the desktop shell uses; the platform may ignore them.
enum ShowCommand { kShowMaximized = 3, kShow = 5 };

class Shell {
public:
    virtual ~Shell() = default;
    // Hands a folder, file, web address or mail link to the desktop's default handler.
    // Nobody waits for it and its result is not examined.
    virtual void open(QWidget* owner, const QString& target, int showCommand) = 0;
};

// What the desktop is handed for a target: web and mail addresses as they are, anything
// else as the file URL of its absolute path.
QUrl shellUrl(const QString& target);

// The implementations in use. Passing nullptr puts the real one back.
DialogBackend& dialogBackend();
void setDialogBackend(DialogBackend* backend);
MessageBoxes& messageBoxes();
void setMessageBoxes(MessageBoxes* boxes);
Shell& shell();
void setShell(Shell* shell);

// Shorthands for the window code.
void showMessage(QWidget* owner, const QString& text, MessageIcon icon);
bool askQuestion(QWidget* owner, const QString& question);
void shellOpen(QWidget* owner, const QString& target, int showCommand);

}  // namespace tabulon::dialogs
