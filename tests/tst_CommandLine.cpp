#include "platform/InstanceSocket.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "tests/support/FakeSensiboCloud.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// The real kelvo binary on the command line, with no display, against the fake cloud, with a fake tray Kelvo
// listening on the settings folder's instance socket.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commands_data();
    void commands();

private:
    QTemporaryDir m_configHome;
    QTemporaryDir m_runtimeDir;
    QLocalServer m_tray;
    QByteArray m_trayReceived;
};

void tst_CommandLine::initTestCase()
{
    QVERIFY(m_configHome.isValid() && m_runtimeDir.isValid());
    Preferences(m_configHome.filePath(QStringLiteral("kelvo")))
        .setText(QLatin1String(PreferenceKeys::sensiboAPIKey), QStringLiteral("test-key"));
    // The same runtime folder as the command line's, so that both find the same socket.
    qputenv("XDG_RUNTIME_DIR", m_runtimeDir.path().toLocal8Bit());
    QVERIFY(m_tray.listen(InstanceSocket::path(m_configHome.filePath(QStringLiteral("kelvo")))));
    connect(&m_tray, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_tray.nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [this, client] { m_trayReceived += client->readAll(); });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
}

void tst_CommandLine::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("key"); // "stored", "none", "fifo" (a FIFO as the settings), or KELVO_API_KEY's value
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("output");  // lines, or parts, stdout must hold
    QTest::addColumn<QString>("error");       // a part stderr must hold
    QTest::addColumn<int>("deviceLists");     // device-list requests
    QTest::addColumn<QStringList>("changes"); // state-change requests: target and body
    QTest::addColumn<bool>("refresh");        // the tray Kelvo was told to refresh
    QTest::addColumn<QString>("behaviour");   // the cloud's: "gzip": it answers compressed; "refuse": it fails the
                                              // first change; "hostile": a room name holds terminal commands

    const QString on = QStringLiteral("Living Room: on, cool, 22°C, fan auto, room 23°C, humidity 51%, online");
    const QString off = QStringLiteral("Bedroom: off, heat, 30°C, fan auto, room 20°C, humidity 40%, online");
    const QString offline = QStringLiteral("Office: on, dry, 24°C, fan auto, room 26°C, humidity 60%, offline");
    const QString stored = QStringLiteral("stored");
    const auto change = [](const char* path, const char* body) {
        return QStringLiteral("/api/v2/pods/%1?apiKey=test-key %2").arg(QLatin1String(path), QLatin1String(body));
    };

    QTest::newRow("status") << QStringList{"status"} << stored << 0 << QStringList{on, off, offline} << QString() << 1
                            << QStringList() << false << QString();
    QTest::newRow("status --json, offline")
        << QStringList{"status", "--json", "--device", "OFFICE"} << stored << 0
        << QStringList{R"([{"fanLevel":"auto","horizontalSwing":"stopped","humidity":60,"id":"ghi","light":"on",)"
                       R"("mode":"dry","on":true,"online":false,"room":"Office","roomTemperature":26,)"
                       R"("swing":"stopped","targetTemperature":24,"temperatureUnit":"C"}])"}
        << QString() << 1 << QStringList() << false << QString();
    QTest::newRow("status --waybar, on") << QStringList{"status", "--waybar"} << stored << 0
                                         << QStringList{R"("alt":"cool","class":"cool","text":"23°C")",
                                                        R"("tooltip":"Living Room\non, cool, 22°C, fan auto\n)"}
                                         << QString() << 1 << QStringList() << false << QString();
    QTest::newRow("status --waybar, off")
        << QStringList{"status", "--waybar", "--device", "def"} << stored << 0
        << QStringList{R"("alt":"off","class":"off")"} << QString() << 1 << QStringList() << false << QString();
    QTest::newRow("status --waybar, offline")
        << QStringList{"status", "--device=office", "--waybar"} << stored << 0
        << QStringList{R"("alt":"offline","class":"offline")"} << QString() << 1 << QStringList() << false << QString();
    QTest::newRow("set, one change") << QStringList{"set", "--device", "bedroom", "fan", "HIGH"} << stored << 0
                                     << QStringList() << QString() << 1
                                     << QStringList{change("def/acStates/fanLevel", R"({"newValue":"high"})")} << true
                                     << QString();
    QTest::newRow("set, pairs in order") << QStringList{"set",  "--device", "bedroom", "power", "toggle",
                                                        "mode", "cool",     "temp",    "-2"}
                                         << stored << 0 << QStringList() << QString() << 1
                                         << QStringList{change("def/acStates/on", R"({"newValue":true})"),
                                                        change("def/acStates/mode", R"({"newValue":"cool"})"),
                                                        change("def/acStates/targetTemperature", R"({"newValue":28})")}
                                         << true << QString();
    QTest::newRow("set, a value the mode does not offer")
        << QStringList{"set", "mode", "heat", "fan", "turbo"} << stored << 2 << QStringList()
        << QStringLiteral("its fan levels: quiet, low, medium, medium_high, high, auto") << 1 << QStringList() << false
        << QString();
    QTest::newRow("temp +1 at the range's end") << QStringList{"set", "--device", "Bedroom", "temp", "+1"} << stored
                                                << 0 << QStringList{"Bedroom stays at 30°C, the end of its range"}
                                                << QString() << 1 << QStringList() << false << QString();
    QTest::newRow("off") << QStringList{"off"} << stored << 0 << QStringList() << QString() << 1
                         << QStringList{change("abc/acStates/on", R"({"newValue":false})")} << true << QString();
    QTest::newRow("unknown device") << QStringList{"on", "--device", "Kitchen"} << stored << 2 << QStringList()
                                    << QStringLiteral("Rooms: Living Room (abc), Bedroom (def), Office (ghi)") << 1
                                    << QStringList() << false << QString();
    QTest::newRow("status, gzip as the cloud answers")
        << QStringList{"status", "--device", "abc"} << stored << 0 << QStringList{on} << QString() << 1 << QStringList()
        << false << QStringLiteral("gzip");
    QTest::newRow("set, the cloud refuses the first change")
        << QStringList{"set", "mode", "heat", "fan", "low"} << stored << 1 << QStringList()
        << QStringLiteral("kelvo: Failed to update mode") << 1
        << QStringList{change("abc/acStates/mode", R"({"newValue":"heat"})")} << false << QStringLiteral("refuse");
    // A room name that would retitle the window, return the cursor, start a fake line and turn text around.
    const QString hostile = QStringLiteral(R"(Evil\x1B]0;pwned\x07\x0D\x0ARoom\u202E)");
    QTest::newRow("status, control characters in a room name")
        << QStringList{"status", "--device", "abc"} << stored << 0 << QStringList{hostile + ": on, cool, 22°C"}
        << QString() << 1 << QStringList() << false << QStringLiteral("hostile");
    QTest::newRow("devices, control characters in a room name")
        << QStringList{"devices"} << stored << 0 << QStringList{QStringLiteral("abc\t") + hostile + u'\n'} << QString()
        << 1 << QStringList() << false << QStringLiteral("hostile");
    QTest::newRow("a FIFO in the settings' place")
        << QStringList{"status"} << QStringLiteral("fifo") << 1 << QStringList()
        << QStringLiteral("a FIFO, not a regular file") << 0 << QStringList() << false << QString();
    QTest::newRow("no key") << QStringList{"status"} << QStringLiteral("none") << 1 << QStringList()
                            << QStringLiteral("settings window, or set KELVO_API_KEY") << 0 << QStringList() << false
                            << QString();
    QTest::newRow("401") << QStringList{"status"} << QStringLiteral("wrong-key") << 1 << QStringList()
                         << QStringLiteral("kelvo: Invalid API key") << 1 << QStringList() << false << QString();
    QTest::newRow("unknown command") << QStringList{"stauts"} << stored << 2 << QStringList()
                                     << QStringLiteral("unknown command \"stauts\"") << 0 << QStringList() << false
                                     << QString();
    QTest::newRow("help set") << QStringList{"help", "set"} << stored << 0
                              << QStringList{"Usage: kelvo set [--device ROOM|ID] SETTING VALUE"} << QString() << 0
                              << QStringList() << false << QString();
    QTest::newRow("--version") << QStringList{"--version"} << stored << 0 << QStringList{"kelvo " KELVO_VERSION}
                               << QString() << 0 << QStringList() << false << QString();
}

