#include "app/KelvoApp.h"

#include "app/PanelWindow.h"
#include "panel/MenuBarView.h"
#include "platform/LoginItem.h"

#include <QSystemTrayIcon>

KelvoApp::KelvoApp(KelvoOptions options, QObject* parent)
    : QObject(parent)
    , m_preferences(options.preferencesDirectory)
    , m_service(m_preferences, &m_network, options.cloudUrl)
    , m_updater(m_preferences, &m_network, options.siteUrl, options.updateHooks)
    , m_siteUrl(options.siteUrl)
    , m_icon(std::make_unique<MenuBarIcon>(m_service, options.iconTiming))
    , m_trayAvailable(options.trayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable()))
{
    m_panel = new MenuBarView(
        m_service, m_updater, [this] { openSettings(); }, controlWidth);
    m_panelWindow =
        std::make_unique<PanelWindow>(m_panel, m_trayAvailable ? PanelWindow::Kind::Popup : PanelWindow::Kind::Window);

    connect(m_icon->tray(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            m_panelWindow->toggleNear(m_icon->tray()->geometry());
        }
    });
}

KelvoApp::~KelvoApp() = default;

void KelvoApp::start()
{
    m_delegate.applicationDidFinishLaunching();
    if (m_trayAvailable) {
        m_icon->tray()->show();
    }
    // Started before any panel can appear, so that the launch task owns the first load and the notice check
    // waits for it: a panel's own request for the first load then finds it running.
    if (!m_launchStarted) {
        m_launchStarted = true;
        launch();
    }
    if (!m_trayAvailable) {
        openPanel();
    }
}

QCoro::Task<> KelvoApp::launch()
{
    QPointer<KelvoApp> self(this);
    co_await m_service.initialLoad();
    if (!self) {
        co_return;
    }
    // The first notice check waits for the first device load, whatever its outcome.
    co_await m_updater.checkOnLaunch();
    if (self) {
        m_launchFinished = true;
    }
}

void KelvoApp::openPanel()
{
    if (m_panelWindow->kind() == PanelWindow::Kind::Popup && m_icon->tray()->isVisible()) {
        m_panelWindow->openNear(m_icon->tray()->geometry());
    } else {
        m_panelWindow->openNear({});
    }
}

void KelvoApp::refreshNow()
{
    if (!m_service.apiKey().isEmpty()) {
        m_service.startRefreshTask();
    }
}

void KelvoApp::openSettings()
{
    if (!m_settings) {
        m_settings = std::make_unique<SettingsView>(m_service, m_updater, m_preferences, LoginItem::create(),
                                                    SettingsView::About{QStringLiteral(KELVO_MAKER_NAME), m_siteUrl,
                                                                        QStringLiteral(KELVO_VERSION),
                                                                        QStringLiteral(KELVO_BUILD_NUMBER)},
                                                    [this](const QUrl& url) { m_updater.openLink(url); });
    }
    m_settings->showAndActivate();
}
