#pragma once

#include <QRect>

class QScreen;

// What the X11 window manager and the panels say about the free part of a monitor.
namespace X11WorkArea {

// The panel-free area of `screen` in Qt's global coordinates: the window manager's
// per-monitor work area of the current desktop (_GTK_WORKAREAS_Dn), else the monitor less
// the struts of the managed windows (_NET_WM_STRUT_PARTIAL, _NET_WM_STRUT). An invalid
// rectangle when the program does not run on X11 or nothing is published.
QRect freeAreaOf(const QScreen& screen);

} // namespace X11WorkArea
