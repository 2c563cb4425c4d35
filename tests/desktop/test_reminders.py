"""Reminders on a real desktop: the permission line, the preview and a daily reminder reach
the real dunst, with the photo, through the settings popover driven from outside."""

import datetime
import sqlite3
import time
import unittest
from pathlib import Path

from desktop import Desktop, wait_until
from test_tray import is_popover

# Where the settings popover (Perchlight, 300 × 360) has its controls, from its top left;
# the layout is fixed and the desktop's fonts are the same on every run.
ENABLE_SWITCH = (153, 40)
PREVIEW_BUTTON_FROM_BOTTOM = (150, 26)
PHOTO = Path(__file__).resolve().parent.parent.parent / "resources" / "museIcon.png"
# The defaults database keeps a value's kind beside it.
KIND_INTEGER, KIND_STRING, KIND_DATA = 2, 3, 4


def store_values(desktop, values):
    """Writes preferences while the program runs, as another writer of the database would."""
    path = desktop.config_home / "portraitperch" / "defaults.sqlite3"
    wait_until(path.exists, "the defaults database")
    with sqlite3.connect(path, timeout=10) as db:
        for key, (kind, value) in values.items():
            db.execute("INSERT INTO defaults (key, kind, value, revision)"
                       " VALUES (?, ?, ?, (SELECT coalesce(max(revision), 0) + 1 FROM defaults))"
                       " ON CONFLICT (key) DO UPDATE SET kind = excluded.kind, value = excluded.value,"
                       " revision = excluded.revision", (key, kind, value))


class ReminderTests(unittest.TestCase):
    def open_settings(self, desktop, program):
        icon = desktop.find_tray_icon(program)
        desktop.click(*icon.center, button=3)
        wait_until(desktop.pointer_grabbed, "the tray menu")
        for key in ("Down", "Down", "Return"):
            desktop.key(key)
        settings = desktop.wait_for_window(program, lambda w: is_popover(w, (300, 360)), "the settings")
        wait_until(lambda: desktop.active_window() == settings.id, "the settings to have the focus")
        return settings.rect

    def test_permission_line_when_a_notification_server_answers(self):
        with Desktop("trayer") as desktop:
            program = desktop.start_program("perchlight")
            wait_until(lambda: program.stdout() == "Notifications allowed\n", "the permission line")

    def test_preview_arrives_with_title_body_and_photo(self):
        with Desktop("trayer") as desktop:
            program = desktop.start_program("perchlight")
            wait_until(program.stdout, "the permission line")
            store_values(desktop, {"SavedImageData": (KIND_DATA, PHOTO.read_bytes()),
                                   "notificationMessage": (KIND_STRING, "Tom & Jerry <3")})
            settings = self.open_settings(desktop, program)
            desktop.click(settings.x + PREVIEW_BUTTON_FROM_BOTTOM[0],
                          settings.y + settings.height - PREVIEW_BUTTON_FROM_BOTTOM[1])
            shown = wait_until(lambda: [n for n in desktop.notifications() if n["summary"] == "Preview Notification"],
                               "the preview in dunst", interval=0.3)
            self.assertEqual(len(shown), 1)
            self.assertEqual(shown[0]["body"], "Tom &amp; Jerry &lt;3")  # dunst reads markup
            self.assertEqual(shown[0]["appname"], "Perchlight")
            icon = Path(shown[0]["icon_path"])
            self.assertEqual(icon.parent, desktop.data_home / "portraitperch" / "attachments")
            attachment = desktop.runtime_dir / "portraitperch" / "notifImage.png"
            self.assertEqual(attachment.read_bytes(), PHOTO.read_bytes(), "a stored PNG is attached as it is")
            # Reading the history closed the notification: the service's copy goes with it.
            wait_until(lambda: not icon.exists(), "the copy of a closed notification to go")

    def test_reminder_set_for_the_next_minute_arrives(self):
        with Desktop("trayer") as desktop:
            program = desktop.start_program("perchlight")
            wait_until(program.stdout, "the permission line")
            now = datetime.datetime.now()
            # At least 20 s ahead, so that the clicks below are done before it is due.
            due = (now + datetime.timedelta(seconds=80)).replace(second=0, microsecond=0)
            store_values(desktop, {"notificationHour": (KIND_INTEGER, due.hour),
                                   "notificationMinute": (KIND_INTEGER, due.minute),
                                   "notificationMessage": (KIND_STRING, "time to stretch")})
            settings = self.open_settings(desktop, program)
            switch = (settings.x + ENABLE_SWITCH[0], settings.y + ENABLE_SWITCH[1])
            desktop.click(*switch)  # off: nothing pending
            desktop.click(*switch)  # on again: scheduled with the stored time
            wait_until(lambda: datetime.datetime.now() >= due, "the reminder's minute",
                       timeout=(due - datetime.datetime.now()).total_seconds() + 5, interval=0.2)
            shown = wait_until(lambda: [n for n in desktop.notifications() if n["summary"] == "Reminder"],
                               "the reminder in dunst", interval=0.3)
            self.assertEqual(len(shown), 1)
            self.assertEqual(shown[0]["body"], "time to stretch")
            arrived = time.time()
            self.assertLess(arrived - due.timestamp(), 15, "the reminder comes at its minute")


if __name__ == "__main__":
    unittest.main()
