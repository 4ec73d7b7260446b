#pragma once

#include <QEasingCurve>
#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QTimer>

#include <chrono>

class SensiboService;

// How fast the tray icon pulses; tests shorten it.
struct MenuBarIconTiming {
    std::chrono::milliseconds pulseStep{600};
    int fadeMs = 600;
};

// The tray icon's picture: the one the device service names, pulsing while a device list loads. While loading, the
// pulse flips its phase at once and then every step, and each flip fades the opacity between 1.0 and 0.35 with an
// ease-in-out curve over the fade time; when loading ends the icon is fully opaque at once.
class MenuBarIcon : public QObject
{
    Q_OBJECT

public:
    static constexpr qreal dimmedOpacity = 0.35;

    explicit MenuBarIcon(SensiboService& service, MenuBarIconTiming timing = {}, QObject* parent = nullptr);
    ~MenuBarIcon() override;

    bool pulsePhase() const { return m_pulsePhase; }
    // The opacity the icon is drawn with now (mid-fade values included) and the one it is heading for.
    qreal opacity() const { return m_opacity; }
    qreal targetOpacity() const;
    QString iconName() const { return m_iconName; }
    QIcon icon() const { return m_icon; }

    // The asset as the tray shows it, for any size and opacity.
    static QPixmap render(const QString& assetName, int size, qreal opacity, qreal devicePixelRatio = 1.0);
    // How many drawings of the assets this icon has made: each asset once per size, however long the pulse runs.
    int drawingsMade() const { return m_drawingsMade; }

Q_SIGNALS:
    void pulsePhaseChanged();
    void iconChanged();

private:
    void restartPulse();
    void setPulsePhase(bool phase);
    void startFade(qreal to);
    void stopFade();
    void fadeFrame();
    void setOpacity(qreal opacity);
    void redraw();
    // The asset drawn whole at `pixels`, made once and kept.
    const QImage& drawing(const QString& assetName, int pixels);
    static QImage draw(const QString& assetName, int pixels);
    static QPixmap faded(const QImage& drawing, qreal opacity, qreal devicePixelRatio);

    SensiboService& m_service;
    MenuBarIconTiming m_timing;
    // The fade: eased from one opacity to another, woken only when the drawn picture changes (the icon is drawn in
    // twentieths of opacity), not at every frame of the screen.
    QEasingCurve m_fadeCurve{QEasingCurve::InOutQuad};
    QElapsedTimer m_fadeClock; // valid while fading
    qreal m_fadeFrom = 1.0;
    qreal m_fadeTo = 1.0;
    QTimer m_fadeFrame; // single shot: the moment the next twentieth is reached
    bool m_pulsePhase = false;
    qreal m_opacity = 1.0;
    QString m_iconName;
    QIcon m_icon;
    int m_drawnStep = -1; // opacity quantised to twentieths: frames that look alike are not drawn again
    QHash<QPair<QString, int>, QImage> m_drawings; // by asset and pixel size
    int m_drawingsMade = 0;
    QTimer m_pulse; // flips the phase every step while loading
};
