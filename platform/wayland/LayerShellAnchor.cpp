#include "platform/wayland/LayerShellAnchor.h"

// The protocol's C header names a parameter "namespace".
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include <wayland-client.h>

namespace {

// Version 4 brought on-demand keyboard focus: the popover gets the keys when clicked, like
// any window, instead of taking them from every other window while it is open.
constexpr uint32_t kOnDemandKeyboardVersion = 4;

// The compositor's layer shell, bound once on a queue of our own, so that waiting for an
// answer never runs Qt's own event handlers.
struct LayerShell
{
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
    uint32_t version = 0;

    static const LayerShell& instance()
    {
        static const LayerShell bound = bind();
        return bound;
    }

private:
    static LayerShell bind();
};

void registryGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* found = static_cast<LayerShell*>(data);
    if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) != 0 || found->shell)
        return;
    found->version = std::min(version, uint32_t(kOnDemandKeyboardVersion));
    found->shell = static_cast<zwlr_layer_shell_v1*>(
        wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, found->version));
}

void registryGlobalRemoved(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener{registryGlobal, registryGlobalRemoved};

LayerShell LayerShell::bind()
{
    LayerShell result;
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return result;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* display =
        native ? static_cast<wl_display*>(native->nativeResourceForIntegration(QByteArrayLiteral("wl_display")))
               : nullptr;
    if (!display)
        return result;
    result.display = display;
    result.queue = wl_display_create_queue(display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), result.queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(registry, &kRegistryListener, &result);
    wl_display_roundtrip_queue(display, result.queue);
    wl_registry_destroy(registry);
    if (result.shell) {
        // Windows with this hint get no shell surface from Qt, which leaves their surfaces
        // free for the layer role.
        qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
    }
    return result;
}

} // namespace

const zwlr_layer_surface_v1_listener LayerShellAnchor::kListener{LayerShellAnchor::configure,
                                                                 LayerShellAnchor::closedByCompositor};

bool LayerShellAnchor::isAvailable()
{
    return LayerShell::instance().shell != nullptr;
}

std::unique_ptr<LayerShellAnchor> LayerShellAnchor::attach(QWindow& window, const QSize& size,
                                                           const LayerSurfacePlace& place)
{
    const LayerShell& layerShell = LayerShell::instance();
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* surface =
        layerShell.shell && native
            ? static_cast<wl_surface*>(native->nativeResourceForWindow(QByteArrayLiteral("surface"), &window))
            : nullptr;
    if (!surface)
        return nullptr;
    auto* output =
        place.screen
            ? static_cast<wl_output*>(native->nativeResourceForScreen(QByteArrayLiteral("output"), place.screen))
            : nullptr;
    zwlr_layer_surface_v1* layer = zwlr_layer_shell_v1_get_layer_surface(layerShell.shell, surface, output,
                                                                         ZWLR_LAYER_SHELL_V1_LAYER_TOP, "popover");
    std::unique_ptr<LayerShellAnchor> layerAnchor(new LayerShellAnchor(layer));
    zwlr_layer_surface_v1_add_listener(layer, &kListener, layerAnchor.get());

    uint32_t anchor = 0;
    for (const auto& [edge, bit] : {std::pair{Qt::TopEdge, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP},
                                    std::pair{Qt::BottomEdge, ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM},
                                    std::pair{Qt::LeftEdge, ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT},
                                    std::pair{Qt::RightEdge, ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT}}) {
        if (place.edges.testFlag(edge))
            anchor |= bit;
    }
    zwlr_layer_surface_v1_set_size(layer, uint32_t(size.width()), uint32_t(size.height()));
    zwlr_layer_surface_v1_set_anchor(layer, anchor);
    const QMargins& margins = place.margins;
    zwlr_layer_surface_v1_set_margin(layer, margins.top(), margins.right(), margins.bottom(), margins.left());
    zwlr_layer_surface_v1_set_exclusive_zone(layer, place.exclusiveZone);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        layer, layerShell.version >= kOnDemandKeyboardVersion ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND
                                                              : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    // The first commit carries no picture; the compositor answers it with a configure event,
    // which must be acknowledged before Qt's first frame is attached.
    wl_surface_commit(surface);
    wl_display_roundtrip_queue(layerShell.display, layerShell.queue);
    // Later events go to Qt's queue and are handled on the GUI thread like Qt's own.
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(layer), nullptr);
    return layerAnchor;
}

LayerShellAnchor::LayerShellAnchor(zwlr_layer_surface_v1* surface) : m_surface(surface) {}

LayerShellAnchor::~LayerShellAnchor()
{
    zwlr_layer_surface_v1_destroy(m_surface);
}

void LayerShellAnchor::configure(void* /*data*/, zwlr_layer_surface_v1* surface, uint32_t serial, uint32_t /*width*/,
                                 uint32_t /*height*/)
{
    // The size asked for is the one kept: the compositor answers with it, or with zero
    // (the client's choice) where the surface is not stretched between two edges.
    zwlr_layer_surface_v1_ack_configure(surface, serial);
}

void LayerShellAnchor::closedByCompositor(void* data, zwlr_layer_surface_v1* /*surface*/)
{
    emit static_cast<LayerShellAnchor*>(data)->closed();
}
