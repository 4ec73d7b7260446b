#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/FakeSite.h"
#include "updates/UpdateService.h"

#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <unicode/locid.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
const QString hasLaunchedBefore = QLatin1String(PreferenceKeys::hasLaunchedBefore);
const QString lastUpdateText = QLatin1String(PreferenceKeys::lastUpdateText);
const QString lastUpdateCheckDate = QLatin1String(PreferenceKeys::lastUpdateCheckDate);
const QString autoCheckForUpdates = QLatin1String(PreferenceKeys::autoCheckForUpdates);

const QDateTime launchTime(QDate(2026, 12, 7), QTime(19, 0), Qt::UTC);

// Waits for a check (or any task) to end, however it ends.
bool runToEnd(QCoro::Task<> task)
{
    bool done = false;
    QObject context;
    QCoro::connect(std::move(task), &context, [&done] { done = true; });
    return QTest::qWaitFor([&done] { return done; }, 20000);
}

// An address on 127.0.0.1 where nothing listens.
QUrl refusingSite()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

// One launch of the program: a preference store in a temporary folder, the maker's site on loopback, and the
// service with its log, clock and browser captured.
class Launch
{
public:
    Launch()
    {
        m_site.listen();
        QVERIFY(m_site.port() != 0);
    }

    Preferences& preferences() { return m_preferences; }
    FakeSite& site() { return m_site; }
    const QStringList& log() const { return m_log; }
    const QStringList& events() const { return m_events; }
    const QList<QUrl>& opened() const { return m_opened; }
    void clearLog()
    {
        m_log.clear();
        m_events.clear();
    }
    void setNow(const QDateTime& now) { m_now = now; }
    QDateTime now() const { return m_now; }

    // What a later run of the program would read back from disk.
    Preferences stored() const { return Preferences(m_directory.path()); }

    enum class Log { Captured, Shipped };

    UpdateService& start(UpdateServiceHooks hooks = {}, std::optional<QUrl> site = std::nullopt,
                         Log logTo = Log::Captured)
    {
        if (logTo == Log::Captured) {
            hooks.log = [this](const QString& line) {
                m_log.append(line);
                m_events.append(line);
            };
        }
        hooks.clock = [this] { return m_now; };
        hooks.openUrl = [this](const QUrl& url) { m_opened.append(url); };
        m_service = std::make_unique<UpdateService>(m_preferences, &m_network, site.value_or(QUrl(m_site.baseUrl())),
                                                    std::move(hooks));
        UpdateService* service = m_service.get();
        QObject::connect(service, &UpdateService::updateTextChanged, service, [this, service] {
            m_events.append(service->updateText() ? QStringLiteral("(updateText set)")
                                                  : QStringLiteral("(updateText cleared)"));
        });
        QObject::connect(service, &UpdateService::showUpdateAlertChanged, service, [this, service] {
            m_events.append(QStringLiteral("(showUpdateAlert %1)").arg(service->showUpdateAlert()));
        });
        QObject::connect(service, &UpdateService::isCheckingChanged, service, [this, service] {
            m_events.append(QStringLiteral("(isChecking %1)").arg(service->isChecking()));
        });
        return *service;
    }

    UpdateService& service() { return *m_service; }
    void stop() { m_service.reset(); }

private:
    QTemporaryDir m_directory;
    Preferences m_preferences{m_directory.path()};
    QNetworkAccessManager m_network;
    FakeSite m_site;
    QStringList m_log;
    QStringList m_events;
    QList<QUrl> m_opened;
    QDateTime m_now = launchTime;
    std::unique_ptr<UpdateService> m_service;
};

// Sends file descriptor 1 into a temporary file for as long as it lives.
class CapturedStandardOutput
{
public:
    CapturedStandardOutput()
    {
        m_file.open();
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~CapturedStandardOutput() { restore(); }

    QByteArray restore()
    {
        if (m_saved >= 0) {
            std::fflush(stdout);
            ::dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
            m_saved = -1;
        }
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// Stores a value with the type it has: Bool, text or date; an invalid value stores nothing.
void store(Preferences& preferences, const QString& key, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        preferences.setBool(key, value.toBool());
        break;
    case QMetaType::QString:
        preferences.setText(key, value.toString());
        break;
    case QMetaType::QDateTime:
        preferences.setDate(key, value.toDateTime());
        break;
    default:
        break;
    }
}

QString repeated(QChar c, int count)
{
    return QString(count, c);
}
} // namespace

class tst_UpdateService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void startsFromTheStoredAutomaticCheckChoice_data();
    void startsFromTheStoredAutomaticCheckChoice();
    void settersNotifyOnlyOnChange();

