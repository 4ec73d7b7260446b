#include "app/LinkButton.h"

#include "panel/PanelStyle.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <cmath>

namespace {
// Room for the focus frame around the title; little at the sides, so that the title lines up with the text beside it.
constexpr int sideMargin = 1;
constexpr int focusMargin = 2;

qreal luminance(const QColor& color)
{
    const auto channel = [](float value) {
        return value <= 0.03928f ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

// The theme's link colour, unless it is hard to read on the background (a dark palette that kept the default
// dark blue, say).
QColor linkColor(const QPalette& palette)
{
    const QColor link = palette.color(QPalette::Link);
    const qreal a = luminance(link);
    const qreal b = luminance(palette.color(QPalette::Window));
    const qreal contrast = (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
    return contrast < 3 ? systemBlue(palette) : link;
}
} // namespace

LinkButton::LinkButton(const QString& text, QWidget* parent)
    : QAbstractButton(parent)
{
    setAttribute(Qt::WA_Hover); // repainted as the pointer comes and goes
    setText(text);
    setAccessibleName(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(text()) + 2 * sideMargin, metrics.height() + 2 * focusMargin};
}

void LinkButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QFont font = this->font();
    font.setUnderline(underMouse() && isEnabled());
    painter.setFont(font);
    QColor color = linkColor(palette());
    if (isDown()) {
        color = color.darker(130);
    }
    if (!isEnabled()) {
        color.setAlphaF(0.45f);
    }
    painter.setPen(color);
    const QRect textRect = rect().adjusted(sideMargin, focusMargin, -sideMargin, -focusMargin);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text());
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}
