#include "service/SensiboService.h"

#include "model/DeviceCapabilities.h"
#include "platform/Observable.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "platform/Sleep.h"

#include <algorithm>

#ifndef KELVO_SENSIBO_API_URL
#define KELVO_SENSIBO_API_URL "https://home.sensibo.com/api/v2"
#endif

SensiboService::SensiboService(Preferences& preferences, QNetworkAccessManager* network, QString baseURL,
                               QObject* parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_client(network, std::move(baseURL))
    , m_apiKey(preferences.text(QLatin1String(PreferenceKeys::sensiboAPIKey)).value_or(QString()))
    , m_useMonochromeIcons(preferences.boolValue(QLatin1String(PreferenceKeys::useMonochromeIcons)))
{
    connect(&m_preferences, &Preferences::problemChanged, this, &SensiboService::settingsProblemChanged);
}

SensiboService::~SensiboService()
{
    // Aborts every transfer still running and wakes the refresh loop; each finds the service going and ends,
    // changing nothing. Left running, a transfer would wait for ever once the network manager goes, and with it
    // every task awaiting it.
    m_lifetime.cancel();
    if (m_refreshTask) {
        m_refreshTask->cancel.cancel();
    }
}

QString SensiboService::defaultBaseURL()
{
    const QString overridden = qEnvironmentVariable("KELVO_SENSIBO_API_URL");
    return overridden.isEmpty() ? QStringLiteral(KELVO_SENSIBO_API_URL) : overridden;
}

void SensiboService::setSelectedDeviceId(std::optional<QString> id)
{
    assignAndNotify(this, m_selectedDeviceId, std::move(id), &SensiboService::selectedDeviceIdChanged);
}

void SensiboService::setApiKey(const QString& key)
{
    assignAndNotify(this, m_apiKey, key, &SensiboService::apiKeyChanged);
}

bool SensiboService::saveApiKey()
{
    std::optional<QString> failure;
    if (!m_preferences.setText(QLatin1String(PreferenceKeys::sensiboAPIKey), m_apiKey)) {
        failure = QStringLiteral("Could not save the key: ") + m_preferences.lastError();
    }
    assignAndNotify(this, m_keySaveError, std::move(failure), &SensiboService::keySaveErrorChanged);
    return !m_keySaveError;
}

std::optional<QString> SensiboService::settingsProblem() const
{
    return m_preferences.problem();
}

QCoro::Task<> SensiboService::saveAndConnect()
{
    saveApiKey();
    assignAndNotify(this, m_connectError, std::nullopt, &SensiboService::connectErrorChanged);
    QPointer<SensiboService> self(this);
    std::optional<QString> failure = co_await fetchDevices(m_lifetime);
    if (!self) {
        co_return;
    }
    assignAndNotify(this, m_connectError, std::move(failure), &SensiboService::connectErrorChanged);
    startRefreshTask();
}

void SensiboService::setUseMonochromeIcons(bool monochrome)
{
    assignAndNotify(this, m_useMonochromeIcons, monochrome, &SensiboService::useMonochromeIconsChanged);
}

void SensiboService::setIsLoading(bool loading)
{
    assignAndNotify(this, m_isLoading, loading, &SensiboService::isLoadingChanged);
}

void SensiboService::setErrorMessage(std::optional<QString> message)
{
    assignAndNotify(this, m_errorMessage, std::move(message), &SensiboService::errorMessageChanged);
}

int SensiboService::indexOfDevice(const QString& id) const
{
    const auto it = std::find_if(m_devices.cbegin(), m_devices.cend(), [&](const auto& d) { return d.id == id; });
    return it == m_devices.cend() ? -1 : int(it - m_devices.cbegin());
}

// Puts `state` on the device if it is still in the list, and tells the views.
void SensiboService::replaceState(const QString& deviceId, std::optional<ACState> state)
{
    const int index = indexOfDevice(deviceId);
    if (index >= 0) {
        m_devices[index].acState = std::move(state);
        Q_EMIT devicesChanged();
    }
}

const SensiboDevice* SensiboService::findSelectedDevice() const
{
    const int index = m_selectedDeviceId ? indexOfDevice(*m_selectedDeviceId) : -1;
    return index < 0 ? nullptr : &m_devices.at(index);
}

std::optional<SensiboDevice> SensiboService::selectedDevice() const
{
    const SensiboDevice* device = findSelectedDevice();
    return device ? std::optional(*device) : std::nullopt;
}

QString SensiboService::menuBarIconName() const
{
    const SensiboDevice* device = findSelectedDevice();
    if (!device || !device->acState || !device->acState->on) {
        return QStringLiteral("ac-off");
    }
    if (m_useMonochromeIcons || !device->acState->mode) {
        return QStringLiteral("ac-on");
    }
    if (*device->acState->mode == u"cool") {
        return QStringLiteral("ac-cool");
    }
    if (*device->acState->mode == u"heat") {
        return QStringLiteral("ac-heat");
    }
    return QStringLiteral("ac-on");
}

QStringList SensiboService::availableModes() const
{
    const SensiboDevice* device = findSelectedDevice();
    return device ? DeviceCapabilities::modes(*device) : QStringList();
}

QStringList SensiboService::availableFanLevels() const
{
    const SensiboDevice* device = findSelectedDevice();
    return device ? DeviceCapabilities::fanLevels(*device) : QStringList();
}

QStringList SensiboService::availableSwingModes() const
{
    const SensiboDevice* device = findSelectedDevice();
    return device ? DeviceCapabilities::swingModes(*device) : QStringList();
}

QStringList SensiboService::availableHorizontalSwingModes() const
{
    const SensiboDevice* device = findSelectedDevice();
    return device ? DeviceCapabilities::horizontalSwingModes(*device) : QStringList();
}

QStringList SensiboService::availableLightModes() const
{
    const SensiboDevice* device = findSelectedDevice();
    return device ? DeviceCapabilities::lightModes(*device) : QStringList();
}

std::optional<std::pair<qint64, qint64>> SensiboService::temperatureRange() const
{
    const SensiboDevice* device = findSelectedDevice();
    return device ? DeviceCapabilities::temperatureRange(*device) : std::nullopt;
}

QCoro::Task<> SensiboService::initialLoad()
{
    if (m_apiKey.isEmpty() || m_hasStartedInitialLoad) {
        co_return;
    }
    // Set before anything is awaited, so that a second call during this load does nothing.
    m_hasStartedInitialLoad = true;
    QPointer<SensiboService> self(this);
    co_await fetchDevices();
    if (!self) {
        co_return;
    }
    startRefreshTask();
}

QCoro::Task<> SensiboService::fetchDevices()
{
    co_await fetchDevices(m_lifetime);
}

QCoro::Task<std::optional<QString>> SensiboService::fetchDevices(CancelToken cancel)
{
    if (m_apiKey.isEmpty()) {
        co_return std::nullopt;
    }
    // An earlier message stays visible while this load runs.
    setIsLoading(true);
    QPointer<SensiboService> self(this);
    const DeviceListOutcome outcome = co_await m_client.listDevices(m_apiKey, cancel);
    if (!self || m_lifetime.isCancelled()) {
        co_return std::nullopt;
    }
    std::optional<QString> failure;
    if (outcome.ok()) {
        m_devices = *outcome.devices;
        Q_EMIT devicesChanged();
        setErrorMessage(std::nullopt);
        assignAndNotify(this, m_connectError, std::nullopt, &SensiboService::connectErrorChanged);
        if (!m_selectedDeviceId || indexOfDevice(*m_selectedDeviceId) < 0) {
            setSelectedDeviceId(m_devices.isEmpty() ? std::nullopt : std::optional(m_devices.first().id));
        }
    } else if (!cancel.isCancelled()) {
        // The last good list and the selection stay on screen under the message.
        setErrorMessage(outcome.message);
        failure = outcome.message;
    }
    // else the load was cancelled on purpose (its refresh task was replaced): nothing failed, and the message stays
    // as it was. A timeout ends a transfer the same way in Qt, but never through the token, so it still shows.
    setIsLoading(false);
    co_return failure;
}

void SensiboService::startRefreshTask()
{
    if (m_refreshTask) {
        m_refreshTask->cancel.cancel();
    }
    m_refreshTask = std::make_shared<RefreshLoop>();
    refreshLoop(QPointer<SensiboService>(this), m_refreshTask, m_refreshInterval);
}

void SensiboService::requestRefresh()
{
    if (m_apiKey.isEmpty()) {
        return;
    }
    if (m_refreshTask && m_refreshTask->loading) {
        m_refreshTask->reloadAsked = true;
        return;
    }
    startRefreshTask(); // its load starts at once: the next request finds it running
}

QCoro::Task<> SensiboService::refreshLoop(QPointer<SensiboService> service, std::shared_ptr<RefreshLoop> loop,
                                          std::chrono::milliseconds interval)
{
    // Holds the service only weakly: the loop never keeps it alive, and ends at its next test once it is gone.
    while (!loop->cancel.isCancelled()) {
        if (service) {
            loop->loading = true;
            co_await service->fetchDevices(loop->cancel);
            loop->loading = false;
        }
        // The devices changed again while that load ran: once more, now, for all the requests together.
        if (std::exchange(loop->reloadAsked, false)) {
            continue;
        }
        co_await sleepFor(interval, loop->cancel); // a cancelled sleep ends early; the loop head then ends the task
    }
}

QCoro::Task<> SensiboService::updateACState(ACSetting setting, ACValue value)
{
    if (!m_selectedDeviceId) {
        co_return;
    }
    // Every later step works on this device, even if the selection changes meanwhile.
    const QString deviceId = *m_selectedDeviceId;
    const int index = indexOfDevice(deviceId);
    if (index < 0) {
        co_return;
    }

    const std::optional<ACState> previous = m_devices[index].acState;
    ACState state = previous.value_or(ACState{});
    applySetting(state, setting, value);
    m_devices[index].acState = state;
    Q_EMIT devicesChanged();

    QPointer<SensiboService> self(this);
    const StateChangeOutcome outcome = co_await m_client.changeState(m_apiKey, deviceId, setting, value, m_lifetime);
    if (!self || m_lifetime.isCancelled()) {
        co_return;
    }

    using Kind = StateChangeOutcome::Kind;
    switch (outcome.kind) {
    case Kind::NotSent:
        // Nothing went out, so nothing must look changed: the address refused a piece of the request. Nothing was
        // awaited on the wire, so the device still holds our optimistic state.
        replaceState(deviceId, previous);
        setErrorMessage(QStringLiteral("Invalid URL"));
        break;
    case Kind::Confirmed:
        replaceState(deviceId, outcome.confirmedState);
        setErrorMessage(std::nullopt);
        break;
    case Kind::Accepted:
        setErrorMessage(std::nullopt);
        break;
    case Kind::Failed:
        // The reload is the only undo: the optimistic state shows until the fresh list replaces it.
        setErrorMessage(outcome.message);
        co_await fetchDevices();
        break;
    }
}
