#!/usr/bin/env python3
"""Measures the real program against a bare Qt window and prints a table.

    bench.py --build BUILD_DIR [--repeat N] [--load [N]] [--idle-seconds S]
             [--play-seconds S] [--rounds N] [--passes N]

scripts/bench builds the Release tree and calls this. Under X (the display
TINTRAVA_E2E_DISPLAY, else a private Xvfb) it measures, interleaving the
program with build/tintrava-bare-window wherever both are measured:

- start to first paint: from just before the process is started to the first
  paint event of its main window, which both print when
  TINTRAVA_FIRST_PAINT_PROBE is set (ui/first_paint_probe.h), together with
  the CPU time used until then (less disturbed by other load than the wall
  time); peak memory is the process's VmHWM two seconds after that paint.
  Both get a runtime folder (XDG_RUNTIME_DIR) on tmpfs, mode 0700, as a
  desktop session has. With --load the same rounds run again while
  stress-ng keeps N CPU workers busy (default: one per core);
- CPU while idle: the program with the virtual lamp (one text lamp, no trace
  written), the program with its built-in libftdi binding and the bare
  window run side by side; their user + system time over --idle-seconds;
- CPU while a sequence plays (virtual lamp, one text lamp), and per lamp
  exchange the time beyond the specified waits, from the virtual lamp's
  trace: from the return of the driver call before the open to the return of
  the close, less the 200 ms wait after the write and less the time the read
  spent waiting (its "waited", up to the 100 ms read time-out);
- one discovery pass with 1, 4 and 16 FT232R chips emulated at the USB level
  (tintrava-bench-discovery under umockdev-wrapper), with one listing
  context for the run as where udev runs, and with a fresh one per pass as
  where it does not: CPU of the whole process (the emulator answering the
  transfers included) and the control transfers that reached the chips.

Python 3 standard library only.
"""

import argparse
import datetime
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))

from tintrava_e2e import (MAIN_CAPTION, START_BUTTON, TEXT_LAMP, Display, Failure, Trace,  # noqa: E402
                          click, die_with_parent, discoveries, exchanges, palette, wait_for, xdotool)

BARE_CAPTION = "Bare window"
CLK_TCK = os.sysconf("SC_CLK_TCK")
SETTLE = 2.0          # seconds after the first paint before memory is read
IDLE_SETTLE = 5.0     # seconds after the first paint before idle CPU is counted
SEND_WAIT_MS = 200.0  # the blocking wait after a text command


