#!/usr/bin/env bash
# Builds BREVAK and runs it: against the simulated mouse when no real one is plugged in, and
# under a private Xvfb (taking a screenshot of the main window) when there is no display.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: scripts/run.sh [--cable|--1k|--4k|--8k|--ble] [--real] [--keep] [--data DIR] [--sim-only]

  --cable, --1k, --4k, --8k, --ble
                the simulated mouse's connection (default --cable); used when no real
                mouse is plugged in
  --real        never start the simulated mouse (use the real one, or none)
  --keep        without a display: keep the program running under Xvfb after the
                screenshot, until Ctrl-C
  --data DIR    the program's data folder (default build/run-data, so a trial run never
                touches ~/.local/share/brevak)
  --sim-only    start only the simulated mouse, print its ZENTRIX_SIM and wait for Ctrl-C
                (for running the program under a debugger)
EOF
}

cd "$(dirname "$0")/.."
root=$PWD
build=$root/build
bin=$build/bin
screenshot=$build/brevak-main-window.png
screenshot_timeout=60

connection=cable
connection_given=0
real=0
keep=0
sim_only=0
data_dir=$build/run-data
while [ $# -gt 0 ]; do
  case $1 in
    --cable | --1k | --4k | --8k | --ble) connection=${1#--}; connection_given=1 ;;
    --real) real=1 ;;
    --keep) keep=1 ;;
    --sim-only) sim_only=1 ;;
    --data)
      [ $# -ge 2 ] || { usage >&2; exit 2; }
      data_dir=$2
      shift
      ;;
    --data=*) data_dir=${1#--data=} ;;
    -h | --help) usage; exit 0 ;;
    *) echo "run.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
if [ "$real" = 1 ] && [ "$connection_given" = 1 ]; then
  echo "run.sh: --real and --$connection exclude each other" >&2
  exit 2
fi

say() { printf 'run.sh: %s\n' "$*"; }
die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }

# --- Everything started here is stopped on exit, each by its own process id.
tmp=$(mktemp -d "${TMPDIR:-/tmp}/brevak-run.XXXXXX")
sim_pid=
xvfb_pid=
program_pid=
stop_pid() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  stop_pid "$program_pid"
  stop_pid "$sim_pid"
  stop_pid "$xvfb_pid"
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- Packages: scripts/deps.sh is the one list; run it only when something on it is missing.
deps_missing() {
  local packages tool
  for tool in cmake ninja c++ pkg-config; do
    command -v "$tool" >/dev/null || return 0
  done
  command -v dpkg >/dev/null || return 1  # not Debian: trust what is there
  read -r -a packages <<<"$(sed -n '/^packages=(/,/^)/{/^packages=(/d;/^)/d;p}' scripts/deps.sh | tr '\n' ' ')"
  [ "${#packages[@]}" -gt 0 ] || return 0
  ! dpkg -s "${packages[@]}" >/dev/null 2>&1
}
if deps_missing; then
  say "installing the packages the build needs (scripts/deps.sh)"
  bash scripts/deps.sh
fi

# --- Build. Configuring every time picks up folders that joined the tree since the last run.
generator=(-G Ninja)
[ -f "$build/CMakeCache.txt" ] && generator=()
cmake -S . -B "$build" "${generator[@]}" >"$tmp/configure.log" || { cat "$tmp/configure.log" >&2; die "configuring build/ failed"; }

have_target() { grep -qx "$1" "$tmp/targets"; }
if [ -f "$build/build.ninja" ]; then
  ninja -C "$build" -t targets all | sed -n 's/^\([^:]*\): phony$/\1/p' >"$tmp/targets"
else
  : >"$tmp/targets"
fi
targets=()
for t in BREVAK zentrix_1 zentrix_2 zentrix_4k zentrix_8k Hook hook brevak-mousesim; do
  have_target "$t" && targets+=("$t")
done
if [ ! -s "$tmp/targets" ]; then
  cmake --build "$build" -j"$(nproc)"  # another generator: build everything
elif [ "$sim_only" = 1 ]; then
  cmake --build "$build" -j"$(nproc)" --target brevak-mousesim
else
  cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
fi
if [ "$sim_only" = 0 ]; then
  if [ -s "$tmp/targets" ] && ! have_target BREVAK; then
    die "the program is not built yet: the build defines no BREVAK target (app/CMakeLists.txt says what it waits for); the simulated mouse alone runs with --sim-only"
  fi
  [ -x "$bin/BREVAK" ] || die "the program is not built yet: $bin/BREVAK is missing after the build"
fi

