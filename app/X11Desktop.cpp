#include "app/X11Desktop.h"

#include "app/SwayIpc.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {
template <typename T> std::unique_ptr<T, decltype(&std::free)> owned(T* reply)
{
    return {reply, &std::free};
}

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const auto reply = owned(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QList<quint32> cardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    const auto reply = owned(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, type, 0, 1024), nullptr));
    if (!reply || reply->format != 32 || reply->type != type) {
        return {};
    }
    const auto* values = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
    return QList<quint32>(values, values + xcb_get_property_value_length(reply.get()) / 4);
}

// The desktop's top-level windows that may keep room: the window manager's clients, or with no window manager the
// root window's mapped children (bars such as trayer set struts all the same).
QList<xcb_window_t> topLevels(xcb_connection_t* connection, xcb_window_t root)
{
    const QList<quint32> clients = cardinals(connection, root, atom(connection, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    if (!clients.isEmpty()) {
        return clients;
    }
    const auto tree = owned(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree) {
        return {};
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    QList<xcb_window_t> mapped;
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const auto attributes = owned(
            xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, children[i]), nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
            mapped.append(children[i]);
        }
    }
    return mapped;
}
} // namespace

QRect X11Desktop::availableGeometry(QScreen* screen)
{
    xcb_connection_t* connection = x11Connection();
    // Struts are in device pixels; with a scale factor, Qt's own answer stands.
    if (!connection || screen->devicePixelRatio() != 1.0) {
        return screen->availableGeometry();
    }
    const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_atom_t partial = atom(connection, "_NET_WM_STRUT_PARTIAL");
    const xcb_atom_t whole = atom(connection, "_NET_WM_STRUT");
    QList<Strut> struts;
    for (const xcb_window_t window : topLevels(connection, root->root)) {
        Strut strut = cardinals(connection, window, partial, XCB_ATOM_CARDINAL);
        if (strut.size() < 12) {
            strut = cardinals(connection, window, whole, XCB_ATOM_CARDINAL);
        }
        if (strut.size() >= 4) {
            struts.append(strut);
        }
    }
    const QRect available = withStruts(screen->geometry(), screen->availableGeometry(), struts,
                                       QSize(root->width_in_pixels, root->height_in_pixels));
    if (SwayIpc::available()) {
        return available & SwayIpc::usableArea(screen->geometry()).value_or(available);
    }
    return available;
}

QRect X11Desktop::withStruts(const QRect& screen, QRect available, const QList<Strut>& struts, const QSize& root)
{
    for (const Strut& strut : struts) {
        // Where along its edge each side's strut lies; the whole edge for the older four-value form.
        const auto along = [&strut](int side, int edgeLength) {
            return strut.size() >= 12 ? std::pair<int, int>(int(strut[4 + 2 * side]), int(strut[5 + 2 * side]))
                                      : std::pair<int, int>(0, edgeLength - 1);
        };
        const int left = int(strut[0]), right = int(strut[1]), top = int(strut[2]), bottom = int(strut[3]);
        const auto [leftStart, leftEnd] = along(0, root.height());
        const auto [rightStart, rightEnd] = along(1, root.height());
        const auto [topStart, topEnd] = along(2, root.width());
        const auto [bottomStart, bottomEnd] = along(3, root.width());
        const QRect kept[] = {
            QRect(QPoint(0, leftStart), QPoint(left - 1, leftEnd)),
            QRect(QPoint(root.width() - right, rightStart), QPoint(root.width() - 1, rightEnd)),
            QRect(QPoint(topStart, 0), QPoint(topEnd, top - 1)),
            QRect(QPoint(bottomStart, root.height() - bottom), QPoint(bottomEnd, root.height() - 1)),
        };
        if (kept[0].intersects(screen)) {
            available.setLeft(std::max(available.left(), kept[0].right() + 1));
        }
        if (kept[1].intersects(screen)) {
            available.setRight(std::min(available.right(), kept[1].left() - 1));
        }
        if (kept[2].intersects(screen)) {
            available.setTop(std::max(available.top(), kept[2].bottom() + 1));
        }
        if (kept[3].intersects(screen)) {
            available.setBottom(std::min(available.bottom(), kept[3].top() - 1));
        }
    }
    return available;
}

void X11Desktop::keepOffTaskbars(QWindow* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window) {
        return;
    }
    // Set while the window is unmapped, where a client may set its own state; Qt adds its states to these on show.
    const xcb_atom_t states[] = {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 atom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, states);
}

void X11Desktop::setStartupId(QWindow* window, const QString& id)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window) {
        return;
    }
    const xcb_atom_t property = atom(connection, "_NET_STARTUP_ID");
    const auto target = xcb_window_t(window->winId());
    if (id.isEmpty()) {
        xcb_delete_property(connection, target, property);
        return;
    }
    const QByteArray bytes = id.toUtf8();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, target, property, atom(connection, "UTF8_STRING"), 8,
                        uint32_t(bytes.size()), bytes.constData());
}

QString X11Desktop::windowManagerName()
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return {};
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const QList<quint32> check =
        cardinals(connection, root, atom(connection, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    if (check.isEmpty()) {
        return {};
    }
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
    const auto reply = owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, check.first(), atom(connection, "_NET_WM_NAME"), utf8, 0, 256),
        nullptr));
    if (!reply || reply->format != 8 || reply->type != utf8) {
        return {};
    }
    return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
                             xcb_get_property_value_length(reply.get()));
}
