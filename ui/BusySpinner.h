#pragma once

#include <QTimer>
#include <QWidget>

// An indeterminate progress indicator: spokes that turn while the spinner is visible.
class BusySpinner : public QWidget
{
    Q_OBJECT

public:
    explicit BusySpinner(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {32, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    static constexpr int spokes = 12;
    QTimer m_timer;
    int m_step = 0;
};
