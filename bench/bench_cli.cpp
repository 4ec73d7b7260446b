// `kelvo status` end to end, from process start to exit, against a loopback cloud with 10 devices (gzip), beside
// the floor, a Qt Core + Network program making the same request (floor/get.cpp), and curl. Kelvo runs as it would
// over ssh: no display, no platform chosen, the key from its preference store. Runs alternate between them; one
// warm-up run each is not counted. `kelvo --version` (start and exit, no request) is timed too, to show what
// loading the program costs. Options: --runs N (default 21), --kelvo PATH, --floor PATH, --curl PATH.
// Target: kelvo status at most 1.1× the floor's time.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>

namespace {

// Milliseconds from start to exit, or a negative number when the program failed.
double timeRun(const QString& program, const QStringList& arguments, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    bench::Clock::time_point ended;
    bool done = false;
    QObject::connect(&process, &QProcess::finished, [&] {
        ended = bench::Clock::now();
        done = true;
    });
    QObject::connect(&process, &QProcess::errorOccurred, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            done = true;
        }
    });
    const auto started = bench::Clock::now();
    process.start(program, arguments);
    if (!bench::spinUntil([&] { return done; }, 20000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::printf("%s %s failed: %s\n", qPrintable(program), qPrintable(arguments.join(u' ')),
                    process.readAllStandardError().constData());
        return -1;
    }
    return bench::msSince(started, ended);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 21);
    const QString kelvo = bench::kelvoPath(arguments);
    const QString curl = bench::option(arguments, QStringLiteral("--curl")).value_or(QStringLiteral("curl"));
    const QString floor =
        bench::option(arguments, QStringLiteral("--floor")).value_or(QStringLiteral(KELVO_BENCH_FLOOR_GET));

    bench::printMachine("bench_cli",
                        QStringLiteral("kelvo status vs a Qt Core + Network GET and curl, 10 devices, gzip"));

    FakeSensiboCloud cloud;
    FakeSite site;
    if (!bench::listenBenchServers(cloud, site, 10)) {
        return 1;
    }

    bench::Spawned home; // a preference store with the key and a runtime folder of its own (no tray is found)
    home.storeApiKey(QStringLiteral("bench-key"));
    QProcessEnvironment env = home.environment(QStringLiteral("offscreen"));
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "KELVO_API_KEY"}) {
        env.remove(QString::fromLatin1(name));
    }
    env.insert(QStringLiteral("KELVO_SENSIBO_API_URL"), cloud.baseUrl());
    const QString url =
        cloud.baseUrl() + QStringLiteral("/users/me/pods?apiKey=bench-key&fields=id,room,acState,measurements,"
                                         "connectionStatus,remoteCapabilities");

    struct Subject {
        const char* name;
        QString program;
        QStringList arguments;
        std::vector<double> times;
    };
    Subject subjects[] = {
        {"kelvo status", kelvo, {QStringLiteral("status")}, {}},
        {"Qt Core + Network, the same GET", floor, {url}, {}},
        {"curl, the same request", curl, {QStringLiteral("-sSf"), QStringLiteral("--compressed"), url}, {}},
        {"kelvo --version (no request)", kelvo, {QStringLiteral("--version")}, {}},
    };
    for (int run = 0; run <= runs; ++run) {
        for (Subject& subject : subjects) {
            const double ms = timeRun(subject.program, subject.arguments, env);
            if (ms < 0) {
                return 1;
            }
            if (run > 0) {
                subject.times.push_back(ms);
            }
        }
    }

    for (Subject& subject : subjects) {
        std::printf("%-32s median %s ms\n", subject.name, bench::describe(bench::summarize(subject.times)).c_str());
    }
    const double median = bench::summarize(subjects[0].times).median;
    const double ratio = median / bench::summarize(subjects[1].times).median;
    std::printf("kelvo status / curl: %.2f×\n", median / bench::summarize(subjects[2].times).median);
    std::printf("kelvo status / Qt Core + Network GET: %.2f×; target at most 1.1×: %s\n", ratio,
                ratio <= 1.1 ? "met" : "MISSED");
    return 0;
}
