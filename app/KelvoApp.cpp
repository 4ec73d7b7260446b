#include "app/KelvoApp.h"

#include "app/PanelWindow.h"
#include "app/TrayMenuModel.h"
#include "app/TrayToolTip.h"
#include "panel/MenuBarView.h"
#include "platform/Logging.h"
#include "platform/LoginItem.h"
#include "platform/PreferenceKeys.h"
#include "tray/DesktopTrayHosts.h"
#include "tray/LikelyTrayAnchor.h"
#include "tray/TrayMenuView.h"
#include "ui/FocusRingStyle.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <QScreen>

#include <cstdio>

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
    , m_options(std::move(options))
    , m_preferences(m_options.preferencesDirectory)
    , m_service(m_preferences, &m_network, m_options.cloudUrl)
    , m_updater(m_preferences, &m_network, m_options.siteUrl, m_options.updateHooks)
    , m_siteUrl(m_options.siteUrl)
{
    // A settings file that could not be read, or was moved aside, is said where a user starting Kelvo by hand looks.
    if (const std::optional<QString> notice = m_preferences.loadNotice()) {
        std::fprintf(stderr, "Kelvo: %s\n", notice->toLocal8Bit().constData());
    }
    m_trayLoss.setSingleShot(true);
    m_trayLoss.setInterval(m_options.trayLossGrace);
    connect(&m_trayLoss, &QTimer::timeout, this, [this] {
        // The tray stayed away: the panel becomes a window, so that Kelvo is not invisible.
        setPanelKind(PanelWindow::Kind::Window);
        openPanel();
    });
    for (auto signal :
         {&SensiboService::devicesChanged, &SensiboService::selectedDeviceIdChanged, &SensiboService::isLoadingChanged,
          &SensiboService::errorMessageChanged, &SensiboService::apiKeyChanged}) {
        connect(&m_service, signal, this, &KelvoApp::updateToolTip);
    }
    connect(&m_service.features(), &DeviceFeatures::extrasChanged, this, &KelvoApp::updateToolTip);
}

KelvoApp::~KelvoApp() = default;

QMenu& KelvoApp::trayMenu()
{
    if (!m_trayMenu) {
        useKelvoStyle();
        m_trayMenu = std::make_unique<TrayMenuView>();
        m_trayMenu->setItems(m_menuModel ? m_menuModel->items() : QList<TrayMenuItem>{});
    }
    return *m_trayMenu;
}

PanelWindow& KelvoApp::panelWindow()
{
    makePanel();
    return *m_panelWindow;
}

MenuBarView& KelvoApp::panel()
{
    makePanel();
    return *m_panel;
}

void KelvoApp::start()
{
    // The first device-list request goes out before anything is drawn: no style, font or picture is made, and no
    // tray is looked for, until it has been handed to the network. Started before any panel can appear, so that the
    // launch task owns the first load and the notice check waits for it: a panel's own request for the first load
    // then finds it running.
    m_started = true;
    if (!m_launchStarted) {
        m_launchStarted = true;
        launch();
    }
    m_delegate.applicationDidFinishLaunching();
    showIcon();
    syncTray();
}

void KelvoApp::showIcon()
{
    if (m_icon) {
        return;
    }
    m_icon = std::make_unique<MenuBarIcon>(m_service, m_options.iconTiming);
    connect(m_icon.get(), &MenuBarIcon::iconChanged, this, [this] {
        if (m_trayIcon) {
            m_trayIcon->setIcon(m_icon->icon());
        }
    });
    // One menu, drawn by the tray host from D-Bus or by Kelvo itself on a right click of the icon.
    m_menuModel = std::make_unique<TrayMenuModel>(
        m_service,
        TrayMenuModel::Actions{[this] { openPanel(); }, [this] { openSettings(); }, [] { QCoreApplication::quit(); }});
    m_menuModel->setFollowed(false); // until a tray that draws it is found
    connect(m_menuModel.get(), &TrayMenuModel::itemsChanged, this, [this] {
        if (m_trayMenu) {
            m_trayMenu->setItems(m_menuModel->items());
        }
        if (m_trayIcon) {
            m_trayIcon->setMenu(m_menuModel->items());
        }
    });
    m_hosts = makeTrayHosts(m_options);
    connect(m_hosts.get(), &TrayHosts::hostsChanged, this, &KelvoApp::syncTray);
}

void KelvoApp::useKelvoStyle()
{
    if (!qobject_cast<FocusRingStyle*>(QApplication::style())) {
        QApplication::setStyle(new FocusRingStyle); // the application owns it
    }
}

