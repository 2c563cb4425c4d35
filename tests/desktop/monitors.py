"""Two RandR monitors on one 2560 × 800 Xvfb screen, the panel on either (README.md here)."""

import re
import time

from desktop import PANEL_CONFIG, Desktop, Rect, wait_until

MONITOR_NAMES = ("LEFT", "RIGHT")
# The panel's position code in its settings: 6 along the top edge, 8 along the bottom.
EDGE_CODES = {"top": 6, "bottom": 8}


class MonitorDesktop(Desktop):
    def __init__(self, panel_monitor=0, edge="top", monitor_width=1280, height=800):
        super().__init__(tray="panel", width=2 * monitor_width, height=height)
        self.panel_monitor, self.edge = panel_monitor, edge
        self.monitors = [Rect(i * monitor_width, 0, monitor_width, height) for i in range(2)]

    def _make_folders(self):
        super()._make_folders()
        config = PANEL_CONFIG.read_text()
        config = re.sub(r'value="p=6;', f'value="p={EDGE_CODES[self.edge]};', config)
        target = self.config_home / "xfce4" / "xfconf" / "xfce-perchannel-xml" / "xfce4-panel.xml"
        target.write_text(config)

    def _start_x(self):
        super()._start_x()
        for index, (name, monitor) in enumerate(zip(MONITOR_NAMES, self.monitors)):
            # Xvfb has one output. The panel's monitor takes it: GTK, and so the panel, sees
            # only monitors with an output, while Qt and the window manager see both.
            output = "screen" if index == self.panel_monitor else "none"
            geometry = f"{monitor.width}/338x{monitor.height}/211+{monitor.x}+{monitor.y}"
            self.run(["xrandr", "--setmonitor", name, geometry, output], check=True)
        wait_until(lambda: all(name in self.run(["xrandr", "--listmonitors"]).stdout for name in MONITOR_NAMES),
                   "two RandR monitors")

    def panel(self):
        """The panel's window rectangle, once it is mapped on its monitor."""
        process = next(p for name, p in self._services if name == "xfce4-panel")
        for window in self.windows_of(process.pid):
            if window.viewable and window.rect.width > 100 and self.monitors[self.panel_monitor].contains(window.rect):
                return window.rect
        return None

    def start_tray(self, kind="panel"):
        self._start_service("xfce4-panel", ["xfce4-panel", "--disable-wm-check"])
        wait_until(lambda: self.bus_name_owned("org.kde.StatusNotifierWatcher"), "the StatusNotifierWatcher")
        wait_until(self.panel, f"the panel on monitor {self.panel_monitor}")
        wait_until(self._tray_strip_settled, "the panel to be drawn")
        time.sleep(0.2)
        self.empty_tray = self.tray_snapshot()

    def tray_strip(self):
        return self.panel()

    def free_area(self, monitor):
        """The part of a monitor the panel leaves free."""
        rect, panel = self.monitors[monitor], self.panel()
        if monitor != self.panel_monitor:
            return rect
        if self.edge == "top":
            return Rect(rect.x, panel.bottom, rect.width, rect.height - panel.height)
        return Rect(rect.x, rect.y, rect.width, panel.y - rect.y)
