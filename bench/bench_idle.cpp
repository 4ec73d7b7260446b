// Idle cost: the CPU time Kelvo uses over an idle period with 10 devices and its 30 s refresh, read from /proc.
// Kelvo runs as its own process (offscreen unless --platform says otherwise; with no tray there its panel stays open
// as a window; with --platform xcb and a system tray in $DISPLAY it shows its tray icon and the panel stays shut). The
// period starts --settle-ms (default 5000 ms) after the first device list was asked for, so that start-up and the
// launch's notice check are not counted, and lasts --seconds (default 300). CPU time is utime+stime of /proc/<pid>/stat
// (10 ms ticks, ended threads included) and, more precisely, the run time of /proc/<pid>/task/*/schedstat followed per
// thread from sample to sample (a thread that began during the period counts from zero; one that ended counts up to its
// last sample). Wake-ups are approximated by context switches (voluntary and involuntary, summed over the threads),
// sampled every 250 ms; a sample interval counts as "between refreshes" when no device-list request arrived from 2 s
// before it to 1 s after it. Options: --seconds N, --settle-ms N, --kelvo PATH, --platform NAME. Target: under 50 ms
// over 300 s.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int seconds = bench::intOption(arguments, QStringLiteral("--seconds"), 300);
    const int settleMs = bench::intOption(arguments, QStringLiteral("--settle-ms"), 5000);
    const QString kelvo = bench::kelvoPath(arguments);
    const QString platform = bench::platformName(arguments);

    bench::printMachine("bench_idle", QStringLiteral("Kelvo on the %1 platform").arg(platform));
    std::printf("idle period: %d s with 10 devices and the 30 s refresh (one run; --seconds N to change)\n", seconds);
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

    bench::Spawned kelvoProcess;
    kelvoProcess.storeApiKey(QStringLiteral("bench-key"));
    kelvoProcess.start(kelvo, bench::kelvoEnvironment(kelvoProcess, platform, cloud.baseUrl(), site.baseUrl()));
    if (!bench::spinUntil([&] { return !listRequests.empty() || !kelvoProcess.running(); }, 10000) ||
        !kelvoProcess.running()) {
        std::printf("Kelvo did not ask for the device list\n%s\n", kelvoProcess.errors().constData());
        return 1;
    }
    bench::spinFor(settleMs);
    const qint64 pid = kelvoProcess.pid();
    const std::size_t requestsBefore = listRequests.size();

    // A sample every 250 ms: when it was taken, the process's tick count, and each live thread's counters.
    struct Sample {
        bench::Clock::time_point at;
        double processMs = 0;
        std::map<std::string, bench::ThreadSample> threads;
    };
    std::vector<Sample> samples;
    const auto takeSample = [&] {
        samples.push_back({bench::Clock::now(), bench::processCpuMs(pid), bench::threadSamples(pid)});
    };
    takeSample();
    const auto start = samples.front().at;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &app, takeSample);
    ticker.start(250);
    bench::spinUntil([&] { return bench::msSince(start) >= seconds * 1000.0 || !kelvoProcess.running(); },
                     seconds * 1000 + 5000, 250);
    ticker.stop();
    if (!kelvoProcess.running()) {
        std::printf("Kelvo ended during the idle period\n%s\n", kelvoProcess.errors().constData());
        return 1;
    }
    takeSample();
    kelvoProcess.stop();

    const Sample& first = samples.front();
    const Sample& last = samples.back();
    const double periodS = bench::msSince(first.at, last.at) / 1000.0;
    const double statMs = last.processMs - first.processMs;
    const std::size_t refreshes = listRequests.size() - requestsBefore;

    // Per thread, from its first sample (or from zero when it began during the period) to its last one.
    struct ThreadTotal {
        std::string name;
        double runMs = 0;
        long long switches = 0;
        bool ended = false;
        bool began = false;
    };
    std::map<std::string, ThreadTotal> totals;
    std::map<std::string, bench::ThreadSample> previous = first.threads;
    for (const auto& [tid, thread] : first.threads) {
        totals[tid] = {thread.name, 0, 0, false, false};
    }
    long long quietSwitches = 0;
    long long refreshSwitches = 0;
    double quietSeconds = 0;
    int quietIntervalsWithWakeups = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        long long switches = 0;
        for (const auto& [tid, thread] : samples[i].threads) {
            const auto before = previous.find(tid);
            const double run = thread.runMs - (before == previous.end() ? 0.0 : before->second.runMs);
            const long long count = thread.switches - (before == previous.end() ? 0 : before->second.switches);
            ThreadTotal& total = totals[tid];
            if (before == previous.end() && total.name.empty()) {
                total.began = true;
            }
            total.name = thread.name;
            total.runMs += run;
            total.switches += count;
            switches += count;
        }
        for (const auto& [tid, thread] : previous) {
            if (!samples[i].threads.count(tid)) {
                totals[tid].ended = true;
            }
        }
        previous = samples[i].threads;

        const auto from = samples[i - 1].at;
        const auto to = samples[i].at;
        bool nearRefresh = false;
        for (std::size_t r = requestsBefore; r < listRequests.size(); ++r) {
            if (listRequests[r] >= from - std::chrono::seconds(2) && listRequests[r] <= to + std::chrono::seconds(1)) {
                nearRefresh = true;
            }
        }
        if (nearRefresh) {
            refreshSwitches += switches;
        } else {
            quietSwitches += switches;
            quietSeconds += bench::msSince(from, to) / 1000.0;
            quietIntervalsWithWakeups += switches > 0 ? 1 : 0;
        }
    }
    double schedMs = 0;
    long long totalSwitches = 0;
    int began = 0;
    int ended = 0;
    for (const auto& [tid, total] : totals) {
        schedMs += total.runMs;
        totalSwitches += total.switches;
        began += total.began ? 1 : 0;
        ended += total.ended ? 1 : 0;
    }

    std::printf("threads: %zu at the start, %zu at the end; %d began and %d ended during the period (a thread's "
                "last < 250 ms before it ended, or a whole thread shorter than that, escape the per-thread sums)\n",
                first.threads.size(), last.threads.size(), began, ended);
    for (const auto& [tid, total] : totals) {
        std::printf("  thread %-16s %8.2f ms CPU, %5lld context switches%s%s\n", total.name.c_str(), total.runMs,
                    total.switches, total.began ? ", began during the period" : "",
                    total.ended ? ", ended during the period" : "");
    }
    std::printf("device-list refreshes during the period: %zu (%.1f s apart on average)\n", refreshes,
                refreshes > 0 ? periodS / double(refreshes) : 0.0);
    std::printf("CPU over %.0f s idle: %.1f ms (per-thread schedstat), %.0f ms (utime+stime, 10 ms ticks, ±10 ms); "
                "%.2f ms per refresh (schedstat)\n",
                periodS, schedMs, statMs, refreshes > 0 ? schedMs / double(refreshes) : 0.0);
    std::printf("wake-ups (context switches): %lld in all; %lld around refreshes (%.1f per refresh); %lld between "
                "refreshes over %.0f quiet seconds (%d quarter-seconds with any)\n",
                totalSwitches, refreshSwitches, refreshes > 0 ? double(refreshSwitches) / double(refreshes) : 0.0,
                quietSwitches, quietSeconds, quietIntervalsWithWakeups);
    const double scale = 300.0 / periodS;
    const double worst = std::max(schedMs, statMs) * scale;
    std::printf("idle CPU per 300 s: %.1f ms (schedstat), %.0f ms (ticks); target < 50 ms: %s\n", schedMs * scale,
                statMs * scale, worst < 50 ? "met" : "MISSED");
    return 0;
}
