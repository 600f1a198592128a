#!/usr/bin/env bash
# From a fresh machine to a running probe: install what is missing, build
# the shipped programs alone (the library, the probe and the support tool;
# scripts/test.sh builds the tests, fuzz targets and the rest), then run the
# probe and the support tool that explains its answer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target grellan grellanprobe grellaninspect
status=0
echo "== grellanprobe"
build/bin/grellanprobe || status=$?
if [ -x build/bin/grellaninspect ]; then
  echo "== grellaninspect"
  build/bin/grellaninspect || true
fi
# Status 3 is the probe's answer on a machine without a fingerprint source
# (grellaninspect said why); anything else but 0 means it could not run.
if [ "$status" -eq 3 ]; then
  echo "== no fingerprint on this machine; for one from a table snapshot, run:"
  echo "   build/bin/grellaninspect --from-snapshot examples/smbios-2.8-two-cpus.snapshot"
  exit 0
fi
exit "$status"
