#include "gui/MainWindow.h"

#include "core/ConvertCommand.h"
#include "core/PathHelpers.h"
#include "core/Spreadsheet.h"
#include "dialogs/CommonDialogs.h"
#include "dialogs/Seams.h"
#include "engine/Workbook.h"
#include "gui/AboutDialog.h"
#include "gui/PictureButton.h"
#include "gui/QtPaths.h"
#include "gui/SettingsDialog.h"
#include "gui/Twips.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>

// Resources of a static library are registered by hand.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace tabulon::gui {
namespace {

const char* const kNamingModes[] = {
    "CSV Filename will be based on sheet name",
    "CSV Filename will be based on workbook name and sheet name ",
    "CSV Filename will be 1.xls,2.xls,3.xls,4.xls,5.xls,6.xls....",
};

QToolButton* pictureButton(QWidget* parent, const char* name, const QString& caption, const char* icon, int iconSize)
{
    auto* button = new PictureButton(parent, iconSize);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setIcon(QIcon(QString::fromLatin1(icon)));
    button->setFont(arial(9));
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QTreeWidget* listView(QWidget* parent, const char* name)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setSectionsMovable(false);
    list->header()->setStretchLastSection(false);
    return list;
}

void addColumn(QTreeWidget* list, const QString& header, int widthTwips)
{
    list->setHeaderLabels({header});
    list->headerItem()->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    list->setColumnWidth(0, px(widthTwips));
}

QLabel* label(QWidget* parent, const char* name, const QString& text)
{
    auto* result = new QLabel(text, parent);
    result->setObjectName(QString::fromLatin1(name));
    result->setFont(arial(9));
    return result;
}

QString programFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString configFolderOr(const QString& folder)
{
    return folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) : folder;
}

// The files and folders a drag carries; nothing for anything else (text, web addresses).
QStringList localPaths(const QMimeData* data)
{
    QStringList paths;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                paths << QDir::toNativeSeparators(url.toLocalFile());
    return paths;
}

// What addSources takes: an existing folder, or an existing file the open dialog offers.
bool isSource(const QString& path)
{
    switch (core::pathKind(toPath(path))) {
    case core::PathKind::Folder:
        return true;
    case core::PathKind::File:
        return dialogs::CommonDialogs::matchesWorkbookFilter(QFileInfo(path).fileName());
    case core::PathKind::Missing:
        break;
    }
    return false;
}

}  // namespace

