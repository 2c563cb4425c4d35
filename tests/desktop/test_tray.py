"""Both editions on a real desktop, driven from outside the process: the tray icon, the
photo popover it opens, a second start, a tray that comes late, and no display at all."""

import os
import sqlite3
import subprocess
import unittest
from pathlib import Path

from desktop import Desktop, DesktopError, Rect, build_dir, wait_until

EDITIONS = ("perchlight", "portraitperch")
LAUNCH_CONTENT_SIZE = (250, 300)
# The popover may draw a border of a pixel or so around its content.
BORDER_SLACK = 2
# How far below the icon the popover may start: the anchor gap plus the panel's padding.
MAX_GAP_BELOW_ICON = 12
FALLBACK_PICTURE = Path(__file__).resolve().parent.parent.parent / "resources" / "museIcon.png"
# Mean difference per channel (0-255) between the tray's icon and the picture scaled by
# ImageMagick: about 1 on the panel, 4 on trayer; a wrong or blank icon is far above 50.
MAX_PICTURE_DIFFERENCE = 12
ELSEWHERE = (300, 400)  # inside Desktop.open_other_window's default place


def is_popover(window, content_size=LAUNCH_CONTENT_SIZE):
    """Whether the window is a popover of that content width: it is taller where its content
    needs more than the content size set."""
    extra_w = window.rect.width - content_size[0]
    extra_h = window.rect.height - content_size[1]
    return 0 <= extra_w <= BORDER_SLACK and extra_h >= extra_w


