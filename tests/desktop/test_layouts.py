"""The popovers on desktops other than one monitor with a tray: two monitors with the
panel on either of them, at the top or the bottom; and no tray at all."""

import unittest

from a11y import Accessibility
from desktop import Desktop, wait_until
from monitors import MonitorDesktop
from test_tray import MAX_GAP_BELOW_ICON, is_popover

SETTINGS_CONTENT = (300, 360)


class TwoMonitorTests(unittest.TestCase):
    def assert_beside_panel(self, desktop, window, icon):
        area = desktop.free_area(desktop.panel_monitor)
        self.assertTrue(area.contains(window.rect), f"{window.rect} not inside the free area {area}")
        gap = window.rect.y - icon.bottom if desktop.edge == "top" else icon.y - window.rect.bottom
        self.assertTrue(0 <= gap <= MAX_GAP_BELOW_ICON, f"{window.rect} is not beside the icon {icon}")
        self.assertTrue(window.rect.x <= icon.center[0] < window.rect.right, f"{window.rect} not at the icon {icon}")

    def test_both_popovers_open_beside_the_panel_of_the_icons_monitor(self):
        for monitor, edge in ((1, "top"), (1, "bottom"), (0, "top"), (0, "bottom")):
            with self.subTest(monitor=monitor, edge=edge), MonitorDesktop(monitor, edge) as desktop, \
                    Accessibility(desktop) as a11y:
                program = desktop.start_program("perchlight", env=Accessibility.PROGRAM_ENV)
                icon = desktop.find_tray_icon(program)
                self.assertTrue(desktop.monitors[monitor].contains(icon))
                desktop.click(*icon.center)
                popover = desktop.wait_for_window(program, is_popover, "the photo popover")
                self.assert_beside_panel(desktop, popover, icon)

                wait_until(desktop.pointer_grabbed, "the popover to take the pointer")
                desktop.click(*a11y.wait_for(program, "Settings", "push button").center)
                settings = desktop.wait_for_window(program, lambda w: is_popover(w, SETTINGS_CONTENT), "the settings")
                self.assert_beside_panel(desktop, settings, icon)
                self.assertEqual(program.stderr(), "")


class NoTrayTests(unittest.TestCase):
    def test_the_photo_popover_is_a_window_until_a_tray_comes(self):
        with Desktop(tray=None) as desktop, Accessibility(desktop) as a11y:
            program = desktop.start_program("perchlight", env=Accessibility.PROGRAM_ENV)

            def framed(content):
                return lambda w: is_popover(w, content) and not w.override_redirect and w.title == "Perchlight"

            window = desktop.wait_for_window(program, framed((250, 300)), "the photo window")
            self.assertTrue(desktop.workarea().contains(window.rect))
            wait_until(lambda: desktop.active_window() == window.id, "the photo window to have the focus")
            self.assertRegex(program.stderr(), r"^perchlight: no system tray[^\n]*window[^\n]*\n$")

            def press(name):
                desktop.click(*a11y.wait_for(program, name).center)

            press("Settings")
            desktop.wait_for_window(program, framed(SETTINGS_CONTENT), "the settings window")
            desktop.wait_for_no_window(program, framed((250, 300)), "the photo window")
            press("Back")
            window = desktop.wait_for_window(program, framed((250, 350)), "the photo window")
            wait_until(lambda: desktop.active_window() == window.id, "the photo window to have the focus")
            desktop.key("Escape")
            desktop.wait_for_no_window(program, framed((250, 300)), "the photo window")

            # A second start, as the desktop's launcher does it, brings the window back.
            second = desktop.start_program("perchlight")
            self.assertEqual(second.wait(), 0, second.stderr())
            desktop.wait_for_window(program, framed((250, 300)), "the photo window")

            # A tray comes: the icon shows, and a click on it brings the popover to it.
            desktop.start_tray("panel")
            icon = desktop.find_tray_icon(program)
            desktop.click(*icon.center)
            popover = desktop.wait_for_window(program, lambda w: is_popover(w) and w.rect.y >= icon.bottom,
                                              "the popover below the icon")
            self.assertLessEqual(popover.rect.y - icon.bottom, MAX_GAP_BELOW_ICON)
            press("Exit")
            self.assertEqual(program.wait(), 0)


if __name__ == "__main__":
    unittest.main()
