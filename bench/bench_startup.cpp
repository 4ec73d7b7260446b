// Start-up: from process start to the first device-list request seen at a loopback cloud.
// Kelvo runs as its own process (offscreen unless --platform says otherwise) with a stored API key and a clean
// preference store; the cloud and the clock live in this process. The clock (monotonic) starts just before
// QProcess::start and stops when the cloud has read the whole request. One warm-up run is not counted.
// Options: --runs N (default 11), --kelvo PATH, --platform NAME, --compare PATH (another Kelvo, say an earlier
// build, started in turn with this one). Target: under 300 ms.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 11);
    const QString kelvo = bench::kelvoPath(arguments);
    const QString platform = bench::platformName(arguments);

    bench::printMachine("bench_startup", QStringLiteral("Kelvo on the %1 platform").arg(platform));

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

    // Each run starts every program once, in turn, so that the machine's load weighs on all of them alike.
    struct Subject {
        QString program;
        std::vector<double> times;
    };
    std::vector<Subject> subjects{{kelvo, {}}};
    if (const auto other = bench::option(arguments, QStringLiteral("--compare"))) {
        subjects.push_back({*other, {}});
    }
    for (int run = 0; run <= runs; ++run) {
        for (Subject& subject : subjects) {
            bench::Spawned kelvoProcess;
            kelvoProcess.storeApiKey(QStringLiteral("bench-key"));
            const QProcessEnvironment env =
                bench::kelvoEnvironment(kelvoProcess, platform, cloud.baseUrl(), site.baseUrl());
            seen = false;
            const auto started = bench::Clock::now();
            kelvoProcess.start(subject.program, env);
            if (!bench::spinUntil([&] { return seen || !kelvoProcess.running(); }, 10000) || !seen) {
                std::printf("run %d: no device-list request within 10 s (%s %s)\n%s\n", run,
                            qPrintable(subject.program), kelvoProcess.running() ? "running" : "exited",
                            kelvoProcess.errors().constData());
                return 1;
            }
            const double ms = bench::msSince(started, arrived);
            if (run == 0) {
                std::printf("warm-up run (not counted): %.1f ms\n", ms);
            } else {
                subject.times.push_back(ms);
            }
            kelvoProcess.stop();
        }
    }

    for (const Subject& subject : subjects) {
        const bench::Summary summary = bench::summarize(subject.times);
        std::printf("%s\nstart-up, process start → first device-list request at the cloud: median %s ms; target < 300 "
                    "ms: %s\n",
                    qPrintable(subject.program), bench::describe(summary).c_str(),
                    summary.median < 300 ? "met" : "MISSED");
    }
    if (subjects.size() == 2) {
        std::printf("first / second: %.2f×\n",
                    bench::summarize(subjects[0].times).median / bench::summarize(subjects[1].times).median);
    }
    return 0;
}
