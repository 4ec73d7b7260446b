#include "panel/ClimateControls.h"

#include "model/ExtrasText.h"
#include "panel/ClimateRows.h"
#include "panel/DisplayNames.h"
#include "service/SensiboService.h"
#include "ui/Accessibility.h"
#include "ui/OptionMenuButton.h"
#include "ui/PanelStyle.h"
#include "ui/SymbolIcons.h"
#include "ui/TemperatureStepper.h"
#include "ui/ToggleSwitch.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include <limits>
#include <algorithm>

namespace {
constexpr int iconBoxWidth = 20;
constexpr int iconSize = 18;
} // namespace

ClimateControls::ClimateControls(SensiboService& service, qreal controlWidth, QWidget* parent)
    : QWidget(parent)
    , m_service(service)
    , m_controlWidth(qRound(controlWidth))
    , m_powerSwitch(new ToggleSwitch)
    , m_modeMenu(new OptionMenuButton)
    , m_stepper(new TemperatureStepper)
    , m_fanMenu(new OptionMenuButton)
    , m_swingMenu(new OptionMenuButton)
    , m_horizontalSwingMenu(new OptionMenuButton)
    , m_lightSwitch(new ToggleSwitch)
    , m_timerMenu(new OptionMenuButton)
    , m_climateReactSwitch(new ToggleSwitch)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(12);

    m_powerSwitch->setObjectName(QStringLiteral("powerSwitch"));
    m_modeMenu->setObjectName(QStringLiteral("modeMenu"));
    m_stepper->setObjectName(QStringLiteral("temperatureStepper"));
    m_fanMenu->setObjectName(QStringLiteral("fanMenu"));
    m_swingMenu->setObjectName(QStringLiteral("swingMenu"));
    m_horizontalSwingMenu->setObjectName(QStringLiteral("horizontalSwingMenu"));
    m_lightSwitch->setObjectName(QStringLiteral("lightSwitch"));
    m_timerMenu->setObjectName(QStringLiteral("timerMenu"));
    m_climateReactSwitch->setObjectName(QStringLiteral("climateReactSwitch"));

    // Built top to bottom, so that Tab goes through the controls in the order they stand.
    m_powerRow = addRow(QStringLiteral("powerRow"), climateRowLabel(ACSetting::Power), m_powerSwitch, false);
    m_timerRow = addTimerRow();
    m_climateReactRow =
        addRow(QStringLiteral("climateReactRow"), QStringLiteral("Climate React"), m_climateReactSwitch, false);
    m_modeRow = addRow(QStringLiteral("modeRow"), climateRowLabel(ACSetting::Mode), m_modeMenu, true);
    m_temperatureRow =
        addRow(QStringLiteral("temperatureRow"), climateRowLabel(ACSetting::TargetTemperature), m_stepper, false);
    m_fanRow = addRow(QStringLiteral("fanRow"), climateRowLabel(ACSetting::FanLevel), m_fanMenu, true);
    m_swingRow = addRow(QStringLiteral("swingRow"), climateRowLabel(ACSetting::Swing), m_swingMenu, true);
    m_horizontalSwingRow = addRow(QStringLiteral("horizontalSwingRow"), climateRowLabel(ACSetting::HorizontalSwing),
                                  m_horizontalSwingMenu, true);
    m_lightRow = addRow(QStringLiteral("lightRow"), climateRowLabel(ACSetting::Light), m_lightSwitch, false);

    connect(m_powerSwitch, &ToggleSwitch::switchRequested, this, [this](bool on) { change(ACSetting::Power, on); });
    connect(m_modeMenu, &OptionMenuButton::optionChosen, this,
            [this](const QString& value) { change(ACSetting::Mode, value); });
    connect(m_stepper, &TemperatureStepper::stepRequested, this,
            [this](qint64 value) { change(ACSetting::TargetTemperature, value); });
    connect(m_fanMenu, &OptionMenuButton::optionChosen, this,
            [this](const QString& value) { change(ACSetting::FanLevel, value); });
    connect(m_swingMenu, &OptionMenuButton::optionChosen, this,
            [this](const QString& value) { change(ACSetting::Swing, value); });
    connect(m_horizontalSwingMenu, &OptionMenuButton::optionChosen, this,
            [this](const QString& value) { change(ACSetting::HorizontalSwing, value); });
    connect(m_lightSwitch, &ToggleSwitch::switchRequested, this,
            [this](bool on) { change(ACSetting::Light, on ? QStringLiteral("on") : QStringLiteral("off")); });

    // Started, not awaited: the service shows the change at once and reports any failure itself.
    connect(m_timerMenu, &OptionMenuButton::optionChosen, this, [this](const QString& minutes) {
        const auto device = m_service.selectedDevice();
        if (device && device->acState) {
            m_service.features().setTimer(!device->acState->on, minutes.toLongLong());
        }
    });
    connect(m_cancelTimerButton, &QToolButton::clicked, this, [this] { m_service.features().cancelTimer(); });
    connect(m_climateReactSwitch, &ToggleSwitch::switchRequested, this,
            [this](bool on) { m_service.features().setClimateReact(on); });

    connect(&m_service, &SensiboService::devicesChanged, this, &ClimateControls::sync);
    connect(&m_service, &SensiboService::selectedDeviceIdChanged, this, &ClimateControls::sync);
    connect(&m_service.features(), &DeviceFeatures::extrasChanged, this, &ClimateControls::sync);
    sync();
}

