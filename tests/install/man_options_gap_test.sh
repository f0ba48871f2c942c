#!/usr/bin/env bash
# man_options_test.sh names what a page lacks: a copy of the pages without
# the global --repeat and without download's --app must fail on both.
# man_options_gap_test.sh MAN_DIR CORVEL_DL CORVEL_SIM
set -uo pipefail
man_dir=$1 dl=$2 sim=$3
pages=$(mktemp -d)
trap 'rm -rf "$pages"' EXIT
cp "$man_dir"/*.1 "$pages"/
# The .TP tag lines of the two options, and each option's text after them.
sed -i -e '/^\.B \\-\\-repeat$/,/^\.TP$/d' -e '/^\.BI \\-\\-app " FILE"$/d' "$pages/corvel-dl.1"
out=$(bash "$(dirname "$0")/man_options_test.sh" "$pages" "$dl" "$sim")
status=$?
failed=0
[[ $status -eq 1 ]] || { echo "FAIL: exit $status, expected 1"; failed=1; }
for expected in '--repeat (from corvel-dl --help) is missing under ".SH OPTIONS"' \
                '--app (from corvel-dl download --help) is missing under ".SS download"'; do
  grep -qF -- "$expected" <<<"$out" || { echo "FAIL: no line with: $expected"; failed=1; }
done
[[ $failed -eq 0 ]] || echo "$out"
exit $failed