    void firstLaunchRecordsTheNoticeWithoutShowingIt();
    void secondLaunchWithTheSameNoticeClearsThePendingText();
    void firstLaunchWithoutNetworkStillCountsAsTheFirst();
    void changedNoticeIsShownAsLinkedRichText();
    void noticesDifferingOnlyInCompositionAreEqual();
    void logShowsTheFirstHundredCharacters_data();
    void logShowsTheFirstHundredCharacters();

    void failedChecksChangeNothing_data();
    void failedChecksChangeNothing();
    void oversizedNoticeIsDroppedUnread();
    void noticeOfExactlyTheLimitIsRead();
    void siteWithoutWebAddressChecksNothing();
    void placeholderSiteSendsNothingAndSaysSoOnce();

    void dailyChecksHonourTheAutomaticCheckChoice();
    void restartingDailyChecksReplacesTheRunningTask();
    void dailyChecksEndWithTheService();
    void checkInFlightEndsWithTheService();

    void opensOnlyWebAddresses_data();
    void opensOnlyWebAddresses();
    void downloadOpensTheArchiveOnTheSite();
    void siteAddressComesFromTheEnvironment();

    void lastCheckedDescription_data();
    void lastCheckedDescription();
    void checkRecordsItsDateFromTheClock();
    void defaultLogWritesEachLineToStandardOutput();
};

void tst_UpdateService::initTestCase()
{
    // Relative dates are written in the user's language; the tests read English.
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    QVERIFY(U_SUCCESS(status));
}

void tst_UpdateService::startsFromTheStoredAutomaticCheckChoice_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("expected");

    QTest::newRow("nothing stored") << QVariant() << true;
    QTest::newRow("stored true") << QVariant(true) << true;
    QTest::newRow("stored false") << QVariant(false) << false;
    QTest::newRow("text is no Bool") << QVariant(QStringLiteral("false")) << true;
}

void tst_UpdateService::startsFromTheStoredAutomaticCheckChoice()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, expected);

    Launch launch;
    store(launch.preferences(), autoCheckForUpdates, stored);
    UpdateService& service = launch.start();
    QCOMPARE(service.autoCheckForUpdates(), expected);
    QCOMPARE(service.updateText(), std::nullopt);
    QCOMPARE(service.showUpdateAlert(), false);
    QCOMPARE(service.isChecking(), false);
    QVERIFY(launch.site().requests().isEmpty());
}

void tst_UpdateService::settersNotifyOnlyOnChange()
{
    Launch launch;
    UpdateService& service = launch.start();
    QSignalSpy alert(&service, &UpdateService::showUpdateAlertChanged);
    QSignalSpy text(&service, &UpdateService::updateTextChanged);
    QSignalSpy automatic(&service, &UpdateService::autoCheckForUpdatesChanged);

    service.setShowUpdateAlert(false);
    service.setShowUpdateAlert(true);
    service.setShowUpdateAlert(true);
    QCOMPARE(alert.count(), 1);

    const RichText notice{QStringLiteral("<p>Kelvo 2</p>")};
    service.setUpdateText(std::nullopt);
    service.setUpdateText(notice);
    service.setUpdateText(notice);
    service.setUpdateText(RichText{QStringLiteral("<p>Kelvo 3</p>")});
    service.setUpdateText(std::nullopt);
    QCOMPARE(text.count(), 3);

    service.setAutoCheckForUpdates(true);
    service.setAutoCheckForUpdates(false);
    service.setAutoCheckForUpdates(false);
    QCOMPARE(automatic.count(), 1);
    // The settings window stores the choice; the service does not.
    QVERIFY(!launch.stored().value(autoCheckForUpdates).has_value());
}

