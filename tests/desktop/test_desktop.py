# Both editions on a real desktop, driven from outside as a person would: what only a real
# tray, window manager and notification daemon show. Each test is one desktop start that
# checks many facts in a row; the behaviour behind them is tested offscreen in tests/unit.

import datetime
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from Xlib import X

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from harness import (BUILD, INTEGER, STRING, TIME_FACTOR, TIMEOUT, Desktop, Rect, Started, read_store,  # noqa: E402
                     require, settled, stop_group, wait_until, write_store)
from gnome import INDICATORS, Gnome  # noqa: E402
from plasma import FAKE_INPUT, Plasma  # noqa: E402
from sway import BAR_HEIGHT, WIDTH, Sway  # noqa: E402

ELSEWHERE = (300, 400)  # inside Desktop.open_other_window's default place
ORANGE = (255, 128, 0)
APP_ID = "io.github.perchlight.Perchlight"  # the menu entry that notifications name


def popover(width, height):
    # The popover's window: its content width with a border of up to a pixel around it, and at
    # least its content height (it grows to what its content needs).
    return lambda w: 0 <= w.rect.width - width <= 2 and w.rect.height - height >= w.rect.width - width


LAUNCH, SETTINGS = popover(250, 300), popover(300, 360)


def shows(desktop, rect, colour):
    # Whether every pixel there is within a few levels of the colour (JPEG keeps it that close).
    data = desktop.pixels(rect)  # BGRX
    return all(abs(data[i + 2 - c] - colour[c]) <= 24 for i in range(0, len(data), 4) for c in range(3))


def open_popover(desktop, program, icon):
    desktop.click(*icon.center)
    window = wait_until(lambda: desktop.window(program, LAUNCH), "the photo popover")
    # The popup takes pointer and keys once mapped; a person is never faster than that.
    wait_until(lambda: desktop.grabs() == 2, "the popover to take pointer and keyboard")
    return window


def wait_closed(desktop, program, kind, another_open=False):
    wait_until(lambda: not desktop.window(program, kind), "the popover to close")
    # Qt lets go of pointer and keys just after; a person is never faster than that.
    if not another_open:
        wait_until(lambda: desktop.grabs() == 0, "the popover to let go of pointer and keys")


def close_popover(desktop, program):
    desktop.key("Escape")
    wait_closed(desktop, program, LAUNCH)


def retried(action, condition, what):
    # Qt closes a popup of its own that opens just as the focus-out of one closed a moment
    # before comes through: a person then tries again, and so does this.
    for attempt in range(3):
        action()
        try:
            return wait_until(condition, what, timeout=TIMEOUT / 3)
        except AssertionError:
            if attempt == 2:
                raise


def choose(desktop, icon, *keys):
    # Open Photo, Settings, Start at Login, Exit: some trays only ever show this menu.
    retried(lambda: desktop.click(*icon.center, button=3), lambda: desktop.grabs() == 2, "the tray menu")
    desktop.key(*keys, "Return")


def choose_photo(desktop, chooser, title, photo, icon):
    # In the file dialog that Change Photo opened: the photo's path typed, then its centre in the tray
    # and its bytes in the store. Returns the stored bytes and the tray icon's middle.
    dialog = wait_until(lambda: desktop.window(chooser, lambda w: w.title == title), "the file dialog")
    wait_until(lambda: desktop.active_window() == dialog.id, "the file dialog to have the focus")
    desktop.type(str(photo))
    # Under load the dialog now and then stays open after the Return, the path in it (its list
    # of completions, opening late, can take the key): a person presses Return again.
    retried(lambda: desktop.key("Return"), lambda: not desktop.window(chooser, lambda w: w.title == title),
            "the file dialog to take the photo")
    middle = Rect(icon.center[0] - 6, icon.center[1] - 6, 12, 12)
    try:
        wait_until(lambda: shows(desktop, middle, ORANGE), "the photo's centre in the tray")
    except AssertionError as timeout:
        open_ = bool(desktop.window(chooser, lambda w: w.title == title))
        stored = bool(read_store(desktop.env).get("SavedImageData"))
        raise AssertionError(f"{timeout}; the file dialog open: {open_}, a photo stored: {stored}, "
                             f"the tray: {desktop.pixels(middle)[:12].hex()}") from None
    return wait_until(lambda: read_store(desktop.env).get("SavedImageData"), "the photo in the store"), middle


