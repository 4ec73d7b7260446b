#include "tray/X11TrayManager.h"

#include "platform/Logging.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <memory>

namespace {
template <typename T> std::unique_ptr<T, decltype(&std::free)> owned(T* reply)
{
    return {reply, &std::free};
}
} // namespace

X11TrayManager::X11TrayManager(QObject* parent)
    : XEmbedTrays(parent)
{
    auto* x11 = qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")
                    ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                    : nullptr;
    m_connection = x11 ? x11->connection() : nullptr;
    if (!m_connection) {
        return;
    }
    // The screen Qt shows on: the one $DISPLAY names (trays are per X screen).
    int screenNumber = 0;
    char* host = nullptr;
    int display = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &screenNumber)) {
        screenNumber = 0;
    }
    std::free(host);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem > 1; ++i) {
        xcb_screen_next(&screens);
    }
    const xcb_window_t root = screens.data->root;

    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber);
    const auto atom = owned(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(name.size()), name.constData()), nullptr));
    if (!atom) {
        return;
    }
    m_selection = atom->atom;

    // Qt has already asked for XFixes on its connection (for the clipboard), which the server needs before any of its
    // requests; the events are Qt's to read and pass through the native event filter first.
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(m_connection, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        m_selectionNotify = uint8_t(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
        xcb_xfixes_select_selection_input(m_connection, root, m_selection,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        QCoreApplication::instance()->installNativeEventFilter(this);
    } else {
        qCDebug(lcTray) << "No XFixes on this X server: a tray manager that comes later is not noticed";
    }
    // Asked after the events were asked for, so that no change falls between the two.
    const auto owner =
        owned(xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, m_selection), nullptr));
    m_owner = owner ? owner->owner : XCB_NONE;
    qCDebug(lcTray) << name << (m_owner ? "is owned: an XEmbed tray is there" : "has no owner: no XEmbed tray");
}

X11TrayManager::~X11TrayManager()
{
    if (m_selectionNotify && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool X11TrayManager::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != m_selectionNotify) {
        return false;
    }
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection != m_selection) {
        return false;
    }
    const uint32_t owner =
        notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER ? notify->owner : uint32_t(XCB_NONE);
    qCDebug(lcTray) << "The XEmbed tray manager" << (owner ? "changed" : "went away");
    m_owner = owner;
    // Answered from the event loop, not from inside Qt's event dispatch: the answer may make a new tray icon.
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT changed(); }, Qt::QueuedConnection);
    return false; // Qt's own tray icon follows the manager as well
}
