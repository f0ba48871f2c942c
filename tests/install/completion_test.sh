#!/usr/bin/env bash
# The installed bash completion for corvel-dl, driven as bash drives it
# (COMP_WORDS, COMP_CWORD, then the function `complete -p` names): every
# command and option the program's --help lists is offered, the ports come
# from `corvel-dl ports`, and files are offered by their extension.
# completion_test.sh STAGE_DIR
set -uo pipefail
stage=$(realpath "$1")
dl=$stage/usr/bin/corvel-dl
failed=0
fail() { echo "FAIL: $*"; failed=1; }

source "$(dirname "$0")/help_items.sh"

loader=/usr/share/bash-completion/bash_completion
[[ -f $loader ]] || { echo "FAIL: $loader missing: bash-completion is not installed (scripts/setup)"; exit 1; }
source "$loader"
source "$stage/usr/share/bash-completion/completions/corvel-dl"
registered=$(complete -p corvel-dl) || { echo "FAIL: no completion for corvel-dl"; exit 1; }
function=$(sed -n 's/.* -F \([^ ]*\) .*/\1/p' <<<"$registered")
[[ -n $function ]] || { echo "FAIL: no completion function in: $registered"; exit 1; }

# A corvel-dl on PATH whose port list is known; everything else goes to the
# installed one.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/files" "$work/files/sub"
cat >"$work/bin/corvel-dl" <<STUB
#!/bin/sh
[ "\$1" = ports ] && { echo /dev/ttyUSB0; echo /dev/ttyACM1; exit 0; }
exec "$dl" "\$@"
STUB
chmod +x "$work/bin/corvel-dl"
PATH=$work/bin:$PATH
touch "$work/files/app.hex" "$work/files/part.cfg" "$work/files/notes.txt"
cd "$work/files"

# complete WORD... CURRENT: COMPREPLY for the command line WORD... with the
# cursor at the end of CURRENT.
complete_line() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" corvel-dl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}"
}

# expect "LINE" "OFFERED..." ["NOT OFFERED..."]: LINE's last word is the one
# completed ("" for a new word).
expect() {
  local line=$1 offered=$2 absent=${3:-} words word got
  eval "words=($line)"
  got=$(complete_line "${words[@]}")
  for word in $offered; do grep -qxF -- "$word" <<<"$got" || fail "[$line] does not offer $word (offers: ${got//$'\n'/ })"; done
  for word in $absent; do grep -qxF -- "$word" <<<"$got" && fail "[$line] offers $word"; done
}

help=$("$dl" --help)
commands=$(help_items Subcommands <<<"$help")
globals=$(help_items Options <<<"$help")
[[ -n $commands ]] || fail "corvel-dl --help lists no commands"
expect 'corvel-dl ""' "$commands" "--port"
expect 'corvel-dl -' "$globals" "ports"
expect 'corvel-dl -p /dev/ttyUSB0 --baud 230400 ""' "$commands"
for command in $commands; do
  expect "corvel-dl $command -" "$(help_items Options < <("$dl" "$command" --help)) $globals"
done

expect 'corvel-dl -p ""' "/dev/ttyUSB0 /dev/ttyACM1" "app.hex"
expect 'corvel-dl download --port ""' "/dev/ttyUSB0 /dev/ttyACM1"
expect 'corvel-dl download --app ""' "app.hex sub" "part.cfg notes.txt"
expect 'corvel-dl download --stack app.hex --boot ""' "app.hex" "part.cfg"
expect 'corvel-dl download --part ""' "part.cfg" "app.hex notes.txt"
expect 'corvel-dl download --user p' "part.cfg"
expect 'corvel-dl read-part -o ""' "app.hex part.cfg notes.txt"
expect 'corvel-dl --json ""' "app.hex part.cfg notes.txt"
exit $failed
