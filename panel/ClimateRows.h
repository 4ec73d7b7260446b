#pragma once

#include "model/ACSetting.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <utility>

class SensiboService;

// One of the seven rows that control the selected air conditioner, as the service's state and capability lists
// make it: whether it stands, what it offers and what is current. The panel's rows and the tray menu's entries both
// come from here, so they always offer the same.
struct ClimateRow {
    using NameFunction = QString (*)(const QString&);

    ACSetting setting = ACSetting::Power;
    QString label; // "Mode", "Temp", "H. Swing"
    bool shown = false;
    // The values to choose from (mode, fan and swing rows; the light's "on" and "off"), and how each is named.
    QStringList options;
    NameFunction name = nullptr;
    // The value shown as chosen: the mode ("cool" when there is none), fan level or swing position (empty when
    // there is none), "on" or "off" for power and the light.
    QString current;
    // The temperature row's range, and the target it shows (the lowest when the state has none).
    std::optional<std::pair<qint64, qint64>> range;
    qint64 target = 0;
};

// The rows for the selected device's `state`, in the panel's order: power, mode, temperature, fan, swing,
// horizontal swing, light. Power always stands; the others only while the unit is on and its current mode offers
// the setting (the light needs two modes to be a choice).
std::array<ClimateRow, 7> climateRows(const SensiboService& service, const ACState& state);

// The row's label, the same with or without a state.
QString climateRowLabel(ACSetting setting);