MainWindow::MainWindow(const QString& stateFolder, const QString& configFolder, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_state(stateFolder),
      m_places(configFolderOr(configFolder))
{
    initIconResources();
    setObjectName(QStringLiteral("form1"));
    setWindowTitle(QStringLiteral("Tabulon"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    setFont(arial(8.4));
    buildControls();
    buildMenus();
    buildSheetMenu();
    setFixedSize(px(kClientWidth), px(kClientHeight) + menuBar()->sizeHint().height());
    // Where the window was last placed; the window system's choice the first time.
    const QByteArray geometry = m_places.windowGeometry();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    load();
}

QIcon MainWindow::sourceIcon(int index)
{
    switch (index) {
    case kIconWorkbook:
        return QIcon(QStringLiteral(":/icons/list-workbook.svg"));
    case kIconFolder:
        return QIcon(QStringLiteral(":/icons/list-folder.svg"));
    default:
        return QIcon(QStringLiteral(":/icons/list-missing.svg"));
    }
}

void MainWindow::buildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(px(kClientWidth), px(kClientHeight));
    setCentralWidget(client);

    // Created in tab order.
    m_addExcelButton = pictureButton(client, "Command1", QStringLiteral("Add Excel"), ":/icons/sheet.svg", 48);
    place(m_addExcelButton, 120, 0, 1210, 975);
    m_addFolderButton = pictureButton(client, "Command5", QStringLiteral("Add Folder"), ":/icons/folder.svg", 48);
    place(m_addFolderButton, 1440, 0, 1210, 975);
    m_removeFileButton = pictureButton(client, "Command2", QStringLiteral("Remove File"), ":/icons/remove.svg", 32);
    place(m_removeFileButton, 2760, 0, 1330, 975);
    m_convertButton = pictureButton(client, "Command6", QStringLiteral("Convert"), ":/icons/app.svg", 48);
    place(m_convertButton, 4560, 0, 1090, 975);
    m_helpButton = pictureButton(client, "Command8", QStringLiteral("Help"), ":/icons/help.svg", 32);
    place(m_helpButton, 5760, 0, 970, 975);
    m_homePageButton = pictureButton(client, "Command7", QStringLiteral("HomePage"), ":/icons/globe.svg", 48);
    place(m_homePageButton, 6840, 0, 1095, 975);
    m_exitButton = pictureButton(client, "Command9", QStringLiteral("Exit"), ":/icons/exit.svg", 32);
    place(m_exitButton, 8040, 0, 970, 975);

    m_sourceList = listView(client, "ListView1");
    place(m_sourceList, 120, 1080, 8415, 2655);
    m_sourceList->setIconSize(QSize(16, 16));
    m_sourceList->setAccessibleName(QStringLiteral("Sources"));
    // Workbook files and folders dropped on the list are added as sources.
    m_sourceList->viewport()->setAcceptDrops(true);
    m_sourceList->viewport()->installEventFilter(this);

    m_namingMode = new QComboBox(client);
    m_namingMode->setObjectName(QStringLiteral("Combo1"));
    m_namingMode->setEditable(false);
    m_namingMode->setFont(arial(9));
    place(m_namingMode, 1560, 3840, 6975, 345);
    m_namingMode->setAccessibleName(QStringLiteral("Naming mode"));

    m_workbookList = listView(client, "ListView2");
    m_workbookList->setFont(arial(8.4));
    place(m_workbookList, 120, 4200, 3975, 2775);
    m_worksheetList = listView(client, "ListView3");
    m_worksheetList->setFont(arial(8.4));
    place(m_worksheetList, 4200, 4200, 4335, 2775);
    m_workbookList->setAccessibleName(QStringLiteral("Workbooks"));
    m_worksheetList->setAccessibleName(QStringLiteral("Worksheets"));

    m_upButton = pictureButton(client, "Command3", QString(), ":/icons/up.svg", 16);
    place(m_upButton, 8640, 1680, 370, 610);
    m_downButton = pictureButton(client, "Command4", QString(), ":/icons/down.svg", 16);
    place(m_downButton, 8640, 2520, 370, 610);
    for (auto [button, name] : {std::pair{m_upButton, "Move source up"}, {m_downButton, "Move source down"}}) {
        button->setAccessibleName(QString::fromLatin1(name));
        button->setToolTip(QString::fromLatin1(name));
    }

    m_statusLabel = label(client, "Label1", QString());
    place(m_statusLabel, 120, 7080, 6975, 255);
    m_progressBar = new QProgressBar(client);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    m_progressBar->setAccessibleName(QStringLiteral("Conversion progress"));
    place(m_progressBar, 120, 7800, 8895, 255);
    m_statusLabel->setAccessibleName(QStringLiteral("Status"));
    m_namingLabel = label(client, "Label3", QStringLiteral("Convert Option:"));
    place(m_namingLabel, 120, 3840, 1335, 255);

    m_outputDirs = new QComboBox(client);
    m_outputDirs->setObjectName(QStringLiteral("Combo5"));
    m_outputDirs->setEditable(true);
    // Typed text is used as it is and never joins the list by itself.
    m_outputDirs->setInsertPolicy(QComboBox::NoInsert);
    place(m_outputDirs, 2160, 7440, 4815, 330);
    m_outputDirs->setAccessibleName(QStringLiteral("Output directory"));

    m_browseButton = new QPushButton(QStringLiteral("Browse"), client);
    m_browseButton->setObjectName(QStringLiteral("Command10"));
    m_browseButton->setFont(arial(9));
    place(m_browseButton, 7080, 7440, 975, 325);
    m_viewButton = new QPushButton(QStringLiteral("View"), client);
    m_viewButton->setObjectName(QStringLiteral("Command11"));
    m_viewButton->setFont(arial(9));
    place(m_viewButton, 8160, 7440, 855, 325);
    m_outputLabel = label(client, "Label7", QStringLiteral("Select  output directory:"));
    place(m_outputLabel, 120, 7440, 1935, 255);
    m_namingLabel->setBuddy(m_namingMode);
    m_outputLabel->setBuddy(m_outputDirs);

    QWidget* const tabOrder[] = {m_addExcelButton, m_addFolderButton, m_removeFileButton, m_convertButton,
                                 m_helpButton, m_homePageButton, m_exitButton, m_sourceList, m_namingMode,
                                 m_workbookList, m_worksheetList, m_upButton, m_downButton, m_outputDirs,
                                 m_browseButton, m_viewButton};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);

    connectButton(m_addExcelButton, &MainWindow::command1Click);
    connectButton(m_addFolderButton, &MainWindow::command5Click);
    connectButton(m_removeFileButton, &MainWindow::command2Click);
    connectButton(m_convertButton, &MainWindow::command6Click);
    connectButton(m_helpButton, &MainWindow::command8Click);
    connectButton(m_homePageButton, &MainWindow::command7Click);
    connectButton(m_exitButton, &MainWindow::command9Click);
    connectButton(m_upButton, &MainWindow::command3Click);
    connectButton(m_downButton, &MainWindow::command4Click);
    connect(m_browseButton, &QPushButton::clicked, this, [this] { userAction(&MainWindow::command10Click); });
    connect(m_viewButton, &QPushButton::clicked, this, [this] { userAction(&MainWindow::command11Click); });
    connect(m_sourceList, &QTreeWidget::itemClicked, this, [this] { userAction(&MainWindow::listView1ItemClick); });
    connect(m_workbookList, &QTreeWidget::itemClicked, this, [this] { userAction(&MainWindow::listView2ItemClick); });
    // Choosing an entry with the keyboard counts as a click too, so the lists below never
    // show another entry's contents (and Convert never pairs a source with another
    // source's workbooks).
    m_sourceList->installEventFilter(this);
    m_workbookList->installEventFilter(this);
    connect(m_sourceList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current && m_keyNavigation && !m_selectingByProgram)
            userAction(&MainWindow::listView1ItemClick);
    });
    connect(m_workbookList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current && m_keyNavigation && !m_selectingByProgram)
            userAction(&MainWindow::listView2ItemClick);
    });
}

