"""The X side of the test desktop: geometry, windows by process, pointer and pixels."""

import os
import time
from dataclasses import dataclass

from Xlib import X, Xatom, Xutil, display as xdisplay, error as xerror

DEFAULT_TIMEOUT = float(os.environ.get("PERCH_DESKTOP_TIMEOUT", "15"))


class DesktopError(RuntimeError):
    pass


def wait_until(condition, what, timeout=DEFAULT_TIMEOUT, interval=0.02):
    """Polls `condition` until it returns something truthy, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise DesktopError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


@dataclass(frozen=True)
class Rect:
    x: int
    y: int
    width: int
    height: int

    @property
    def size(self):
        return (self.width, self.height)

    @property
    def center(self):
        return (self.x + self.width // 2, self.y + self.height // 2)

    @property
    def bottom(self):
        """One past the last row, like x + width."""
        return self.y + self.height

    @property
    def right(self):
        return self.x + self.width

    def contains(self, other):
        return (self.x <= other.x and self.y <= other.y and other.right <= self.right
                and other.bottom <= self.bottom)


@dataclass(frozen=True)
class Window:
    id: int
    rect: Rect
    viewable: bool
    override_redirect: bool
    title: str

    @property
    def size(self):
        return self.rect.size




class XScreen:
    """A connection to the desktop's X server and what the tests ask of it."""

    def __init__(self, display_name, width, height):
        self.width, self.height = width, height
        self.connection = xdisplay.Display(display_name)
        screen = self.connection.screen()
        self.root = screen.root
        # A calm grey desktop instead of the server's black, for readable screenshots.
        grey = screen.default_colormap.alloc_color(0x7000, 0x8000, 0x9000).pixel
        self.root.change_attributes(background_pixel=grey)
        self.root.clear_area()
        self.connection.sync()

    def close(self):
        try:
            self.connection.close()
        except xerror.ConnectionClosedError:
            pass

    def atom(self, name):
        return self.connection.intern_atom(name)

    def root_property(self, name):
        reply = self.root.get_full_property(self.atom(name), X.AnyPropertyType)
        return reply.value if reply else None

    def tray_selection_owner(self):
        return self.connection.get_selection_owner(self.atom("_NET_SYSTEM_TRAY_S0")) != X.NONE

    def workarea(self):
        value = self.root_property("_NET_WORKAREA")
        if value is None or len(value) < 4:
            return Rect(0, 0, self.width, self.height)
        return Rect(*[int(v) for v in value[:4]])

    def open_other_window(self, rect=Rect(200, 300, 320, 200), title="another program"):
        """Maps a plain managed window, standing for another program; returns its id."""
        screen = self.connection.screen()
        window = self.root.create_window(rect.x, rect.y, rect.width, rect.height, 0, screen.root_depth,
                                          X.InputOutput, X.CopyFromParent, background_pixel=screen.white_pixel)
        window.set_wm_name(title)
        window.set_wm_hints(flags=Xutil.InputHint, input=1)
        window.set_wm_normal_hints(flags=Xutil.USPosition | Xutil.USSize, x=rect.x, y=rect.y,
                                   width=rect.width, height=rect.height)
        window.map()
        self.connection.sync()
        wait_until(lambda: window.get_attributes().map_state == X.IsViewable, "the other window to be mapped")
        return window.id

    def active_window(self):
        """The window the window manager calls active (_NET_ACTIVE_WINDOW), or 0."""
        value = self.root_property("_NET_ACTIVE_WINDOW")
        return int(value[0]) if value is not None and len(value) else 0

    def pointer(self):
        reply = self.root.query_pointer()
        return (reply.root_x, reply.root_y)

    def pointer_grabbed(self):
        """Whether some client holds the pointer, as an open popup menu or popover does."""
        status = self.root.grab_pointer(False, 0, X.GrabModeAsync, X.GrabModeAsync, X.NONE, X.NONE, X.CurrentTime)
        if status == X.GrabSuccess:
            self.connection.ungrab_pointer(X.CurrentTime)
            self.connection.sync()
        return status == X.AlreadyGrabbed

    def pixels(self, rect):
        """The raw 32-bit pixels of a screen rectangle."""
        return self.root.get_image(rect.x, rect.y, rect.width, rect.height, X.ZPixmap, 0xFFFFFFFF).data

    def windows_of(self, pid):
        """Every window whose _NET_WM_PID is `pid`, in global coordinates."""
        found = []
        pid_atom = self.atom("_NET_WM_PID")

        def visit(window):
            try:
                reply = window.get_full_property(pid_atom, Xatom.CARDINAL)
                if reply and reply.value[0] == pid:
                    found.append(self._describe(window))
                children = window.query_tree().children
            except xerror.XError:
                return
            for child in children:
                visit(child)

        visit(self.root)
        return found

    def _describe(self, window):
        geometry = window.get_geometry()
        origin = window.translate_coords(self.root, 0, 0)
        attributes = window.get_attributes()
        name = window.get_full_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"))
        return Window(id=window.id, rect=Rect(-origin.x, -origin.y, geometry.width, geometry.height),
                      viewable=attributes.map_state == X.IsViewable,
                      override_redirect=bool(attributes.override_redirect),
                      title=name.value.decode(errors="replace") if name else "")



def changed_box(before, after, width):
    """The bounding box (x0, y0, x1, y1) of the pixels that differ, or None."""
    if before == after or len(before) != len(after):
        return None if before == after else (0, 0, width - 1, len(after) // (4 * width) - 1)
    stride = 4 * width
    rows = len(after) // stride
    x0 = y0 = None
    x1 = y1 = -1
    for row in range(rows):
        a = before[row * stride:(row + 1) * stride]
        b = after[row * stride:(row + 1) * stride]
        if a == b:
            continue
        first = next(i for i in range(0, stride, 4) if a[i:i + 4] != b[i:i + 4]) // 4
        last = next(i for i in range(stride - 4, -1, -4) if a[i:i + 4] != b[i:i + 4]) // 4
        y0 = row if y0 is None else y0
        y1 = row
        x0 = first if x0 is None else min(x0, first)
        x1 = max(x1, last)
    return None if y0 is None else (x0, y0, x1, y1)
