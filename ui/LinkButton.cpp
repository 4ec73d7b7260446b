#include "ui/LinkButton.h"

#include "ui/Accessibility.h"
#include "ui/PanelStyle.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>

namespace {
// Room for the focus frame around the title; little at the sides, so that the title lines up with the text beside it.
constexpr int sideMargin = 1;
constexpr int focusMargin = 2;

// The theme's link colour, made readable on the background if needed (a dark palette that kept the default dark
// blue, say).
QColor linkColor(const QPalette& palette)
{
    const QColor link = palette.color(QPalette::Link);
    const QColor window = palette.color(QPalette::Window);
    return readableOn(contrastRatio(link, window) < focusContrast ? systemBlue(palette) : link, window, textContrast);
}

// For assistive technology a link is a link, not a push button.
class LinkAccessible : public QAccessibleWidget
{
public:
    explicit LinkAccessible(LinkButton* link)
        : QAccessibleWidget(link, QAccessible::Link)
    {
        addControllingSignal(QStringLiteral("clicked(bool)"));
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString& actionName) override
    {
        if (actionName == pressAction()) {
            static_cast<LinkButton*>(widget())->click();
        }
    }
};
} // namespace

LinkButton::LinkButton(const QString& text, QWidget* parent)
    : QAbstractButton(parent)
{
    Accessibility::describeClass<LinkButton, LinkAccessible>();
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
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(focusRingColor(palette()), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 3, 3);
    }
}