void tst_UpdateService::firstLaunchRecordsTheNoticeWithoutShowingIt()
{
    Launch launch;
    launch.site().setNotice("\n  Kelvo 2 is out: https://example.com/get  \n\n");
    UpdateService& service = launch.start();

    QVERIFY(runToEnd(service.checkOnLaunch()));

    QCOMPARE(launch.log(), (QStringList{
                               QStringLiteral("[Update] HTTP 200, 46 bytes, suppressAlert=true"),
                               QStringLiteral("[Update] Fetched text: Kelvo 2 is out: https://example.com/get..."),
                               QStringLiteral("[Update] Previous text: nil..."),
                               QStringLiteral("[Update] Changed: true"),
                               QStringLiteral("[Update] Suppressed (first launch)"),
                           }));
    const Preferences stored = launch.stored();
    QCOMPARE(stored.boolValue(hasLaunchedBefore), true);
    QCOMPARE(stored.text(lastUpdateText), QStringLiteral("Kelvo 2 is out: https://example.com/get"));
    const auto date = stored.value(lastUpdateCheckDate);
    QVERIFY(date && std::holds_alternative<QDateTime>(*date));
    QCOMPARE(std::get<QDateTime>(*date), launch.now());
    QCOMPARE(service.updateText(), std::nullopt);
    QCOMPARE(service.showUpdateAlert(), false);
    QCOMPARE(service.isChecking(), false);

    // A plain GET of the notice and nothing else.
    QCOMPARE(launch.site().requests().size(), 1);
    const FakeHttpServer::Request& request = launch.site().requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/ac/updates.txt"));
    QVERIFY(request.body.isEmpty());
    for (const QByteArray& name : request.headers.keys()) {
        static const QList<QByteArray> clientDefaults{"host", "connection", "accept-encoding", "accept-language",
                                                      "user-agent"};
        QVERIFY2(clientDefaults.contains(name), name.constData());
    }
}

void tst_UpdateService::secondLaunchWithTheSameNoticeClearsThePendingText()
{
    Launch launch;
    launch.preferences().setBool(hasLaunchedBefore, true);
    launch.preferences().setText(lastUpdateText, QStringLiteral("Kelvo 2 is out."));
    // Surrounding blank lines and spaces are no change.
    launch.site().setNotice("\r\n\tKelvo 2 is out. \n");
    UpdateService& service = launch.start();
    service.setUpdateText(RichText{QStringLiteral("<p>pending</p>")});
    service.setShowUpdateAlert(true);
    launch.clearLog();

    QVERIFY(runToEnd(service.checkOnLaunch()));

    QCOMPARE(launch.events(), (QStringList{
                                  QStringLiteral("(isChecking 1)"),
                                  QStringLiteral("[Update] HTTP 200, 20 bytes, suppressAlert=false"),
                                  QStringLiteral("[Update] Fetched text: Kelvo 2 is out...."),
                                  QStringLiteral("[Update] Previous text: Kelvo 2 is out...."),
                                  QStringLiteral("[Update] Changed: false"),
                                  QStringLiteral("(updateText cleared)"),
                                  QStringLiteral("[Update] No change, cleared alert"),
                                  QStringLiteral("(isChecking 0)"),
                              }));
    QCOMPARE(service.updateText(), std::nullopt);
    QCOMPARE(service.showUpdateAlert(), true); // a check never closes the alert
    const Preferences stored = launch.stored();
    QCOMPARE(stored.text(lastUpdateText), QStringLiteral("Kelvo 2 is out."));
    QVERIFY(stored.value(lastUpdateCheckDate).has_value());
}

void tst_UpdateService::firstLaunchWithoutNetworkStillCountsAsTheFirst()
{
    Launch launch;
    launch.site().setNotice("Kelvo 2 is out.");
    launch.start({}, refusingSite());
    QVERIFY(runToEnd(launch.service().checkOnLaunch()));
    QCOMPARE(launch.log(), QStringList{QStringLiteral("[Update] Network error: Connection refused")});
    QCOMPARE(launch.stored().boolValue(hasLaunchedBefore), true);
    launch.stop();

    // The next launch reaches the site: the notice is news.
    launch.clearLog();
    UpdateService& service = launch.start();
    QVERIFY(runToEnd(service.checkOnLaunch()));
    QCOMPARE(launch.log().first(), QStringLiteral("[Update] HTTP 200, 15 bytes, suppressAlert=false"));
    QCOMPARE(launch.log().last(), QStringLiteral("[Update] Showing update alert"));
    QVERIFY(service.showUpdateAlert());
}

