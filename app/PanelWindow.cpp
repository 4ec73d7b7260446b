#include "app/PanelWindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QStyleHints>
#include <QVBoxLayout>

namespace {
constexpr int gap = 4;
// A click on the tray icon while the popup is open first closes the popup (a click outside it), then reaches the
// icon; that click must not open it again.
constexpr int reopenGuardMs = 250;

Qt::WindowFlags flagsFor(PanelWindow::Kind kind)
{
    return kind == PanelWindow::Kind::Popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window;
}
} // namespace

PanelWindow::PanelWindow(QWidget* content, Kind kind, QWidget* parent)
    : QWidget(parent, flagsFor(kind))
    , m_kind(kind)
{
    setWindowTitle(QStringLiteral("Kelvo"));
    setAccessibleName(QStringLiteral("Kelvo"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize); // the height follows the content
    layout->addWidget(content);
    if (kind == Kind::Popup) {
        setAttribute(Qt::WA_X11NetWmWindowTypeDropDownMenu);
    }
}

void PanelWindow::setKind(Kind kind)
{
    if (kind == m_kind) {
        return;
    }
    m_kind = kind;
    setWindowFlags(flagsFor(kind)); // hides the window; its next show makes it anew
    setAttribute(Qt::WA_X11NetWmWindowTypeDropDownMenu, kind == Kind::Popup);
    m_sinceHidden.invalidate(); // not closed by a click: the next click on the icon opens it
}

bool PanelWindow::justOpened() const
{
    return m_sinceOpened.isValid() &&
           m_sinceOpened.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void PanelWindow::toggleNear(const QRect& trayGeometry)
{
    if (isVisible()) {
        if (justOpened()) {
            return; // the second click of a double-click on the icon leaves the panel open
        }
        hide();
        return;
    }
    if (m_sinceHidden.isValid() && m_sinceHidden.elapsed() < reopenGuardMs) {
        return;
    }
    openNear(trayGeometry);
}

void PanelWindow::openNear(const QRect& trayGeometry)
{
    adjustSize();
    const QRect anchor =
        trayGeometry.isValid() && !trayGeometry.isEmpty() ? trayGeometry : QRect(QCursor::pos(), QSize(1, 1));
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen) {
        move(placement(sizeHint(), anchor, screen->availableGeometry()));
    }
    show();
    raise();
    activateWindow();
    m_sinceOpened.start();
}

QPoint PanelWindow::placement(const QSize& size, const QRect& anchor, const QRect& available)
{
    // Below an icon in the upper half of the screen, above one in the lower half; right edges aligned.
    const bool below = anchor.center().y() < available.center().y();
    int x = anchor.right() - size.width() + 1;
    int y = below ? anchor.bottom() + 1 + gap : anchor.top() - gap - size.height();
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() - size.width() + 1));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() - size.height() + 1));
    return {x, y};
}

void PanelWindow::hideEvent(QHideEvent* event)
{
    m_sinceHidden.start();
    QWidget::hideEvent(event);
}

void PanelWindow::mousePressEvent(QMouseEvent* event)
{
    // A popup closes on a press outside it, but the second click of a double-click on the icon is not meant so.
    if (m_kind == Kind::Popup && !rect().contains(event->position().toPoint()) && justOpened()) {
        event->accept();
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
