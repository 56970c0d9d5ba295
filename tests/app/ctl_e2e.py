#!/usr/bin/python3
"""brevak-ctl as a user runs it, against the simulated mouse program: first without BREVAK (the
client writes to the mouse itself; a BREVAK started meanwhile waits for it), then with BREVAK
running offscreen (the command goes over its socket), where garbage and an oversized request on that socket are refused and the next
command is still answered, and a connection that sends nothing is still a second start.
Usage: ctl_e2e.py BUILD_DIR
"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from program_bench import BenchError, launch, start_sim, print_log_tail, stop  # noqa: E402


def main():
    build = os.path.abspath(sys.argv[1])
    bin_dir = os.path.join(build, "bin")
    tmp = tempfile.mkdtemp(prefix="brevak-ctl-e2e.")
    started = []
    try:
        sim, sock = start_sim(bin_dir, tmp, "cable")
        started.append(sim)
        data, runtime = os.path.join(tmp, "data"), os.path.join(tmp, "run")
        os.mkdir(data)
        os.mkdir(runtime, 0o700)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("BREVAK_", "QT_QPA_PLATFORM", "DISPLAY"))}
        env.update(QT_QPA_PLATFORM="offscreen", ZENTRIX_SIM=sock, BREVAK_DATA_DIR=data, XDG_RUNTIME_DIR=runtime,
                   DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-session-bus"),
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-system-bus"))

        def ctl(*args, code=0):
            run = subprocess.run([os.path.join(bin_dir, "brevak-ctl"), *args], env=env, capture_output=True,
                                 timeout=90, cwd=tmp)
            assert run.returncode == code, f"brevak-ctl {' '.join(args)} returned {run.returncode}, not {code}: " \
                                           f"{run.stderr.decode()}"
            return run.stdout.decode()

        def mouse():
            dump = subprocess.run([os.path.join(bin_dir, "brevak-mousesim"), "ctl", "--socket", sock, "dump"],
                                  capture_output=True, timeout=10, check=True)
            return json.loads(dump.stdout)

        # Without the program.
        ctl("dpi", "2", "1649")
        assert mouse()["attribute"]["dpi_values"][1] == 32, mouse()["attribute"]
        ctl("dpi-stage", "2")
        status = json.loads(ctl("--json", "status"))
        assert status["connection"] == "cable" and status["dpi"] == 1600 and status["dpi_stage"] == 2, status
        ctl("export", "1", "first.pro")  # a path relative to the caller's folder
        assert os.path.getsize(os.path.join(tmp, "first.pro")) > 0
        before = open(os.path.join(data, "ms_1", "pro.data"), "rb").read()
        ctl("button", "1", "right-click", code=1)  # the only left click
        assert open(os.path.join(data, "ms_1", "pro.data"), "rb").read() == before
        print("without BREVAK: dpi written, status read, export made, a refusal changed nothing")

        # With the program, started while a client writes without it: it waits for the lock.
        writer = subprocess.Popen([os.path.join(bin_dir, "brevak-ctl"), "switch", "1"], env=env, cwd=tmp,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        started.append(writer)
        time.sleep(0.3)
        program = os.path.join(bin_dir, "BREVAK")
        log = open(os.path.join(tmp, "brevak.log"), "w")
        first, _ = launch([program], dict(env, BREVAK_REPORT_SHOWN="1"), stderr=log)
        started.append(first)
        assert writer.wait(60) == 0, f"the client's switch: {writer.stderr.read().decode()}"
        assert first.poll() is None, "BREVAK gave up while the client held the lock"
        ctl("import", "first.pro")
        ctl("dpi", "3", "2400")
        ctl("dpi-stage", "3")
        assert mouse()["attribute"]["dpi_values"][2] == 48 and mouse()["attribute"]["stage_index"] == 2
        profiles = json.loads(ctl("--json", "profiles"))
        assert [p["selected"] for p in profiles] == [False, True], profiles

        path = os.path.join(runtime, "BREVAK APEX.socket")
        for what, request in (("garbage", b"GET / HTTP/1.1\r\n\r\n"), ("oversized", b"BREVAK-CTL 1 99999999\n")):
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.settimeout(10)
            s.connect(path)
            s.sendall(request)
            answer = b""
            while chunk := s.recv(4096):
                answer += chunk
            s.close()
            assert answer.endswith(b"x 1\n1"), f"{what}: {answer!r}"
            assert json.loads(ctl("--json", "status"))["dpi"] == 2400
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(10)
        s.connect(path)
        assert s.recv(16) == b"ok", "a bare connection is a second start"
        s.close()
        assert first.poll() is None, "BREVAK ended"
        print("with BREVAK: import and dpi written through the window; garbage and oversized refused, "
              "the next command answered")

        first.terminate()
        assert first.wait(30) == 0
        status = json.loads(ctl("--json", "status"))
        assert status["dpi"] == 2400 and status["profile_index"] == 2, status
        print("after BREVAK: the store holds what the window wrote")
        return 0
    except (AssertionError, BenchError, subprocess.TimeoutExpired) as e:
        print(f"FAILED: {e}")
        print_log_tail(os.path.join(tmp, "brevak.log"))
        return 1
    finally:
        for proc in reversed(started):
            stop(proc)


if __name__ == "__main__":
    sys.exit(main())