void MainWindow::userAction(void (MainWindow::*handler)())
{
    if (!m_busy)
        m_statusLabel->clear();
    (this->*handler)();
}

void MainWindow::connectButton(QToolButton* button, void (MainWindow::*handler)())
{
    connect(button, &QToolButton::clicked, this, [this, handler] { userAction(handler); });
}

QAction* MainWindow::addMenuAction(QMenu* menu, const char* name, const QString& caption, void (MainWindow::*handler)(),
                                   const QKeySequence& shortcut)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, [this, handler] { userAction(handler); });
    return action;
}

void MainWindow::buildSheetMenu()
{
    // Right-click on the worksheet list, and Ctrl+A there, tick or untick every worksheet.
    m_sheetMenu = new QMenu(this);
    m_sheetMenu->setObjectName(QStringLiteral("SheetMenu"));
    QAction* tick = m_sheetMenu->addAction(QStringLiteral("Tick All Worksheets"));
    tick->setObjectName(QStringLiteral("TickAllSheets"));
    connect(tick, &QAction::triggered, this, [this] { tickAllSheets(true); });
    QAction* untick = m_sheetMenu->addAction(QStringLiteral("Untick All Worksheets"));
    untick->setObjectName(QStringLiteral("UntickAllSheets"));
    connect(untick, &QAction::triggered, this, [this] { tickAllSheets(false); });
    m_worksheetList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_worksheetList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_sheetMenu->popup(m_worksheetList->viewport()->mapToGlobal(at)); });

    auto* toggle = new QAction(QStringLiteral("Tick or Untick All Worksheets"), m_worksheetList);
    toggle->setObjectName(QStringLiteral("ToggleAllSheets"));
    toggle->setShortcut(QKeySequence::SelectAll);
    toggle->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_worksheetList->addAction(toggle);
    connect(toggle, &QAction::triggered, this, &MainWindow::toggleAllSheets);
}

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));

    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("EE"));
    addMenuAction(file, "AddExcel", QStringLiteral("Add Excel"), &MainWindow::command1Click, QKeySequence::Open);
    addMenuAction(file, "AddFolder", QStringLiteral("Add Folder"), &MainWindow::command5Click,
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));

    QMenu* edit = bar->addMenu(QStringLiteral("Edit"));
    edit->setObjectName(QStringLiteral("FF"));
    QAction* removeItem = addMenuAction(edit, "RemoveItem", QStringLiteral("Remove Item"), &MainWindow::command2Click,
                                        QKeySequence::Delete);
    // Delete belongs to the source list: the output directory's edit field keeps its own.
    removeItem->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_sourceList->addAction(removeItem);
    addMenuAction(edit, "RemoveAll", QStringLiteral("Remove All Items"), &MainWindow::removeAllClick);
    addMenuAction(edit, "Removeoutput", QStringLiteral("Remove Current Output Directory"),
                  &MainWindow::removeOutputClick);
    addMenuAction(edit, "RemoveAllOutput", QStringLiteral("Remove All Output Directory"),
                  &MainWindow::removeAllOutputClick);

    QMenu* actions = bar->addMenu(QStringLiteral("Actions"));
    actions->setObjectName(QStringLiteral("Actions"));
    addMenuAction(actions, "Separate", QStringLiteral("Convert"), &MainWindow::command6Click,
                  QKeySequence(Qt::CTRL | Qt::Key_R));

    // A command on the bar itself, with no drop-down.
    QAction* settings = bar->addAction(QStringLiteral("Settings"));
    settings->setObjectName(QStringLiteral("Settings"));
    connect(settings, &QAction::triggered, this, [this] { userAction(&MainWindow::settingsClick); });

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help"));
    addMenuAction(help, "Help1", QStringLiteral("Help"), &MainWindow::command8Click, QKeySequence(Qt::Key_F1));
    addMenuAction(help, "HomePage", QStringLiteral("HomePage"), &MainWindow::command7Click);
    addMenuAction(help, "About", QStringLiteral("About"), &MainWindow::aboutClick);
}

