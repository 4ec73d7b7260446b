#include "ui/Announcer.h"

#include "ui/Accessibility.h"

#include <utility>

Announcer::Announcer(QWidget* parent)
    : QLabel(parent)
{
    Accessibility::describeClass<Announcer, Accessibility::LabelWithRole<QAccessible::Notification>>();
    setObjectName(QStringLiteral("announcer"));
    setTextFormat(Qt::PlainText);
    hide(); // the outcome is on screen already, in the view's own words
}

void Announcer::say(const QString& outcome)
{
    const bool expected = std::exchange(m_answerExpected, false);
    if (outcome.isEmpty() || (outcome == text() && !expected)) {
        return;
    }
    setText(outcome);
    if (parentWidget()->isVisible()) {
        // Screen readers speak a notification as it shows, whether or not it can be seen.
        QAccessibleEvent event(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&event);
        Q_EMIT announced(outcome);
    }
}

void Announcer::expectAnswer()
{
    m_answerExpected = true;
}
