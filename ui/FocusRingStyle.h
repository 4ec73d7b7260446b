#pragma once

#include <QProxyStyle>

// The desktop's style, with keyboard focus rings that can be seen: solid, 2 px, in the palette's highlight made to
// stand out at least 3:1 from the window (the styles draw them faint, about 1.1:1 to 2:1).
class FocusRingStyle : public QProxyStyle
{
    Q_OBJECT

public:
    FocusRingStyle() = default;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};
