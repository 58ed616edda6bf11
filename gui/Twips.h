#pragma once
#include <QFont>
#include <QRect>
#include <QWidget>

namespace tabulon::gui {

// Window geometry is kept in twips, as laid out; 15 twips make one pixel at 96 dots per inch.
constexpr int px(int twips) { return (twips + 7) / 15; }

inline void place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

inline QFont arial(double points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    return font;
}

}  // namespace tabulon::gui
