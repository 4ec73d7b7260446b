#include "ui/TemperatureStepper.h"

#include "model/DeviceCapabilities.h"
#include "model/ReadingText.h"
#include "ui/Accessibility.h"
#include "ui/PanelStyle.h"
#include "ui/SymbolIcons.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace {
constexpr int valueBoxWidth = 44;
constexpr int iconSize = 18;

constexpr int focusMargin = 2;

// For assistive technology the stepper is one spin button with a value, a range and a step, as a spin box is.
class StepperAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit StepperAccessible(TemperatureStepper* stepper)
        : QAccessibleWidget(stepper, QAccessible::SpinBox)
    {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? stepper()->text() : QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return stepper()->value(); }
    void setCurrentValue(const QVariant& value) override { stepper()->requestValue(value.toLongLong()); }
    QVariant maximumValue() const override { return stepper()->highest(); }
    QVariant minimumValue() const override { return stepper()->lowest(); }
    QVariant minimumStepSize() const override { return 1; }

private:
    TemperatureStepper* stepper() const { return static_cast<TemperatureStepper*>(widget()); }
};

QToolButton* makeStepButton(const QString& accessibleName, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setAccessibleName(accessibleName);
    // The keyboard reaches the stepper once, as a whole; the buttons are for the pointer.
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

bool hasTabularDigits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) != zero) {
            return false;
        }
    }
    return true;
}
} // namespace

TemperatureStepper::TemperatureStepper(QWidget* parent)
    : QWidget(parent)
    , m_minus(makeStepButton(QStringLiteral("Lower temperature"), this))
    , m_value(new QLabel(this))
    , m_plus(makeStepButton(QStringLiteral("Raise temperature"), this))
{
    Accessibility::describeClass<TemperatureStepper, StepperAccessible>();
    setFocusPolicy(Qt::TabFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(focusMargin, focusMargin, focusMargin, focusMargin);
    layout->setSpacing(4);
    layout->addWidget(m_minus, 0, Qt::AlignVCenter);
    layout->addWidget(m_value, 0, Qt::AlignVCenter);
    layout->addWidget(m_plus, 0, Qt::AlignVCenter);

    m_value->setObjectName(QStringLiteral("temperatureValue"));
    m_value->setAlignment(Qt::AlignCenter);
    updateValueFont();
    updateIcons();

    connect(m_minus, &QToolButton::clicked, this, [this] { step(-1); });
    connect(m_plus, &QToolButton::clicked, this, [this] { step(+1); });
}

void TemperatureStepper::requestValue(qint64 value)
{
    step(value - m_current);
}

void TemperatureStepper::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        step(+1);
        return;
    case Qt::Key_Down:
    case Qt::Key_Minus:
        step(-1);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TemperatureStepper::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void TemperatureStepper::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void TemperatureStepper::paintEvent(QPaintEvent*)
{
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        QPainter painter(this);
        drawFocusRing(painter, rect(), 6, palette(), palette().color(QPalette::Window));
    }
}

void TemperatureStepper::setValue(qint64 current, const QString& unit, qint64 lowest, qint64 highest)
{
    const QString text = targetTemperatureText(current, unit);
    const bool changed = text != m_value->text();
    m_current = current;
    m_lowest = lowest;
    m_highest = highest;
    m_value->setText(text);
    Accessibility::setDescription(this, text); // the value with its unit, as it is shown
    m_minus->setEnabled(DeviceCapabilities::stepTemperature(current, -1, {lowest, highest}) != current);
    m_plus->setEnabled(DeviceCapabilities::stepTemperature(current, +1, {lowest, highest}) != current);
    if (changed) {
        QAccessibleValueChangeEvent event(this, current);
        QAccessible::updateAccessibility(&event);
    }
}

void TemperatureStepper::step(qint64 steps)
{
    const qint64 next = DeviceCapabilities::stepTemperature(m_current, steps, {m_lowest, m_highest});
    if (next != m_current) {
        Q_EMIT stepRequested(next);
    }
}

QString TemperatureStepper::text() const
{
    return m_value->text();
}

void TemperatureStepper::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) {
        updateIcons();
    } else if (event->type() == QEvent::FontChange) {
        updateValueFont();
        updateIcons();
    }
    QWidget::changeEvent(event);
}

void TemperatureStepper::updateIcons()
{
    const QColor color = primaryColor(palette());
    const int size = qRound(iconSize * textScale(font()));
    for (QToolButton* button : {m_minus, m_plus}) {
        button->setIconSize(QSize(size, size));
    }
    m_minus->setIcon(symbolIcon(QStringLiteral("minus.circle"), color, size));
    m_plus->setIcon(symbolIcon(QStringLiteral("plus.circle"), color, size));
}

// Digits of one width keep the number still while it steps; most desktop fonts have them, the rest borrow the
// fixed-width font's.
void TemperatureStepper::updateValueFont()
{
    QFont valueFont = font();
    if (!hasTabularDigits(valueFont)) {
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setPointSizeF(valueFont.pointSizeF());
        valueFont = fixed;
    }
    m_value->setFont(valueFont);
    // The box holds two digits and the unit whole, at any font size, so that a step does not move the buttons.
    const int widest = QFontMetrics(valueFont).horizontalAdvance(QStringLiteral("00°F")) + 2 * focusMargin;
    m_value->setFixedWidth(std::max(valueBoxWidth, widest));
}