void MainWindow::load()
{
    addColumn(m_sourceList, QStringLiteral("Please Select the Excel File or Folder to Convert"), 8000);
    addColumn(m_workbookList, QStringLiteral("WorkBooks"), 3550);
    addColumn(m_worksheetList, QStringLiteral("WorkSheets"), 3900);

    for (const QString& line : m_state.sources()) {
        int icon = kIconMissing;
        switch (core::pathKind(toPath(line))) {
        case core::PathKind::File:
            icon = kIconWorkbook;
            break;
        case core::PathKind::Folder:
            icon = kIconFolder;
            break;
        case core::PathKind::Missing:
            break;
        }
        appendSource(line, icon);
    }

    // Saved relative paths are shown, used and saved again as the absolute ones they stand for.
    for (const QString& line : m_state.outputDirectories())
        m_outputDirs->addItem(absoluteFromHome(line));
    m_outputDirs->setCurrentIndex(m_outputDirs->count() > 0 ? 0 : -1);

    for (const char* mode : kNamingModes)
        m_namingMode->addItem(QString::fromLatin1(mode));
    m_namingMode->setCurrentIndex(0);
    m_useSheetCache = true;
}

void MainWindow::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    const SaveSwitches switches = m_state.switches();
    if (switches.sourceList) {
        QStringList entries;
        for (int i = 0; i < m_sourceList->topLevelItemCount(); ++i)
            entries << m_sourceList->topLevelItem(i)->text(0);
        m_state.saveSources(entries);
    }
    if (switches.outputDirectories) {
        QStringList entries;
        for (int i = 0; i < m_outputDirs->count() && i < StateFiles::kMaxOutputDirectories; ++i)
            entries << m_outputDirs->itemText(i);
        m_state.saveOutputDirectories(entries);
    }
    m_places.setWindowGeometry(saveGeometry());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_busy) {  // the batch ends first; the window closes once it stopped
        event->ignore();
        askToStop(true);
        return;
    }
    unload();
    event->accept();
}

QTreeWidgetItem* MainWindow::appendSource(const QString& path, int icon)
{
    auto* item = new QTreeWidgetItem(m_sourceList, {path});
    item->setIcon(0, sourceIcon(icon));
    item->setData(0, Qt::UserRole, icon);
    return item;
}

// The window's side of the Convert command.
class WindowListener : public core::ConvertListener {
public:
    explicit WindowListener(MainWindow& window) : m_window(window) {}

