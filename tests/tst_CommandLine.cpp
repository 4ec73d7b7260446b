#include "platform/InstanceSocket.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "tests/support/FakeSensiboCloud.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// One call of the real kelvo binary, with no display unless the environment gives one, against the fake cloud,
// with a fake tray Kelvo listening on the settings folder's instance socket; then what must come of it.
struct Call {
    QStringList arguments;
    // "stored", "none", "fifo" (a FIFO as the settings), or KELVO_API_KEY's value
    QString key = QStringLiteral("stored");
    // The cloud's behaviour: "gzip" answers compressed; "refuse" fails the first change with 500 and no reason;
    // "refuse second" lets the first change (or timer) through and refuses the second with a reason; "slow" answers in
    // 5 s; "hostile": a room name holds terminal commands; "extras": Climate React is on in the living room and the
    // bedroom switches on in 90 minutes; "reads fail": the details and the history fail with 500; "no readings": the
    // history is empty.
    QString behaviour{};
    QStringList environment{}; // "NAME=value" to set, "NAME" to remove
    QByteArray input{};        // standard input
    QString stdoutTo{};        // "/dev/full", "closed" or "no reader"; else a pipe this test reads
    int preferencesMode = 0600;

    int exitCode = 0;
    QStringList output{};            // parts standard output must hold
    QString error{};                 // a part standard error must hold
    int deviceLists = 1;             // device-list requests
    QStringList changes{};           // state changes ("target body"), other requests ("PUT target body"), history reads
    QByteArray told{};               // what the tray Kelvo was told, if anything
    std::optional<QString> stored{}; // the stored key after the call ("" for none)
};

QString change(const char* path, const char* body)
{
    return QStringLiteral("/api/v2/pods/%1?apiKey=test-key %2").arg(QLatin1String(path), QLatin1String(body));
}

QString request(const char* method, const char* path, const char* body = "")
{
    return QStringLiteral("%1 /api/%2 %3").arg(QLatin1String(method), QLatin1String(path), QLatin1String(body));
}

// A timer set on one of the test's devices: its settings as the list gives them, with the power changed.
QString timerSet(const char* id, const char* mode, bool on, int target, const char* unit, int minutes)
{
    return QStringLiteral("PUT /api/v1/pods/%1/timer/?apiKey=test-key "
                          R"({"acState":{"fanLevel":"auto","horizontalSwing":"stopped","light":"on","mode":"%2",)"
                          R"("on":%3,"swing":"stopped","targetTemperature":%4,"temperatureUnit":"%5"},)"
                          R"("minutesFromNow":%6})")
        .arg(QLatin1String(id), QLatin1String(mode), on ? QStringLiteral("true") : QStringLiteral("false"))
        .arg(target)
        .arg(QLatin1String(unit))
        .arg(minutes);
}

// The tray's socket for `settings` when the tray runs with `runtimeDir` as its XDG_RUNTIME_DIR.
QString traySocket(const QString& settings, const QString& runtimeDir)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir));
    const QString path = InstanceSocket::path(settings);
    qputenv("XDG_RUNTIME_DIR", saved);
    return path;
}

// The runtime folder of a desktop session: /run/user/UID; on a machine with no such folder (a container), the
// one Kelvo makes in its place.
QString sessionRuntimeDir()
{
    const QString session = QStringLiteral("/run/user/%1").arg(::getuid());
    struct stat info {
    };
    if (::stat(QFile::encodeName(session).constData(), &info) == 0 && info.st_uid == ::getuid()) {
        return session;
    }
    const QByteArray own = "/tmp/kelvo-" + QByteArray::number(::getuid());
    ::mkdir(own.constData(), 0700);
    return QString::fromLatin1(own);
}

} // namespace

Q_DECLARE_METATYPE(Call)

class tst_CommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commands_data();
    void commands();
    void completionScripts_data();
    void completionScripts();

private:
    QTemporaryDir m_runtimeDir;
};

void tst_CommandLine::initTestCase()
{
    QVERIFY(m_runtimeDir.isValid());
    // The same runtime folder as the command line's, so that both find the same socket.
    qputenv("XDG_RUNTIME_DIR", m_runtimeDir.path().toLocal8Bit());
}

