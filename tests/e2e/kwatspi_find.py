#!/usr/bin/python3
"""Reads a running installer window through AT-SPI, as a screen reader does.

Usage: kwatspi_find.py PID SECONDS ROLE=NAME...

Finds the application of process PID on the accessibility bus and, within
SECONDS, every ROLE=NAME pair below it: ROLE is one of button, checkbox,
text (an edit box), link, combobox, progressbar; NAME the accessible name
(the text a reader speaks; a check box is named by its label).  Prints what
it found and exits 0 when everything was found, 1 when something was not,
2 when the application never showed up on the bus.
"""
import sys
import time

import pyatspi

ROLES = {
    "button": {pyatspi.ROLE_PUSH_BUTTON},
    "checkbox": {pyatspi.ROLE_CHECK_BOX},
    "text": {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT},
    "link": {pyatspi.ROLE_LINK},
    "combobox": {pyatspi.ROLE_COMBO_BOX},
    "progressbar": {pyatspi.ROLE_PROGRESS_BAR},
}


def walk(node, depth=0):
    if node is None or depth > 30:
        return
    yield node
    try:
        count = node.childCount
    except Exception:  # an object that went away while being read
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def main():
    pid = int(sys.argv[1])
    seconds = float(sys.argv[2])
    wanted = [arg.split("=", 1) for arg in sys.argv[3:]]
    end = time.time() + seconds
    app = None
    missing = wanted
    while time.time() < end:
        app = application(pid)
        if app is not None:
            seen = []
            for node in walk(app):
                try:
                    seen.append((node.getRole(), node.name, node))
                except Exception:
                    continue
            missing = []
            for role, name in wanted:
                hits = [n for r, nm, n in seen if r in ROLES[role] and nm == name]
                if hits:
                    states = hits[0].getState()
                    print("found %s %r%s" % (role, name,
                          " (checked)" if states.contains(pyatspi.STATE_CHECKED) else ""))
                else:
                    missing.append((role, name))
            if not missing:
                return 0
        time.sleep(0.5)
    if app is None:
        print("the application of process %d is not on the accessibility bus" % pid)
        return 2
    for role, name in missing:
        print("missing %s %r" % (role, name))
    print("objects seen:")
    for node in walk(app):
        try:
            print("  %s %r" % (node.getRoleName(), node.name))
        except Exception:
            pass
    return 1


if __name__ == "__main__":
    sys.exit(main())