def open_settings(desktop, program, icon):
    choose(desktop, icon, "Down", "Down")
    settings = wait_until(lambda: desktop.window(program, SETTINGS), "the settings")
    wait_until(lambda: desktop.active_window() == settings.id, "the settings to have the focus")
    return settings


class TrayTests(unittest.TestCase):
    def assert_below(self, desktop, window, icon):
        self.assertTrue(desktop.workarea().contains(window.rect), window)
        # Below the icon by the anchor gap and the panel's padding at most, and under it.
        self.assertTrue(icon.bottom <= window.rect.y <= icon.bottom + 12, (window, icon))
        self.assertTrue(window.rect.x <= icon.center[0] < window.rect.x + window.rect.width, (window, icon))

    def check_tray(self, tray):
        # (A tray that comes after the program is in LayoutTests.test_without_a_tray.)
        with Desktop(tray=tray) as desktop:
            program = desktop.start("perchlight")
            icon = desktop.find_tray_icon(program)
            self.assertEqual(icon.width, 22)
            if tray == "panel":  # drawn by the panel itself, as a StatusNotifierItem
                self.assertEqual(desktop.windows(program), [])

            window = open_popover(desktop, program, icon)
            self.assertTrue(window.override_redirect, "a transient popover is a popup")
            self.assert_below(desktop, window, icon)
            # A click on the icon closes it for good: had it reopened, the next click would close it.
            desktop.click(*icon.center)
            wait_closed(desktop, program, LAUNCH)
            open_popover(desktop, program, icon)
            desktop.click(*ELSEWHERE)
            wait_closed(desktop, program, LAUNCH)
            # Another client holding pointer and keyboard as the popover maps only delays its
            # grabs: it takes each once free. (A second start opens the popover without a click.)
            desktop.screen.root.grab_pointer(False, 0, X.GrabModeAsync, X.GrabModeAsync, 0, 0, 0)
            desktop.screen.root.grab_keyboard(False, X.GrabModeAsync, X.GrabModeAsync, 0)
            second = desktop.start("perchlight")
            self.assertEqual((second.wait(TIMEOUT), desktop.errors(second)), (0, ""))
            wait_until(lambda: settled(lambda: desktop.window(program, LAUNCH)), "the photo popover")
            desktop.x.ungrab_keyboard(0)
            wait_until(desktop.keyboard_grabbed, "the popover to take the keys once free")
            desktop.x.ungrab_pointer(0)
            wait_until(lambda: desktop.grabs() == 2, "the popover to take the pointer once free")
            close_popover(desktop, program)

            # The settings stay while another program is used, until the icon is clicked.
            settings = open_settings(desktop, program, icon)
            self.assertFalse(settings.override_redirect, "a semitransient popover is a managed window")
            self.assert_below(desktop, settings, icon)
            other = desktop.open_other_window()
            desktop.click(*ELSEWHERE)
            wait_until(lambda: desktop.active_window() == other, "the other program to take the focus")
            self.assertIn(settings, desktop.windows(program))
            desktop.click(*icon.center)
            wait_until(lambda: desktop.window(program, LAUNCH), "the photo popover")
            wait_closed(desktop, program, SETTINGS, another_open=True)
            close_popover(desktop, program)

            # A second start hands over to the first, which opens its popover, and ends.
            def second_start():
                second = desktop.start("perchlight")
                self.assertEqual((second.wait(TIMEOUT), desktop.errors(second)), (0, ""))
            retried(second_start, lambda: desktop.window(program, LAUNCH), "the photo popover of the first")
            # The other edition is a program of its own.
            other_edition = desktop.start("portraitperch")
            desktop.find_tray_icon(other_edition, desktop.tray_snapshot())
            self.assertTrue(other_edition.running() and program.running())
            stop_group(program)
            self.assertEqual(desktop.errors(program), "")
            self.assertEqual(read_store(desktop.env), {}, "a first start writes no key")

    def test_panel(self):
        self.check_tray("panel")

    def test_trayer(self):
        self.check_tray("trayer")


