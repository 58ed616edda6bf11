#include "gui/SettingsDialog.h"

#include "gui/Twips.h"

#include <QCheckBox>
#include <QPushButton>

namespace tabulon::gui {

SettingsDialog::SettingsDialog(const StateFiles& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_state(state)
{
    setObjectName(QStringLiteral("Setting"));
    setWindowTitle(QStringLiteral("Setting"));
    setWindowModality(Qt::ApplicationModal);
    setFont(arial(8.4));
    setFixedSize(px(3732), px(1560));

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OKButton"));
    place(m_ok, 360, 1080, 1215, 375);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    place(m_cancel, 2040, 1080, 1215, 375);
    m_saveSources = new QCheckBox(QStringLiteral("Automatically save the current file"), this);
    m_saveSources->setObjectName(QStringLiteral("Check1"));
    place(m_saveSources, 360, 240, 2895, 370);
    m_saveOutputDirectories = new QCheckBox(QStringLiteral("Automatically save the output directory"), this);
    m_saveOutputDirectories->setObjectName(QStringLiteral("Check2"));
    place(m_saveOutputDirectories, 360, 600, 3135, 255);
    setTabOrder(m_ok, m_cancel);
    setTabOrder(m_cancel, m_saveSources);
    setTabOrder(m_saveSources, m_saveOutputDirectories);
    m_ok->setDefault(true);

    const SaveSwitches switches = m_state.switches();
    m_saveSources->setChecked(switches.sourceList);
    m_saveOutputDirectories->setChecked(switches.outputDirectories);

    connect(m_ok, &QPushButton::clicked, this, &SettingsDialog::okClick);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SettingsDialog::okClick()
{
    m_state.saveSwitches({m_saveSources->isChecked(), m_saveOutputDirectories->isChecked()});
    accept();
}

}  // namespace tabulon::gui