void tst_UpdateService::changedNoticeIsShownAsLinkedRichText()
{
    Launch launch;
    launch.preferences().setBool(hasLaunchedBefore, true);
    launch.preferences().setText(lastUpdateText, QStringLiteral("Kelvo 1.9 is out."));
    launch.site().setNotice("**Kelvo 2** is out: https://example.com/get. Notes: [example.com/notes]\n");
    UpdateService& service = launch.start();

    QVERIFY(runToEnd(service.checkForUpdates(false)));

    QCOMPARE(launch.events(),
             (QStringList{
                 QStringLiteral("(isChecking 1)"),
                 QStringLiteral("[Update] HTTP 200, 72 bytes, suppressAlert=false"),
                 QStringLiteral("[Update] Fetched text: **Kelvo 2** is out: https://example.com/get. Notes: "
                                "[example.com/notes]..."),
                 QStringLiteral("[Update] Previous text: Kelvo 1.9 is out...."),
                 QStringLiteral("[Update] Changed: true"),
                 QStringLiteral("[Update] Linkified: **Kelvo 2** is out: [https://example.com/get.](https://"
                                "example.com/get.) Notes: [example.com/notes](..."),
                 QStringLiteral("(updateText set)"),
                 QStringLiteral("(showUpdateAlert 1)"),
                 QStringLiteral("[Update] Showing update alert"),
                 QStringLiteral("(isChecking 0)"),
             }));
    // The plain text is what counts as seen, not the rewritten one.
    QCOMPARE(launch.stored().text(lastUpdateText),
             QStringLiteral("**Kelvo 2** is out: https://example.com/get. Notes: [example.com/notes]"));
    QVERIFY(service.showUpdateAlert());
    QVERIFY(service.updateText());
    const QString html = service.updateText()->html;
    QVERIFY(html.contains(QStringLiteral("<a href=\"https://example.com/get.\">")));
    QVERIFY(html.contains(QStringLiteral("<a href=\"https://example.com/notes\">")));
    QVERIFY(html.contains(QStringLiteral("font-weight:700")));
}

void tst_UpdateService::noticesDifferingOnlyInCompositionAreEqual()
{
    Launch launch;
    launch.preferences().setBool(hasLaunchedBefore, true);
    launch.preferences().setText(lastUpdateText, QStringLiteral("Caf\u00e9 mode"));
    launch.site().setNotice(QStringLiteral("Cafe\u0301 mode").toUtf8());
    UpdateService& service = launch.start();
    QVERIFY(runToEnd(service.checkForUpdates(false)));
    QVERIFY(launch.log().contains(QStringLiteral("[Update] Changed: false")));
    QCOMPARE(service.showUpdateAlert(), false);
}

void tst_UpdateService::logShowsTheFirstHundredCharacters_data()
{
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("logged");

    const QString family = QStringLiteral("👨‍👩‍👧"); // one character, five code points
    const QString decomposed = QStringLiteral("e\u0301");
    QTest::newRow("short") << QStringLiteral("Short") << QStringLiteral("Short");
    QTest::newRow("exactly 100") << repeated(QLatin1Char('a'), 100) << repeated(QLatin1Char('a'), 100);
    QTest::newRow("cut after 100") << repeated(QLatin1Char('a'), 150) << repeated(QLatin1Char('a'), 100);
    QTest::newRow("emoji counts once") << repeated(QLatin1Char('a'), 99) + family + QStringLiteral("tail")
                                       << repeated(QLatin1Char('a'), 99) + family;
    QTest::newRow("combining marks stay with their letter") << decomposed.repeated(101) << decomposed.repeated(100);
}

void tst_UpdateService::logShowsTheFirstHundredCharacters()
{
    QFETCH(QString, notice);
    QFETCH(QString, logged);

    Launch launch;
    launch.preferences().setText(lastUpdateText, notice);
    launch.site().setNotice(notice.toUtf8());
    UpdateService& service = launch.start();
    QVERIFY(runToEnd(service.checkForUpdates(false)));
    QCOMPARE(launch.log().value(1), QStringLiteral("[Update] Fetched text: ") + logged + QStringLiteral("..."));
    QCOMPARE(launch.log().value(2), QStringLiteral("[Update] Previous text: ") + logged + QStringLiteral("..."));
}