void tst_CommandLine::commands_data()
{
    QTest::addColumn<Call>("call");

    const QString on = QStringLiteral("Living Room: on, cool, 22°C, fan auto, room 23°C, humidity 51%, online");
    const QString off = QStringLiteral("Bedroom: off, heat, 30°C, fan auto, room 20°C, humidity 40%, online");
    const QString offline = QStringLiteral("Office: on, dry, 24°C, fan auto, room 26°C, humidity 60%, offline");
    const QByteArray refresh = InstanceSocket::refreshMessage;

    QTest::newRow("status") << Call{.arguments = {"status"}, .output = {on, off, offline}};
    QTest::newRow("status --json, offline")
        << Call{.arguments = {"status", "--json", "--device", "OFFICE"},
                .output = {R"([{"climateReact":null,"fanLevel":"auto","horizontalSwing":"stopped","humidity":60,)"
                           R"("id":"ghi","light":"on","mode":"dry","on":true,"online":false,"room":"Office",)"
                           R"("roomTemperature":26,"swing":"stopped","targetTemperature":24,"temperatureUnit":"C",)"
                           R"("timer":null}])"}};
    QTest::newRow("status, a timer and Climate React")
        << Call{.arguments = {"status"},
                .behaviour = "extras",
                .output = {on + ", Climate React on\n", off + ", on in 1 h 30 min (at ", offline + u'\n'}};
    QTest::newRow("status --json, a timer and Climate React")
        << Call{.arguments = {"status", "--json"},
                .behaviour = "extras",
                .output = {R"("climateReact":{"description":"Cools above 27.5°C, heats below 20°C","enabled":true,)"
                           R"("highTemperatureThreshold":27.5,"lowTemperatureThreshold":20,"type":"temperature"})",
                           R"(,"minutesLeft":90,"turnsOn":true}})"}};
    QTest::newRow("status --waybar, Climate React")
        << Call{.arguments = {"status", "--waybar"},
                .behaviour = "extras",
                .output = {R"(online\nClimate React on: Cools above 27.5°C, heats below 20°C")"}};
    QTest::newRow("status, the details fail") << Call{.arguments = {"status", "--device", "abc"},
                                                      .behaviour = "reads fail",
                                                      .output = {on + u'\n'},
                                                      .error = "warning: the timer and Climate React of Living Room "
                                                               "are not shown: Server error (500)"};
    QTest::newRow("status --waybar, on") << Call{.arguments = {"status", "--waybar"},
                                                 .output = {R"("alt":"cool","class":"cool","text":"23°C")",
                                                            R"("tooltip":"Living Room\non, cool, 22°C, fan auto\n)"}};
    QTest::newRow("status --waybar, off")
        << Call{.arguments = {"status", "--waybar", "--device", "def"}, .output = {R"("alt":"off","class":"off")"}};
    QTest::newRow("status --waybar, offline") << Call{.arguments = {"status", "--device=office", "--waybar"},
                                                      .output = {R"("alt":"offline","class":"offline")"}};
    QTest::newRow("status --waybar, a wrong device")
        << Call{.arguments = {"status", "--waybar", "--device", "Kitchen"},
                .output = {R"("alt":"error","class":"error")", R"(No device &quot;Kitchen&quot;)"},
                .error = "No device \"Kitchen\""};
    QTest::newRow("status --waybar, a wrong option") << Call{.arguments = {"status", "--waybar", "--timeout", "soon"},
                                                             .output = {R"("class":"error")"},
                                                             .error = "--timeout takes a number of seconds",
                                                             .deviceLists = 0};
    QTest::newRow("set, one change") << Call{.arguments = {"set", "--device", "bedroom", "fan", "HIGH"},
                                             .changes = {change("def/acStates/fanLevel", R"({"newValue":"high"})")},
                                             .told = refresh};
    QTest::newRow("set, pairs in order") << Call{
        .arguments = {"set", "--device", "bedroom", "power", "toggle", "mode", "cool", "temp", "-2"},
        .changes = {change("def/acStates/on", R"({"newValue":true})"),
                    change("def/acStates/mode", R"({"newValue":"cool"})"),
                    change("def/acStates/targetTemperature", R"({"newValue":28})")},
        .told = refresh};
    QTest::newRow("set, a value the mode does not offer")
        << Call{.arguments = {"set", "mode", "heat", "fan", "turbo"},
                .exitCode = 2,
                .error = "its fan levels: quiet, low, medium, medium_high, high, auto"};
    QTest::newRow("temp +1 at the range's end") << Call{.arguments = {"set", "--device", "Bedroom", "temp", "+1"},
                                                        .output = {"Bedroom stays at 30°C, the end of its range"}};
    QTest::newRow("°F: a value between those listed")
        << Call{.arguments = {"set", "--device", "den", "temp", "62"},
                .exitCode = 2,
                .error = "Den takes no target of 62°F in mode heat; the nearest it takes: 61°F, 63°F"};
    QTest::newRow("°F: +0 is no step, not the range's end")
        << Call{.arguments = {"set", "--device", "den", "temp", "+0"}, .output = {"Den stays at 70°F in mode heat\n"}};
    QTest::newRow("°F: +1 is the next value listed")
        << Call{.arguments = {"set", "--device", "den", "temp", "+1"},
                .changes = {change("jkl/acStates/targetTemperature", R"({"newValue":72})")},
                .told = refresh};
    QTest::newRow("off") << Call{
        .arguments = {"off"}, .changes = {change("abc/acStates/on", R"({"newValue":false})")}, .told = refresh};
    QTest::newRow("off, without XDG_RUNTIME_DIR the tray is still told")
        << Call{.arguments = {"off"},
                .environment = {"XDG_RUNTIME_DIR"},
                .changes = {change("abc/acStates/on", R"({"newValue":false})")},
                .told = refresh};
    QTest::newRow("on --all, one refusal")
        << Call{.arguments = {"on", "--all"},
                .behaviour = "refuse second",
                .exitCode = 1,
                .error = "kelvo: Bedroom: Failed to update power: the cloud answered 400: The unit is busy\n",
                .changes = {change("abc/acStates/on", R"({"newValue":true})"),
                            change("def/acStates/on", R"({"newValue":true})"),
                            change("ghi/acStates/on", R"({"newValue":true})"),
                            change("jkl/acStates/on", R"({"newValue":true})")},
                .told = refresh};
    QTest::newRow("timer off 1h30m") << Call{.arguments = {"timer", "off", "1h30m"},
                                             .changes = {timerSet("abc", "cool", false, 22, "C", 90)},
                                             .told = refresh};
    QTest::newRow("timer --all, one refusal")
        << Call{.arguments = {"timer", "--all", "on", "45M"},
                .behaviour = "refuse second",
                .exitCode = 1,
                .error = "kelvo: Bedroom: Failed to set the timer: the cloud answered 400: The unit is busy\n",
                .changes = {timerSet("abc", "cool", true, 22, "C", 45), timerSet("def", "heat", true, 30, "C", 45),
                            timerSet("ghi", "dry", true, 24, "C", 45), timerSet("jkl", "heat", true, 70, "F", 45)},
                .told = refresh};
    QTest::newRow("status --waybar, a timer") << Call{.arguments = {"status", "--waybar", "--device", "bedroom"},
                                                      .behaviour = "extras",
                                                      .output = {R"(online\nTurns on at )", R"(, in 1 h 30 min")"}};
    QTest::newRow("help timer") << Call{
        .arguments = {"timer", "--help"},
        .output = {"Usage: kelvo timer [--device ROOM|ID | --all] off|on DURATION | cancel\n"},
        .deviceLists = 0};
    QTest::newRow("timer cancel") << Call{.arguments = {"timer", "--device", "bedroom", "cancel"},
                                          .changes = {request("DELETE", "v1/pods/def/timer/?apiKey=test-key")},
                                          .told = refresh};
    QTest::newRow("react on") << Call{
        .arguments = {"react", "ON"},
        .behaviour = "extras",
        .changes = {request("PUT", "v2/pods/abc/smartmode?apiKey=test-key", R"({"enabled":true})")},
        .told = refresh};
    QTest::newRow("react off, not set up") << Call{
        .arguments = {"react", "--device", "den", "off"},
        .exitCode = 1,
        .error = "kelvo: Failed to turn off Climate React: the cloud answered 400: Climate React is not set up\n",
        .changes = {request("PUT", "v2/pods/jkl/smartmode?apiKey=test-key", R"({"enabled":false})")}};
    QTest::newRow("history --csv --days 2")
        << Call{.arguments = {"history", "--csv", "--days", "2"},
                .output = {"time,temperature_celsius,humidity_percent\n"},
                .changes = {request("GET", "v2/pods/abc/historicalMeasurements?apiKey=test-key&days=2")}};
    QTest::newRow("history --json") << Call{
        .arguments = {"history", "--json", "--device", "office"},
        .output = {R"([{"humidity":)", R"(,"temperature":)", R"(,"time":")"},
        .changes = {request("GET", "v2/pods/ghi/historicalMeasurements?apiKey=test-key&days=1")}};
    QTest::newRow("history, the cloud fails")
        << Call{.arguments = {"history"},
                .behaviour = "reads fail",
                .exitCode = 1,
                .error = "kelvo: Failed to load the readings of Living Room: Server error (500)",
                .changes = {request("GET", "v2/pods/abc/historicalMeasurements?apiKey=test-key&days=1")}};
    QTest::newRow("history, no readings")
        << Call{.arguments = {"history"},
                .behaviour = "no readings",
                .error = "kelvo: No readings from Living Room in that time",
                .changes = {request("GET", "v2/pods/abc/historicalMeasurements?apiKey=test-key&days=1")}};
    QTest::newRow("history, °F") << Call{
        .arguments = {"history", "--device", "den"},
        .output = {"°F  "},
        .changes = {request("GET", "v2/pods/jkl/historicalMeasurements?apiKey=test-key&days=1")}};
    QTest::newRow("unknown device") << Call{.arguments = {"on", "--device", "Kitchen"},
                                            .exitCode = 2,
                                            .error = "Rooms: Living Room (abc), Bedroom (def), Office (ghi)"};
    QTest::newRow("status, gzip as the cloud answers")
        << Call{.arguments = {"status", "--device", "abc"}, .behaviour = "gzip", .output = {on}};
    QTest::newRow("set, the cloud refuses the first change")
        << Call{.arguments = {"set", "mode", "heat", "fan", "low"},
                .behaviour = "refuse",
                .exitCode = 1,
                .error = "kelvo: Failed to update mode: the cloud answered 500; not sent: fan low\n",
                .changes = {change("abc/acStates/mode", R"({"newValue":"heat"})")}};
    QTest::newRow("set, the cloud refuses the second change")
        << Call{.arguments = {"set", "mode", "heat", "TEMP", "25", "fan", "low"},
                .behaviour = "refuse second",
                .exitCode = 1,
                .error = "kelvo: Failed to update TEMP: the cloud answered 400: The unit is busy; applied: mode heat; "
                         "not sent: fan low\n",
                .changes = {change("abc/acStates/mode", R"({"newValue":"heat"})"),
                            change("abc/acStates/targetTemperature", R"({"newValue":25})")},
                .told = refresh};
    QTest::newRow("--timeout") << Call{.arguments = {"status", "--timeout", "0.2"},
                                       .behaviour = "slow",
                                       .exitCode = 1,
                                       .error = "kelvo: The request timed out."};
    // A room name that would retitle the window, return the cursor, start a fake line and turn text around.
    const QString hostile = QStringLiteral(R"(Evil\x1B]0;pwned\x07\x0D\x0ARoom\u202E)");
    QTest::newRow("status, control characters in a room name")
        << Call{.arguments = {"status", "--device", "abc"}, .behaviour = "hostile", .output = {hostile + ": on, cool"}};
    QTest::newRow("devices, control characters in a room name")
        << Call{.arguments = {"devices"}, .behaviour = "hostile", .output = {"abc\t" + hostile + u'\n'}};
    QTest::newRow("a FIFO in the settings' place") << Call{
        .arguments = {"status"}, .key = "fifo", .exitCode = 1, .error = "a FIFO, not a regular file", .deviceLists = 0};
    QTest::newRow("no key") << Call{.arguments = {"status"},
                                    .key = "none",
                                    .exitCode = 1,
                                    .error = "kelvo login' or in Kelvo's settings window, or set KELVO_API_KEY",
                                    .deviceLists = 0};
    QTest::newRow("a stored key others can read")
        << Call{.arguments = {"status"}, .preferencesMode = 0644, .error = "other users can read it; chmod 600 it"};
    QTest::newRow("401") << Call{
        .arguments = {"status"}, .key = "wrong-key", .exitCode = 1, .error = "kelvo: Invalid API key"};
    // Usage errors are found before a key is looked up or the cloud is asked.
    const QString duration = QStringLiteral("DURATION is a length such as 30m, 1h, 90m or 1h30m, from 1m to 24h");
    for (const auto& [arguments, error] :
         {std::pair{QStringList{"set", "bogus", "1"}, QStringLiteral("unknown setting \"bogus\"")},
          {{"set", "power", "maybe"}, "power takes on, off or toggle, not \"maybe\""},
          {{"set", "temp", "abc"}, "temp takes a whole number"},
          {{"set", "temp", "22.5"}, "not \"22.5\""},
          {{"timer", "off", "90"}, duration},
          {{"timer", "on", "1h90"}, duration},
          {{"timer", "off", "30m1h"}, duration},
          {{"timer", "off", "0m"}, duration},
          {{"timer", "off", "25h"}, duration},
          {{"timer", "off"}, "timer off needs a DURATION"},
          {{"timer", "soon", "1h"}, "timer takes off DURATION, on DURATION or cancel, not \"soon\""},
          {{"timer", "cancel", "1h"}, "timer cancel takes no \"1h\""},
          {{"react", "maybe"}, "react takes on or off, not \"maybe\""},
          {{"history", "--days", "8"}, "--days takes a whole number from 1 to 7, not \"8\""},
          {{"history", "--waybar"}, "history has no option --waybar"}}) {
        QTest::addRow("usage error, no key: %s", qPrintable(arguments.join(u' ')))
            << Call{.arguments = arguments, .key = "none", .exitCode = 2, .error = error, .deviceLists = 0};
    }
    QTest::newRow("unknown command") << Call{
        .arguments = {"stauts"}, .exitCode = 2, .error = "unknown command \"stauts\"", .deviceLists = 0};
    QTest::newRow("an unknown option with a display starts no tray")
        << Call{.arguments = {"--bogus"},
                .environment = {"QT_QPA_PLATFORM=offscreen", "DISPLAY=:0"},
                .exitCode = 2,
                .error = "kelvo: unknown option --bogus\nTry 'kelvo --help'.",
                .deviceLists = 0};
    QTest::newRow("help set") << Call{.arguments = {"help", "set"},
                                      .output = {"Usage: kelvo set [--device ROOM|ID | --all] SETTING VALUE"},
                                      .deviceLists = 0};
    QTest::newRow("--version") << Call{
        .arguments = {"--version"}, .output = {"kelvo " KELVO_VERSION}, .deviceLists = 0};
    QTest::newRow("output to a full disk") << Call{.arguments = {"status"},
                                                   .stdoutTo = "/dev/full",
                                                   .exitCode = 1,
                                                   .error = "kelvo: write error: No space left on device"};
    QTest::newRow("output closed") << Call{.arguments = {"--version"},
                                           .stdoutTo = "closed",
                                           .exitCode = 1,
                                           .error = "kelvo: write error: Bad file descriptor",
                                           .deviceLists = 0};
    QTest::newRow("output to a pipe nobody reads ends quietly")
        << Call{.arguments = {"status"}, .stdoutTo = "no reader", .exitCode = -SIGPIPE};
    QTest::newRow("login from standard input") << Call{.arguments = {"login"},
                                                       .key = "none",
                                                       .input = "  test-key\n",
                                                       .output = {"Key saved; 4 devices found\n"},
                                                       .told = InstanceSocket::reloadKeyMessage,
                                                       .stored = QStringLiteral("test-key")};
    QTest::newRow("login with a key the cloud refuses stores nothing")
        << Call{.arguments = {"login"},
                .key = "none",
                .input = "wrong-key",
                .exitCode = 1,
                .error = "kelvo: The key was not stored: Invalid API key",
                .stored = QString()};
    QTest::newRow("logout") << Call{.arguments = {"logout"},
                                    .output = {"Key removed\n"},
                                    .deviceLists = 0,
                                    .told = InstanceSocket::reloadKeyMessage,
                                    .stored = QString()};
    QTest::newRow("completion: commands")
        << Call{.arguments = {"__complete", "lo"}, .output = {"login\nlogout\n"}, .deviceLists = 0};
    QTest::newRow("completion: a setting's values") << Call{.arguments = {"__complete", "set", "--all", "fan", "med"},
                                                            .output = {"medium\nmedium_high\n"},
                                                            .deviceLists = 0};
    QTest::newRow("completion: a timer's lengths")
        << Call{.arguments = {"__complete", "timer", "off", ""}, .output = {"30m\n1h\n2h\n4h\n8h\n"}, .deviceLists = 0};
    QTest::newRow("completion: --days") << Call{
        .arguments = {"__complete", "history", "--days", ""}, .output = {"1\n2\n3\n4\n5\n6\n7\n"}, .deviceLists = 0};
    QTest::newRow("completion: react") << Call{
        .arguments = {"__complete", "react", "--all", "o"}, .output = {"on\noff\n"}, .deviceLists = 0};
    QTest::newRow("completion: rooms") << Call{.arguments = {"__complete", "on", "--device", "'bed"},
                                               .output = {"Bedroom\n"}};
    QTest::newRow("completion: rooms after bash's = break")
        << Call{.arguments = {"__complete", "status", "--device", "=", "L"}, .output = {"Living Room\n"}};
}

void tst_CommandLine::commands()
{
    QFETCH(Call, call);

    FakeSensiboCloud cloud;
    QVERIFY(cloud.listen());
    const QString livingRoom = call.behaviour == u"hostile" ? QStringLiteral("Evil\x1b]0;pwned\a\r\nRoom\u202e")
                                                            : QStringLiteral("Living Room");
    cloud.setDevices({
        FakeSensiboCloud::makeDevice("abc", livingRoom, true, "cool", 22, "C", 23.4, 51.3, true),
        FakeSensiboCloud::makeDevice("def", "Bedroom", false, "heat", 30, "C", 20.0, 40.0, true),
        FakeSensiboCloud::makeDevice("ghi", "Office", true, "dry", 24, "C", 26.0, 60.0, false),
        FakeSensiboCloud::makeDevice("jkl", "Den", true, "heat", 70, "F", 21.0, 45.0, true),
    });
    if (call.behaviour == u"extras") {
        QJsonArray devices = cloud.devices();
        QJsonObject first = devices.at(0).toObject();
        first.insert("smartMode", FakeSensiboCloud::makeSmartMode(true));
        QJsonObject bedroom = devices.at(1).toObject();
        bedroom.insert("timer", FakeSensiboCloud::makeTimer(bedroom, true, 90));
        devices.replace(0, first);
        devices.replace(1, bedroom);
        cloud.setDevices(devices);
    } else if (call.behaviour == u"reads fail") {
        cloud.overrideEndpoint(FakeSensiboCloud::Endpoint::DeviceDetails, FakeHttpServer::Response{500, "{}", {}});
        cloud.overrideEndpoint(FakeSensiboCloud::Endpoint::History, FakeHttpServer::Response{500, "{}", {}});
    } else if (call.behaviour == u"no readings") {
        cloud.overrideEndpoint(
            FakeSensiboCloud::Endpoint::History,
            FakeHttpServer::Response{200, R"({"status":"success","result":{"temperature":[],"humidity":[]}})", {}});
    }
    cloud.setGzip(call.behaviour == u"gzip");
    cloud.setDelayMs(call.behaviour == u"slow" ? 5'000 : 0);
    if (call.behaviour == u"refuse") {
        cloud.overrideStateChange(FakeHttpServer::Response{500, "{}", {}}, 1);
    } else if (call.behaviour == u"refuse second") {
        const FakeHttpServer::Response busy{
            400, R"({"status":"failure","reason":"BadRequest","message":"The unit is busy"})", {}};
        cloud.overrideStateChange(busy, 1, 1);
        cloud.overrideEndpoint(FakeSensiboCloud::Endpoint::Timer, busy, 1, 1);
    }

    QTemporaryDir configHome;
    const QString settings = configHome.filePath(QStringLiteral("kelvo"));
    if (call.key == u"stored") {
        QVERIFY(Preferences(settings).setText(QLatin1String(PreferenceKeys::sensiboAPIKey), "test-key"));
        const QByteArray file = QFile::encodeName(settings + QStringLiteral("/preferences.json"));
        QCOMPARE(::chmod(file.constData(), mode_t(call.preferencesMode)), 0);
    } else if (call.key == u"fifo") {
        QVERIFY(QDir().mkdir(settings));
        QCOMPARE(::mkfifo(QFile::encodeName(settings + QStringLiteral("/preferences.json")).constData(), 0600), 0);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KELVO_API_KEY"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert("XDG_CONFIG_HOME", configHome.path());
    environment.insert("XDG_RUNTIME_DIR", m_runtimeDir.path());
    environment.insert("KELVO_SENSIBO_API_URL", cloud.baseUrl());
    if (call.key != u"none" && call.key != u"stored" && call.key != u"fifo") {
        environment.insert("KELVO_API_KEY", call.key);
    }
    for (const QString& entry : call.environment) {
        const qsizetype equals = entry.indexOf(u'=');
        if (equals < 0) {
            environment.remove(entry);
        } else {
            environment.insert(entry.left(equals), entry.mid(equals + 1));
        }
    }

    // The tray Kelvo of this settings folder; without XDG_RUNTIME_DIR here, one started in a desktop session.
    QLocalServer tray;
    QByteArray told;
    QVERIFY(tray.listen(traySocket(settings, environment.value("XDG_RUNTIME_DIR", sessionRuntimeDir()))));
    connect(&tray, &QLocalServer::newConnection, this, [&] {
        while (QLocalSocket* client = tray.nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [&told, client] { told += client->readAll(); });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });

    // The fake cloud answers from this event loop: wait for the process without blocking it.
    QProcess kelvo;
    kelvo.setProcessEnvironment(environment);
    const QString stdoutTo = call.stdoutTo;
    if (stdoutTo == u"/dev/full") {
        kelvo.setStandardOutputFile(stdoutTo);
    }
    kelvo.setChildProcessModifier([stdoutTo] {
        if (stdoutTo == u"closed") {
            ::close(STDOUT_FILENO);
        } else if (int ends[2]; stdoutTo == u"no reader" && ::pipe(ends) == 0) {
            ::dup2(ends[1], STDOUT_FILENO);
            ::close(ends[0]);
        }
    });
    QSignalSpy finished(&kelvo, &QProcess::finished);
    kelvo.start(QStringLiteral(KELVO_BINARY), call.arguments);
    QVERIFY(kelvo.waitForStarted());
    kelvo.write(call.input);
    kelvo.closeWriteChannel();
    QVERIFY(finished.wait(60'000));

    const QString out = QString::fromUtf8(kelvo.readAllStandardOutput());
    const QString err = QString::fromUtf8(kelvo.readAllStandardError());
    if (call.exitCode < 0) {
        QCOMPARE(kelvo.exitStatus(), QProcess::CrashExit);
        QCOMPARE(kelvo.exitCode(), -call.exitCode);
        QCOMPARE(err, QString());
    } else {
        QCOMPARE(kelvo.exitStatus(), QProcess::NormalExit);
        QVERIFY2(kelvo.exitCode() == call.exitCode, qPrintable(err));
    }
    for (const QString& part : call.output) {
        QVERIFY2(out.contains(part), qPrintable(out));
    }
    // Plain output carries no control character but its own line ends and tabs.
    for (const QChar c : out) {
        QVERIFY2(c == u'\n' || c == u'\t' || (c >= u' ' && c != QChar(0x7f) && c != QChar(0x202e)), qPrintable(out));
    }
    QVERIFY2(err.contains(call.error), qPrintable(err));
    QCOMPARE(cloud.deviceListCount(), call.deviceLists);
    QStringList sent;
    // Of the reads, only the history's: the device list is counted, and status's details show in its output.
    for (const FakeHttpServer::Request& sentRequest : cloud.requests()) {
        const QString target = QString::fromLatin1(sentRequest.target) + u' ' + QString::fromUtf8(sentRequest.body);
        if (sentRequest.method == "PATCH") {
            sent.append(target);
        } else if (sentRequest.method != "GET" || sentRequest.target.contains("/historicalMeasurements")) {
            sent.append(QString::fromLatin1(sentRequest.method) + u' ' + target);
        }
    }
    QCOMPARE(sent, call.changes);
    if (!call.told.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(told, call.told, 10'000);
    } else {
        QTest::qWait(50);
        QCOMPARE(told, QByteArray());
    }
    if (call.stored) {
        const Preferences after(settings, Preferences::Access::ReadOnly);
        QCOMPARE(after.text(QLatin1String(PreferenceKeys::sensiboAPIKey)).value_or(QString()), *call.stored);
        struct stat info {
        };
        QVERIFY(call.stored->isEmpty() ||
                (::stat(QFile::encodeName(after.filePath()).constData(), &info) == 0 && (info.st_mode & 0777) == 0600));
    }
}

// Each shell's completion script, as the shell runs it, asks the real binary, which asks the fake cloud for rooms.
void tst_CommandLine::completionScripts_data()
{
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("script"); // runs with $SCRIPT naming the completion script
    QTest::addColumn<QString>("offered");

    QTest::newRow("bash") << "bash"
                          << R"(source "$SCRIPT"; COMP_WORDS=(kelvo on --device Liv); COMP_CWORD=3; _kelvo;
                                printf '%s\n' "${COMPREPLY[@]}"; COMP_WORDS=(kelvo se); COMP_CWORD=1; _kelvo;
                                printf '%s\n' "${COMPREPLY[@]}")"
                          << "Living\\ Room\nset\n";
    // Outside a completion widget, compadd is ours: it prints what the script offers.
    QTest::newRow("zsh") << "zsh"
                         << R"(compadd() { shift; print -l -- "$@"; }; words=(kelvo on --device Liv); CURRENT=4;
                               source "$SCRIPT"; words=(kelvo se); CURRENT=2; source "$SCRIPT")"
                         << "Living Room\nset\n";
    QTest::newRow("fish") << "fish"
                          << R"(source "$SCRIPT"; complete -C "kelvo on --device Liv"; complete -C "kelvo se")"
                          << "Living Room\nset\n";
}

void tst_CommandLine::completionScripts()
{
    QFETCH(QString, shell);
    QFETCH(QString, script);
    QFETCH(QString, offered);

    FakeSensiboCloud cloud;
    QVERIFY(cloud.listen());
    cloud.setDevices({FakeSensiboCloud::makeDevice("abc", "Living Room")});
    const QString program = QStandardPaths::findExecutable(shell);
    QVERIFY2(!program.isEmpty(), "scripts/install-deps installs bash, zsh and fish");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(QStringLiteral(KELVO_BINARY)).path() + u':' + environment.value("PATH"));
    environment.insert("KELVO_API_KEY", cloud.apiKey());
    environment.insert("KELVO_SENSIBO_API_URL", cloud.baseUrl());
    environment.insert("SCRIPT", QStringLiteral(KELVO_COMPLETION_DIR) + u'/' +
                                     (shell == u"bash"  ? "kelvo.bash"
                                      : shell == u"zsh" ? "_kelvo"
                                                        : "kelvo.fish"));

    QProcess run;
    run.setProcessEnvironment(environment);
    QSignalSpy finished(&run, &QProcess::finished);
    run.start(program, {shell == u"zsh" ? QStringLiteral("-fc") : QStringLiteral("-c"), script});
    QVERIFY(finished.wait(60'000));
    QCOMPARE(run.readAllStandardError(), QByteArray());
    QCOMPARE(QString::fromUtf8(run.readAllStandardOutput()), offered);
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