void KelvoApp::makePanel()
{
    if (m_panelWindow) {
        return;
    }
    useKelvoStyle();
    m_panel = new MenuBarView(
        m_service, m_updater, [this] { openSettings(); }, controlWidth);
    m_panelWindow = std::make_unique<PanelWindow>(m_panel, m_panelKind);
    // With no tray, the window is all there is of Kelvo: closing it quits, or Kelvo would run on unseen.
    connect(m_panelWindow.get(), &PanelWindow::closedByUser, this, [this] {
        if (!m_trayIcon) {
            QCoreApplication::quit();
        }
    });
}

PanelWindow::Kind KelvoApp::panelKind() const
{
    return m_panelWindow ? m_panelWindow->kind() : PanelWindow::usableKind(m_panelKind);
}

void KelvoApp::setPanelKind(PanelWindow::Kind kind)
{
    m_panelKind = kind;
    if (m_panelWindow) {
        m_panelWindow->setKind(kind);
    }
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
            panelWindow().setActivationToken(m_trayIcon->takeActivationToken());
            panelWindow().toggleNear(anchor);
        });
        connect(m_trayIcon.get(), &TrayIcon::contextMenuRequested, this, &KelvoApp::showTrayMenu);
        m_menuModel->setFollowed(m_trayIcon->drawsMenu());
        m_trayIcon->setMenu(m_menuModel->items());
        m_trayIcon->setIcon(m_icon->icon());
        updateToolTip();
        setPanelKind(PanelWindow::Kind::Popup);
        return;
    }
    m_lastAnchor = QRect();
    m_menuModel->setFollowed(false); // made when Kelvo's own menu opens
    if (firstDecision) {
        setPanelKind(PanelWindow::Kind::Window);
        openPanel();
    } else if (panelKind() == PanelWindow::Kind::Popup && !m_trayLoss.isActive()) {
        // A tray that restarts is gone for a moment: only one that stays away turns the panel into a window.
        m_trayLoss.start();
    }
}

void KelvoApp::updateToolTip()
{
    if (m_trayIcon) {
        const TrayToolTip toolTip = TrayToolTip::of(m_service);
        m_trayIcon->setToolTip(toolTip.title, toolTip.body);
    }
}

void KelvoApp::showTrayMenu(const QRect& anchor)
{
    m_lastAnchor = anchor;
    // A menu of Kelvo's own on Wayland would be a window in the middle of the screen: the panel, which holds all the
    // menu does, opens instead. Hosts that draw the D-Bus menu never ask for this.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        qCDebug(lcTray) << "ContextMenu on Wayland: opening the panel instead of a menu";
        openPanel();
        return;
    }
    QMenu& menu = trayMenu();
    m_trayMenu->setItems(m_menuModel->items()); // nobody follows the entries between openings of this menu
    menu.popup(anchor.isEmpty() ? QCursor::pos() : anchor.topLeft());
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
    // Not a click on the icon: a second start, a shortcut, the menu. The focus shows where the keyboard is.
    panel().setOpenedFromKeyboard(true);
    if (m_panelWindow->kind() == PanelWindow::Kind::Popup && m_trayIcon) {
        QRect anchor = m_lastAnchor.isEmpty() ? m_trayIcon->geometry() : m_lastAnchor;
        // A host that draws the menu itself need never have said where its icon is ("Open Kelvo" on GNOME).
        if (anchor.isEmpty() && QGuiApplication::primaryScreen()) {
            const QScreen* screen = QGuiApplication::primaryScreen();
            anchor = likelyTrayAnchor(screen->geometry(), screen->availableGeometry());
        }
        m_panelWindow->openNear(anchor);
    } else {
        m_panelWindow->openNear({});
    }
}

void KelvoApp::refreshNow()
{
    m_service.requestRefresh();
}

void KelvoApp::reloadApiKey()
{
    const Preferences stored(m_options.preferencesDirectory, Preferences::Access::ReadOnly);
    m_service.setApiKey(stored.text(QLatin1String(PreferenceKeys::sensiboAPIKey)).value_or(QString()));
    refreshNow();
}

void KelvoApp::openSettings()
{
    if (!m_settings) {
        useKelvoStyle();
        m_settings = std::make_unique<SettingsView>(m_service, m_updater, m_preferences, LoginItem::create(),
                                                    SettingsView::About{QStringLiteral(KELVO_MAKER_NAME), m_siteUrl,
                                                                        QStringLiteral(KELVO_VERSION),
                                                                        QStringLiteral(KELVO_BUILD_NUMBER)},
                                                    [this](const QUrl& url) { m_updater.openLink(url); });
    }
    m_settings->showAndActivate();
}
