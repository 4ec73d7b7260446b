#include "cli/DeviceChoice.h"

#include <QStringList>

namespace {

QString roomList(const QList<SensiboDevice>& devices)
{
    QStringList rooms;
    for (const SensiboDevice& device : devices) {
        rooms.append(device.room ? QStringLiteral("%1 (%2)").arg(device.room->name, device.id) : device.id);
    }
    return rooms.join(QStringLiteral(", "));
}

} // namespace

DeviceChoice chooseDevice(const QList<SensiboDevice>& devices, const std::optional<QString>& wanted)
{
    if (devices.isEmpty()) {
        return {-1, QStringLiteral("No devices on this account")};
    }
    if (!wanted) {
        return {0, {}};
    }
    // An id names one device for sure; a room name may name several.
    for (qsizetype i = 0; i < devices.size(); ++i) {
        if (devices.at(i).id == *wanted) {
            return {i, {}};
        }
    }
    QList<qsizetype> matches;
    for (qsizetype i = 0; i < devices.size(); ++i) {
        const SensiboDevice& device = devices.at(i);
        if (device.room && device.room->name.compare(*wanted, Qt::CaseInsensitive) == 0) {
            matches.append(i);
        }
    }
    if (matches.size() == 1) {
        return {matches.first(), {}};
    }
    const QString problem =
        matches.isEmpty()
            ? QStringLiteral("No device \"%1\"").arg(*wanted)
            : QStringLiteral("\"%1\" names %2 devices; use an id").arg(*wanted, QString::number(matches.size()));
    return {-1, problem + QStringLiteral(". Rooms: ") + roomList(devices)};
}
