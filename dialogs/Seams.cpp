#include "dialogs/Seams.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QUrl>

namespace tabulon::dialogs {
namespace {

std::optional<QString> runFileDialog(const FileRequest& request, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(request.owner, request.caption, request.directory);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    // Show a filter's description as given, not its pattern list a second time.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    if (!request.filters.isEmpty()) {
        dialog.setNameFilters(request.filters);
        dialog.selectNameFilter(request.filters.value(request.selectedFilter, request.filters.first()));
    }
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.proposedName.isEmpty())
        dialog.selectFile(request.proposedName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen.first());
}

class QtDialogBackend : public DialogBackend {
public:
    std::optional<QString> openFile(const FileRequest& request) override
    {
        return runFileDialog(request, QFileDialog::AcceptOpen);
    }
    std::optional<QString> saveFile(const FileRequest& request) override
    {
        return runFileDialog(request, QFileDialog::AcceptSave);
    }
    std::optional<QString> folder(QWidget* owner, const QString& caption, const QString& directory) override
    {
        const QString chosen = QFileDialog::getExistingDirectory(owner, caption, directory, QFileDialog::ShowDirsOnly);
        if (chosen.isEmpty())
            return std::nullopt;
        return QDir::toNativeSeparators(chosen);
    }
    std::optional<QColor> color(const ColorRequest& request) override
    {
        // Custom colours start black on every call and are not kept.
        for (int i = 0; i < QColorDialog::customCount(); ++i)
            QColorDialog::setCustomColor(i, Qt::black);
        const QColor chosen = QColorDialog::getColor(request.initial, request.owner);
        if (!chosen.isValid())
            return std::nullopt;
        return chosen;
    }
    std::optional<QFont> font(const FontRequest& request) override
    {
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, request.initial, request.owner);
        if (!ok)
            return std::nullopt;
        return chosen;
    }
    bool printer(QWidget* owner) override
    {
        QPrinter printer;
        QPrintDialog dialog(&printer, owner);
        dialog.setOptions(QAbstractPrintDialog::PrintShowPageSize | QAbstractPrintDialog::PrintCollateCopies);
        return dialog.exec() == QDialog::Accepted;
    }
    bool printerProperties(QWidget* owner) override
    {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull())
            return false;
        QPrinter printer(info);
        QPageSetupDialog dialog(&printer, owner);
        return dialog.exec() == QDialog::Accepted;
    }
};

class QtMessageBoxes : public MessageBoxes {
public:
    void show(QWidget* owner, const QString& text, MessageIcon icon) override
    {
        QMessageBox::Icon shown = QMessageBox::NoIcon;
        if (icon == MessageIcon::Critical)
            shown = QMessageBox::Critical;
        else if (icon == MessageIcon::Information)
            shown = QMessageBox::Information;
        QMessageBox box(shown, QStringLiteral("Tabulon"), text, QMessageBox::Ok, owner);
        box.exec();
    }
    bool ask(QWidget* owner, const QString& question) override
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Tabulon"), question, QMessageBox::Yes | QMessageBox::No,
                        owner);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
};

class DesktopShell : public Shell {
public:
    void open(QWidget*, const QString& target, int) override { QDesktopServices::openUrl(shellUrl(target)); }
};

QtDialogBackend g_qtDialogs;
QtMessageBoxes g_qtMessages;
DesktopShell g_desktopShell;
DialogBackend* g_dialogs = &g_qtDialogs;
MessageBoxes* g_messages = &g_qtMessages;
Shell* g_shell = &g_desktopShell;

}  // namespace

QUrl shellUrl(const QString& target)
{
    // A one-letter scheme is a Windows drive ("C:"), not an address. A file manager resolves
    // no relative "file:" URL, so paths always go out absolute.
    const QUrl url(target);
    if (url.scheme().size() > 1 && url.isValid())
        return url;
    QString absolute = QFileInfo(target).absoluteFilePath();
    const bool folder = target.endsWith(QLatin1Char('/')) || target.endsWith(QDir::separator());
    if (folder && !absolute.endsWith(QLatin1Char('/')))
        absolute += QLatin1Char('/');  // a folder keeps the separator it was given with
    return QUrl::fromLocalFile(absolute);
}

DialogBackend& dialogBackend() { return *g_dialogs; }
void setDialogBackend(DialogBackend* backend) { g_dialogs = backend ? backend : &g_qtDialogs; }
MessageBoxes& messageBoxes() { return *g_messages; }
void setMessageBoxes(MessageBoxes* boxes) { g_messages = boxes ? boxes : &g_qtMessages; }
Shell& shell() { return *g_shell; }
void setShell(Shell* shell) { g_shell = shell ? shell : &g_desktopShell; }

void showMessage(QWidget* owner, const QString& text, MessageIcon icon) { messageBoxes().show(owner, text, icon); }
bool askQuestion(QWidget* owner, const QString& question) { return messageBoxes().ask(owner, question); }
void shellOpen(QWidget* owner, const QString& target, int showCommand) { shell().open(owner, target, showCommand); }

}  // namespace tabulon::dialogs