class TrayHostTests:
    """The same checks on each tray protocol; subclasses name the host."""

    tray = None

    def start_in_tray(self, desktop, edition):
        program = desktop.start_program(edition)
        icon = desktop.find_tray_icon(program)
        self.assertTrue(program.running(), program.stderr())
        return program, icon

    def open_popover(self, desktop, program, icon):
        desktop.click(*icon.center)
        popover = desktop.wait_for_window(program, is_popover, "the photo popover")
        # The popup takes the pointer once mapped; a person is never faster than that.
        wait_until(desktop.pointer_grabbed, "the popover to take the pointer")
        return popover

    def assert_closed(self, desktop, program):
        desktop.wait_for_no_window(program, is_popover, "the photo popover")

    def assert_shows_fallback_picture(self, desktop, icon):
        square = Rect(icon.x, icon.y + (icon.height - 22) // 2, 22, 22)
        strip, empty = desktop.empty_tray
        at = (square.y - strip.y) * strip.width * 4 + (square.x - strip.x) * 4
        blue, green, red = empty[at:at + 3]
        expected = subprocess.run(["convert", str(FALLBACK_PICTURE), "-background", f"#{red:02x}{green:02x}{blue:02x}",
                                   "-flatten", "-filter", "Box", "-resize", "22x22!", "-depth", "8", "rgb:-"],
                                  capture_output=True, check=True).stdout

        def difference():
            shown = desktop.pixels(square)  # BGRX
            total = sum(abs(shown[i * 4 + 2 - c] - expected[i * 3 + c]) for i in range(22 * 22) for c in range(3))
            return total / (22 * 22 * 3)

        # The tray may map the icon a moment before it paints it.
        try:
            wait_until(lambda: difference() < MAX_PICTURE_DIFFERENCE, "the fallback picture in the tray", timeout=10)
        except DesktopError:
            self.fail(f"the icon is not the fallback picture (mean difference {difference():.1f})")

    def assert_below_tray(self, desktop, popover, icon):
        workarea = desktop.workarea()
        self.assertTrue(workarea.contains(popover.rect), f"{popover.rect} outside the work area {workarea}")
        self.assertGreaterEqual(popover.rect.y, icon.bottom, "the popover covers the tray icon")
        self.assertLessEqual(popover.rect.y - icon.bottom, MAX_GAP_BELOW_ICON, "the popover is far from the icon")
        self.assertTrue(popover.rect.x <= icon.center[0] < popover.rect.right, "the popover is not under the icon")

    def test_icon_toggles_the_launch_popover_below_the_panel(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop(self.tray) as desktop:
                program, icon = self.start_in_tray(desktop, edition)
                self.assertEqual(icon.width, 22)
                self.assert_shows_fallback_picture(desktop, icon)

                popover = self.open_popover(desktop, program, icon)
                self.assertTrue(is_popover(popover), popover)
                self.assertTrue(popover.override_redirect, "a transient popover is a popup, not a managed window")
                self.assert_below_tray(desktop, popover, icon)

                # The known trap: this click must close it, not close it and reopen it. If it
                # had reopened, the next click would close it and the wait below would fail.
                desktop.click(*icon.center)
                self.assert_closed(desktop, program)
                # And the very next click is a click of its own, answered at once.
                self.open_popover(desktop, program, icon)

                # Keyboard input reaches the popover.
                desktop.key("Escape")
                self.assert_closed(desktop, program)
                self.assertEqual(program.stderr(), "")

    def test_click_elsewhere_closes_the_transient_popover(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop(self.tray) as desktop:
                program, icon = self.start_in_tray(desktop, edition)
                self.open_popover(desktop, program, icon)
                desktop.click(*ELSEWHERE)
                self.assert_closed(desktop, program)
                self.assertFalse(desktop.pointer_grabbed())
                self.open_popover(desktop, program, icon)

    def test_second_launch_opens_the_first_ones_popover(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop(self.tray) as desktop:
                program, icon = self.start_in_tray(desktop, edition)
                second = desktop.start_program(edition)
                self.assertEqual(second.wait(), 0, second.stderr())
                self.assertEqual(second.stderr(), "")
                popover = desktop.wait_for_window(program, is_popover, "the photo popover")
                self.assertTrue(desktop.workarea().contains(popover.rect))
                self.assertTrue(program.running())
                # The other edition is a program of its own, not a second copy.
                baseline = desktop.tray_snapshot()
                other = desktop.start_program(next(e for e in EDITIONS if e != edition))
                desktop.find_tray_icon(other, baseline)
                self.assertTrue(other.running(), other.stderr())

    def test_first_start_writes_no_key(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop(self.tray) as desktop:
                program, icon = self.start_in_tray(desktop, edition)
                self.open_popover(desktop, program, icon)
                desktop.click(*ELSEWHERE)
                self.assert_closed(desktop, program)
                program.stop()
                store = desktop.config_home / "portraitperch" / "defaults.sqlite3"
                if store.exists():
                    with sqlite3.connect(f"file:{store}?mode=ro", uri=True) as db:
                        tables = [row[0] for row in db.execute("SELECT name FROM sqlite_master WHERE type='table'")]
                        for table in tables:
                            self.assertEqual(db.execute(f"SELECT count(*) FROM {table}").fetchone()[0], 0, table)

    def test_icon_appears_when_a_tray_starts_later(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop(tray=None) as desktop:
                program = desktop.start_program(edition)
                line = wait_until(program.stderr, "the line about the missing tray")
                self.assertRegex(line, rf"^{edition}: no system tray[^\n]*\n$")
                desktop.start_tray(self.tray)
                icon = desktop.find_tray_icon(program)
                popover = self.open_popover(desktop, program, icon)
                self.assert_below_tray(desktop, popover, icon)
                self.assertEqual(program.stderr(), line, "nothing more on standard error")


    def test_settings_from_the_tray_menu_stay_until_the_icon_is_clicked(self):
        for edition, height in (("perchlight", 360), ("portraitperch", 180)):
            with self.subTest(edition=edition), Desktop(self.tray) as desktop:
                program, icon = self.start_in_tray(desktop, edition)
                # Open Photo, Settings, Exit: some trays only ever show this menu.
                desktop.click(*icon.center, button=3)
                wait_until(desktop.pointer_grabbed, "the tray menu")
                for key in ("Down", "Down", "Return"):
                    desktop.key(key)
                settings = desktop.wait_for_window(program, lambda w: is_popover(w, (300, height)), "the settings")
                self.assertFalse(settings.override_redirect, "a semitransient popover is a managed window")
                self.assert_below_tray(desktop, settings, icon)
                wait_until(lambda: desktop.active_window() == settings.id, "the settings to have the focus")

                # A click in another program: handled once that program has the focus.
                other = desktop.open_other_window()
                desktop.click(*ELSEWHERE)
                wait_until(lambda: desktop.active_window() == other, "the other program to take the focus")
                self.assertTrue([w for w in desktop.visible_windows_of(program) if w.id == settings.id])

                # Row three of the table: the settings close and the photo popover opens.
                desktop.click(*icon.center)
                desktop.wait_for_window(program, is_popover, "the photo popover")
                desktop.wait_for_no_window(program, lambda w: w.id == settings.id, "the settings")


class PanelTests(TrayHostTests, unittest.TestCase):
    """xfce4-panel: Qt's icon is a StatusNotifierItem the panel draws itself."""

    tray = "panel"

    def test_icon_is_a_status_notifier_item(self):
        with Desktop(self.tray) as desktop:
            program, _ = self.start_in_tray(desktop, "perchlight")
            self.assertEqual(len(desktop.status_notifier_items()), 1)
            self.assertEqual([w for w in desktop.visible_windows_of(program)], [], "no window before a click")


class TrayerTests(TrayHostTests, unittest.TestCase):
    """trayer: the icon is an XEmbed window of the program inside the tray."""

    tray = "trayer"


class NoDisplayTests(unittest.TestCase):
    def run_without_display(self, edition, display):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        if display is not None:
            env["DISPLAY"] = display
        return subprocess.run([str(build_dir() / "app" / edition)], env=env, capture_output=True, text=True,
                              timeout=30)

    def test_one_line_on_stderr_and_a_failure_status(self):
        for edition in EDITIONS:
            for display in (None, ":4091"):
                with self.subTest(edition=edition, display=display):
                    result = self.run_without_display(edition, display)
                    self.assertNotEqual(result.returncode, 0)
                    self.assertGreater(result.returncode, 0, "killed by a signal (a Qt abort?)")
                    self.assertRegex(result.stderr, rf"^{edition}: [^\n]*display[^\n]*\n$")
                    self.assertEqual(result.stdout, "")


if __name__ == "__main__":
    unittest.main()
