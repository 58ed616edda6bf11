#include "gui/PictureButton.h"

#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace tabulon::gui {

PictureButton::PictureButton(QWidget* parent, int pictureSize) : QToolButton(parent), m_pictureSize(pictureSize)
{
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(pictureSize, pictureSize));
}

QRect PictureButton::innerRect() const
{
    QStyleOptionToolButton option;
    initStyleOption(&option);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    return rect().adjusted(frame, frame, -frame, -frame);
}

QRect PictureButton::captionRect() const
{
    if (text().isEmpty())
        return {};
    const QRect inner = innerRect();
    const int height = fontMetrics().height();
    return {inner.left(), inner.bottom() + 1 - height, inner.width(), height};
}

QRect PictureButton::pictureRect() const
{
    QRect room = innerRect();
    const QRect caption = captionRect();
    if (!caption.isNull())
        room.setBottom(caption.top() - 2);  // one pixel apart
    const int size = std::max(0, std::min({m_pictureSize, room.width(), room.height()}));
    QRect picture(0, 0, size, size);
    picture.moveCenter(room.center());
    return picture;
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    // The style draws the frame and its states; picture and caption are placed here.
    option.text.clear();
    option.icon = QIcon();
    painter.drawComplexControl(QStyle::CC_ToolButton, option);

    QIcon::Mode mode = QIcon::Normal;
    if (!isEnabled())
        mode = QIcon::Disabled;
    else if (option.state & QStyle::State_MouseOver)
        mode = QIcon::Active;
    icon().paint(&painter, pictureRect(), Qt::AlignCenter, mode);
    if (!text().isEmpty())
        painter.drawItemText(captionRect(), Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine, palette(),
                             isEnabled(), text(), QPalette::ButtonText);
}

}  // namespace tabulon::gui
