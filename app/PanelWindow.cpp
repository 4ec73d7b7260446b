#include "app/PanelWindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace {
constexpr int gap = 4;
// A click on the tray icon while the popup is open first closes the popup (a click outside it), then reaches the
// icon; that click must not open it again.
constexpr int reopenGuardMs = 250;
} // namespace

PanelWindow::PanelWindow(QWidget* content, Kind kind, QWidget* parent)
    : QWidget(parent, kind == Kind::Popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window)
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

void PanelWindow::toggleNear(const QRect& trayGeometry)
{
    if (isVisible()) {
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

void PanelWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}
