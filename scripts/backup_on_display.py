#!/usr/bin/python3
"""A black-box run of the built application on a display of its own.

Xvfb, a private D-Bus session and an AT-SPI bus of its own; the application
is a copy of build/tollamere with its own resource bundle (a registry of two
test agents), under a temporary HOME, with fake xdg-open, notify-send and
systemctl first on PATH. It is driven through the accessibility interface,
as a screen reader drives it:

  set up the encrypted image, back up (a file whose name is not UTF-8 is
  stored, a link and a FIFO in the agents' folders are not, and the sheet
  names them), quit by SIGTERM while a backup's gocryptfs is mounting (the
  application ends at once and nothing stays mounted), delete the agents'
  data, restore one agent, change its data (a read-only folder the restore
  put back among it) and restore all over it, and check every file's
  content, name and permission bits; then a reading of
  the backup whose password prompt is cancelled (the sheet offers the prompt
  again), and restores with a cancelled prompt and a wrong password, each of
  which must say so in the restore sheet.

Screenshots go to docs/screenshots/blackbox-*.png (or the folder given as
the first argument). Everything it starts is stopped by pid and everything
it made is removed at the end. Run: scripts/backup_on_display.py
"""

import json
import os
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("TLR_BUILD_DIR", os.path.join(ROOT, "build"))
SHOTS = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "docs", "screenshots")
PASSWORD = "blackbox-pass-42"

# (relative path, content, mode) of each agent's data.
DATA = {
    ".alpha/skills/summarise.md": (b"# summarise\n", 0o644),
    ".alpha/bin/run.sh": (b"#!/bin/sh\necho alpha\n", 0o755),
    ".alpha/keys/token": (b"secret-token\n", 0o640),
    ".alpha/memories/notes.md": (b"remember the milk\n", 0o600),
    # In a folder its owner may not write, and a name beginning with "..".
    ".alpha/frozen/kept.md": (b"in a read-only folder\n", 0o644),
    ".alpha/..hidden": (b"two dots, then a name\n", 0o600),
    ".beta/sessions/s1.json": (b'{"session": 1}\n', 0o600),
    "Documents/app/notes.md": (b"documents app\n", 0o644),
    "Code/app/main.c": (b"int main(void) { return 0; }\n", 0o644),
}


# A file whose name is not valid UTF-8 (stored and restored byte for byte),
# and what is no regular file: never stored, named by the backup sheet.
ODD_NAME = b".alpha/memories/caf\xe9 \xff notes.md"
ODD_CONTENT = b"latin-1 and worse\n"
LINK = ".alpha/link-to-notes"
FIFO = ".beta/pipe"
# What this user may not read (the application runs without root's file
# capabilities): never stored, named, the backup said to be incomplete. An
# empty folder and a path longer than the system takes whole: both come back.
UNREADABLE = ".alpha/root-leftover.json"
EMPTY = ".beta/empty-folder"
LONG_TOP = ".beta/deep"
LONG_PARTS = [("%c" % (ord("a") + i)) * 199 for i in range(25)] + ["far.json"]
LONG_CONTENT = b"far down\n"
# A folder its owner may not write (0555), as the restore puts it back.
FROZEN = ".alpha/frozen"


def agent(agent_id, name, paths):
    return {
        "id": agent_id,
        "displayName": name,
        "vendor": "Test",
        "kind": "cli",
        "identify": {"executableNames": ["tlr-no-such-" + agent_id]},
        "backup": {"includePaths": paths},
    }


# Beta's name is 80 characters, wider than the restore sheet.
LONG_BETA = "Beta Agent, whose name is longer than any sheet of Tollamere is wide "
LONG_BETA += "b" * (80 - len(LONG_BETA))

REGISTRY = {
    "schemaVersion": 1,
    "updatedAt": "2026-01-01",
    "agents": [
        agent("alpha", "Alpha Agent", ["~/.alpha"]),
        agent("beta", LONG_BETA, ["~/.beta", "~/Documents/app", "~/Code/app"]),
    ],
}


