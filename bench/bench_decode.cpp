// How long decoding a device list takes, for lists of 1 to 1,000 devices with full capabilities, all of one model and
// each of a model of its own. Prints the median over many runs, the fastest run, and QJsonDocument's parse alone for
// comparison; no assertions.

#include "bench/BenchSupport.h"
#include "model/Decoding.h"

#include <QByteArray>
#include <QJsonDocument>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace {

QByteArray numberList(std::initializer_list<int> values)
{
    QByteArray text = "[";
    for (const int value : values) {
        if (text.size() > 1) {
            text += ',';
        }
        text += QByteArray::number(value);
    }
    return text + ']';
}

// One mode's capabilities as a Sky-type remote reports them, Celsius native.
QByteArray mode(const char* name)
{
    static const QByteArray celsius = numberList({18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30});
    static const QByteArray fahrenheit = numberList({64, 66, 68, 70, 72, 73, 75, 77, 79, 81, 82, 84, 86});
    return QByteArray("\"") + name + R"(":{"temperatures":{"C":{"isNative":true,"values":)" + celsius +
           R"(},"F":{"isNative":false,"values":)" + fahrenheit +
           R"(}},"fanLevels":["low","medium","high","auto"],"swing":["stopped","rangeFull"],)"
           R"("horizontalSwing":["stopped","rangeFull"],"light":["on","off"]})";
}

// A device as the cloud sends it for the fields Kelvo asks for, compact, with the extra keys those parts carry. All
// devices are of one model unless `ownModel`: then each one's capabilities differ from the others' in a fan level.
QByteArray device(int index, bool ownModel)
{
    static const QByteArray sharedModes =
        "{" + mode("cool") + ',' + mode("heat") + ',' + mode("dry") + ',' + mode("auto") + ',' + mode("fan") + '}';
    QByteArray modes = sharedModes;
    if (ownModel) {
        modes.replace("\"auto\"]", "\"auto" + QByteArray::number(index) + "\"]");
    }
    const QByteArray id = QByteArray::number(10000000 + index);
    return R"({"id":")" + id + R"(","room":{"uid":"r)" + id + R"(","name":"Room )" + QByteArray::number(index) +
           R"(","icon":"Lounge"},"acState":{"timestamp":{"time":"2024-12-08T17:17:01.431520Z","secondsAgo":0},)"
           R"("on":true,"mode":"cool","targetTemperature":)" +
           QByteArray::number(18 + index % 10) +
           R"(,"temperatureUnit":"C","fanLevel":"auto","swing":"stopped","horizontalSwing":"stopped","light":"on"},)"
           R"("connectionStatus":{"isAlive":true,"lastSeen":{"time":"2024-12-08T17:16:13.197465Z","secondsAgo":47}},)"
           R"("measurements":{"time":{"time":"2024-12-08T17:16:13.197465Z","secondsAgo":48},"temperature":20.2,)"
           R"("humidity":32.2,"feelsLike":20.2,"rssi":-73},"remoteCapabilities":{"modes":)" +
           modes + "}}";
}

QByteArray deviceList(int count, bool ownModels = false)
{
    QByteArray body = R"({"status":"success","result":[)";
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            body += ',';
        }
        body += device(i, ownModels);
    }
    return body + R"(],"isPartial":false})";
}

struct Timing {
    double median = 0;
    double best = 0;
};

template <typename Work> Timing time(int runs, Work work)
{
    std::vector<double> times;
    times.reserve(runs);
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

} // namespace

int main()
{
    std::printf("bench_decode: %u cores, %s\n", std::thread::hardware_concurrency(), bench::cpuModel().c_str());
    std::printf("Median of many runs; \"best\" is the fastest run; \"models\" is the answer when every device is of a\n"
                "model of its own; \"parse\" is QJsonDocument::fromJson alone.\n");
    std::printf("%8s %10s %6s %12s %12s %12s %12s %12s\n", "devices", "bytes", "runs", "µs/answer", "µs/device",
                "best µs", "models µs", "parse µs");

    for (const int count : {1, 10, 100, 1000}) {
        const QByteArray body = deviceList(count);
        const QByteArray ownModels = deviceList(count, true);
        for (const QByteArray* answer : {&body, &ownModels}) {
            const auto first = decodeDeviceListResponse(*answer);
            if (!first.ok() || first.value().result.size() != count) {
                std::printf("the answer for %d devices did not decode: %s\n", count, qPrintable(first.error()));
                return 1;
            }
        }
        const int runs = std::clamp(40000 / count, 31, 4000);
        const auto decodes = [](const QByteArray& answer) {
            return [&answer] {
                if (!decodeDeviceListResponse(answer).ok()) {
                    std::abort();
                }
            };
        };
        const Timing decode = time(runs, decodes(body));
        const Timing models = time(runs, decodes(ownModels));
        const Timing parse = time(runs, [&] {
            const QJsonDocument document = QJsonDocument::fromJson(body);
            if (document.isNull()) {
                std::abort();
            }
        });
        std::printf("%8d %10lld %6d %12.1f %12.2f %12.1f %12.1f %12.1f\n", count, static_cast<long long>(body.size()),
                    runs, decode.median, decode.median / count, decode.best, models.median, parse.median);
    }
    return 0;
}
