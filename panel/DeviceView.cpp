#include "panel/DeviceView.h"

#include "panel/ClimateControls.h"
#include "panel/DevicePicker.h"
#include "panel/DisplayNames.h"
#include "panel/HistoryChart.h"
#include "service/SensiboService.h"
#include "ui/Accessibility.h"
#include "ui/Announcer.h"
#include "ui/ElidedLabel.h"
#include "ui/PanelStyle.h"
#include "ui/ScrollPane.h"
#include "ui/SymbolIcons.h"
#include "updates/UpdateService.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int sectionMargin = 12;
constexpr int footerIconSize = 16;
constexpr int statusDotSize = 8;

// Icon and text of one reading.
QWidget* reading(const QString& objectName, QLabel*& icon, QLabel*& text, QWidget* parent)
{
    text = new QLabel;
    text->setObjectName(objectName + QStringLiteral("Text"));
    return symbolLabel(parent, icon, text, objectName);
}
} // namespace

DeviceView::DeviceView(SensiboService& service, UpdateService& updater, qreal controlWidth, QWidget* parent)
    : QWidget(parent)
    , m_service(service)
    , m_updater(updater)
{
    setObjectName(QStringLiteral("deviceView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // Built top to bottom, so that Tab goes through the controls in the order they stand.
    layout->addWidget(m_updateLine = buildUpdateLine());
    layout->addWidget(m_updateDivider = divider());
    layout->addWidget(buildHeader());
    layout->addWidget(divider());
    m_controls = new ClimateControls(m_service, controlWidth, this);
    m_controls->setObjectName(QStringLiteral("climateControls"));
    // Where the screen is too low for the whole panel, the controls scroll between the header and the footer, which
    // stay in view.
    m_controlsPane = new ScrollPane(m_controls, this);
    m_controlsPane->setObjectName(QStringLiteral("controlsPane"));
    layout->addWidget(m_controlsPane);
    layout->addWidget(divider());
    layout->addWidget(buildFooter());
    restyle();

    connect(&m_service, &SensiboService::devicesChanged, this, &DeviceView::sync);
    connect(&m_service, &SensiboService::selectedDeviceIdChanged, this, &DeviceView::sync);
    connect(&m_service, &SensiboService::errorMessageChanged, this, &DeviceView::sync);
    connect(&m_service, &SensiboService::settingsProblemChanged, this, &DeviceView::sync);
    connect(&m_updater, &UpdateService::updateTextChanged, this, &DeviceView::sync);
    connect(&m_service.features(), &DeviceFeatures::historyChanged, this, &DeviceView::sync);
    connect(&m_service, &SensiboService::selectedDeviceIdChanged, this, [this] {
        if (isVisible()) {
            showSelectedDevice();
        }
    });
    sync();
}

void DeviceView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showSelectedDevice();
}

void DeviceView::showSelectedDevice()
{
    if (const auto& id = m_service.selectedDeviceId()) {
        m_service.features().showDevice(*id); // started, not awaited: the panel never waits for these
    }
}

QWidget* DeviceView::buildUpdateLine()
{
    auto* line = new QWidget(this);
    line->setObjectName(QStringLiteral("updateLine"));
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(sectionMargin, 8, sectionMargin, 8);
    layout->setSpacing(8);
    m_updateIcon = new QLabel(line);
    Accessibility::hide(m_updateIcon);
    m_updateText = new QLabel(QStringLiteral("Update available"), line);
    m_downloadButton = new QToolButton(line);
    m_downloadButton->setObjectName(QStringLiteral("downloadButton"));
    m_downloadButton->setText(QStringLiteral("Download"));
    m_downloadButton->setAutoRaise(true);
    m_downloadButton->setCursor(Qt::PointingHandCursor);
    connect(m_downloadButton, &QToolButton::clicked, this, [this] { m_updater.openDownload(); });

    layout->addWidget(m_updateIcon, 0, Qt::AlignVCenter);
    layout->addWidget(m_updateText, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    layout->addWidget(m_downloadButton, 0, Qt::AlignVCenter);
    return line;
}

QWidget* DeviceView::buildHeader()
{
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("header"));
    m_header = header;
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(sectionMargin, sectionMargin, sectionMargin, sectionMargin);
    layout->setSpacing(6);

    m_title = new ElidedLabel(header);
    m_title->setObjectName(QStringLiteral("deviceTitle"));
    m_title->setAlignment(Qt::AlignCenter);
    m_picker = new DevicePicker(header);
    m_picker->setObjectName(QStringLiteral("devicePicker"));
    m_picker->setAccessibleName(QStringLiteral("Device"));
    // On Linux Qt names a combo box by its current text; its label comes from a label that names it as its buddy.
    // This one is never seen.
    m_pickerLabel = new QLabel(QStringLiteral("Device"), header);
    m_pickerLabel->setObjectName(QStringLiteral("devicePickerLabel"));
    m_pickerLabel->setBuddy(m_picker);
    m_pickerLabel->hide();
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_picker->installEventFilter(this);
    // `activated` comes only from the user, never from sync() choosing the current item.
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) {
            m_service.setSelectedDeviceId(m_picker->itemData(index).toString());
        }
    });

    m_readings = new QWidget(header);
    m_readings->setObjectName(QStringLiteral("readings"));
    auto* readings = new QHBoxLayout(m_readings);
    readings->setContentsMargins(0, 0, 0, 0);
    readings->setSpacing(12);
    m_temperatureReading =
        reading(QStringLiteral("temperatureReading"), m_temperatureIcon, m_temperatureText, m_readings);
    m_humidityReading = reading(QStringLiteral("humidityReading"), m_humidityIcon, m_humidityText, m_readings);
    m_connectionStatus = reading(QStringLiteral("connectionStatus"), m_statusDot, m_statusText, m_readings);
    readings->addWidget(m_temperatureReading, 0, Qt::AlignVCenter);
    readings->addWidget(m_humidityReading, 0, Qt::AlignVCenter);
    readings->addStretch(1);
    readings->addWidget(m_connectionStatus, 0, Qt::AlignVCenter);

    m_historyChart = new HistoryChart(header);
    m_historyChart->setObjectName(QStringLiteral("historyChart"));

    layout->addWidget(m_title);
    layout->addWidget(m_picker, 0, Qt::AlignHCenter);
    layout->addWidget(m_readings);
    layout->addWidget(m_historyChart);
    return header;
}

