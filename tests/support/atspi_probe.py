#!/usr/bin/python3
"""Reads and drives one application's windows over AT-SPI, as a screen reader does.

    atspi_probe.py --serve
    atspi_probe.py <pid> windows
    atspi_probe.py <pid> tree [<window name>]
    atspi_probe.py <pid> focused
    atspi_probe.py <pid> do <window name> <role> <name> <action>

With --serve it stays running and answers queries on standard input, one
JSON array a line (["<pid>", "tree", "Settings"]), with one line of JSON on
standard output each, until its input ends: a test keeps one probe, so a query
costs the walk over the bus and not a Python start. Otherwise it answers the
query in its arguments and ends (by hand).

An answer is the application's top-level windows and the sheets drawn inside
them (dialogs a window holds, marked "embedded"); every showing node under
them (or under the named window) with its role, name, text, states, screen
extents and actions; the control that has the keyboard focus ({} while none
has: a walk that reads only states until it finds it); or the node an action
was done on. A missing
application, window or node answers {"error": ...} (and a query in the
arguments exits 1), and so does any other failure, with its reason; "acted":
true in it says the action was asked for before the failure (so it may have
been done). The windows change while they are read: a node that goes away
meanwhile is left out. Nothing is kept from one query to the next but the
connection: each query first drops what libatspi holds of the windows, so it
reads them as they are now. Needs the session bus of the application
(DBUS_SESSION_BUS_ADDRESS).
"""
import json
import sys
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# The bindings' notes on the interface getters they would have renamed go to
# the test's own output, where they are noise.
warnings.filterwarnings("ignore", category=DeprecationWarning)

# Each call waits this long for the application to answer (milliseconds),
# also once the probe has run a while: a busy machine answers late, and a
# call that gave up would end the probe without an answer.
CALL_TIMEOUT_MS = 20000


def application(pid):
    desktop = Atspi.get_desktop(0)
    desktop.clear_cache()
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


# Nodes that hold the focus of the control inside them rather than being one.
FOCUS_HOLDERS = ("frame", "dialog", "alert")


def focused_in(node, depth=0):
    """The first node of a walk from `node` that has the keyboard focus and is
    a control, asking each node only its states until one has; None when
    none has."""
    if depth > 60:
        return None
    try:
        states = node.get_state_set()
        if states.contains(Atspi.StateType.DEFUNCT) or (depth > 0 and not states.contains(Atspi.StateType.SHOWING)):
            return None
        if states.contains(Atspi.StateType.FOCUSED) and node.get_role_name() not in FOCUS_HOLDERS:
            return node
    except GLib.Error:  # gone meanwhile
        return None
    for child in children(node):
        found = focused_in(child, depth + 1)
        if found is not None:
            return found
    return None


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


class Failure(Exception):
    """A query that found no answer; `acted` says the action was asked for."""

    def __init__(self, message, acted=False):
        super().__init__(message)
        self.acted = acted

    def answer(self):
        out = {"error": str(self)}
        if self.acted:
            out["acted"] = True
        return out


def answer(args):
    """The answer to one query: [pid, command, arguments ...]."""
    if len(args) < 2:
        raise Failure("usage: <pid> windows|tree|do ...")
    try:
        pid = int(args[0])
    except ValueError:
        raise Failure("not a pid: %r" % (args[0],))
    app = application(pid)
    if app is None:
        raise Failure("no application with pid %s on the accessibility bus" % pid)
    command = args[1]
    if command == "windows" and len(args) == 2:
        tops = top_windows(app)
        listed = [info for _, info in described(tops)]
        embedded = []
        for window in tops:
            sheets_in(window, embedded)
        for _, info in described(embedded):
            info["embedded"] = True
            listed.append(info)
        return listed
    if command == "tree" and len(args) <= 3:
        roots = windows(app)
        if len(args) == 3:
            window = window_named(app, args[2])
            if window is None:
                raise Failure("no window named %r" % args[2])
            roots = [window]
        nodes = []
        for root in roots:
            walk(root, nodes)
        return [info for _, info in nodes]
    if command == "focused" and len(args) == 2:
        for root in windows(app):
            node = focused_in(root)
            if node is not None:
                return describe(node) or {}
        return {}
    if command == "do" and len(args) == 6:
        window_name, role, name, action_name = args[2:]
        roots = windows(app) if window_name == "*" else [window_named(app, window_name)]
        if roots == [None]:
            raise Failure("no window named %r" % window_name)
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
                    raise Failure("%s: %s" % (action_name, error.message), acted=True)
                info["done"] = bool(done)
                return info
        raise Failure("no showing %s named %r offering %r" % (role, name, action_name))
    raise Failure("unknown command %r" % (args[1:],))


def reply(args):
    """(answer, whether it is one) for a query; never raises."""
    try:
        return answer(args), True
    except Failure as failure:
        return failure.answer(), False
    except GLib.Error as error:  # the bus or the application did not answer
        return Failure("%s: %s" % (error.domain, error.message)).answer(), False


def serve(lines, out):
    """One answer line for each query line, until the input ends."""
    for line in lines:
        try:
            args = json.loads(line)
            if not isinstance(args, list):
                raise ValueError("not a list")
            args = [str(arg) for arg in args]
        except ValueError as error:
            answered = Failure("not a query: %s" % error).answer()
        else:
            answered, _ = reply(args)
        out.write(json.dumps(answered, ensure_ascii=False) + "\n")
        out.flush()


def main(argv):
    if argv[1:] == ["--serve"]:
        serve(sys.stdin, sys.stdout)
        return 0
    answered, ok = reply(argv[1:])
    print(json.dumps(answered, ensure_ascii=False))
    return 0 if ok else 1


if __name__ == "__main__":
    Atspi.set_timeout(CALL_TIMEOUT_MS, CALL_TIMEOUT_MS)
    sys.exit(main(sys.argv))