void tst_UpdateService::failedChecksChangeNothing_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("failure"); // "", "refused", "drop", "slow" or "trickle"
    QTest::addColumn<QStringList>("expected");

    const QString unreadable = QStringLiteral("[Update] Empty or unreadable response");
    QTest::newRow("connection refused") << QByteArray() << 200 << QStringLiteral("refused")
                                        << QStringList{QStringLiteral("[Update] Network error: Connection refused")};
    QTest::newRow("connection dropped") << QByteArray("Kelvo 2") << 200 << QStringLiteral("drop")
                                        << QStringList{QStringLiteral("[Update] Network error: Connection closed")};
    QTest::newRow("timed out") << QByteArray("Kelvo 2") << 200 << QStringLiteral("slow")
                               << QStringList{QStringLiteral("[Update] Network error: The request timed out.")};
    // A byte every 20 ms keeps the silence timeout away; the whole download still ends at its deadline.
    QTest::newRow("trickling past the deadline")
        << QByteArray("Kelvo 2") << 200 << QStringLiteral("trickle")
        << QStringList{QStringLiteral("[Update] Network error: The request timed out.")};
    QTest::newRow("empty body") << QByteArray() << 200 << QString()
                                << QStringList{QStringLiteral("[Update] HTTP 200, 0 bytes, suppressAlert=false"),
                                               unreadable};
    QTest::newRow("white space only") << QStringLiteral(" \r\n\t\u2003\u00a0\n").toUtf8() << 200 << QString()
                                      << QStringList{QStringLiteral("[Update] HTTP 200, 10 bytes, suppressAlert=false"),
                                                     unreadable};
    QTest::newRow("invalid UTF-8") << QByteArray("Kelvo \xff\xfe 2") << 200 << QString()
                                   << QStringList{QStringLiteral("[Update] HTTP 200, 10 bytes, suppressAlert=false"),
                                                  unreadable};
    QTest::newRow("UTF-8 cut short") << QByteArray("Kelvo 2 \xe2\x82") << 200 << QString()
                                     << QStringList{QStringLiteral("[Update] HTTP 200, 10 bytes, suppressAlert=false"),
                                                    unreadable};
    QTest::newRow("not found page") << QByteArray("Not Found") << 404 << QString()
                                    << QStringList{QStringLiteral("[Update] HTTP 404, 9 bytes, suppressAlert=false"),
                                                   unreadable};
    QTest::newRow("server error page") << QByteArray("<h1>Oops</h1>") << 500 << QString()
                                       << QStringList{
                                              QStringLiteral("[Update] HTTP 500, 13 bytes, suppressAlert=false"),
                                              unreadable};
    QTest::newRow("no content") << QByteArray() << 204 << QString()
                                << QStringList{QStringLiteral("[Update] HTTP 204, 0 bytes, suppressAlert=false"),
                                               unreadable};
}

void tst_UpdateService::failedChecksChangeNothing()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, failure);
    QFETCH(QStringList, expected);

    Launch launch;
    launch.preferences().setBool(hasLaunchedBefore, true);
    launch.preferences().setText(lastUpdateText, QStringLiteral("Kelvo 1.9 is out."));
    launch.site().setNotice(body);
    launch.site().setStatus(status);
    launch.site().setDropConnection(failure == QLatin1String("drop"));
    UpdateServiceHooks hooks;
    if (failure == QLatin1String("slow")) {
        launch.site().setDelayMs(10000);
        hooks.transferTimeout = 200ms;
    }
    if (failure == QLatin1String("trickle")) {
        launch.site().setTrickleMs(20);
        hooks.transferDeadline = 300ms;
    }
    const RichText pending{QStringLiteral("<p>pending</p>")};
    UpdateService& service =
        launch.start(hooks, failure == QLatin1String("refused") ? std::optional<QUrl>(refusingSite()) : std::nullopt);
    service.setUpdateText(pending);
    const CapturedLog debug("kelvo.updates");

    QVERIFY(runToEnd(service.checkForUpdates(false)));

    QCOMPARE(launch.log(), expected);
    // Beside the "[Update]" lines, one debug line of kelvo.updates says what went wrong.
    QCOMPARE(debug.lines.size(), 1);
    QVERIFY2(debug.lines.first().startsWith(QStringLiteral("GET /ac/updates.txt: ")), qPrintable(debug.lines.first()));
    const Preferences stored = launch.stored();
    QCOMPARE(stored.text(lastUpdateText), QStringLiteral("Kelvo 1.9 is out."));
    QVERIFY(!stored.value(lastUpdateCheckDate).has_value());
    QCOMPARE(service.updateText(), pending);
    QCOMPARE(service.showUpdateAlert(), false);
    QCOMPARE(service.isChecking(), false);
}

