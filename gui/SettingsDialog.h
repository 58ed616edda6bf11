#pragma once
#include "gui/StateFiles.h"

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace tabulon::gui {

// "Setting": the two save switches. OK writes set.txt; they count from the next shut-down.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(const StateFiles& state, QWidget* parent = nullptr);

private:
    void okClick();

    const StateFiles& m_state;
    QCheckBox* m_saveSources;
    QCheckBox* m_saveOutputDirectories;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

}  // namespace tabulon::gui
