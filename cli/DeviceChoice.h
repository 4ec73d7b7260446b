#pragma once

#include "model/Records.h"

#include <QList>
#include <QString>

#include <optional>

struct DeviceChoice {
    qsizetype index = -1; // into the list; -1 when none fits
    QString error;        // then: why, naming the rooms there are
};

// The device a command acts on: with `wanted`, the one whose id is `wanted`, else the one whose room has that name in
// any case; without, the first in the cloud's order (the one the panel shows first). No match, or several rooms of
// that name, is an error.
DeviceChoice chooseDevice(const QList<SensiboDevice>& devices, const std::optional<QString>& wanted);
