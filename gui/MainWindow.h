#pragma once
#include "core/OutputNaming.h"
#include "core/SheetSelection.h"
#include "gui/Installation.h"
#include "gui/Places.h"
#include "gui/StateFiles.h"

#include <QIcon>
#include <QKeySequence>
#include <QMainWindow>

class QAction;
class QMenu;
class QComboBox;
class QLabel;
class QProgressBar;
class QToolButton;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tabulon::gui {

// form1: the one main window. Every action is the handler of one button or menu item; a menu
// item that repeats a button calls that button's handler.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Client area in twips, without the menu bar.
    static constexpr int kClientWidth = 9096;
    static constexpr int kClientHeight = 8148;

    // Icons of source entries, numbered as in the image list.
    enum SourceIcon { kIconWorkbook = 1, kIconFolder = 2, kIconMissing = 3 };

    // Restores the lists from the state files in `stateFolder` (start-up), and the window's
    // place and the dialogs' folders from `configFolder` (the per-user configuration folder
    // when empty).
    explicit MainWindow(const QString& stateFolder, const QString& configFolder = QString(),
                        QWidget* parent = nullptr);

    const StateFiles& state() const { return m_state; }
    const Places& places() const { return m_places; }

    // Adds workbook files and folders as sources, one entry each, as Add Excel and Add Folder
    // would (what a file manager's "Open with" or a drop hands over); the last one added is
    // shown. Relative paths are taken from the working folder. Returns the paths that are
    // neither an existing folder nor a file the open dialog offers.
    QStringList addSources(const QStringList& paths);

    // Where HomePage and the About window lead; the build's links unless replaced.
    const Links& links() const { return m_links; }
    void setLinks(const Links& links) { m_links = links; }
    // The help page, found anew on every use.
    static QString helpFile();

    void command1Click();  // Add Excel
    void command5Click();  // Add Folder
    void command2Click();  // Remove File
    void command3Click();  // move the selected source up
    void command4Click();  // move the selected source down
    void command6Click();  // Convert
    void command8Click();  // Help
    void command7Click();  // HomePage
    void command9Click();  // Exit
    void command10Click();  // Browse for an output directory
    void command11Click();  // View the output directory
    void removeAllClick();
    void removeOutputClick();
    void removeAllOutputClick();
    void settingsClick();
    void aboutClick();
    void listView1ItemClick();  // show the workbooks of the selected source
    void listView2ItemClick();  // show the worksheets of the selected workbook
    void tickAllSheets(bool ticked);  // every worksheet of the shown workbook
    void toggleAllSheets();           // ticks all, or unticks all when all are ticked

    // The full path of the workbook selected in the workbook list, or "".
    QString selectedWorkbookPath() const;
    const core::SheetSelection& sheetCache() const { return m_cache; }

    static QIcon sourceIcon(int index);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void load();
    void unload();
    QAction* addMenuAction(QMenu* menu, const char* name, const QString& caption, void (MainWindow::*handler)(),
                           const QKeySequence& shortcut = QKeySequence());
    void buildSheetMenu();
    // Runs a handler the user started: the last batch's summary leaves the status line first.
    void userAction(void (MainWindow::*handler)());
    void connectButton(QToolButton* button, void (MainWindow::*handler)());
    void askToStop(bool closing);
    bool takeDrop(QEvent* event);
    QTreeWidgetItem* appendSource(const QString& path, int icon);
    void selectSource(QTreeWidgetItem* item);
    void moveSource(int offset);
    void listWorkbooks(const QString& source);
    void listWorksheets();
    void saveSheetTicks();
    std::vector<core::SheetEntry> entries(QTreeWidget* list) const;
    QString selectedSourceText() const;
    int selectedOutputIndex() const;
    QString outputDirectoryText();
    void setBusy(bool busy);
    friend class WindowListener;

    core::SheetSelection m_cache;
    core::SheetCounter m_sheetCounter;
    bool m_useSheetCache = false;
    bool m_busy = false;
    bool m_selectingByProgram = false;
    bool m_keyNavigation = false;
    // A running batch: stop after the current worksheet; close the window once it stopped.
    bool m_stopRequested = false;
    bool m_closeWhenIdle = false;
    bool m_asking = false;
    QString m_batchPosition;  // " (workbook i of n)" while a batch runs

    StateFiles m_state;
    Places m_places;
    Links m_links = builtInLinks();
    bool m_unloaded = false;

    QToolButton* m_addExcelButton = nullptr;
    QToolButton* m_addFolderButton = nullptr;
    QToolButton* m_removeFileButton = nullptr;
    QToolButton* m_convertButton = nullptr;
    QToolButton* m_helpButton = nullptr;
    QToolButton* m_homePageButton = nullptr;
    QToolButton* m_exitButton = nullptr;
    QTreeWidget* m_sourceList = nullptr;
    QComboBox* m_namingMode = nullptr;
    QTreeWidget* m_workbookList = nullptr;
    QTreeWidget* m_worksheetList = nullptr;
    QToolButton* m_upButton = nullptr;
    QToolButton* m_downButton = nullptr;
    QLabel* m_statusLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_namingLabel = nullptr;
    QComboBox* m_outputDirs = nullptr;
    QPushButton* m_browseButton = nullptr;
    QPushButton* m_viewButton = nullptr;
    QLabel* m_outputLabel = nullptr;
    QMenu* m_sheetMenu = nullptr;
};

}  // namespace tabulon::gui
