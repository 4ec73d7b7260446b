#include "ui/HeadingLabel.h"

#include "ui/Accessibility.h"

HeadingLabel::HeadingLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    Accessibility::describeClass<HeadingLabel, Accessibility::LabelWithRole<QAccessible::Heading>>();
    setTextFormat(Qt::PlainText);
}
