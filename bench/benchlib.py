"""What bench/window-bench and bench/exit-bench share: a temporary HOME with
fakes first on PATH, a copy of the application with a registry of our own,
exact waits for a process's end, and the figures read from /proc."""

import json
import os
import select
import shutil
import signal
import statistics
import subprocess
import tempfile
import time


class Home:
    """A temporary HOME with the first-run keys seeded and fakes on PATH."""

    def __init__(self, npm_seconds=0.0, defaults=None, folder=None):
        self.path = tempfile.mkdtemp(prefix="tlr-bench-", dir=folder)
        config = os.path.join(self.path, ".config", "Tollamere")
        os.makedirs(config)
        seeded = {"TLR.hasShownStatusItemOnboarding": True, "TLR.selfGuard.asked": True, "TLR.language": "en"}
        seeded.update(defaults or {})
        with open(os.path.join(config, "defaults.json"), "w") as f:
            json.dump(seeded, f)
        # npm is looked for in ~/.npm-global/bin first.
        self.add("/.npm-global/bin/npm", "sleep %s\necho \"$HOME/npm-prefix\"\n" % npm_seconds)
        self.bin = os.path.join(self.path, "fakebin")
        os.makedirs(self.bin)
        with open(os.path.join(self.bin, "systemctl"), "w") as f:
            f.write("#!/bin/sh\nexit 1\n")
        os.chmod(os.path.join(self.bin, "systemctl"), 0o755)

    def add(self, relative, body):
        path = self.path + relative
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + body)
        os.chmod(path, 0o755)
        return path

    def env(self, display=None):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("XDG_") and k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env["HOME"] = self.path
        env["PATH"] = self.bin + ":" + os.environ.get("PATH", "/usr/bin:/bin")
        if display:
            env["DISPLAY"] = display
        return env

    def close(self):
        shutil.rmtree(self.path, ignore_errors=True)


def ended_at(pid, timeout):
    """The monotonic time at which the process `pid` ended, taken the moment
    its pidfd turns readable (no polling); None when it still runs after
    `timeout` seconds. It is not reaped."""
    try:
        fd = os.pidfd_open(pid)
    except ProcessLookupError:
        return time.monotonic()
    try:
        poller = select.poll()
        poller.register(fd, select.POLLIN)
        if poller.poll(max(0, int(timeout * 1000))):
            return time.monotonic()
        return None
    finally:
        os.close(fd)


KILLED = []  # processes that did not end within 5 s of SIGTERM


def stop(proc):
    """SIGTERM, SIGKILL after 5 s; returns the seconds from the signal to the
    process's end, timed exactly through a pidfd."""
    if proc.poll() is not None:
        return 0.0
    start = time.monotonic()
    proc.send_signal(signal.SIGTERM)
    end = ended_at(proc.pid, 5)
    if end is None:
        KILLED.append(proc.pid)
        proc.kill()
        end = ended_at(proc.pid, 60) or time.monotonic()
    proc.wait()
    return end - start


def wait_for(condition, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.0005)
    return condition()


def summary(name, values, unit="ms", scale=1000.0):
    v = sorted(x * scale for x in values)
    return "%-28s median %8.1f %s   min %8.1f   max %8.1f   (%d runs)" % (
        name, statistics.median(v), unit, v[0], v[-1], len(v))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def written_bytes(pid):
    """What the process has had written to storage (write_bytes of /proc/<pid>/io)."""
    with open("/proc/%d/io" % pid) as f:
        for line in f:
            if line.startswith("write_bytes:"):
                return int(line.split()[1])
    return 0


def resident(pid):
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(("VmRSS:", "VmHWM:")):
                key, value = line.split(":")
                values[key] = int(value.split()[0]) / 1024
    return values


def bundle_copy(app, registry):
    """A copy of the application whose bundle holds `registry`."""
    copy = tempfile.mkdtemp(prefix="tlr-bench-app-")
    shutil.copy2(app, os.path.join(copy, "tollamere"))
    bundle = os.path.join(copy, "Tollamere_Tollamere.bundle")
    shutil.copytree(os.path.join(os.path.dirname(app), "Tollamere_Tollamere.bundle"), bundle)
    with open(os.path.join(bundle, "registry.json"), "w") as f:
        f.write(registry)
    return copy


def load_average():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]
