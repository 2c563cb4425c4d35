#pragma once

#include <QList>
#include <QRect>
#include <QSize>

#include <array>

// The part of one monitor that no panel covers, from what an X11 window manager and the
// panels publish. Qt knows it only while there is a single monitor (_NET_WORKAREA spans all
// of them), so with several it reports each monitor whole.
namespace WorkArea {

// _NET_WM_STRUT_PARTIAL of one window: left, right, top, bottom, then the start and end of
// each (left_start_y, left_end_y, right_start_y, right_end_y, top_start_x, top_end_x,
// bottom_start_x, bottom_end_x). The widths count from the edges of the whole root window,
// not of a monitor.
using Strut = std::array<long, 12>;

// A strut of the older _NET_WM_STRUT (four widths), which reserves the whole edge.
Strut fullLengthStrut(long left, long right, long top, long bottom, const QSize& root);

// `monitor` less every part of it that the struts reserve, each cut off at the monitor edge
// it belongs to.
QRect freeArea(const QRect& monitor, const QSize& root, const QList<Strut>& struts);

// Of the per-monitor work areas a window manager publishes (_GTK_WORKAREAS_Dn), the one that
// belongs to `monitor`: the one lying inside it. None (an invalid rectangle) when no area
// does, since the list need not follow Qt's order of monitors.
QRect publishedAreaOf(const QRect& monitor, const QList<QRect>& workAreas);

} // namespace WorkArea