// The timer's row: "Timer" and a menu of lengths, or while a timer is set, when it fires and a button to cancel it.
ClimateControls::Row ClimateControls::addTimerRow()
{
    Row row;
    row.widget = new QWidget(this);
    row.widget->setObjectName(QStringLiteral("timerRow"));
    auto* layout = new QHBoxLayout(row.widget);
    layout->setContentsMargins(0, 0, 0, 0);

    row.icon = new QLabel(row.widget);
    row.icon->setFixedWidth(iconBoxWidth);
    row.icon->setAlignment(Qt::AlignCenter);
    Accessibility::hide(row.icon);
    layout->addWidget(row.icon, 0, Qt::AlignVCenter);

    m_timerText = new QLabel(QStringLiteral("Timer"), row.widget);
    m_timerText->setObjectName(QStringLiteral("timerText"));
    m_timerText->setTextFormat(Qt::PlainText);
    m_timerText->setWordWrap(true);
    m_timerText->setBuddy(m_timerMenu);
    layout->addWidget(m_timerText, 1, Qt::AlignVCenter);

    m_timerBox = new QWidget(row.widget);
    m_timerBox->setFixedWidth(m_controlWidth);
    auto* boxLayout = new QHBoxLayout(m_timerBox);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->addWidget(m_timerMenu, 0, Qt::AlignVCenter);
    m_timerMenu->setAccessibleName(QStringLiteral("Timer"));
    m_timerMenu->setOptions(
        [] {
            QStringList minutes;
            for (const int choice : timerChoices) {
                minutes.append(QString::number(choice));
            }
            return minutes;
        }(),
        timerChoiceText);
    layout->addWidget(m_timerBox, 0, Qt::AlignVCenter);
    row.label = m_timerText;
    row.control = m_timerMenu;
    row.box = m_timerBox;

    m_cancelTimerButton = new QToolButton(row.widget);
    m_cancelTimerButton->setObjectName(QStringLiteral("cancelTimerButton"));
    m_cancelTimerButton->setAutoRaise(true);
    m_cancelTimerButton->setToolTip(QStringLiteral("Cancel timer"));
    m_cancelTimerButton->setAccessibleName(QStringLiteral("Cancel Timer"));
    m_cancelTimerButton->setIconSize(QSize(iconSize, iconSize));
    m_cancelTimerButton->setCursor(Qt::PointingHandCursor);
    layout->addWidget(m_cancelTimerButton, 0, Qt::AlignVCenter);

    this->layout()->addWidget(row.widget);
    return row;
}

