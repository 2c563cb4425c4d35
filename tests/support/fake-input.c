/* A pointer and a keyboard in KWin, as a person's, through its fake-input protocol. One input
 * device for as long as it runs: KWin adds and removes a device with each client, and Plasma
 * reacts to that. Reads one event a line from standard input, each passed on in turn:
 *     move X Y        button CODE 1|0        key CODE 1|0        (evdev codes; 1 presses) */
#include "fake-input-client-protocol.h"

#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input* fake;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fake = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void removed(void* data, struct wl_registry* registry, uint32_t name) { (void)data, (void)registry, (void)name; }

int main(void)
{
    static const struct wl_registry_listener listener = {global, removed};
    struct wl_display* display = wl_display_connect(NULL);
    if (!display || wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL) ||
        wl_display_roundtrip(display) < 0 || !fake)
        return 2; /* no KWin, or one that grants this program no fake input */
    org_kde_kwin_fake_input_authenticate(fake, "perch tests", "clicks and types as a user would");
    char line[64];
    for (int a, b; fgets(line, sizeof line, stdin);) {
        if (sscanf(line, "move %d %d", &a, &b) == 2)
            org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_int(a), wl_fixed_from_int(b));
        else if (sscanf(line, "button %d %d", &a, &b) == 2)
            org_kde_kwin_fake_input_button(fake, (uint32_t)a, (uint32_t)b);
        else if (sscanf(line, "key %d %d", &a, &b) == 2)
            org_kde_kwin_fake_input_keyboard_key(fake, (uint32_t)a, (uint32_t)b);
        if (wl_display_roundtrip(display) < 0)
            return 3;
    }
    return 0;
}
