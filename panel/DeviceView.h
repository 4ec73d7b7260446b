#pragma once

#include "model/Records.h"

#include <QWidget>

#include <optional>

class Announcer;
class ClimateControls;
class DevicePicker;
class ElidedLabel;
class HistoryChart;
class QLabel;
class QToolButton;
class ScrollPane;
class SensiboService;
class UpdateService;

// The panel's content while there are devices: the update line, the selected device's name (or a picker) with its
// readings and the room's last day, the climate controls, and the footer with the last error and the refresh, settings
// and quit buttons. Like every view it keeps no device state: sync() reads the services whenever they change.
class DeviceView : public QWidget
{
    Q_OBJECT

public:
    DeviceView(SensiboService& service, UpdateService& updater, qreal controlWidth, QWidget* parent = nullptr);

    // Where the keyboard starts when the panel opens: the picker, else the power switch, else the refresh button.
    QWidget* firstControl() const;
    // The selected device and its readings in one sentence ("Living Room: Room temperature 22°C, Online").
    QString summary() const;

Q_SIGNALS:
    void settingsRequested();

public Q_SLOTS:
    void sync();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildUpdateLine();
    QWidget* buildHeader();
    QWidget* buildFooter();
    QWidget* divider();
    QToolButton* footerButton(const QString& objectName, const QString& tooltip);

    void syncReadings(const std::optional<SensiboDevice>& device);
    QString readingsText() const;
    void syncHistory(const std::optional<SensiboDevice>& device);
    // The panel opened on the selected device, or another one was chosen while it is open: its timer, Climate React
    // and history are fetched where they are not fresh.
    void showSelectedDevice();
    void restyle();

    SensiboService& m_service;
    UpdateService& m_updater;

    QWidget* m_updateLine = nullptr;
    QWidget* m_updateDivider = nullptr;
    QLabel* m_updateIcon = nullptr;
    QLabel* m_updateText = nullptr;
    QToolButton* m_downloadButton = nullptr;
    ElidedLabel* m_title = nullptr;
    DevicePicker* m_picker = nullptr;
    QLabel* m_pickerLabel = nullptr;
    std::optional<QString> m_describedDevice; // whose readings the picker's description holds
    QWidget* m_header = nullptr;
    QWidget* m_readings = nullptr;
    QWidget* m_temperatureReading = nullptr;
    QLabel* m_temperatureIcon = nullptr;
    QLabel* m_temperatureText = nullptr;
    QWidget* m_humidityReading = nullptr;
    QLabel* m_humidityIcon = nullptr;
    QLabel* m_humidityText = nullptr;
    QWidget* m_connectionStatus = nullptr;
    QLabel* m_statusDot = nullptr;
    QLabel* m_statusText = nullptr;
    HistoryChart* m_historyChart = nullptr;
    ClimateControls* m_controls = nullptr;
    ScrollPane* m_controlsPane = nullptr;
    ElidedLabel* m_footerError = nullptr;
    Announcer* m_announcer = nullptr; // the footer's errors
    QToolButton* m_refreshButton = nullptr;
    QToolButton* m_settingsButton = nullptr;
    QToolButton* m_quitButton = nullptr;
    QList<QWidget*> m_dividers;
};
