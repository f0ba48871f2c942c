#!/usr/bin/env bash
# Every installed man page formats without a warning, checked the way
# lintian checks them: man_render_test.sh STAGE_DIR
set -uo pipefail
stage=$1
failed=0
pages=("$stage"/usr/share/man/man1/*.1.gz)
[[ -f ${pages[0]} ]] || { echo "FAIL: no man page in $stage/usr/share/man/man1"; exit 1; }
for page in "${pages[@]}"; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  status=$?
  if [[ $status -ne 0 || -n $warnings ]]; then
    echo "FAIL: $page (exit $status):"
    echo "$warnings"
    failed=1
  fi
done
exit $failed
