#include "app/SingleInstance.h"
#include "platform/InstanceSocket.h"

#include <QLocalServer>
#include <QLocalSocket>
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
    void ofTwoStartsAtOnceExactlyOneStays();
    void withoutADisplayItSaysSo();

private:
    QProcessEnvironment environment() const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_SingleInstance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
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
    const QString name = m_dir->filePath(QStringLiteral("instance.socket"));
    SingleInstance first(name);
    QCOMPARE(first.claim(), SingleInstance::Role::First);
    QSignalSpy asked(&first, &SingleInstance::activationRequested);

    SingleInstance second(name);
    QCOMPARE(second.claim(), SingleInstance::Role::HandedOver);
    QTRY_COMPARE(asked.size(), 1);
}

// The command line's messages: refresh after a change, reload-key after `kelvo login` or `kelvo logout`.
void tst_SingleInstance::otherKelvosMessagesReachTheirSignals()
{
    const QString name = m_dir->filePath(QStringLiteral("instance.socket"));
    SingleInstance kelvo(name);
    QCOMPARE(kelvo.claim(), SingleInstance::Role::First);
    QSignalSpy refresh(&kelvo, &SingleInstance::refreshRequested);
    QSignalSpy reloadKey(&kelvo, &SingleInstance::keyReloadRequested);

    QLocalSocket other;
    other.connectToServer(name);
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
    const QString name = m_dir->filePath(QStringLiteral("instance.socket"));
    QLocalServer stranger;
    QVERIFY(stranger.listen(name));
    QFile leftover(name + QStringLiteral(".lock"));
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    QVERIFY(leftover.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
    leftover.close();

    SingleInstance kelvo(name);
    QCOMPARE(kelvo.claim(), SingleInstance::Role::First);
    QSignalSpy asked(&kelvo, &SingleInstance::activationRequested);
    QCOMPARE(SingleInstance(name).claim(), SingleInstance::Role::HandedOver);
    QTRY_COMPARE(asked.size(), 1);
    QVERIFY(!stranger.hasPendingConnections());
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

void tst_SingleInstance::withoutADisplayItSaysSo()
{
    QProcessEnvironment env = environment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        env.remove(QString::fromLatin1(name));
    }
    QProcess kelvo;
    kelvo.setProcessEnvironment(env);
    kelvo.start(QStringLiteral(KELVO_EXECUTABLE), {});
    QVERIFY(kelvo.waitForFinished(20000));
    QCOMPARE(kelvo.exitCode(), 1);
    QCOMPARE(kelvo.readAllStandardError(),
             QByteArray("Kelvo needs a graphical desktop session (DISPLAY or WAYLAND_DISPLAY is not set).\n"));
}

QTEST_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
