// Memory: Kelvo's resident set (VmRSS of /proc/<pid>/status) after the first load of 10 devices, against the floor
// measured in the same run (bench/floor: a tray icon, an empty popup of the panel's size, one device-list request),
// and against the floor whose popup shows three lines of text (--text), which is what drawing any words costs.
// Both ask the same loopback cloud, over TLS unless --plain says otherwise or TLS cannot be set up here (see
// TlsFront), and run on the same platform, offscreen unless --platform says otherwise.
// On the offscreen platform there is no tray: Kelvo opens its panel as a window at start, and it is open when the
// reading is taken. With --platform xcb and a system tray (run it under on-tray.py) Kelvo is read at rest with its
// panel never opened, then the panel is opened from the tray icon (a click), read, closed again (another click) and
// read again: "at rest", "open" and "opened once".
// Each reading is taken after the program has settled (--settle-ms, default 2000 ms after the device list was
// answered, after the panel opened or closed, or after the floor said its answer was in). Runs alternate which of
// the two starts first.
// Options: --runs N (default 5), --devices N (default 10), --kelvo PATH, --floor PATH, --platform NAME, --plain.
// Target: Kelvo, panel opened once, at or under 1.15 × the floor.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>

#include <map>
#include <sstream>

namespace {

struct Reading {
    double rssMiB = 0;
    double anonMiB = 0;
    double fileMiB = 0;
    double privateMiB = 0; // Private_Dirty of smaps_rollup: pages no other process could share
    std::map<std::string, long long> mappings;
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
    // Unmapped windows stay in the tree: only those xdotool finds visible count.
    const QList<QByteArray> visible =
        runTool(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                            QStringLiteral("--classname"), QStringLiteral("^kelvo$")})
            .split('\n');
    QList<XWindow> windows;
    const QByteArray tree = runTool(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    for (const QByteArray& line : tree.split('\n')) {
        if (!line.contains("(\"kelvo\" \"Kelvo\")")) {
            continue;
        }
        // 0x1000003 "Kelvo": ("kelvo" "Kelvo")  22x26+0+0  +1257+1
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 3 || !visible.contains(QByteArray::number(words[0].toLongLong(nullptr, 16)))) {
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

Reading read(qint64 pid)
{
    Reading reading;
    reading.rssMiB = double(bench::statusField(pid, "VmRSS")) / 1024.0;
    reading.anonMiB = double(bench::statusField(pid, "RssAnon")) / 1024.0;
    reading.fileMiB = double(bench::statusField(pid, "RssFile")) / 1024.0;
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line)) {
        if (line.rfind("Private_Dirty:", 0) == 0) {
            reading.privateMiB += double(std::stoll(line.substr(line.find(':') + 1))) / 1024.0;
        }
    }
    reading.mappings = residentByMapping(pid);
    return reading;
}

// Clicks Kelvo's tray icon; true when a window of the panel's width is then shown (`open`) or gone (`!open`).
bool clickTrayIcon(bool open, int& height)
{
    std::optional<XWindow> icon;
    for (const XWindow& window : kelvoWindows()) {
        if (window.width <= 64 && window.height <= 64) {
            icon = window;
        }
    }
    if (!icon) {
        return false;
    }
    runTool(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(icon->x + icon->width / 2),
             QString::number(icon->y + icon->height / 2), QStringLiteral("click"), QStringLiteral("1")});
    return bench::spinUntil(
        [&] {
            bool shown = false;
            for (const XWindow& window : kelvoWindows()) {
                if (window.width == 300) {
                    shown = true;
                    height = window.height;
                }
            }
            return shown == open;
        },
        5000, 100);
}

