#include "app/PanelWindow.h"

#include "app/SwayIpc.h"
#include "app/X11Desktop.h"
#include "platform/Logging.h"
#include "ui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <limits>
#include <utility>

namespace {
constexpr int gap = 4;
// A click on the tray icon while the popup is open first closes the popup (a click outside it), then reaches the
// icon; that click must not open it again.
constexpr int reopenGuardMs = 250;
// The thickest panel bar: an icon this close to an edge of the screen sits in a bar along that edge.
constexpr int barThickness = 64;
// The largest icon tray hosts draw: a point a host reports may be anywhere on it.
constexpr int iconExtent = 32;
// How often the panel asks sway to put it back where it belongs while placed once; sway answers every request of
// the window itself by centring it, and a window that keeps moving is not worth chasing.
constexpr int compositorMoveBudget = 5;
// Layout requests travel up one widget level per pass; the panel's content is a few levels deep.
constexpr int layoutPasses = 8;
// What a window manager's title bar and frame take, for the panel as an ordinary window.
constexpr int frameAllowance = 40;

enum class Side { Below, Above, RightOf, LeftOf };

// Where the panel goes relative to the icon: away from the bar the icon sits in.
Side sideFor(const QRect& area, const QRect& available)
{
    if (area.bottom() < available.top()) {
        return Side::Below;
    }
    if (area.top() > available.bottom()) {
        return Side::Above;
    }
    if (area.right() < available.left()) {
        return Side::RightOf;
    }
    if (area.left() > available.right()) {
        return Side::LeftOf;
    }
    // The desktop keeps no room for the bar (no window manager, a bar drawn over windows): the edge the icon is
    // close to tells. Horizontal bars are by far the common ones, so they win in a corner.
    const QPoint centre = area.center();
    const int top = centre.y() - available.top();
    const int bottom = available.bottom() - centre.y();
    const int left = centre.x() - available.left();
    const int right = available.right() - centre.x();
    if (std::min(top, bottom) <= barThickness || std::min(left, right) > barThickness) {
        return top <= bottom ? Side::Below : Side::Above;
    }
    return left <= right ? Side::RightOf : Side::LeftOf;
}

// Not a Qt::Popup: Qt's accessibility bridge leaves popups out of the application's windows, so a screen reader
// would never find the panel. A frameless tool window, managed by the window manager, behaves as a popup instead:
// it asks for the activation when it opens, which every window manager tried grants to a utility window (KWin,
// Mutter and sway under XWayland among them; a window that bypasses the window manager gets no keyboard there, and
// sway takes the X focus back from it at once). A click on another window, X or Wayland, then takes the activation
// away, which closes the panel; a click where no window takes it (a bare X desktop) reaches the panel, which holds
// the pointer while open.
Qt::WindowFlags windowFlagsFor(PanelWindow::Kind kind)
{
    return kind == PanelWindow::Kind::Popup ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                            : Qt::WindowFlags(Qt::Window);
}

// The screen that holds `anchor`, else the one nearest to it.
QScreen* screenFor(const QRect& anchor)
{
    if (QScreen* screen = QGuiApplication::screenAt(anchor.center())) {
        return screen;
    }
    QScreen* nearest = QGuiApplication::primaryScreen();
    qint64 nearestDistance = std::numeric_limits<qint64>::max();
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        const QPoint inside(std::clamp(anchor.center().x(), geometry.left(), geometry.right()),
                            std::clamp(anchor.center().y(), geometry.top(), geometry.bottom()));
        const QPoint away = inside - anchor.center();
        const qint64 distance = qint64(away.x()) * away.x() + qint64(away.y()) * away.y();
        if (distance < nearestDistance) {
            nearest = screen;
            nearestDistance = distance;
        }
    }
    return nearest;
}
} // namespace

// Wayland tells a client nothing about where its windows are: a popup cannot be put next to the icon there, while
// a window at least shows where the compositor puts it.
PanelWindow::Kind PanelWindow::usableKind(Kind kind)
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ? Kind::Window : kind;
}

