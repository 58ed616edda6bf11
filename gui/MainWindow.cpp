#include "gui/MainWindow.h"

#include "core/PathHelpers.h"
#include "dialogs/CommonDialogs.h"
#include "dialogs/Seams.h"
#include "gui/AboutDialog.h"
#include "gui/QtPaths.h"
#include "gui/SettingsDialog.h"
#include "gui/Twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

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
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setIcon(QIcon(QString::fromLatin1(icon)));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setToolButtonStyle(caption.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextUnderIcon);
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

}  // namespace

MainWindow::MainWindow(const QString& stateFolder, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_state(stateFolder)
{
    initIconResources();
    setObjectName(QStringLiteral("form1"));
    setWindowTitle(QStringLiteral("Tabulon"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    setFont(arial(8.4));
    buildControls();
    buildMenus();
    setFixedSize(px(kClientWidth), px(kClientHeight) + menuBar()->sizeHint().height());
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

    m_namingMode = new QComboBox(client);
    m_namingMode->setObjectName(QStringLiteral("Combo1"));
    m_namingMode->setEditable(false);
    m_namingMode->setFont(arial(9));
    place(m_namingMode, 1560, 3840, 6975, 345);

    m_workbookList = listView(client, "ListView2");
    m_workbookList->setFont(arial(8.4));
    place(m_workbookList, 120, 4200, 3975, 2775);
    m_worksheetList = listView(client, "ListView3");
    m_worksheetList->setFont(arial(8.4));
    place(m_worksheetList, 4200, 4200, 4335, 2775);

    m_upButton = pictureButton(client, "Command3", QString(), ":/icons/up.svg", 16);
    place(m_upButton, 8640, 1680, 370, 610);
    m_downButton = pictureButton(client, "Command4", QString(), ":/icons/down.svg", 16);
    place(m_downButton, 8640, 2520, 370, 610);

    m_statusLabel = label(client, "Label1", QString());
    place(m_statusLabel, 120, 7080, 6975, 255);
    m_progressBar = new QProgressBar(client);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    place(m_progressBar, 120, 7800, 8895, 255);
    m_namingLabel = label(client, "Label3", QStringLiteral("Convert Option:"));
    place(m_namingLabel, 120, 3840, 1335, 255);

    m_outputDirs = new QComboBox(client);
    m_outputDirs->setObjectName(QStringLiteral("Combo5"));
    m_outputDirs->setEditable(true);
    // Typed text is used as it is and never joins the list by itself.
    m_outputDirs->setInsertPolicy(QComboBox::NoInsert);
    place(m_outputDirs, 2160, 7440, 4815, 330);

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

    QWidget* const tabOrder[] = {m_addExcelButton, m_addFolderButton, m_removeFileButton, m_convertButton,
                                 m_helpButton, m_homePageButton, m_exitButton, m_sourceList, m_namingMode,
                                 m_workbookList, m_worksheetList, m_upButton, m_downButton, m_outputDirs,
                                 m_browseButton, m_viewButton};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);

    connect(m_addExcelButton, &QToolButton::clicked, this, &MainWindow::command1Click);
    connect(m_addFolderButton, &QToolButton::clicked, this, &MainWindow::command5Click);
    connect(m_removeFileButton, &QToolButton::clicked, this, &MainWindow::command2Click);
    connect(m_convertButton, &QToolButton::clicked, this, &MainWindow::command6Click);
    connect(m_helpButton, &QToolButton::clicked, this, &MainWindow::command8Click);
    connect(m_homePageButton, &QToolButton::clicked, this, &MainWindow::command7Click);
    connect(m_exitButton, &QToolButton::clicked, this, &MainWindow::command9Click);
    connect(m_upButton, &QToolButton::clicked, this, &MainWindow::command3Click);
    connect(m_downButton, &QToolButton::clicked, this, &MainWindow::command4Click);
    connect(m_browseButton, &QPushButton::clicked, this, &MainWindow::command10Click);
    connect(m_viewButton, &QPushButton::clicked, this, &MainWindow::command11Click);
}

QAction* MainWindow::addMenuAction(QMenu* menu, const char* name, const QString& caption, void (MainWindow::*handler)())
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
}

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));

    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("EE"));
    addMenuAction(file, "AddExcel", QStringLiteral("Add Excel"), &MainWindow::command1Click);
    addMenuAction(file, "AddFolder", QStringLiteral("Add Folder"), &MainWindow::command5Click);

    QMenu* edit = bar->addMenu(QStringLiteral("Edit"));
    edit->setObjectName(QStringLiteral("FF"));
    addMenuAction(edit, "RemoveItem", QStringLiteral("Remove Item"), &MainWindow::command2Click);
    addMenuAction(edit, "RemoveAll", QStringLiteral("Remove All Items"), &MainWindow::removeAllClick);
    addMenuAction(edit, "Removeoutput", QStringLiteral("Remove Current Output Directory"),
                  &MainWindow::removeOutputClick);
    addMenuAction(edit, "RemoveAllOutput", QStringLiteral("Remove All Output Directory"),
                  &MainWindow::removeAllOutputClick);

    QMenu* actions = bar->addMenu(QStringLiteral("Actions"));
    actions->setObjectName(QStringLiteral("Actions"));
    addMenuAction(actions, "Separate", QStringLiteral("Convert"), &MainWindow::command6Click);

    // A command on the bar itself, with no drop-down.
    QAction* settings = bar->addAction(QStringLiteral("Settings"));
    settings->setObjectName(QStringLiteral("Settings"));
    connect(settings, &QAction::triggered, this, &MainWindow::settingsClick);

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help"));
    addMenuAction(help, "Help1", QStringLiteral("Help"), &MainWindow::command8Click);
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

    m_outputDirs->addItems(m_state.outputDirectories());
    m_outputDirs->setCurrentIndex(m_outputDirs->count() > 0 ? 0 : -1);

    for (const char* mode : kNamingModes)
        m_namingMode->addItem(QString::fromLatin1(mode));
    m_namingMode->setCurrentIndex(0);
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
}

