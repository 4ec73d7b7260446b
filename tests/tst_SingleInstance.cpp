#include "app/SingleInstance.h"
#include "platform/InstanceSocket.h"
#include "platform/PreferenceKeys.h"
#include "service/SensiboService.h"
#include "tests/support/FakeSensiboCloud.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class tst_SingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void secondStartHandsOverToTheFirst();
    void otherKelvosMessagesReachTheirSignals();
    void aListenerWithoutTheLockIsNoKelvo();
    void theLockIsTheSettingsFoldersWhateverTheRuntimeFolder();
    void aClientThatSendsTooMuchIsCutOff();
    void refreshRequestsAreFoldedIntoOneLoad();
    void ofTwoStartsAtOnceExactlyOneStays();
    void withoutADisplayItSaysSo_data();
    void withoutADisplayItSaysSo();

private:
    QProcessEnvironment environment() const;
    QString settings() const { return m_dir->filePath(QStringLiteral("config/kelvo")); }
    // A private runtime folder, made the process's own.
    QString useRuntimeFolder(const QString& name) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_SingleInstance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    useRuntimeFolder(QStringLiteral("runtime"));
}

QString tst_SingleInstance::useRuntimeFolder(const QString& name) const
{
    const QString runtime = m_dir->filePath(name);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    return runtime;
}

// A Kelvo of its own: this run's settings folder and runtime folder, no cloud and no maker's site to reach.
QProcessEnvironment tst_SingleInstance::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString runtime = m_dir->filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("KELVO_SITE_URL"), QStringLiteral("http://127.0.0.1:9"));
    env.insert(QStringLiteral("KELVO_SENSIBO_API_URL"), QStringLiteral("http://127.0.0.1:9/api/v2"));
    return env;
}

void tst_SingleInstance::secondStartHandsOverToTheFirst()
{
    SingleInstance first(settings());
    QCOMPARE(first.claim(), SingleInstance::Role::First);
    QSignalSpy asked(&first, &SingleInstance::activationRequested);

    SingleInstance second(settings());
    QCOMPARE(second.claim(), SingleInstance::Role::HandedOver);
    QTRY_COMPARE(asked.size(), 1);
}

// The command line's messages: refresh after a change, reload-key after `kelvo login` or `kelvo logout`.
void tst_SingleInstance::otherKelvosMessagesReachTheirSignals()
{
    SingleInstance kelvo(settings());
    QCOMPARE(kelvo.claim(), SingleInstance::Role::First);
    QSignalSpy refresh(&kelvo, &SingleInstance::refreshRequested);
    QSignalSpy reloadKey(&kelvo, &SingleInstance::keyReloadRequested);

    QLocalSocket other;
    other.connectToServer(InstanceSocket::path(settings()));
    QVERIFY(other.waitForConnected());
    other.write(InstanceSocket::refreshMessage + InstanceSocket::reloadKeyMessage);
    QTRY_COMPARE(reloadKey.size(), 1);
    QCOMPARE(refresh.size(), 1);
}

// Something else listening on the path (a Kelvo that crashed and left its socket behind looks the same) holds no
// lock: Kelvo takes over the path instead of leaving. An empty lock file, as a Kelvo killed while taking the lock
// leaves it, holds nobody back either.
void tst_SingleInstance::aListenerWithoutTheLockIsNoKelvo()
{
    QLocalServer stranger;
    QVERIFY(stranger.listen(InstanceSocket::path(settings())));
    QVERIFY(QDir().mkpath(settings()));
    QFile leftover(InstanceSocket::lockPath(settings()));
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    QVERIFY(leftover.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
    leftover.close();

    SingleInstance kelvo(settings());
    QCOMPARE(kelvo.claim(), SingleInstance::Role::First);
    QSignalSpy asked(&kelvo, &SingleInstance::activationRequested);
    QCOMPARE(SingleInstance(settings()).claim(), SingleInstance::Role::HandedOver);
    QTRY_COMPARE(asked.size(), 1);
    QVERIFY(!stranger.hasPendingConnections());
}

// Two starts on one settings folder with different runtime folders listen at different sockets, but meet at the
// lock: the second does not run beside the first.
void tst_SingleInstance::theLockIsTheSettingsFoldersWhateverTheRuntimeFolder()
{
    SingleInstance first(settings());
    QCOMPARE(first.claim(), SingleInstance::Role::First);
    useRuntimeFolder(QStringLiteral("other-runtime"));
    SingleInstance second(settings());
    QVERIFY(second.socketPath() != first.socketPath());
    QCOMPARE(second.claim(), SingleInstance::Role::Unreachable);
    QVERIFY2(second.unreachableMessage().contains(QStringLiteral("same settings folder")),
             qPrintable(second.unreachableMessage()));
}

// A line without end, or more lines than any Kelvo client sends, closes the connection; the next client is heard.
void tst_SingleInstance::aClientThatSendsTooMuchIsCutOff()
{
    SingleInstance kelvo(settings());
    QCOMPARE(kelvo.claim(), SingleInstance::Role::First);
    QSignalSpy asked(&kelvo, &SingleInstance::activationRequested);
    const auto send = [&](const QByteArray& bytes) {
        auto client = std::make_unique<QLocalSocket>();
        client->connectToServer(kelvo.socketPath());
        client->write(bytes);
        return client;
    };

    const auto endless = send(QByteArray(1024 * 1024, 'x'));
    QTRY_COMPARE(endless->state(), QLocalSocket::UnconnectedState);
    const auto chatty = send(InstanceSocket::openMessage.repeated(100));
    QTRY_COMPARE(chatty->state(), QLocalSocket::UnconnectedState);
    QCOMPARE(asked.size(), InstanceSocket::maxLinesPerConnection);

    asked.clear();
    const auto polite = send(InstanceSocket::openMessage);
    QTRY_COMPARE(asked.size(), 1);
}

// The command line asks for a refresh after each change; a burst of requests costs two loads: the one they start
// and one after it for those that came while it ran.
void tst_SingleInstance::refreshRequestsAreFoldedIntoOneLoad()
{
    Preferences preferences(settings());
    preferences.setText(QLatin1String(PreferenceKeys::sensiboAPIKey), QStringLiteral("test-key"));
    QNetworkAccessManager network;
    FakeSensiboCloud cloud;
    QVERIFY(cloud.listen());
    cloud.setDelayMs(1000); // every request of the burst comes while the first load runs
    SensiboService service(preferences, &network, cloud.baseUrl());
    SingleInstance kelvo(settings());
    QCOMPARE(kelvo.claim(), SingleInstance::Role::First);
    connect(&kelvo, &SingleInstance::refreshRequested, &service, &SensiboService::requestRefresh);
    QSignalSpy asked(&kelvo, &SingleInstance::refreshRequested);

    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<QLocalSocket>());
        clients.back()->connectToServer(kelvo.socketPath());
        clients.back()->write(InstanceSocket::refreshMessage);
    }
    QTRY_COMPARE(asked.size(), 50);
    QTRY_COMPARE(cloud.deviceListCount(), 2);
    QTRY_VERIFY(!service.isLoading());
    QCOMPARE(cloud.deviceListCount(), 2);
    QCOMPARE(service.devices().size(), 2);
}

