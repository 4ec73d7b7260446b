#pragma once

#include "platform/CancelToken.h"
#include "service/HttpTransfer.h"
#include "updates/RichText.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class Preferences;
class QNetworkAccessManager;

// What a test replaces.
struct UpdateServiceHooks {
    std::chrono::milliseconds dailyInterval = std::chrono::hours(24);
    std::chrono::milliseconds transferTimeout = std::chrono::seconds(60);  // the longest silence of the download
    std::chrono::milliseconds transferDeadline = std::chrono::seconds(60); // the longest the whole download may take
    // Left empty, each does what the program ships with:
    std::function<QDateTime()> clock;         // the current time
    std::function<void(const QString&)> log;  // each "[Update]" line to standard output, flushed at once
    std::function<void(const QUrl&)> openUrl; // QDesktopServices::openUrl
};

// Tells the user that a new version exists. The maker publishes a short Markdown notice on its site; the service
// fetches it at launch and once a day, and when the text differs from the one seen last it renders it (with
// its addresses linked) and asks for the update alert. There are no version numbers: a new notice is the news.
class UpdateService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(std::optional<RichText> updateText READ updateText WRITE setUpdateText NOTIFY updateTextChanged)
    Q_PROPERTY(bool showUpdateAlert READ showUpdateAlert WRITE setShowUpdateAlert NOTIFY showUpdateAlertChanged)
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(bool autoCheckForUpdates READ autoCheckForUpdates WRITE setAutoCheckForUpdates NOTIFY
                   autoCheckForUpdatesChanged)

public:
    // `site` is the maker's site, e.g. https://example.com; the notice and the download live under it.
    // `network` is shared and must outlive every check.
    UpdateService(Preferences& preferences, QNetworkAccessManager* network, QUrl site, UpdateServiceHooks hooks = {},
                  QObject* parent = nullptr);
    ~UpdateService() override;

    // KELVO_SITE_URL when set (tests and demos), otherwise https:// and the maker's host of this build.
    static QUrl defaultSiteUrl();

    QUrl noticeUrl() const;   // invalid when the site address is not an http(s) address
    QUrl downloadUrl() const; // likewise
    // False when the site is a reserved ".invalid" name, the placeholder of a build that no maker has set up:
    // a check then sends nothing and says so once.
    bool hasUpdateSite() const;

    std::optional<RichText> updateText() const { return m_updateText; }
    bool showUpdateAlert() const { return m_showUpdateAlert; }
    bool isChecking() const { return m_isChecking; }
    bool autoCheckForUpdates() const { return m_autoCheckForUpdates; }

    // Written by the alert's buttons and by the settings window. The settings window also stores
    // autoCheckForUpdates; the service only reads it once, at creation.
    void setUpdateText(const std::optional<RichText>& text);
    void setShowUpdateAlert(bool show);
    void setAutoCheckForUpdates(bool enabled);

    // The first check of a run: on the very first launch the notice is recorded as seen without being shown.
    // Runs whatever autoCheckForUpdates says, then starts the daily checks.
    QCoro::Task<> checkOnLaunch();
    // Fetches the notice and raises the alert when its text changed since the last one seen. Never fails to
    // its caller; what happened goes to the log. Checks do not guard against each other.
    QCoro::Task<> checkForUpdates(bool suppressAlert);
    // (Re)starts the daily task: every interval after the previous check ended, a check, unless automatic checks
    // are off at that moment. A task it replaces ends without checking.
    void startPeriodicChecks();

    // Opens the newest version's archive in the browser.
    void openDownload();
    // Opens a link of the notice; only http and https addresses are ever opened.
    void openLink(const QUrl& url);

    // "5 minutes ago" for the last check that received a notice; absent when there was none.
    std::optional<QString> lastCheckedDescription() const;

Q_SIGNALS:
    void updateTextChanged();
    void showUpdateAlertChanged();
    void isCheckingChanged();
    void autoCheckForUpdatesChanged();

private:
    static QCoro::Task<> runPeriodicChecks(QPointer<UpdateService> service, CancelToken token,
                                           std::chrono::milliseconds interval);
    QUrl siteAddress(const QString& path) const;
    void log(const QString& line) const;

    Preferences& m_preferences;
    QNetworkAccessManager* m_network;
    HttpTransfer m_transfer;
    QUrl m_site;
    UpdateServiceHooks m_hooks;

    std::optional<RichText> m_updateText;
    bool m_showUpdateAlert = false;
    bool m_isChecking = false;
    bool m_autoCheckForUpdates = true;
    // Cancelled when the service goes: ends a check's transfer, so that it never waits on a reply for ever.
    CancelToken m_lifetime;
    bool m_toldNoUpdateSite = false;
    std::optional<CancelToken> m_periodicTask;
};
