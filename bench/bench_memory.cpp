// Memory: Kelvo's resident set (VmRSS of /proc/<pid>/status) after the first load of 10 devices with the panel
// opened once, against a floor measured in the same run: a minimal Qt Widgets program that shows a tray icon and an
// empty popup (bench/floor). Both run on the same platform, offscreen unless --platform says otherwise; with no
// tray there, Kelvo opens its panel as a window at start, so the panel is open when the reading is taken.
// Each reading is taken after the program has settled (--settle-ms, default 2000 ms after the device list was
// answered, or after the floor said it was ready). Runs alternate Kelvo and the floor.
// Options: --runs N (default 5), --devices N (default 10), --kelvo PATH, --floor PATH, --platform NAME, --tray.
// Target: Kelvo ≤ 1.3 × the floor.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>

#include <map>
#include <sstream>

#ifndef KELVO_BENCH_FLOOR
#define KELVO_BENCH_FLOOR "floor-tray-popup"
#endif

namespace {

struct Reading {
    double rssMiB = 0;
    double anonMiB = 0;
    double fileMiB = 0;
    double shmemMiB = 0;
};

// Resident kB per mapping (the file's path, or [heap], [stack], [anon]), from /proc/<pid>/smaps.
std::map<std::string, long long> residentByMapping(qint64 pid)
{
    std::map<std::string, long long> resident;
    std::ifstream file("/proc/" + std::to_string(pid) + "/smaps");
    std::string line;
    std::string name = "[anon]";
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == "Rss:") {
            long long kb = 0;
            words >> kb;
            resident[name] += kb;
        } else if (!first.empty() && first.back() != ':' && first.find('-') != std::string::npos) {
            // "start-end perms offset dev inode [path]"
            std::string perms, offset, device, inode, path;
            words >> perms >> offset >> device >> inode;
            std::getline(words, path);
            const auto begin = path.find_first_not_of(' ');
            name = begin == std::string::npos ? "[anon]" : path.substr(begin);
            if (name.rfind("/usr/share/fonts/", 0) == 0 || name.rfind("/var/cache/fontconfig/", 0) == 0) {
                name = name.rfind("/usr/share/fonts/", 0) == 0 ? "(font files)" : "(fontconfig caches)";
            }
        }
    }
    return resident;
}

QByteArray runTool(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    tool.waitForFinished(5000);
    return tool.readAllStandardOutput();
}

// The absolute geometry of Kelvo's top-level X windows: the tray icon (small) and, once open, the panel.
struct XWindow {
    int x = 0, y = 0, width = 0, height = 0;
};

QList<XWindow> kelvoWindows()
{
    QList<XWindow> windows;
    const QByteArray tree = runTool(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    for (const QByteArray& line : tree.split('\n')) {
        if (!line.contains("(\"kelvo\" \"Kelvo\")")) {
            continue;
        }
        // ...("kelvo" "Kelvo")  22x26+0+0  +1257+1
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2) {
            continue;
        }
        const QByteArray size = words[words.size() - 2];
        const QByteArray position = words.last();
        const QList<QByteArray> dims = size.left(size.indexOf('+')).split('x');
        const QList<QByteArray> at = position.mid(1).split('+');
        if (dims.size() == 2 && at.size() == 2) {
            windows.append({at[0].toInt(), at[1].toInt(), dims[0].toInt(), dims[1].toInt()});
        }
    }
    return windows;
}

// Clicks Kelvo's tray icon and waits for the panel; the panel's height, or 0 when it did not open.
int openPanelFromTray()
{
    std::optional<XWindow> icon;
    for (const XWindow& window : kelvoWindows()) {
        if (window.width <= 64 && window.height <= 64) {
            icon = window;
        }
    }
    if (!icon) {
        return 0;
    }
    runTool(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(icon->x + icon->width / 2),
             QString::number(icon->y + icon->height / 2), QStringLiteral("click"), QStringLiteral("1")});
    int height = 0;
    bench::spinUntil(
        [&] {
            for (const XWindow& window : kelvoWindows()) {
                if (window.width == 300) {
                    height = window.height;
                }
            }
            return height > 0;
        },
        5000, 100);
    return height;
}

