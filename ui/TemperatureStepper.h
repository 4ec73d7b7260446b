#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

// Minus, the target temperature, plus. A step never leaves the range: a button at or beyond its limit is disabled.
// The stepper asks for the next value (stepRequested) and shows it only when its owner sets it. The keyboard and
// assistive technology see one spin button: Up/Down and +/- step, and a new value is announced.
class TemperatureStepper : public QWidget
{
    Q_OBJECT

public:
    explicit TemperatureStepper(QWidget* parent = nullptr);

    // `current` may lie outside lowest..highest; it is shown as it is.
    void setValue(qint64 current, const QString& unit, qint64 lowest, qint64 highest);

    QToolButton* minusButton() const { return m_minus; }
    QToolButton* plusButton() const { return m_plus; }
    QString text() const;
    qint64 value() const { return m_current; }
    qint64 lowest() const { return m_lowest; }
    qint64 highest() const { return m_highest; }
    // Asks for `value` (stepRequested) when it lies towards the range from the value shown; ignored otherwise.
    void requestValue(qint64 value);

Q_SIGNALS:
    void stepRequested(qint64 value);

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void step(qint64 steps);
    void updateIcons();
    void updateValueFont();

    QToolButton* m_minus;
    QLabel* m_value;
    QToolButton* m_plus;
    // What is shown, so that a click steps from the value the user sees.
    qint64 m_current = 0;
    qint64 m_lowest = 0;
    qint64 m_highest = 0;
};
