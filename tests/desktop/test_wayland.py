"""Both popovers on a native Wayland desktop: headless sway with waybar's tray (sway.py).
Wayland tells no program where a tray icon is; the popovers are layer surfaces anchored at
the bar's right-hand corner, beside the tray."""

import unittest

from a11y import Accessibility
from sway import BACKGROUND, BAR_HEIGHT, HEIGHT, WIDTH, SwayDesktop
from test_tray import BORDER_SLACK, MAX_GAP_BELOW_ICON

MARGIN = 4  # between the popover and the screen's edge


class WaylandTests(unittest.TestCase):
    def assert_at_the_trays_corner(self, box, content_size):
        self.assertTrue(0 <= box.width - content_size[0] <= BORDER_SLACK, box)
        self.assertGreaterEqual(box.height, content_size[1], box)
        self.assertEqual(box.right, WIDTH - MARGIN, box)
        self.assertTrue(BAR_HEIGHT <= box.y <= BAR_HEIGHT + MAX_GAP_BELOW_ICON, f"{box} not below the bar")

    def test_popovers_open_below_the_bar_at_the_trays_corner(self):
        with SwayDesktop() as desktop, Accessibility(desktop) as a11y:
            program = desktop.start_program("perchlight", env=Accessibility.PROGRAM_ENV)
            item = desktop.wait_for_item()
            self.assertIn("'Perchlight'", desktop.item_property(item, "Title"))
            self.assertIn("Your MenuBar Photo", desktop.item_property(item, "ToolTip"))
            desktop.wait_for_change(desktop.bar_only, "the icon in the bar")
            closed = desktop.screenshot()

            def opened(what, width):
                return desktop.wait_for_change(closed, what, lambda box: abs(box.width - width) <= BORDER_SLACK)

            def press(name):
                a11y.do_action(a11y.wait_for(program, name), "Press")

            desktop.activate(item)
            self.assert_at_the_trays_corner(opened("the photo popover", 250), (250, 300))
            # A layer surface: sway neither tiles it nor floats it as a window of its own.
            self.assertEqual(desktop.windows(), [])

            press("Settings")
            self.assert_at_the_trays_corner(opened("the settings", 300), (300, 360))
            press("Back")
            self.assert_at_the_trays_corner(opened("the photo popover", 250), (250, 350))

            # The icon's menu, as the bar shows it, and a click on the icon from the settings.
            self.assertLessEqual({"Open Photo", "Settings", "Exit"}, set(desktop.menu(item)))
            desktop.choose(item, "Settings")
            opened("the settings", 300)
            desktop.activate(item)
            opened("the photo popover", 250)
            desktop.activate(item)
            desktop.wait_for_change(BACKGROUND * (WIDTH * HEIGHT), "the popover to close",
                                    lambda box: box.height <= BAR_HEIGHT)

            desktop.activate(item)
            opened("the photo popover", 250)
            press("Exit")
            self.assertEqual(program.wait(), 0)
            self.assertEqual(program.stderr(), "")


if __name__ == "__main__":
    unittest.main()
