#include "platform/popover/X11WorkArea.h"

#include "platform/popover/WorkArea.h"
#include "platform/popover/XcbReply.h"

#include <QGuiApplication>
#include <QList>
#include <QScreen>
#include <QString>

#include <vector>

#include <xcb/xcb.h>

namespace X11WorkArea {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const QByteArray& name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A 32-bit property as numbers; empty when the window has none of that type.
std::vector<quint32> cardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    if (property == XCB_ATOM_NONE)
        return {};
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, type, 0, 4096), nullptr));
    if (!reply || reply->format != 32 || reply->type != type)
        return {};
    const auto* values = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
    return std::vector<quint32>(values, values + xcb_get_property_value_length(reply.get()) / 4);
}

QList<QRect> publishedWorkAreas(xcb_connection_t* connection, xcb_window_t root)
{
    const auto desktop = cardinals(connection, root, atom(connection, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL);
    const QByteArray name = "_GTK_WORKAREAS_D" + QByteArray::number(desktop.empty() ? 0 : desktop.front());
    const auto values = cardinals(connection, root, atom(connection, name), XCB_ATOM_CARDINAL);
    QList<QRect> areas;
    for (size_t i = 0; i + 3 < values.size(); i += 4)
        areas.append(QRect(int(values[i]), int(values[i + 1]), int(values[i + 2]), int(values[i + 3])));
    return areas;
}

std::vector<xcb_window_t> managedWindows(xcb_connection_t* connection, xcb_window_t root)
{
    const auto clients = cardinals(connection, root, atom(connection, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    if (!clients.empty())
        return {clients.begin(), clients.end()};
    // Without a client list (no EWMH window manager), the top-level windows themselves.
    const XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

QList<WorkArea::Strut> struts(xcb_connection_t* connection, xcb_window_t root, const QSize& rootSize)
{
    const xcb_atom_t partial = atom(connection, "_NET_WM_STRUT_PARTIAL");
    const xcb_atom_t full = atom(connection, "_NET_WM_STRUT");
    QList<WorkArea::Strut> result;
    for (const xcb_window_t window : managedWindows(connection, root)) {
        const auto values = cardinals(connection, window, partial, XCB_ATOM_CARDINAL);
        if (values.size() >= 12) {
            WorkArea::Strut strut;
            std::copy_n(values.begin(), 12, strut.begin());
            result.append(strut);
        } else if (const auto widths = cardinals(connection, window, full, XCB_ATOM_CARDINAL); widths.size() >= 4) {
            result.append(WorkArea::fullLengthStrut(widths[0], widths[1], widths[2], widths[3], rootSize));
        }
    }
    return result;
}

// X11 counts in device pixels; Qt scales a screen's size by its pixel ratio and keeps its
// top-left corner.
QRect toDevicePixels(const QRect& logical, qreal ratio)
{
    return QRect(logical.topLeft(), (QSizeF(logical.size()) * ratio).toSize());
}

QRect toLogical(const QRect& device, const QPoint& origin, qreal ratio)
{
    const QPointF topLeft = QPointF(device.topLeft() - origin) / ratio + QPointF(origin);
    return QRect(topLeft.toPoint(), (QSizeF(device.size()) / ratio).toSize());
}

QRect freeAreaInDevicePixels(const QRect& monitor)
{
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return {};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return {};
    const xcb_window_t root = screen->root;
    const QRect published = WorkArea::publishedAreaOf(monitor, publishedWorkAreas(connection, root));
    if (published.isValid())
        return published;
    const QList<WorkArea::Strut> found =
        struts(connection, root, QSize(screen->width_in_pixels, screen->height_in_pixels));
    if (found.isEmpty())
        return {};
    return WorkArea::freeArea(monitor, QSize(screen->width_in_pixels, screen->height_in_pixels), found);
}

} // namespace

QRect freeAreaOf(const QScreen& screen)
{
    const qreal ratio = screen.devicePixelRatio();
    const QRect geometry = screen.geometry();
    const QRect device = freeAreaInDevicePixels(toDevicePixels(geometry, ratio));
    return device.isValid() ? toLogical(device, geometry.topLeft(), ratio) : QRect();
}

} // namespace X11WorkArea