class LayoutTests(unittest.TestCase):
    def test_two_monitors(self):
        # Qt reports each monitor whole, panel included; the popovers keep clear of the panel.
        for monitor, edge in ((1, "top"), (1, "bottom"), (0, "bottom")):
            with self.subTest(monitor=monitor, edge=edge), Desktop(panel_monitor=monitor, edge=edge) as desktop:
                program = desktop.start("perchlight")
                icon, panel = desktop.find_tray_icon(program), desktop.tray_strip()
                photo = open_popover(desktop, program, icon)
                close_popover(desktop, program)
                for window in (photo, open_settings(desktop, program, icon)):
                    gap = window.rect.y - icon.bottom if edge == "top" else icon.y - window.rect.bottom
                    clear = window.rect.y >= panel.bottom if edge == "top" else window.rect.bottom <= panel.y
                    self.assertTrue(desktop.monitors[monitor].contains(window.rect) and clear and 0 <= gap <= 12 and
                                    window.rect.x <= icon.center[0] < window.rect.x + window.rect.width,
                                    (window, icon, panel))
                self.assertEqual(desktop.errors(program), "")

    def test_without_a_tray(self):
        with Desktop(tray=None) as desktop:
            program = desktop.start("perchlight")

            def framed(kind):
                return lambda w: kind(w) and not w.override_redirect and w.title == "Perchlight"

            def wait_active(kind, what):
                window = wait_until(lambda: desktop.window(program, framed(kind)), what)
                wait_until(lambda: desktop.active_window() == window.id, what + " to have the focus")

            wait_active(LAUNCH, "the photo window")
            self.assertRegex(desktop.errors(program), r"^perchlight: no system tray[^\n]*window[^\n]*\n$")
            # Every navigation works in the window; Return presses the focused button. (A window
            # gives its first control, Change Photo, the focus.)
            desktop.key("Tab", "Return")
            wait_active(SETTINGS, "the settings window")
            desktop.key("Return")  # on Back, which has the focus
            wait_active(popover(250, 350), "the photo window after Back")
            desktop.key("Escape")
            wait_until(lambda: not desktop.windows(program), "the window to close")
            # A second start, as the desktop's launcher does it, brings the window back.
            second = desktop.start("perchlight")
            self.assertEqual((second.wait(TIMEOUT), desktop.errors(second)), (0, ""))
            wait_active(LAUNCH, "the photo window again")

            # A tray comes: the icon shows, and a click on it brings the popover beside it.
            desktop.start_tray("panel")
            icon = desktop.find_tray_icon(program)
            desktop.click(*icon.center)
            below = lambda w: LAUNCH(w) and icon.bottom <= w.rect.y <= icon.bottom + 12  # noqa: E731
            wait_until(lambda: desktop.window(program, below), "the popover at the icon")


