#pragma once

#include "platform/wayland/LayerShellAnchor.h"

#include <QRect>
#include <QSize>

#include <memory>

class DesktopSession;

// Where a popover goes, and what kind of window it is there.
struct PopoverSpot
{
    enum class Kind
    {
        // A frameless window that the program puts at `geometry` itself (X11).
        Positioned,
        // A layer surface at `layer` (Wayland compositors with the layer shell).
        LayerSurface,
        // An ordinary window of its own size that the desktop places.
        Window,
    };
    Kind kind = Kind::Window;
    QRect geometry;
    LayerSurfacePlace layer;
};

// How a popover hangs from the tray icon on one kind of desktop. Each kind of desktop is one
// subclass; `forSession` is the one place that chooses among them.
class PopoverPlacementStrategy
{
public:
    virtual ~PopoverPlacementStrategy() = default;

    static std::unique_ptr<PopoverPlacementStrategy> forSession(const DesktopSession& session);

    // Where a popover of `size` goes for a tray icon at `anchor`, in global coordinates: the
    // icon, a 1 × 1 rectangle where only the click point is known, an empty one where nothing
    // is.
    virtual PopoverSpot spotFor(const QRect& anchor, const QSize& size) const = 0;
    // Whether a popover at its spot sees a click outside it (through a pointer grab), so that
    // such a click can close a transient one. Where it does not, the keyboard focus leaving the
    // popover is the sign that the user went elsewhere.
    virtual bool seesOutsideClicks() const { return false; }
};

// The program places the popover beside the icon, inside the part of the icon's monitor
// that the panels leave free, as the X11 window manager publishes it.
class X11Placement : public PopoverPlacementStrategy
{
public:
    // Under Xwayland the program knows the icon only from the tray host's click point and
    // sees no click outside its own windows.
    explicit X11Placement(bool xwayland) : m_xwayland(xwayland) {}
    PopoverSpot spotFor(const QRect& anchor, const QSize& size) const override;
    bool seesOutsideClicks() const override { return !m_xwayland; }

private:
    bool m_xwayland;
};

// A layer surface at a corner of the screen: where the tray usually sits, as near to the icon
// as a Wayland program can tell, clear of panels that reserve their space.
class LayerShellCornerPlacement : public PopoverPlacementStrategy
{
public:
    explicit LayerShellCornerPlacement(Qt::Corner corner) : m_corner(corner) {}
    PopoverSpot spotFor(const QRect& anchor, const QSize& size) const override;

private:
    Qt::Corner m_corner;
};

// Wayland without the layer shell: a small window that the compositor places (a tiling one
// floats it, since its size is fixed).
class CompositorPlacement : public PopoverPlacementStrategy
{
public:
    PopoverSpot spotFor(const QRect& anchor, const QSize& size) const override;
};
