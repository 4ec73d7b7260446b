#include "ui/StatusLabel.h"

#include "ui/Accessibility.h"

StatusLabel::StatusLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    Accessibility::markStatus(this);
}
