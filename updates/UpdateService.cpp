#include "updates/UpdateService.h"

#include "platform/Logging.h"
#include "platform/Observable.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "platform/Sleep.h"
#include "updates/Linkify.h"
#include "updates/RelativeDate.h"

#include <QDesktopServices>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <cstdio>

namespace {
constexpr auto noticePath = "/ac/updates.txt";
constexpr auto downloadPath = "/ac/Kelvo.zip";
// A notice is a few lines; anything this big is not one, and is never held whole.
constexpr qsizetype maxNoticeBytes = 1024 * 1024;
constexpr int loggedCharacters = 100;

void writeToStandardOutput(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}

// The first `count` characters as a reader counts them (grapheme clusters), so an emoji or an accented letter
// is never cut in half.
QString firstCharacters(const QString& text, int count = loggedCharacters)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int n = 0; n < count; ++n) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            break;
        }
        end = next;
    }
    return text.left(end);
}

std::optional<QString> decodeUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

QLatin1String boolText(bool value)
{
    return value ? QLatin1String("true") : QLatin1String("false");
}
} // namespace

UpdateService::UpdateService(Preferences& preferences, QNetworkAccessManager* network, QUrl site,
                             UpdateServiceHooks hooks, QObject* parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_network(network)
    , m_transfer(network, lcUpdates)
    , m_site(std::move(site))
    , m_hooks(std::move(hooks))
{
    m_transfer.setTimeout(static_cast<int>(m_hooks.transferTimeout.count()));
    m_transfer.setDeadline(static_cast<int>(m_hooks.transferDeadline.count()));
    if (!m_hooks.log) {
        m_hooks.log = writeToStandardOutput;
    }
    if (!m_hooks.openUrl) {
        m_hooks.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    }
    if (!m_hooks.clock) {
        m_hooks.clock = [] { return QDateTime::currentDateTimeUtc(); };
    }
    const auto stored = m_preferences.value(QLatin1String(PreferenceKeys::autoCheckForUpdates));
    m_autoCheckForUpdates = !stored || !std::holds_alternative<bool>(*stored) || std::get<bool>(*stored);
}

UpdateService::~UpdateService()
{
    if (m_periodicTask) {
        m_periodicTask->cancel();
    }
    // Aborts a check still waiting for its answer; it finds the service going and ends, changing nothing.
    m_lifetime.cancel();
}

QUrl UpdateService::defaultSiteUrl()
{
    const QString override = qEnvironmentVariable("KELVO_SITE_URL");
    if (!override.isEmpty()) {
        return QUrl(override);
    }
    return QUrl(QStringLiteral("https://" KELVO_MAKER_HOST));
}

QUrl UpdateService::noticeUrl() const
{
    return siteAddress(QLatin1String(noticePath));
}

bool UpdateService::hasUpdateSite() const
{
    // RFC 6761: no name under .invalid ever resolves, so asking would only ever log a lookup failure.
    const QString host = m_site.host();
    return host != QLatin1String("invalid") && !host.endsWith(QLatin1String(".invalid"));
}

QUrl UpdateService::downloadUrl() const
{
    return siteAddress(QLatin1String(downloadPath));
}

QUrl UpdateService::siteAddress(const QString& path) const
{
    if (!isWebAddress(m_site)) {
        return {};
    }
    QUrl address = m_site;
    QString base = address.path();
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    address.setPath(base + path);
    address.setQuery(QString());
    address.setFragment(QString());
    return address.isValid() ? address : QUrl();
}

void UpdateService::setUpdateText(const std::optional<RichText>& text)
{
    assignAndNotify(this, m_updateText, text, &UpdateService::updateTextChanged);
}

void UpdateService::setShowUpdateAlert(bool show)
{
    assignAndNotify(this, m_showUpdateAlert, show, &UpdateService::showUpdateAlertChanged);
}

void UpdateService::setAutoCheckForUpdates(bool enabled)
{
    assignAndNotify(this, m_autoCheckForUpdates, enabled, &UpdateService::autoCheckForUpdatesChanged);
}

void UpdateService::log(const QString& line) const
{
    m_hooks.log(line);
}

QCoro::Task<> UpdateService::checkOnLaunch()
{
    const QString launchedKey = QLatin1String(PreferenceKeys::hasLaunchedBefore);
    const bool launchedBefore = m_preferences.boolValue(launchedKey);
    if (!launchedBefore) {
        // Stored before the check, so that a first launch without a network still counts as the first.
        m_preferences.setBool(launchedKey, true);
    }
    QPointer<UpdateService> self(this);
    co_await checkForUpdates(!launchedBefore);
    // A check aborted by the service's destructor resumes here while it is still being destroyed (the pointer is
    // not cleared yet): no daily loop is started for a service that is going.
    if (!self || m_lifetime.isCancelled()) {
        co_return;
    }
    startPeriodicChecks();
}

QCoro::Task<> UpdateService::checkForUpdates(bool suppressAlert)
{
    const auto endCheck = [this] { assignAndNotify(this, m_isChecking, false, &UpdateService::isCheckingChanged); };
    assignAndNotify(this, m_isChecking, true, &UpdateService::isCheckingChanged);

    if (!hasUpdateSite()) {
        if (!m_toldNoUpdateSite) {
            m_toldNoUpdateSite = true;
            log(QStringLiteral("[Update] No update site in this build"));
        }
        endCheck();
        co_return;
    }
    const QUrl address = noticeUrl();
    if (!address.isValid() || !m_network) {
        endCheck();
        co_return;
    }
    // An error page is logged with its size, like a notice; a site may move its notice; and the notice is a plain
    // GET with no header of ours.
    const HttpRequest request{.url = address,
                              .maxAnswerSize = maxNoticeBytes,
                              .readEveryStatus = true,
                              .followRedirects = true,
                              .askForGzip = false};
    QPointer<UpdateService> self(this);
    const HttpResult answer = co_await m_transfer.send(request, m_lifetime);
    if (!self || m_lifetime.isCancelled()) {
        co_return;
    }

    // Anything cut off at the size limit is no notice; it is counted as far as it was read.
    const bool tooLarge = answer.failure == HttpResult::Failure::TooLarge;
    if (answer.failed() && !tooLarge) {
        log(QStringLiteral("[Update] Network error: ") + answer.error);
        endCheck();
        co_return;
    }
    const int status = answer.status.value_or(-1);
    log(QStringLiteral("[Update] HTTP %1, %2 bytes, suppressAlert=%3")
            .arg(status)
            .arg(tooLarge ? answer.received : answer.body.size())
            .arg(boolText(suppressAlert)));

    // An error page is not a notice.
    const bool answered = status >= 200 && status <= 299 && !tooLarge;
    const std::optional<QString> decoded = answered ? decodeUtf8(answer.body) : std::nullopt;
    const QString text = decoded ? decoded->trimmed() : QString();
    if (text.isEmpty()) {
        if (!tooLarge) {
            m_transfer.logProblem(request, !answered  ? QStringLiteral("not a notice: status %1").arg(status)
                                           : !decoded ? QStringLiteral("not a notice: invalid UTF-8")
                                                      : QStringLiteral("not a notice: empty"));
        }
        log(QStringLiteral("[Update] Empty or unreadable response"));
        endCheck();
        co_return;
    }

    m_preferences.setDate(QLatin1String(PreferenceKeys::lastUpdateCheckDate), m_hooks.clock());
    const std::optional<QString> previous = m_preferences.text(QLatin1String(PreferenceKeys::lastUpdateText));
    log(QStringLiteral("[Update] Fetched text: ") + firstCharacters(text) + QStringLiteral("..."));
    log(QStringLiteral("[Update] Previous text: ") + (previous ? firstCharacters(*previous) : QStringLiteral("nil")) +
        QStringLiteral("..."));
    // The same characters composed differently are the same notice.
    const bool changed = !previous || previous->normalized(QString::NormalizationForm_C) !=
                                          text.normalized(QString::NormalizationForm_C);
    log(QStringLiteral("[Update] Changed: ") + boolText(changed));
    if (!changed) {
        setUpdateText(std::nullopt);
        log(QStringLiteral("[Update] No change, cleared alert"));
        endCheck();
        co_return;
    }

    m_preferences.setText(QLatin1String(PreferenceKeys::lastUpdateText), text);
    if (suppressAlert) {
        log(QStringLiteral("[Update] Suppressed (first launch)"));
        endCheck();
        co_return;
    }

    const QString linked = linkify(text);
    log(QStringLiteral("[Update] Linkified: ") + firstCharacters(linked) + QStringLiteral("..."));
    // QTextDocument's Markdown reader takes any input (what it cannot parse stays text), so no check ends here
    // with "[Update] Failed to parse markdown"; that line belongs to a reader that can reject a notice.
    setUpdateText(richTextFromMarkdown(linked));
    setShowUpdateAlert(true);
    log(QStringLiteral("[Update] Showing update alert"));
    endCheck();
}

void UpdateService::startPeriodicChecks()
{
    if (m_periodicTask) {
        m_periodicTask->cancel();
    }
    m_periodicTask = CancelToken();
    runPeriodicChecks(QPointer<UpdateService>(this), *m_periodicTask, m_hooks.dailyInterval);
}

QCoro::Task<> UpdateService::runPeriodicChecks(QPointer<UpdateService> service, CancelToken token,
                                               std::chrono::milliseconds interval)
{
    while (!token.isCancelled()) {
        // A sleep cut short means the task was replaced or its service is going away: that wake-up does not
        // check. (It also ends the task if no timer could be set up, rather than checking in a tight loop.)
        // The result goes through a variable: g++ 12 resumed a freed frame with the co_await inside the if.
        const bool slept = co_await sleepFor(interval, token);
        if (!slept) {
            co_return;
        }
        if (service && service->autoCheckForUpdates()) {
            co_await service->checkForUpdates(false);
        }
    }
}

void UpdateService::openDownload()
{
    openLink(downloadUrl());
}

void UpdateService::openLink(const QUrl& url)
{
    if (isWebAddress(url)) {
        m_hooks.openUrl(url);
    }
}

std::optional<QString> UpdateService::lastCheckedDescription() const
{
    const auto stored = m_preferences.value(QLatin1String(PreferenceKeys::lastUpdateCheckDate));
    if (!stored || !std::holds_alternative<QDateTime>(*stored)) {
        return std::nullopt;
    }
    const QString description = describeRelative(std::get<QDateTime>(*stored), m_hooks.clock());
    if (description.isEmpty()) {
        return std::nullopt;
    }
    return description;
}
