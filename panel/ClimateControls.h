#pragma once

#include "model/ACSetting.h"

#include <QWidget>

class QLabel;
class OptionMenuButton;
class SensiboService;
class TemperatureStepper;
class ToggleSwitch;

// The rows that control the selected air conditioner: power, mode, target temperature, fan, vertical and
// horizontal swing, display light. A row shows only when the device is on and its current mode offers the setting
// (power always shows). Every action asks the service for exactly one change; what the rows show is always the
// service's state, which changes at once and again when the cloud answers.
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

    Row m_powerRow;
    Row m_modeRow;
    Row m_temperatureRow;
    Row m_fanRow;
    Row m_swingRow;
    Row m_horizontalSwingRow;
    Row m_lightRow;
};