    void setProgressMaximum(int maximum) override
    {
        m_window.m_progressBar->setMaximum(std::max(maximum, 1));
        keepPainting();
    }
    void setProgress(int value) override
    {
        m_window.m_progressBar->setValue(std::min(value, m_window.m_progressBar->maximum()));
        keepPainting();
    }
    void showError(const std::string& description) override
    {
        dialogs::showMessage(&m_window, fromUtf8(description), dialogs::MessageIcon::None);
    }
    void showMessage(const std::string& text, core::MessageIcon icon) override
    {
        dialogs::showMessage(&m_window, fromUtf8(text), static_cast<dialogs::MessageIcon>(icon));
    }
    void setStatus(const std::string& text) override
    {
        m_window.m_statusLabel->setText(text.empty() ? QString() : fromUtf8(text) + m_window.m_batchPosition);
        keepPainting();
    }
    void setBusy(bool busy) override { m_window.setBusy(busy); }
    void openFolder(const std::string& folder) override
    {
        if (!m_window.m_closeWhenIdle)  // nobody is left to look at it
            dialogs::shellOpen(&m_window, fromUtf8(folder), dialogs::kShow);
    }
    bool stopRequested() override { return m_window.m_stopRequested; }
    void workbookStarted(int index, int count) override
    {
        m_window.m_batchPosition = QStringLiteral(" (workbook %1 of %2)").arg(index).arg(count);
    }
    void batchFinished(const core::BatchSummary& summary) override
    {
        m_window.m_batchPosition.clear();
        m_window.m_statusLabel->setText(fromUtf8(core::summaryText(summary)));
    }
    // Lets the window repaint and hear Escape while one large worksheet is being written.
    void rowsWritten(uint64_t) override
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread() || m_sinceEvents.elapsed() < 100)
            return;
        QCoreApplication::processEvents();
        m_sinceEvents.restart();
    }

private:
    // The status line and progress bar visibly move while the batch runs; user input is
    // dropped by the window's event filter until it ends.
    void keepPainting()
    {
        if (m_window.m_busy)
            QCoreApplication::processEvents();
    }

    MainWindow& m_window;
    QElapsedTimer m_sinceEvents = startedTimer();

    static QElapsedTimer startedTimer()
    {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }
};

namespace {

// The hourglass pointer for as long as a listing runs, restored on every path.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QTreeWidgetItem* tickedItem(QTreeWidget* list, const QString& text, bool ticked)
{
    auto* item = new QTreeWidgetItem(list, {text});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    return item;
}

}  // namespace

void MainWindow::selectSource(QTreeWidgetItem* item)
{
    m_selectingByProgram = true;
    m_sourceList->setCurrentItem(item);
    m_selectingByProgram = false;
    m_sourceList->scrollToItem(item);
}

QString MainWindow::selectedSourceText() const
{
    const QTreeWidgetItem* item = m_sourceList->currentItem();
    return item ? item->text(0) : QString();
}

std::vector<core::SheetEntry> MainWindow::entries(QTreeWidget* list) const
{
    std::vector<core::SheetEntry> result;
    result.reserve(size_t(list->topLevelItemCount()));
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        result.push_back({item->text(0).toStdString(), item->checkState(0) == Qt::Checked});
    }
    return result;
}

void MainWindow::command1Click()
{
    try {
        dialogs::CommonDialogs dialog;
        dialog.init(this);
        dialog.setTitle(QStringLiteral("Select Excel File"));
        dialog.setFilter(QStringLiteral("Excel File(*.xls;*.xlsx)") + QChar(0) + QStringLiteral("*.xls;*.xlsx") + QChar(0));
        dialog.setPath(m_places.lastFolder(Places::AddExcel));
        if (!dialog.showOpen())
            return;
        m_places.setLastFolder(Places::AddExcel, dialog.path());
        const QString path = dialog.fileName();
        selectSource(appendSource(path, kIconWorkbook));
        listWorkbooks(path);
        m_cache.clear();
        WaitCursor wait;
        listWorksheets();
    } catch (const std::exception&) {
        // Nothing is shown; what was done stays.
    }
}

void MainWindow::command5Click()
{
    try {
        dialogs::CommonDialogs dialog;
        dialog.init(this);
        dialog.setTitle(QStringLiteral("Add all excel files in folder"));
        dialog.setPath(m_places.lastFolder(Places::AddFolder));
        if (!dialog.showFolder() || dialog.path().isEmpty())
            return;
        m_places.setLastFolder(Places::AddFolder, dialog.path());
        const QString path = dialog.path();
        selectSource(appendSource(path, kIconFolder));
        listWorkbooks(path);
        WaitCursor wait;
        m_cache.clear();
        listWorksheets();
    } catch (const std::exception&) {
    }
}

