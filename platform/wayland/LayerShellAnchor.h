#pragma once

#include <QMargins>
#include <QObject>
#include <QSize>

#include <memory>

class QScreen;
class QWindow;
struct zwlr_layer_surface_v1;
struct zwlr_layer_surface_v1_listener;

// Where a layer surface sits on its screen: the edges it is anchored to (one or two
// adjacent ones) and its distance from each.
struct LayerSurfacePlace
{
    Qt::Edges edges;
    QMargins margins;
    // 0 keeps the surface clear of the space that other layer surfaces (bars) reserve; -1
    // ignores that space, so that the margins count from the screen's own edges.
    int exclusiveZone = 0;
    // The screen the margins count on; none: the compositor's choice.
    QScreen* screen = nullptr;

    friend bool operator==(const LayerSurfacePlace&, const LayerSurfacePlace&) = default;
};

// A popover's place on a Wayland desktop: a layer surface of the wlr-layer-shell protocol
// (wlroots compositors such as sway, and KDE Plasma), anchored to edges of the screen.
// Wayland lets no program place its own windows; a layer surface is the one thing a
// program may put at a chosen place.
class LayerShellAnchor : public QObject
{
    Q_OBJECT

public:
    // Whether the program runs on Wayland and the compositor offers layer surfaces.
    static bool isAvailable();
    // Gives the surface of `window`, which must have just been shown with
    // Qt::BypassWindowManagerHint (Qt then gives it no role of its own), the role of a
    // layer surface of `size` at `place`, and waits for the compositor's first answer, so
    // that Qt's first frame finds the surface configured. Null when that fails.
    static std::unique_ptr<LayerShellAnchor> attach(QWindow& window, const QSize& size, const LayerSurfacePlace& place);

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