void tst_SingleInstance::ofTwoStartsAtOnceExactlyOneStays()
{
    for (int round = 0; round < 3; ++round) {
        std::array<QProcess, 2> kelvos;
        for (QProcess& kelvo : kelvos) {
            kelvo.setProcessEnvironment(environment());
            kelvo.start(QStringLiteral(KELVO_EXECUTABLE), {});
        }
        QVERIFY(kelvos[0].waitForStarted() && kelvos[1].waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(kelvos[0].state() == QProcess::NotRunning || kelvos[1].state() == QProcess::NotRunning,
                                 20000);
        QProcess& left = kelvos[0].state() == QProcess::NotRunning ? kelvos[0] : kelvos[1];
        QProcess& stayed = &left == &kelvos[0] ? kelvos[1] : kelvos[0];
        QCOMPARE(left.exitStatus(), QProcess::NormalExit);
        QCOMPARE(left.exitCode(), 0);
        QCOMPARE(left.readAllStandardOutput(), QByteArray("Kelvo is already running; its panel was opened.\n"));
        QVERIFY(!stayed.waitForFinished(500));
        stayed.terminate();
        QVERIFY(stayed.waitForFinished(10000));
    }
}

void tst_SingleInstance::withoutADisplayItSaysSo_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("wayland"); // a name in the runtime folder, made a file no compositor serves
    QTest::addColumn<QByteArray>("error");

    QTest::newRow("none") << QString() << QString()
                          << QByteArray("Kelvo needs a graphical desktop session (DISPLAY or WAYLAND_DISPLAY is not "
                                        "set).\n");
    // A DISPLAY that names no X server: Qt aborts there unless told otherwise.
    const QByteArray noX = "Kelvo cannot open a display: the X server at DISPLAY=:1971 is not running or refused the "
                           "connection (check XAUTHORITY)";
    QTest::newRow("a DISPLAY with no X server") << QStringLiteral(":1971") << QString() << noX + ".\n";
    QTest::newRow("and a Wayland display that turns it away too")
        << QStringLiteral(":1971") << QStringLiteral("wayland-gone")
        << noX + "; the Wayland compositor at WAYLAND_DISPLAY=wayland-gone could not be reached.\n";
}

void tst_SingleInstance::withoutADisplayItSaysSo()
{
    QFETCH(QString, display);
    QFETCH(QString, wayland);
    QFETCH(QByteArray, error);
    QProcessEnvironment env = environment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        env.remove(QString::fromLatin1(name));
    }
    if (!display.isEmpty()) {
        env.insert(QStringLiteral("DISPLAY"), display);
    }
    if (!wayland.isEmpty()) {
        QFile socket(QDir(env.value(QStringLiteral("XDG_RUNTIME_DIR"))).filePath(wayland));
        QVERIFY(socket.open(QIODevice::WriteOnly));
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), wayland);
    }
    QProcess kelvo;
    kelvo.setProcessEnvironment(env);
    kelvo.start(QStringLiteral(KELVO_EXECUTABLE), {});
    QVERIFY(kelvo.waitForFinished(20000));
    QCOMPARE(kelvo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kelvo.exitCode(), 1);
    QCOMPARE(kelvo.readAllStandardError(), error);
}

QTEST_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
