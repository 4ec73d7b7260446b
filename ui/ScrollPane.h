#pragma once

#include <QScrollArea>

// A frameless scroll area that asks for its content's whole height and gives way to less by scrolling vertically,
// keeping the control with the keyboard focus in view. It is no stop for the keyboard itself.
class ScrollPane : public QScrollArea
{
    Q_OBJECT

public:
    explicit ScrollPane(QWidget* content, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
