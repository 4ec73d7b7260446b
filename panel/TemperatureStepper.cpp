#include "panel/TemperatureStepper.h"

#include "panel/PanelStyle.h"
#include "platform/SymbolIcons.h"
#include "service/DeviceCapabilities.h"

#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace {
constexpr int valueBoxWidth = 44;
constexpr int iconSize = 18;

QToolButton* makeStepButton(const QString& accessibleName, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIconSize(QSize(iconSize, iconSize));
    button->setAccessibleName(accessibleName);
    button->setFocusPolicy(Qt::TabFocus);
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
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_minus, 0, Qt::AlignVCenter);
    layout->addWidget(m_value, 0, Qt::AlignVCenter);
    layout->addWidget(m_plus, 0, Qt::AlignVCenter);

    m_value->setObjectName(QStringLiteral("temperatureValue"));
    m_value->setAlignment(Qt::AlignCenter);
    m_value->setFixedWidth(valueBoxWidth);
    updateValueFont();
    updateIcons();

    connect(m_minus, &QToolButton::clicked, this, [this] { step(-1); });
    connect(m_plus, &QToolButton::clicked, this, [this] { step(+1); });
}

void TemperatureStepper::setValue(qint64 current, const QString& unit, qint64 lowest, qint64 highest)
{
    m_current = current;
    m_lowest = lowest;
    m_highest = highest;
    m_value->setText(QString::number(current) + QStringLiteral("°") + unit);
    m_value->setAccessibleName(m_value->text());
    m_minus->setEnabled(DeviceCapabilities::stepTemperature(current, -1, {lowest, highest}) != current);
    m_plus->setEnabled(DeviceCapabilities::stepTemperature(current, +1, {lowest, highest}) != current);
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
    }
    QWidget::changeEvent(event);
}

void TemperatureStepper::updateIcons()
{
    const QColor color = primaryColor(palette());
    m_minus->setIcon(symbolIcon(QStringLiteral("minus.circle"), color, iconSize));
    m_plus->setIcon(symbolIcon(QStringLiteral("plus.circle"), color, iconSize));
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
}
