#!/usr/bin/env bash
# Builds the Debian package and checks it: its contents and dependencies, lintian and
# appstreamcli; then installs it with apt, runs the installed programs against the simulated
# mouse (tests/app/installed_e2e.py), and removes it again, leaving nothing behind.
#   scripts/package.sh [BUILD_DIR]        (default build/; apt needs root, or sudo)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
fail() { echo "package: $*" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja
rm -f "$build"/brevak_*.deb
cmake --build "$build" -j"$(nproc)" --target package
debs=("$build"/brevak_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one brevak_*.deb in $build, found: ${debs[*]}"
deb=$(realpath "${debs[0]}")
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

# Contents: what a user needs, where Debian and udev look for it; the simulated mouse stays out.
udev_dir=$(sed -n 's/^BREVAK_UDEV_DIR:PATH=//p' "$build/CMakeCache.txt")
contents=$(dpkg-deb -c "$deb" | awk '{print $6 ($7 ? " " $7 " " $8 : "")}')
expected=(
  "./usr/bin/brevak -> ../lib/brevak/BREVAK"
  ./usr/lib/brevak/BREVAK ./usr/lib/brevak/libbrevak_platform.so ./usr/lib/brevak/Hook.so
  ./usr/lib/brevak/zentrix_1.so ./usr/lib/brevak/zentrix_2.so ./usr/lib/brevak/zentrix_4k.so
  ./usr/lib/brevak/zentrix_8k.so ./usr/lib/brevak/res/main.xml ./usr/lib/brevak/res/lan.xml
  ".${udev_dir}/rules.d/70-brevak-apex.rules"
  ./usr/share/applications/brevak.desktop ./usr/share/icons/hicolor/scalable/apps/brevak.svg
  ./usr/share/man/man1/brevak.1.gz ./usr/share/doc/brevak/copyright
  ./usr/share/doc/brevak/changelog.Debian.gz
)
if [ -x "$build/bin/brevak-ctl" ]; then
  expected+=("./usr/bin/brevak-ctl -> ../lib/brevak/brevak-ctl" ./usr/lib/brevak/brevak-ctl
             ./usr/share/man/man1/brevak-ctl.1.gz)
fi
for path in "${expected[@]}"; do
  grep -qxF -- "$path" <<<"$contents" || fail "the package lacks $path"
done
! grep -q mousesim <<<"$contents" || fail "the package carries the simulated mouse"
metainfo=$(grep -x '\./usr/share/metainfo/.*\.metainfo\.xml' <<<"$contents") || fail "the package has no AppStream metainfo"
echo "package: contents as expected (${#expected[@]} paths checked, metainfo $metainfo)"

# Dependencies: from the binaries (dpkg-shlibdeps); the SVG plugins are only recommended.
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: Depends: $depends"
depend_names=$(sed 's/ ([^)]*)//g; s/, */\n/g; s/ *|[^\n]*//g' <<<"$depends")
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libsystemd0 \
           libx11-6 libx11-xcb1 libxcb1 libxi6 libfontconfig1; do
  grep -qxF "$dep" <<<"$depend_names" || fail "Depends lacks $dep"
done
maintainer=$(dpkg-deb -f "$deb" Maintainer)
[ -n "$maintainer" ] || fail "no maintainer"

# lintian: no error (warnings and notes are shown).
lintian --fail-on error --no-tag-display-limit "$deb" || fail "lintian reports errors"
echo "package: lintian reports no error"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
appstreamcli validate --no-net "$scratch/$metainfo" || fail "appstreamcli refuses the metainfo"

# Installed with apt, run, and removed: afterwards neither the package's files nor packages it
# pulled in are left.
before=$(dpkg-query -W -f '${Package}\n' | sort)
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -q -y --no-install-recommends "$deb"
status=0
/usr/bin/python3 tests/app/installed_e2e.py "$build" /usr || status=$?
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -q -y brevak
pulled=$(comm -13 <(echo "$before") <(dpkg-query -W -f '${Package}\n' | sort))
if [ -n "$pulled" ]; then
  # shellcheck disable=SC2086
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -q -y $pulled
fi
[ "$status" -eq 0 ] || fail "the installed programs failed (above)"
! dpkg-query -W brevak >/dev/null 2>&1 || fail "brevak is still known to dpkg"
left=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}' | while read -r f; do
  [ -e "$f" ] || [ -L "$f" ] && echo "$f"; done || true)
[ -z "$left" ] || fail "left behind: $left"
[ ! -e /usr/lib/brevak ] || fail "left behind: /usr/lib/brevak"
echo "package: installed, ran and removed, nothing left behind"
