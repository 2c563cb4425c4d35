"""Reads the programs' widgets from the accessibility bus of one test desktop.

Run by a11y.py with the desktop's environment, as a process of its own: a process reaches
only the accessibility bus it first connected to, and each desktop has its own. It answers
one JSON request per line on standard input with one JSON line on standard output.

Popup windows (the transient photo popover) are not children of their application in the
accessibility tree; they are found through the "showing" events they send when they open,
so this process listens from its start, before any popover opens.
"""

import json
import sys

import pyatspi
from gi.repository import GLib

# Roots of popup windows seen showing, by process id.
popup_roots = {}
# Accessible objects handed out, by handle.
handles = []

STATES = {"showing": pyatspi.STATE_SHOWING, "focused": pyatspi.STATE_FOCUSED, "checked": pyatspi.STATE_CHECKED,
          "focusable": pyatspi.STATE_FOCUSABLE, "enabled": pyatspi.STATE_ENABLED}


def top_of(accessible):
    """The window-level ancestor: the child of the application."""
    node = accessible
    while node.parent is not None and node.parent.getRole() != pyatspi.ROLE_APPLICATION:
        node = node.parent
    return node if node.parent is not None else None


def on_showing(event):
    try:
        root = top_of(event.source)
        if root is None:
            return
        pid = root.get_process_id()
        roots = popup_roots.setdefault(pid, [])
        if all(root != known for known in roots):
            roots.append(root)
    except Exception:  # an object gone while the event travelled
        pass


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def describe(accessible):
    # Names and states are cached by the library; a label's new text would go unseen.
    accessible.clear_cache()
    handles.append(accessible)
    states = accessible.getState()
    try:
        extents = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        rect = [extents.x, extents.y, extents.width, extents.height]
    except NotImplementedError:
        rect = None
    try:
        action = accessible.queryAction()
        actions = [action.getName(i) for i in range(action.nActions)]
    except NotImplementedError:
        actions = []
    return {"handle": len(handles) - 1, "role": accessible.getRoleName(), "name": accessible.name or "",
            "rect": rect, "actions": actions,
            **{name: states.contains(state) for name, state in STATES.items()}}


def widgets(pid):
    """Every accessible object of the program's windows, depth first (reading order)."""
    found = []
    app = application(pid)
    roots = list(app) if app is not None else []
    roots += [r for r in popup_roots.get(pid, []) if all(r != known for known in roots)]

    def visit(node, window):
        if node is None:
            return
        entry = describe(node)
        entry["window"] = window
        found.append(entry)
        for child in node:
            visit(child, window)

    for index, root in enumerate(roots):
        try:
            visit(root, index)
        except Exception:  # a window closed and destroyed while being read
            continue
    return found


def text_of(accessible):
    try:
        text = accessible.queryText()
        return text.getText(0, -1)
    except NotImplementedError:
        return accessible.name or ""


def handle(request):
    op = request["op"]
    if op == "widgets":
        return widgets(request["pid"])
    target = handles[request["handle"]]
    if op == "text":
        return text_of(target)
    if op == "caret":
        try:
            return target.queryText().caretOffset
        except NotImplementedError:
            return None
    if op == "action":
        action = target.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        return action.doAction(names.index(request["name"]))
    if op == "set_text":
        return target.queryEditableText().setTextContents(request["text"])
    if op == "value":
        return target.queryValue().currentValue
    raise ValueError(f"unknown request {op!r}")


def on_input(source, condition):
    line = sys.stdin.readline()
    if not line:
        pyatspi.Registry.stop()
        return False
    try:
        reply = {"ok": handle(json.loads(line))}
    except Exception as error:  # reported to the test, which decides
        reply = {"error": f"{type(error).__name__}: {error}"}
    sys.stdout.write(json.dumps(reply) + "\n")
    sys.stdout.flush()
    return True


def main():
    pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    print(json.dumps({"ok": "ready"}), flush=True)
    pyatspi.Registry.start()


if __name__ == "__main__":
    main()
