#pragma once

#include "model/DeviceExtras.h"
#include "service/SensiboClient.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class SensiboService;
struct SensiboDevice;

// What Kelvo knows of the user's devices beyond the list: each one's timer and Climate React (the details request)
// and its room's last day (the history request). None of it is fetched on the 30 s loop: the details when the panel
// opens on a device (at most once a minute per device) and after each change of its timer or Climate React; the
// history when the panel opens on a device and the one held is older than 10 minutes. A failed fetch only leaves
// the feature out (or as it was): the panel never waits for these. Changes show at once, like the climate controls,
// and are put back, with the message in the service's error line, when the cloud refuses them. The device service
// owns it and lends it its key, devices, selection and error line; everything here is about the selected device.
class DeviceFeatures : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    static constexpr std::chrono::seconds detailsInterval{60};
    static constexpr std::chrono::seconds historyLifetime{600};

    explicit DeviceFeatures(SensiboService& service);

    // Whether the timer can be offered: the device has a state, and its details, once known, said whether a timer
    // is set in a way Kelvo can read.
    bool offersTimer() const;
    // The timer that is set, until it is due.
    std::optional<ScheduledTimer> timer() const;
    // Climate React, when it is set up on the device.
    std::optional<SmartMode> climateReact() const;
    // The room's last day, when it came.
    std::optional<RoomHistory> history() const;

    // The time everything here is reckoned by; the system's clock unless set (tests).
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTimeUtc(); }
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // The panel shows the device: fetches its details and history where what is held is not fresh. Views start
    // it and do not wait; what comes shows through the signals.
    QCoro::Task<> showDevice(QString deviceId);
    // A timer that switches the selected unit on (or off) in `minutes`, applying its current state otherwise.
    QCoro::Task<> setTimer(bool turnOn, qint64 minutes);
    QCoro::Task<> cancelTimer();
    QCoro::Task<> setClimateReact(bool enabled);

Q_SIGNALS:
    // A timer or Climate React changed, or a timer's wait passed a whole minute (its texts count down).
    void extrasChanged();
    void historyChanged();

private:
    struct Known {
        std::optional<DeviceExtras> extras;
        QDateTime detailsAskedAt;
        int detailsInFlight = 0;
        quint64 changes = 0; // each change counts: a details answer asked for before the last one is out of date
        std::optional<RoomHistory> history;
        QDateTime historyAskedAt;
        bool historyInFlight = false;
        bool historyFailed = false;
    };

    const Known* selectedKnown() const;
    QCoro::Task<> fetchDetails(QString deviceId);
    QCoro::Task<> fetchHistory(QString deviceId);
    // Shows `extras` for the device at once, as a change; gives what it replaced.
    std::optional<DeviceExtras> showExtras(const QString& deviceId, DeviceExtras extras);
    // Puts back what a change the cloud did not take had changed.
    void putBack(const QString& deviceId, const std::function<void(DeviceExtras&)>& restore);
    // A timer change the cloud did not make: the timer shown before it comes back.
    void putBackTimerUnlessDone(const QString& deviceId, const std::optional<DeviceExtras>& before,
                                const ExtrasChangeOutcome& outcome);
    // The message of a change's outcome, and after one the cloud took, what it made of it.
    QCoro::Task<> finishChange(QString deviceId, ExtrasChangeOutcome outcome);
    void scheduleTick();

    SensiboService& m_service;
    QHash<QString, Known> m_known; // by device id
    Clock m_clock;
    QTimer m_tick;
};
