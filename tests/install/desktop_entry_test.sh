#!/usr/bin/env bash
# The installed desktop entry is valid, and its program and icon are
# installed: desktop_entry_test.sh STAGE_DIR
set -uo pipefail
stage=$1
entry=$stage/usr/share/applications/corvel-tool.desktop
failed=0
fail() { echo "FAIL: $*"; failed=1; }

desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
icon=$(sed -n 's/^Icon=//p' "$entry")
[[ -x $stage/usr/bin/$exec_name ]] || fail "Exec=$exec_name is not an installed program"
[[ -f $stage/usr/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "Icon=$icon has no scalable icon"
[[ -f $stage/usr/share/icons/hicolor/48x48/apps/$icon.png ]] || fail "Icon=$icon has no 48x48 icon"
exit $failed
