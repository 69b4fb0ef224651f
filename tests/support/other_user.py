#!/usr/bin/env python3
"""Runs a program as a user without root's privileges, wherever the source
and build folders lie.

A test that runs as root drops to user nobody (65534) for what root would
get away with (a device node it may not open, a folder it may not write).
That user cannot reach a build folder inside a private folder (a clone in
`mktemp -d`, mode 0700), so everything it runs is copied into a folder of
its own in a temporary folder it can enter, together with a home, a config
folder, a runtime folder (mode 0700, its own) and a temporary folder. Run by
someone other than root, the same happens without the change of user.

As a module: UserSpace. As a program:

    other_user.py [--via TOOL] PROGRAM [ARGS...]

copies PROGRAM into a UserSpace and runs `TOOL PROGRAM ARGS` (TOOL: say,
umockdev-wrapper) there as that user; the exit status is the program's.

Python 3 standard library only.
"""

import ctypes
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

NOBODY = 65534


def running_as_root():
    return os.geteuid() == 0


def reachable_by_others(path, uid=None):
    """Whether a user without any group of ours may pass through every
    folder on the way to path (and path itself); with uid, folders that user
    owns count by their owner's bits (its own home, mode 0700)."""
    path = os.path.abspath(path)
    while True:
        try:
            st = os.stat(path)
        except OSError:
            return False
        bit = stat.S_IXUSR if uid is not None and st.st_uid == uid else stat.S_IXOTH
        if not st.st_mode & bit:
            return False
        parent = os.path.dirname(path)
        if parent == path:
            return True
        path = parent


def reachable_temp_base():
    """The temporary folder, or /tmp where TMPDIR lies out of other users' reach."""
    base = tempfile.gettempdir()
    return base if reachable_by_others(base) else "/tmp"


def die_with_parent():
    # Children must not outlive a test that is killed (a CTest time-out).
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class UserSpace:
    """A folder the program's user can enter, with its own home, config,
    runtime and temporary folders; removed again by cleanup()."""

    def __init__(self, base=None, prefix="tintrava-user-"):
        self.uid = NOBODY if running_as_root() else os.getuid()
        self.gid = NOBODY if running_as_root() else os.getgid()
        self.path = tempfile.mkdtemp(prefix=prefix, dir=base or reachable_temp_base())
        os.chmod(self.path, 0o755)
        self.bin = self.folder("bin")
        self.home = self.folder("home", owned=True)
        self.config = self.folder("config", owned=True)
        self.runtime = self.folder("runtime", owned=True, mode=0o700)
        self.tmp = self.folder("tmp", owned=True, mode=0o700)

    def folder(self, name, owned=False, mode=0o755):
        """A folder in the space the user may enter; with owned=True its own."""
        path = os.path.join(self.path, name)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, mode)
        if owned:
            os.chown(path, self.uid, self.gid)
        return path

    def copy(self, source, folder=None):
        """A copy of source the user may read and run; its path."""
        target = os.path.join(folder or self.bin, os.path.basename(source))
        shutil.copy2(source, target)
        os.chmod(target, 0o755)
        return target

    def env(self, base=None):
        """The environment for the user: base (default: ours) with its own
        folders; nothing of root's (the X authority) it could not read."""
        env = dict(os.environ if base is None else base)
        if running_as_root():
            env.pop("XAUTHORITY", None)
        env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_RUNTIME_DIR": self.runtime,
            "TMPDIR": self.tmp,
        })
        return env

    def command(self, argv):
        """argv as the user: through setpriv when we are root."""
        if not running_as_root():
            return list(argv)
        setpriv = shutil.which("setpriv")
        if not setpriv:
            raise RuntimeError("setpriv is missing (Debian: util-linux)")
        return [setpriv, f"--reuid={self.uid}", f"--regid={self.gid}", "--clear-groups", *argv]

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.cleanup()


def main(argv):
    args = list(argv)
    via = []
    if args[:1] == ["--via"]:
        if len(args) < 2:
            print("other_user.py: --via needs a program", file=sys.stderr)
            return 2
        via = [shutil.which(args[1]) or args[1]]
        args = args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    program, arguments = args[0], args[1:]

    child = None

    def forward(signum, _frame):
        # The program runs as another user and no longer dies with us.
        if child is not None and child.poll() is None:
            child.send_signal(signum)
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, forward)

    with UserSpace() as space:
        copy = space.copy(program)
        command = space.command([*via, copy, *arguments])
        print(f"as user {space.uid} in {space.path}: {' '.join(command)}", flush=True)
        child = subprocess.Popen(command, cwd=space.home, env=space.env(), preexec_fn=die_with_parent)
        while True:
            try:
                status = child.wait()
                break
            except InterruptedError:
                continue
    return 128 - status if status < 0 else status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