# --- The mouse: a real one (vendor 1D57 on USB/receiver, or its Bluetooth HID ids), else the
# simulated one on a socket of its own.
real_mouse() {
  local uevent
  for uevent in /sys/class/hidraw/*/device/uevent; do
    [ -r "$uevent" ] || continue
    if grep -qiE '^HID_ID=[0-9a-f]{4}:(00001D57:|0000045E:00000059$)' "$uevent"; then
      basename "$(dirname "$(dirname "$uevent")")"
      return 0
    fi
  done
  return 1
}
start_sim() {
  local mode=$1 sock=$tmp/mousesim.sock
  "$bin/brevak-mousesim" --socket "$sock" --connect "$mode" >"$tmp/mousesim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -S "$sock" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ ! -S "$sock" ] || ! "$bin/brevak-mousesim" ctl --socket "$sock" dump >/dev/null; then
    cat "$tmp/mousesim.log" >&2
    die "the simulated mouse did not start"
  fi
  export ZENTRIX_SIM=$sock
  say "simulated mouse ($mode) on $sock, pid $sim_pid"
}

if [ "$real" = 1 ]; then
  unset ZENTRIX_SIM
  say "no simulated mouse (--real)"
elif [ "$sim_only" = 0 ] && node=$(real_mouse); then
  unset ZENTRIX_SIM
  say "real mouse found (/dev/$node): no simulated mouse"
  [ "$connection_given" = 0 ] || say "--$connection is ignored while a real mouse is plugged in (unplug it to use the simulated one)"
elif [ -n "${ZENTRIX_SIM:-}" ] && [ "$connection_given" = 0 ] && [ "$sim_only" = 0 ]; then
  say "using the simulated mouse already named by ZENTRIX_SIM=$ZENTRIX_SIM"
else
  if [ "$connection" = ble ]; then
    # The simulator serves Bluetooth only through its own socket; the program reaches a
    # Bluetooth mouse through BlueZ on the system bus, which nothing here provides.
    say "--ble: the simulated mouse runs without cable or receiver; the program finds a Bluetooth mouse only through BlueZ, so it will show no mouse here"
  fi
  start_sim "$connection"
fi

if [ "$sim_only" = 1 ]; then
  say "export ZENTRIX_SIM=$ZENTRIX_SIM   # Ctrl-C stops the simulated mouse"
  wait "$sim_pid" || true
  sim_pid=
  exit 0
fi

mkdir -p "$data_dir"
data_dir=$(cd "$data_dir" && pwd)
export BREVAK_DATA_DIR=$data_dir
say "data folder $data_dir"

# --- With a display: the program in the foreground until it is closed.
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  status=0
  "$bin/BREVAK" || status=$?
  [ "$status" != 1 ] || say "BREVAK exited with 1: another instance is running (it was asked to come forward)"
  exit "$status"
fi

# --- No display: a private Xvfb, a screenshot of the main window, then stop (or --keep).
command -v Xvfb >/dev/null || die "no DISPLAY and no Xvfb (scripts/deps.sh installs it)"
# In a session of its own: a Ctrl-C must not end the X server before the program that uses it.
setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  grep -q '^[0-9]' "$tmp/display" 2>/dev/null && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
display=$(head -n1 "$tmp/display" 2>/dev/null || true)
[ -n "$display" ] || { cat "$tmp/xvfb.log" >&2; die "Xvfb did not start"; }
export DISPLAY=:$display
# Without a session bus Qt would autolaunch one (dbus-launch) that outlives this run.
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || export DBUS_SESSION_BUS_ADDRESS=unix:path=$tmp/no-session-bus
say "no display: Xvfb on $DISPLAY, pid $xvfb_pid"

rm -f "$screenshot"
export BREVAK_SCREENSHOT=$screenshot
"$bin/BREVAK" >"$tmp/program.out" &
program_pid=$!
deadline=$((SECONDS + screenshot_timeout))
while ! grep -q '^screenshot ' "$tmp/program.out"; do
  if ! kill -0 "$program_pid" 2>/dev/null; then
    status=0
    wait "$program_pid" || status=$?
    program_pid=
    cat "$tmp/program.out"
    [ "$status" != 1 ] || die "BREVAK exited with 1: another instance is running"
    die "BREVAK exited with $status before its screenshot"
  fi
  [ "$SECONDS" -lt "$deadline" ] || { cat "$tmp/program.out"; die "no screenshot from BREVAK within ${screenshot_timeout} s"; }
  sleep 0.1
done
cat "$tmp/program.out"
grep -q '^screenshot failed' "$tmp/program.out" && die "BREVAK could not save its screenshot to $screenshot"
say "the main window's picture: $screenshot"

if [ "$keep" = 1 ]; then
  say "BREVAK keeps running on $DISPLAY (pid $program_pid); Ctrl-C stops it and the rest"
  tail -n 0 -f --pid="$program_pid" "$tmp/program.out" &
  status=0
  wait "$program_pid" || status=$?
  program_pid=
  exit "$status"
fi
