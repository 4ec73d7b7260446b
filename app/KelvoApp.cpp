#include "app/KelvoApp.h"

#include "app/PanelWindow.h"
#include "app/TrayToolTip.h"
#include "panel/MenuBarView.h"
#include "platform/LoginItem.h"
#include "platform/PreferenceKeys.h"
#include "tray/DesktopTrayHosts.h"
#include "ui/FocusRingStyle.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>

namespace {
std::unique_ptr<TrayHosts> makeTrayHosts(const KelvoOptions& options)
{
    if (options.trayHosts) {
        return options.trayHosts();
    }
    if (options.trayAvailable) {
        return std::make_unique<TrayHosts>(*options.trayAvailable ? TrayHosts::Kind::XEmbed : TrayHosts::Kind::None);
    }
    return std::make_unique<DesktopTrayHosts>();
}
} // namespace

KelvoApp::KelvoApp(KelvoOptions options, QObject* parent)
    : QObject(parent)
    , m_preferencesDirectory(options.preferencesDirectory)
    , m_preferences(options.preferencesDirectory)
    , m_service(m_preferences, &m_network, options.cloudUrl)
    , m_updater(m_preferences, &m_network, options.siteUrl, options.updateHooks)
    , m_siteUrl(options.siteUrl)
    , m_icon(std::make_unique<MenuBarIcon>(m_service, options.iconTiming))
    , m_hosts(makeTrayHosts(options))
    , m_trayMenu(std::make_unique<QMenu>())
{
    if (!qobject_cast<FocusRingStyle*>(QApplication::style())) {
        QApplication::setStyle(new FocusRingStyle); // the application owns it
    }
    m_panel = new MenuBarView(
        m_service, m_updater, [this] { openSettings(); }, controlWidth);
    m_panelWindow = std::make_unique<PanelWindow>(
        m_panel, m_hosts->kind() == TrayHosts::Kind::None ? PanelWindow::Kind::Window : PanelWindow::Kind::Popup);

    // The one menu Kelvo has, on a right click of the icon.
    m_trayMenu->addAction(QStringLiteral("Open Kelvo"), this, &KelvoApp::openPanel);
    m_trayMenu->addAction(QStringLiteral("Settings..."), this, &KelvoApp::openSettings);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(QStringLiteral("Quit Kelvo"), this, [] { QCoreApplication::quit(); });

    m_trayLoss.setSingleShot(true);
    m_trayLoss.setInterval(options.trayLossGrace);
    connect(&m_trayLoss, &QTimer::timeout, this, [this] {
        // The tray stayed away: the panel becomes a window, so that Kelvo is not invisible.
        m_panelWindow->setKind(PanelWindow::Kind::Window);
        openPanel();
    });
    connect(m_hosts.get(), &TrayHosts::hostsChanged, this, &KelvoApp::syncTray);
    connect(m_icon.get(), &MenuBarIcon::iconChanged, this, [this] {
        if (m_trayIcon) {
            m_trayIcon->setIcon(m_icon->icon());
        }
    });
    for (auto signal :
         {&SensiboService::devicesChanged, &SensiboService::selectedDeviceIdChanged, &SensiboService::isLoadingChanged,
          &SensiboService::errorMessageChanged, &SensiboService::apiKeyChanged}) {
        connect(&m_service, signal, this, &KelvoApp::updateToolTip);
    }
}

KelvoApp::~KelvoApp() = default;

void KelvoApp::start()
{
    m_delegate.applicationDidFinishLaunching();
    m_started = true;
    // Started before any panel can appear, so that the launch task owns the first load and the notice check
    // waits for it: a panel's own request for the first load then finds it running.
    if (!m_launchStarted) {
        m_launchStarted = true;
        launch();
    }
    syncTray();
}

void KelvoApp::syncTray()
{
    if (!m_started || !m_hosts->settled()) {
        return; // the first look at the desktop's trays has not answered yet
    }
    const bool firstDecision = std::exchange(m_firstTrayDecision, false);
    // One item at a time: the old one leaves the bus before the new one registers.
    m_trayIcon.reset();
    m_trayIcon = m_hosts->createIcon();
    if (m_trayIcon) {
        m_trayLoss.stop();
        connect(m_trayIcon.get(), &TrayIcon::activated, this, [this](const QRect& anchor) {
            m_lastAnchor = anchor;
            m_panelWindow->toggleNear(anchor);
        });
        connect(m_trayIcon.get(), &TrayIcon::contextMenuRequested, this, &KelvoApp::showTrayMenu);
        m_trayIcon->setIcon(m_icon->icon());
        updateToolTip();
        m_panelWindow->setKind(PanelWindow::Kind::Popup);
        return;
    }
    m_lastAnchor = QRect();
    if (firstDecision) {
        m_panelWindow->setKind(PanelWindow::Kind::Window);
        openPanel();
    } else if (m_panelWindow->kind() == PanelWindow::Kind::Popup && !m_trayLoss.isActive()) {
        // A tray that restarts is gone for a moment: only one that stays away turns the panel into a window.
        m_trayLoss.start();
    }
}

void KelvoApp::updateToolTip()
{
    if (m_trayIcon) {
        m_trayIcon->setToolTip(QStringLiteral("Kelvo"), trayToolTipBody(m_service));
    }
}

void KelvoApp::showTrayMenu(const QRect& anchor)
{
    m_lastAnchor = anchor;
    m_trayMenu->popup(anchor.isEmpty() ? QCursor::pos() : anchor.topLeft());
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
    if (m_panelWindow->kind() == PanelWindow::Kind::Popup && m_trayIcon) {
        m_panelWindow->openNear(m_lastAnchor.isEmpty() ? m_trayIcon->geometry() : m_lastAnchor);
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

void KelvoApp::reloadApiKey()
{
    const Preferences stored(m_preferencesDirectory, Preferences::Access::ReadOnly);
    m_service.setApiKey(stored.text(QLatin1String(PreferenceKeys::sensiboAPIKey)).value_or(QString()));
    refreshNow();
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
