// A demo Sensibo cloud on 127.0.0.1: air conditioners whose state follows Kelvo's changes and whose room
// temperatures drift towards their targets, so Kelvo can be tried without an account. It serves every request Kelvo
// makes: the device list, state changes, a device's details, timers (which fire when due and apply their state),
// Climate React (set up on the living room's unit) and each room's last days of readings.
//
//   build/kelvo-sim [--port 8080] [--key demo]
//   KELVO_SENSIBO_API_URL=http://127.0.0.1:8080/api/v2 build/kelvo    (and enter the key "demo" in the settings)
//
// For the end-to-end tests it can also serve the maker's site with an update notice (--site-port, --notice), start
// from a fixed pair of devices that stay as they are unless changed (--scenario e2e), and write every request it
// receives to a file, one JSON object a line (--log-requests). Port 0 picks a free port; the addresses it listens on
// are printed on standard output.

#include "tests/support/FakeSensiboCloud.h"
#include "tests/support/FakeSite.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

QJsonObject fanOnlyCapabilities()
{
    return QJsonObject{
        {QStringLiteral("modes"),
         QJsonObject{{QStringLiteral("fan"),
                      QJsonObject{{QStringLiteral("fanLevels"),
                                   QJsonArray{QStringLiteral("low"), QStringLiteral("medium"), QStringLiteral("high")}},
                                  {QStringLiteral("swing"),
                                   QJsonArray{QStringLiteral("stopped"), QStringLiteral("rangeFull")}}}}}}};
}

QJsonArray demoDevices()
{
    QJsonObject garage = FakeSensiboCloud::makeDevice(QStringLiteral("demo3"), QStringLiteral("Garage"), false,
                                                      QStringLiteral("fan"), 20, QStringLiteral("C"), 26.2, 58.0);
    garage.insert(QStringLiteral("remoteCapabilities"), fanOnlyCapabilities());
    QJsonObject state = garage.value(QStringLiteral("acState")).toObject();
    state.remove(QStringLiteral("targetTemperature"));
    state.insert(QStringLiteral("fanLevel"), QStringLiteral("low"));
    garage.insert(QStringLiteral("acState"), state);
    QJsonObject livingRoom = FakeSensiboCloud::makeDevice(QStringLiteral("demo1"), QStringLiteral("Living Room"), true,
                                                          QStringLiteral("cool"), 22, QStringLiteral("C"), 24.6, 48.5);
    livingRoom.insert(QStringLiteral("smartMode"), FakeSensiboCloud::makeSmartMode(true, 20, 27.5));
    return QJsonArray{
        livingRoom,
        FakeSensiboCloud::makeDevice(QStringLiteral("demo2"), QStringLiteral("Bedroom"), true, QStringLiteral("heat"),
                                     72, QStringLiteral("F"), 19.1, 41.0),
        garage,
        FakeSensiboCloud::makeDevice(QStringLiteral("demo4"), QStringLiteral("Office"), false, QStringLiteral("cool"),
                                     23, QStringLiteral("C"), 22.0, 45.0, false),
    };
}

// A split unit with four fan levels, for the end-to-end tests.
QJsonObject e2eCapabilities()
{
    const QJsonArray fanLevels{QStringLiteral("low"), QStringLiteral("medium"), QStringLiteral("high"),
                               QStringLiteral("auto")};
    const QJsonArray swing{QStringLiteral("stopped"), QStringLiteral("rangeFull")};
    const QJsonObject mode{
        {QStringLiteral("temperatures"), FakeSensiboCloud::makeTemperatureRanges()},
        {QStringLiteral("fanLevels"), fanLevels},
        {QStringLiteral("swing"), swing},
    };
    return QJsonObject{
        {QStringLiteral("modes"), QJsonObject{{QStringLiteral("cool"), mode}, {QStringLiteral("heat"), mode}}},
    };
}

// Two devices: the living room's unit off (cool, 22 °C, fan auto) and the bedroom's.
QJsonArray e2eDevices()
{
    QJsonArray devices{
        FakeSensiboCloud::makeDevice(QStringLiteral("abc123"), QStringLiteral("Living Room"), false,
                                     QStringLiteral("cool"), 22, QStringLiteral("C"), 24.6, 48.5),
        FakeSensiboCloud::makeDevice(QStringLiteral("def456"), QStringLiteral("Bedroom"), false, QStringLiteral("heat"),
                                     20, QStringLiteral("C"), 19.8, 44.0),
    };
    for (qsizetype i = 0; i < devices.size(); ++i) {
        QJsonObject device = devices.at(i).toObject();
        device.insert(QStringLiteral("remoteCapabilities"), e2eCapabilities());
        devices[i] = device;
    }
    return devices;
}

// Appends one JSON object a line for each request a server receives, flushed at once so that a reader sees it.
void logRequests(FakeHttpServer& server, const QString& serverName, QFile& log)
{
    QObject::connect(&server, &FakeHttpServer::requestReceived, &server,
                     [&log, serverName](const FakeHttpServer::Request& request) {
                         const QJsonObject line{
                             {QStringLiteral("server"), serverName},
                             {QStringLiteral("method"), QString::fromLatin1(request.method)},
                             {QStringLiteral("target"), QString::fromLatin1(request.target)},
                             {QStringLiteral("body"), QString::fromUtf8(request.body)},
                         };
                         log.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
                         log.flush();
                     });
}