ClimateControls::Row ClimateControls::addRow(const QString& name, const QString& label, QWidget* control, bool fillsBox)
{
    Row row;
    row.widget = new QWidget(this);
    row.widget->setObjectName(name);
    auto* layout = new QHBoxLayout(row.widget);
    layout->setContentsMargins(0, 0, 0, 0);

    row.icon = new QLabel(row.widget);
    row.icon->setAlignment(Qt::AlignCenter);
    Accessibility::hide(row.icon);
    layout->addWidget(row.icon, 0, Qt::AlignVCenter);

    auto* text = new QLabel(label, row.widget);
    text->setBuddy(control);
    row.label = text;
    row.control = control;
    layout->addWidget(text, 0, Qt::AlignVCenter);
    layout->addStretch(1);

    auto* box = new QWidget(row.widget);
    row.box = box;
    auto* boxLayout = new QHBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->setSpacing(0);
    if (!fillsBox) {
        boxLayout->addStretch(1);
    }
    boxLayout->addWidget(control, 0, Qt::AlignVCenter);
    layout->addWidget(box, 0, Qt::AlignVCenter);

    control->setAccessibleName(label);
    this->layout()->addWidget(row.widget);
    return row;
}

// The icons' boxes grow with the font. The controls' boxes, one width for all rows, grow with it too, and further
// as far as the longest option of a menu needs, while every row's label keeps its room: a name longer still is cut
// with "…".
void ClimateControls::resizeBoxes()
{
    // The timer's text wraps, so it takes no room from the boxes; its box is as wide as the others.
    const Row* rows[] = {&m_powerRow,           &m_climateReactRow, &m_modeRow, &m_temperatureRow, &m_fanRow,
                         &m_swingRow,           &m_horizontalSwingRow, &m_lightRow};
    const qreal scale = textScale(font());
    int wanted = qRound(m_controlWidth * scale);
    int room = contentsRect().width() > 0 ? contentsRect().width() : std::numeric_limits<int>::max();
    for (const Row* row : rows) {
        row->icon->setFixedWidth(qRound(iconBoxWidth * scale));
        if (row->widget->isHidden()) {
            continue;
        }
        if (auto* menu = qobject_cast<OptionMenuButton*>(row->control)) {
            wanted = std::max(wanted, menu->widthForEveryOption());
        }
        const int spacing = row->widget->layout()->spacing();
        room = std::min(room, contentsRect().width() - layout()->contentsMargins().left() -
                                  layout()->contentsMargins().right() - row->icon->width() -
                                  row->label->sizeHint().width() - 2 * spacing);
    }
    const int width = std::max(qRound(m_controlWidth * scale), std::min(wanted, room));
    for (const Row* row : rows) {
        row->box->setFixedWidth(width);
    }
    m_timerRow.icon->setFixedWidth(qRound(iconBoxWidth * scale));
    m_timerRow.box->setFixedWidth(width);
}

QWidget* ClimateControls::firstControl() const
{
    return m_powerSwitch;
}

void ClimateControls::setRowIcon(const Row& row, const QString& symbol, const QColor& color)
{
    row.icon->setPixmap(symbolPixmap(symbol, color, qRound(iconSize * textScale(font())), devicePixelRatioF()));
}

void ClimateControls::change(ACSetting setting, ACValue value)
{
    // Started, not awaited: the service shows the change at once and reports any failure itself.
    m_service.updateACState(setting, std::move(value));
}

