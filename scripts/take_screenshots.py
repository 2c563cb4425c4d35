"""Renews docs/screenshots/: the tray, the photo popover (at launch, and after Back with a
long title), the settings of both editions (Perchlight's with a long title and message), and
a delivered preview notification with the photo; in the light and the dark palette, at
scale factors 1 and 2. Run it after a build (about a minute):

    /usr/bin/python3 scripts/take_screenshots.py [output folder]

It drives the programs on the desktop of the tests' harness (tests/support/harness.py).
Names: <what>-<light|dark>[@2x].png. The dark palette is the one the program takes when the
desktop asks for dark (GTK_THEME=Adwaita:dark); scale 2 is QT_SCALE_FACTOR=2.
"""

import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "support"))
from harness import DATA, ROOT, STRING, Desktop, Rect, settled, stop_group, wait_until, write_store  # noqa: E402

OUT = ROOT / "docs" / "screenshots"
PHOTO = ROOT / "resources" / "museIcon.png"
VARIANTS = (("light", 1), ("dark", 1), ("light", 2), ("dark", 2))
LONG_TITLE = "Grandma Rosa in her garden, the summer of the giant tomatoes"
LONG_MESSAGE = ("Call Grandma Rosa tonight and ask how the tomatoes are doing this year. "
                "Tell her about the trip, the new flat and the cat.\n"
                "Then water the basil on the balcony before it wilts again, and write "
                "down her recipe for the sauce.")
MARGIN = 24  # around a window in its picture


class Shooter:
    def __init__(self, desktop, out, palette, scale):
        self.desktop, self.out, self.scale = desktop, out, scale
        self.env = {"QT_SCALE_FACTOR": str(scale), **({"GTK_THEME": "Adwaita:dark"} if palette == "dark" else {})}
        self.suffix = f"-{palette}" + ("@2x" if scale == 2 else "")
        self.written = []

    def shoot(self, name, rect, suffix=None):
        # No pointer over a control: a hovered button would look pressed.
        self.desktop.run(["xdotool", "mousemove", "0", str(self.desktop.height - 1)])
        path = self.out / f"{name}{self.suffix if suffix is None else suffix}.png"
        wait_until(lambda: settled(lambda: self.desktop.pixels(rect)), f"{name} to be drawn")
        self.desktop.run(["import", "-display", self.desktop.env["DISPLAY"], "-window", "root", "-crop",
                          f"{rect.width}x{rect.height}+{rect.x}+{rect.y}", "+repage", str(path)], check=True)
        self.written.append(path)

    def around(self, rect):
        """The rectangle with the panel above it, out to the screen's right edge."""
        left = max(0, rect.x - MARGIN)
        return Rect(left, 0, self.desktop.width - left, min(self.desktop.height, rect.bottom + MARGIN))

    def window(self, program, size):
        """The program's popover of that content size (in Qt's scaled pixels), once shown."""
        width, height = size[0] * self.scale, size[1] * self.scale
        return wait_until(lambda: self.desktop.window(program, lambda w: 0 <= w.rect.width - width <= 2 * self.scale
                          and w.rect.height - height >= w.rect.width - width), f"the popover of {size}").rect

    def open_settings(self, program, icon, size):
        # Through the keyboard: Change Photo is the first control of the photo popover, Settings the next.
        self.desktop.click(*icon.center)
        self.window(program, (250, 300))
        wait_until(lambda: self.desktop.grabs() == 2, "the photo popover to take pointer and keys")
        self.desktop.key("Tab", "Tab", "space")
        return self.window(program, size)


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
    with Desktop("panel") as desktop:
        shooter = Shooter(desktop, out, palette, scale)
        # The earlier edition first, with the values a first start shows.
        older = desktop.start("portraitperch", env=shooter.env)
        icon = desktop.find_tray_icon(older)
        shooter.shoot("settings-portraitperch", shooter.around(shooter.open_settings(older, icon, (300, 180))))
        stop_group(older)
        wait_until(lambda: desktop.tray_snapshot() == desktop.empty_tray, "the icon to leave the panel")

        # A kept photo, so that the notification carries one.
        write_store(desktop.env, {"SavedImageData": (DATA, PHOTO.read_bytes())})
        program = desktop.start("perchlight", env=shooter.env)
        icon = desktop.find_tray_icon(program)
        if (palette, scale) == VARIANTS[0]:
            # The panel draws the icon itself, the same in every variant.
            shooter.shoot("tray", Rect(desktop.width - 480, 0, 480, icon.bottom + 8), suffix="")
        desktop.click(*icon.center)
        shooter.shoot("popover", shooter.around(shooter.window(program, (250, 300))))
        desktop.key("Escape")

        write_store(desktop.env, {"popoverTitle": (STRING, LONG_TITLE), "notificationMessage": (STRING, LONG_MESSAGE)})
        shooter.shoot("settings", shooter.around(shooter.open_settings(program, icon, (300, 360))))

        # The settings open with Back focused; the preview is the last control before it.
        desktop.key("shift+Tab", "space")
        banner = wait_until(lambda: notification_window(desktop), "the preview notification on screen")
        left = max(0, banner.x - MARGIN)
        shooter.shoot("notification", Rect(left, 0, desktop.width - left, banner.bottom + MARGIN))
        desktop.run(["dunstctl", "close-all"])
        wait_until(lambda: notification_window(desktop) is None, "the notification to close")

        desktop.key("Tab", "space")
        titled = shooter.window(program, (250, 350))
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