void printDifferences(const char* title, const Reading& kelvo, const Reading& floor)
{
    std::vector<std::pair<long long, std::string>> differences;
    for (const auto& [name, kb] : kelvo.mappings) {
        const auto it = floor.mappings.find(name);
        differences.emplace_back(kb - (it == floor.mappings.end() ? 0 : it->second), name);
    }
    for (const auto& [name, kb] : floor.mappings) {
        if (!kelvo.mappings.count(name)) {
            differences.emplace_back(-kb, name);
        }
    }
    std::sort(differences.rbegin(), differences.rend());
    std::printf("largest differences in resident memory, Kelvo %s − floor (last run):\n", title);
    for (std::size_t i = 0; i < differences.size() && i < 14; ++i) {
        std::printf("  %+7.2f MiB  %s\n", double(differences[i].first) / 1024.0, differences[i].second.c_str());
    }
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
    const QString floor = bench::floorPath(arguments);
    const QString platform = bench::platformName(arguments);
    const bool tray = platform == u"xcb" && qEnvironmentVariableIsSet("BENCH_TRAY");

    FakeSensiboCloud cloud;
    FakeSite site;
    if (!bench::listenBenchServers(cloud, site, deviceCount)) {
        return 1;
    }
    bench::TlsFront tlsFront;
    const bool tls = !arguments.contains(QStringLiteral("--plain")) && tlsFront.listen(cloud.port());
    const bench::TlsFront* trust = tls ? &tlsFront : nullptr;
    const QString cloudUrl = tls ? tlsFront.baseUrl() : cloud.baseUrl();
    QString transport = QStringLiteral("the cloud over TLS");
    if (!tls) {
        transport = QStringLiteral("the cloud over plain HTTP");
        if (!tlsFront.error().isEmpty()) {
            transport += QStringLiteral(" (no TLS: %1)").arg(tlsFront.error());
        }
    }
    bench::printMachine("bench_memory", bench::placeDescription(platform) + QStringLiteral(", ") + transport);

    int panelHeight = 374;
    struct Series {
        std::vector<double> rss, anon, file, priv;
        void add(const Reading& r)
        {
            rss.push_back(r.rssMiB);
            anon.push_back(r.anonMiB);
            file.push_back(r.fileMiB);
            priv.push_back(r.privateMiB);
        }
    };
    Series kelvoRest, kelvoOpen, kelvoOnce, floorSeries, floorTextSeries;
    Reading lastOpen, lastOnce, lastFloor;

    // Kelvo: started, first list answered, panel opened (at start with no tray, from the icon with one), read; with
    // a tray closed again and read again.
    const auto runKelvo = [&](Reading& rest, Reading& open, Reading& once) -> bool {
        bench::Spawned kelvoProcess;
        kelvoProcess.storeApiKey(QStringLiteral("bench-key"));
        const int before = cloud.deviceListCount();
        kelvoProcess.start(kelvo, bench::kelvoEnvironment(kelvoProcess, platform, cloudUrl, site.baseUrl()), {}, trust);
        if (!bench::spinUntil([&] { return cloud.deviceListCount() > before || !kelvoProcess.running(); }, 10000) ||
            !kelvoProcess.running()) {
            std::printf("Kelvo did not ask for the device list\n%s\n", kelvoProcess.errors().constData());
            return false;
        }
        bench::spinFor(settleMs);
        rest = read(kelvoProcess.pid());
        if (tray && !clickTrayIcon(true, panelHeight)) {
            std::printf("the panel did not open from the tray icon\n");
            return false;
        }
        bench::spinFor(settleMs);
        open = read(kelvoProcess.pid());
        if (tray) {
            int ignored = 0;
            if (!clickTrayIcon(false, ignored)) {
                std::printf("the panel did not close on a second click\n");
                return false;
            }
            bench::spinFor(settleMs);
            once = read(kelvoProcess.pid());
        }
        if (!kelvoProcess.running()) {
            std::printf("Kelvo ended early\n%s\n", kelvoProcess.errors().constData());
            return false;
        }
        kelvoProcess.stop();
        return true;
    };
    // The floor: started, popup shown, its answer in, then left to settle as long.
    const auto runFloor = [&](Reading& reading, bool text) -> bool {
        bench::Spawned floorProcess;
        floorProcess.process().setStandardOutputFile(QString());
        floorProcess.process().setProcessChannelMode(QProcess::SeparateChannels);
        QStringList floorArguments{QStringLiteral("--height"), QString::number(panelHeight)};
        if (text) {
            floorArguments.append(QStringLiteral("--text"));
        }
        floorProcess.start(floor, bench::floorEnvironment(floorProcess, platform, cloudUrl), floorArguments, trust);
        if (!bench::spinUntil([&] { return floorProcess.process().canReadLine() || !floorProcess.running(); }, 10000) ||
            !floorProcess.running()) {
            std::printf("the floor program did not start\n%s\n", floorProcess.errors().constData());
            return false;
        }
        if (const QByteArray errors = floorProcess.errors(); errors.contains("failed")) {
            std::printf("the floor: %s\n", errors.constData());
            return false;
        }
        bench::spinFor(settleMs);
        reading = read(floorProcess.pid());
        floorProcess.stop();
        return true;
    };

    for (int run = 0; run < runs; ++run) {
        Reading rest, open, once, floorReading, floorTextReading;
        // The floor's popup takes the panel's height, which Kelvo's first run finds: Kelvo starts the first run.
        const bool kelvoFirst = run % 2 == 0;
        if (kelvoFirst ? !runKelvo(rest, open, once) || !runFloor(floorReading, false)
                       : !runFloor(floorReading, false) || !runKelvo(rest, open, once)) {
            return 1;
        }
        if (!runFloor(floorTextReading, true)) {
            return 1;
        }
        kelvoOpen.add(open);
        floorSeries.add(floorReading);
        floorTextSeries.add(floorTextReading);
        std::printf("run %d: floor %.1f MiB (anon %.1f, private %.1f); Kelvo, panel open %.1f MiB (anon %.1f, private "
                    "%.1f)",
                    run + 1, floorReading.rssMiB, floorReading.anonMiB, floorReading.privateMiB, open.rssMiB,
                    open.anonMiB, open.privateMiB);
        if (tray) {
            kelvoRest.add(rest);
            kelvoOnce.add(once);
            std::printf("; at rest %.1f MiB (anon %.1f, private %.1f); opened once %.1f MiB (anon %.1f, private %.1f)",
                        rest.rssMiB, rest.anonMiB, rest.privateMiB, once.rssMiB, once.anonMiB, once.privateMiB);
        }
        std::printf("\n");
        lastOpen = open;
        lastOnce = once;
        lastFloor = floorReading;
    }

    printDifferences("with the panel open", lastOpen, lastFloor);
    if (tray) {
        printDifferences("with the panel opened once", lastOnce, lastFloor);
    }

    const auto median = [](const std::vector<double>& values) { return bench::summarize(values).median; };
    const auto line = [&](const char* what, const Series& series) {
        std::printf("%s: VmRSS %s MiB (anonymous %s, file-backed %s, private %s)\n", what,
                    bench::describe(bench::summarize(series.rss)).c_str(),
                    bench::describe(bench::summarize(series.anon)).c_str(),
                    bench::describe(bench::summarize(series.file)).c_str(),
                    bench::describe(bench::summarize(series.priv)).c_str());
    };
    std::printf("medians of %d runs, %d devices:\n", runs, deviceCount);
    line("  floor (tray icon, empty 300-wide popup, one request)", floorSeries);
    line("  Kelvo, panel open", kelvoOpen);
    const double openRatio = bench::ratio(median(kelvoOpen.rss), median(floorSeries.rss));
    std::printf("  Kelvo / floor, panel open: %.2f (private memory %.2f)%s\n", openRatio,
                bench::ratio(median(kelvoOpen.priv), median(floorSeries.priv)),
                tray ? "" : (openRatio <= 1.15 ? "; target ≤ 1.15: met" : "; target ≤ 1.15: MISSED"));
    if (tray) {
        line("  Kelvo at rest, panel never opened", kelvoRest);
        std::printf("  Kelvo / floor at rest: %.2f\n", bench::ratio(median(kelvoRest.rss), median(floorSeries.rss)));
        line("  Kelvo, panel opened once and closed", kelvoOnce);
        const double onceRatio = bench::ratio(median(kelvoOnce.rss), median(floorSeries.rss));
        std::printf("  Kelvo / floor, panel opened once: %.2f (private memory %.2f); target ≤ 1.15: %s\n", onceRatio,
                    bench::ratio(median(kelvoOnce.priv), median(floorSeries.priv)),
                    onceRatio <= 1.15 ? "met" : "MISSED");
    }
    line("  floor with three lines of text in its popup", floorTextSeries);
    const Series& drawn = tray ? kelvoOnce : kelvoOpen;
    std::printf("  Kelvo, panel %s / floor with text: %.2f (private memory %.2f)\n", tray ? "opened once" : "open",
                bench::ratio(median(drawn.rss), median(floorTextSeries.rss)),
                bench::ratio(median(drawn.priv), median(floorTextSeries.priv)));
    return 0;
}
