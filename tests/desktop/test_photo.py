"""A photo chosen as a person would: the tray icon, the photo popover's Change Photo, the
real file dialog and a typed path; then the new icon in the tray, and again after a restart."""

import subprocess
import tempfile
import unittest
from pathlib import Path

from a11y import Accessibility
from desktop import Desktop, Rect, wait_until
from test_settings import PopoverSession

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# The photo: 600 × 400, an orange square between two blue bands, so that only its centred
# square is orange. JPEG keeps each colour within a few levels.
PHOTO_SIZE = (600, 400)
ORANGE = (255, 128, 0)
BLUE = (0, 64, 255)
# Largest difference per channel between a tray pixel and the photo's colour.
MAX_CHANNEL_DIFFERENCE = 24


def make_photo(path):
    width, height = PHOTO_SIZE
    band = (width - height) // 2
    subprocess.run(["convert", "-size", f"{width}x{height}", f"xc:rgb{BLUE}", "-fill", f"rgb{ORANGE}",
                    "-draw", f"rectangle {band},0 {width - band - 1},{height - 1}", "-quality", "95", str(path)],
                   check=True)


def icon_colours(desktop, icon):
    """The colours of the middle 12 × 12 of the tray icon, as (red, green, blue)."""
    cx, cy = icon.center
    data = desktop.pixels(Rect(cx - 6, cy - 6, 12, 12))  # BGRX
    return {(data[i + 2], data[i + 1], data[i]) for i in range(0, len(data), 4)}


def shows_colour(desktop, icon, colour):
    return all(max(abs(a - b) for a, b in zip(pixel, colour)) <= MAX_CHANNEL_DIFFERENCE
               for pixel in icon_colours(desktop, icon))


def png_size(data):
    """Width and height from a PNG's header chunk."""
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


class PhotoDialogTests(unittest.TestCase):
    """Perchlight on the panel."""

    def test_photo_chosen_in_the_file_dialog_becomes_the_icon_and_stays_after_a_restart(self):
        with tempfile.TemporaryDirectory() as folder, Desktop("panel") as desktop, Accessibility(desktop) as a11y:
            photo = Path(folder) / "holiday.jpg"
            make_photo(photo)
            session = PopoverSession(self, desktop, a11y, "perchlight")
            self.assertFalse(shows_colour(desktop, session.icon, ORANGE))

            session.open_photo_popover()
            # A real click: the dialog is modal, so an accessibility action would block.
            session.click("Change Photo", "push button")
            # Qt adds the program's name to a window's title on the desktop.
            dialog = desktop.wait_for_window(session.program,
                                             lambda w: w.title == "Select a new photo \u2014 Perchlight",
                                             "the file dialog")
            wait_until(lambda: desktop.active_window() == dialog.id, "the file dialog to have the focus")
            wait_until(lambda: (w := a11y.focused(session.program)) and w.role == "text",
                       "the file name field to have the keyboard focus")
            desktop.run(["xdotool", "type", "--delay", "5", str(photo)])
            field = a11y.focused(session.program)
            wait_until(lambda: a11y.text(field) == str(photo), "the path in the file name field")
            desktop.key("Return")
            desktop.wait_for_no_window(session.program, lambda w: w.id == dialog.id, "the file dialog")

            wait_until(lambda: shows_colour(desktop, session.icon, ORANGE), "the photo's centre in the tray")
            stored = wait_until(lambda: session.stored().get("SavedImageData"), "the photo in the store")
            self.assertTrue(stored.startswith(PNG_SIGNATURE), stored[:16])
            self.assertEqual(png_size(stored), (PHOTO_SIZE[1], PHOTO_SIZE[1]), "the centred square is stored")

            session.restart()
            wait_until(lambda: shows_colour(desktop, session.icon, ORANGE), "the kept photo in the tray")
            self.assertEqual(session.stored()["SavedImageData"], stored, "starting again writes nothing")
            self.assertEqual(session.program.stderr(), "")


if __name__ == "__main__":
    unittest.main()
