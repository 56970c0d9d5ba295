#!/usr/bin/python3
"""The low-battery notification end to end: BREVAK offscreen against the simulated mouse on 4K,
on a private session bus with python3-dbusmock's notification service. The mouse's battery
falls from 20 % to 4 %: exactly two notifications (15 % and 5 %); charging and a rise give none;
charging re-arms the next discharge. Without the service the program carries on and logs once.
Usage: notify_e2e.py BUILD_DIR   (run by /usr/bin/python3: Debian's dbusmock lives there)
"""

import json
import os
import subprocess
import sys
import tempfile
import time

import dbus
import dbusmock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from program_bench import BenchError, launch, start_sim, print_log_tail, stop  # noqa: E402

WAIT_S = 15.0
UNAVAILABLE_NOTE = "notify: no desktop notification"


def main():
    build = os.path.abspath(sys.argv[1])
    bin_dir = os.path.join(build, "bin")
    tmp = tempfile.mkdtemp(prefix="brevak-notify-e2e.")
    log_path = os.path.join(tmp, "brevak.log")
    started = []
    bus_pid = None
    try:
        bus_pid, address = dbusmock.DBusTestCase.start_dbus()
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
        mock, mock_obj = dbusmock.DBusTestCase.spawn_server_template("notification_daemon", {},
                                                                     stdout=subprocess.DEVNULL)
        started.append(mock)
        calls = dbus.Interface(mock_obj, dbusmock.MOCK_IFACE)

        sim, sock = start_sim(bin_dir, tmp, "4k")
        started.append(sim)
        data, runtime = os.path.join(tmp, "data"), os.path.join(tmp, "run")
        os.mkdir(data)
        os.mkdir(runtime, 0o700)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("BREVAK_", "QT_QPA_PLATFORM", "DISPLAY"))}
        env.update(QT_QPA_PLATFORM="offscreen", ZENTRIX_SIM=sock, BREVAK_DATA_DIR=data, XDG_RUNTIME_DIR=runtime,
                   BREVAK_REPORT_SHOWN="1", BREVAK_DEBUG="1", DBUS_SESSION_BUS_ADDRESS=address,
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-system-bus"))

        def mouse(*command):
            subprocess.run([os.path.join(bin_dir, "brevak-mousesim"), "ctl", "--socket", sock, *command],
                           capture_output=True, timeout=10, check=True)

        def status():
            run = subprocess.run([os.path.join(bin_dir, "brevak-ctl"), "--json", "status"], env=env,
                                 capture_output=True, timeout=90, cwd=tmp)
            return json.loads(run.stdout) if run.returncode == 0 else {}

        # The program has taken the report when its status says so; the status goes through the
        # program's socket, so it is answered on the window thread after the report.
        def until(what, check):
            deadline = time.monotonic() + WAIT_S
            while time.monotonic() < deadline:
                s = status()
                if check(s):
                    return
                time.sleep(0.05)
            raise AssertionError(f"the program never showed {what}: {status()}")

        def battery(level):
            mouse("battery", str(level))
            until(f"{level} %", lambda s: s.get("battery") == level and s.get("charging") is False)

        def charging(on):
            mouse("charging", "on" if on else "off")
            until(f"charging {on}", lambda s: s.get("charging") is on)

        def notices():
            return [(str(a[3]), str(a[4]), int(a[6].get("urgency", -1)))
                    for _, method, a in calls.GetCalls() if method == "Notify"]

        with open(log_path, "w") as log:
            program, _ = launch([os.path.join(bin_dir, "BREVAK")], env, stderr=log)
        started.append(program)

        battery(20)
        for level in range(19, 3, -1):
            battery(level)
        got = notices()
        assert len(got) == 2, f"falling from 20 % to 4 %: {got}"
        assert "15%" in got[0][1] and got[0][2] == 1, got[0]
        assert "5%" in got[1][1] and got[1][2] == 2, got[1]
        time.sleep(1.5)  # a periodic report of the same level comes and goes
        assert len(notices()) == 2, f"a repeated report announced again: {notices()}"
        print("falling from 20 % to 4 %: two notifications, 15 % then 5 % (critical)")

        charging(True)
        for level in (3, 10, 40):
            mouse("battery", str(level))
        charging(False)
        battery(40)
        battery(41)
        assert len(notices()) == 2, f"charging and rising: {notices()}"
        print("charging and rising: none")

        for level in (30, 15):
            battery(level)
        assert len(notices()) == 3, f"after a charge the next discharge announces again: {notices()}"
        print("the next discharge announces 15 % again")

        stop(mock)
        charging(True)
        charging(False)
        battery(14)
        charging(True)
        charging(False)
        battery(13)
        assert program.poll() is None, "BREVAK ended without a notification service"
        with open(log_path) as f:
            said = f.read().count(UNAVAILABLE_NOTE)
        assert said == 1, f"without the service the log says so {said} times, not once"
        print("without the service: the program carries on, one log note")
        return 0
    except (AssertionError, BenchError, subprocess.TimeoutExpired, dbus.DBusException) as e:
        print(f"FAILED: {e}")
        print_log_tail(log_path)
        return 1
    finally:
        for proc in reversed(started):
            stop(proc)
        if bus_pid:
            dbusmock.DBusTestCase.stop_dbus(bus_pid)


if __name__ == "__main__":
    sys.exit(main())
