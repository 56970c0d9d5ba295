#!/usr/bin/python3
"""Program-level figures of BREVAK, each a ratio measured in this run.

Under a private Xvfb, with the simulated mouse on a 4K receiver (connected, not charging: on the
cable the page animates the charging battery every 30 ms) and a fresh data folder:
  start-up   median time to BREVAK's "shown" line / that of brevak-bare-window (5 runs each)
  open-all   the same with every settings section open before the first paint
  text floor the bare window showing a paragraph in BREVAK's font (brevak-bare-window --text),
             against the bare window: what text alone costs; BREVAK's start-up and memory are
             also given against it (no goal: a second point of reference)
  idle CPU   CPU time of the idle program over 60 s (--quick: 10 s), % of one core
  memory     VmRSS of the idle program / that of the idle bare window, and the same with the
             size of the profile store ("pro.data") taken off BREVAK's side
  edit       an edit through brevak-ctl (a DPI value) until the simulated mouse holds it, in frames
             of a 60 Hz screen (median of 3); the pauses the protocol asks after the frame follow

Usage: /usr/bin/python3 bench/program_bench.py [--build DIR] [--quick] [--runs N]
Standard library only. Prints one line per measure: value, goal, ok/over.
"""

import argparse
import json
import os
import random
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

SHOWN_TIMEOUT_S = 30.0
SETTLE_S = 5.0  # lets start-up work (first apply, store save, font caches) finish before idling


class BenchError(Exception):
    pass


def print_log_tail(path, who="BREVAK", chars=3000):
    """What a program wrote to its log, the end of it, for a failed check."""
    if os.path.exists(path):
        with open(path) as f:
            print(f"{who} said:\n" + f.read()[-chars:])


