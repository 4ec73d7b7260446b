// Start-up: from process start to the first device-list request seen at a loopback cloud, for Kelvo and for the
// floor (bench/floor: a tray icon, an empty popup, one device-list request), started alternately on the same
// platform against the same cloud. Kelvo runs with a stored API key and a clean preference store. The clock
// (monotonic) starts just before QProcess::start and stops when the cloud has read the whole request. One warm-up
// run of each is not counted; the order is reversed from run to run.
// Options: --runs N (default 16), --kelvo PATH, --floor PATH, --compare PATH (another Kelvo, say an earlier build,
// started in turn with these), --platform NAME (offscreen unless given; xcb uses $DISPLAY: run it under
// on-tray.py), --floor-request-first (the floor asks before it makes its icon and popup). Target: Kelvo at or under
// 1.2 × the floor.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 16);
    const QString kelvo = bench::kelvoPath(arguments);
    const QString floor = bench::floorPath(arguments);
    const QString platform = bench::platformName(arguments);
    const bool floorRequestFirst = arguments.contains(QStringLiteral("--floor-request-first"));

    bench::printMachine("bench_startup", bench::placeDescription(platform));

    FakeSensiboCloud cloud;
    FakeSite site;
    if (!bench::listenBenchServers(cloud, site, 10)) {
        return 1;
    }

    bench::Clock::time_point arrived;
    bool seen = false;
    QObject::connect(&cloud.server(), &FakeHttpServer::requestReceived, &app,
                     [&](const FakeHttpServer::Request& request) {
                         if (!seen && bench::isDeviceList(request)) {
                             arrived = bench::Clock::now();
                             seen = true;
                         }
                     });

    // One start of `program`; the time to its first device-list request, or < 0 when none came.
    const auto startOnce = [&](const QString& program, bool isKelvo) -> double {
        bench::Spawned spawned;
        QProcessEnvironment env;
        if (isKelvo) {
            spawned.storeApiKey(QStringLiteral("bench-key"));
            env = bench::kelvoEnvironment(spawned, platform, cloud.baseUrl(), site.baseUrl());
        } else {
            env = bench::floorEnvironment(spawned, platform, cloud.baseUrl());
        }
        seen = false;
        const auto started = bench::Clock::now();
        spawned.start(program, env,
                      !isKelvo && floorRequestFirst ? QStringList{QStringLiteral("--request-first")} : QStringList{});
        if (!bench::spinUntil([&] { return seen || !spawned.running(); }, 10000) || !seen) {
            std::printf("%s: no device-list request within 10 s (%s)\n%s\n", qPrintable(program),
                        spawned.running() ? "running" : "exited", spawned.errors().constData());
            return -1;
        }
        const double ms = bench::msSince(started, arrived);
        // Ended once the answer is out, so that the next start finds a quiet machine.
        bench::spinFor(300);
        spawned.stop();
        return ms;
    };

    // Each run starts every program once, in turn (the order reversed from run to run), so that the machine's load
    // weighs on all of them alike. The floor comes last in the list.
    struct Subject {
        const char* name;
        QString program;
        bool isKelvo;
        std::vector<double> times;
        std::vector<double> ratios; // to the floor of the same run
    };
    std::vector<Subject> subjects{{"Kelvo", kelvo, true, {}, {}}};
    if (const auto other = bench::option(arguments, QStringLiteral("--compare"))) {
        subjects.push_back({"compared", *other, true, {}, {}});
    }
    subjects.push_back({"floor", floor, false, {}, {}});
    for (int run = 0; run <= runs; ++run) {
        std::vector<double> times(subjects.size());
        for (std::size_t turn = 0; turn < subjects.size(); ++turn) {
            const std::size_t i = run % 2 == 0 ? turn : subjects.size() - 1 - turn;
            times[i] = startOnce(subjects[i].program, subjects[i].isKelvo);
            if (times[i] < 0) {
                return 1;
            }
        }
        if (run == 0) {
            std::printf("warm-up (not counted):");
            for (std::size_t i = 0; i < subjects.size(); ++i) {
                std::printf(" %s %.1f ms;", subjects[i].name, times[i]);
            }
            std::printf("\n");
            continue;
        }
        for (std::size_t i = 0; i < subjects.size(); ++i) {
            subjects[i].times.push_back(times[i]);
            subjects[i].ratios.push_back(bench::ratio(times[i], times.back()));
        }
    }

    const double floorMedian = bench::summarize(subjects.back().times).median;
    std::printf("process start → first device-list request at the cloud, medians of %d alternating runs:\n", runs);
    std::printf("  floor %s ms (%s)\n", bench::describe(bench::summarize(subjects.back().times)).c_str(),
                floorRequestFirst ? "asks before making its icon and popup" : "asks after showing its icon and popup");
    for (std::size_t i = 0; i + 1 < subjects.size(); ++i) {
        const Subject& subject = subjects[i];
        const double ratio = bench::ratio(bench::summarize(subject.times).median, floorMedian);
        std::printf("  %s (%s) %s ms\n    / floor: %.2f (median of the runs' ratios %s); target ≤ 1.20: %s\n",
                    subject.name, qPrintable(subject.program), bench::describe(bench::summarize(subject.times)).c_str(),
                    ratio, bench::describe(bench::summarize(subject.ratios), 2).c_str(),
                    ratio <= 1.2 ? "met" : "MISSED");
    }
    return 0;
}
