"""The accessibility bus of a test desktop: what a screen reader sees of the programs.

    with Desktop("panel") as desktop, Accessibility(desktop) as a11y:
        program = desktop.start_program("perchlight", env=a11y.PROGRAM_ENV)
        button = a11y.wait_for(program, "Settings", role="push button")
        desktop.click(*button.center)

The reading is done by a11y_agent.py, started on the desktop's own session; the tests
click and type for real (xdotool) on the places it reports, and read back texts and states.
"""

import json
import subprocess
from dataclasses import dataclass
from pathlib import Path

from xscreen import DEFAULT_TIMEOUT, DesktopError, Rect, wait_until

AGENT = Path(__file__).resolve().parent / "a11y_agent.py"


@dataclass(frozen=True)
class Widget:
    handle: int
    role: str
    name: str
    rect: Rect
    actions: tuple
    window: int  # which top-level window of the program, in the order found
    showing: bool
    focused: bool
    checked: bool
    focusable: bool
    enabled: bool

    @property
    def center(self):
        return self.rect.center


class Accessibility:
    # Qt 6.4 joins the accessibility bus only when told to; the harness's NO_AT_BRIDGE is
    # meant for the panel, not for the program under test.
    PROGRAM_ENV = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "NO_AT_BRIDGE": None}

    def __init__(self, desktop):
        self.desktop = desktop
        self.agent = None

    def __enter__(self):
        # The first call on org.a11y.Bus starts the accessibility bus on this session.
        result = self.desktop.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                                   "/org/a11y/bus", "org.a11y.Bus.GetAddress"])
        if result.returncode != 0:
            raise DesktopError("no accessibility bus: " + result.stderr)
        with open(self.desktop.log_dir / "a11y_agent.err", "wb") as log:
            self.agent = subprocess.Popen(["/usr/bin/python3", str(AGENT)], env=self.desktop.env, text=True,
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log,
                                          start_new_session=True)
        if self._reply() != "ready":
            raise DesktopError("the accessibility agent did not start")
        return self

    def __exit__(self, *exc):
        if self.agent is not None:
            self.agent.stdin.close()
            try:
                self.agent.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.agent.kill()
                self.agent.wait()
            self.agent.stdout.close()
            self.agent = None
        return False

    def _reply(self):
        line = self.agent.stdout.readline()
        if not line:
            raise DesktopError("the accessibility agent ended: "
                               + (self.desktop.log_dir / "a11y_agent.err").read_text())
        reply = json.loads(line)
        if "error" in reply:
            raise DesktopError("accessibility: " + reply["error"])
        return reply["ok"]

    def _ask(self, **request):
        self.agent.stdin.write(json.dumps(request) + "\n")
        self.agent.stdin.flush()
        return self._reply()

    # -- reading ------------------------------------------------------------------------------

    def widgets(self, program, showing=True):
        """The program's accessible objects, depth first; by default only those on screen."""
        found = []
        for entry in self._ask(op="widgets", pid=program.pid):
            rect = Rect(*entry.pop("rect")) if entry["rect"] else Rect(0, 0, 0, 0)
            widget = Widget(rect=rect, actions=tuple(entry.pop("actions")), **entry)
            if widget.showing or not showing:
                found.append(widget)
        return found

    def find(self, program, name, role=None, showing=True):
        matches = [w for w in self.widgets(program, showing)
                   if w.name == name and (role is None or w.role == role)]
        return matches[0] if matches else None

    def wait_for(self, program, name, role=None, timeout=DEFAULT_TIMEOUT):
        """Waits until a widget of that accessible name is on screen, with a real size."""
        def look():
            widget = self.find(program, name, role)
            return widget if widget and widget.rect.width > 0 else None
        return wait_until(look, f"{role or 'a widget'} {name!r} of {program.name}", timeout)

    def focused(self, program):
        """The widget with the keyboard focus. Qt marks parts of it (a text area's viewport) and
        containers around it "focused" too, so the deepest one that takes the focus counts."""
        matches = [w for w in self.widgets(program) if w.focused and w.focusable]
        return matches[-1] if matches else None

    def text(self, widget):
        return self._ask(op="text", handle=widget.handle)

    def caret(self, widget):
        """Where the text cursor is in the widget, or None when it has no text."""
        return self._ask(op="caret", handle=widget.handle)

    # -- acting (for what has no place to click) ------------------------------------------------

    def do_action(self, widget, name):
        return self._ask(op="action", handle=widget.handle, name=name)

    def set_text(self, widget, text):
        return self._ask(op="set_text", handle=widget.handle, text=text)
