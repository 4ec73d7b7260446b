#pragma once

#include "tray/TrayIcon.h"

class QSystemTrayIcon;

// The icon in an XEmbed system tray (trayer, stalonetray, older panels), through Qt's QSystemTrayIcon. The anchor
// of a click is the icon's geometry; the menu goes where the pointer is.
class XEmbedTrayIcon : public TrayIcon
{
    Q_OBJECT

public:
    explicit XEmbedTrayIcon(QObject* parent = nullptr);

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& title, const QString& body) override;
    QRect geometry() const override;

    QSystemTrayIcon* tray() const { return m_tray; }

private:
    QSystemTrayIcon* m_tray;
};
