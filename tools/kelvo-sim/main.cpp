// A demo Sensibo cloud on 127.0.0.1: three air conditioners whose state follows Kelvo's changes and whose room
// temperatures drift towards their targets, so Kelvo can be tried without an account.
//
//   build/kelvo-sim [--port 8080] [--key demo]
//   KELVO_SENSIBO_API_URL=http://127.0.0.1:8080/api/v2 build/kelvo    (and enter the key "demo" in the settings)

#include "tests/support/FakeSensiboCloud.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>

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
    return QJsonArray{
        FakeSensiboCloud::makeDevice(QStringLiteral("demo1"), QStringLiteral("Living Room"), true,
                                     QStringLiteral("cool"), 22, QStringLiteral("C"), 24.6, 48.5),
        FakeSensiboCloud::makeDevice(QStringLiteral("demo2"), QStringLiteral("Bedroom"), true, QStringLiteral("heat"),
                                     72, QStringLiteral("F"), 19.1, 41.0),
        garage,
        FakeSensiboCloud::makeDevice(QStringLiteral("demo4"), QStringLiteral("Office"), false, QStringLiteral("cool"),
                                     23, QStringLiteral("C"), 22.0, 45.0, false),
    };
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
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on."),
                                        QStringLiteral("port"), QStringLiteral("8080"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("The API key it accepts."),
                                       QStringLiteral("key"), QStringLiteral("demo"));
    parser.addOption(portOption);
    parser.addOption(keyOption);
    parser.process(app);

    FakeSensiboCloud cloud;
    cloud.setApiKey(parser.value(keyOption));
    cloud.setDevices(demoDevices());
    cloud.setGzip(true);
    if (!cloud.listen(quint16(parser.value(portOption).toUInt()))) {
        QTextStream(stderr) << "kelvo-sim: cannot listen on 127.0.0.1:" << parser.value(portOption) << "\n";
        return 1;
    }
    QTextStream(stdout) << "kelvo-sim: Sensibo demo cloud at " << cloud.baseUrl() << " (API key \""
                        << parser.value(keyOption) << "\")" << Qt::endl;

    QTimer drifting;
    QObject::connect(&drifting, &QTimer::timeout, &cloud, [&cloud] { drift(cloud); });
    drifting.start(10'000);
    return app.exec();
}
