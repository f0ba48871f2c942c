#!/usr/bin/env bash
# The staged install holds every file a user needs, and its programs run from
# there: installed_files_test.sh STAGE_DIR VERSION GUI(ON|OFF) BUILT_ICONS_DIR
set -uo pipefail
stage=$1 version=$2 gui=$3 built_icons=$4
failed=0
fail() { echo "FAIL: $*"; failed=1; }

files=(
  usr/bin/corvel-dl usr/bin/corvel-sim
  usr/share/man/man1/corvel-dl.1.gz usr/share/man/man1/corvel-sim.1.gz
  usr/share/bash-completion/completions/corvel-dl
  usr/lib/udev/rules.d/70-corvel.rules
  usr/share/doc/corvel-dl/copyright usr/share/doc/corvel-dl/changelog.gz
  usr/share/doc/corvel-dl/cli.md usr/share/doc/corvel-dl/examples/app_demo.hex
)
programs=(corvel-dl corvel-sim)
if [[ $gui == ON ]]; then
  files+=(usr/bin/corvel-tool usr/share/man/man1/corvel-tool.1.gz usr/share/applications/corvel-tool.desktop
    usr/share/icons/hicolor/scalable/apps/corvel-tool.svg
    usr/share/doc/corvel-tool/copyright usr/share/doc/corvel-tool/changelog.gz)
  # Every size the build renders, in its folder of the icon theme.
  for png in "$built_icons"/*/corvel-tool.png; do
    size=$(basename "$(dirname "$png")")
    files+=(usr/share/icons/hicolor/$size/apps/corvel-tool.png)
  done
  [[ -f $png ]] || fail "no icon rendered in $built_icons"
  programs+=(corvel-tool)
fi
for file in "${files[@]}"; do
  [[ -f $stage/$file ]] || fail "not installed: /$file"
done

# A build RPATH left in an installed program would point into the build.
for program in "${programs[@]}"; do
  if readelf -d "$stage/usr/bin/$program" | grep -E 'R(UN)?PATH'; then fail "$program has an RPATH"; fi
done

for doc in "$stage"/usr/share/doc/*/changelog.gz; do
  first=$(zcat "$doc" | head -n 1)
  [[ $first == *"($version)"* ]] || fail "$doc: the latest entry is not $version: $first"
done

dl=$stage/usr/bin/corvel-dl
out=$("$dl" --version) || fail "corvel-dl --version exited $?"
[[ $out == "corvel-dl $version" ]] || fail "corvel-dl --version printed: $out"
out=$(timeout 60 "$dl" --sim info) || fail "corvel-dl --sim info exited $?"
[[ ${out%%$'\n'*} == "正在连接芯片,请执行复位....." ]] || fail "corvel-dl --sim info printed first: ${out%%$'\n'*}"
out=$("$stage/usr/bin/corvel-sim" --version) || fail "corvel-sim --version exited $?"
[[ $out == "corvel-sim $version" ]] || fail "corvel-sim --version printed: $out"

exit $failed
