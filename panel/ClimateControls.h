#pragma once

#include "model/ACSetting.h"

#include <QWidget>

class QLabel;
class QToolButton;
class OptionMenuButton;
class SensiboService;
class TemperatureStepper;
class ToggleSwitch;

// The rows that control the selected air conditioner: power, the timer, Climate React, mode, target temperature,
// fan, vertical and horizontal swing, display light. A setting's row shows only when the device is on and its
// current mode offers the setting (power always shows); the timer's whenever the device has a state and its details
// do not speak against it, Climate React's when it is set up on the device. Every action asks the service for
// exactly one change; what the rows show is always the service's state, which changes at once and again when the
// cloud answers. While a timer is set, its row says when it fires, counting down each minute, and offers to cancel.
class ClimateControls : public QWidget
{
    Q_OBJECT

public:
    // `controlWidth` is the width of the box that holds each row's control.
    ClimateControls(SensiboService& service, qreal controlWidth, QWidget* parent = nullptr);

    // The power switch, where the keyboard starts in the panel with one device.
    QWidget* firstControl() const;

public Q_SLOTS:
    void sync();

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Row {
        QWidget* widget = nullptr;
        QLabel* icon = nullptr;
        QLabel* label = nullptr;
        QWidget* control = nullptr;
        QWidget* box = nullptr; // holds the control
    };

    Row addRow(const QString& name, const QString& label, QWidget* control, bool fillsBox);
    void resizeBoxes();
    Row addTimerRow();
    void syncTimer(const ACState& state, const QPalette& pal);
    void syncClimateReact(const QString& unit, const QPalette& pal);
    void setRowIcon(const Row& row, const QString& symbol, const QColor& color);
    void change(ACSetting setting, ACValue value);

    SensiboService& m_service;
    int m_controlWidth;

    ToggleSwitch* m_powerSwitch;
    OptionMenuButton* m_modeMenu;
    TemperatureStepper* m_stepper;
    OptionMenuButton* m_fanMenu;
    OptionMenuButton* m_swingMenu;
    OptionMenuButton* m_horizontalSwingMenu;
    ToggleSwitch* m_lightSwitch;
    OptionMenuButton* m_timerMenu;
    QLabel* m_timerText = nullptr;
    QToolButton* m_cancelTimerButton = nullptr;
    QWidget* m_timerBox = nullptr;
    ToggleSwitch* m_climateReactSwitch;

    Row m_powerRow;
    Row m_modeRow;
    Row m_temperatureRow;
    Row m_fanRow;
    Row m_swingRow;
    Row m_horizontalSwingRow;
    Row m_lightRow;
    Row m_timerRow;
    Row m_climateReactRow;
};