QWidget* DeviceView::buildFooter()
{
    auto* footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("footer"));
    auto* layout = new QHBoxLayout(footer);
    layout->setContentsMargins(sectionMargin, sectionMargin, sectionMargin, sectionMargin);

    m_footerError = new ElidedLabel(footer);
    m_footerError->setObjectName(QStringLiteral("footerError"));
    m_announcer = new Announcer(footer);
    m_refreshButton = footerButton(QStringLiteral("refreshButton"), QStringLiteral("Refresh"));
    m_settingsButton = footerButton(QStringLiteral("settingsButton"), QStringLiteral("Settings"));
    m_quitButton = footerButton(QStringLiteral("quitButton"), QStringLiteral("Quit Kelvo"));
    connect(m_refreshButton, &QToolButton::clicked, this, [this] {
        m_service.fetchDevices(); // started, not awaited: the outcome comes back through the service
        m_announcer->expectAnswer();
    });
    connect(m_settingsButton, &QToolButton::clicked, this, &DeviceView::settingsRequested);
    connect(m_quitButton, &QToolButton::clicked, this, [] {
        // Queued, so that the click finishes before the event loop ends.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });

    layout->addWidget(m_footerError, 1, Qt::AlignVCenter);
    layout->addStretch();
    for (QToolButton* button : {m_refreshButton, m_settingsButton, m_quitButton}) {
        layout->addWidget(button, 0, Qt::AlignVCenter);
    }
    return footer;
}

QToolButton* DeviceView::footerButton(const QString& objectName, const QString& tooltip)
{
    auto* button = new QToolButton(this);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setToolTip(tooltip);
    button->setAccessibleName(tooltip);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QWidget* DeviceView::divider()
{
    auto* line = new QWidget(this);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    Accessibility::hide(line);
    m_dividers.append(line);
    return line;
}

QWidget* DeviceView::firstControl() const
{
    if (m_picker->isVisibleTo(this)) {
        return m_picker;
    }
    return m_controls->isVisibleTo(this) ? m_controls->firstControl() : m_refreshButton;
}

void DeviceView::sync()
{
    const bool hasUpdate = m_updater.updateText().has_value();
    m_updateLine->setVisible(hasUpdate);
    m_updateDivider->setVisible(hasUpdate);

    const auto selected = m_service.selectedDevice();
    const bool usePicker = m_service.devices().size() >= 2;
    m_title->setVisible(!usePicker && selected.has_value());
    m_title->setFullText(selected ? deviceName(*selected) : QString());
    m_picker->setVisible(usePicker);
    if (usePicker) {
        QList<DevicePicker::Entry> entries;
        entries.reserve(m_service.devices().size());
        for (const SensiboDevice& device : m_service.devices()) {
            entries.append({device.id, deviceName(device)});
        }
        const QSignalBlocker blocker(m_picker);
        m_picker->setEntries(entries);
        m_picker->setCurrentId(m_service.selectedDeviceId());
    }
    syncReadings(selected);
    syncHistory(selected);
    // The readings in one sentence, for assistive technology to say with the device: as the panel opens, and as
    // the picker turns to another device (screen readers speak a new description of the control with the focus).
    const QString readings = readingsText();
    Accessibility::setName(m_header, selected ? deviceName(*selected) : QString());
    Accessibility::setDescription(m_header, readings);
    // Readings that drift while the picker has the focus wait until it loses it: only a new device is news there.
    const std::optional<QString> shownId = selected ? std::optional(selected->id) : std::nullopt;
    if (!m_picker->hasFocus() || shownId != m_describedDevice) {
        Accessibility::setDescription(m_picker, readings);
        m_describedDevice = shownId;
    }

    // The controls follow the service by themselves; the panel only decides whether they stand.
    const bool controls = selected && selected->acState;
    m_controls->setVisible(controls);
    m_controlsPane->setVisible(controls);

    // The cloud's error first; else a setting that could not be saved, where the user will see it.
    const std::optional<QString> message =
        m_service.errorMessage() ? m_service.errorMessage() : m_service.settingsProblem();
    m_footerError->setFullText(message.value_or(QString()));
    m_footerError->setVisible(message.has_value());
    m_announcer->say(message.value_or(QString()));
}

QString DeviceView::readingsText() const
{
    QStringList readings;
    for (const QLabel* text : {m_temperatureText, m_humidityText, m_statusText}) {
        if (text->parentWidget()->isVisibleTo(this) && !text->text().isEmpty()) {
            readings.append(text->accessibleName().isEmpty() ? text->text() : text->accessibleName());
        }
    }
    return readings.join(QStringLiteral(", "));
}

QString DeviceView::summary() const
{
    const auto selected = m_service.selectedDevice();
    return selected ? QStringList{deviceName(*selected), readingsText()}.join(QStringLiteral(": ")) : QString();
}

void DeviceView::syncReadings(const std::optional<SensiboDevice>& device)
{
    m_readings->setVisible(device.has_value());
    if (!device) {
        return;
    }
    const auto& measurements = device->measurements;

    const bool hasTemperature = measurements && measurements->temperature;
    m_temperatureReading->setVisible(hasTemperature);
    if (hasTemperature) {
        const QString unit = device->acState && device->acState->temperatureUnit ? *device->acState->temperatureUnit
                                                                                 : QStringLiteral("C");
        m_temperatureText->setText(formatTemperature(*measurements->temperature, unit));
        Accessibility::setName(m_temperatureText, QStringLiteral("Room temperature ") + m_temperatureText->text());
    }

    const QString humidity = measurements && measurements->humidity ? humidityText(*measurements->humidity) : QString();
    m_humidityReading->setVisible(!humidity.isEmpty());
    m_humidityText->setText(humidity);
    Accessibility::setName(m_humidityText, humidity.isEmpty() ? QString() : QStringLiteral("Humidity ") + humidity);

    const auto& connection = device->connectionStatus;
    m_connectionStatus->setVisible(connection.has_value());
    if (connection) {
        const bool alive = connection->isAlive.value_or(false);
        m_statusDot->setPixmap(
            dotPixmap(alive ? systemGreen(palette()) : systemRed(palette()), statusDotSize, devicePixelRatioF()));
        m_statusText->setText(alive ? QStringLiteral("Online") : QStringLiteral("Offline"));
    }
}

void DeviceView::syncHistory(const std::optional<SensiboDevice>& device)
{
    const std::optional<RoomHistory> history = device ? m_service.features().history() : std::nullopt;
    const bool drawable = history && history->drawable();
    m_historyChart->setVisible(drawable);
    if (drawable) {
        m_historyChart->setHistory(*history, device->acState && device->acState->temperatureUnit
                                                 ? *device->acState->temperatureUnit
                                                 : QStringLiteral("C"));
    }
}

// Fonts and colours that come from the desktop's font and palette; called again when either changes.
void DeviceView::restyle()
{
    const QFont base = font();
    const QFont headline = headlineFont(base);
    const QFont caption = captionFont(base);
    const QFont caption2 = caption2Font(base);
    const QPalette& pal = palette();
    const QColor secondary = secondaryColor(pal);
    const QColor red = systemRed(pal);
    const QColor blue = systemBlue(pal);
    const qreal ratio = devicePixelRatioF();
    const int smallIcon = QFontInfo(caption).pixelSize() + 3;
    const int footerIcon = qRound(footerIconSize * textScale(base));

    // The line's tint darkens (or lightens) what stands on it: its texts are made to read on the tint itself.
    const QColor tint = blend(blue, pal.color(QPalette::Window), 0.06);
    setBackgroundColor(m_updateLine, tint);
    m_updateIcon->setPixmap(symbolPixmap(QStringLiteral("arrow.down.circle.fill"), blue, smallIcon, ratio));
    m_updateText->setFont(caption);
    setTextColor(m_updateText, readableOn(primaryColor(pal), tint, textContrast));
    m_downloadButton->setFont(caption);
    setTextColor(m_downloadButton, readableOn(blue, tint, textContrast));

    m_title->setFont(headline);
    for (QLabel* text : {m_temperatureText, m_humidityText, m_statusText}) {
        text->setFont(caption);
        setTextColor(text, secondary);
    }
    m_temperatureIcon->setPixmap(symbolPixmap(QStringLiteral("thermometer.medium"), secondary, smallIcon, ratio));
    m_humidityIcon->setPixmap(symbolPixmap(QStringLiteral("drop.fill"), secondary, smallIcon, ratio));

    m_footerError->setFont(caption2);
    setTextColor(m_footerError, red);
    for (QToolButton* button : {m_refreshButton, m_settingsButton, m_quitButton}) {
        button->setIconSize(QSize(footerIcon, footerIcon));
    }
    m_refreshButton->setIcon(symbolIcon(QStringLiteral("arrow.clockwise"), secondary, footerIcon));
    m_settingsButton->setIcon(symbolIcon(QStringLiteral("gearshape"), secondary, footerIcon));
    m_quitButton->setIcon(symbolIcon(QStringLiteral("power"), secondary, footerIcon));

    for (QWidget* line : std::as_const(m_dividers)) {
        setBackgroundColor(line, separatorColor(pal));
    }
}

void DeviceView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A long device name is cut rather than widening the panel.
    m_picker->setMaximumWidth(width() - 2 * sectionMargin);
}

bool DeviceView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_picker && event->type() == QEvent::FocusOut) {
        Accessibility::setDescription(m_picker, readingsText());
    }
    return QWidget::eventFilter(watched, event);
}

void DeviceView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        restyle();
        sync();
    }
}
