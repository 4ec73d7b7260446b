#pragma once

#include "app/AppDelegate.h"
#include "app/MenuBarIcon.h"
#include "app/PanelWindow.h"
#include "app/SettingsView.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "tray/TrayHosts.h"
#include "updates/UpdateService.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class MenuBarView;
class QMenu;
class TrayMenuModel;
class TrayMenuView;

// Where Kelvo keeps and fetches things; the defaults are the real ones, tests and demos point them elsewhere.
struct KelvoOptions {
    QString preferencesDirectory = Preferences::defaultDirectory();
    QString cloudUrl = SensiboService::defaultBaseURL();
    QUrl siteUrl = UpdateService::defaultSiteUrl();
    UpdateServiceHooks updateHooks = {};
    MenuBarIconTiming iconTiming = {};
    std::optional<bool> trayAvailable; // a fixed answer (an XEmbed tray or none); unset: trayHosts decides
    std::function<std::unique_ptr<TrayHosts>()> trayHosts; // watches the desktop's tray hosts when unset
    // How long a tray may be gone (a panel restarting) before the panel becomes a window again.
    std::chrono::milliseconds trayLossGrace{3000};
};

// The application: creates the delegate, then the device service, then the update service, each once, and hands
// them to every view. Shows the tray icon (or, with no tray, the panel as a small window) and runs the launch task:
// the first device load, then the notice check, never in parallel. The first device-list request leaves before
// anything is drawn; the panel is made when it is first shown.
class KelvoApp : public QObject
{
    Q_OBJECT

public:
    static constexpr qreal controlWidth = 110;

    explicit KelvoApp(KelvoOptions options = {}, QObject* parent = nullptr);
    ~KelvoApp() override;

    // Finishes launching: starts the launch task, then shows the icon (or the panel window).
    void start();

    SensiboService& service() { return m_service; }
    UpdateService& updater() { return m_updater; }
    // These four exist once start() has run.
    MenuBarIcon& icon() { return *m_icon; }
    TrayHosts& trayHosts() { return *m_hosts; }
    TrayIcon* trayIcon() { return m_trayIcon.get(); } // none while no tray is there
    TrayMenuModel& trayMenuModel() { return *m_menuModel; }
    // Kelvo's own menu, the panel and its window are made when first needed (or asked for here).
    QMenu& trayMenu();
    PanelWindow& panelWindow();
    MenuBarView& panel();
    bool panelMade() const { return m_panelWindow != nullptr; }
    SettingsView* settings() { return m_settings.get(); } // created when first opened
    bool launchTaskFinished() const { return m_launchFinished; }

    // Opens the panel where the user will see it: next to the tray icon, or as its window.
    void openPanel();
    // Opens (or brings forward) the settings window.
    void openSettings();
    // Loads the devices now (they were changed elsewhere) and restarts the 30 s refresh from here; requests that come
    // while that load runs are folded into one more load after it.
    void refreshNow();
    // Reads the API key stored elsewhere (`kelvo login`, `kelvo logout`) and loads with it.
    void reloadApiKey();

private:
    QCoro::Task<> launch();
    // What start() makes once the first request is out: the icon, the menu's model and the watch on the trays.
    void showIcon();
    void useKelvoStyle();
    void makePanel();
    PanelWindow::Kind panelKind() const;
    void setPanelKind(PanelWindow::Kind kind);
    // Makes the tray icon anew for the hosts there are now, and the panel a popup or a window to match.
    void syncTray();
    void updateToolTip();
    void showTrayMenu(const QRect& anchor);

    KelvoOptions m_options;
    AppDelegate m_delegate;
    Preferences m_preferences;
    QNetworkAccessManager m_network;
    SensiboService m_service;
    UpdateService m_updater;
    QUrl m_siteUrl;
    std::unique_ptr<SettingsView> m_settings;
    std::unique_ptr<MenuBarIcon> m_icon;
    MenuBarView* m_panel = nullptr;
    std::unique_ptr<PanelWindow> m_panelWindow;
    PanelWindow::Kind m_panelKind = PanelWindow::Kind::Popup; // what the window is to be while it is not made
    std::unique_ptr<TrayHosts> m_hosts;
    std::unique_ptr<TrayIcon> m_trayIcon;
    std::unique_ptr<TrayMenuModel> m_menuModel;
    std::unique_ptr<TrayMenuView> m_trayMenu;
    QRect m_lastAnchor;
    QTimer m_trayLoss;
    bool m_started = false;
    bool m_firstTrayDecision = true;
    bool m_launchStarted = false;
    bool m_launchFinished = false;
};