// Moves each running unit's room a little towards its target, and lets the others drift.
void drift(FakeSensiboCloud& cloud)
{
    QJsonArray devices = cloud.devices();
    for (qsizetype i = 0; i < devices.size(); ++i) {
        QJsonObject device = devices.at(i).toObject();
        const QJsonObject state = device.value(QStringLiteral("acState")).toObject();
        QJsonObject readings = device.value(QStringLiteral("measurements")).toObject();
        double temperature = readings.value(QStringLiteral("temperature")).toDouble();
        double target = temperature + (QRandomGenerator::global()->generateDouble() - 0.5);
        if (state.value(QStringLiteral("on")).toBool() && state.contains(QStringLiteral("targetTemperature"))) {
            target = state.value(QStringLiteral("targetTemperature")).toDouble();
            if (state.value(QStringLiteral("temperatureUnit")).toString() == u"F") {
                target = (target - 32) * 5 / 9;
            }
        }
        temperature += std::clamp(target - temperature, -0.3, 0.3);
        readings.insert(QStringLiteral("temperature"), std::round(temperature * 10) / 10);
        device.insert(QStringLiteral("measurements"), readings);
        devices[i] = device;
    }
    cloud.setDevices(devices);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvo-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A demo Sensibo cloud for Kelvo on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: a free one)."),
                                        QStringLiteral("port"), QStringLiteral("8080"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("The API key it accepts."),
                                       QStringLiteral("key"), QStringLiteral("demo"));
    const QCommandLineOption sitePortOption(
        QStringLiteral("site-port"),
        QStringLiteral("Also serve the maker's site (the update notice) on this port (0: a free one)."),
        QStringLiteral("port"));
    const QCommandLineOption noticeOption(
        QStringLiteral("notice"), QStringLiteral("The update notice the maker's site serves."), QStringLiteral("text"));
    const QCommandLineOption scenarioOption(
        QStringLiteral("scenario"),
        QStringLiteral("The devices: \"demo\" (four, drifting) or \"e2e\" (two, standing still)."),
        QStringLiteral("name"), QStringLiteral("demo"));
    const QCommandLineOption logOption(QStringLiteral("log-requests"),
                                       QStringLiteral("Append each request received to this file as a JSON line."),
                                       QStringLiteral("file"));
    parser.addOption(portOption);
    parser.addOption(keyOption);
    parser.addOption(sitePortOption);
    parser.addOption(noticeOption);
    parser.addOption(scenarioOption);
    parser.addOption(logOption);
    parser.process(app);

    QTextStream err(stderr);
    const auto port = [&](const QCommandLineOption& option, quint16& value) {
        bool ok = false;
        const uint number = parser.value(option).toUInt(&ok);
        if (!ok || number > 65535) {
            err << "kelvo-sim: not a port: " << parser.value(option) << Qt::endl;
            return false;
        }
        value = quint16(number);
        return true;
    };
    quint16 cloudPort = 0;
    if (!port(portOption, cloudPort)) {
        return 2;
    }
    const QString scenario = parser.value(scenarioOption);
    if (scenario != u"demo" && scenario != u"e2e") {
        err << "kelvo-sim: unknown scenario: " << scenario << Qt::endl;
        return 2;
    }

    FakeSensiboCloud cloud;
    cloud.setApiKey(parser.value(keyOption));
    cloud.setDevices(scenario == u"e2e" ? e2eDevices() : demoDevices());
    cloud.setGzip(true);

    std::unique_ptr<FakeSite> site;
    quint16 sitePort = 0;
    if (parser.isSet(sitePortOption)) {
        if (!port(sitePortOption, sitePort)) {
            return 2;
        }
        site = std::make_unique<FakeSite>();
        site->setNotice(parser.value(noticeOption).toUtf8());
    } else if (parser.isSet(noticeOption)) {
        err << "kelvo-sim: --notice needs --site-port" << Qt::endl;
        return 2;
    }

    QFile log;
    if (parser.isSet(logOption)) {
        log.setFileName(parser.value(logOption));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            err << "kelvo-sim: cannot write " << log.fileName() << ": " << log.errorString() << Qt::endl;
            return 1;
        }
        logRequests(cloud.server(), QStringLiteral("cloud"), log);
        if (site) {
            logRequests(site->server(), QStringLiteral("site"), log);
        }
    }

    if (!cloud.listen(cloudPort)) {
        err << "kelvo-sim: cannot listen on 127.0.0.1:" << parser.value(portOption) << Qt::endl;
        return 1;
    }
    if (site && !site->listen(sitePort)) {
        err << "kelvo-sim: cannot listen on 127.0.0.1:" << parser.value(sitePortOption) << Qt::endl;
        return 1;
    }
    QTextStream out(stdout);
    out << "kelvo-sim: Sensibo demo cloud at " << cloud.baseUrl() << " (API key \"" << parser.value(keyOption) << "\")"
        << Qt::endl;
    if (site) {
        out << "kelvo-sim: maker's site at " << site->baseUrl() << " (notice at " << site->noticeUrl() << ")"
            << Qt::endl;
    }

    // The e2e devices stand still, so that every change they show is one Kelvo asked for.
    QTimer drifting;
    QObject::connect(&drifting, &QTimer::timeout, &cloud, [&cloud] { drift(cloud); });
    if (scenario == u"demo") {
        drifting.start(10'000);
    }
    return app.exec();
}