void tst_CommandLine::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, key);
    QFETCH(int, exitCode);
    QFETCH(QStringList, output);
    QFETCH(QString, error);
    QFETCH(int, deviceLists);
    QFETCH(QStringList, changes);
    QFETCH(bool, refresh);
    QFETCH(QString, behaviour);

    FakeSensiboCloud cloud;
    QVERIFY(cloud.listen());
    const QString livingRoom =
        behaviour == u"hostile" ? QStringLiteral("Evil\x1b]0;pwned\a\r\nRoom\u202e") : QStringLiteral("Living Room");
    cloud.setDevices({
        FakeSensiboCloud::makeDevice("abc", livingRoom, true, "cool", 22, "C", 23.4, 51.3, true),
        FakeSensiboCloud::makeDevice("def", "Bedroom", false, "heat", 30, "C", 20.0, 40.0, true),
        FakeSensiboCloud::makeDevice("ghi", "Office", true, "dry", 24, "C", 26.0, 60.0, false),
    });
    cloud.setGzip(behaviour == u"gzip");
    if (behaviour == u"refuse") {
        cloud.overrideStateChange(FakeHttpServer::Response{500, "{}", {}}, 1);
    }
    m_trayReceived.clear();

    QTemporaryDir emptyConfigHome;
    if (key == u"fifo") {
        QVERIFY(QDir().mkdir(emptyConfigHome.filePath(QStringLiteral("kelvo"))));
        QCOMPARE(::mkfifo(QFile::encodeName(emptyConfigHome.filePath(QStringLiteral("kelvo/preferences.json"))), 0600),
                 0);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KELVO_API_KEY"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert("XDG_CONFIG_HOME",
                       key == u"none" || key == u"fifo" ? emptyConfigHome.path() : m_configHome.path());
    environment.insert("XDG_RUNTIME_DIR", m_runtimeDir.path());
    environment.insert("KELVO_SENSIBO_API_URL", cloud.baseUrl());
    if (key != u"none" && key != u"stored" && key != u"fifo") {
        environment.insert("KELVO_API_KEY", key);
    }

    // The fake cloud answers from this event loop: wait for the process without blocking it.
    QProcess kelvo;
    kelvo.setProcessEnvironment(environment);
    QSignalSpy finished(&kelvo, &QProcess::finished);
    kelvo.start(QStringLiteral(KELVO_BINARY), arguments);
    QVERIFY(finished.wait(60'000));

    const QString out = QString::fromUtf8(kelvo.readAllStandardOutput());
    const QString err = QString::fromUtf8(kelvo.readAllStandardError());
    QCOMPARE(kelvo.exitStatus(), QProcess::NormalExit);
    QVERIFY2(kelvo.exitCode() == exitCode, qPrintable(err));
    for (const QString& part : output) {
        QVERIFY2(out.contains(part), qPrintable(out));
    }
    // Plain output carries no control character but its own line ends and tabs.
    for (const QChar c : out) {
        QVERIFY2(c == u'\n' || c == u'\t' || (c >= u' ' && c != QChar(0x7f) && c != QChar(0x202e)), qPrintable(out));
    }
    QVERIFY2(err.contains(error), qPrintable(err));
    QCOMPARE(cloud.deviceListCount(), deviceLists);
    QStringList sent;
    for (const FakeHttpServer::Request& request : cloud.requests()) {
        if (request.method == "PATCH") {
            sent.append(QString::fromLatin1(request.target) + u' ' + QString::fromUtf8(request.body));
        }
    }
    QCOMPARE(sent, changes);
    if (refresh) {
        QTRY_COMPARE_WITH_TIMEOUT(m_trayReceived, InstanceSocket::refreshMessage, 10'000);
    } else {
        QTest::qWait(50);
        QCOMPARE(m_trayReceived, QByteArray());
    }
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
