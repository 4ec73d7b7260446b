#pragma once

#include "tray/XEmbedTrays.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>

struct xcb_connection_t;

// The X11 system tray manager: whoever owns the screen's _NET_SYSTEM_TRAY_S<n> selection. The X server says when the
// owner changes, goes away or disconnects (XFixes selection events on Qt's own connection), so nothing is asked
// again while nothing changes. On other platforms there is never a tray manager.
class X11TrayManager : public XEmbedTrays, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit X11TrayManager(QObject* parent = nullptr);
    ~X11TrayManager() override;

    bool available() const override { return m_owner != 0; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    xcb_connection_t* m_connection = nullptr;
    uint32_t m_selection = 0;      // the selection's atom
    uint32_t m_owner = 0;          // its owner's window, or none
    uint8_t m_selectionNotify = 0; // the XFixes event that says the owner changed; 0 when not watching
};
