#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class Announcer;
class BusySpinner;
class ElidedLabel;
class LinkButton;
class LoginItem;
class Preferences;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class SensiboService;
class ToggleSwitch;
class UpdateAlertView;
class UpdateService;

// The settings window, at least 450 × 680 and larger when its content needs it, within the screen: the API key with
// Save & Connect and the connection status, the update checks, launch at login and the black-and-white icons, over a
// footer with the maker and the version. Everything it shows is read from the two services in sync(), except whether
// Kelvo launches at login, which it reads from the system once when it is created. While it is shown it presents the
// update alert over itself whenever the update service asks for it.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int windowWidth = 450;
    static constexpr int windowHeight = 680;
    // The least height the form keeps when the screen is small, and what a window frame is assumed to take before
    // the window is shown.
    static constexpr int minimumFormHeight = 120;
    static constexpr int frameAllowance = 40;

    // What the footer says.
    struct About {
        QString makerName;
        QUrl makerSite;
        std::optional<QString> shortVersion; // "1.0" when absent
        std::optional<QString> build;        // "1" when absent
    };

    // `openUrl` opens a web address in the browser (QDesktopServices when left empty).
    SettingsView(SensiboService& service, UpdateService& updater, Preferences& preferences,
                 std::unique_ptr<LoginItem> loginItem, About about, std::function<void(const QUrl&)> openUrl = {},
                 QWidget* parent = nullptr);
    ~SettingsView() override;

    // Sizes the window for its content within `room` (the screen's available size less the window's frame); done
    // on its own when it is created and when the font changes.
    void fitInto(const QSize& room);

    // Shows the window, or brings it forward over other applications when it is already open.
    void showAndActivate();

    bool launchAtLogin() const { return m_launchAtLogin; }
    UpdateAlertView* updateAlert() const { return m_updateAlert; }

    // The page of the Sensibo web app where API keys are made.
    static QUrl apiSettingsUrl();
    static QString versionText(const std::optional<QString>& shortVersion, const std::optional<QString>& build);

public Q_SLOTS:
    void sync();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildApiSection();
    QWidget* buildUpdatesSection();
    QWidget* buildGeneralSection();
    QWidget* buildFooter(const About& about);
    QWidget* toggleRow(const QString& title, ToggleSwitch*& toggle, const QString& objectName);

    void syncConnectionStatus();
    void syncUpdateAlert();
    void restyle();
    void fitToContent();

    void saveAndConnect();
    void checkNow();
    void setLaunchAtLogin(bool enabled);
    void storeWhileShown(const char* key, bool value);

    SensiboService& m_service;
    UpdateService& m_updater;
    Preferences& m_preferences;
    std::unique_ptr<LoginItem> m_loginItem;
    std::function<void(const QUrl&)> m_openUrl;
    bool m_launchAtLogin = false;
    // Why the system refused the last change of launchAtLogin, until one is taken.
    std::optional<QString> m_loginItemError;
    // The window has been on screen, placed by the window manager, at least once.
    bool m_placed = false;

    QLineEdit* m_apiKeyField = nullptr;
    QList<QLabel*> m_helpLines;
    LinkButton* m_apiSettingsLink = nullptr;
    QPushButton* m_saveButton = nullptr;
    BusySpinner* m_connectSpinner = nullptr;
    QWidget* m_devicesStatus = nullptr;
    QLabel* m_devicesIcon = nullptr;
    QLabel* m_devicesText = nullptr;
    QWidget* m_errorStatus = nullptr;
    QLabel* m_errorIcon = nullptr;
    ElidedLabel* m_errorText = nullptr;

    ToggleSwitch* m_autoCheckSwitch = nullptr;
    QPushButton* m_checkNowButton = nullptr;
    BusySpinner* m_checkSpinner = nullptr;
    QLabel* m_lastChecked = nullptr;
    QWidget* m_updateAvailableRow = nullptr;
    QLabel* m_updateAvailableIcon = nullptr;
    QLabel* m_updateAvailableText = nullptr;

    ToggleSwitch* m_launchAtLoginSwitch = nullptr;
    ToggleSwitch* m_monochromeSwitch = nullptr;

    QLabel* m_attribution = nullptr;
    LinkButton* m_makerLink = nullptr;
    QLabel* m_version = nullptr;

    UpdateAlertView* m_updateAlert = nullptr;
    QWidget* m_form = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_footer = nullptr;
    Announcer* m_announcer = nullptr;
};
