#!/usr/bin/env bash
# End to end under Wine: two corvel-sim (the Linux build) on pseudo-terminals,
# reached through the links $work/COM7 and $work/COM8, which the Wine prefix
# also registers as COM7 and COM8. corvel-dl.exe -p COM7 and the Linux
# corvel-dl -p $work/COM7 run the same commands, each in a folder of its own,
# and must print the same lines with the same exit status; what differs by
# design (times, the system's own error texts) is masked first.
#   tests/windows/wine_e2e.sh LINUX_BUILD WINDOWS_BUILD
# WINEPREFIX must name the prefix (scripts/windows makes it).
# Beyond Wine's reach: a key press in a real console (the Ctrl-C event comes
# from a SIGINT here), Ctrl-Break and closing the window; a USB adapter
# pulled out (a pseudo-terminal's hangup reads as a broken pipe) and
# SetupAPI's details of one; ports that refuse a second opening; the
# system's texts in Chinese.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all
# Wine turns the Unix command line and file names into Windows' wide
# characters through the locale's character set: UTF-8, as a Chinese name
# needs.
export LC_ALL=C.UTF-8
exe=$windows/cli/corvel-dl.exe
work=$(mktemp -d)
mkdir "$work/linux" "$work/windows"
declare -A sims=()
cleanup() {
  for name in "${!sims[@]}"; do kill "${sims[$name]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "wine_e2e: $*" >&2; exit 1; }

# start_sim NAME [corvel-sim options]: a simulated chip behind $work/NAME.
start_sim() {
  local name=$1
  shift
  "$linux/sim/corvel-sim" --no-banner --link "$work/$name" "$@" > "$work/$name.sim.out" 2> "$work/$name.sim.err" &
  sims[$name]=$!
  for _ in $(seq 100); do [ -L "$work/$name" ] && [ -s "$work/$name.sim.out" ] && return; sleep 0.05; done
  fail "corvel-sim gave no device for $name: $(cat "$work/$name.sim.err")"
}

stop_sim() {
  kill "${sims[$1]}" 2>/dev/null || true
  wait "${sims[$1]}" 2>/dev/null || true
  unset "sims[$1]"
}

start_sim COM7
start_sim COM8 --serial 0x0000C0DE

# Wine reads its port map when the server starts: both ports at once, one
# restart.
cat > "$work/ports.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"COM7"="$work/COM7"
"COM8"="$work/COM8"
EOF
wine reg import "$work/ports.reg" > /dev/null 2>&1 || fail "wine reg import failed"
wineserver -k 2>/dev/null || true
wineserver -w
# One server for every run, with a log of its own: it opens the ports, so a
# pseudo-terminal becomes its controlling terminal, and when a chip's end
# hangs up it prints its object table, which is not corvel-dl's output.
wineserver -p 2> "$work/wineserver.err"

# ports: the registered COM7 and COM8 are listed.
wine "$exe" ports > "$work/ports.txt" 2> "$work/ports.err" || fail "corvel-dl.exe ports failed: $(cat "$work/ports.err")"
listed=$(tr -d '\r' < "$work/ports.txt")
for port in COM7 COM8; do
  grep -qx "$port" <<< "$listed" || fail "corvel-dl.exe ports does not list $port: $(tr '\n' ' ' <<< "$listed")"
done

status=0
problem() {
  echo "wine_e2e: $*" >&2
  status=1
}

# run SIDE NAME ARG...: one side's run in its own folder; "@" in an argument
# stands for where the ports are ($work/ on Linux, nothing on Windows). With
# interrupt_at set, corvel-dl gets SIGINT once a line holding that text
# shows. Leaves NAME.SIDE.out and .err (line ends and paths made alike) and
# NAME.SIDE.status.
run() {
  local side=$1 name=$2
  shift 2
  local code=0 command=() arg pid
  local out=$work/$name.$side
  if [ "$side" = linux ]; then
    command=("$linux/cli/corvel-dl")
    for arg; do command+=("${arg//@/$work/}"); done
  else
    command=(wine "$exe")
    for arg; do command+=("${arg//@/}"); done
  fi
  (cd "$work/$side" && exec timeout 60 "${command[@]}") > "$out.raw" 2> "$out.rawerr" &
  pid=$!
  if [ -n "${interrupt_at:-}" ]; then
    for _ in $(seq 600); do grep -q "$interrupt_at" "$out.raw" && break; sleep 0.05; done
    grep -q "$interrupt_at" "$out.raw" || problem "$name: corvel-dl on $side never printed $interrupt_at"
    # To corvel-dl alone (under Wine, the process that runs it): timeout
    # would pass the signal to its whole process group.
    kill -INT "$(pgrep -P $pid)" 2>/dev/null || problem "$name: corvel-dl on $side had ended before the interrupt"
  fi
  wait $pid || code=$?
  [ $code -eq 124 ] && problem "$name: corvel-dl on $side did not end within 60 s"
  echo $code > "$out.status"
  # Windows ends lines with CR LF (its C library's text mode) and names the
  # folder its own way; a download's time is never the same twice.
  local windows_folder="Z:${work//\//\\}\\windows\\"
  local same=(-e 's/\r$//' -e "s|$work/$side/||g" -e "s|${windows_folder//\\/\\\\}||g" -e "s|$work/||g"
              -e 's/^下载耗时:[0-9.]*s$/下载耗时:Ns/')
  sed "${same[@]}" "$out.raw" > "$out.out"
  sed "${same[@]}" "$out.rawerr" > "$out.err"
}

# same NAME [OUT_FILTER [ERR_FILTER]]: both sides' statuses agree, and so do
# their stdout and stderr lines, each through its filter.
same() {
  local name=$1 out_filter=${2:-cat} err_filter=${3:-cat}
  local linux_status windows_status filter
  linux_status=$(cat "$work/$name.linux.status")
  windows_status=$(cat "$work/$name.windows.status")
  [ "$linux_status" = "$windows_status" ] ||
    problem "$name: exit status $windows_status under Wine, $linux_status on Linux"
  for stream in out err; do
    filter=$out_filter
    [ $stream = err ] && filter=$err_filter
    $filter < "$work/$name.linux.$stream" > "$work/$name.linux.$stream.n" ||
      problem "$name: the Linux build's std$stream does not pass $filter"
    $filter < "$work/$name.windows.$stream" > "$work/$name.windows.$stream.n" ||
      problem "$name: the std$stream under Wine does not pass $filter"
    diff -u "$work/$name.linux.$stream.n" "$work/$name.windows.$stream.n" >&2 ||
      problem "$name: the std$stream lines differ (- Linux, + Windows)"
  done
  echo "wine_e2e: $name: $(cat "$work/$name.linux.out.n" "$work/$name.linux.err.n" | wc -l) lines, exit $linux_status"
}

both() {
  run linux "$@"
  run windows "$@"
}

both info -p @COM7 info
same info
both download -p @COM7 download --app "$root/examples/app_demo.hex"
same download

# JSON: the same record, but for the program's own path (the first word of
# the command) and the times; a start time not in the agreed form shows.
# (Line by line: the record is written one key to a line.)
json_record() {
  sed -E -e '/"command": \[/{n;s/"[^"]*"/"corvel-dl"/}' \
    -e 's/^( *"start": )"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z"/\1"START"/' \
    -e 's/^( *"seconds": )[0-9]+(\.[0-9]+)?/\1N/'
}
both json -p @COM7 --json - info
same json json_record

# Chinese and a space in names: the arguments reach main as UTF-8 and the
# files open and are written through the wide-character calls (the image
# read, the JSON stream, the dump's atomic write).
same_file() {
  local name=$1 file=$2 filter=${3:-cat}
  # The Linux record names its ports by their paths.
  if ! sed "s|$work/||g" "$work/linux/$file" | $filter > "$work/$name.linux.file" ||
     ! $filter < "$work/windows/$file" > "$work/$name.windows.file"; then
    problem "$name: $file is missing or unreadable on one side"
  elif ! diff -u "$work/$name.linux.file" "$work/$name.windows.file" >&2; then
    problem "$name: $file under Wine is not the Linux build's (- Linux, + Windows)"
  fi
}
for side in linux windows; do cp "$root/examples/app_demo.hex" "$work/$side/应用 固件.hex"; done
both download-chinese-name -p @COM7 --json '下载 记录.json' download --app '应用 固件.hex'
same download-chinese-name
same_file download-chinese-name '下载 记录.json' json_record
both dump-chinese-name -p @COM7 dump 0x16000 0x800 -o '读出 固件.hex'
same dump-chinese-name
same_file dump-chinese-name '读出 固件.hex'

# Several ports: the ports run side by side, so only each port's own lines
# keep their order; the summary's seconds column is a time.
by_port() { sort -s -t: -k1,1; }
summary() { sed -E 's/^(COM[0-9]+  .*  +)[0-9]+\.[0-9]$/\1N/'; }
both several -p @COM7 -p @COM8 info
same several by_port summary
# Wine's prefix may list ports of its own: a narrower pattern holds only the two.
both wildcard -p '@COM[78]' info
same wildcard by_port summary

# Ctrl-C: Wine turns SIGINT into the console's Ctrl-C event, which the tool
# handles as it does SIGINT on Linux: exit 130, and a dump leaves no file,
# not even half of one.
interrupt_at='正在读取FLASH' both interrupted-dump -p @COM7 dump 0 0x80000 -o '中断 读出.bin'
same interrupted-dump
for side in linux windows; do
  leftovers=$(ls -A "$work/$side" | grep -v -x -e '应用 固件.hex' -e '下载 记录.json' -e '读出 固件.hex' || true)
  [ -z "$leftovers" ] || problem "interrupted-dump: $side left $leftovers"
done
# A slow chip (each data block's answer held back) keeps the download going
# until the interrupt comes.
stop_sim COM8
start_sim COM8 --fault delay:0x24=300
interrupt_at='请求传输成功正在下载' both interrupted-download -p @COM8 download --app "$root/examples/app_demo.hex"
same interrupted-download

# A lost port: the adapter vanishes at the eighth frame, mid-download; the
# broken pipe reads as the hang-up it is, in Linux's words.
for side in linux windows; do
  stop_sim COM8
  start_sim COM8 --fault vanish:8
  run $side lost-port -p @COM8 download --app "$root/examples/app_demo.hex"
done
same lost-port
grep -h '^串口已断开' "$work/lost-port.windows.out" "$work/lost-port.windows.err" | sed 's/^/wine_e2e: lost-port: /'

# A port that is not there: the message names it and the ports there are,
# which under Wine are the registered ones.
port_list() { sed -E 's/^(没有找到串口 [^,]+, 现有串口: ).*/\1LIST/'; }
both missing-port -p @COM9 info
same missing-port port_list port_list
expected="没有找到串口 COM9, 现有串口: $(paste -s -d '|' <<< "$listed" | sed 's/|/, /g')"
cat "$work/missing-port.windows.out" "$work/missing-port.windows.err" | grep -qxF "$expected" ||
  problem "missing-port: no line '$expected' under Wine"

[ $status -eq 0 ] && echo "wine_e2e: corvel-dl.exe printed the Linux build's lines"
exit $status
