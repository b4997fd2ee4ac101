#!/usr/bin/python3
"""Reads and drives one application's windows over AT-SPI, as a screen reader does.

    atspi_probe.py <pid> windows
    atspi_probe.py <pid> tree [<window name>]
    atspi_probe.py <pid> do <window name> <role> <name> <action>

Prints one JSON document on standard output: the application's top-level
windows and the sheets drawn inside them (dialogs a window holds, marked
"embedded"); every showing node under them (or under the named window) with its
role, name, text, states, screen extents and actions; or the node an action
was done on. A missing application, window or node prints {"error": ...} and
exits 1, and so does any other failure, with its reason; "acted": true in it
says the action was asked for before the failure (so it may have been done).
The windows change while they are read: a node that goes away meanwhile is
left out. Needs the session bus of the application (DBUS_SESSION_BUS_ADDRESS).
"""
import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# Each call waits this long for the application to answer (milliseconds),
# also once the probe has run a while: a busy machine answers late, and a
# call that gave up would end the probe without an answer.
CALL_TIMEOUT_MS = 20000


def application(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:  # an application that went away meanwhile
            continue
    return None


def describe(node):
    """The node's role, name, states …; None when it has gone away."""
    try:
        return describe_live(node)
    except GLib.Error:
        return None


def describe_live(node):
    states = node.get_state_set()
    if states.contains(Atspi.StateType.DEFUNCT):
        return None
    info = {
        "role": node.get_role_name(),
        "name": node.get_name() or "",
        "description": node.get_description() or "",
        "checked": states.contains(Atspi.StateType.CHECKED),
        "enabled": states.contains(Atspi.StateType.ENABLED),
        "showing": states.contains(Atspi.StateType.SHOWING),
        "focused": states.contains(Atspi.StateType.FOCUSED),
    }
    component = node.get_component_iface()
    if component is not None:
        box = component.get_extents(Atspi.CoordType.SCREEN)
        info["extents"] = [box.x, box.y, box.width, box.height]
    text = node.get_text_iface()
    if text is not None:
        info["text"] = text.get_text(0, text.get_character_count())
    action = node.get_action_iface()
    if action is not None:
        info["actions"] = [action.get_action_name(i) for i in range(action.get_n_actions())]
    return info


def children(node):
    """The node's children still there; none when the node has gone away."""
    try:
        found = [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except GLib.Error:
        return []
    return [child for child in found if child is not None]


def top_windows(app):
    return children(app)


def sheets_in(node, out, depth=0):
    """The showing dialogs drawn inside a window (a sheet on its layer)."""
    if depth > 3:
        return
    for child in children(node):
        try:
            states = child.get_state_set()
            if states.contains(Atspi.StateType.DEFUNCT) or not states.contains(Atspi.StateType.SHOWING):
                continue
            if child.get_role_name() == "dialog":
                out.append(child)
        except GLib.Error:  # a node that went away meanwhile
            continue
        sheets_in(child, out, depth + 1)


def windows(app):
    """Top-level windows, then the sheets inside them."""
    tops = top_windows(app)
    embedded = []
    for window in tops:
        sheets_in(window, embedded)
    return tops + embedded


def walk(node, out, depth=0):
    if depth > 60:
        return
    info = describe(node)
    if info is None or (not info["showing"] and depth > 0):
        return
    out.append((node, info))
    for child in children(node):
        walk(child, out, depth + 1)


def described(nodes):
    """Each node with its description, those gone meanwhile left out."""
    return [(node, info) for node, info in ((node, describe(node)) for node in nodes) if info is not None]


def window_named(app, name):
    for window in windows(app):
        try:
            if (window.get_name() or "") == name:
                return window
        except GLib.Error:  # gone meanwhile
            continue
    return None


def fail(message):
    print(json.dumps({"error": message}, ensure_ascii=False))
    sys.exit(1)


def main(argv):
    if len(argv) < 3:
        fail("usage: atspi_probe.py <pid> windows|tree|do ...")
    app = application(int(argv[1]))
    if app is None:
        fail("no application with pid %s on the accessibility bus" % argv[1])
    command = argv[2]
    if command == "windows":
        tops = top_windows(app)
        listed = [info for _, info in described(tops)]
        embedded = []
        for window in tops:
            sheets_in(window, embedded)
        for _, info in described(embedded):
            info["embedded"] = True
            listed.append(info)
        print(json.dumps(listed, ensure_ascii=False))
        return
    if command == "tree":
        roots = windows(app)
        if len(argv) > 3:
            window = window_named(app, argv[3])
            if window is None:
                fail("no window named %r" % argv[3])
            roots = [window]
        nodes = []
        for root in roots:
            walk(root, nodes)
        print(json.dumps([info for _, info in nodes], ensure_ascii=False))
        return
    if command == "do" and len(argv) == 7:
        _, _, _, window_name, role, name, action_name = argv
        roots = windows(app) if window_name == "*" else [window_named(app, window_name)]
        if roots == [None]:
            fail("no window named %r" % window_name)
        nodes = []
        for root in roots:
            walk(root, nodes)
        for node, info in nodes:
            if info["role"] == role and info["name"] == name and action_name in info.get("actions", []):
                action = node.get_action_iface()
                index = info["actions"].index(action_name)
                try:
                    done = action.do_action(index)
                except GLib.Error as error:
                    print(json.dumps({"error": "%s: %s" % (action_name, error.message), "acted": True},
                                     ensure_ascii=False))
                    sys.exit(1)
                info["done"] = bool(done)
                print(json.dumps(info, ensure_ascii=False))
                return
        fail("no showing %s named %r offering %r" % (role, name, action_name))
    fail("unknown command %r" % command)


if __name__ == "__main__":
    Atspi.set_timeout(CALL_TIMEOUT_MS, CALL_TIMEOUT_MS)
    try:
        main(sys.argv)
    except GLib.Error as error:  # the bus or the application did not answer
        fail("%s: %s" % (error.domain, error.message))
