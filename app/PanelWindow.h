#pragma once

#include <QElapsedTimer>
#include <QWidget>

// The window that holds the panel. Next to a tray icon it is a frameless pop-up window that takes the focus when it
// opens and closes when the user clicks elsewhere, presses Escape or activates another window; without a tray it is a
// small ordinary window, so Kelvo is never invisible.
class PanelWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Kind { Popup, Window };

    PanelWindow(QWidget* content, Kind kind, QWidget* parent = nullptr);

    // The kind a panel asked to be `kind` is on this platform: always a window on Wayland.
    static Kind usableKind(Kind kind);

    Kind kind() const { return m_kind; }
    // Turns the panel into a popup when a tray host appears, or into a window when the last one goes; it is
    // closed by the change.
    void setKind(Kind kind);

    // Opens the panel next to `anchor`, or closes it when it is open. The anchor is the tray icon's geometry, a
    // 1×1 rectangle at the point a tray host reported, or empty when nobody says where the icon is (then the mouse
    // pointer stands in for it).
    void toggleNear(const QRect& anchor);
    void openNear(const QRect& anchor);
    // The tray host's activation token for the opening that follows, if it gave one: shown with it, the panel is
    // let take the keyboard by compositors that guard it (Mutter). It serves that one opening.
    void setActivationToken(const QString& token) { m_activationToken = token; }

    // The area the panel keeps clear of and stays 4 px away from: the icon's geometry, or for a reported point the
    // part of the screen its icon may cover (up to the edge of `available` when the point lies on a panel bar
    // outside it, an icon's size around it otherwise).
    static QRect iconArea(const QRect& anchor, const QRect& available);
    // Where a panel of `size` goes for an icon `area` (see iconArea) in `available`, the available geometry of the
    // screen that holds it: on the side facing away from the bar the icon sits in, 4 px from the icon, inside
    // `available`. The edge nearest the icon depends only on the icon and the screen, so it stays put when the
    // size changes.
    static QPoint placement(const QSize& size, const QRect& area, const QRect& available);
    // The most height the panel has next to an icon `area` in `available`: from the icon (4 px off) to the far
    // edge of the screen, or all of it beside an icon in a vertical bar.
    static int roomHeight(const QRect& area, const QRect& available);

Q_SIGNALS:
    // The user closed the window (its close button, Alt+F4); a popup is only ever hidden.
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void settleLayout();
    void limitHeight();
    void holdPointer(bool hold);
    void place();
    bool justOpened() const;

    Kind m_kind;
    QWidget* m_content;
    QRect m_anchor;            // where the panel was last opened, in global coordinates; empty while closed
    QPoint m_placedAt;         // where place() put it last
    int m_compositorMoves = 0; // how many more times sway may be asked to move it back there
    QElapsedTimer m_sinceHidden;
    QElapsedTimer m_sinceOpened;
    QString m_activationToken;
};
