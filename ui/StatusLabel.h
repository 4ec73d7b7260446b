#pragma once

#include <QLabel>

// A label that reports outcomes (devices found, an error): assistive technology reads it as a notification, and
// Accessibility::announce() has it spoken when its text is news.
class StatusLabel : public QLabel
{
    Q_OBJECT

public:
    explicit StatusLabel(const QString& text = QString(), QWidget* parent = nullptr);
};