QStringList MainWindow::addSources(const QStringList& paths)
{
    QStringList rejected;
    QTreeWidgetItem* last = nullptr;
    try {
        for (const QString& path : paths) {
            const QString absolute = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
            if (path.isEmpty() || !isSource(absolute)) {
                rejected << path;
                continue;
            }
            const bool folder = core::pathKind(toPath(absolute)) == core::PathKind::Folder;
            last = appendSource(absolute, folder ? kIconFolder : kIconWorkbook);
        }
        if (!last)
            return rejected;
        // The end is what adding them one by one leaves: the last one shown.
        selectSource(last);
        listWorkbooks(last->text(0));
        m_cache.clear();
        WaitCursor wait;
        listWorksheets();
    } catch (const std::exception&) {
        // As Add Excel and Add Folder: nothing is shown; what was done stays.
    }
    return rejected;
}

void MainWindow::tickAllSheets(bool ticked)
{
    for (int i = 0; i < m_worksheetList->topLevelItemCount(); ++i)
        m_worksheetList->topLevelItem(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

void MainWindow::toggleAllSheets()
{
    bool allTicked = true;
    for (int i = 0; i < m_worksheetList->topLevelItemCount(); ++i)
        allTicked = allTicked && m_worksheetList->topLevelItem(i)->checkState(0) == Qt::Checked;
    tickAllSheets(!allTicked);
}

void MainWindow::command2Click()
{
    try {
        QTreeWidgetItem* selected = m_sourceList->currentItem();
        if (m_sourceList->topLevelItemCount() == 0 || !selected)
            return;
        const int removed = m_sourceList->indexOfTopLevelItem(selected);
        m_selectingByProgram = true;
        delete selected;
        m_selectingByProgram = false;
        if (m_sourceList->topLevelItemCount() == 0) {
            m_cache.clear();
            m_workbookList->clear();
            m_worksheetList->clear();
            return;
        }
        QTreeWidgetItem* next = m_sourceList->topLevelItem(std::max(removed - 1, 0));
        selectSource(next);
        listWorkbooks(next->text(0));
        WaitCursor wait;
        listWorksheets();
    } catch (const std::exception&) {
    }
}

void MainWindow::moveSource(int offset)
{
    QTreeWidgetItem* selected = m_sourceList->currentItem();
    if (m_sourceList->topLevelItemCount() == 0 || !selected)
        return;
    const int from = m_sourceList->indexOfTopLevelItem(selected);
    const int to = from + offset;
    if (to < 0 || to >= m_sourceList->topLevelItemCount())
        return;
    // The item itself moves, so its text and icon (also the missing-path icon) go along.
    m_selectingByProgram = true;
    m_sourceList->takeTopLevelItem(from);
    m_sourceList->insertTopLevelItem(to, selected);
    m_selectingByProgram = false;
    selectSource(selected);
}

void MainWindow::command3Click()
{
    moveSource(-1);
}

void MainWindow::command4Click()
{
    moveSource(+1);
}

void MainWindow::removeAllClick()
{
    m_cache.clear();
    m_selectingByProgram = true;
    m_sourceList->clear();
    m_workbookList->clear();
    m_worksheetList->clear();
    m_selectingByProgram = false;
}

void MainWindow::listWorkbooks(const QString& source)
{
    m_cache.clear();
    m_selectingByProgram = true;
    m_workbookList->clear();
    QStringList names;
    const std::filesystem::path path = toPath(source);
    if (core::pathKind(path) == core::PathKind::File) {
        names << fromPath(path.filename());
    } else if (core::pathKind(path) == core::PathKind::Folder) {
        std::error_code error;  // a folder that cannot be listed shows what was found
        for (const std::string& name : core::workbookNamesIn(path, error))
            names << fromPath(name);
    }
    for (const QString& name : names.mid(0, core::SheetSelection::kMaxWorkbooks))
        tickedItem(m_workbookList, name, true);
    if (m_workbookList->topLevelItemCount() > 0)
        m_workbookList->setCurrentItem(m_workbookList->topLevelItem(0));
    m_selectingByProgram = false;
    m_workbookList->repaint();
}

QString MainWindow::selectedWorkbookPath() const
{
    const QTreeWidgetItem* workbook = m_workbookList->currentItem();
    return fromPath(core::workbookPath(toPath(selectedSourceText()).string(),
                                       workbook ? toPath(workbook->text(0)).string() : std::string()));
}

void MainWindow::saveSheetTicks()
{
    m_cache.saveSheetTicks(entries(m_worksheetList));
}

void MainWindow::listWorksheets()
{
    const QString path = selectedWorkbookPath();
    if (path.isEmpty())
        return;
    const int position = m_workbookList->indexOfTopLevelItem(m_workbookList->currentItem()) + 1;
    std::string marker;
    if (!m_useSheetCache) {
        marker = m_cache.name(position, 1);
        saveSheetTicks();
    }
    m_cache.shownWorkbookIndex = position;
    m_worksheetList->clear();

    if (!marker.empty()) {
        for (int sheet = 1; sheet <= core::SheetSelection::kMaxSheets; ++sheet) {
            const std::string& name = m_cache.name(position, sheet);
            if (name.empty())
                break;
            tickedItem(m_worksheetList, fromUtf8(name), m_cache.ticked(position, sheet));
        }
    } else {
        std::unique_ptr<core::Spreadsheet> application;
        try {
            application = core::Spreadsheet::create();
            application->open(toPath(path));
            application->setDisplayAlerts(false);
            const int count = application->worksheetCount();
            for (int i = 1; i <= count; ++i) {
                const std::string name = application->worksheetName(i);
                tickedItem(m_worksheetList, fromUtf8(name), true);
                m_cache.set(position, i, name, true);
            }
            application->close();
            application->quit();
        } catch (const std::exception& error) {
            if (application) {
                application->close();
                application->quit();
            }
            dialogs::showMessage(this, fromUtf8(error.what()), dialogs::MessageIcon::Critical);
            dialogs::showMessage(this, QStringLiteral("Excel file open failed!"), dialogs::MessageIcon::Critical);
        }
    }
    m_worksheetList->repaint();
}

void MainWindow::listView1ItemClick()
{
    if (m_sourceList->topLevelItemCount() == 0)
        return;
    const QString source = selectedSourceText();
    m_selectingByProgram = true;
    m_workbookList->clear();
    m_worksheetList->clear();
    m_selectingByProgram = false;
    m_cache.clear();
    {
        WaitCursor wait;
        listWorkbooks(source);
        listWorksheets();
    }
    // The worksheets just listed reach the cache only through saveSheetTicks.
    m_cache.clear();
}

void MainWindow::listView2ItemClick()
{
    WaitCursor wait;
    m_useSheetCache = false;
    listWorksheets();
    m_useSheetCache = true;
}

int MainWindow::selectedOutputIndex() const
{
    // Typing leaves Qt's current index where it was; the typed text is no entry.
    const int current = m_outputDirs->currentIndex();
    if (current < 0 || m_outputDirs->currentText() != m_outputDirs->itemText(current))
        return -1;
    return current;
}

void MainWindow::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        qApp->installEventFilter(this);
    } else {
        qApp->removeEventFilter(this);
        QGuiApplication::restoreOverrideCursor();
    }
}