void tst_UpdateService::oversizedNoticeIsDroppedUnread()
{
    Launch launch;
    constexpr qsizetype limit = 1024 * 1024;
    const QByteArray huge(8 * limit, 'a');
    launch.site().setNotice(huge);
    UpdateService& service = launch.start();

    QVERIFY(runToEnd(service.checkForUpdates(false)));

    QCOMPARE(launch.log().size(), 2);
    static const QRegularExpression httpLine(
        QStringLiteral(R"(^\[Update\] HTTP 200, (\d+) bytes, suppressAlert=false$)"));
    const QRegularExpressionMatch match = httpLine.match(launch.log().first());
    QVERIFY2(match.hasMatch(), qPrintable(launch.log().first()));
    // Reading stopped soon after the limit instead of taking in the whole answer.
    const qsizetype read = match.captured(1).toLongLong();
    QVERIFY2(read > limit && read < huge.size(), qPrintable(launch.log().first()));
    QCOMPARE(launch.log().last(), QStringLiteral("[Update] Empty or unreadable response"));
    QVERIFY(!launch.stored().text(lastUpdateText).has_value());
    QVERIFY(!launch.stored().value(lastUpdateCheckDate).has_value());
    QCOMPARE(service.isChecking(), false);
}

void tst_UpdateService::noticeOfExactlyTheLimitIsRead()
{
    Launch launch;
    launch.site().setNotice(QByteArray(1024 * 1024, 'a'));
    UpdateService& service = launch.start();
    QVERIFY(runToEnd(service.checkForUpdates(true)));
    QCOMPARE(launch.log().first(), QStringLiteral("[Update] HTTP 200, 1048576 bytes, suppressAlert=true"));
    QCOMPARE(launch.log().last(), QStringLiteral("[Update] Suppressed (first launch)"));
    QCOMPARE(launch.stored().text(lastUpdateText)->size(), 1024 * 1024);
}

void tst_UpdateService::siteWithoutWebAddressChecksNothing()
{
    Launch launch;
    UpdateService& service = launch.start({}, QUrl(QStringLiteral("ftp://127.0.0.1/")));
    QCOMPARE(service.noticeUrl(), QUrl());
    QVERIFY(runToEnd(service.checkForUpdates(false)));
    QCOMPARE(launch.events(), (QStringList{QStringLiteral("(isChecking 1)"), QStringLiteral("(isChecking 0)")}));
    service.openDownload();
    QVERIFY(launch.opened().isEmpty());
}

void tst_UpdateService::placeholderSiteSendsNothingAndSaysSoOnce()
{
    Launch launch;
    // The host is the one thing that tells a placeholder: the loopback site's port stays, so any request would land.
    QUrl placeholder(launch.site().baseUrl());
    placeholder.setHost(QStringLiteral("kelvo.invalid"));
    UpdateService& service = launch.start({}, placeholder);
    QVERIFY(!service.hasUpdateSite());
    QVERIFY(runToEnd(service.checkOnLaunch()));
    QVERIFY(runToEnd(service.checkForUpdates(false)));
    QCOMPARE(launch.log(), QStringList{QStringLiteral("[Update] No update site in this build")});
    QVERIFY(!service.isChecking());
    QVERIFY(launch.site().requests().isEmpty());
    QVERIFY(!launch.stored().value(lastUpdateCheckDate).has_value());
}