class WaylandTests(unittest.TestCase):
    def test_sway(self):
        # The popovers are layer surfaces at the bar's right-hand corner, beside the tray. The bar
        # starts after the program, as it may at login.
        with Sway(bar_at_start=False) as desktop:
            program = desktop.start("perchlight")
            wait_until(lambda: "no system tray" in desktop.errors(program), "the program to find no tray")
            desktop.start_bar()
            item, path = desktop.item(), "/StatusNotifierItem"
            read = lambda name: desktop.call(item, path, "org.freedesktop.DBus.Properties.Get",  # noqa: E731
                                             "org.kde.StatusNotifierItem", name)
            self.assertIn("'Perchlight'", read("Title"))
            self.assertIn("Your MenuBar Photo", read("ToolTip"))
            activate = lambda: desktop.call(item, path, "org.kde.StatusNotifierItem.Activate", "0", "0")  # noqa: E731
            # The window the program opened without a tray becomes the popover at the icon.
            activate()
            # (The window floats in the middle of the screen, lower than the popover reaches.)
            desktop.wait_for_change(b"", "the window to become the popover", lambda box: box.width == WIDTH and
                                    box.height <= BAR_HEIGHT + 12 + 400)
            activate()
            desktop.wait_for_change(b"", "the popover to close", lambda box: box.height <= BAR_HEIGHT)

            def icon_drawn():  # more than the bar's two colours across its last 40 pixels
                shot = desktop.screenshot()
                end = shot[(BAR_HEIGHT // 2 * WIDTH + WIDTH - 40) * 3:(BAR_HEIGHT // 2 + 1) * WIDTH * 3]
                return len({end[i:i + 3] for i in range(0, len(end), 3)}) > 2 and shot
            closed = wait_until(icon_drawn, "the icon at the bar's end")

            def opened(what, width, height):
                box = desktop.wait_for_change(closed, what, lambda box: abs(box.width - width) <= 2)
                self.assertTrue(box.height >= height and BAR_HEIGHT <= box.y <= BAR_HEIGHT + 12 and
                                WIDTH - 12 <= box.x + box.width <= WIDTH, box)

            activate()
            opened("the photo popover", 250, 300)
            desktop.choose(item, "Settings")
            opened("the settings", 300, 360)
            activate()
            opened("the photo popover", 250, 300)
            activate()
            desktop.wait_for_change(b"", "the popover to close", lambda box: box.height <= BAR_HEIGHT)
            desktop.choose(item, "Exit")
            self.assertEqual(program.wait(TIMEOUT), 0)
            self.assertRegex(desktop.errors(program), r"^perchlight: no system tray[^\n]*\n$")


class GnomeTests(unittest.TestCase):
    def test_gnome(self):
        # GNOME Shell on Wayland, its AppIndicator extension enabled after the program started.
        # The popovers are X11 windows through Xwayland, below the item's button and touching
        # the top bar, without decorations.
        require(self, Path("/usr/share/gnome-shell/extensions", INDICATORS).exists(), "GNOME Shell and its "
                "AppIndicator extension (packages gnome-shell, gnome-shell-extension-appindicator)")
        require(self, not subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode,
                "unshare -m, for GNOME Shell's own mount namespace")
        with Gnome(tray_at_start=False) as desktop:
            program = desktop.start("perchlight")
            wait_until(lambda: desktop.windows(program), "the photo window, as there is no tray")
            desktop.start_tray()
            icon, bar = desktop.tray_icon(), desktop.top_bar()

            def shown(width, what):
                try:
                    window = wait_until(lambda: next((w for w in desktop.windows(program) if w[3] and
                                                      abs(w[1].width - width) <= 2 and not w[2]), None), what)
                except AssertionError as timeout:
                    raise AssertionError(f"{timeout}; the program's windows: {desktop.windows(program)}, "
                                         f"its errors: {desktop.errors(program)!r}") from None
                self.assertEqual(window[1].y, bar.bottom, (window, bar))
                self.assertTrue(window[1].x <= icon.center[0] < window[1].x + window[1].width, (window, icon))

            def closed(what):
                wait_until(lambda: not desktop.windows(program), what)

            # The extension activates an item with a menu on a double click: the window that the
            # program opened without a tray becomes the popover; a double click closes it, Escape too.
            desktop.click(*icon.center, count=2)
            shown(252, "the photo popover at the icon")
            desktop.click(*icon.center, count=2)
            closed("the popover to close on a second activation")
            desktop.click(*icon.center, count=2)
            shown(252, "the photo popover again")
            wait_until(lambda: settled(lambda: desktop.keys_reach(program)), "the popover to take the keys")
            desktop.key("Escape")
            closed("the popover to close on Escape")
            # A single click opens the menu, which the shell draws from the item's dbusmenu; the
            # chosen entry counts as the user's action, so the settings take the focus too.
            desktop.click(*icon.center)
            desktop.click(*desktop.menu_entry("Settings").center)
            shown(302, "the settings at the icon")
            # The preview, the last control, in the shell's own notifications, with the installed icon's name.
            wait_until(lambda: settled(lambda: desktop.keys_reach(program)), "the settings to take the keys")
            desktop.key("Shift_L+Tab")
            desktop.key("space")
            icons = wait_until(lambda: desktop.notification_icons("Preview Notification"), "the preview in GNOME")
            self.assertEqual(icons[0][:1], [APP_ID])
            self.assertRegex(desktop.errors(program), r"^perchlight: no system tray[^\n]*\n$")


class PlasmaTests(unittest.TestCase):
    def test_plasma(self):
        # KDE Plasma on Wayland, whose panel is no layer surface: the popovers are layer surfaces
        # right above the icon, touching the panel without covering it; the icon closes them.
        require(self, FAKE_INPUT.exists(), "plasma-desktop kwin-wayland kde-spectacle plasma-wayland-protocols")
        with Plasma() as desktop:
            program, panel = desktop.start("perchlight"), desktop.panel
            # The tray puts an application's item first and moves the others aside: its square is the
            # left end of what changed in the panel.
            box = desktop.changed(desktop.empty, "the item in Plasma's tray", lambda _, in_panel: in_panel)[1]
            icon = Rect(box.x, panel.y + box.y, box.height, box.height)
            closed = desktop.screenshot()

            def opened(width, what):
                box, in_panel = desktop.changed(closed, what, lambda box, _: box and abs(box.width - width) <= 2)
                self.assertEqual(box.bottom, panel.y, f"{what} {box} not touching the panel {panel}")
                self.assertTrue(box.x <= icon.center[0] < box.x + box.width, f"{what} {box} not at the icon {icon}")
                # Nothing over the panel: only the icon's own look may change there.
                self.assertTrue(not in_panel or icon.x - 4 <= in_panel.x and in_panel.x + in_panel.width <=
                                icon.x + icon.width + 4, f"the panel changed at {in_panel} beside {what}")

            desktop.click(*icon.center)
            opened(252, "the photo popover")
            desktop.click(*icon.center)
            desktop.changed(closed, "the popover to close", lambda box, _: box is None)
            # The settings from the popover's keys; their preview goes to plasmashell.
            desktop.click(*icon.center)
            opened(252, "the photo popover again")
            desktop.keys(15, 57)  # Tab from Change Photo, which the window focuses, to Settings, Space
            opened(302, "the settings")
            desktop.keys((42, 15), 57)  # Shift+Tab from Back to the preview, Space
            # The program's name, its installed icon and its desktop entry.
            wait_until(lambda: "desktop-entry" in desktop.notify_log.read_text(), "the preview")
            self.assertRegex(desktop.notify_log.read_text(), rf'string "Perchlight"\s*uint32 0\s*string "{APP_ID}"'
                             rf'(?s:.*)"desktop-entry"\s*variant\s*string "{APP_ID}"')
            self.assertEqual(desktop.errors(program), "")


class PhotoAndReminderTests(unittest.TestCase):
    def test_photo_preview_and_daily_reminder(self):
        with tempfile.TemporaryDirectory() as folder, Desktop("panel") as desktop:
            write_store(desktop.env, {"notificationMessage": (STRING, "Tom & Jerry <3")})
            # The unit folder a link into the user's dotfiles, which the user manager follows too.
            (desktop.root / "dotfiles").mkdir()
            (desktop.config / "systemd").mkdir(exist_ok=True)
            (desktop.config / "systemd" / "user").symlink_to(desktop.root / "dotfiles")
            program = desktop.start("perchlight")
            wait_until(lambda: program.output_text() == "Notifications allowed\n", "the permission line")
            icon = desktop.find_tray_icon(program)

            # A 600 x 400 JPEG, orange between two blue bands: only its centred square is orange.
            photo = Path(folder, "holiday.jpg")
            subprocess.run(["convert", "-size", "600x400", "xc:rgb(0,64,255)", "-fill", f"rgb{ORANGE}", "-draw",
                            "rectangle 100,0 499,399", str(photo)], check=True)
            # The controls are reached as a keyboard user would: Tab to Change Photo and press it.
            open_popover(desktop, program, icon)
            desktop.key("Tab", "space")
            # Qt adds the program's name to a window's title on the desktop.
            stored, middle = choose_photo(desktop, program, "Select a new photo \u2014 Perchlight", photo, icon)
            self.assertEqual((stored[:8], stored[16:24]), (b"\x89PNG\r\n\x1a\n", bytes.fromhex("0000019000000190")),
                             "the centred square, 400 x 400, as PNG")

            # A preview with reminders off: the message escaped for dunst's markup, the photo attached.
            # The settings open with Back focused; the switch is next, the preview last.
            open_settings(desktop, program, icon)
            desktop.key("Tab", "space")
            wait_until(lambda: read_store(desktop.env).get("notificationsEnabled") == 0, "reminders off")
            desktop.key("shift+Tab", "shift+Tab", "space")
            shown = wait_until(desktop.notifications, "the preview in dunst", interval=0.3)
            self.assertEqual([(n["summary"], n["body"], n["appname"], n["desktop_entry"]) for n in shown],
                             [("Preview Notification", "Tom &amp; Jerry &lt;3", "Perchlight", APP_ID)])
            copy = Path(shown[0]["icon_path"])
            self.assertEqual(copy.parent, desktop.data / "portraitperch" / "attachments")
            self.assertEqual((desktop.runtime / "portraitperch" / "notifImage.png").read_bytes(), stored)
            # Reading the history closed it: the service's copy goes with it.
            wait_until(lambda: not copy.exists(), "the copy of a closed notification to go")

            # Reminders on again, at the next minute that leaves time for the click.
            due = (datetime.datetime.now() + datetime.timedelta(seconds=80)).replace(second=0, microsecond=0)
            write_store(desktop.env, {"notificationHour": (INTEGER, due.hour),
                                      "notificationMinute": (INTEGER, due.minute)})
            desktop.key("Tab", "Tab", "space")
            wait_until(lambda: read_store(desktop.env).get("notificationsEnabled") == 1, "reminders on")
            if datetime.datetime.now() < due - datetime.timedelta(seconds=2):
                self.assertEqual(len(desktop.notifications()), 1, "nothing before its minute")
            if desktop.user_manager:  # which delivers it with the program quit from its menu
                choose(desktop, icon, *["Down"] * 4)
                self.assertEqual((program.wait(TIMEOUT), desktop.errors(program)), (0, ""))
                self.assertEqual(desktop.timer_instant("perchlight"), due.astimezone())
            wait = max(0, (due - datetime.datetime.now()).total_seconds()) + 30 * TIME_FACTOR
            displayed = ["dunstctl", "count", "displayed"]
            wait_until(lambda: desktop.run(displayed).stdout.strip() == "1", "the reminder", timeout=wait, interval=0.1)
            print(f"\nreminder shown {(datetime.datetime.now() - due).total_seconds():.2f} s after its minute")
            self.assertLess(datetime.datetime.now() - due, datetime.timedelta(seconds=15), "on time")
            if desktop.user_manager:  # a click starts the program with its photo popover open
                desktop.run(["dunstctl", "action", "0"], check=True)
                program = wait_until(lambda: desktop.started_by_timer("perchlight"), "the program from the click")
                wait_until(lambda: desktop.window(program, LAUNCH), "the photo popover")
                wait_until(lambda: desktop.grabs() == 2, "the popover to take pointer and keyboard")
                close_popover(desktop, program)
            else:
                stop_group(program)
                self.assertEqual(desktop.errors(program), "")
                program = desktop.start("perchlight")
            reminder = [n for n in desktop.notifications() if n["summary"] == "Reminder"]
            self.assertEqual(reminder[0]["body"], "Tom &amp; Jerry &lt;3")
            self.assertTrue(reminder[0]["icon_path"])

            # After a restart: the photo is the icon again and the store unchanged.
            wait_until(lambda: shows(desktop, middle, ORANGE), "the kept photo in the tray")
            self.assertEqual(read_store(desktop.env)["SavedImageData"], stored)
            if not desktop.user_manager:
                self.assertEqual(desktop.errors(program), "")
            require(self, desktop.user_manager, "a user service manager (unshare not permitted, or systemd not"
                    " installed): delivery with the program quit and the timer")
            # Off: the timer goes. On again: it follows a change of the time zone to 09:00 at the new place.
            open_settings(desktop, program, desktop.find_tray_icon(program))
            desktop.key("Tab", "space")
            timer = desktop.config / "systemd" / "user" / "perchlight-reminder.timer"
            wait_until(lambda: not timer.exists() and not list(timer.parent.glob(f"*/{timer.name}")), "the timer to go")
            self.assertNotEqual(desktop.run(["systemctl", "--user", "is-active", timer.name]).stdout.strip(), "active")
            desktop.key("space")
            wait_until(lambda: desktop.timer_instant("perchlight"), "the timer again")
            desktop.set_time_zone("Asia/Kolkata")
            india = datetime.timezone(datetime.timedelta(hours=5, minutes=30))
            wait_until(lambda: desktop.timer_instant("perchlight").astimezone(india).time() == due.time(),
                       "the timer at the minute in India")

            # A machine switched on after the fire time: the catch-up run waits for the store that
            # another program keeps locked and for the notification server that starts after it, and
            # delivers the missed reminder once, leaving the timer in place.
            choose(desktop, desktop.find_tray_icon(program), *["Down"] * 4)  # started by the timer's run
            wait_until(lambda: not Path(f"/proc/{program.pid}").exists(), "the program to end")
            desktop.stop_notifications()
            store = sqlite3.connect(desktop.data / "portraitperch" / "notifications.sqlite3", isolation_level=None)
            store.executescript("UPDATE requests SET covered_until = covered_until - 2 * 86400000; BEGIN IMMEDIATE")
            run = desktop.start("perchlight", args=["--deliver-pending"])
            wait_until(lambda: "locked by another program" in run.error_text(), "the run to wait for the store")
            store.execute("ROLLBACK")
            wait_until(lambda: "no notification server took" in run.error_text(), "the run to wait for a server")
            desktop.start_notifications()
            self.assertEqual([n["summary"] for n in wait_until(desktop.notifications, "the missed reminder")],
                             ["Reminder"])
            self.assertEqual(run.wait(TIMEOUT), 0)
            self.assertTrue(desktop.timer_instant("perchlight"), "the timer kept")

            # A timer disabled outside the program: the switch in the settings decides, and says so.
            desktop.run(["systemctl", "--user", "disable", "perchlight-reminder.timer"], check=True)
            program = desktop.start("perchlight")
            enabled = ["systemctl", "--user", "is-enabled", "perchlight-reminder.timer"]
            wait_until(lambda: desktop.run(enabled).stdout.strip() == "enabled", "the timer enabled again")
            self.assertIn("was disabled outside the program", program.error_text())
            choose(desktop, desktop.find_tray_icon(program), *["Down"] * 4)
            self.assertEqual(program.wait(TIMEOUT), 0)

            # A program removed with its package: its units start nothing and fail nothing.
            gone = Path(folder, "perchlight-gone")
            shutil.copy(BUILD / "app" / "perchlight", gone)
            program = desktop.start(gone)
            wait_until(lambda: desktop.timer_instant(gone.name), "the timer of the program's copy")
            choose(desktop, desktop.find_tray_icon(program), *["Down"] * 4)
            self.assertEqual(program.wait(TIMEOUT), 0)
            gone.unlink()
            units = [f"{gone.name}-reminder.{kind}" for kind in ("service", "timer")]
            desktop.run(["systemctl", "--user", "restart", *units], check=True)
            states = desktop.run(["systemctl", "--user", "show", "-p", "ActiveState,Result,ConditionResult", *units])
            self.assertEqual(sorted(states.stdout.split()),
                             sorted(["ActiveState=inactive", "Result=success", "ConditionResult=no"] * 2))

            # A reminder set in one session arrives in a later one, with another display and bus,
            # under the program's own menu entry.
            desktop.new_session()
            store.execute("UPDATE requests SET covered_until = covered_until - 2 * 86400000")
            desktop.run(["systemctl", "--user", "start", "--no-block", "perchlight-reminder.service"], check=True)
            shown = wait_until(desktop.notifications, "the reminder in the new session")
            self.assertEqual([(n["summary"], n["desktop_entry"]) for n in shown], [("Reminder", APP_ID)])


class ConfinementTests(unittest.TestCase):
    def test_photo_from_anywhere(self):
        # PortraitPerch reads no file outside Pictures and Downloads by itself: a photo from
        # elsewhere comes through the chooser outside its confinement, a process of its own.
        with Desktop("panel") as desktop:
            photo = desktop.root / "home" / "Documents" / "holiday.jpg"
            photo.parent.mkdir()
            subprocess.run(["convert", "-size", "300x300", f"xc:rgb{ORANGE}", str(photo)], check=True)
            program = desktop.start("portraitperch")
            icon = desktop.find_tray_icon(program)
            open_popover(desktop, program, icon)
            desktop.key("Tab", "space")
            chooser = Started(int(Path(f"/proc/{program.pid}/task/{program.pid}/children").read_text().split()[0]),
                              "chooser")
            stored, _ = choose_photo(desktop, chooser, "Select a new photo \u2014 PortraitPerch", photo, icon)
            self.assertEqual(stored[16:24], bytes.fromhex("0000012c0000012c"), "the photo, 300 x 300, as PNG")
            stop_group(program)
            self.assertEqual(desktop.errors(program), "")


if __name__ == "__main__":
    unittest.main()
