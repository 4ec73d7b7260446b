// Idle cost: the CPU time Kelvo uses while nobody touches it, with 10 devices and its 30 s refresh, against the floor
// (bench/floor: a tray icon, an empty popup, the device list asked for every 30 s as well) over as long a time in the
// same run. Each runs alone as its own process, one after the other (the order alternates from round to round), on
// the same platform: offscreen unless --platform says otherwise; with --platform xcb under on-tray.py they show their
// icons in that tray and Kelvo's panel stays shut. The period starts --settle-ms (default 5000 ms) after the first
// device list was asked for (start-up and the launch's notice check are not counted) and lasts --seconds (default
// 300).
// Every 500 ms the benchmark reads /proc/<pid>/task/*/schedstat (run time, ns) and the threads' context switches;
// a half-second slot in which any thread ran or switched is "active". Slots from 0.5 s before to 1.5 s after a
// device-list request are refreshes; the rest are "between refreshes", where nothing should run at all.
// Options: --seconds N, --rounds N (default 1), --settle-ms N, --kelvo PATH, --floor PATH, --platform NAME.
// Target: Kelvo's idle CPU at or under 1.3 × the floor's.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

struct Idle {
    double seconds = 0;
    double cpuMs = 0;        // all of it
    double quietCpuMs = 0;   // between refreshes
    double quietSeconds = 0; // how long "between refreshes" lasted
    int slots = 0;
    int activeSlots = 0;
    int quietSlots = 0;
    int activeQuietSlots = 0;
    int refreshes = 0;
    std::map<std::string, double> cpuByThread; // by thread name
};

// Watches `pid` for `seconds`; `requests` are the times of Kelvo's device-list requests (empty for the floor).
Idle watch(const bench::Spawned& process, int seconds, const std::vector<bench::Clock::time_point>& requests)
{
    const qint64 pid = process.pid();
    struct Sample {
        bench::Clock::time_point at;
        std::map<std::string, bench::ThreadSample> threads;
    };
    std::vector<Sample> samples;
    const auto takeSample = [&] { samples.push_back({bench::Clock::now(), bench::threadSamples(pid)}); };
    takeSample();
    const auto start = samples.front().at;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, takeSample);
    ticker.start(500);
    bench::spinUntil([&] { return bench::msSince(start) >= seconds * 1000.0 || !process.running(); },
                     seconds * 1000 + 5000, 500);
    ticker.stop();
    takeSample();

    Idle idle;
    idle.seconds = bench::msSince(samples.front().at, samples.back().at) / 1000.0;
    for (const auto& request : requests) {
        idle.refreshes += request >= samples.front().at && request <= samples.back().at ? 1 : 0;
    }
    // Each thread against the last time it was read, which a sample that missed it does not reset: a thread is
    // counted from zero only when it is new.
    std::map<std::string, bench::ThreadSample> last = samples.front().threads;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        double ms = 0;
        long long switches = 0;
        for (const auto& [tid, thread] : samples[i].threads) {
            const auto before = last.find(tid);
            const bool known = before != last.end();
            const double run = thread.runMs - (known ? before->second.runMs : 0.0);
            ms += run;
            switches += thread.switches - (known ? before->second.switches : 0);
            idle.cpuByThread[thread.name] += run;
            last[tid] = thread;
        }
        const auto from = samples[i - 1].at;
        const auto to = samples[i].at;
        bool refresh = false;
        for (const auto& request : requests) {
            refresh = refresh || (request >= from - std::chrono::milliseconds(1500) &&
                                  request <= to + std::chrono::milliseconds(500));
        }
        const bool active = switches > 0 || ms > 0;
        ++idle.slots;
        idle.activeSlots += active ? 1 : 0;
        idle.cpuMs += ms;
        if (!refresh) {
            ++idle.quietSlots;
            idle.activeQuietSlots += active ? 1 : 0;
            idle.quietCpuMs += ms;
            idle.quietSeconds += bench::msSince(from, to) / 1000.0;
        }
    }
    return idle;
}

