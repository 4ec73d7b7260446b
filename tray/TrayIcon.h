#pragma once

#include "tray/TrayMenuItem.h"

#include <QIcon>
#include <QObject>
#include <QRect>

// Kelvo's icon in whatever tray the desktop has. An anchor tells where the user clicked: the icon's geometry, a
// 1x1 rectangle at the point the tray host reported, or an empty rectangle when the host does not say.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setToolTip(const QString& title, const QString& body) = 0;
    // Where the icon is on screen, when the tray says.
    virtual QRect geometry() const { return {}; }
    // The menu, for trays that draw it themselves (and so need every change of it); the others ask for it with
    // contextMenuRequested.
    virtual bool drawsMenu() const { return false; }
    virtual void setMenu(const QList<TrayMenuItem>&) {}
    // The activation token the tray host handed over for the activation that follows (GNOME's extension sends one
    // before each Activate): whoever shows a window for it takes the token, which serves once.
    virtual QString takeActivationToken() { return {}; }

Q_SIGNALS:
    // A left click.
    void activated(const QRect& anchor);
    // A right click: the menu belongs there.
    void contextMenuRequested(const QRect& anchor);
};
