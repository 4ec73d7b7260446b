#pragma once

#include "cli/Invocation.h"
#include "model/ACSetting.h"
#include "model/Records.h"

#include <QList>
#include <QString>
#include <QStringList>

// One state change to send.
struct PlannedChange {
    ACSetting setting;
    ACValue value;
    QString description; // the setting as typed and the value sent: "temp 23", "power off"
};

struct SettingPlan {
    QList<PlannedChange> changes; // in the order given
    QStringList notes;            // settings that leave the device as it is ("temp +1" at the range's end)
    QString error;                // a setting or value the device does not take: then nothing may be sent

    bool ok() const { return error.isEmpty(); }
};

// Turns `set`'s pairs into state changes for `device`, checking each value against what the device offers in its
// mode at that point, with the panel's lists: the mode a pair sets counts for the pairs after it. A target
// temperature must be one the device lists; a step moves along that list.
SettingPlan planSettings(const SensiboDevice& device, const QList<SettingArgument>& settings);
