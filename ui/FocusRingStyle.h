#pragma once

#include <QProxyStyle>

// The desktop's style, with keyboard focus rings that can be seen: solid, 2 px, from the palette's highlight, made
// to stand out at least 3:1 from both the window and the control's own fill (the styles draw them faint, about
// 1.1:1 to 2:1, and Fusion outlines a focused button or combo box in a shade of the highlight that a dark theme
// loses).
class FocusRingStyle : public QProxyStyle
{
    Q_OBJECT

public:
    FocusRingStyle() = default;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};