def cpu_ms(pid):
    """User + system time of the process (all its threads), in ms."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000.0 / CLK_TCK


def vmhwm_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise Failure(f"no VmHWM for process {pid}")


class Run:
    """One started process: the program in a folder of its own (my.conf beside
    it), or the bare window."""

    def __init__(self, args, kind, trace=False):
        self.kind = kind
        self.folder = tempfile.mkdtemp(prefix=f"tintrava-bench-{kind}-")
        self.stderr_path = os.path.join(self.folder, "stderr.log")
        self.trace_path = os.path.join(self.folder, "trace.log") if trace else None
        env = dict(os.environ)
        env["QT_QPA_PLATFORM"] = "xcb"
        # A runtime folder of its own: the program allows one running copy per
        # user and keeps its lock there, and the idle round runs two copies.
        self.runtime = runtime_folder(kind)
        env["XDG_RUNTIME_DIR"] = self.runtime
        env["TINTRAVA_FIRST_PAINT_PROBE"] = "1"
        for name in ("TINTRAVA_D2XX_LIBRARY", "TINTRAVA_VIRTUAL_LAMP", "TINTRAVA_VIRTUAL_LAMP_LOG"):
            env.pop(name, None)
        if kind == "bare":
            executable = os.path.join(args.build, "tintrava-bare-window")
            self.caption = BARE_CAPTION
        else:
            executable = os.path.join(self.folder, "tintrava")
            shutil.copy2(os.path.join(args.build, "tintrava"), executable)
            with open(os.path.join(self.folder, "my.conf"), "w") as f:
                f.write("3\n")
            self.caption = MAIN_CAPTION
            if kind == "vlamp":
                devices = os.path.join(self.folder, "lamps.txt")
                with open(devices, "w") as f:
                    f.write(TEXT_LAMP)
                env["TINTRAVA_D2XX_LIBRARY"] = os.path.join(args.build, "libtintrava-virtual-lamp.so")
                env["TINTRAVA_VIRTUAL_LAMP"] = devices
                if self.trace_path:
                    open(self.trace_path, "w").close()
                    env["TINTRAVA_VIRTUAL_LAMP_LOG"] = self.trace_path
            # kind "builtin": no driver named, so the program takes its libftdi binding.
        with open(self.stderr_path, "wb") as err:
            self.started_ms = time.monotonic() * 1000.0
            self.process = subprocess.Popen([executable], cwd=self.folder, env=env, stdout=err, stderr=err,
                                            preexec_fn=die_with_parent)

    @property
    def pid(self):
        return self.process.pid

    def first_paint_ms(self):
        """Milliseconds from the start to the first paint of its window; also
        sets paint_cpu_ms, the CPU time the process had used by then."""
        def painted():
            if self.process.poll() is not None:
                raise Failure(f"{self.kind} ended (status {self.process.returncode}) before painting:\n"
                              + open(self.stderr_path, errors="replace").read())
            with open(self.stderr_path, errors="replace") as f:
                m = re.search(r"^first-paint ([0-9.]+) cpu ([0-9.]+)$", f.read(), re.M)
            return (float(m.group(1)), float(m.group(2))) if m else None
        painted_at, self.paint_cpu_ms = wait_for(f"the first paint of {self.kind}", painted, 60)
        return painted_at - self.started_ms

    def window(self):
        def find():
            out = xdotool("search", "--all", "--pid", self.pid, "--onlyvisible", "--name",
                          f"^{re.escape(self.caption)}$", check=False)
            return int(out.split()[0]) if out.split() else None
        return wait_for(f"the window of {self.kind}", find)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)
        shutil.rmtree(self.runtime, ignore_errors=True)


def runtime_folder(kind):
    """A fresh runtime folder on tmpfs (/dev/shm), mode 0700, as
    /run/user/UID is on a desktop: a lock there never waits for a disk."""
    base = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    if base is None:
        raise Failure("no /dev/shm to keep the runtime folders on tmpfs")
    folder = tempfile.mkdtemp(prefix=f"tintrava-bench-runtime-{kind}-", dir=base)
    os.chmod(folder, 0o700)
    return folder


def stats(values):
    return min(values), statistics.median(values), max(values)


def measure_start(args, results, condition=""):
    """Interleaved rounds of the program and the bare window; condition is
    appended to the result keys ("" when quiet, "@load" under load)."""
    for i in range(args.repeat):
        # Alternate which one goes first, so neither always finds warm caches.
        for kind in (("vlamp", "bare") if i % 2 == 0 else ("bare", "vlamp")):
            run = Run(args, kind)
            try:
                results.setdefault(("start" + condition, kind), []).append(run.first_paint_ms())
                results.setdefault(("start-cpu" + condition, kind), []).append(run.paint_cpu_ms)
                time.sleep(SETTLE)
                results.setdefault(("memory" + condition, kind), []).append(vmhwm_kib(run.pid) / 1024.0)
            finally:
                run.stop()
        print(f"  start{' under load' if condition else ''} {i + 1}/{args.repeat}: "
              f"program {results[('start' + condition, 'vlamp')][-1]:.0f} ms "
              f"(CPU {results[('start-cpu' + condition, 'vlamp')][-1]:.0f}), "
              f"bare {results[('start' + condition, 'bare')][-1]:.0f} ms "
              f"(CPU {results[('start-cpu' + condition, 'bare')][-1]:.0f})", flush=True)


def measure_start_under_load(args, results):
    """The start rounds again while stress-ng keeps args.load CPU workers busy."""
    stress = shutil.which("stress-ng")
    if not stress:
        raise Failure("--load needs stress-ng (Debian: stress-ng)")
    workers = args.load or os.cpu_count() or 1
    load = subprocess.Popen([stress, "--cpu", str(workers), "--quiet"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
    try:
        time.sleep(2.0)  # the workers running before the first round
        measure_start(args, results, "@load")
    finally:
        load.terminate()
        try:
            load.wait(10)
        except subprocess.TimeoutExpired:
            load.kill()
            load.wait()


def start_rows(row, args):
    """The start's rows: wall and CPU time to the first paint and peak
    memory, quiet and (with --load) under load."""
    for condition, label in (("", ""), ("@load", f", under load ({args.load_workers} CPU workers)")):
        if condition and not args.load_workers:
            break
        row(f"Start to first paint (ms){label}", ("start" + condition, "vlamp"), ("start" + condition, "bare"), 0,
            "≤ 1.05× bare", lambda v, r: r <= 1.05)
        row(f"CPU time to first paint (ms){label}", ("start-cpu" + condition, "vlamp"),
            ("start-cpu" + condition, "bare"), 0, "≤ 1.05× bare", lambda v, r: r <= 1.05)
        row(f"Peak memory, VmHWM (MiB){label}", ("memory" + condition, "vlamp"), ("memory" + condition, "bare"), 1,
            "≤ 1.05× bare", lambda v, r: r <= 1.05)


def measure_idle(args, results):
    for i in range(args.rounds):
        runs = [Run(args, kind) for kind in ("vlamp", "builtin", "bare")]
        try:
            for run in runs:
                run.first_paint_ms()
            time.sleep(IDLE_SETTLE)
            before = {run.kind: (cpu_ms(run.pid), time.monotonic()) for run in runs}
            time.sleep(args.idle_seconds)
            for run in runs:
                if run.process.poll() is not None:
                    raise Failure(f"{run.kind} ended while idle")
                cpu0, t0 = before[run.kind]
                share = (cpu_ms(run.pid) - cpu0) / ((time.monotonic() - t0) * 1000.0) * 100.0
                results.setdefault(("idle", run.kind), []).append(share)
        finally:
            for run in runs:
                run.stop()
        print(f"  idle {i + 1}/{args.rounds}: " + ", ".join(
            f"{k} {results[('idle', k)][-1]:.3f} %" for k in ("vlamp", "builtin", "bare")), flush=True)


def exchange_overheads(calls, oversleeps=None):
    """Per exchange: ms beyond the specified waits (see the module text).
    oversleeps, when given, collects how far each 200 ms wait overran (from
    the write's return to the return of the next call)."""
    overheads = []
    index = {id(c): n for n, c in enumerate(calls)}
    for ex in exchanges(calls):
        if ex[-1].call != "FT_Close":
            continue  # still running when the trace was read
        n = index[id(ex[0])]
        if n == 0:
            continue
        span = ex[-1].t - calls[n - 1].t
        waits = 0.0
        names = [c.call for c in ex]
        if "FT_Write" in names and "FT_Read" in names:
            waits += SEND_WAIT_MS
            w = names.index("FT_Write")
            if oversleeps is not None and w + 1 < len(ex):
                oversleeps.append(ex[w + 1].t - ex[w].t - SEND_WAIT_MS)
            waits += sum(float(c.result.get("waited", "0")) for c in ex if c.call == "FT_Read")
        overheads.append(span - waits)
    return overheads


def measure_play(args, results):
    for i in range(args.rounds):
        run = Run(args, "vlamp", trace=True)
        try:
            run.first_paint_ms()
            wid = run.window()
            trace = Trace(run.trace_path)
            wait_for("the first device listing", lambda: discoveries(trace.calls(run.pid)))
            click(wid, palette("Orange"))
            time.sleep(0.5)
            click(wid, START_BUTTON)
            wait_for("the first colour sent", lambda: any(c.heard.startswith("C:") for c in trace.calls(run.pid)), 30)
            time.sleep(2.0)
            cpu0, t0 = cpu_ms(run.pid), time.monotonic()
            time.sleep(args.play_seconds)
            share = (cpu_ms(run.pid) - cpu0) / ((time.monotonic() - t0) * 1000.0) * 100.0
            results.setdefault(("play", "vlamp"), []).append(share)
            overheads = exchange_overheads(trace.calls(run.pid), results.setdefault(("oversleep", "vlamp"), []))
            if not overheads:
                raise Failure("no lamp exchange in the trace")
            results.setdefault(("exchange", "vlamp"), []).extend(overheads)
        finally:
            run.stop()
        print(f"  playing {i + 1}/{args.rounds}: CPU {share:.2f} %, {len(overheads)} exchanges, "
              f"median overhead {statistics.median(overheads):.1f} ms", flush=True)


def measure_discovery(args, results):
    program = os.path.join(args.build, "tintrava-bench-discovery")
    wrapper = shutil.which("umockdev-wrapper")
    if not os.path.exists(program) or not wrapper:
        print("  discovery: left out (needs umockdev, libumockdev-dev and libftdi1-dev)")
        return
    for mode in ("udev", "no-udev"):
        out = subprocess.run([wrapper, program, str(args.passes), mode], capture_output=True, text=True,
                             timeout=600)
        if out.returncode != 0:
            raise Failure(f"tintrava-bench-discovery failed:\n{out.stderr}")
        for line in out.stdout.splitlines():
            fields = dict(item.split("=", 1) for item in line.split()[1:])
            key = (fields["mode"], int(fields["devices"]))
            results.setdefault(("discovery-cpu",) + key, []).append(float(fields["cpu_ms"]))
            results.setdefault(("discovery-usb",) + key, []).append(float(fields["string_requests"]))
            if int(fields["control_transfers"]) >= 0:
                results.setdefault(("discovery-control",) + key, []).append(float(fields["control_transfers"]))
            if fields["found"] != "1":
                raise Failure(f"a discovery pass did not find the lamp: {line}")
        print(f"  discovery ({mode}): " + ", ".join(
            f"{n} devices {statistics.median(results[('discovery-cpu', mode, n)]):.1f} ms"
            for n in (1, 4, 16) if ("discovery-cpu", mode, n) in results), flush=True)


def machine():
    model = ""
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        m = re.search(r"^Model name:\s*(.+)$", out, re.M)
        model = m.group(1).strip() if m else ""
    except OSError:
        pass
    mem = ""
    with open("/proc/meminfo") as f:
        m = re.search(r"MemTotal:\s*(\d+)", f.read())
        mem = f", {int(m.group(1)) / 1024 / 1024:.1f} GiB RAM" if m else ""
    return f"{os.cpu_count()} cores ({model or platform.processor()}){mem}, {platform.system()} {platform.release()}"


def table(results, args):
    rows = []

    def fmt(values, digits):
        lo, mid, hi = stats(values)
        return f"{lo:.{digits}f} / {mid:.{digits}f} / {hi:.{digits}f}"

    def row(what, key_program, key_bare, digits, target, check):
        program = results.get(key_program)
        bare = results.get(key_bare) if key_bare else None
        if not program:
            rows.append((what, "not measured", "", "", target, ""))
            return
        ratio = ""
        value = statistics.median(program)
        ratio_value = None
        if bare and statistics.median(bare) > 0:
            ratio_value = value / statistics.median(bare)
            ratio = f"{ratio_value:.2f}"
        elif bare:
            ratio = "n/a (bare 0)"
        met = check(value, ratio_value)
        rows.append((what, fmt(program, digits), fmt(bare, digits) if bare else "", ratio, target,
                     "" if met is None else ("yes" if met else "**no**")))

    start_rows(row, args)
    row(f"CPU idle {args.idle_seconds:.0f} s, virtual lamp (% of a core)", ("idle", "vlamp"), ("idle", "bare"), 3,
        "< 0.2 %", lambda v, r: v < 0.2)
    row(f"CPU idle {args.idle_seconds:.0f} s, built-in binding, no device (% of a core)", ("idle", "builtin"),
        ("idle", "bare"), 3, "< 0.2 %", lambda v, r: v < 0.2)
    row(f"CPU while playing {args.play_seconds:.0f} s (% of a core)", ("play", "vlamp"), None, 2, "", lambda v, r: None)
    row("Lamp exchange beyond the waits (ms)", ("exchange", "vlamp"), None, 1, "< 5 ms (median)",
        lambda v, r: v < 5.0)
    for mode, label in (("udev", "udev running"), ("no-udev", "no udev")):
        def median(kind, n, mode=mode):
            values = results.get((kind, mode, n))
            return statistics.median(values) if values else None
        # Transfers: the control-transfer count where the emulator keeps one,
        # else the string-descriptor requests.
        usb_kind = "discovery-control" if ("discovery-control", mode, 1) in results else "discovery-usb"
        usb_what = "USB control transfers" if usb_kind == "discovery-control" else "USB string requests"
        for n in (1, 4, 16):
            last = n == 16
            row(f"Discovery pass, {n} device{'s' if n > 1 else ''}, {label}: CPU (ms)",
                ("discovery-cpu", mode, n), None, 3, "flat in N" if last else "",
                # Within half again of one device's pass, or 0.1 ms: below
                # that it is clock noise.
                lambda v, r, last=last, median=median: (
                    v <= max(1.5 * median("discovery-cpu", 1), median("discovery-cpu", 1) + 0.1) if last else None))
            row(f"Discovery pass, {n} device{'s' if n > 1 else ''}, {label}: {usb_what}",
                (usb_kind, mode, n), None, 0, "flat in N" if last else "",
                lambda v, r, last=last, median=median, usb_kind=usb_kind: (
                    v <= median(usb_kind, 1) if last else None))

    header = ("Measure", "Program min / median / max", "Bare window min / median / max", "Ratio (medians)",
              "Target", "Met")
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    overheads = results.get(("exchange", "vlamp"))
    if overheads:
        over = sum(1 for v in overheads if v >= 5.0)
        lines.append("")
        lines.append(f"{len(overheads)} lamp exchanges, {over} of them 5 ms or more beyond the waits.")
        sleeps = results.get(("oversleep", "vlamp"))
        if sleeps:
            lo, mid, hi = stats(sleeps)
            lines.append(f"Of that, the 200 ms wait itself overran by {lo:.1f} / {mid:.1f} / {hi:.1f} ms "
                         f"(min / median / max): the system waking the program late, not its own work.")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="Release build folder")
    parser.add_argument("--repeat", type=int, default=20, help="start/memory runs of each (default 20)")
    parser.add_argument("--load", type=int, nargs="?", const=0, default=None, metavar="N",
                        help="also measure the start while stress-ng runs N CPU workers (default: one per core)")
    parser.add_argument("--rounds", type=int, default=2, help="idle and playing rounds (default 2)")
    parser.add_argument("--idle-seconds", type=float, default=60.0, help="idle time per round (default 60)")
    parser.add_argument("--play-seconds", type=float, default=30.0, help="playing time per round (default 30)")
    parser.add_argument("--passes", type=int, default=20, help="discovery passes per device count (default 20)")
    parser.add_argument("--only", default="start,idle,play,playing,discovery", help="comma-separated parts to run")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    parts = set(args.only.split(","))
    args.load_workers = (args.load or os.cpu_count() or 1) if args.load is not None else 0
    load_before = os.getloadavg()

    results = {}
    began = time.monotonic()
    try:
        with Display():
            if "start" in parts:
                measure_start(args, results)
                if args.load is not None:
                    measure_start_under_load(args, results)
            if "idle" in parts:
                measure_idle(args, results)
            if "play" in parts:
                measure_play(args, results)
        if "discovery" in parts:
            measure_discovery(args, results)
    except Failure as e:
        print(f"bench: {e}", file=sys.stderr)
        return 1

    print()
    print(f"Tintrava benchmark, {datetime.date.today().isoformat()}, {machine()}")
    print(f"start/memory: {args.repeat} runs each, interleaved; idle and playing: {args.rounds} rounds; "
          f"discovery: {args.passes} passes per device count; took {time.monotonic() - began:.0f} s")
    print(f"load average before {load_before[0]:.2f}, after {os.getloadavg()[0]:.2f} "
          f"(1 min; the machine's other work besides the bench's own)")
    print()
    print(table(results, args))
    # The window and tintrava-play while playing (bench_playing.py).
    if "playing" in parts:
        import bench_playing  # noqa: E402
        with Display():
            print("\n".join(bench_playing.run(args.build)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
