#pragma once

class QString;
class QWidget;

// What assistive technology reads beyond what Qt's widgets tell it by themselves.
namespace Accessibility {

// Leaves `widget` (a symbol beside a text, a divider) out of the tree that assistive technology reads.
void hide(QWidget* widget);
// Reads the label `widget` as a status that reports outcomes: assistive technology presents it as a notification
// whenever announce() says it has news. Only for labels of a class of Kelvo's own (Qt describes QLabel itself).
void markStatus(QWidget* widget);
// Announces `widget`'s text now, as a live region does: an outcome the user waits for, such as devices found or an
// error.
void announce(QWidget* widget);

// Set the accessible name or description only when it changes: every setting is an event for assistive technology.
void setName(QWidget* widget, const QString& name);
void setDescription(QWidget* widget, const QString& description);

} // namespace Accessibility
