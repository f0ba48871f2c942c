#!/usr/bin/env bash
# End to end under Wine: corvel-sim (the Linux build) on a pseudo-terminal,
# registered in the Wine prefix as COM7; corvel-dl.exe -p COM7 runs ports,
# info and a download, and each run's lines must be the Linux corvel-dl's
# for the same session, the port's name aside.
#   tests/windows/wine_e2e.sh LINUX_BUILD WINDOWS_BUILD
# WINEPREFIX must name the prefix (scripts/windows makes it).
set -euo pipefail
linux=$1
windows=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all
exe=$windows/cli/corvel-dl.exe
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "wine_e2e: $*" >&2; exit 1; }

"$linux/sim/corvel-sim" --no-banner > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
pty=$(head -n 1 "$work/sim.out")
[ -c "$pty" ] || fail "corvel-sim gave no device: $(cat "$work/sim.err")"

# Wine reads its port map when the server starts.
wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$pty" /f > /dev/null 2>&1 || fail "wine reg add failed"
wineserver -k 2>/dev/null || true
wineserver -w

# ports: the registered COM7 is listed.
wine "$exe" ports > "$work/ports.txt" 2> "$work/ports.err" || fail "corvel-dl.exe ports failed: $(cat "$work/ports.err")"
tr -d '\r' < "$work/ports.txt" | grep -qx 'COM7' || fail "corvel-dl.exe ports does not list COM7: $(tr '\n' ' ' < "$work/ports.txt")"

status=0
compare() {
  local name=$1
  shift
  local linux_status=0 windows_status=0
  "$linux/cli/corvel-dl" -p "$pty" "$@" > "$work/$name.linux" 2>&1 || linux_status=$?
  wine "$exe" -p COM7 "$@" > "$work/$name.windows" 2>&1 || windows_status=$?
  # Windows ends lines with CR LF (its C library's text mode); the port's name
  # differs by design,
  # and so is the time a download took.
  local times='s/^下载耗时:[0-9.]*s$/下载耗时:Ns/'
  sed -e "s|$pty|PORT|g" -e "$times" "$work/$name.linux" > "$work/$name.linux.n"
  sed -e 's/\r$//' -e 's|COM7|PORT|g' -e "$times" "$work/$name.windows" > "$work/$name.windows.n"
  if [ "$linux_status" != "$windows_status" ]; then
    echo "wine_e2e: $name: exit status $windows_status under Wine, $linux_status on Linux" >&2
    status=1
  fi
  if ! diff -u "$work/$name.linux.n" "$work/$name.windows.n" >&2; then
    echo "wine_e2e: $name: the lines differ (- Linux, + Windows)" >&2
    status=1
  fi
  echo "wine_e2e: $name: $(wc -l < "$work/$name.linux.n") lines, exit $linux_status"
}
compare info info
compare download download --app "$root/examples/app_demo.hex"
[ $status -eq 0 ] && echo "wine_e2e: corvel-dl.exe printed the Linux build's lines"
exit $status
