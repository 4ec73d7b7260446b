#include "app/MenuBarIcon.h"

#include "service/SensiboService.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

// The assets live in this static library's resources, which the linker drops unless something names them.
static void initAssets()
{
    Q_INIT_RESOURCE(resources);
}

namespace {
constexpr int iconSizes[] = {16, 22, 24, 32, 48, 64};
}

MenuBarIcon::MenuBarIcon(SensiboService& service, MenuBarIconTiming timing, QObject* parent)
    : QObject(parent)
    , m_service(service)
    , m_timing(timing)
{
    m_fadeFrame.setSingleShot(true);
    m_fadeFrame.setTimerType(Qt::PreciseTimer);
    connect(&m_fadeFrame, &QTimer::timeout, this, &MenuBarIcon::fadeFrame);
    m_pulse.setInterval(m_timing.pulseStep);
    connect(&m_pulse, &QTimer::timeout, this, [this] { setPulsePhase(!m_pulsePhase); });

    // The picture follows the name the service derives from the selection, the device's state and the
    // black-and-white choice.
    connect(&m_service, &SensiboService::devicesChanged, this, &MenuBarIcon::redraw);
    connect(&m_service, &SensiboService::selectedDeviceIdChanged, this, &MenuBarIcon::redraw);
    connect(&m_service, &SensiboService::useMonochromeIconsChanged, this, &MenuBarIcon::redraw);
    connect(&m_service, &SensiboService::isLoadingChanged, this, &MenuBarIcon::restartPulse);
    redraw();
    restartPulse();
}

MenuBarIcon::~MenuBarIcon() = default;

qreal MenuBarIcon::targetOpacity() const
{
    return m_service.isLoading() && m_pulsePhase ? dimmedOpacity : 1.0;
}

void MenuBarIcon::restartPulse()
{
    // Each change of loading starts the pulse afresh. A change of loading alone is not animated: the icon jumps to
    // what the new state asks for.
    m_pulse.stop();
    stopFade();
    if (!m_service.isLoading()) {
        setPulsePhase(false);
        setOpacity(1.0);
        return;
    }
    setOpacity(targetOpacity());
    // An ordinary timer, not a task with its own clock and objects: it runs for every refresh, and a step of the
    // pulse that comes late across a suspend does no harm.
    setPulsePhase(!m_pulsePhase); // the first flip comes at once
    m_pulse.start();
}

void MenuBarIcon::setPulsePhase(bool phase)
{
    if (m_pulsePhase == phase) {
        return;
    }
    m_pulsePhase = phase;
    Q_EMIT pulsePhaseChanged();
    if (m_service.isLoading()) {
        startFade(targetOpacity());
    }
}

void MenuBarIcon::startFade(qreal to)
{
    m_fadeFrom = m_opacity; // from where it is, mid-fade or not
    m_fadeTo = to;
    m_fadeClock.start();
    fadeFrame();
}

void MenuBarIcon::stopFade()
{
    m_fadeFrame.stop();
    m_fadeClock.invalidate();
}

void MenuBarIcon::fadeFrame()
{
    if (!m_fadeClock.isValid()) {
        return;
    }
    const qreal span = m_fadeTo - m_fadeFrom;
    const qint64 duration = std::max(m_timing.fadeMs, 1);
    const qreal progress = std::min(1.0, qreal(m_fadeClock.elapsed()) / qreal(duration));
    if (progress >= 1.0 || span == 0) {
        stopFade();
        setOpacity(m_fadeTo);
        return;
    }
    setOpacity(m_fadeFrom + span * m_fadeCurve.valueForProgress(progress));

    // Sleeps until the opacity crosses into the next twentieth the icon is drawn with (or the fade ends): the curve
    // only rises, so the moment is found by halving.
    const qreal direction = span > 0 ? 1.0 : -1.0;
    const qreal boundary = (std::lround(m_opacity * 20) + direction * 0.5) / 20.0;
    const qreal wanted = (boundary - m_fadeFrom) / span; // the share of the way there
    qreal low = progress;
    qreal high = 1.0;
    if (wanted < 1.0) {
        for (int i = 0; i < 16; ++i) {
            const qreal middle = (low + high) / 2;
            if (m_fadeCurve.valueForProgress(middle) < wanted) {
                low = middle;
            } else {
                high = middle;
            }
        }
    }
    const qint64 at = qint64(std::ceil(high * qreal(duration)));
    m_fadeFrame.start(int(std::max<qint64>(1, at - m_fadeClock.elapsed())));
}

void MenuBarIcon::setOpacity(qreal opacity)
{
    m_opacity = opacity;
    redraw();
}

void MenuBarIcon::redraw()
{
    const QString name = m_service.menuBarIconName();
    const int step = int(std::lround(m_opacity * 20));
    if (name == m_iconName && step == m_drawnStep) {
        return;
    }
    m_iconName = name;
    m_drawnStep = step;
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    // Each frame of the pulse paints the kept drawings with its opacity; nothing is drawn from the asset again.
    QIcon icon;
    for (const int size : iconSizes) {
        icon.addPixmap(faded(drawing(name, int(std::ceil(size * ratio))), step / 20.0, ratio));
    }
    m_icon = icon;
    Q_EMIT iconChanged();
}

const QImage& MenuBarIcon::drawing(const QString& assetName, int pixels)
{
    auto it = m_drawings.find({assetName, pixels});
    if (it == m_drawings.end()) {
        ++m_drawingsMade;
        it = m_drawings.insert({assetName, pixels}, draw(assetName, pixels));
    }
    return *it;
}

QImage MenuBarIcon::draw(const QString& assetName, int pixels)
{
    initAssets();
    QSvgRenderer svg(QStringLiteral(":/assets/%1.svg").arg(assetName));
    QImage drawing(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    drawing.fill(Qt::transparent);
    QPainter painter(&drawing);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter, QRectF(0, 0, pixels, pixels));
    painter.end();
    return drawing;
}

QPixmap MenuBarIcon::faded(const QImage& drawing, qreal opacity, qreal devicePixelRatio)
{
    // Drawn whole first, then faded as one: the drawing's own opacities would override the painter's.
    QPixmap pixmap(drawing.size());
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setOpacity(opacity);
    painter.drawImage(0, 0, drawing);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QPixmap MenuBarIcon::render(const QString& assetName, int size, qreal opacity, qreal devicePixelRatio)
{
    return faded(draw(assetName, int(std::ceil(size * devicePixelRatio))), opacity, devicePixelRatio);
}
