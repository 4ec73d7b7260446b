#include "service/DeviceFeatures.h"

#include "service/SensiboService.h"

#include <QPointer>

#include <algorithm>

namespace {
constexpr qint64 minuteMs = 60'000;

bool olderThan(const QDateTime& askedAt, const QDateTime& now, std::chrono::seconds age)
{
    // A clock set back counts as a long wait too, so that nothing waits for it to catch up.
    return !askedAt.isValid() || askedAt > now || askedAt.secsTo(now) >= age.count();
}
} // namespace

DeviceFeatures::DeviceFeatures(SensiboService& service)
    : m_service(service)
{
    m_tick.setSingleShot(true);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        Q_EMIT extrasChanged();
        scheduleTick();
    });
    connect(&m_service, &SensiboService::selectedDeviceIdChanged, this, &DeviceFeatures::scheduleTick);
    // Another key may be another account: nothing known of the old one's devices stays.
    connect(&m_service, &SensiboService::apiKeyChanged, this, [this] {
        m_known.clear();
        Q_EMIT extrasChanged();
        Q_EMIT historyChanged();
        scheduleTick();
    });
}

const DeviceFeatures::Known* DeviceFeatures::selectedKnown() const
{
    const SensiboDevice* device = m_service.findSelectedDevice();
    if (!device) {
        return nullptr;
    }
    const auto it = m_known.constFind(device->id);
    return it == m_known.cend() ? nullptr : &*it;
}

bool DeviceFeatures::offersTimer() const
{
    const SensiboDevice* device = m_service.findSelectedDevice();
    if (!device || !device->acState) {
        return false;
    }
    // Until the details come, a timer can be set all the same: the cloud takes it whatever is set now.
    const Known* known = selectedKnown();
    return !known || !known->extras || known->extras->timerKnown;
}

std::optional<ScheduledTimer> DeviceFeatures::timer() const
{
    const Known* known = selectedKnown();
    if (!known || !known->extras || !known->extras->timer || known->extras->timer->due <= now()) {
        return std::nullopt; // a timer that is due has fired: the next device list shows what it did
    }
    return known->extras->timer;
}

std::optional<SmartMode> DeviceFeatures::climateReact() const
{
    const Known* known = selectedKnown();
    return known && known->extras ? known->extras->climateReact : std::nullopt;
}

std::optional<RoomHistory> DeviceFeatures::history() const
{
    const Known* known = selectedKnown();
    return known ? known->history : std::nullopt;
}

QCoro::Task<> DeviceFeatures::showDevice(QString deviceId)
{
    if (m_service.apiKey().isEmpty() || deviceId.isEmpty()) {
        co_return;
    }
    const Known& known = m_known[deviceId];
    const QDateTime now = this->now();
    const bool detailsDue = known.detailsInFlight == 0 && olderThan(known.detailsAskedAt, now, detailsInterval);
    // A history that failed is asked for again as soon as the details would be.
    const bool historyDue =
        !known.historyInFlight &&
        olderThan(known.historyAskedAt, now, known.historyFailed ? detailsInterval : historyLifetime);
    // Both at once: neither waits for the other.
    std::optional<QCoro::Task<>> details;
    if (detailsDue) {
        details.emplace(fetchDetails(deviceId));
    }
    if (historyDue) {
        co_await fetchHistory(deviceId);
    }
    if (details) {
        co_await *details;
    }
}

QCoro::Task<> DeviceFeatures::fetchDetails(QString deviceId)
{
    Known& asking = m_known[deviceId];
    asking.detailsAskedAt = now();
    ++asking.detailsInFlight;
    const quint64 changes = asking.changes;
    QPointer<DeviceFeatures> self(this);
    const DeviceDetailsOutcome outcome =
        co_await m_service.m_client.deviceDetails(m_service.apiKey(), deviceId, m_service.m_lifetime);
    if (!self || m_service.m_lifetime.isCancelled() || !m_known.contains(deviceId)) {
        co_return;
    }
    Known& known = m_known[deviceId];
    known.detailsInFlight = std::max(0, known.detailsInFlight - 1);
    // A failure leaves what was known (or nothing, which leaves the features out); the next opening asks again.
    if (!outcome.ok() || known.changes != changes) {
        co_return;
    }
    DeviceExtras extras = deviceExtras(*outcome.details, now());
    if (known.extras != extras) {
        known.extras = std::move(extras);
        Q_EMIT extrasChanged();
        scheduleTick();
    }
}

QCoro::Task<> DeviceFeatures::fetchHistory(QString deviceId)
{
    Known& asking = m_known[deviceId];
    asking.historyAskedAt = now();
    asking.historyInFlight = true;
    QPointer<DeviceFeatures> self(this);
    const HistoryOutcome outcome =
        co_await m_service.m_client.history(m_service.apiKey(), deviceId, 1, m_service.m_lifetime);
    if (!self || m_service.m_lifetime.isCancelled() || !m_known.contains(deviceId)) {
        co_return;
    }
    Known& known = m_known[deviceId];
    known.historyInFlight = false;
    known.historyFailed = !outcome.ok();
    if (!outcome.ok()) {
        co_return; // the chart keeps what it showed, or stays away
    }
    RoomHistory history = roomHistory(*outcome.history);
    if (known.history != history) {
        known.history = std::move(history);
        Q_EMIT historyChanged();
    }
}

std::optional<DeviceExtras> DeviceFeatures::showExtras(const QString& deviceId, DeviceExtras extras)
{
    Known& known = m_known[deviceId];
    std::optional<DeviceExtras> before = std::exchange(known.extras, std::move(extras));
    ++known.changes;
    Q_EMIT extrasChanged();
    scheduleTick();
    return before;
}

