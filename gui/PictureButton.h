#pragma once
#include <QToolButton>

namespace tabulon::gui {

// A picture button: its caption sits along the bottom edge inside the frame, in full, and
// its picture is centred in the room above; the picture is drawn at its own size, or
// smaller when that room is too small (large fonts, or a screen scale that rounds badly).
// Without a caption the picture is centred in the whole button.
class PictureButton : public QToolButton {
    Q_OBJECT
public:
    PictureButton(QWidget* parent, int pictureSize);

    int pictureSize() const { return m_pictureSize; }
    // Where the caption and the picture are drawn, in the button's coordinates.
    QRect captionRect() const;
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect innerRect() const;

    int m_pictureSize;
};

}  // namespace tabulon::gui
