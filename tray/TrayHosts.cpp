#include "tray/TrayHosts.h"

#include "tray/StatusNotifierItem.h"
#include "tray/XEmbedTrayIcon.h"

TrayHosts::TrayHosts(Kind kind, QObject* parent)
    : QObject(parent)
    , m_kind(kind)
{}

std::unique_ptr<TrayIcon> TrayHosts::createIcon()
{
    switch (m_kind) {
    case Kind::StatusNotifier:
        return std::make_unique<StatusNotifierItem>(m_bus);
    case Kind::XEmbed:
        return std::make_unique<XEmbedTrayIcon>();
    case Kind::None:
        break;
    }
    return nullptr;
}

void TrayHosts::setKind(Kind kind, bool hostRestarted)
{
    const bool wasSettled = m_settled;
    m_settled = true;
    if (kind == m_kind && wasSettled && !hostRestarted) {
        return;
    }
    m_kind = kind;
    Q_EMIT hostsChanged();
}