PanelWindow::PanelWindow(QWidget* content, Kind kind, QWidget* parent)
    : QWidget(parent, windowFlagsFor(usableKind(kind)))
    , m_kind(usableKind(kind))
    , m_content(content)
{
    // For assistive technology the panel is a window of the application, named and activated like any other.
    Accessibility::describeClass<PanelWindow, Accessibility::WithRole<QAccessible::Window>>();
    setWindowTitle(QStringLiteral("Kelvo"));
    setAccessibleName(QStringLiteral("Kelvo"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize); // the height follows the content
    layout->addWidget(content);
}

void PanelWindow::setKind(Kind kind)
{
    kind = usableKind(kind);
    if (kind == m_kind) {
        return;
    }
    m_kind = kind;
    setWindowFlags(windowFlagsFor(kind)); // hides the window; its next show makes it anew
    m_sinceHidden.invalidate();           // not closed by a click: the next click on the icon opens it
}

bool PanelWindow::justOpened() const
{
    return m_sinceOpened.isValid() &&
           m_sinceOpened.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void PanelWindow::toggleNear(const QRect& anchor)
{
    if (isVisible()) {
        if (justOpened()) {
            return; // the second click of a double-click on the icon leaves the panel open
        }
        qCDebug(lcTray) << "panel: closed by the icon";
        m_activationToken.clear();
        hide();
        return;
    }
    if (m_sinceHidden.isValid() && m_sinceHidden.elapsed() < reopenGuardMs) {
        return;
    }
    openNear(anchor);
}

void PanelWindow::openNear(const QRect& anchor)
{
    m_anchor = anchor.isValid() && !anchor.isEmpty() ? anchor : QRect(QCursor::pos(), QSize(1, 1));
    limitHeight();
    settleLayout();
    place();
    const QString token = std::exchange(m_activationToken, QString());
    if (!isVisible() && (m_kind == Kind::Popup || !token.isEmpty() || windowHandle())) {
        winId(); // the native window, made now so that its hints are there before it maps
        if (m_kind == Kind::Popup) {
            X11Desktop::keepOffTaskbars(windowHandle());
        }
        X11Desktop::setStartupId(windowHandle(), token);
        if (!token.isEmpty() && QGuiApplication::platformName() == QLatin1String("wayland")) {
            qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8()); // Qt hands it to the compositor on activation
        }
    }
    qCDebug(lcTray) << "panel: opens at" << m_placedAt << "for the anchor" << m_anchor;
    show();
    raise();
    activateWindow();
    m_sinceOpened.start();
}

// Content that changed while the panel was closed has its new size waiting in posted layout requests: the panel
// is placed from the size it will show with, not the one it last had.
void PanelWindow::settleLayout()
{
    ensurePolished();
    for (int pass = 0; pass < layoutPasses; ++pass) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    if (layout()) {
        layout()->activate();
    }
}

// The panel is never taller than the room its screen leaves it (its content scrolls instead): between the icon and
// the far edge of the screen, or the whole available height as an ordinary window, less its frame.
void PanelWindow::limitHeight()
{
    const QScreen* screen = screenFor(m_anchor);
    if (!screen) {
        return;
    }
    const QRect available = screen->availableGeometry();
    const int room = m_kind == Kind::Popup ? roomHeight(iconArea(m_anchor, available), available)
                                           : available.height() - frameAllowance;
    m_content->setMaximumHeight(std::max(room, 1));
}

int PanelWindow::roomHeight(const QRect& area, const QRect& available)
{
    switch (sideFor(area, available)) {
    case Side::Below:
        return available.bottom() - (area.bottom() + gap);
    case Side::Above:
        return area.top() - gap - available.top();
    case Side::RightOf:
    case Side::LeftOf:
        break;
    }
    return available.height();
}

void PanelWindow::place()
{
    QScreen* screen = screenFor(m_anchor);
    if (!screen) {
        return;
    }
    const QRect available = X11Desktop::availableGeometry(screen);
    m_placedAt = placement(size(), iconArea(m_anchor, available), available);
    m_compositorMoves = compositorMoveBudget;
    if (m_kind == Kind::Popup && isVisible() && SwayIpc::available()) {
        SwayIpc::moveWindow(winId(), m_placedAt); // asked by the window itself, sway would centre it again
    } else {
        // The geometry, not move(): a window's move() places its frame, and Qt keeps the frame the window had while
        // it was an ordinary window, so every other opening after a late tray would land that far off.
        setGeometry(QRect(m_placedAt, size()));
    }
}

QRect PanelWindow::iconArea(const QRect& anchor, const QRect& available)
{
    if (anchor.width() > 1 || anchor.height() > 1) {
        return anchor;
    }
    const QPoint point = anchor.topLeft();
    // A point on a bar that the desktop keeps windows off: the icon lies on the bar, outside `available`.
    if (point.y() < available.top()) {
        return QRect(point, QPoint(point.x(), available.top() - 1));
    }
    if (point.y() > available.bottom()) {
        return QRect(QPoint(point.x(), available.bottom() + 1), point);
    }
    if (point.x() < available.left()) {
        return QRect(point, QPoint(available.left() - 1, point.y()));
    }
    if (point.x() > available.right()) {
        return QRect(QPoint(available.right() + 1, point.y()), point);
    }
    // Anywhere else the icon may reach an icon's size from the point in every direction.
    const QPoint reach(iconExtent - 1, iconExtent - 1);
    return QRect(point - reach, point + reach);
}

QPoint PanelWindow::placement(const QSize& size, const QRect& area, const QRect& available)
{
    const Side side = sideFor(area, available);
    const QPoint centre = area.center();
    int x = 0;
    int y = 0;
    if (side == Side::Below || side == Side::Above) {
        // The edges on the icon's side of the screen line up, so the panel grows towards the middle.
        x = centre.x() >= available.center().x() ? area.right() - size.width() + 1 : area.left();
        y = side == Side::Below ? area.bottom() + 1 + gap : area.top() - gap - size.height();
    } else {
        y = centre.y() >= available.center().y() ? area.bottom() - size.height() + 1 : area.top();
        x = side == Side::RightOf ? area.right() + 1 + gap : area.left() - gap - size.width();
    }
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() - size.width() + 1));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() - size.height() + 1));
    return {x, y};
}

void PanelWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Growing (power on) or shrinking (power off) while open: the edge next to the icon stays where it is. A
    // window belongs to the window manager and the user once shown.
    if (m_kind == Kind::Popup && isVisible() && !m_anchor.isNull()) {
        place();
    }
}

// While open, the panel holds the pointer at the window level, so that a press outside it comes here (and closes
// it) while the presses inside still reach its controls. A menu or list the panel opens takes the pointer for
// itself and lets it go when it closes: the panel takes it back then.
// Not under Mutter: there the press a hold catches rarely comes at all, and when it does, closing the panel while it
// has the keyboard aborts GNOME Shell 43 (its assertion that an unmanaged window no longer has the focus), which on
// Wayland ends the user's session. There the panel closes when another window takes the keyboard, on Escape and
// from the icon.
void PanelWindow::holdPointer(bool hold)
{
    static const bool underMutter = [] {
        const QString manager = X11Desktop::windowManagerName();
        const bool mutter = manager == QLatin1String("GNOME Shell") || manager.contains(QLatin1String("Mutter"));
        qCDebug(lcTray) << "panel: window manager" << manager << (mutter ? "(the pointer is not held)" : "");
        return mutter;
    }();
    if (QWindow* window = windowHandle(); window && !(hold && underMutter)) {
        window->setMouseGrabEnabled(hold);
    }
    if (hold) {
        qApp->installEventFilter(this);
    } else {
        qApp->removeEventFilter(this);
    }
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->windowType() == Qt::Popup) {
        QTimer::singleShot(0, this, [this] {
            if (m_kind == Kind::Popup && isVisible() && isActiveWindow() && !QApplication::activePopupWidget()) {
                holdPointer(true);
            }
        });
    }
    return QWidget::eventFilter(watched, event);
}

bool PanelWindow::event(QEvent* event)
{
    // sway puts the panel in the middle of the screen when it maps it (and when it changes size): moved back.
    if (event->type() == QEvent::Move && m_kind == Kind::Popup && isVisible() && pos() != m_placedAt &&
        SwayIpc::available() && m_compositorMoves > 0) {
        --m_compositorMoves;
        SwayIpc::moveWindow(winId(), m_placedAt);
    }
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate) {
        qCDebug(lcTray) << "panel:" << (event->type() == QEvent::WindowActivate ? "activated" : "deactivated");
    }
    if (m_kind == Kind::Popup) {
        if (event->type() == QEvent::WindowActivate && isVisible()) {
            holdPointer(true);
        } else if (event->type() == QEvent::WindowDeactivate) {
            // A menu or list that the panel opens holds the keyboard for a while without taking the activation
            // away; whether the application really lost it is known once that has settled.
            QTimer::singleShot(0, this, [this] {
                if (m_kind == Kind::Popup && isVisible() && !isActiveWindow() && !QApplication::activePopupWidget()) {
                    qCDebug(lcTray) << "panel: closed, another window was activated";
                    hide();
                }
            });
        }
    }
    return QWidget::event(event);
}

void PanelWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (m_kind == Kind::Window) {
        Q_EMIT closedByUser();
    }
}

void PanelWindow::hideEvent(QHideEvent* event)
{
    holdPointer(false);
    m_sinceHidden.start();
    m_anchor = {};
    QWidget::hideEvent(event);
}

void PanelWindow::mousePressEvent(QMouseEvent* event)
{
    // A press outside the panel closes it (the panel holds the pointer while open), but the second click of a
    // double-click on the icon is not meant so.
    if (m_kind == Kind::Popup && !rect().contains(event->position().toPoint())) {
        event->accept();
        if (!justOpened()) {
            qCDebug(lcTray) << "panel: closed by a click outside it";
            hide();
        }
        return;
    }
    QWidget::mousePressEvent(event);
}

void PanelWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}
