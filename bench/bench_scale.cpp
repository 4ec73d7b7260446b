// Scale: an account with 1,000 devices. Reports
//  - decoding the answer (model/Decoding.h) and inflating its gzip form, for the body the fake cloud sends to
//    Kelvo's request (narrowed to the fields Kelvo asks for), and the heap the decoded records hold;
//  - a device-list load through SensiboService over loopback (inflate, decode, store), without and with the panel
//    open, and the part the views' sync takes;
//  - the panel opening: MenuBarView built with the list, then shown in its PanelWindow until its last paint;
//  - the device picker: its popup opening, and scrolling it from top to bottom with the mouse wheel, one notch
//    (3 rows) at a time, each notch until its repaint ends;
//  - Kelvo's resident set with 1,000 devices and with 10, as its own process (offscreen, panel open).
// In one process except the last; the platform is offscreen unless QT_QPA_PLATFORM says otherwise.
// Options: --runs N (default 7), --devices N (default 1000), --kelvo PATH.

#include "app/PanelWindow.h"
#include "bench/BenchSupport.h"
#include "model/Decoding.h"
#include "panel/MenuBarView.h"
#include "platform/Preferences.h"
#include "service/GzipInflate.h"
#include "service/SensiboClient.h"
#include "service/SensiboService.h"
#include "tests/support/FakeSite.h"
#include "updates/UpdateService.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScrollBar>
#include <QWheelEvent>

#include <chrono>

#include <malloc.h>

namespace {

// Notes when the last paint of any widget ended, and which widgets painted.
class Application : public QApplication
{
public:
    using QApplication::QApplication;

    std::optional<bench::Clock::time_point> lastPaint;
    QWidget* watched = nullptr; // a widget whose next paint is awaited
    bool watchedPainted = false;
    bench::Clock::time_point watchedPaintEnd;