void MainWindow::askToStop(bool closing)
{
    if (m_asking)
        return;
    if (m_stopRequested) {
        m_closeWhenIdle = m_closeWhenIdle || closing;
        return;
    }
    m_asking = true;
    const bool stop = dialogs::askQuestion(this, QStringLiteral("Stop the conversion after the current worksheet?"));
    m_asking = false;
    if (!stop || !m_busy)
        return;
    m_stopRequested = true;
    m_closeWhenIdle = closing;
    m_statusLabel->setText(QStringLiteral("Stopping after the current worksheet..."));
}

bool MainWindow::takeDrop(QEvent* event)
{
    auto* drop = static_cast<QDropEvent*>(event);  // also the base of the drag events
    const QStringList paths = localPaths(drop->mimeData());
    const bool takes = !m_busy && std::any_of(paths.begin(), paths.end(), isSource);
    // Copy, never Move: a file manager deletes what it moved.
    const Qt::DropAction action = drop->possibleActions() & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction;
    if (!takes || !(drop->possibleActions() & action)) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(action);
    drop->accept();
    if (event->type() == QEvent::Drop) {
        if (!m_busy)
            m_statusLabel->clear();
        addSources(paths);
    }
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_sourceList->viewport()
        && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop))
        return takeDrop(event);
    if (watched == m_sourceList || watched == m_workbookList) {
        if (event->type() == QEvent::KeyPress)
            m_keyNavigation = true;
        else if (event->type() == QEvent::KeyRelease || event->type() == QEvent::FocusOut)
            m_keyNavigation = false;
    }
    // Only this window refuses input: message boxes shown during the batch must still work.
    bool ours = false;
    if (auto* widget = qobject_cast<QWidget*>(watched))
        ours = widget->window() == this;
    else if (auto* window = qobject_cast<QWindow*>(watched))
        ours = window == windowHandle();
    if (m_busy && ours) {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            askToStop(false);
            return true;
        }
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
            return true;  // no input while a batch runs
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QString MainWindow::outputDirectoryText()
{
    // The box shows the absolute folder a relative or "~" path stands for, before it is used.
    const int index = selectedOutputIndex();
    const QString text = m_outputDirs->currentText();
    const QString absolute = absoluteFromHome(text);
    if (absolute != text) {
        if (index >= 0)
            m_outputDirs->setItemText(index, absolute);
        else
            m_outputDirs->setEditText(absolute);
    }
    return absolute;
}

