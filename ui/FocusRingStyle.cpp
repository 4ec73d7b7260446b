#include "ui/FocusRingStyle.h"

#include "ui/PanelStyle.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QPainter>
#include <QStyleOption>

namespace {
constexpr qreal ringRadius = 3;

// As the styles do: a ring only once the keyboard moved the focus.
bool showsRing(const QStyleOption* option)
{
    return (option->state & QStyle::State_HasFocus) && (option->state & QStyle::State_KeyboardFocusChange);
}

// What the ring is drawn on: a button's or combo box's own face, or the window.
QColor fillUnder(const QStyleOption* option, const QWidget* widget)
{
    const bool face = qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QComboBox*>(widget);
    return option->palette.color(face ? QPalette::Button : QPalette::Window);
}
} // namespace

void FocusRingStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const
{
    if (element == PE_PanelButtonCommand && (option->state & State_HasFocus)) {
        // The face without the style's own outline of focus: the ring says it.
        if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            QStyleOptionButton plain(*button);
            plain.state &= ~State_HasFocus;
            QProxyStyle::drawPrimitive(element, &plain, painter, widget);
        } else {
            QStyleOption plain(*option);
            plain.state &= ~State_HasFocus;
            QProxyStyle::drawPrimitive(element, &plain, painter, widget);
        }
        return;
    }
    if (element != PE_FrameFocusRect) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    if (option->state & State_KeyboardFocusChange) {
        drawFocusRing(*painter, option->rect, ringRadius, option->palette, fillUnder(option, widget));
    }
}

void FocusRingStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                        const QWidget* widget) const
{
    const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
    if (control != CC_ComboBox || !combo || !(option->state & State_HasFocus)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    QStyleOptionComboBox plain(*combo);
    plain.state &= ~State_HasFocus;
    QProxyStyle::drawComplexControl(control, &plain, painter, widget);
    if (showsRing(option)) {
        drawFocusRing(*painter, option->rect, ringRadius, option->palette, fillUnder(option, widget));
    }
}
