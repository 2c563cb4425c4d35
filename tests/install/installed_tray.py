"""The installed perchlight on a private desktop with a panel: its tray icon appears, and
"Start at Login" in the icon's menu writes and removes the autostart entry, reading the
entry afresh each time the menu opens.

Usage: installed_tray.py <installed perchlight>"""

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "desktop"))
from desktop import Desktop, wait_until  # noqa: E402


def choose_start_at_login(desktop, icon):
    # Open Photo, Settings, Start at Login, Exit.
    desktop.click(*icon.center, button=3)
    wait_until(desktop.pointer_grabbed, "the tray menu")
    for key in ("Down", "Down", "Down", "Return"):
        desktop.key(key)
    wait_until(lambda: not desktop.pointer_grabbed(), "the tray menu to close")


def main(program_path):
    with Desktop("panel") as desktop:
        program = desktop.start_program(program_path)
        icon = desktop.find_tray_icon(program)
        assert program.running(), program.stderr()
        print(f"tray icon of the installed {program.name} at {icon}")

        entry = desktop.config_home / "autostart" / "perchlight.desktop"
        choose_start_at_login(desktop, icon)
        text = wait_until(lambda: entry.exists() and entry.read_text(), "the autostart entry")
        # Not on PATH here, so the entry names the installed file itself.
        assert f"\nExec={program_path}\n" in text, text

        # Switched off by hand: the menu must show it off, so choosing it turns it on again.
        entry.write_text(text + "Hidden=true\n")
        choose_start_at_login(desktop, icon)
        wait_until(lambda: "Hidden" not in entry.read_text(), "the entry to be rewritten")

        choose_start_at_login(desktop, icon)
        wait_until(lambda: not entry.exists(), "the autostart entry to be removed")
        assert program.running(), program.stderr()
        print("Start at Login writes, rewrites and removes the autostart entry")


if __name__ == "__main__":
    main(sys.argv[1])