void MainWindow::command6Click()
{
    core::ConvertRequest request;
    request.outputIndex = selectedOutputIndex();
    request.outputText = toPath(outputDirectoryText()).string();
    request.source = toPath(selectedSourceText()).string();
    request.workbooks = entries(m_workbookList);
    request.shownSheets = entries(m_worksheetList);
    request.namingMode = m_namingMode->currentIndex();
    m_stopRequested = false;
    m_closeWhenIdle = false;
    WindowListener listener(*this);
    try {
        core::convertCommand(request, m_cache, m_sheetCounter, listener);
    } catch (const std::exception& error) {
        listener.showError(error.what());
    }
    m_batchPosition.clear();
    m_stopRequested = false;
    if (m_closeWhenIdle) {  // closed during the batch, and asked to stop
        m_closeWhenIdle = false;
        close();
    }
}

QString MainWindow::helpFile()
{
    return findHelpFile(programFolder(), builtInLayout());
}

void MainWindow::command8Click()
{
    // Found anew on every use, so the help file is found wherever the program was installed.
    dialogs::shellOpen(this, helpFile(), dialogs::kShow);
}

void MainWindow::command7Click()
{
    // Until the project publishes a home page, the help page stands in for it.
    dialogs::shellOpen(this, m_links.homePage.isEmpty() ? helpFile() : m_links.homePage, dialogs::kShow);
}

void MainWindow::command9Click()
{
    close();
}

void MainWindow::command10Click()
{
    dialogs::CommonDialogs dialog;
    dialog.init(this);
    dialog.setTitle(QStringLiteral("Output Folder"));
    dialog.setPath(m_places.lastFolder(Places::OutputFolder));
    if (!dialog.showFolder() || dialog.path().isEmpty())
        return;
    m_places.setLastFolder(Places::OutputFolder, dialog.path());
    m_outputDirs->insertItem(0, dialog.path());
    m_outputDirs->setCurrentIndex(0);
}

void MainWindow::command11Click()
{
    const QString folder = outputDirectoryText() + QDir::separator();
    if (core::pathKind(toPath(folder)) == core::PathKind::Folder)
        dialogs::shellOpen(this, folder, dialogs::kShow);
}

void MainWindow::removeOutputClick()
{
    const int count = m_outputDirs->count();
    const int current = selectedOutputIndex();
    if (count == 0 || current < 0)
        return;
    m_outputDirs->removeItem(current);
    if (current == count - 1)
        m_outputDirs->setCurrentIndex(current - 1);
    else
        m_outputDirs->setCurrentIndex(current);
}

void MainWindow::removeAllOutputClick()
{
    const int count = m_outputDirs->count();
    for (int i = 0; i < count; ++i)
        m_outputDirs->removeItem(0);
}

void MainWindow::settingsClick()
{
    // Owned by the main window only so that it stays out of the task bar.
    SettingsDialog dialog(m_state, this);
    dialog.exec();
}

void MainWindow::aboutClick()
{
    // A fresh window on every use.
    AboutDialog dialog(m_links, helpFile(), this);
    dialog.exec();
}

}  // namespace tabulon::gui
