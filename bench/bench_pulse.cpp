// The pulse: the CPU time Kelvo uses while a device list is loading and its tray icon fades in and out, against the
// floor (bench/floor: a tray icon, an empty popup, one device-list request) waiting as long for its own answer.
// The loopback cloud holds every device-list answer back (--delay-ms, default 10000), so both programs wait from their
// first request on. CPU time (the threads' schedstat run time) is counted from --skip-ms (default 2000) after the
// request arrived, which leaves start-up out, for --seconds (default 6). On a StatusNotifierItem host the benchmark
// also counts Kelvo's NewIcon signals on the session bus: the host fetches every picture again on each, so the item
// sends at most 8 a second. Each program runs alone; the order alternates from run to run.
// Run it under on-tray.py (xembed or sni); --platform offscreen works too, without a tray to draw in.
// Options: --runs N (default 3), --delay-ms N, --skip-ms N, --seconds N, --kelvo PATH, --floor PATH, --platform NAME.
// Target: at most 30 ms of CPU per second of loading.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>

namespace {

// Counts the NewIcon signals of every StatusNotifierItem on the session bus, as dbus-monitor sees them.
class NewIconCounter
{
public:
    ~NewIconCounter()
    {
        m_monitor.kill();
        m_monitor.waitForFinished(3000);
    }
    bool listen()
    {
        if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) {
            return false;
        }
        m_monitor.start(QStringLiteral("dbus-monitor"),
                        {QStringLiteral("--session"),
                         QStringLiteral("type='signal',interface='org.kde.StatusNotifierItem',member='NewIcon'")});
        QObject::connect(&m_monitor, &QProcess::readyReadStandardOutput, [this] {
            while (m_monitor.canReadLine()) {
                m_count += m_monitor.readLine().contains("member=NewIcon") ? 1 : 0;
            }
        });
        return m_monitor.waitForStarted(3000);
    }
    int count() const { return m_count; }

private:
    QProcess m_monitor;
    int m_count = 0;
};

double cpuMs(qint64 pid)
{
    double ms = 0;
    for (const auto& [tid, thread] : bench::threadSamples(pid)) {
        ms += thread.runMs;
    }
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 3);
    const int delayMs = bench::intOption(arguments, QStringLiteral("--delay-ms"), 10000);
    const int skipMs = bench::intOption(arguments, QStringLiteral("--skip-ms"), 2000);
    const int seconds = bench::intOption(arguments, QStringLiteral("--seconds"), 6);
    const QString kelvo = bench::kelvoPath(arguments);
    const QString floor = bench::floorPath(arguments);
    const QString platform = bench::platformName(arguments);

    bench::printMachine("bench_pulse", bench::placeDescription(platform));
    if (skipMs + seconds * 1000 >= delayMs) {
        std::printf("--skip-ms and --seconds must end before the answer comes (--delay-ms)\n");
        return 1;
    }

    FakeSensiboCloud cloud;
    FakeSite site;
    if (!bench::listenBenchServers(cloud, site, 10)) {
        return 1;
    }
    cloud.setDelayMs(delayMs);
    NewIconCounter newIcons;
    const bool countingIcons = platform == u"xcb" && newIcons.listen();
    bench::spinFor(500); // dbus-monitor is listening

    std::vector<double> kelvoRates, floorRates, iconRates;
    for (int run = 0; run < runs; ++run) {
        const bool kelvoFirst = run % 2 == 0;
        for (const bool isKelvo : {kelvoFirst, !kelvoFirst}) {
            bench::Spawned spawned;
            const int before = cloud.deviceListCount();
            if (isKelvo) {
                spawned.storeApiKey(QStringLiteral("bench-key"));
                spawned.start(kelvo, bench::kelvoEnvironment(spawned, platform, cloud.baseUrl(), site.baseUrl()));
            } else {
                spawned.start(floor, bench::floorEnvironment(spawned, platform, cloud.baseUrl()));
            }
            if (!bench::spinUntil([&] { return cloud.deviceListCount() > before || !spawned.running(); }, 10000) ||
                !spawned.running()) {
                std::printf("%s did not ask for the device list\n%s\n", isKelvo ? "Kelvo" : "the floor",
                            spawned.errors().constData());
                return 1;
            }
            bench::spinFor(skipMs);
            const double from = cpuMs(spawned.pid());
            const int iconsFrom = newIcons.count();
            const auto start = bench::Clock::now();
            bench::spinFor(seconds * 1000);
            const double elapsedS = bench::msSince(start) / 1000.0;
            const double rate = (cpuMs(spawned.pid()) - from) / elapsedS;
            const double icons = (newIcons.count() - iconsFrom) / elapsedS;
            if (!spawned.running()) {
                std::printf("%s ended while loading\n%s\n", isKelvo ? "Kelvo" : "the floor",
                            spawned.errors().constData());
                return 1;
            }
            spawned.stop();
            std::printf("run %d, %s: %.1f ms of CPU per second of loading", run + 1, isKelvo ? "Kelvo" : "floor", rate);
            if (countingIcons) {
                std::printf(", %.1f NewIcon signals a second", icons);
            }
            std::printf("\n");
            std::fflush(stdout);
            (isKelvo ? kelvoRates : floorRates).push_back(rate);
            if (isKelvo && countingIcons) {
                iconRates.push_back(icons);
            }
        }
    }

    const double kelvoMedian = bench::summarize(kelvoRates).median;
    const double floorMedian = bench::summarize(floorRates).median;
    std::printf("CPU per second of loading, medians of %d runs: Kelvo %s ms, floor %s ms (Kelvo − floor %.1f ms)\n",
                runs, bench::describe(bench::summarize(kelvoRates)).c_str(),
                bench::describe(bench::summarize(floorRates)).c_str(), kelvoMedian - floorMedian);
    if (countingIcons) {
        const double highest = iconRates.empty() ? 0 : *std::max_element(iconRates.begin(), iconRates.end());
        std::printf("NewIcon signals a second while loading: median %.1f, highest %.1f; limit 8: %s\n",
                    bench::summarize(iconRates).median, highest, highest <= 8.0 ? "kept" : "EXCEEDED");
    }
    std::printf("target ≤ 30 ms a second: %s\n", kelvoMedian <= 30 ? "met" : "MISSED");
    return 0;
}
