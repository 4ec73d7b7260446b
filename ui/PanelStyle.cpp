#include "ui/PanelStyle.h"

#include "ui/Accessibility.h"

#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

QFont withPointSize(const QFont& base, qreal factor, qreal smallest)
{
    QFont font = base;
    if (base.pointSizeF() > 0) {
        font.setPointSizeF(std::max(smallest, base.pointSizeF() * factor));
    } else {
        font.setPixelSize(qRound(std::max(smallest * 4 / 3, base.pixelSize() * factor)));
    }
    return font;
}

} // namespace

QFont headlineFont(const QFont& base)
{
    QFont font = base;
    font.setBold(true);
    return font;
}

// Linux desktops use smaller body text than the design was drawn for (9–11 pt against 13), so the captions shrink
// less and never below what stays legible.
QFont captionFont(const QFont& base)
{
    return withPointSize(base, 0.88, 7.5);
}

QFont caption2Font(const QFont& base)
{
    return withPointSize(base, 0.82, 7.0);
}

int largeTitlePixelSize(const QFont& base)
{
    return std::max(24, 2 * QFontInfo(base).pixelSize());
}

qreal textScale(const QFont& font)
{
    constexpr qreal referencePixels = 13;
    return std::max(1.0, QFontInfo(font).pixelSize() / referencePixels);
}

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor blend(const QColor& color, const QColor& background, qreal opacity)
{
    const QColor a = color.toRgb();
    const QColor b = background.toRgb();
    return QColor::fromRgbF(float(a.redF() * opacity + b.redF() * (1 - opacity)),
                            float(a.greenF() * opacity + b.greenF() * (1 - opacity)),
                            float(a.blueF() * opacity + b.blueF() * (1 - opacity)));
}

QColor primaryColor(const QPalette& palette)
{
    return palette.color(QPalette::WindowText);
}

QColor secondaryColor(const QPalette& palette)
{
    return readableOn(
        blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), isDark(palette) ? 0.6 : 0.55),
        palette.color(QPalette::Window), textContrast);
}

QColor tertiaryColor(const QPalette& palette)
{
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.3);
}

QColor quaternaryFill(const QPalette& palette)
{
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), isDark(palette) ? 0.12 : 0.07);
}

QColor separatorColor(const QPalette& palette)
{
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), isDark(palette) ? 0.2 : 0.14);
}

// The signal colours carry text too: each is darkened (or lightened) as far as text needs on the window.
QColor systemGreen(const QPalette& palette)
{
    return readableOn(isDark(palette) ? QColor(0x30, 0xd1, 0x58) : QColor(0x28, 0xa7, 0x45),
                      palette.color(QPalette::Window), textContrast);
}

QColor systemRed(const QPalette& palette)
{
    return readableOn(isDark(palette) ? QColor(0xff, 0x45, 0x3a) : QColor(0xe0, 0x24, 0x1b),
                      palette.color(QPalette::Window), textContrast);
}

QColor systemBlue(const QPalette& palette)
{
    return readableOn(isDark(palette) ? QColor(0x0a, 0x84, 0xff) : QColor(0x00, 0x7a, 0xff),
                      palette.color(QPalette::Window), textContrast);
}

QColor focusRingColor(const QPalette& palette, const QColor& fill)
{
    const QColor window = palette.color(QPalette::Window);
    const QColor end = isDark(palette) ? QColor(Qt::white) : QColor(Qt::black);
    const QColor highlight = palette.color(QPalette::Highlight).toRgb();
    const auto standsOut = [&](const QColor& color) {
        return contrastRatio(color, window) >= focusContrast && contrastRatio(color, fill) >= focusContrast;
    };
    for (int step = 0; step <= 20; ++step) {
        const QColor shade = blend(end, highlight, step / 20.0);
        if (standsOut(shade)) {
            return shade;
        }
    }
    // A fill far from the window on the side the shades move to (a switch that is on, in a dark theme): no shade
    // stands out from both.
    return readableOn(primaryColor(palette), window, textContrast);
}

QColor focusRingColor(const QPalette& palette)
{
    return focusRingColor(palette, palette.color(QPalette::Window));
}

void drawFocusRing(QPainter& painter, const QRectF& rect, qreal radius, const QPalette& palette, const QColor& fill)
{
    const QColor ring = focusRingColor(palette, fill);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ring, 2));
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), radius, radius);
    if (contrastRatio(ring, fill) < focusContrast) {
        painter.setPen(QPen(palette.color(QPalette::Window), 1));
        painter.drawRoundedRect(rect.adjusted(2.5, 2.5, -2.5, -2.5), std::max(0.0, radius - 1.5),
                                std::max(0.0, radius - 1.5));
    }
    painter.restore();
}

qreal contrastRatio(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& color) {
        const auto channel = [](float value) {
            return value <= 0.04045f ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        const QColor rgb = color.toRgb();
        return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
    };
    const qreal la = luminance(a);
    const qreal lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor& color, const QColor& background, qreal ratio)
{
    // Towards black on a light background, towards white on a dark one, in small steps: the hue stays.
    const QColor end = background.lightnessF() < 0.5 ? QColor(Qt::white) : QColor(Qt::black);
    QColor result = color.toRgb();
    for (int step = 1; step <= 20 && contrastRatio(result, background) < ratio; ++step) {
        result = blend(end, color, step / 20.0);
    }
    return result;
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, color);
        palette.setColor(QPalette::Inactive, role, color);
    }
    widget->setPalette(palette);
}

void setBackgroundColor(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QPixmap dotPixmap(const QColor& color, int diameter, qreal devicePixelRatio)
{
    const int side = qCeil(diameter * devicePixelRatio);
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(0, 0, side, side));
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QWidget* symbolLabel(QWidget* parent, QLabel*& icon, QWidget* text, const QString& objectName)
{
    auto* label = new QWidget(parent);
    label->setObjectName(objectName);
    auto* layout = new QHBoxLayout(label);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    icon = new QLabel(label);
    Accessibility::hide(icon); // the text says it all
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    text->setParent(label);
    layout->addWidget(text, 0, Qt::AlignVCenter);
    return label;
}
