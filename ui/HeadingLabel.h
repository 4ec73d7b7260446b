#pragma once

#include <QLabel>

// A label that assistive technology reads as a heading (a section's title).
class HeadingLabel : public QLabel
{
    Q_OBJECT

public:
    explicit HeadingLabel(const QString& text, QWidget* parent = nullptr);
};
