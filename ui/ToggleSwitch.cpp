#include "ui/ToggleSwitch.h"

#include "ui/PanelStyle.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int trackWidth = 32;
constexpr int trackHeight = 18;
constexpr int knobInset = 2;
constexpr int focusMargin = 3; // room for the focus ring around the track, and a line between them
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
    return trackSize() + QSize(2 * focusMargin, 2 * focusMargin);
}

// The track grows with the text beside it.
QSize ToggleSwitch::trackSize() const
{
    const qreal scale = textScale(font());
    return {qRound(trackWidth * scale), qRound(trackHeight * scale)};
}

// Either position stands out from the background (3:1, as a control's parts must), the off one included.
QColor ToggleSwitch::trackColorFor(const QPalette& palette, bool on)
{
    const QColor window = palette.color(QPalette::Window);
    const QColor color = on ? palette.color(QPalette::Highlight)
                            : blend(palette.color(QPalette::WindowText), window, isDark(palette) ? 0.28 : 0.2);
    return readableOn(color, window, focusContrast);
}

void ToggleSwitch::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
    }
    QAbstractButton::changeEvent(event);
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
    const QSize size = trackSize();
    const QRectF track(focusMargin, (height() - size.height()) / 2.0, size.width(), size.height());
    const qreal radius = size.height() / 2.0;

    QColor trackColor = trackColorFor(pal, isChecked());
    if (isDown()) {
        trackColor = trackColor.darker(110);
    }
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        // Around the track, touching it, or a line apart where its colour is too close to the track's.
        const int apart = contrastRatio(focusRingColor(pal, trackColor), trackColor) < focusContrast ? 1 : 0;
        const int out = 2 + apart;
        drawFocusRing(painter, track.adjusted(-out, -out, out, out), radius + out, pal, trackColor);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);

    const qreal knob = size.height() - 2 * knobInset;
    const qreal x = isChecked() ? track.right() - knobInset - knob : track.left() + knobInset;
    const QRectF knobRect(x, track.top() + knobInset, knob, knob);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knobRect.translated(0, 0.5).adjusted(-0.5, -0.5, 0.5, 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knobRect);
}
