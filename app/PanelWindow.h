#pragma once

#include <QElapsedTimer>
#include <QWidget>

// The window that holds the panel. Next to a tray icon it is a frameless popup that closes when the user clicks
// elsewhere; without a tray it is a small ordinary window, so Kelvo is never invisible.
class PanelWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Kind { Popup, Window };

    PanelWindow(QWidget* content, Kind kind, QWidget* parent = nullptr);

    Kind kind() const { return m_kind; }
    // Turns the panel into a popup when a tray host appears, or into a window when the last one goes; it is
    // closed by the change.
    void setKind(Kind kind);

    // Opens the panel next to the tray icon's geometry (or the mouse pointer when the tray does not tell where its
    // icon is), or closes it when it is open.
    void toggleNear(const QRect& trayGeometry);
    void openNear(const QRect& trayGeometry);

    // Where a panel of `size` goes for an icon at `anchor`, kept inside `available`.
    static QPoint placement(const QSize& size, const QRect& anchor, const QRect& available);

protected:
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool justOpened() const;

    Kind m_kind;
    QElapsedTimer m_sinceHidden;
    QElapsedTimer m_sinceOpened;
};
