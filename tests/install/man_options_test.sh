#!/usr/bin/env bash
# Every command, option and argument the programs' --help lists is in their
# man page: global options under OPTIONS, each command's own under its .SS
# heading. Only that way round, so the pages may document more than the
# build has. man_options_test.sh MAN_DIR CORVEL_DL CORVEL_SIM [CORVEL_TOOL]
set -uo pipefail
man_dir=$1 dl=$2 sim=$3 tool=${4:-}
failed=0

source "$(dirname "$0")/help_items.sh"

# The page's source with the escapes that stand inside names taken out.
page_text() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' -e 's/"//g' "$1"; }

# The lines under one heading: MACRO is .SH or .SS; an .SS part ends at the
# next heading of either kind, an .SH part at the next .SH.
part() {
  awk -v macro="$1" -v name="$2" '
    /^\.S[HS]( |$)/ {
      if ($1 == ".SH" || macro == ".SS") inside = 0
      if ($1 == macro) { title = $0; sub(/^\.S[HS] +/, "", title); if (title == name) { inside = 1; found = 1 } }
      next
    }
    inside { print }
    END { if (!found) exit 1 }'
}

mentions() { grep -Eq -- "(^|[^-[:alnum:]])$1([^-[:alnum:]]|\$)"; }

# check PAGE MACRO HEADING WHAT ITEM...: each ITEM is under HEADING.
check() {
  local page=$1 macro=$2 heading=$3 what=$4 text item
  shift 4
  if ! text=$(page_text "$page" | part "$macro" "$heading"); then
    echo "FAIL: $page has no \"$macro $heading\" for $what"
    failed=1
    return
  fi
  for item in "$@"; do
    if ! mentions "$item" <<<"$text"; then
      echo "FAIL: $page: $item (from $what) is missing under \"$macro $heading\""
      failed=1
    fi
  done
}

help=$("$dl" --help) || { echo "FAIL: $dl --help exited $?"; exit 1; }
mapfile -t commands < <(help_items Subcommands <<<"$help")
[[ ${#commands[@]} -gt 0 ]] || { echo "FAIL: $dl --help lists no commands"; exit 1; }
mapfile -t options < <(help_items Options <<<"$help")
check "$man_dir/corvel-dl.1" .SH OPTIONS "corvel-dl --help" "${options[@]}"
for command in "${commands[@]}"; do
  help=$("$dl" "$command" --help) || { echo "FAIL: $dl $command --help exited $?"; failed=1; continue; }
  # -h/--help is listed by every command; OPTIONS has it once for all.
  mapfile -t items < <(help_items Positionals <<<"$help"; help_items Options <<<"$help" | grep -vx -e -h -e --help)
  check "$man_dir/corvel-dl.1" .SS "$command" "corvel-dl $command --help" "${items[@]}"
done

mapfile -t options < <("$sim" --help | help_items Options)
check "$man_dir/corvel-sim.1" .SH OPTIONS "corvel-sim --help" "${options[@]}"
if [[ -n $tool ]]; then
  mapfile -t options < <("$tool" --help | help_items Options)
  check "$man_dir/corvel-tool.1" .SH OPTIONS "corvel-tool --help" "${options[@]}"
fi
exit $failed