Reading read(qint64 pid)
{
    Reading reading;
    reading.rssMiB = double(bench::statusField(pid, "VmRSS")) / 1024.0;
    reading.anonMiB = double(bench::statusField(pid, "RssAnon")) / 1024.0;
    reading.fileMiB = double(bench::statusField(pid, "RssFile")) / 1024.0;
    reading.shmemMiB = double(bench::statusField(pid, "RssShmem")) / 1024.0;
    return reading;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 5);
    const int deviceCount = bench::intOption(arguments, QStringLiteral("--devices"), 10);
    const int settleMs = bench::intOption(arguments, QStringLiteral("--settle-ms"), 2000);
    const QString kelvo = bench::kelvoPath(arguments);
    const QString floor =
        bench::option(arguments, QStringLiteral("--floor")).value_or(QStringLiteral(KELVO_BENCH_FLOOR));
    const QString platform = bench::platformName(arguments);
    const bool tray = arguments.contains(QStringLiteral("--tray"));
    if (tray && platform != u"xcb") {
        std::printf("--tray needs --platform xcb and an X server with a system tray in $DISPLAY\n");
        return 1;
    }

    bench::printMachine("bench_memory", QStringLiteral("both programs on the %1 platform%2")
                                            .arg(platform, tray ? QStringLiteral(" with a system tray, DISPLAY=") +
                                                                      qEnvironmentVariable("DISPLAY")
                                                                : QStringLiteral(", no system tray")));

    FakeSensiboCloud cloud;
    FakeSite site;
    if (!bench::listenBenchServers(cloud, site, deviceCount)) {
        return 1;
    }

    std::map<std::string, long long> kelvoMappings, floorMappings;
    int panelHeight = 0; // as seen on X, with --tray
    std::vector<double> kelvoRss, kelvoAnon, kelvoFile, floorRss, floorAnon, floorFile, ratios;
    for (int run = 0; run < runs; ++run) {
        // Kelvo: started, first list answered, panel open (no tray on this platform), then left to settle.
        Reading kelvoReading;
        {
            bench::Spawned kelvoProcess;
            kelvoProcess.storeApiKey(QStringLiteral("bench-key"));
            const int before = cloud.deviceListCount();
            kelvoProcess.start(kelvo, bench::kelvoEnvironment(kelvoProcess, platform, cloud.baseUrl(), site.baseUrl()));
            if (!bench::spinUntil([&] { return cloud.deviceListCount() > before || !kelvoProcess.running(); }, 10000) ||
                !kelvoProcess.running()) {
                std::printf("Kelvo did not ask for the device list\n%s\n", kelvoProcess.errors().constData());
                return 1;
            }
            bench::spinFor(settleMs);
            if (tray) {
                const int height = openPanelFromTray();
                if (height <= 0) {
                    std::printf("the panel did not open from the tray icon\n");
                    return 1;
                }
                panelHeight = height;
                bench::spinFor(settleMs);
            }
            if (!kelvoProcess.running()) {
                std::printf("Kelvo ended early\n%s\n", kelvoProcess.errors().constData());
                return 1;
            }
            kelvoReading = read(kelvoProcess.pid());
            kelvoMappings = residentByMapping(kelvoProcess.pid());
            kelvoProcess.stop();
        }
        // The floor: started, popup shown, then left to settle as long.
        Reading floorReading;
        {
            bench::Spawned floorProcess;
            floorProcess.process().setStandardOutputFile(QString());
            floorProcess.process().setProcessChannelMode(QProcess::SeparateChannels);
            QStringList floorArguments;
            if (panelHeight > 0) {
                floorArguments << QStringLiteral("--height") << QString::number(panelHeight);
            }
            floorProcess.start(floor, floorProcess.environment(platform), floorArguments);
            if (!bench::spinUntil([&] { return floorProcess.process().canReadLine() || !floorProcess.running(); },
                                  10000) ||
                !floorProcess.running()) {
                std::printf("the floor program did not start\n%s\n", floorProcess.errors().constData());
                return 1;
            }
            bench::spinFor(settleMs);
            floorReading = read(floorProcess.pid());
            floorMappings = residentByMapping(floorProcess.pid());
            floorProcess.stop();
        }
        kelvoRss.push_back(kelvoReading.rssMiB);
        kelvoAnon.push_back(kelvoReading.anonMiB);
        kelvoFile.push_back(kelvoReading.fileMiB);
        floorRss.push_back(floorReading.rssMiB);
        floorAnon.push_back(floorReading.anonMiB);
        floorFile.push_back(floorReading.fileMiB);
        ratios.push_back(kelvoReading.rssMiB / floorReading.rssMiB);
        std::printf("run %d: Kelvo %.1f MiB (anon %.1f, file %.1f, shmem %.1f), floor %.1f MiB (anon %.1f, file %.1f, "
                    "shmem %.1f), ratio %.2f\n",
                    run + 1, kelvoReading.rssMiB, kelvoReading.anonMiB, kelvoReading.fileMiB, kelvoReading.shmemMiB,
                    floorReading.rssMiB, floorReading.anonMiB, floorReading.fileMiB, floorReading.shmemMiB,
                    ratios.back());
    }

    // Where the difference lies, in the last run.
    {
        std::vector<std::pair<long long, std::string>> differences;
        for (const auto& [name, kb] : kelvoMappings) {
            const auto it = floorMappings.find(name);
            differences.emplace_back(kb - (it == floorMappings.end() ? 0 : it->second), name);
        }
        std::sort(differences.rbegin(), differences.rend());
        std::printf("largest differences in resident memory, Kelvo − floor (last run):\n");
        for (std::size_t i = 0; i < differences.size() && i < 12; ++i) {
            std::printf("  %+7.2f MiB  %s\n", double(differences[i].first) / 1024.0, differences[i].second.c_str());
        }
    }

    const bench::Summary ratio = bench::summarize(ratios);
    std::printf("Kelvo with %d devices, panel open: VmRSS median %s MiB (anonymous %s, file-backed %s)\n", deviceCount,
                bench::describe(bench::summarize(kelvoRss)).c_str(),
                bench::describe(bench::summarize(kelvoAnon)).c_str(),
                bench::describe(bench::summarize(kelvoFile)).c_str());
    std::printf("floor (tray icon + empty 300×%d popup): VmRSS median %s MiB (anonymous %s, file-backed %s)\n",
                panelHeight > 0 ? panelHeight : 400, bench::describe(bench::summarize(floorRss)).c_str(),
                bench::describe(bench::summarize(floorAnon)).c_str(),
                bench::describe(bench::summarize(floorFile)).c_str());
    std::printf("memory, Kelvo / floor: median %s; target ≤ 1.30: %s\n", bench::describe(ratio, 2).c_str(),
                ratio.median <= 1.3 ? "met" : "MISSED");
    return 0;
}
