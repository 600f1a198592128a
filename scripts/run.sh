#!/usr/bin/env bash
# From a fresh machine to a running probe: install what is missing, build,
# then run the probe and the support tool that explains its answer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
status=0
echo "== grellanprobe"
build/bin/grellanprobe || status=$?
if [ -x build/bin/grellaninspect ]; then
  echo "== grellaninspect"
  build/bin/grellaninspect || true
fi
exit "$status"