class Run:
    def __init__(self):
        self.tmp = tempfile.mkdtemp(prefix="tlr-blackbox-")
        self.home = os.path.join(self.tmp, "home")
        self.children = []  # Popen objects, stopped in reverse order
        self.failures = []

    # ---- the world ----------------------------------------------------

    def prepare(self):
        os.makedirs(self.home)
        for rel, (content, mode) in DATA.items():
            path = os.path.join(self.home, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)
            os.chmod(path, mode)
        os.chmod(os.path.join(self.home, FROZEN), 0o555)
        self.make_odd()
        config = os.path.join(self.home, ".config", "Tollamere")
        os.makedirs(config)
        with open(os.path.join(config, "defaults.json"), "w") as f:
            json.dump({"TLR.language": "en", "TLR.hasShownStatusItemOnboarding": True,
                       "TLR.selfGuard.asked": True}, f)
        app = os.path.join(self.tmp, "app")
        os.makedirs(app)
        shutil.copy2(os.path.join(BUILD, "tollamere"), app)
        bundle = os.path.join(app, "Tollamere_Tollamere.bundle")
        shutil.copytree(os.path.join(BUILD, "Tollamere_Tollamere.bundle"), bundle)
        with open(os.path.join(bundle, "registry.json"), "w") as f:
            json.dump(REGISTRY, f)
        self.exe = os.path.join(app, "tollamere")
        fakes = os.path.join(self.tmp, "bin")
        os.makedirs(fakes)
        # gocryptfs itself, held at its start while a file says so (once),
        # until the gate (a FIFO) is opened; then it mounts, and the attach
        # is held on from there until it is ended: a signal can be sent while
        # the image is mounted but the attach not yet done, however fast the
        # mount and the backup after it would have been.
        self.arm = os.path.join(self.tmp, "hold-next-mount")
        self.held = os.path.join(self.tmp, "mount-held")
        self.gate = os.path.join(self.tmp, "mount-gate")
        os.mkfifo(self.gate, 0o600)
        real = shutil.which("gocryptfs")
        held = ("if [ -e '%s' ]; then rm -f '%s'; : > '%s'; read -r _ < '%s'\n"
                "  '%s' \"$@\"; status=$?; [ $status -eq 0 ] && sleep 600; exit $status\nfi\nexec '%s' \"$@\""
                % (self.arm, self.arm, self.held, self.gate, real, real))
        for name, body in (("xdg-open", "exit 0"), ("notify-send", "exit 0"), ("systemctl", "exit 1"),
                           ("gocryptfs", held)):
            path = os.path.join(fakes, name)
            with open(path, "w") as f:
                f.write("#!/bin/sh\n" + body + "\n")
            os.chmod(path, 0o755)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("XDG_") and not k.startswith("TLR_") and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(HOME=self.home, PATH=fakes + ":/usr/bin:/bin", LANG="C.UTF-8",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1", TMPDIR=self.tmp)
        self.env = env

    def make_odd(self):
        with open(os.path.join(os.fsencode(self.home), ODD_NAME), "wb") as f:
            f.write(ODD_CONTENT)
        os.symlink("memories/notes.md", os.path.join(self.home, LINK))
        os.mkfifo(os.path.join(self.home, FIFO), 0o600)
        with open(os.path.join(self.home, UNREADABLE), "wb") as f:
            f.write(b"{}")
        os.chmod(os.path.join(self.home, UNREADABLE), 0)
        os.makedirs(os.path.join(self.home, EMPTY))
        self.long_path(write=True)

    def long_path(self, write=False):
        """Writes or reads the file LONG_PARTS names below LONG_TOP, each
        folder opened relative to the one before (the path is longer than the
        system takes whole). Its content, or None."""
        fd = os.open(os.path.join(self.home, LONG_TOP), os.O_RDONLY | os.O_DIRECTORY) if not write else None
        try:
            if write:
                os.makedirs(os.path.join(self.home, LONG_TOP))
                fd = os.open(os.path.join(self.home, LONG_TOP), os.O_RDONLY | os.O_DIRECTORY)
            for part in LONG_PARTS[:-1]:
                if write:
                    os.mkdir(part, dir_fd=fd)
                nxt = os.open(part, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW, dir_fd=fd)
                os.close(fd)
                fd = nxt
            flags = os.O_WRONLY | os.O_CREAT if write else os.O_RDONLY
            f = os.open(LONG_PARTS[-1], flags, 0o644, dir_fd=fd)
            try:
                if write:
                    os.write(f, LONG_CONTENT)
                    return LONG_CONTENT
                return os.read(f, 4096)
            finally:
                os.close(f)
        except OSError:
            return None
        finally:
            if fd is not None:
                os.close(fd)

    def odd_restored(self):
        try:
            with open(os.path.join(os.fsencode(self.home), ODD_NAME), "rb") as f:
                return f.read() == ODD_CONTENT
        except OSError:
            return False

    def start(self, args, env=None, **kw):
        p = subprocess.Popen(args, env=env or self.env, **kw)
        self.children.append(p)
        return p

    def start_display(self):
        # As tests/support/XvfbServer starts it: -displayfd (the server picks
        # a free display and names it once it takes clients), -noreset (a
        # server resets, dropping every client, the window manager too, when
        # its last client leaves), and in a session of its own, so that no
        # signal meant for this process group reaches it. What it says is
        # kept for a failure message.
        r, w = os.pipe()
        self.xvfb_err = os.path.join(self.tmp, "xvfb.err")
        with open(self.xvfb_err, "wb") as err:
            self.xvfb = self.start(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                                    "-noreset"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=err,
                                   start_new_session=True)
        os.close(w)
        self.display_number = None
        number = b""
        deadline = time.time() + 60
        while not number.endswith(b"\n") and time.time() < deadline:
            ready, _, _ = select.select([r], [], [], max(0.0, deadline - time.time()))
            if not ready:
                break
            chunk = os.read(r, 16)
            if not chunk:  # the server ended without naming a display
                break
            number += chunk
        os.close(r)
        if not number.endswith(b"\n") or not number.strip().isdigit():
            raise RuntimeError("Xvfb named no display (it said %r)\n%s" % (number, self.display_state()))
        self.display_number = number.decode().strip()
        self.env["DISPLAY"] = ":" + self.display_number
        if shutil.which("openbox"):
            # A window manager, as on a desktop: frames, title bars, placement.
            self.start(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The buses' sockets go into a folder of the run's (the accessibility
        # bus's launcher puts its own in XDG_RUNTIME_DIR), and with it when the
        # run ends, whatever ended the daemons. The application itself runs
        # without XDG_RUNTIME_DIR, its image mounted in the home folder.
        sockets = os.path.join(self.tmp, "buses")
        os.mkdir(sockets, 0o700)
        buses = dict(self.env, XDG_RUNTIME_DIR=sockets)
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                          "--address=unix:dir=" + sockets], env=buses, stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        os.environ["DISPLAY"] = self.env["DISPLAY"]
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        self.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=dict(buses, **{
            "DBUS_SESSION_BUS_ADDRESS": self.env["DBUS_SESSION_BUS_ADDRESS"]}), stderr=subprocess.DEVNULL)
        # The application asks the session bus for the accessibility bus as it
        # starts: the launcher has taken its name first.
        deadline = time.time() + 30
        while time.time() < deadline:
            owned = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                    "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                    "string:org.a11y.Bus"], env=self.env, capture_output=True, text=True)
            if "boolean true" in owned.stdout:
                break
            time.sleep(0.05)

    def display_state(self):
        """What the X server is doing, for a failure message: whether it
        runs, what it said, whether its sockets are there and whether it
        answers a client."""
        lines = []
        code = self.xvfb.poll()
        lines.append("Xvfb pid %d: %s" % (self.xvfb.pid, "running" if code is None else "ended with %d" % code))
        try:
            with open(self.xvfb_err, "rb") as f:
                said = f.read().decode("utf-8", "replace").strip()
        except OSError:
            said = ""
        lines.append("Xvfb said: " + (said[-2000:] if said else "nothing"))
        if self.display_number is not None:
            path = "/tmp/.X11-unix/X" + self.display_number
            with open("/proc/net/unix") as f:
                names = {line.split()[-1] for line in f if len(line.split()) >= 8}
            lines.append("socket %s: %s; abstract @%s: %s" % (
                path, "there" if os.path.exists(path) else "missing", path,
                "listening" if "@" + path in names else "missing"))
            try:
                answer = subprocess.run(["xprop", "-root", "-len", "0", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                        capture_output=True, text=True, timeout=30)
                lines.append("xprop -root on :%s: exit %d %s" % (self.display_number, answer.returncode,
                                                                 (answer.stdout + answer.stderr).strip()))
            except subprocess.TimeoutExpired:
                lines.append("xprop -root on :%s: no answer within 30 s" % self.display_number)
        return "\n".join(lines)

    def start_app(self):
        self.log = open(os.path.join(self.tmp, "app.log"), "wb")
        # As an ordinary user meets permissions: without root's capabilities
        # to read, enter and write what permission bits refuse.
        self.app = self.start(["setpriv", "--bounding-set=-dac_override,-dac_read_search,-fowner", "--", self.exe],
                              stdout=self.log, stderr=subprocess.STDOUT)

    def stop(self):
        for p in reversed(self.children):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.children = []

    def mount_point(self):
        return os.path.join(self.home, ".local/share/Tollamere/Volumes/TLR 备份")

    def mounted(self):
        with open("/proc/self/mountinfo") as f:
            return any(line.split(" ")[4].replace("\\040", " ") == self.mount_point() for line in f)

    def crypt_processes(self, daemon=False):
        """The gocryptfs processes working on the mount point (the daemon a
        mount forks runs under the same name; with `daemon`, only that one),
        leaving out ended ones waiting to be reaped."""
        found = []
        point = os.fsencode(self.mount_point())
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/stat" % entry, "rb") as f:
                    line = f.read()
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    args = f.read().split(b"\0")
            except OSError:
                continue
            after = line.rfind(b")")
            if b"(gocryptfs)" not in line or line[after + 2:after + 3] == b"Z" or point not in args:
                continue
            if not daemon or b"-fg" in args:
                found.append(int(entry))
        return found

    def app_log_tail(self, lines=60):
        self.log.flush()
        with open(os.path.join(self.tmp, "app.log"), "rb") as f:
            tail = f.read().decode("utf-8", "replace").splitlines()[-lines:]
        sys.stderr.write("---- the application's last %d lines\n%s\n" % (len(tail), "\n".join(tail)))
        for pid in self.crypt_processes():
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                sys.stderr.write("gocryptfs %d: %s\n" % (pid, f.read().replace(b"\0", b" ").decode("utf-8", "replace")))

    def clean(self):
        self.stop()
        if self.mounted():
            subprocess.run(["fusermount3", "-u", os.path.join(self.home, ".local/share/Tollamere/Volumes/TLR 备份")])
        shutil.rmtree(self.tmp, ignore_errors=True)

    # ---- looking and acting -------------------------------------------

    def shot(self, name):
        os.makedirs(SHOTS, exist_ok=True)
        path = os.path.join(SHOTS, "blackbox-" + name + ".png")
        subprocess.run(["import", "-window", "root", path], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def application(self):
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            candidate = desktop.get_child_at_index(i)
            try:
                if candidate.get_process_id() == self.app.pid:
                    return candidate
            except Exception:
                pass
        return None

    def find_all(self, predicate, node=None, depth=0, found=None):
        found = [] if found is None else found
        node = node or self.application()
        if node is None or depth > 40:
            return found
        try:
            if predicate(node):
                found.append(node)
            count = node.get_child_count()
        except Exception:
            return found
        for i in range(count):
            try:
                child = node.get_child_at_index(i)
            except Exception:
                continue
            if child is not None:
                self.find_all(predicate, child, depth + 1, found)
        return found

    @staticmethod
    def showing(node):
        try:
            return node.get_state_set().contains(Atspi.StateType.SHOWING)
        except Exception:
            return False

    def named(self, name, role=None):
        def matches(node):
            try:
                return (node.get_name() == name and (role is None or node.get_role_name() == role)
                        and self.showing(node))
            except Exception:
                return False
        return self.find_all(matches)

    def wait_for(self, what, condition, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            result = condition()
            if result:
                return result
            time.sleep(0.2)
        raise RuntimeError("timed out waiting for " + what)

    def wait_named(self, name, role=None, timeout=60):
        return self.wait_for(repr(name), lambda: self.named(name, role), timeout)[0]

    def press(self, name, timeout=60):
        def enabled():
            for node in self.named(name):
                try:
                    if node.get_state_set().contains(Atspi.StateType.ENABLED):
                        return node
                except Exception:
                    pass
            return None
        node = self.wait_for("enabled " + repr(name), enabled, timeout)
        action = node.get_action_iface()
        for i in range(action.get_n_actions()):
            if action.get_action_name(i) in ("Press", "press", "click", "Toggle"):
                action.do_action(i)
                return
        action.do_action(0)

    def focused(self):
        def has_focus(node):
            try:
                return (node.get_state_set().contains(Atspi.StateType.FOCUSED)
                        and node.get_role_name() not in ("frame", "dialog", "alert"))
            except Exception:
                return False
        found = self.find_all(has_focus)
        return found[0] if found else None

    def ring_around(self, node):
        """Whether the screen shows the light scheme's accent ring (#3B82F6)
        along `node`: at least half its outline in pixels of that colour."""
        x, y, w, h = self.extents(node)
        path = os.path.join(self.tmp, "ring.png")
        subprocess.run(["import", "-window", "root", path], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        dump = subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "txt:-"],
                              capture_output=True, text=True).stdout
        near = 0
        for line in dump.splitlines()[1:]:
            rgb = line.split("(", 1)[1].split(")", 1)[0].split(",")[:3] if "(" in line else []
            if len(rgb) == 3:
                r, g, b = (float(v) for v in rgb)
                near += abs(r - 59) <= 10 and abs(g - 130) <= 10 and abs(b - 246) <= 10
        return near >= w + h

    @staticmethod
    def extents(node):
        box = node.get_component_iface().get_extents(Atspi.CoordType.SCREEN)
        return (box.x, box.y, box.width, box.height)

    def type_into(self, node, text):
        editable = node.get_editable_text_iface()
        editable.set_text_contents(text)

    def fields(self):
        return self.find_all(lambda n: n.get_role_name() in ("password text", "text", "entry") and self.showing(n))

    def texts(self):
        names = []
        for node in self.find_all(lambda n: n.get_role_name() in ("label", "static") and self.showing(n)):
            try:
                if node.get_name():
                    names.append(node.get_name())
            except Exception:
                pass
        return names

    def check(self, what, ok, detail=""):
        print(("✓ " if ok else "✗ ") + what + ("" if ok else ": " + detail), flush=True)
        if not ok:
            self.failures.append(what)

    def data_as_backed_up(self, rels):
        bad = []
        for rel in rels:
            content, mode = DATA[rel]
            path = os.path.join(self.home, rel)
            try:
                with open(path, "rb") as f:
                    same = f.read() == content
                got = stat.S_IMODE(os.lstat(path).st_mode)
            except OSError as e:
                bad.append(rel + " (" + e.strerror + ")")
                continue
            if not same or got != mode:
                bad.append("%s (mode %o, want %o)" % (rel, got, mode) if same else rel + " (content)")
        return bad


def dump(run):
    for node in run.find_all(lambda n: bool(n.get_name()) and run.showing(n)):
        print(node.get_role_name(), repr(node.get_name()))


def main():
    run = Run()
    try:
        run.prepare()
        run.start_display()
        run.start_app()
        try:
            run.wait_for("the application on the accessibility bus", run.application, 60)
            time.sleep(2)
            if os.environ.get("TLR_BLACKBOX_DUMP"):
                dump(run)
                return 0
            scenario(run)
        except Exception:
            # What the application said up to the failure, the image's
            # processes and the X server's state: the traceback alone tells
            # only which wait gave up.
            run.app_log_tail()
            sys.stderr.write("---- the display\n%s\n" % run.display_state())
            raise
    finally:
        run.clean()
    print("PASS" if not run.failures else "FAIL: " + ", ".join(run.failures))
    return 0 if not run.failures else 1


ALPHA = [rel for rel in DATA if rel.startswith(".alpha/")]
BETA = [rel for rel in DATA if not rel.startswith(".alpha/")]


def remove_data(run, rels):
    for rel in rels:
        os.remove(os.path.join(run.home, rel))
    if any(rel.startswith(".alpha/") for rel in rels):
        for odd in (os.path.join(os.fsencode(run.home), ODD_NAME), os.path.join(run.home, LINK).encode(),
                    os.path.join(run.home, UNREADABLE).encode()):
            if os.path.lexists(odd):
                os.remove(odd)
    if any(rel.startswith(".beta/") for rel in rels) and os.path.lexists(os.path.join(run.home, FIFO)):
        os.remove(os.path.join(run.home, FIFO))
    if any(rel.startswith(".beta/") for rel in rels):
        # Removed through folder descriptors: the path is too long for a name.
        shutil.rmtree(os.path.join(run.home, LONG_TOP))
        os.rmdir(os.path.join(run.home, EMPTY))
    for top in (".alpha", ".beta", "Documents/app", "Code/app"):
        path = os.path.join(run.home, top)
        if os.path.isdir(path) and all(not files for _, _, files in os.walk(path)):
            for folder, _, _ in os.walk(path):
                os.chmod(folder, 0o755)
            shutil.rmtree(path)


def folder_mode(run, rel):
    try:
        return stat.S_IMODE(os.lstat(os.path.join(run.home, rel)).st_mode)
    except OSError:
        return -1


def open_restore(run):
    run.press("Backup & Restore")
    run.press("Restore from backup")
    return run.wait_for("the restore sheet's agents", lambda: run.named("Restore Alpha Agent"), 60)


def confirm(run, label):
    run.press(label)
    run.wait_named("Cancel", "push button")
    # The question opens with the keyboard on Cancel, its ring showing as the
    # window manager activates it.
    on_cancel = run.wait_for("the keyboard on Cancel",
                             lambda: (lambda n: n if n is not None and n.get_name() == "Cancel" else None)(run.focused()), 30)
    try:
        ringed = bool(run.wait_for("the ring on Cancel", lambda: run.ring_around(on_cancel), 10))
    except RuntimeError:
        ringed = False
    run.check("the question about " + repr(label) + " opens with the ring on Cancel", ringed)
    time.sleep(0.3)
    run.press("Restore" if label.startswith("Restore ") and label != "Restore all at once" else "Restore all")


def outcome(run, predicate, timeout=90):
    return run.wait_for("the restore's outcome line",
                        lambda: next((t for t in run.texts() if predicate(t)), None), timeout)


def restart(run):
    run.app.send_signal(signal.SIGTERM)
    run.app.wait(10)
    run.start_app()
    run.wait_for("the application on the accessibility bus", run.application, 60)
    time.sleep(2)


def close_sheet(run):
    run.press("Close")
    time.sleep(0.8)


def scenario(run):
    # Set up: the backup sheet offers the first-time setup.
    run.press("Backup & Restore")
    run.wait_named("Set up encrypted image")
    run.shot("1-no-volume")
    run.press("Set up encrypted image")
    run.press("Next")
    fields = run.wait_for("the two password fields", lambda: len(run.fields()) >= 2 and run.fields())
    for field in fields[:2]:
        run.type_into(field, PASSWORD)
    time.sleep(0.5)
    run.shot("2-setup-password")
    run.press("Create encrypted image")
    image = os.path.join(run.home, "TLR 备份.sparsebundle")
    run.wait_for("the image", lambda: os.path.exists(os.path.join(image, "gocryptfs.conf")), 120)
    run.wait_for("the volume card", lambda: not run.named("Set up encrypted image"), 60)
    run.check("the encrypted image is set up", True)

    # Back up both agents: what is no regular file is named.
    run.press("Back up now")
    run.wait_for("the backup's record", lambda: "2" in run.texts() and not run.named("Backing up…"), 120)
    left_out = run.wait_for("what was left out", lambda: next(
        (t for t in run.texts() if "Not backed up: " in t), None), 30)
    time.sleep(0.5)
    run.shot("3-backed-up")
    run.check("the sheet names the link and the FIFO it left out",
              "Not backed up: 2 items that are not regular files" in left_out and "~/" + LINK in left_out and "~/" + FIFO in left_out,
              left_out)
    run.check("the sheet names what could not be read and says the backup is incomplete",
              left_out.startswith("This backup is incomplete.") and
              "Not backed up, not readable: 1 item this user may not read: ~/" + UNREADABLE in left_out, left_out)
    run.check("no plain copy is left in the home folder",
              not [n for n in os.listdir(run.home) if n.startswith(".tollamere-")])
    run.check("the volume is detached after the backup", not run.mounted())

    # Quit by SIGTERM while the next backup's gocryptfs is still mounting:
    # the application ends at once, and nothing stays mounted or running.
    open(run.arm, "w").close()
    run.press("Back up now")
    run.wait_for("gocryptfs at its start", lambda: os.path.exists(run.held), 60)
    with open(run.gate, "w") as gate:
        gate.write("go\n")
    run.wait_for("gocryptfs's daemon", lambda: run.crypt_processes(daemon=True), 60)
    started = time.time()
    run.app.send_signal(signal.SIGTERM)
    try:
        run.app.wait(10)
    except subprocess.TimeoutExpired:
        pass
    took = time.time() - started
    run.check("quitting while the image is being mounted ends the application at once (%.1f s)" % took,
              run.app.poll() is not None and took < 5, "%.1f s" % took)
    run.check("nothing stays mounted after it", not run.mounted())
    run.check("no gocryptfs of it outlives it", not run.crypt_processes(), str(run.crypt_processes()))
    run.start_app()
    run.wait_for("the application on the accessibility bus", run.application, 60)
    time.sleep(2)

    # Delete everything, restore one agent, then all.
    remove_data(run, list(DATA))
    open_restore(run)
    run.shot("4-restore-sheet")
    # Beta's long name: every agent's short button and the rest lie on the
    # sheet, and the button is named after the whole name.
    sheet = run.extents(run.wait_named("Restore from backup", "dialog"))
    buttons = run.find_all(lambda n: n.get_role_name() == "push button" and run.showing(n)
                           and (n.get_name() or "").startswith("Restore "))

    def inside(box):
        return (box[0] >= sheet[0] and box[1] >= sheet[1] and box[0] + box[2] <= sheet[0] + sheet[2]
                and box[1] + box[3] <= sheet[1] + sheet[3])
    outside = [b.get_name() for b in buttons if not inside(run.extents(b))]
    run.check("every Restore button lies on the sheet", len(buttons) >= 3 and not outside, ", ".join(outside))
    run.check("the long-named agent's button is named after it", bool(run.named("Restore " + LONG_BETA, "push button")))
    confirm(run, "Restore Alpha Agent")
    outcome(run, lambda t: t.startswith("✓ Restored"))
    run.shot("5-restored-one")
    run.check("Alpha Agent's files come back with their content and modes", not run.data_as_backed_up(ALPHA),
              ", ".join(run.data_as_backed_up(ALPHA)))
    run.check("a file whose name is not UTF-8 comes back under its own name", run.odd_restored())
    run.check("the link is not brought back", not os.path.lexists(os.path.join(run.home, LINK)))
    run.check("Beta Agent's files stay away after restoring Alpha alone",
              not os.path.exists(os.path.join(run.home, ".beta")))
    run.check("the read-only folder comes back read-only", folder_mode(run, FROZEN) == 0o555,
              "%o" % folder_mode(run, FROZEN))
    # Restore all over what the first restore put back: changed files, one
    # of them in the read-only folder it made.
    frozen = os.path.join(run.home, FROZEN)
    os.chmod(frozen, 0o755)
    for rel in (FROZEN + "/kept.md", ".alpha/..hidden"):
        with open(os.path.join(run.home, rel), "wb") as f:
            f.write(b"changed since the backup\n")
    os.chmod(frozen, 0o555)
    confirm(run, "Restore all at once")
    outcome(run, lambda t: t == "✓ Restored all agents")
    run.shot("6-restored-all")
    run.check("every file comes back with its content and mode, over the restored read-only folder too",
              not run.data_as_backed_up(list(DATA)), ", ".join(run.data_as_backed_up(list(DATA))))
    run.check("the read-only folder keeps its mode", folder_mode(run, FROZEN) == 0o555,
              "%o" % folder_mode(run, FROZEN))
    run.check("an empty folder comes back", os.path.isdir(os.path.join(run.home, EMPTY)))
    run.check("a path of %d bytes comes back" % len("/".join([LONG_TOP] + LONG_PARTS)),
              run.long_path() == LONG_CONTENT)
    run.check("the volume is detached after the restores", not run.mounted())
    close_sheet(run)

    # A restore that cannot unlock the volume says so in the sheet. With no
    # stored password the sheet asks to read the backup; cancelled, it says so.
    vault = os.path.join(run.home, ".local/share/Tollamere/.pwd.vault")
    os.remove(vault)
    restart(run)
    run.press("Backup & Restore")
    run.press("Restore from backup")
    run.wait_for("the password prompt", lambda: run.fields(), 60)
    run.shot("7-prompt")
    run.press("Cancel")
    text = outcome(run, lambda t: t.startswith("No password was given"), 60)
    run.wait_named("Enter the password again")
    run.shot("8-prompt-cancelled")
    run.check("a cancelled prompt says so in the sheet and offers it again", bool(text), text)

    # Asked again from the sheet, the right password reads the backup; then
    # the image's password changes behind the application's back (as when
    # the stored one no longer fits), so the restore itself has to ask.
    run.press("Enter the password again")
    run.type_into(run.wait_for("the password prompt", lambda: run.fields(), 60)[0], PASSWORD)
    run.press("Confirm")
    run.wait_for("the restore sheet's agents", lambda: run.named("Restore Alpha Agent"), 60)
    changed = subprocess.run(["gocryptfs", "-passwd", "-q", image], input=(PASSWORD + "\nnew-" + PASSWORD + "\n").encode(),
                             env=run.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    run.check("the image's password is changed for the next step", changed)
    remove_data(run, ALPHA)
    confirm(run, "Restore Alpha Agent")
    run.type_into(run.wait_for("the password prompt", lambda: run.fields(), 60)[0], "not the password")
    run.press("Confirm")
    text = outcome(run, lambda t: t.startswith("The password is wrong"), 90)
    time.sleep(0.3)
    run.shot("9-wrong-password")
    run.check("a restore with a wrong password says so in the sheet", bool(text), text)
    run.check("nothing was restored", not os.path.exists(os.path.join(run.home, ".alpha")))
    confirm(run, "Restore Alpha Agent")
    run.wait_for("the password prompt", lambda: run.fields(), 60)
    run.press("Cancel")
    text = outcome(run, lambda t: t.startswith("No password was given"), 90)
    run.check("a restore whose prompt is cancelled says so in the sheet", bool(text), text)
    confirm(run, "Restore Alpha Agent")
    run.type_into(run.wait_for("the password prompt", lambda: run.fields(), 60)[0], "new-" + PASSWORD)
    run.press("Confirm")
    outcome(run, lambda t: t == "✓ Restored Alpha Agent", 90)
    run.check("the right password restores", not run.data_as_backed_up(ALPHA), ", ".join(run.data_as_backed_up(ALPHA)))
    run.check("nothing is left attached", not run.mounted())


if __name__ == "__main__":
    sys.exit(main())
