#include "tray/XEmbedTrayIcon.h"

#include <QCursor>
#include <QSystemTrayIcon>

XEmbedTrayIcon::XEmbedTrayIcon(QObject* parent)
    : TrayIcon(parent)
    , m_tray(new QSystemTrayIcon(this))
{
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        switch (reason) {
        case QSystemTrayIcon::Trigger:
            Q_EMIT activated(m_tray->geometry());
            break;
        case QSystemTrayIcon::Context:
            Q_EMIT contextMenuRequested(QRect(QCursor::pos(), QSize(1, 1)));
            break;
        case QSystemTrayIcon::DoubleClick: // its first click has already opened the panel
        case QSystemTrayIcon::MiddleClick:
        case QSystemTrayIcon::Unknown:
            break;
        }
    });
}

void XEmbedTrayIcon::setIcon(const QIcon& icon)
{
    m_tray->setIcon(icon);
    m_tray->show(); // shown with its first picture
}

QRect XEmbedTrayIcon::geometry() const
{
    return m_tray->geometry();
}

void XEmbedTrayIcon::setToolTip(const QString& title, const QString& body)
{
    const QString text = body.isEmpty() ? title : title + QLatin1Char('\n') + body;
    if (text != m_tray->toolTip()) { // every refresh says it again
        m_tray->setToolTip(text);
    }
}
