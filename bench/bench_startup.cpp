// Start-up: from process start to the first device-list request seen at a loopback cloud.
// Kelvo runs as its own process (offscreen unless --platform says otherwise) with a stored API key and a clean
// preference store; the cloud and the clock live in this process. The clock (monotonic) starts just before
// QProcess::start and stops when the cloud has read the whole request. One warm-up run is not counted.
// Options: --runs N (default 11), --kelvo PATH, --platform NAME. Target: under 300 ms.

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

    std::vector<double> times;
    for (int run = 0; run <= runs; ++run) {
        bench::Spawned kelvoProcess;
        kelvoProcess.storeApiKey(QStringLiteral("bench-key"));
        const QProcessEnvironment env =
            bench::kelvoEnvironment(kelvoProcess, platform, cloud.baseUrl(), site.baseUrl());
        seen = false;
        const auto started = bench::Clock::now();
        kelvoProcess.start(kelvo, env);
        if (!bench::spinUntil([&] { return seen || !kelvoProcess.running(); }, 10000) || !seen) {
            std::printf("run %d: no device-list request within 10 s (Kelvo %s)\n%s\n", run,
                        kelvoProcess.running() ? "running" : "exited", kelvoProcess.errors().constData());
            return 1;
        }
        const double ms = bench::msSince(started, arrived);
        if (run == 0) {
            std::printf("warm-up run (not counted): %.1f ms\n", ms);
        } else {
            times.push_back(ms);
        }
        kelvoProcess.stop();
    }

    const bench::Summary summary = bench::summarize(times);
    std::printf("start-up, process start → first device-list request at the cloud: median %s ms; target < 300 ms: "
                "%s\n",
                bench::describe(summary).c_str(), summary.median < 300 ? "met" : "MISSED");
    return 0;
}
