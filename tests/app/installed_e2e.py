#!/usr/bin/python3
"""The installed package as a user meets it, against the build's simulated mouse (the package
does not carry it). Run by scripts/package.sh after `apt install`, not by ctest (it needs the
package installed).

Checks: `brevak --version` and `--help` answer without a display; when brevak-ctl is installed,
`brevak-ctl status` reads the simulated mouse and `brevak-ctl autostart on` writes an entry that
starts the installed launcher (then `off` removes it); the installed program comes up offscreen
("shown"), opens the simulated mouse, writes its profile store, and ends in order on SIGTERM;
so does a start with --autostart.
Usage: installed_e2e.py BUILD_DIR [PREFIX]   (PREFIX: /usr)
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from program_bench import BenchError, launch, start_sim, print_log_tail, stop  # noqa: E402


def run(argv, env, expect=0):
    done = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=30)
    if done.returncode != expect:
        raise AssertionError(f"{' '.join(argv)} returned {done.returncode}, not {expect}:\n"
                             f"{done.stdout}{done.stderr}")
    return done.stdout


def main():
    build = os.path.abspath(sys.argv[1])
    prefix = sys.argv[2] if len(sys.argv) > 2 else "/usr"
    brevak, ctl = os.path.join(prefix, "bin", "brevak"), os.path.join(prefix, "bin", "brevak-ctl")
    tmp = tempfile.mkdtemp(prefix="brevak-installed.")
    started = []
    try:
        sim, sock = start_sim(os.path.join(build, "bin"), tmp, "cable")
        started.append(sim)
        data, runtime, config = (os.path.join(tmp, d) for d in ("data", "run", "config"))
        os.mkdir(data)
        os.mkdir(runtime, 0o700)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("BREVAK_", "QT_QPA_PLATFORM", "WAYLAND_", "DISPLAY", "XDG_"))}
        env.update(QT_QPA_PLATFORM="offscreen", ZENTRIX_SIM=sock, BREVAK_DATA_DIR=data,
                   XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=config,
                   DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-session-bus"),
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-system-bus"))

        version = run([brevak, "--version"], env).strip()
        assert version.startswith("BREVAK "), f"brevak --version said {version!r}"
        assert "--autostart" in run([brevak, "--help"], env), "brevak --help does not name --autostart"
        print(f"installed: {version}; --help answers")

        if os.path.exists(ctl):
            print("brevak-ctl status:\n" + run([ctl, "status"], env).rstrip())
            run([ctl, "autostart", "on"], env)
            entry = os.path.join(config, "autostart", "brevak.desktop")
            with open(entry) as f:
                exec_line = next(line for line in f if line.startswith("Exec="))
            assert exec_line.startswith(f'Exec="{brevak}" --autostart'), f"the entry starts {exec_line!r}"
            run([ctl, "autostart", "off"], env)
            assert not os.path.exists(entry), "brevak-ctl autostart off left the entry"
            print(f"brevak-ctl autostart: on wrote {exec_line.strip()}, off removed it")
        else:
            print("brevak-ctl is not in this build: its checks are skipped")

        env.update(BREVAK_REPORT_SHOWN="1", BREVAK_DEBUG="1")
        log = open(os.path.join(tmp, "brevak.log"), "w")
        program, seconds = launch([brevak], env, stderr=log)
        started.append(program)
        # The installed driver builds open the mouse (their debug line says so).
        log_path, deadline, opened = os.path.join(tmp, "brevak.log"), time.monotonic() + 15, False
        while not opened and time.monotonic() < deadline:
            time.sleep(0.1)
            with open(log_path) as f:
                opened = "OpenHidDevice OSD_USAGEPAGE Success" in f.read()
        assert opened, "the installed program did not open the simulated mouse within 15 s"
        program.terminate()
        code = program.wait(30)
        assert code == 0, f"SIGTERM ended the installed program with {code}"
        assert os.path.exists(os.path.join(data, "ms_1", "pro.data")), "no profile store was written"
        print(f"installed program: shown after {seconds:.1f} s offscreen, opened the mouse, ended in order on SIGTERM")

        # As the autostart entry starts it: put away at once (no tray offscreen), still ending in order.
        program, seconds = launch([brevak, "--autostart"], env, stderr=log)
        started.append(program)
        program.terminate()
        code = program.wait(30)
        assert code == 0, f"SIGTERM ended the program started with --autostart with {code}"
        print(f"installed program --autostart: put away after {seconds:.1f} s, ended in order on SIGTERM")
        return 0
    except (AssertionError, BenchError, subprocess.TimeoutExpired) as e:
        print(f"FAILED: {e}")
        print_log_tail(os.path.join(tmp, "brevak.log"))
        return 1
    finally:
        for proc in reversed(started):
            stop(proc)
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
