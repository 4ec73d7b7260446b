#pragma once

class QWidget;

// What assistive technology reads beyond what Qt's widgets tell it by themselves.
namespace Accessibility {

// Leaves `widget` (a symbol beside a text, a divider) out of the tree that assistive technology reads.
void hide(QWidget* widget);
// Announces `widget`'s text now, as a live region does: an outcome the user waits for, such as devices found or an
// error.
void announce(QWidget* widget);

} // namespace Accessibility