void ClimateControls::sync()
{
    const auto device = m_service.selectedDevice();
    if (!device || !device->acState) {
        for (const Row* row : {&m_powerRow, &m_timerRow, &m_climateReactRow, &m_modeRow, &m_temperatureRow, &m_fanRow,
                               &m_swingRow, &m_horizontalSwingRow, &m_lightRow}) {
            row->widget->setVisible(false);
        }
        return;
    }
    const ACState& state = *device->acState;
    const auto rows = climateRows(m_service, state);
    const auto rowFor = [&rows](ACSetting setting) -> const ClimateRow& { return rows[std::size_t(setting)]; };
    const QPalette& pal = palette();
    const QColor primary = primaryColor(pal);

    m_powerRow.widget->setVisible(true);
    setRowIcon(m_powerRow, state.on ? QStringLiteral("power.circle.fill") : QStringLiteral("power.circle"),
               state.on ? systemGreen(pal) : secondaryColor(pal));
    m_powerSwitch->setChecked(state.on);

    // A menu row's choices and the current one show by their names.
    const auto syncMenu = [&](const Row& row, OptionMenuButton* menu, const ClimateRow& climateRow,
                              const QString& icon) {
        row.widget->setVisible(climateRow.shown);
        setRowIcon(row, icon, primary);
        menu->setOptions(climateRow.options, climateRow.name);
        menu->setCurrent(climateRow.current, climateRow.name(climateRow.current));
    };

    const ClimateRow& mode = rowFor(ACSetting::Mode);
    syncMenu(m_modeRow, m_modeMenu, mode, modeIcon(mode.current));

    const ClimateRow& temperature = rowFor(ACSetting::TargetTemperature);
    m_temperatureRow.widget->setVisible(temperature.shown);
    setRowIcon(m_temperatureRow, QStringLiteral("thermometer.medium"), primary);
    if (temperature.range) {
        const auto [lowest, highest] = *temperature.range;
        m_stepper->setValue(temperature.target, state.temperatureUnit.value_or(QString()), lowest, highest);
    }

    syncMenu(m_fanRow, m_fanMenu, rowFor(ACSetting::FanLevel), QStringLiteral("fan"));
    syncMenu(m_swingRow, m_swingMenu, rowFor(ACSetting::Swing), QStringLiteral("arrow.up.and.down"));
    syncMenu(m_horizontalSwingRow, m_horizontalSwingMenu, rowFor(ACSetting::HorizontalSwing),
             QStringLiteral("arrow.left.and.right"));

    const ClimateRow& light = rowFor(ACSetting::Light);
    m_lightRow.widget->setVisible(light.shown);
    setRowIcon(m_lightRow, QStringLiteral("light.max"), primary);
    m_lightSwitch->setChecked(light.current == u"on");

    syncTimer(state, pal);
    syncClimateReact(state.temperatureUnit.value_or(QStringLiteral("C")), pal);
    resizeBoxes();
}

void ClimateControls::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    resizeBoxes();
}

void ClimateControls::syncTimer(const ACState& state, const QPalette& pal)
{
    const DeviceFeatures& features = m_service.features();
    m_timerRow.widget->setVisible(features.offersTimer());
    const std::optional<ScheduledTimer> timer = features.timer();
    setRowIcon(m_timerRow, QStringLiteral("timer"), timer ? systemBlue(pal) : primaryColor(pal));
    const QString text = timer ? timerText(*timer, features.now()) : QStringLiteral("Timer");
    if (m_timerText->text() != text) {
        m_timerText->setText(text);
    }
    // The keyboard stays in the row when its control changes under it (hiding the one it is on would move it on).
    const bool focusInRow = m_timerMenu->hasFocus() || m_cancelTimerButton->hasFocus();
    m_timerBox->setVisible(!timer);
    m_cancelTimerButton->setVisible(timer.has_value());
    // As tall with either control, so that the rows below stay where they are when a timer is set or ends.
    m_timerRow.widget->setMinimumHeight(
        std::max(m_timerMenu->sizeHint().height(), m_cancelTimerButton->sizeHint().height()));
    m_cancelTimerButton->setIcon(symbolIcon(QStringLiteral("xmark.circle"), secondaryColor(pal), iconSize));
    m_timerMenu->setCurrent(QString(), timerMenuText(state.on));
    if (focusInRow && m_timerRow.widget->isVisible()) {
        (timer ? static_cast<QWidget*>(m_cancelTimerButton) : m_timerMenu)->setFocus(Qt::OtherFocusReason);
    }
}

void ClimateControls::syncClimateReact(const QString& unit, const QPalette& pal)
{
    const std::optional<SmartMode> climateReact = m_service.features().climateReact();
    m_climateReactRow.widget->setVisible(climateReact.has_value());
    if (!climateReact) {
        return;
    }
    setRowIcon(m_climateReactRow, QStringLiteral("thermometer.auto"),
               climateReact->enabled ? systemGreen(pal) : secondaryColor(pal));
    m_climateReactSwitch->setChecked(climateReact->enabled);
    const QString what = climateReactText(*climateReact, unit);
    m_climateReactRow.widget->setToolTip(what);
    Accessibility::setDescription(m_climateReactSwitch, what);
}

void ClimateControls::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        sync(); // the icons are drawn in the palette's colours, at the font's scale
    }
}