void print(const char* who, const Idle& idle)
{
    const double scale = idle.seconds > 0 ? 300.0 / idle.seconds : 0;
    const double quietScale = idle.quietSeconds > 0 ? 300.0 / idle.quietSeconds : 0;
    std::printf("  %s: %.1f ms of CPU per 5 min (%.1f ms over %.0f s, %d refreshes); between refreshes %.2f ms per 5 "
                "min of quiet (%.2f ms over %.0f s); active half-second slots %d of %d, between refreshes %d of %d\n",
                who, idle.cpuMs * scale, idle.cpuMs, idle.seconds, idle.refreshes, idle.quietCpuMs * quietScale,
                idle.quietCpuMs, idle.quietSeconds, idle.activeSlots, idle.slots, idle.activeQuietSlots,
                idle.quietSlots);
    std::printf("    by thread:");
    for (const auto& [name, ms] : idle.cpuByThread) {
        std::printf(" %s %.2f ms;", name.c_str(), ms);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int seconds = bench::intOption(arguments, QStringLiteral("--seconds"), 300);
    const int rounds = bench::intOption(arguments, QStringLiteral("--rounds"), 1);
    const int settleMs = bench::intOption(arguments, QStringLiteral("--settle-ms"), 5000);
    const QString kelvo = bench::kelvoPath(arguments);
    const QString floor = bench::floorPath(arguments);
    const QString platform = bench::platformName(arguments);

    bench::printMachine("bench_idle", bench::placeDescription(platform));
    std::printf("idle: %d s each for Kelvo (10 devices, the 30 s refresh) and the floor, %d round(s)\n", seconds,
                rounds);
    std::fflush(stdout);

    FakeSensiboCloud cloud;
    FakeSite site;
    if (!bench::listenBenchServers(cloud, site, 10)) {
        return 1;
    }
    std::vector<bench::Clock::time_point> listRequests;
    QObject::connect(&cloud.server(), &FakeHttpServer::requestReceived, &app,
                     [&](const FakeHttpServer::Request& request) {
                         if (bench::isDeviceList(request)) {
                             listRequests.push_back(bench::Clock::now());
                         }
                     });

    std::vector<double> kelvoCpu, kelvoQuiet, floorCpu;
    for (int round = 0; round < rounds; ++round) {
        const bool kelvoFirst = round % 2 == 0;
        for (const bool isKelvo : {kelvoFirst, !kelvoFirst}) {
            bench::Spawned spawned;
            const std::size_t before = listRequests.size();
            if (isKelvo) {
                spawned.storeApiKey(QStringLiteral("bench-key"));
                spawned.start(kelvo, bench::kelvoEnvironment(spawned, platform, cloud.baseUrl(), site.baseUrl()));
            } else {
                spawned.start(floor, bench::floorEnvironment(spawned, platform, cloud.baseUrl()),
                              {QStringLiteral("--repeat-ms"), QStringLiteral("30000")});
            }
            if (!bench::spinUntil([&] { return listRequests.size() > before || !spawned.running(); }, 10000) ||
                !spawned.running()) {
                std::printf("%s did not ask for the device list\n%s\n", isKelvo ? "Kelvo" : "the floor",
                            spawned.errors().constData());
                return 1;
            }
            bench::spinFor(settleMs);
            const Idle idle = watch(spawned, seconds, listRequests);
            if (!spawned.running()) {
                std::printf("%s ended during the idle period\n%s\n", isKelvo ? "Kelvo" : "the floor",
                            spawned.errors().constData());
                return 1;
            }
            spawned.stop();
            std::printf("round %d:\n", round + 1);
            print(isKelvo ? "Kelvo" : "floor", idle);
            const double scale = 300.0 / idle.seconds;
            if (isKelvo) {
                kelvoCpu.push_back(idle.cpuMs * scale);
                kelvoQuiet.push_back(idle.quietSeconds > 0 ? idle.quietCpuMs * 300.0 / idle.quietSeconds : 0);
            } else {
                floorCpu.push_back(idle.cpuMs * scale);
            }
            std::fflush(stdout);
        }
    }

    const double kelvoMedian = bench::summarize(kelvoCpu).median;
    const double quietMedian = bench::summarize(kelvoQuiet).median;
    const double floorMedian = bench::summarize(floorCpu).median;
    std::printf("idle CPU per 5 min, medians of %d round(s): Kelvo %.1f ms (between refreshes %.2f ms per 5 min of "
                "quiet), floor %.1f ms\n",
                rounds, kelvoMedian, quietMedian, floorMedian);
    const double ratio = bench::ratio(kelvoMedian, floorMedian);
    std::printf("  Kelvo / floor: %.2f in all, %.2f between refreshes; target ≤ 1.30 in all: %s\n", ratio,
                bench::ratio(quietMedian, floorMedian), ratio <= 1.3 ? "met" : "MISSED");
    return 0;
}
