"""Renews docs/screenshots/: the tray, the photo popover (at launch, and after Back with a
long title), the settings of both editions (Perchlight's with a long title and message), and
a delivered preview notification with the photo; in the light and the dark palette, at
scale factors 1 and 2. Run it after a build (about a minute):

    /usr/bin/python3 tests/desktop/take_screenshots.py [output folder]

Names: <what>-<light|dark>[@2x].png. The dark palette is the one the program takes when the
desktop asks for dark (GTK_THEME=Adwaita:dark); scale 2 is QT_SCALE_FACTOR=2.
"""

import subprocess
import sys
import unittest
from pathlib import Path

from a11y import Accessibility
from desktop import Desktop, Rect, wait_until
from test_reminders import KIND_DATA, PHOTO, store_values
from test_settings import RETURN_POPOVER_SIZE, PopoverSession

OUT = Path(__file__).resolve().parent.parent.parent / "docs" / "screenshots"
VARIANTS = (("light", 1), ("dark", 1), ("light", 2), ("dark", 2))
LONG_TITLE = "Grandma Rosa in her garden, the summer of the giant tomatoes"
LONG_MESSAGE = ("Call Grandma Rosa tonight and ask how the tomatoes are doing this year. "
                "Tell her about the trip, the new flat and the cat.\n"
                "Then water the basil on the balcony before it wilts again, and write "
                "down her recipe for the sauce.")
MARGIN = 24  # around a window in its picture


class Shooter:
    def __init__(self, desktop, out, palette, scale):
        self.desktop, self.out = desktop, out
        self.suffix = f"-{palette}" + ("@2x" if scale == 2 else "")
        self.written = []

    def shoot(self, name, rect, suffix=None):
        # No pointer over a control: a hovered button would look pressed.
        self.desktop.run(["xdotool", "mousemove", "0", str(self.desktop.height - 1)])
        path = self.out / f"{name}{self.suffix if suffix is None else suffix}.png"
        self.desktop.screenshot(path, rect)
        self.written.append(path)

    def around(self, window):
        """The window with the panel above it, out to the screen's right edge."""
        left = max(0, window.rect.x - MARGIN)
        return Rect(left, 0, self.desktop.width - left, min(self.desktop.height, window.rect.bottom + MARGIN))


def notification_window(desktop):
    """dunst's window, once it shows a notification."""
    found = desktop.run(["xdotool", "search", "--onlyvisible", "--class", "dunst"])
    for window_id in found.stdout.split():
        geometry = desktop.run(["xdotool", "getwindowgeometry", "--shell", window_id]).stdout
        values = dict(line.split("=", 1) for line in geometry.split())
        rect = Rect(int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))
        if rect.width > 1 and rect.height > 1:
            return rect
    return None


def shoot_variant(out, palette, scale):
    env = {"QT_SCALE_FACTOR": str(scale)}
    if palette == "dark":
        env["GTK_THEME"] = "Adwaita:dark"
    check = unittest.TestCase()
    with Desktop("panel") as desktop, Accessibility(desktop) as a11y:
        shooter = Shooter(desktop, out, palette, scale)
        # The earlier edition first, with the values a first start shows.
        older = PopoverSession(check, desktop, a11y, "portraitperch", env=env, scale=scale)
        shooter.shoot("settings-portraitperch", shooter.around(older.open_settings()))
        older.program.stop()
        # The panel drops the icon once the item has left the bus.
        wait_until(lambda: not desktop.status_notifier_items(), "the icon to leave the panel")
        wait_until(lambda: desktop.tray_snapshot() == desktop.empty_tray, "the empty tray")

        session = PopoverSession(check, desktop, a11y, "perchlight", env=env, scale=scale)
        # A kept photo, so that the notification carries one.
        store_values(desktop, {"SavedImageData": (KIND_DATA, PHOTO.read_bytes())})
        if (palette, scale) == VARIANTS[0]:
            # The panel draws the icon itself, the same in every variant.
            shooter.shoot("tray", Rect(desktop.width - 480, 0, 480, session.icon.bottom + 8), suffix="")
        shooter.shoot("popover", shooter.around(session.open_photo_popover()))

        settings = session.open_settings()
        a11y.set_text(session.control("Popover Title:", "text"), LONG_TITLE)
        a11y.set_text(session.control("Notification Message:", "text"), LONG_MESSAGE)
        session.wait_stored("notificationMessage", LONG_MESSAGE)
        shooter.shoot("settings", shooter.around(settings))

        session.click("Send Preview Notification", "push button")
        banner = wait_until(lambda: notification_window(desktop), "the preview notification on screen")
        left = max(0, banner.x - MARGIN)
        shooter.shoot("notification", Rect(left, 0, desktop.width - left, banner.bottom + MARGIN))
        desktop.run(["dunstctl", "close-all"])
        wait_until(lambda: notification_window(desktop) is None, "the notification to close")

        session.click("Back", "push button")
        titled = desktop.wait_for_window(session.program, lambda w: session.is_popover(w, RETURN_POPOVER_SIZE),
                                         "the photo popover after Back")
        wait_until(lambda: session.shows_text(LONG_TITLE), "the long title in the photo popover")
        shooter.shoot("popover-titled", shooter.around(titled))
        return shooter.written


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else OUT
    out.mkdir(parents=True, exist_ok=True)
    for palette, scale in VARIANTS:
        for path in shoot_variant(out, palette, scale):
            # Smaller files for the repository, same pixels.
            subprocess.run(["convert", str(path), "-strip", "-define", "png:compression-level=9", str(path)],
                           check=True)
            print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
