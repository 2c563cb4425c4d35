#include "platform/popover/X11PointerGrab.h"

#include "platform/popover/XcbReply.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace X11PointerGrab {

namespace {

// The events Qt asks for in its own popup grab, so that taking the grab again changes nothing
// Qt relies on.
constexpr uint32_t kGrabbedEvents = XCB_INPUT_XI_EVENT_MASK_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_BUTTON_RELEASE |
                                    XCB_INPUT_XI_EVENT_MASK_MOTION | XCB_INPUT_XI_EVENT_MASK_ENTER |
                                    XCB_INPUT_XI_EVENT_MASK_LEAVE | XCB_INPUT_XI_EVENT_MASK_TOUCH_BEGIN |
                                    XCB_INPUT_XI_EVENT_MASK_TOUCH_UPDATE | XCB_INPUT_XI_EVENT_MASK_TOUCH_END;

} // namespace

bool take(const QWindow& window)
{
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    const XcbReply<xcb_input_xi_query_device_reply_t> devices(xcb_input_xi_query_device_reply(
        connection, xcb_input_xi_query_device(connection, XCB_INPUT_DEVICE_ALL_MASTER), nullptr));
    if (!devices)
        return false;
    int granted = 0;
    int pointers = 0;
    for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem;
         xcb_input_xi_device_info_next(&it)) {
        if (it.data->type != XCB_INPUT_DEVICE_TYPE_MASTER_POINTER)
            continue;
        ++pointers;
        const XcbReply<xcb_input_xi_grab_device_reply_t> grab(xcb_input_xi_grab_device_reply(
            connection,
            xcb_input_xi_grab_device(connection, xcb_window_t(window.winId()), XCB_CURRENT_TIME, XCB_CURSOR_NONE,
                                     it.data->deviceid, XCB_INPUT_GRAB_MODE_22_ASYNC, XCB_INPUT_GRAB_MODE_22_ASYNC,
                                     false, 1, &kGrabbedEvents),
            nullptr));
        if (grab && grab->status == XCB_GRAB_STATUS_SUCCESS)
            ++granted;
    }
    return pointers > 0 && granted == pointers;
}

} // namespace X11PointerGrab