QCoro::Task<> DeviceFeatures::setTimer(bool turnOn, qint64 minutes)
{
    const SensiboDevice* device = m_service.findSelectedDevice();
    if (!device || !device->acState || minutes <= 0) {
        co_return;
    }
    // Every later step works on this device, even if the selection changes meanwhile.
    const QString deviceId = device->id;
    ACState state = *device->acState;
    state.on = turnOn;
    const Known& known = m_known[deviceId];
    DeviceExtras shown = known.extras.value_or(DeviceExtras{});
    shown.timerKnown = true;
    shown.timer = ScheduledTimer{turnOn, now().addSecs(minutes * 60)};
    const std::optional<DeviceExtras> before = showExtras(deviceId, shown);

    QPointer<DeviceFeatures> self(this);
    const ExtrasChangeOutcome outcome =
        co_await m_service.m_client.setTimer(m_service.apiKey(), deviceId, minutes, state, m_service.m_lifetime);
    if (!self || m_service.m_lifetime.isCancelled()) {
        co_return;
    }
    putBackTimerUnlessDone(deviceId, before, outcome);
    co_await finishChange(deviceId, outcome);
}

void DeviceFeatures::putBackTimerUnlessDone(const QString& deviceId, const std::optional<DeviceExtras>& before,
                                            const ExtrasChangeOutcome& outcome)
{
    if (outcome.kind != ExtrasChangeOutcome::Kind::Done) {
        putBack(deviceId, [&before](DeviceExtras& extras) {
            extras.timerKnown = before ? before->timerKnown : true;
            extras.timer = before ? before->timer : std::nullopt;
        });
    }
}

QCoro::Task<> DeviceFeatures::cancelTimer()
{
    const SensiboDevice* device = m_service.findSelectedDevice();
    if (!device) {
        co_return;
    }
    const QString deviceId = device->id;
    DeviceExtras shown = m_known[deviceId].extras.value_or(DeviceExtras{});
    shown.timerKnown = true;
    shown.timer.reset();
    const std::optional<DeviceExtras> before = showExtras(deviceId, shown);

    QPointer<DeviceFeatures> self(this);
    const ExtrasChangeOutcome outcome =
        co_await m_service.m_client.cancelTimer(m_service.apiKey(), deviceId, m_service.m_lifetime);
    if (!self || m_service.m_lifetime.isCancelled()) {
        co_return;
    }
    putBackTimerUnlessDone(deviceId, before, outcome);
    co_await finishChange(deviceId, outcome);
}

QCoro::Task<> DeviceFeatures::setClimateReact(bool enabled)
{
    const SensiboDevice* device = m_service.findSelectedDevice();
    const Known* known = selectedKnown();
    if (!device || !known || !known->extras || !known->extras->climateReact) {
        co_return; // nothing to switch: it is not set up, or not known yet
    }
    const QString deviceId = device->id;
    DeviceExtras shown = *known->extras;
    const bool wasEnabled = shown.climateReact->enabled;
    shown.climateReact->enabled = enabled;
    showExtras(deviceId, shown);

    QPointer<DeviceFeatures> self(this);
    const ExtrasChangeOutcome outcome =
        co_await m_service.m_client.setClimateReact(m_service.apiKey(), deviceId, enabled, m_service.m_lifetime);
    if (!self || m_service.m_lifetime.isCancelled()) {
        co_return;
    }
    if (outcome.kind != ExtrasChangeOutcome::Kind::Done) {
        putBack(deviceId, [wasEnabled](DeviceExtras& extras) {
            if (extras.climateReact) {
                extras.climateReact->enabled = wasEnabled;
            }
        });
    }
    co_await finishChange(deviceId, outcome);
}

void DeviceFeatures::putBack(const QString& deviceId, const std::function<void(DeviceExtras&)>& restore)
{
    const auto it = m_known.find(deviceId);
    if (it == m_known.end() || !it->extras) {
        return;
    }
    restore(*it->extras);
    Q_EMIT extrasChanged();
    scheduleTick();
}

QCoro::Task<> DeviceFeatures::finishChange(QString deviceId, ExtrasChangeOutcome outcome)
{
    switch (outcome.kind) {
    case ExtrasChangeOutcome::Kind::NotSent:
        // A piece of the address was refused, so nothing went out; the change is already put back.
        m_service.setErrorMessage(QStringLiteral("Invalid URL"));
        break;
    case ExtrasChangeOutcome::Kind::Failed:
        m_service.setErrorMessage(outcome.message);
        // What the cloud holds now (a details answer that came meanwhile was dropped as out of date).
        co_await fetchDetails(deviceId);
        break;
    case ExtrasChangeOutcome::Kind::Done:
        m_service.setErrorMessage(std::nullopt);
        // What the cloud made of it: the timer's own time, Climate React as it is now.
        co_await fetchDetails(deviceId);
        break;
    }
}

// The texts count down in whole minutes: wake as the next minute of the selected device's timer begins, and as it
// falls due.
void DeviceFeatures::scheduleTick()
{
    const std::optional<ScheduledTimer> shown = timer();
    if (!shown) {
        m_tick.stop();
        return;
    }
    const qint64 left = now().msecsTo(shown->due);
    const qint64 untilNextMinute = left % minuteMs;
    m_tick.start(std::chrono::milliseconds(untilNextMinute == 0 ? minuteMs : untilNextMinute + 1));
}
