#!/usr/bin/env bash
# Installs the build into a fresh staging folder, as a package would lay it
# out: stage.sh BUILD_DIR STAGE_DIR
set -euo pipefail
build=$1 stage=$2
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
