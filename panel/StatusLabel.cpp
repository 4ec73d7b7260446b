#include "panel/StatusLabel.h"

#include "panel/Accessibility.h"

StatusLabel::StatusLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    Accessibility::markStatus(this);
}
