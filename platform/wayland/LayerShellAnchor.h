#pragma once

#include <QObject>
#include <QSize>

#include <memory>

class QWindow;
struct zwlr_layer_surface_v1;
struct zwlr_layer_surface_v1_listener;

// A popover's place on a Wayland desktop: a layer surface of the wlr-layer-shell protocol
// (wlroots compositors such as sway, and KDE Plasma), anchored at a corner of the screen
// beside the panels there. Wayland lets no program place its own windows, and a tray
// icon's position is not told, so a corner of the panel is as near to the icon as a
// popover can get.
class LayerShellAnchor : public QObject
{
    Q_OBJECT

public:
    // Whether the program runs on Wayland and the compositor offers layer surfaces.
    static bool isAvailable();
    // The corner of the tray: top right (a bar at the top, as sway's and GNOME's), bottom
    // right on KDE Plasma, whose panel is at the bottom.
    static Qt::Corner corner();
    // Gives the surface of `window`, which must have just been shown with
    // Qt::BypassWindowManagerHint (Qt then gives it no role of its own), the role of a
    // layer surface of `size` at `corner`, and waits for the compositor's first answer, so
    // that Qt's first frame finds the surface configured. Null when that fails.
    static std::unique_ptr<LayerShellAnchor> attach(QWindow& window, const QSize& size, Qt::Corner corner);

    ~LayerShellAnchor() override;

signals:
    // The compositor took the surface away (its screen went, for example).
    void closed();

private:
    explicit LayerShellAnchor(zwlr_layer_surface_v1* surface);
    static void configure(void* data, zwlr_layer_surface_v1* surface, uint32_t serial, uint32_t width, uint32_t height);
    static void closedByCompositor(void* data, zwlr_layer_surface_v1* surface);
    static const zwlr_layer_surface_v1_listener kListener;

    zwlr_layer_surface_v1* m_surface;
};