void tst_UpdateService::dailyChecksHonourTheAutomaticCheckChoice()
{
    Launch launch;
    launch.preferences().setBool(hasLaunchedBefore, true);
    launch.preferences().setBool(autoCheckForUpdates, false);
    launch.site().setNotice("Kelvo 2");
    UpdateServiceHooks hooks;
    hooks.dailyInterval = 20ms;
    UpdateService& service = launch.start(hooks);

    // The launch check runs whatever the choice says.
    QVERIFY(runToEnd(service.checkOnLaunch()));
    QCOMPARE(launch.site().requests().size(), 1);

    // Switched off, the wake-ups pass without a request.
    QTest::qWait(300);
    QCOMPARE(launch.site().requests().size(), 1);

    // Switched back on, the next wake-up checks, and the one after that.
    launch.clearLog();
    service.setAutoCheckForUpdates(true);
    QTRY_VERIFY(launch.site().requests().size() >= 3);
    QCOMPARE(launch.log().first(), QStringLiteral("[Update] HTTP 200, 7 bytes, suppressAlert=false"));

    // And off again: the loop keeps running without checking.
    service.setAutoCheckForUpdates(false);
    QTRY_VERIFY(!service.isChecking());
    const qsizetype settled = launch.site().requests().size();
    QTest::qWait(300);
    QCOMPARE(launch.site().requests().size(), settled);
}

void tst_UpdateService::restartingDailyChecksReplacesTheRunningTask()
{
    Launch launch;
    launch.preferences().setBool(hasLaunchedBefore, true);
    launch.site().setNotice("Kelvo 2");
    UpdateServiceHooks hooks;
    hooks.dailyInterval = 40ms;
    UpdateService& service = launch.start(hooks);

    // Each check that ends sees exactly one more request than the one before: one loop runs, not four.
    QList<qsizetype> requestsAtEnd;
    connect(&service, &UpdateService::isCheckingChanged, &service, [&] {
        if (!service.isChecking()) {
            requestsAtEnd.append(launch.site().requests().size());
        }
    });
    for (int n = 0; n < 4; ++n) {
        service.startPeriodicChecks();
    }
    QTRY_VERIFY(requestsAtEnd.size() >= 3);
    QCOMPARE(requestsAtEnd.mid(0, 3), (QList<qsizetype>{1, 2, 3}));
}

void tst_UpdateService::dailyChecksEndWithTheService()
{
    Launch launch;
    launch.preferences().setBool(hasLaunchedBefore, true);
    launch.site().setNotice("Kelvo 2");
    UpdateServiceHooks hooks;
    hooks.dailyInterval = 20ms;
    UpdateService& service = launch.start(hooks);
    service.startPeriodicChecks();
    QTRY_VERIFY(launch.site().requests().size() >= 2);

    launch.stop();
    QTest::qWait(50); // lets a request already on its way arrive
    const qsizetype settled = launch.site().requests().size();
    QTest::qWait(300);
    QCOMPARE(launch.site().requests().size(), settled);
}

void tst_UpdateService::checkInFlightEndsWithTheService()
{
    Launch launch;
    launch.site().setNotice("Kelvo 2");
    launch.site().setDelayMs(60'000); // no answer comes while the test runs
    UpdateService& service = launch.start();
    auto check = service.checkForUpdates(false);
    QTRY_COMPARE(launch.site().requests().size(), 1);
    QVERIFY(!check.isReady());

    // The check ends with the service, at once, instead of waiting on a reply that the network manager would take
    // with it when it goes, which would keep the task suspended for ever.
    launch.stop();
    QVERIFY(check.isReady());
}

void tst_UpdateService::opensOnlyWebAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("opened");

    QTest::newRow("https") << QStringLiteral("https://example.com/notes") << true;
    QTest::newRow("http") << QStringLiteral("http://example.com/notes") << true;
    QTest::newRow("file") << QStringLiteral("file:///etc/passwd") << false;
    QTest::newRow("javascript") << QStringLiteral("javascript:alert(1)") << false;
    QTest::newRow("mail") << QStringLiteral("mailto:someone@example.com") << false;
    QTest::newRow("relative") << QStringLiteral("/ac/Kelvo.zip") << false;
    QTest::newRow("scheme without host") << QStringLiteral("https:notes") << false;
    QTest::newRow("empty") << QString() << false;
}

void tst_UpdateService::opensOnlyWebAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, opened);

    Launch launch;
    UpdateService& service = launch.start();
    service.openLink(QUrl(address));
    QCOMPARE(launch.opened(), opened ? QList<QUrl>{QUrl(address)} : QList<QUrl>{});
}