def stop(proc, timeout=5.0):
    """Ends a process this script started, by its id: TERM, then KILL."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc.stdout:
        proc.stdout.close()


def start_xvfb(tmp):
    """A private Xvfb on a display number of our own choosing, far from the usual ones: a server
    that exits removes its number's socket, which would take ours with it had we just picked
    the number it freed."""
    log = os.path.join(tmp, "xvfb.log")
    for _ in range(5):
        wanted = str(random.randrange(200, 900))
        read_fd, write_fd = os.pipe()
        with open(log, "w") as log_file:
            proc = subprocess.Popen(
                ["Xvfb", ":" + wanted, "-displayfd", str(write_fd), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=log_file)
        os.close(write_fd)
        # Xvfb writes the number and its newline separately; closing our end before the newline
        # has come makes that second write fail, and Xvfb exit.
        data, deadline = b"", time.monotonic() + 10
        while not data.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_fd], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(read_fd, 64) if ready else b""
            if not chunk:
                break
            data += chunk
        number = data.decode().strip() if data.endswith(b"\n") else ""
        os.close(read_fd)
        if number.isdigit():
            return proc, ":" + number
        stop(proc)  # most likely a taken number: try another
    with open(log) as f:
        raise BenchError("Xvfb did not start: " + f.read().strip())


def start_sim(bin_dir, tmp, connection="4k"):
    sock = os.path.join(tmp, "mousesim.sock")
    proc = subprocess.Popen([os.path.join(bin_dir, "brevak-mousesim"), "--socket", sock, "--connect", connection],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 5
    while not os.path.exists(sock):
        if proc.poll() is not None or time.monotonic() > deadline:
            stop(proc)
            raise BenchError("the simulated mouse did not start")
        time.sleep(0.02)
    return proc, sock


def launch(argv, env, stderr=subprocess.DEVNULL):
    """Starts a program and waits for its "shown" line; returns (process, seconds to it)."""
    t0 = time.monotonic()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=stderr)
    fd = proc.stdout.fileno()
    buf = b""
    deadline = t0 + SHOWN_TIMEOUT_S
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            stop(proc)
            raise BenchError(f"{os.path.basename(argv[0])} printed no 'shown' line within {SHOWN_TIMEOUT_S:.0f} s")
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            continue
        chunk = os.read(fd, 4096)
        if not chunk:
            code = proc.wait()
            why = " (another instance is running)" if code == 1 else ""
            raise BenchError(f"{os.path.basename(argv[0])} exited with {code} before 'shown'{why}")
        buf += chunk
        if b"shown\n" in buf.replace(b"\r", b""):
            return proc, time.monotonic() - t0


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime, all threads


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise BenchError(f"no VmRSS for {pid}")


def store_size(data_dir):
    for folder, _, files in os.walk(data_dir):
        if "pro.data" in files:
            return os.path.getsize(os.path.join(folder, "pro.data"))
    return None


def mouse_state(bin_dir, sock):
    dump = subprocess.run([os.path.join(bin_dir, "brevak-mousesim"), "ctl", "--socket", sock, "dump"],
                          capture_output=True, timeout=10, check=True)
    return json.loads(dump.stdout)


def time_edit(bin_dir, sock, env, value):
    """Seconds from a brevak-ctl DPI edit until the mouse holds it, and the pauses (ms) that the
    program says the write asked for."""
    before = mouse_state(bin_dir, sock)["attribute"]["dpi_values"][0]
    t0 = time.monotonic()
    ctl = subprocess.Popen([os.path.join(bin_dir, "brevak-ctl"), "--json", "dpi", "1", str(value)], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    seconds = None
    while time.monotonic() - t0 < 30:
        if mouse_state(bin_dir, sock)["attribute"]["dpi_values"][0] != before:
            seconds = time.monotonic() - t0
            break
        time.sleep(0.005)
    out, err = ctl.communicate(timeout=60)
    if seconds is None or ctl.returncode != 0:
        raise BenchError(f"the DPI edit did not reach the mouse (brevak-ctl {ctl.returncode}: {err.decode().strip()})")
    return seconds, json.loads(out)["pauses_ms"]


def verdict(ok):
    return "ok" if ok else "over"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(here), "build"), help="build folder")
    parser.add_argument("--quick", action="store_true", help="idle CPU over 10 s instead of 60 s")
    parser.add_argument("--runs", type=int, default=5, help="start-ups per program (median)")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    bin_dir = os.path.join(build, "bin")
    program = os.path.join(bin_dir, "BREVAK")
    bare = os.path.join(build, "bench", "brevak-bare-window")
    if not os.access(program, os.X_OK):
        raise BenchError(f"{program} is not built yet: build it with scripts/run.sh or "
                         f"cmake --build {args.build} --target BREVAK")
    for path, how in ((bare, "--target brevak-bare-window"), (os.path.join(bin_dir, "brevak-mousesim"), "--target brevak-mousesim")):
        if not os.access(path, os.X_OK):
            raise BenchError(f"{path} is missing: cmake --build {args.build} {how}")
    if not shutil.which("Xvfb"):
        raise BenchError("Xvfb is missing (scripts/deps.sh installs it)")
    idle_s = 10.0 if args.quick else 60.0

    tmp = tempfile.mkdtemp(prefix="brevak-bench.")
    started = []
    try:
        xvfb, display = start_xvfb(tmp)
        started.append(xvfb)
        sim, sock = start_sim(bin_dir, tmp)
        started.append(sim)
        data_dir = os.path.join(tmp, "data")
        os.mkdir(data_dir)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("BREVAK_", "QT_QPA_PLATFORM", "WAYLAND_"))}
        # A runtime folder of its own: the single-instance lock of another BREVAK on this machine
        # would turn every start into a second start.
        runtime = os.path.join(tmp, "runtime")
        os.mkdir(runtime, 0o700)
        env.update(DISPLAY=display, ZENTRIX_SIM=sock, BREVAK_DATA_DIR=data_dir, BREVAK_REPORT_SHOWN="1",
                   XDG_RUNTIME_DIR=runtime)
        # Without a session bus, each Qt start would autolaunch one (dbus-launch) that outlives it.
        env.setdefault("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + os.path.join(tmp, "no-session-bus"))
        print(f"program_bench: Xvfb {display}, simulated mouse on 4K, data folder {data_dir}", flush=True)

        # Start-up: one unmeasured start each (disk caches; BREVAK's first store is written),
        # then the two programs in turn so that drifts of the machine touch both alike.
        open_env = dict(env, BREVAK_OPEN_SECTIONS="1")
        starts = {"program": ([program], env), "open": ([program], open_env), "bare": ([bare], env),
                  "text": ([bare, "--text"], env)}
        times = {key: [] for key in starts}
        for run in range(args.runs + 1):
            for key, (argv, run_env) in starts.items():
                proc, seconds = launch(argv, run_env)
                stop(proc)
                if run > 0:
                    times[key].append(seconds)
        t_prog = statistics.median(times["program"])
        t_open = statistics.median(times["open"])
        t_bare = statistics.median(times["bare"])
        t_text = statistics.median(times["text"])

        # Idle: each program alone on the display, after it has settled.
        proc, _ = launch([bare], env)
        time.sleep(SETTLE_S)
        rss_bare = rss_kib(proc.pid)
        stop(proc)
        proc, _ = launch([bare, "--text"], env)
        time.sleep(SETTLE_S)
        rss_text = rss_kib(proc.pid)
        stop(proc)

        proc, _ = launch([program], env)
        started.append(proc)
        time.sleep(SETTLE_S)
        hz = os.sysconf("SC_CLK_TCK")
        c0, w0 = cpu_ticks(proc.pid), time.monotonic()
        time.sleep(idle_s)
        c1, w1 = cpu_ticks(proc.pid), time.monotonic()
        rss_prog = rss_kib(proc.pid)
        if proc.poll() is not None:
            raise BenchError("BREVAK ended while idle")
        edits = [time_edit(bin_dir, sock, env, value) for value in (1650, 850, 1650)]
        stop(proc)
        cpu_pct = 100.0 * (c1 - c0) / hz / (w1 - w0)
        pro_data = store_size(data_dir)

        ratio_start = t_prog / t_bare
        ratio_rss = rss_prog / rss_bare
        print(f"start-up      {ratio_start:6.2f} x bare window   goal <= 1.5   {verdict(ratio_start <= 1.5)}"
              f"   (median of {args.runs}: {t_prog * 1000:.0f} ms / {t_bare * 1000:.0f} ms)")
        print(f"open-all      {t_open / t_bare:6.2f} x bare window   (no goal)     -"
              f"      (median of {args.runs}: {t_open * 1000:.0f} ms / {t_bare * 1000:.0f} ms)")
        print(f"text floor    {t_text / t_bare:6.2f} x bare window   (no goal)     -"
              f"      (start-up {t_text * 1000:.0f} ms, VmRSS {rss_text} KiB; BREVAK against it:"
              f" start-up {t_prog / t_text:.2f} x, memory {rss_prog / rss_text:.2f} x)")
        edit_s, edit_pauses = sorted(edits)[len(edits) // 2]
        print(f"edit          {edit_s * 60:6.2f} frames at 60 Hz     (no goal)     -"
              f"      (median of {len(edits)}: {edit_s * 1000:.0f} ms to the mouse; {edit_pauses} ms of pauses follow)")
        print(f"idle CPU      {cpu_pct:6.3f} % of a core     goal < 0.1    {verdict(cpu_pct < 0.1)}"
              f"   ({c1 - c0} ticks of 1/{hz} s over {w1 - w0:.0f} s; ticks limit the resolution)")
        print(f"memory        {ratio_rss:6.2f} x bare window   goal <= 1.3   {verdict(ratio_rss <= 1.3)}"
              f"   (VmRSS {rss_prog} KiB / {rss_bare} KiB)")
        if pro_data is None:
            print("memory-store       -                    goal <= 1.3   -      (no pro.data in the data folder)")
        else:
            ratio_rss_store = (rss_prog - pro_data / 1024) / rss_bare
            print(f"memory-store  {ratio_rss_store:6.2f} x bare window   goal <= 1.3   {verdict(ratio_rss_store <= 1.3)}"
                  f"   (less pro.data, {pro_data} bytes)")
        return 0
    finally:
        for proc in reversed(started):
            stop(proc)
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as e:
        print(f"program_bench: {e}", file=sys.stderr)
        sys.exit(1)
    except KeyboardInterrupt:
        sys.exit(130)
