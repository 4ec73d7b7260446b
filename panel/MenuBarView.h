#pragma once

#include <QWidget>

#include <functional>

class Announcer;
class BusySpinner;
class DeviceView;
class QLabel;
class SensiboService;
class UpdateService;

// The panel that the tray icon opens: 300 px wide at the default font (wider with a larger one), as tall as its
// content or as the window holding it allows, the climate controls then scrolling. It shows one of the states "no API
// key", "loading", "error or no devices" or the device view (update line, device name or picker with the
// readings, the climate controls, and a footer with the last error and the refresh, settings and quit buttons).
// It keeps nothing about the devices: sync() reads the services whenever they change. Each appearance asks the
// service for its first load, which happens once per run. A 1 px line in the palette's mid colour frames it, so that
// it has an edge where no compositor draws a shadow.
class MenuBarView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 300;

    // `openSettings` opens or raises the settings window. `controlWidth` is the width of each climate row's
    // control.
    MenuBarView(SensiboService& service, UpdateService& updater, std::function<void()> openSettings,
                qreal controlWidth = 110, QWidget* parent = nullptr);

    // The panel's width for `font`: panelWidth, grown in proportion to a font larger than the default.
    static int widthFor(const QFont& font);
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return false; } // its height is its content's at its own width

    // The next opening comes from the keyboard (a second start, a shortcut, a menu): the first control shows its
    // focus ring at once.
    void setOpenedFromKeyboard(bool keyboard) { m_openedFromKeyboard = keyboard; }

Q_SIGNALS:
    // The user pressed Escape, or the panel made way for the settings window. The window holding the panel is
    // hidden as well.
    void closeRequested();

public Q_SLOTS:
    void sync();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    enum class State { NoKey, Loading, Message, Devices };

    State currentState() const;
    QWidget* buildNoKeyState();
    QWidget* buildLoadingState();
    QWidget* buildMessageState();
    void restyle();
    void syncDescriptions(State state);
    void updateSize();

    void focusFirstControl();
    void showSettings();
    void closePanel();

    SensiboService& m_service;
    std::function<void()> m_openSettings;

    QWidget* m_noKeyState = nullptr;
    QWidget* m_openSettingsButton = nullptr;
    QWidget* m_retryButton = nullptr;
    QLabel* m_noKeyIcon = nullptr;
    QLabel* m_noKeyTitle = nullptr;
    QLabel* m_noKeyText = nullptr;

    QWidget* m_loadingState = nullptr;
    BusySpinner* m_spinner = nullptr;
    QLabel* m_loadingText = nullptr;

    QWidget* m_messageState = nullptr;
    QLabel* m_messageIcon = nullptr;
    QLabel* m_messageText = nullptr;
    QLabel* m_noDevicesText = nullptr;

    DeviceView* m_deviceView = nullptr;
    Announcer* m_announcer = nullptr; // the message state's outcome
    int m_contentHeight = 0;
    bool m_openedFromKeyboard = false;
};