void MainWindow::closeEvent(QCloseEvent* event)
{
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

void MainWindow::command1Click() {}
void MainWindow::command5Click() {}
void MainWindow::command2Click() {}
void MainWindow::command3Click() {}
void MainWindow::command4Click() {}
void MainWindow::command6Click() {}
void MainWindow::removeAllClick()
{
    m_sourceList->clear();
    m_workbookList->clear();
    m_worksheetList->clear();
}

void MainWindow::command8Click()
{
    // Built anew on every use, so the help file is found wherever the program was installed.
    dialogs::shellOpen(this, programFolder() + QDir::separator() + QStringLiteral("help.html"), dialogs::kShow);
}

void MainWindow::command7Click()
{
    dialogs::shellOpen(this, QString::fromLatin1(kHomePage), dialogs::kShow);
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
    if (!dialog.showFolder() || dialog.path().isEmpty())
        return;
    m_outputDirs->insertItem(0, dialog.path());
    m_outputDirs->setCurrentIndex(0);
}

void MainWindow::command11Click()
{
    const QString folder = m_outputDirs->currentText() + QDir::separator();
    if (core::pathKind(toPath(folder)) == core::PathKind::Folder)
        dialogs::shellOpen(this, folder, dialogs::kShow);
}

void MainWindow::removeOutputClick()
{
    const int count = m_outputDirs->count();
    const int current = m_outputDirs->currentIndex();
    // After typing, the text is no entry of the list and nothing is removed.
    if (count == 0 || current < 0 || m_outputDirs->currentText() != m_outputDirs->itemText(current))
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
    SettingsDialog dialog(m_state);
    dialog.exec();
}

void MainWindow::aboutClick()
{
    // A fresh window on every use.
    AboutDialog dialog(this);
    dialog.exec();
}

}  // namespace tabulon::gui