    bool notify(QObject* receiver, QEvent* event) override
    {
        const bool isPaint = event->type() == QEvent::Paint;
        const bool result = QApplication::notify(receiver, event);
        if (isPaint) {
            lastPaint = bench::Clock::now();
            if (receiver == watched) {
                watchedPainted = true;
                watchedPaintEnd = *lastPaint;
            }
        }
        return result;
    }
};

QByteArray get(QNetworkAccessManager& network, const QUrl& url)
{
    QNetworkReply* reply = network.get(QNetworkRequest(url));
    bench::spinUntil([&] { return reply->isFinished(); }, 30000);
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

FakeHttpServer::Response cannedAnswer(const QByteArray& body)
{
    FakeHttpServer::Response response;
    response.body = gzipCompress(body);
    response.headers.emplaceBack("Content-Type", "application/json; charset=utf-8");
    response.headers.emplaceBack("Content-Encoding", "gzip");
    return response;
}

// Waits until nothing has painted for `quietMs`; returns the time from `start` to the end of the last paint.
double untilLastPaint(Application& app, bench::Clock::time_point start, int quietMs = 300)
{
    app.lastPaint.reset();
    bench::spinUntil([&] { return app.lastPaint && bench::msSince(*app.lastPaint) >= quietMs; }, 10000);
    return app.lastPaint ? bench::msSince(start, *app.lastPaint) : -1;
}

// Kelvo as its own process with `count` devices, settled; its VmRSS in MiB.
double kelvoRss(const QString& kelvo, FakeSensiboCloud& cloud, FakeSite& site, int count)
{
    cloud.setDevices(bench::devices(count));
    bench::Spawned kelvoProcess;
    kelvoProcess.storeApiKey(cloud.apiKey());
    const int before = cloud.deviceListCount();
    kelvoProcess.start(
        kelvo, bench::kelvoEnvironment(kelvoProcess, QStringLiteral("offscreen"), cloud.baseUrl(), site.baseUrl()));
    if (!bench::spinUntil([&] { return cloud.deviceListCount() > before || !kelvoProcess.running(); }, 10000) ||
        !kelvoProcess.running()) {
        return -1;
    }
    bench::spinFor(3000);
    const double rss = kelvoProcess.running() ? double(bench::statusField(kelvoProcess.pid(), "VmRSS")) / 1024.0 : -1;
    kelvoProcess.stop();
    return rss;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    Application app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 7);
    const int count = bench::intOption(arguments, QStringLiteral("--devices"), 1000);
    bench::printMachine("bench_scale", QStringLiteral("the %1 platform").arg(QGuiApplication::platformName()));
    std::printf("%d devices\n", count);

    // The answers: as the fake cloud sends them to Kelvo's request, and the same with the first room renamed.
    QNetworkAccessManager network;
    FakeSensiboCloud cloud;
    if (!cloud.listen()) {
        std::printf("cannot listen on 127.0.0.1\n");
        return 1;
    }
    QJsonArray list = bench::devices(count);
    cloud.setDevices(list);
    const QUrl address = *SensiboClient(&network, cloud.baseUrl()).deviceListAddress(cloud.apiKey());
    const QByteArray body = get(network, address);
    QJsonObject renamed = list.at(0).toObject();
    QJsonObject room = renamed.value(QStringLiteral("room")).toObject();
    room.insert(QStringLiteral("name"), QStringLiteral("Renamed Room"));
    renamed.insert(QStringLiteral("room"), room);
    list.replace(0, renamed);
    cloud.setDevices(list);
    const QByteArray renamedBody = get(network, address);
    const QByteArray gzipped = gzipCompress(body);
    std::printf("answer: %lld bytes, %lld gzip-compressed\n", static_cast<long long>(body.size()),
                static_cast<long long>(gzipped.size()));
    {
        const auto heap = [] {
            const struct mallinfo2 info = mallinfo2();
            return double(info.uordblks + info.hblkhd);
        };
        const double before = heap();
        const auto decoded = decodeDeviceListResponse(body);
        const double records = heap() - before;
        if (!decoded.ok() || decoded.value().result.size() != count) {
            std::printf("the answer did not decode\n");
            return 1;
        }
        std::printf("the decoded records: %.0f KiB on the heap, %.2f KiB per device\n", records / 1024,
                    records / 1024 / count);
    }

    // Decoding and inflating.
    {
        std::vector<double> decode, inflate;
        for (int run = 0; run < std::max(runs, 21); ++run) {
            auto start = bench::Clock::now();
            const auto decoded = decodeDeviceListResponse(body);
            decode.push_back(bench::msSince(start));
            start = bench::Clock::now();
            const InflateResult inflated = inflateGzip(gzipped);
            inflate.push_back(bench::msSince(start));
            if (!decoded.ok() || !inflated.ok) {
                return 1;
            }
        }
        std::printf("decode (decodeDeviceListResponse): median %s ms\n",
                    bench::describe(bench::summarize(decode), 2).c_str());
        std::printf("inflate (inflateGzip): median %s ms\n", bench::describe(bench::summarize(inflate), 2).c_str());
    }

    // The service over a loopback server that sends the prepared answers as they are.
    QTemporaryDir dir;
    Preferences preferences(dir.path());
    FakeHttpServer server;
    if (!server.listen()) {
        return 1;
    }
    const FakeHttpServer::Response plainAnswer = cannedAnswer(body);
    const FakeHttpServer::Response renamedAnswer = cannedAnswer(renamedBody);
    const FakeHttpServer::Response* current = &plainAnswer;
    server.setHandler([&](const FakeHttpServer::Request&) { return *current; });
    SensiboService service(preferences, &network, server.baseUrl() + QStringLiteral("/api/v2"));
    service.setApiKey(QStringLiteral("bench-key"));
    service.setRefreshInterval(std::chrono::hours(1));
    UpdateServiceHooks hooks;
    hooks.log = [](const QString&) {};
    hooks.openUrl = [](const QUrl&) {};
    UpdateService updater(preferences, &network, QUrl(QStringLiteral("https://kelvo.invalid")), hooks);

    // The views' share of a load: from the first to the last handler of devicesChanged.
    bench::Clock::time_point syncStart;
    double syncMs = 0;
    QObject::connect(&service, &SensiboService::devicesChanged, &app, [&] { syncStart = bench::Clock::now(); });

    QCoro::waitFor(service.initialLoad());
    bench::spinUntil([&] { return !service.isLoading(); }, 10000);
    if (service.devices().size() != count) {
        std::printf("the service did not load the devices\n");
        return 1;
    }
    {
        std::vector<double> loads;
        for (int run = 0; run < runs; ++run) {
            const auto start = bench::Clock::now();
            QCoro::waitFor(service.fetchDevices());
            loads.push_back(bench::msSince(start));
        }
        std::printf("device-list load, no panel (loopback, inflate, decode, store): median %s ms\n",
                    bench::describe(bench::summarize(loads), 1).c_str());
    }

    // The panel: built with the list, then opened until its last paint. A new one each run.
    std::vector<double> build, open, reopen;
    std::unique_ptr<PanelWindow> window;
    MenuBarView* panel = nullptr;
    for (int run = 0; run < runs; ++run) {
        window.reset();
        bench::spinFor(100);
        auto start = bench::Clock::now();
        panel = new MenuBarView(service, updater, [] {});
        window = std::make_unique<PanelWindow>(panel, PanelWindow::Kind::Window);
        build.push_back(bench::msSince(start));
        start = bench::Clock::now();
        window->openNear({});
        open.push_back(untilLastPaint(app, start));
        window->hide();
        bench::spinFor(100);
        start = bench::Clock::now();
        window->openNear({});
        reopen.push_back(untilLastPaint(app, start));
    }
    std::printf("panel build (MenuBarView with %d devices in its picker): median %s ms\n", count,
                bench::describe(bench::summarize(build), 1).c_str());
    std::printf("panel open (show, layout, until the last paint): median %s ms; first %.1f ms\n",
                bench::describe(bench::summarize(open), 1).c_str(), open.front());
    std::printf("panel re-open (hidden and shown again): median %s ms\n",
                bench::describe(bench::summarize(reopen), 1).c_str());

    // Loads with the panel open: the same list, and a list with one room renamed (the picker is rebuilt).
    QObject::connect(&service, &SensiboService::devicesChanged, &app, [&] { syncMs = bench::msSince(syncStart); });
    {
        std::vector<double> same, sameSync, changed, changedSync;
        for (int run = 0; run < runs; ++run) {
            for (const bool rename : {false, true}) {
                current = rename ? &renamedAnswer : &plainAnswer;
                const auto start = bench::Clock::now();
                QCoro::waitFor(service.fetchDevices());
                (rename ? changed : same).push_back(bench::msSince(start));
                (rename ? changedSync : sameSync).push_back(syncMs);
                const bool pickerRenamed = panel->findChild<QComboBox*>(QStringLiteral("devicePicker"))
                                               ->itemText(0)
                                               .contains(QStringLiteral("Renamed"));
                if (pickerRenamed != rename) {
                    std::printf("the picker does not show the loaded list\n");
                    return 1;
                }
            }
        }
        std::printf("device-list load, panel open, list unchanged: median %s ms, of which the views' sync %s ms\n",
                    bench::describe(bench::summarize(same), 1).c_str(),
                    bench::describe(bench::summarize(sameSync), 1).c_str());
        std::printf("device-list load, panel open, one room renamed: median %s ms, of which the views' sync %s ms\n",
                    bench::describe(bench::summarize(changed), 1).c_str(),
                    bench::describe(bench::summarize(changedSync), 1).c_str());
    }

    // The picker: open its popup, then wheel from the top to the bottom.
    auto* picker = panel->findChild<QComboBox*>(QStringLiteral("devicePicker"));
    if (!picker || !picker->isVisible() || picker->count() != count) {
        std::printf("the device picker is not on screen\n");
        return 1;
    }
    std::vector<double> popupOpen, notch, traverse;
    int notches = 0;
    for (int run = 0; run < runs; ++run) {
        picker->setCurrentIndex(0);
        auto start = bench::Clock::now();
        picker->showPopup();
        popupOpen.push_back(untilLastPaint(app, start));
        QAbstractItemView* view = picker->view();
        QScrollBar* bar = view->verticalScrollBar();
        if (!view->isVisible() || bar->value() != 0) {
            std::printf("the picker's popup did not open at the top\n");
            return 1;
        }
        QWidget* viewport = view->viewport();
        const QPointF inside(viewport->width() / 2.0, viewport->height() / 2.0);
        const auto traverseStart = bench::Clock::now();
        notches = 0;
        int firstRow = view->indexAt(QPoint(1, 1)).row();
        while (bar->value() < bar->maximum()) {
            app.watched = viewport;
            app.watchedPainted = false;
            start = bench::Clock::now();
            QWheelEvent wheel(inside, viewport->mapToGlobal(inside), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewport, &wheel);
            if (!bench::spinUntil([&] { return app.watchedPainted; }, 2000)) {
                std::printf("a wheel notch did not repaint the list\n");
                return 1;
            }
            notch.push_back(bench::msSince(start, app.watchedPaintEnd));
            const int row = view->indexAt(QPoint(1, 1)).row();
            if (row <= firstRow) {
                std::printf("a wheel notch did not scroll the list\n");
                return 1;
            }
            firstRow = row;
            ++notches;
        }
        traverse.push_back(bench::msSince(traverseStart));
        app.watched = nullptr;
        picker->hidePopup();
        bench::spinFor(100);
    }
    std::printf("picker popup open (until the last paint): median %s ms\n",
                bench::describe(bench::summarize(popupOpen), 1).c_str());
    std::printf("picker scroll, top to bottom in %d wheel notches: median %s ms in all\n", notches,
                bench::describe(bench::summarize(traverse), 0).c_str());
    std::printf("picker scroll, one notch until repainted: median %s ms\n",
                bench::describe(bench::summarize(notch), 2).c_str());
    window.reset();

    // Kelvo's resident set, as its own process.
    {
        const QString kelvo = bench::kelvoPath(arguments);
        FakeSite site;
        site.listen();
        std::vector<double> big, small;
        for (int run = 0; run < 3; ++run) {
            big.push_back(kelvoRss(kelvo, cloud, site, count));
            small.push_back(kelvoRss(kelvo, cloud, site, 10));
            if (big.back() < 0 || small.back() < 0) {
                std::printf("Kelvo did not run\n");
                return 1;
            }
        }
        const bench::Summary bigSummary = bench::summarize(big);
        const bench::Summary smallSummary = bench::summarize(small);
        std::printf("Kelvo VmRSS, offscreen, panel open: %d devices %s MiB, 10 devices %s MiB; %.1f KiB per device\n",
                    count, bench::describe(bigSummary).c_str(), bench::describe(smallSummary).c_str(),
                    (bigSummary.median - smallSummary.median) * 1024.0 / double(count - 10));
    }
    return 0;
}
