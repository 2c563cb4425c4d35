"""Both popovers of both editions, used as a person would: clicks and key presses through
xdotool on the places the accessibility bus reports, with texts and states read back from
it, from the store and from the X server."""

import dataclasses
import sqlite3
import unittest
from pathlib import Path

from a11y import Accessibility
from desktop import Desktop, Rect, wait_until
from test_reminders import KIND_DATA, PHOTO, store_values
from test_tray import LAUNCH_CONTENT_SIZE as LAUNCH_POPOVER_SIZE, is_popover

EDITIONS = ("perchlight", "portraitperch")
SETTINGS_SIZE = {"perchlight": (300, 360), "portraitperch": (300, 180)}
RETURN_POPOVER_SIZE = (250, 350)
SETTINGS_CONTROLS = ["Enable Notifications", "Send Daily At:", "Notification Message:", "Popover Title:",
                     "Send Preview Notification"]


class PopoverSession:
    """One edition running on a desktop with the accessibility bus, and what a person does
    with it: open the popovers, click and type into their controls."""

    def __init__(self, test, desktop, a11y, edition, env=None, scale=1):
        self.test, self.desktop, self.a11y, self.edition = test, desktop, a11y, edition
        self.env = {**Accessibility.PROGRAM_ENV, **(env or {})}
        self.scale = scale  # QT_SCALE_FACTOR: window sizes in pixels grow with it
        self.program = None
        self.icon = None
        self.start()

    def start(self):
        self.program = self.desktop.start_program(self.edition, env=self.env)
        self.icon = self.desktop.find_tray_icon(self.program)

    def restart(self):
        self.program.stop()
        self.test.assertFalse(self.program.running())
        self.start()

    # -- the photo popover ----------------------------------------------------------------------

    def is_popover(self, window, content_size=LAUNCH_POPOVER_SIZE):
        """Whether the window is a popover of that content width, with a border of at most a
        pixel (at scale 1) around it, and at least as tall as the content size."""
        extra = (window.rect.width - content_size[0] * self.scale, window.rect.height - content_size[1] * self.scale)
        return 0 <= extra[0] <= 2 * self.scale and extra[1] >= extra[0]

    def open_photo_popover(self):
        self.desktop.click(*self.icon.center)
        window = self.desktop.wait_for_window(self.program, self.is_popover, "the photo popover")
        # The transient popover takes the pointer once mapped; a person is never faster.
        wait_until(self.desktop.pointer_grabbed, "the photo popover to take the pointer")
        self.a11y.wait_for(self.program, "Settings", "push button")
        return window

    def open_settings(self):
        if not [w for w in self.desktop.visible_windows_of(self.program) if self.is_popover(w)]:
            self.open_photo_popover()
        self.click("Settings", "push button")
        window = self.desktop.wait_for_window(self.program, lambda w: self.is_popover(w, SETTINGS_SIZE[self.edition]),
                                              "the settings")
        self.a11y.wait_for(self.program, "Enable Notifications", "check box")
        wait_until(lambda: self.desktop.active_window() == window.id, "the settings to have the focus")
        return window

    def shows_text(self, text):
        """Whether a widget on screen shows `text`, as its name or as its content."""
        for widget in self.a11y.widgets(self.program):
            if widget.name == text or (widget.role in ("label", "text") and self.a11y.text(widget) == text):
                return True
        return False

    # -- controls -------------------------------------------------------------------------------

    def control(self, name, role=None):
        widget = self.a11y.wait_for(self.program, name, role)
        if self.scale == 1:
            return widget
        # Qt reports places in its scaled (logical) pixels; the screen has device pixels.
        r = widget.rect
        return dataclasses.replace(widget, rect=Rect(r.x * self.scale, r.y * self.scale, r.width * self.scale,
                                                     r.height * self.scale))

    def visible_control(self, name, role=None):
        """The control, scrolled into its popover's view with the wheel if it lies outside
        (PortraitPerch's settings are half as tall as their content)."""
        widget = self.control(name, role)
        window = next((w for w in self.desktop.visible_windows_of(self.program) if w.rect.contains(widget.rect)), None)
        if window is not None:
            return widget
        windows = [w for w in self.desktop.visible_windows_of(self.program) if w.rect.width > 100]
        self.test.assertEqual(len(windows), 1, windows)
        area = windows[0].rect
        for _ in range(20):
            button = 5 if widget.rect.y > area.y else 4  # wheel down, up
            # Over the popover's own margin, where no text box takes the wheel for itself.
            self.desktop.click(area.x + 2 * self.scale, area.center[1], button=button)
            moved = wait_until(lambda: (w := self.control(name, role)).rect != widget.rect and w,
                               f"{name!r} to scroll")
            widget = moved
            if area.contains(widget.rect):
                return widget
        self.test.fail(f"{name!r} cannot be scrolled into view")

    def click(self, name, role=None):
        widget = self.visible_control(name, role)
        self.desktop.click(*widget.center)
        return widget

    def focus(self, name, role=None):
        widget = self.click(name, role)
        wait_until(lambda: self.focused_name() == name, f"{name!r} to take the keyboard focus")
        return widget

    def focus_state(self):
        """The focused widget's name and where its text cursor is (None without text)."""
        widget = self.a11y.focused(self.program)
        return (widget.name, self.a11y.caret(widget)) if widget else (None, None)

    def focused_name(self):
        widget = self.a11y.focused(self.program)
        return widget.name if widget else None

    def type_into(self, name, text):
        """Clicks into a text field, selects what it holds and types `text` over it."""
        widget = self.focus(name, "text")
        self.desktop.key("ctrl+a")
        self.desktop.run(["xdotool", "type", "--delay", "5", text])
        wait_until(lambda: self.a11y.text(widget) == text, f"{text!r} in {name!r}")

    def pick_time(self, hours_minutes):
        """Selects the picker's hour section and types the four digits of "HH:MM"."""
        picker = self.focus("Send Daily At:", "spin button")
        for key in ("Home", "shift+Right", "shift+Right"):
            self.desktop.key(key)
        self.desktop.run(["xdotool", "type", "--delay", "20", hours_minutes.replace(":", "")])
        wait_until(lambda: self.a11y.text(picker) == hours_minutes, f"the picker to show {hours_minutes}")

    def text_of(self, name, role="text"):
        return self.a11y.text(self.control(name, role))

    # -- the store ------------------------------------------------------------------------------

    def stored(self):
        store = self.desktop.config_home / "portraitperch" / "defaults.sqlite3"
        if not store.exists():
            return {}
        with sqlite3.connect(f"file:{store}?mode=ro", uri=True) as db:
            return dict(db.execute("SELECT key, value FROM defaults"))

    def wait_stored(self, key, value):
        wait_until(lambda: self.stored().get(key) == value, f"{key} = {value!r} in the store")

    def pending(self):
        """The notification service's pending requests: (identifier, title, body, hour, minute, repeats)."""
        store = self.desktop.data_home / "portraitperch" / "notifications.sqlite3"
        if not store.exists():
            return []
        with sqlite3.connect(f"file:{store}?mode=ro", uri=True) as db:
            return db.execute("SELECT identifier, title, body, hour, minute, repeats FROM requests"
                              " WHERE has_trigger ORDER BY rowid").fetchall()

    def wait_pending(self, expected, what):
        wait_until(lambda: self.pending() == expected, what)


