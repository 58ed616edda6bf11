#pragma once
#include <QString>

namespace tabulon::gui {

// Where an installation of this build puts its files (from CMake's GNUInstallDirs).
struct InstallLayout {
    QString bindir;          // the program's folder, absolute
    QString helpFile;        // help.html in the package's data folder, absolute
    QString helpFromBindir;  // the same, relative to the program's folder
};
InstallLayout builtInLayout();

// The help page: beside the program (as in the build tree), else where an installation
// under the program's own prefix puts it, else the configured installed one. When none of
// them exists, the one beside the program, so that the shell says what is missing.
QString findHelpFile(const QString& programFolder, const InstallLayout& layout);

// Whether the program runs installed: from the configured program folder, or from a
// program folder with the package's data beside it (an installation moved to another
// prefix). The build tree is neither.
bool isInstalled(const QString& programFolder, const InstallLayout& layout);

// The folder for the state files: the per-user configuration folder for an installed
// program, otherwise as chooseStateFolder decides.
QString stateFolderFor(const QString& programFolder, const InstallLayout& layout);

// Where HomePage and the About window lead, as this build was configured
// (TABULON_HOME_PAGE, TABULON_SUPPORT_MAIL); empty when not set.
struct Links {
    QString homePage;     // a full web address
    QString supportMail;  // a plain address, without "mailto:"
};
Links builtInLinks();

}  // namespace tabulon::gui
