#!/usr/bin/python3
"""The program as a user starts it: under a private Xvfb, against the simulated mouse program.

Checks that BREVAK comes up, draws its 800 x 572 main window (a picture that is not blank),
that a second start exits with 1 while the first keeps running, and that SIGTERM ends it in
order (exit code 0). Usage: program_e2e.py BUILD_DIR
"""

import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from program_bench import BenchError, launch, start_sim, start_xvfb, print_log_tail, stop  # noqa: E402


def read_png(path):
    """(width, height, set of RGB colours) of an 8-bit RGB or RGBA PNG, with the standard library."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if depth != 8 or colour not in (2, 6):
                raise AssertionError(f"unexpected PNG format depth {depth} colour {colour}")
            bpp = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * bpp
    prev = bytearray(stride)
    colours = set()
    for y in range(height):
        row_start = y * (stride + 1)
        kind = raw[row_start]
        row = bytearray(raw[row_start + 1:row_start + 1 + stride])
        for i in range(stride):
            a = row[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                row[i] = (row[i] + a) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + b) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        for x in range(0, stride, bpp * 7):  # every seventh pixel is plenty to tell blank from drawn
            colours.add(bytes(row[x:x + 3]))
        prev = row
    return width, height, colours


def wait_for_line(proc, prefix, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        line = proc.stdout.readline().decode().strip()
        if line.startswith(prefix):
            return line
        if not line and proc.poll() is not None:
            break
    raise AssertionError(f"BREVAK did not print '{prefix}' within {timeout} s")


def main():
    build = os.path.abspath(sys.argv[1])
    bin_dir = os.path.join(build, "bin")
    tmp = tempfile.mkdtemp(prefix="brevak-e2e.")
    started = []
    display = ""
    try:
        xvfb, display = start_xvfb(tmp)
        started.append(xvfb)
        sim, sock = start_sim(bin_dir, tmp, "cable")
        started.append(sim)
        data, runtime = os.path.join(tmp, "data"), os.path.join(tmp, "run")
        os.mkdir(data)
        os.mkdir(runtime, 0o700)
        picture = os.path.join(build, "brevak-main-window-test.png")
        if os.path.exists(picture):
            os.remove(picture)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("BREVAK_", "QT_QPA_PLATFORM"))}
        env.update(DISPLAY=display, ZENTRIX_SIM=sock, BREVAK_DATA_DIR=data, XDG_RUNTIME_DIR=runtime,
                   BREVAK_REPORT_SHOWN="1", BREVAK_SCREENSHOT=picture,
                   DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-session-bus"),
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-system-bus"))
        program = os.path.join(bin_dir, "BREVAK")
        log = open(os.path.join(tmp, "brevak.log"), "w")
        first, _ = launch([program], env, stderr=log)
        started.append(first)
        wait_for_line(first, "screenshot", 20)
        width, height, colours = read_png(picture)
        assert (width, height) == (800, 572), f"main window picture is {width} x {height}"
        assert len(colours) > 20, f"main window picture looks blank ({len(colours)} colours)"
        print(f"main window: {width} x {height}, {len(colours)} colours sampled, kept in {picture}")

        second = subprocess.run([program], env=env, capture_output=True, timeout=20)
        assert second.returncode == 1, f"a second start returned {second.returncode}, not 1"
        assert first.poll() is None, "the first instance ended when the second started"
        print("second start: returned 1, the first keeps running")

        first.terminate()
        code = first.wait(20)
        assert code == 0, f"SIGTERM ended the program with {code}"
        assert os.path.exists(os.path.join(data, "ms_1", "pro.data")), "no profile store was written"
        print("SIGTERM: ended in order (0), store in place")
        return 0
    except (AssertionError, BenchError, subprocess.TimeoutExpired) as e:
        print(f"FAILED: {e}")
        if started and display:
            print(f"X server {display}: running {started[0].poll() is None}, socket "
                  f"{os.path.exists('/tmp/.X11-unix/X' + display[1:])}, exit {started[0].poll()}")
            with open(os.path.join(tmp, "xvfb.log")) as f:
                print("Xvfb said:\n" + f.read()[-2000:])
        print_log_tail(os.path.join(tmp, "brevak.log"))
        return 1
    finally:
        for proc in reversed(started):
            stop(proc)


if __name__ == "__main__":
    sys.exit(main())
