#!/usr/bin/env bash
# Validates every workflow in .github/workflows against the schema of the
# hosting service's workflow files, with action-validator from npm (pinned,
# with its sha512, by scripts/npm/action-validator/package-lock.json, and kept
# in ${XDG_CACHE_HOME:-~/.cache}/grellan). A broken workflow fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pin="$root/scripts/npm/action-validator"
dir="${XDG_CACHE_HOME:-$HOME/.cache}/grellan/action-validator"
validator="$dir/node_modules/.bin/action-validator"

if [ ! -x "$validator" ] || ! cmp -s "$pin/package-lock.json" "$dir/package-lock.json"; then
  command -v npm >/dev/null || { echo "lint-workflows: npm not found (scripts/setup.sh)" >&2; exit 1; }
  echo "== installing action-validator from npm into $dir"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$pin/package.json" "$pin/package-lock.json" "$dir/"
  npm ci --prefix "$dir" --no-audit --no-fund --loglevel=error >/dev/null
fi

shopt -s nullglob
files=("$root"/.github/workflows/*.yml "$root"/.github/workflows/*.yaml)
[ "${#files[@]}" -gt 0 ] || { echo "lint-workflows: no workflow files" >&2; exit 1; }
for file in "${files[@]}"; do
  "$validator" "$file"
  echo "lint-workflows: ok: ${file#"$root"/}"
done
