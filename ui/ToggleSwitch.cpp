#include "ui/ToggleSwitch.h"

#include "ui/PanelStyle.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int trackWidth = 32;
constexpr int trackHeight = 18;
constexpr int knobInset = 2;
constexpr int focusMargin = 2; // room for the focus ring around the track
} // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent)
    : QAbstractButton(parent)
{
    setCheckable(true); // so that assistive technology reads the position
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { Q_EMIT switchRequested(!isChecked()); });
}

QSize ToggleSwitch::sizeHint() const
{
    return {trackWidth + 2 * focusMargin, trackHeight + 2 * focusMargin};
}

void ToggleSwitch::nextCheckState()
{
    // The position follows the state, never the click.
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(0.45);
    }
    const QPalette& pal = palette();
    const QRectF track(focusMargin, (height() - trackHeight) / 2.0, trackWidth, trackHeight);
    const qreal radius = trackHeight / 2.0;

    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(focusRingColor(pal), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    }

    QColor trackColor =
        isChecked() ? pal.color(QPalette::Highlight)
                    : blend(pal.color(QPalette::WindowText), pal.color(QPalette::Window), isDark(pal) ? 0.28 : 0.2);
    if (isDown()) {
        trackColor = trackColor.darker(110);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);

    const qreal knob = trackHeight - 2 * knobInset;
    const qreal x = isChecked() ? track.right() - knobInset - knob : track.left() + knobInset;
    const QRectF knobRect(x, track.top() + knobInset, knob, knob);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knobRect.translated(0, 0.5).adjusted(-0.5, -0.5, 0.5, 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knobRect);
}
