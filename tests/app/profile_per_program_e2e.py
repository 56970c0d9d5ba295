#!/usr/bin/python3
"""A profile per program, as a player meets it: under openbox on a private Xvfb, against the
simulated mouse program, with two small windows of different classes (xlogo and xcalc).

- brevak-ctl, without BREVAK, adds a second profile (its stage-1 DPI differs), binds the XLogo
  class to it and lists the binding;
- with BREVAK running: xlogo made the active window writes the second profile to the mouse
  (the mouse's own state says so); xcalc made active brings back the first;
- ten activations within a second write at most once (one full write, for the window the storm
  ends on);
- brevak-ctl unbind through the running program: xlogo active again changes nothing.

Usage: profile_per_program_e2e.py BUILD_DIR
"""

import json
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_manager_e2e import FULL_WRITE_FRAMES, Desktop  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from program_bench import BenchError, launch, print_log_tail  # noqa: E402

GAME_DPI = 3200
DPI_STEP = 50
# A switch comes about a second after the window settles, then a full write of about five.
SWITCH_WAIT_S = 20


def main():
    build = os.path.abspath(sys.argv[1])
    tmp = tempfile.mkdtemp(prefix="brevak-games.")
    desktop = None
    try:
        desktop = Desktop(build, tmp)
        data, runtime = os.path.join(tmp, "games-data"), os.path.join(tmp, "games-run")
        os.mkdir(data)
        os.mkdir(runtime, 0o700)
        env = {k: v for k, v in desktop.env_x.items() if not k.startswith(("BREVAK_", "QT_QPA_PLATFORM"))}
        env.update(ZENTRIX_SIM=desktop.sock, BREVAK_DATA_DIR=data, XDG_RUNTIME_DIR=runtime)

        def ctl(*args, code=0):
            run = subprocess.run([os.path.join(desktop.bin_dir, "brevak-ctl"), *args], env=env, capture_output=True,
                                 timeout=90, cwd=tmp)
            assert run.returncode == code, f"brevak-ctl {' '.join(args)} returned {run.returncode}, not {code}: " \
                                           f"{run.stderr.decode()}"
            return run.stdout.decode()

        def stage1():
            return json.loads(desktop.sim_ctl("dump"))["attribute"]["dpi_values"][0]

        def wait_stage1(value, what):
            deadline = time.monotonic() + SWITCH_WAIT_S
            while stage1() != value and time.monotonic() < deadline:
                time.sleep(0.1)
            assert stage1() == value, f"{what}: the mouse's stage 1 is {stage1() * DPI_STEP} DPI"

        def settled_frames():
            """The frames the mouse took, once no write has run for two seconds."""
            last, since = desktop.frames_taken(), time.monotonic()
            while time.monotonic() - since < 2:
                time.sleep(0.2)
                now = desktop.frames_taken()
                if now != last:
                    last, since = now, time.monotonic()
            return last

        # Without BREVAK: a second profile, its stage 1 at GAME_DPI, bound to XLogo; the first
        # selected again.
        ctl("export", "1", "first.pro")
        ctl("import", "first.pro")
        ctl("dpi", "1", str(GAME_DPI))
        ctl("switch", "1")
        desk = stage1()
        assert desk != GAME_DPI // DPI_STEP, "the first profile already has the game's DPI"
        ctl("bind", "2", "XLogo")
        listed = json.loads(ctl("--json", "bindings"))
        assert listed == [{"class": "XLogo", "profile": listed[0]["profile"], "profile_index": 2}], listed
        ctl("unbind", "1", "XLogo", code=1)  # bound to the second, not the first
        with open(os.path.join(data, "ms_1", "bindings.txt")) as f:
            assert "XLogo\t" in f.read(), "the binding is not in the bindings file"
        print("without BREVAK: a second profile bound to XLogo, listed and on disk")

        windows = {}
        for program in ("xlogo", "xcalc"):
            proc = subprocess.Popen([program, "-title", "bound-" + program], env=desktop.env_x,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            desktop.started.append(proc)
            windows[program] = desktop.window("^bound-" + program + "$")

        # Started with an unbound window active, so the start itself switches nothing.
        desktop.focus(windows["xcalc"])
        log = open(os.path.join(tmp, "games.log"), "w")
        brevak, _ = launch([os.path.join(desktop.bin_dir, "BREVAK")],
                           dict(env, BREVAK_DEBUG="1", BREVAK_REPORT_SHOWN="1"), stderr=log)
        desktop.started.append(brevak)
        desktop.window("^BREVAK APEX$")
        settled_frames()
        desktop.focus(windows["xcalc"])
        time.sleep(2)
        assert stage1() == desk, "an unbound window changed the profile"
        desktop.focus(windows["xlogo"])
        wait_stage1(GAME_DPI // DPI_STEP, "xlogo active")
        status = json.loads(ctl("--json", "status"))
        assert status["profile_index"] == 2, status
        print("xlogo active: the second profile is on the mouse")

        desktop.focus(windows["xcalc"])
        wait_stage1(desk, "xcalc active")
        print("xcalc active: the first profile is back on the mouse")

        before = settled_frames()
        order = ["xcalc", "xlogo"] * 5  # from xcalc active, ending on xlogo
        # One xdotool, paced so that the window manager acts on each request (sent back to back
        # it takes only some): ten activations in about 0.7 s.
        args = []
        for program in order:
            args += (["sleep", "0.08"] if args else []) + ["windowactivate", windows[program]]
        log_path = os.path.join(tmp, "games.log")
        log_before = os.path.getsize(log_path)
        start = time.monotonic()
        desktop.xdotool(*args)
        took = time.monotonic() - start
        assert took < 1.0, f"the ten activations took {took:.2f} s"
        wait_stage1(GAME_DPI // DPI_STEP, "after the storm, xlogo active")
        written = settled_frames() - before
        with open(log_path, errors="replace") as f:
            f.seek(log_before)
            seen = f.read().count("Active window: xlogo XLogo")
        assert seen >= 3, f"the program saw xlogo made active {seen} times in the storm, too few to be one"
        assert written <= FULL_WRITE_FRAMES, f"ten activations in {took:.2f} s: {written} frames written, " \
                                             f"more than one full write ({FULL_WRITE_FRAMES})"
        print(f"ten activations in {took:.2f} s ({seen} of xlogo seen): {written} frames, one full write")

        # Through the running program: unbound, xlogo no longer switches.
        desktop.focus(windows["xcalc"])
        wait_stage1(desk, "xcalc active again")
        ctl("unbind", "2", "XLogo")
        assert json.loads(ctl("--json", "bindings")) == []
        before = settled_frames()
        desktop.focus(windows["xlogo"])
        time.sleep(3)
        assert settled_frames() == before and stage1() == desk, "an unbound xlogo still switched"
        print("unbound through BREVAK: xlogo changes nothing")

        brevak.terminate()
        assert brevak.wait(30) == 0
        return 0
    except (AssertionError, BenchError, subprocess.TimeoutExpired, subprocess.CalledProcessError) as e:
        print(f"FAILED: {e}")
        print_log_tail(os.path.join(tmp, "games.log"))
        return 1
    finally:
        if desktop:
            desktop.close()


if __name__ == "__main__":
    sys.exit(main())
