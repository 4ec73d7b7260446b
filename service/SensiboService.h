#pragma once

#include "model/Records.h"
#include "platform/CancelToken.h"
#include "service/DeviceFeatures.h"
#include "service/SensiboClient.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

class Preferences;
class QNetworkAccessManager;

// The one owner of what Kelvo knows about the user's air conditioners: the API key, the device list, the selection,
// whether a load runs and the last error. Views read its properties and call its operations; they keep no device
// state of their own. Loads the list once at start and then every 30 s, and applies each change locally at once,
// before the cloud confirms it, falling back on a fresh load when the cloud refuses.
class SensiboService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<SensiboDevice> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(std::optional<QString> selectedDeviceId READ selectedDeviceId WRITE setSelectedDeviceId NOTIFY
                   selectedDeviceIdChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString apiKey READ apiKey WRITE setApiKey NOTIFY apiKeyChanged)
    Q_PROPERTY(std::optional<QString> keySaveError READ keySaveError NOTIFY keySaveErrorChanged)
    Q_PROPERTY(std::optional<QString> connectError READ connectError NOTIFY connectErrorChanged)
    Q_PROPERTY(std::optional<QString> settingsProblem READ settingsProblem NOTIFY settingsProblemChanged)
    Q_PROPERTY(
        bool useMonochromeIcons READ useMonochromeIcons WRITE setUseMonochromeIcons NOTIFY useMonochromeIconsChanged)

public:
    static constexpr std::chrono::milliseconds defaultRefreshInterval{30'000};

    // Reads the stored key and icon choice; starts nothing.
    SensiboService(Preferences& preferences, QNetworkAccessManager* network, QString baseURL = defaultBaseURL(),
                   QObject* parent = nullptr);
    ~SensiboService() override;

    // The cloud's address: KELVO_SENSIBO_API_URL when set (development), else the built-in one.
    static QString defaultBaseURL();

    const QList<SensiboDevice>& devices() const { return m_devices; }
    const std::optional<QString>& selectedDeviceId() const { return m_selectedDeviceId; }
    bool isLoading() const { return m_isLoading; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    const QString& apiKey() const { return m_apiKey; }
    // Why the last saveApiKey() could not store the key, naming the file; absent once a save succeeds.
    const std::optional<QString>& keySaveError() const { return m_keySaveError; }
    // The message of a load that saveAndConnect() started and that failed; absent once a load succeeds. The user
    // asked whether this key works: the list an earlier key loaded does not answer that.
    const std::optional<QString>& connectError() const { return m_connectError; }
    // What keeps the settings from being saved (the preference store's problem), for the views to show.
    std::optional<QString> settingsProblem() const;
    bool useMonochromeIcons() const { return m_useMonochromeIcons; }
    const QString& baseURL() const { return m_client.baseURL(); }

    // Plain writes: no load, no storing.
    void setSelectedDeviceId(std::optional<QString> id);
    void setApiKey(const QString& key);
    void setUseMonochromeIcons(bool monochrome);

    // Stores `apiKey` exactly as typed, for the next start. A refusal changes nothing for this run, which keeps
    // using the key; it is kept in keySaveError. Reports whether the key was stored.
    bool saveApiKey();
    // Save & Connect: stores the key, loads the devices with it and restarts the refresh, whatever the outcome.
    QCoro::Task<> saveAndConnect();

    // Derived on every read.
    std::optional<SensiboDevice> selectedDevice() const;
    QString menuBarIconName() const;
    QStringList availableModes() const;
    QStringList availableFanLevels() const;
    QStringList availableSwingModes() const;
    QStringList availableHorizontalSwingModes() const;
    QStringList availableLightModes() const;
    std::optional<std::pair<qint64, qint64>> temperatureRange() const;

    // The first load and the start of the periodic refresh, at most once per run, and only with a key.
    QCoro::Task<> initialLoad();
    // One device-list load.
    QCoro::Task<> fetchDevices();
    // Replaces the periodic refresh: loads at once, then 30 s after each load ends.
    void startRefreshTask();
    // The devices changed elsewhere: loads them now and restarts the refresh from there. Asked while that load
    // runs, it loads once more when it ends, however often it was asked: one load at a time, one waiting at most.
    void requestRefresh();
    // Changes one setting of the selected device: locally at once, then at the cloud.
    QCoro::Task<> updateACState(ACSetting setting, ACValue value);

    // The selected device's timer, Climate React and history, fetched when the panel shows it.
    DeviceFeatures& features() { return m_features; }
    const DeviceFeatures& features() const { return m_features; }

    // For tests: the pause between refreshes.
    void setRefreshInterval(std::chrono::milliseconds interval) { m_refreshInterval = interval; }
    // For tests: how long one request may stay silent, and how long it may take in all.
    void setRequestTimeout(int ms) { m_client.setTimeout(ms); }
    void setRequestDeadline(int ms) { m_client.setDeadline(ms); }
    bool hasStartedInitialLoad() const { return m_hasStartedInitialLoad; }

Q_SIGNALS:
    void devicesChanged();
    void selectedDeviceIdChanged();
    void isLoadingChanged();
    void errorMessageChanged();
    void apiKeyChanged();
    void keySaveErrorChanged();
    void connectErrorChanged();
    void settingsProblemChanged();
    void useMonochromeIconsChanged();

private:
    friend class DeviceFeatures; // its changes report to the same error line, through the same client

    // The running refresh loop: cancelled when replaced; whether its load is running, and whether another was
    // asked for meanwhile.
    struct RefreshLoop {
        CancelToken cancel;
        bool loading = false;
        bool reloadAsked = false;
    };

    // One load; gives the failure's message, or nothing when it succeeded or was cancelled.
    QCoro::Task<std::optional<QString>> fetchDevices(CancelToken cancel);
    static QCoro::Task<> refreshLoop(QPointer<SensiboService> service, std::shared_ptr<RefreshLoop> loop,
                                     std::chrono::milliseconds interval);
    const SensiboDevice* findSelectedDevice() const; // null when none is selected or it is gone
    int indexOfDevice(const QString& id) const;
    void replaceState(const QString& deviceId, std::optional<ACState> state);
    void setIsLoading(bool loading);
    void setErrorMessage(std::optional<QString> message);

    Preferences& m_preferences;
    SensiboClient m_client;
    QList<SensiboDevice> m_devices;
    std::optional<QString> m_selectedDeviceId;
    bool m_isLoading = false;
    std::optional<QString> m_errorMessage;
    QString m_apiKey;
    std::optional<QString> m_keySaveError;
    std::optional<QString> m_connectError;
    bool m_useMonochromeIcons = false;

    // Cancelled when the service goes: ends every transfer it started, so that none waits on a reply for ever.
    CancelToken m_lifetime;
    std::shared_ptr<RefreshLoop> m_refreshTask;
    bool m_hasStartedInitialLoad = false;
    std::chrono::milliseconds m_refreshInterval = defaultRefreshInterval;
    DeviceFeatures m_features{*this};
};
