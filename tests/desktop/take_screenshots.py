"""Writes the README's screenshots to docs/screenshots/: the tray and the open photo popover
of Perchlight on the panel of the test desktop. Run it after a build:

    /usr/bin/python3 tests/desktop/take_screenshots.py
"""

import sys
from pathlib import Path

from desktop import Desktop, Rect, wait_until

OUT = Path(__file__).resolve().parent.parent.parent / "docs" / "screenshots"
# The top right corner of the screen: the tray and a popover hanging from it.
CORNER = Rect(1280 - 480, 0, 480, 420)


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    with Desktop("panel") as desktop:
        program = desktop.start_program("perchlight")
        icon = desktop.find_tray_icon(program)
        desktop.screenshot(OUT / "tray.png", Rect(1280 - 480, 0, 480, icon.bottom + 8))
        desktop.click(*icon.center)
        desktop.wait_for_window(program, lambda w: w.rect.width >= 250, "the photo popover")
        wait_until(desktop.pointer_grabbed, "the popover to be up")
        desktop.run(["xdotool", "mousemove", "0", "0"])  # no pointer over the picture
        desktop.screenshot(OUT / "popover.png", CORNER)
    for name in ("tray.png", "popover.png"):
        print(OUT / name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