void tst_UpdateService::downloadOpensTheArchiveOnTheSite()
{
    Launch launch;
    UpdateService& service = launch.start();
    QSignalSpy alert(&service, &UpdateService::showUpdateAlertChanged);
    service.openDownload();
    QCOMPARE(launch.opened(), QList<QUrl>{QUrl(launch.site().downloadUrl())});
    QCOMPARE(alert.count(), 0);
    QVERIFY(launch.log().isEmpty());

    // A site given with a path and a trailing slash keeps its path.
    UpdateService& mirrored = launch.start({}, QUrl(QStringLiteral("https://example.com/mirror/")));
    QCOMPARE(mirrored.noticeUrl(), QUrl(QStringLiteral("https://example.com/mirror/ac/updates.txt")));
    QCOMPARE(mirrored.downloadUrl(), QUrl(QStringLiteral("https://example.com/mirror/ac/Kelvo.zip")));
}

void tst_UpdateService::siteAddressComesFromTheEnvironment()
{
    const QByteArray saved = qgetenv("KELVO_SITE_URL");
    qputenv("KELVO_SITE_URL", "http://127.0.0.1:8081");
    QCOMPARE(UpdateService::defaultSiteUrl(), QUrl(QStringLiteral("http://127.0.0.1:8081")));
    qunsetenv("KELVO_SITE_URL");
    const QUrl builtIn = UpdateService::defaultSiteUrl();
    QCOMPARE(builtIn.scheme(), QStringLiteral("https"));
    QVERIFY(!builtIn.host().isEmpty());
    if (!saved.isNull()) {
        qputenv("KELVO_SITE_URL", saved);
    }
}

void tst_UpdateService::lastCheckedDescription_data()
{
    // The wording itself is covered with the formatter; here: what is read, and against which clock.
    const QDateTime now = launchTime;
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<std::optional<QString>>("expected");

    QTest::newRow("never checked") << QVariant() << std::optional<QString>();
    QTest::newRow("text is no date") << QVariant(QStringLiteral("2026-12-07T19:00:00.000Z"))
                                     << std::optional<QString>();
    QTest::newRow("Bool is no date") << QVariant(true) << std::optional<QString>();
    QTest::newRow("30 s") << QVariant(now.addSecs(-30)) << std::optional<QString>(QStringLiteral("30 seconds ago"));
    QTest::newRow("90 s") << QVariant(now.addSecs(-90)) << std::optional<QString>(QStringLiteral("1 minute ago"));
    QTest::newRow("2 h") << QVariant(now.addSecs(-2 * 3600)) << std::optional<QString>(QStringLiteral("2 hours ago"));
    QTest::newRow("clock set back") << QVariant(now.addSecs(300))
                                    << std::optional<QString>(QStringLiteral("in 5 minutes"));
}

void tst_UpdateService::lastCheckedDescription()
{
    QFETCH(QVariant, stored);
    QFETCH(std::optional<QString>, expected);

    Launch launch;
    store(launch.preferences(), lastUpdateCheckDate, stored);
    UpdateService& service = launch.start();
    QCOMPARE(service.lastCheckedDescription(), expected);
}

void tst_UpdateService::checkRecordsItsDateFromTheClock()
{
    Launch launch;
    launch.site().setNotice("Kelvo 2");
    UpdateService& service = launch.start();
    QVERIFY(runToEnd(service.checkForUpdates(false)));
    launch.setNow(launch.now().addSecs(2 * 3600 + 59));
    QCOMPARE(service.lastCheckedDescription(), QStringLiteral("2 hours ago"));
}

void tst_UpdateService::defaultLogWritesEachLineToStandardOutput()
{
    Launch launch;
    launch.site().setNotice("\xff");
    UpdateService& service = launch.start({}, std::nullopt, Launch::Log::Shipped);

    CapturedStandardOutput output;
    const bool ended = runToEnd(service.checkForUpdates(true));
    const QByteArray written = output.restore();
    QVERIFY(ended);
    QCOMPARE(written, QByteArray("[Update] HTTP 200, 1 bytes, suppressAlert=true\n"
                                 "[Update] Empty or unreadable response\n"));
}

QTEST_MAIN(tst_UpdateService)
#include "tst_UpdateService.moc"