class SettingsTests(unittest.TestCase):
    """On the panel, each test for both editions."""

    def session(self, desktop, a11y, edition):
        return PopoverSession(self, desktop, a11y, edition)

    def test_settings_from_the_photo_popover_and_back(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop("panel") as desktop, Accessibility(desktop) as a11y:
                session = self.session(desktop, a11y, edition)
                settings = session.open_settings()
                self.assertFalse(settings.override_redirect, "the settings are a managed window")
                desktop.wait_for_no_window(session.program, is_popover, "the photo popover")
                names = [w.name for w in a11y.widgets(session.program)]
                for name in SETTINGS_CONTROLS:
                    self.assertIn(name, names)
                self.assertEqual(session.text_of("Popover Title:"), "Your MenuBar Photo")
                self.assertEqual(session.text_of("Send Daily At:", "spin button"), "09:00")
                self.assertEqual(session.text_of("Notification Message:"),
                                 "Here\u2019s a daily note from your PortraitPerch.")
                self.assertEqual(session.stored(), {}, "opening the settings changes nothing")

                back = a11y.find(session.program, "Back")
                if edition == "portraitperch":
                    self.assertIsNone(back, "PortraitPerch has no Back")
                    continue
                desktop.click(*back.center)
                popover = desktop.wait_for_window(session.program, lambda w: is_popover(w, RETURN_POPOVER_SIZE),
                                                  "the photo popover after Back")
                desktop.wait_for_no_window(session.program, lambda w: w.id == settings.id, "the settings")
                self.assertFalse(popover.override_redirect, "after Back the photo popover is semitransient")
                self.assertTrue(desktop.workarea().contains(popover.rect))
                wait_until(lambda: session.shows_text("Your MenuBar Photo"), "the title in the photo popover")
                self.assertEqual(session.stored(), {}, "Back changes no preference")
                # It stays at its return size for every later click on the icon.
                desktop.click(*session.icon.center)
                desktop.wait_for_no_window(session.program, lambda w: is_popover(w, RETURN_POPOVER_SIZE))
                desktop.click(*session.icon.center)
                desktop.wait_for_window(session.program, lambda w: is_popover(w, RETURN_POPOVER_SIZE))

    def test_typed_title_shows_in_the_photo_popover_and_values_survive_a_restart(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop("panel") as desktop, Accessibility(desktop) as a11y:
                session = self.session(desktop, a11y, edition)
                session.open_settings()
                title = "Morning walk with Ada"
                session.type_into("Popover Title:", title)
                session.wait_stored("popoverTitle", title)
                message = "Time for a walk: 20 minutes, no phone."
                session.type_into("Notification Message:", message)
                session.wait_stored("notificationMessage", message)
                session.pick_time("07:45")
                session.wait_stored("notificationMinute", 45)
                session.click("Enable Notifications", "check box")
                session.wait_stored("notificationsEnabled", 0)
                expected = {"popoverTitle": title, "notificationMessage": message, "notificationHour": 7,
                            "notificationMinute": 45, "notificationsEnabled": 0}
                self.assertEqual(session.stored(), expected)

                # The title reaches the photo popover (through the icon: PortraitPerch has no Back).
                desktop.click(*session.icon.center)
                desktop.wait_for_window(session.program, lambda w: is_popover(w) or is_popover(w, RETURN_POPOVER_SIZE),
                                        "the photo popover")
                wait_until(lambda: session.shows_text(title), "the typed title in the photo popover")
                self.assertFalse(session.shows_text("Your MenuBar Photo"))

                session.restart()
                self.assertEqual(session.stored(), expected, "starting again writes nothing")
                session.open_photo_popover()
                wait_until(lambda: session.shows_text(title), "the kept title in the photo popover")
                session.click("Settings", "push button")
                a11y.wait_for(session.program, "Enable Notifications", "check box")
                self.assertFalse(session.control("Enable Notifications", "check box").checked)
                self.assertEqual(session.text_of("Send Daily At:", "spin button"), "07:45")
                self.assertEqual(session.text_of("Notification Message:"), message)
                self.assertEqual(session.text_of("Popover Title:"), title)
                self.assertEqual(session.program.stderr(), "")

    def test_pending_reminder_follows_the_switch_time_and_message_and_preview_brings_the_photo(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop("panel") as desktop, Accessibility(desktop) as a11y:
                session = self.session(desktop, a11y, edition)
                # The photo, as an earlier run would have kept it.
                store_values(desktop, {"SavedImageData": (KIND_DATA, PHOTO.read_bytes())})
                session.open_settings()
                self.assertEqual(session.pending(), [], "neither the start nor opening the settings schedules")

                session.pick_time("07:45")
                default_message = "Here\u2019s a daily note from your PortraitPerch."
                session.wait_pending([("dailyNotification", "Reminder", default_message, 7, 45, 1)],
                                     "the reminder at the picked time")
                message = "Stretch, then drink a glass of water"
                session.type_into("Notification Message:", message)
                # One request, whose body is the whole text: each keystroke replaced the last.
                session.wait_pending([("dailyNotification", "Reminder", message, 7, 45, 1)],
                                     "the reminder to follow the typed message")

                session.click("Enable Notifications", "check box")
                session.wait_stored("notificationsEnabled", 0)
                session.wait_pending([], "no pending reminder with reminders off")
                session.pick_time("18:05")  # stored, but nothing is scheduled while off
                session.wait_stored("notificationMinute", 5)
                self.assertEqual(session.pending(), [])
                session.click("Enable Notifications", "check box")
                session.wait_pending([("dailyNotification", "Reminder", message, 18, 5, 1)],
                                     "the reminder at the stored time with the stored message")

                # The preview goes out at once, whatever the switch says.
                session.click("Enable Notifications", "check box")
                session.wait_pending([], "no pending reminder")
                session.click("Send Preview Notification", "push button")
                shown = wait_until(lambda: [n for n in desktop.notifications()
                                            if n["summary"] == "Preview Notification"],
                                   "the preview in dunst", interval=0.3)
                self.assertEqual([n["body"] for n in shown], [message])
                self.assertEqual(Path(shown[0]["icon_path"]).parent,
                                 desktop.data_home / "portraitperch" / "attachments", "the photo is attached")
                attachment = desktop.runtime_dir / "portraitperch" / "notifImage.png"
                self.assertEqual(attachment.read_bytes(), PHOTO.read_bytes())
                self.assertEqual(session.pending(), [], "a preview is not kept as pending")

                session.restart()
                self.assertEqual(session.pending(), [], "no reminder comes back at a start")
                session.open_settings()
                self.assertFalse(session.control("Enable Notifications", "check box").checked)
                self.assertEqual(session.text_of("Send Daily At:", "spin button"), "18:05")
                self.assertEqual(session.text_of("Notification Message:"), message)

    def test_keyboard_reaches_every_control_top_to_bottom_and_escape_closes(self):
        for edition in EDITIONS:
            with self.subTest(edition=edition), Desktop("panel") as desktop, Accessibility(desktop) as a11y:
                session = self.session(desktop, a11y, edition)
                session.open_photo_popover()
                self.assert_tab_order(session)
                desktop.key("Escape")
                desktop.wait_for_no_window(session.program, is_popover, "the photo popover")

                settings = session.open_settings()
                self.assert_tab_order(session)
                desktop.key("Escape")
                desktop.wait_for_no_window(session.program, lambda w: w.id == settings.id, "the settings")
                self.assertEqual(session.stored(), {}, "moving through the controls changes nothing")

    def assert_tab_order(self, session):
        """Tab visits every focusable control, top to bottom (left to right within a row),
        and then comes round to the first again."""
        controls = [w for w in session.a11y.widgets(session.program)
                    if w.focusable and w.role not in ("filler", "scroll pane")]
        # Controls whose middles lie within a few pixels of each other share a row.
        expected = [w.name for w in sorted(controls, key=lambda w: (round(w.center[1] / 8), w.rect.x))]
        self.assertGreaterEqual(len(expected), 2, expected)
        visited = []
        for _ in range(3 * len(expected)):
            before = session.focus_state()
            session.desktop.key("Tab")
            # The picker takes a Tab per section before it lets go: what changes then is
            # where its cursor is, not which widget has the focus.
            name, _ = wait_until(lambda: (state := session.focus_state()) != before and state[0] and state,
                                 "Tab to move the focus")
            if not visited or visited[-1] != name:
                visited.append(name)
            if visited.count(expected[0]) == 2:
                break
        start = visited.index(expected[0])
        self.assertEqual(visited[start:], expected + [expected[0]])

if __name__ == "__main__":
    unittest.main()
