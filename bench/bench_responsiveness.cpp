// Responsiveness: with the cloud delaying every answer by 2 s, how long a click on the temperature "+" takes to show
// the new value. In one process: a real panel (MenuBarView in its PanelWindow) over a SensiboService and a loopback
// fake cloud with 10 devices; the platform is offscreen unless QT_QPA_PLATFORM says otherwise.
// Clock: from just before the click (press and release delivered as the tests deliver them) to the end of the
// paint of the value label showing the new value, and to the end of the window's update that paints and flushes
// it. Each round clicks "+" and, 200 ms later, "−" (also timed), then waits until the cloud has answered both.
// Options: --rounds N (default 10). Target: click to repaint within 16 ms (one frame at 60 Hz).

#include "app/PanelWindow.h"
#include "bench/BenchSupport.h"
#include "panel/MenuBarView.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "updates/UpdateService.h"

#include <QApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QTest>
#include <QToolButton>

#include <chrono>

namespace {

// Notes when the label's paint and the window's update end.
class Application : public QApplication
{
public:
    using QApplication::QApplication;

    QWidget* label = nullptr;
    QWidget* window = nullptr;
    QString expected; // the text the label must show when it paints
    std::optional<bench::Clock::time_point> painted;
    std::optional<bench::Clock::time_point> flushed;

    bool notify(QObject* receiver, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        const bool result = QApplication::notify(receiver, event);
        if (!expected.isEmpty()) {
            if (type == QEvent::Paint && receiver == label && !painted &&
                static_cast<QLabel*>(label)->text() == expected) {
                painted = bench::Clock::now();
            } else if (type == QEvent::UpdateRequest && receiver == window && painted && !flushed) {
                flushed = bench::Clock::now();
            }
        }
        return result;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    Application app(argc, argv);
    const QStringList arguments = app.arguments();
    const int rounds = bench::intOption(arguments, QStringLiteral("--rounds"), 10);
    bench::printMachine("bench_responsiveness",
                        QStringLiteral("the %1 platform, in one process").arg(QGuiApplication::platformName()));

    QTemporaryDir dir;
    Preferences preferences(dir.path());
    QNetworkAccessManager network;
    FakeSensiboCloud cloud;
    if (!cloud.listen()) {
        std::printf("cannot listen on 127.0.0.1\n");
        return 1;
    }
    cloud.setDevices(bench::devices(10));
    cloud.setGzip(true);
    cloud.setDelayMs(2000);
    SensiboService service(preferences, &network, cloud.baseUrl());
    service.setApiKey(cloud.apiKey());
    // No periodic refresh lands inside the measurement.
    service.setRefreshInterval(std::chrono::hours(1));
    UpdateServiceHooks hooks;
    hooks.log = [](const QString&) {};
    hooks.openUrl = [](const QUrl&) {};
    UpdateService updater(preferences, &network, QUrl(QStringLiteral("https://kelvo.invalid")), hooks);

    auto* panel = new MenuBarView(service, updater, [] {});
    PanelWindow window(panel, PanelWindow::Kind::Window);
    window.openNear({});
    // Showing the panel starts the first load; the cloud answers it 2 s later.
    if (!bench::spinUntil([&] { return service.devices().size() == 10 && !service.isLoading(); }, 10000)) {
        std::printf("the panel did not load the devices\n");
        return 1;
    }
    bench::spinFor(300);

    QToolButton* plus = nullptr;
    QToolButton* minus = nullptr;
    for (QToolButton* button : panel->findChildren<QToolButton*>()) {
        if (button->accessibleName() == u"Raise temperature") {
            plus = button;
        } else if (button->accessibleName() == u"Lower temperature") {
            minus = button;
        }
    }
    auto* label = panel->findChild<QLabel*>(QStringLiteral("temperatureValue"));
    if (!plus || !minus || !label || !plus->isVisible() || !label->isVisible()) {
        std::printf("the temperature stepper is not on screen\n");
        return 1;
    }
    app.label = label;
    app.window = &window;

    struct Timing {
        double painted = 0;
        double flushed = 0;
    };
    const auto click = [&](QToolButton* button, const QString& newText) -> std::optional<Timing> {
        app.expected = newText;
        app.painted.reset();
        app.flushed.reset();
        const auto start = bench::Clock::now();
        QTest::mouseClick(button, Qt::LeftButton);
        const bool done = bench::spinUntil([&] { return app.flushed.has_value(); }, 2000);
        app.expected.clear();
        if (!done || !app.painted) {
            return std::nullopt;
        }
        return Timing{bench::msSince(start, *app.painted), bench::msSince(start, *app.flushed)};
    };

    std::vector<double> plusPainted, plusFlushed, minusPainted, minusFlushed;
    const QString unit = QStringLiteral("°C");
    for (int round = 0; round < rounds; ++round) {
        const int changesBefore = cloud.stateChangeCount();
        const auto up = click(plus, QStringLiteral("23") + unit);
        bench::spinFor(200);
        const auto down = click(minus, QStringLiteral("22") + unit);
        if (!up || !down) {
            std::printf("round %d: the new value was not painted within 2 s (label shows %s)\n", round + 1,
                        qPrintable(label->text()));
            return 1;
        }
        plusPainted.push_back(up->painted);
        plusFlushed.push_back(up->flushed);
        minusPainted.push_back(down->painted);
        minusFlushed.push_back(down->flushed);
        // Both changes reach the cloud and come back answered before the next round.
        if (!bench::spinUntil([&] { return cloud.stateChangeCount() >= changesBefore + 2; }, 5000)) {
            std::printf("the cloud did not see both changes\n");
            return 1;
        }
        bench::spinFor(2300);
    }

    const bench::Summary plusSummary = bench::summarize(plusPainted);
    const bench::Summary plusFlushSummary = bench::summarize(plusFlushed);
    std::printf("cloud delay 2000 ms on every answer; changes the cloud received: %d (each answered 2 s after it "
                "arrived, long after its value showed)\n",
                cloud.stateChangeCount());
    std::printf("\"+\" click → label painted with the new value: median %s ms; first click %.2f ms\n",
                bench::describe(plusSummary, 2).c_str(), plusPainted.front());
    std::printf("\"+\" click → window update (paint and flush) done: median %s ms\n",
                bench::describe(plusFlushSummary, 2).c_str());
    std::printf("\"−\" click → label painted: median %s ms; → update done: median %s ms\n",
                bench::describe(bench::summarize(minusPainted), 2).c_str(),
                bench::describe(bench::summarize(minusFlushed), 2).c_str());
    std::printf("responsiveness, click → repaint: target ≤ 16 ms: %s (slowest \"+\" %.2f ms)\n",
                plusFlushSummary.median <= 16 ? "met" : "MISSED", plusFlushSummary.high);
    return 0;
}
