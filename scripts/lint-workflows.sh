#!/usr/bin/env bash
# Validates every workflow in .github/workflows against the schema of the
# hosting service's workflow files, with action-validator from npm (pinned,
# with its sha512, by scripts/npm/action-validator/package-lock.json, and kept
# in ${XDG_CACHE_HOME:-~/.cache}/grellan), and refuses runner labels that
# GitHub has retired: a job on such a label never starts. A broken workflow
# fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pin="$root/scripts/npm/action-validator"
dir="${XDG_CACHE_HOME:-$HOME/.cache}/grellan/action-validator"
validator="$dir/node_modules/.bin/action-validator"

# Runner labels GitHub no longer offers, with the day each image was retired
# and where it was announced. A label also covers its larger-runner forms
# (macos-13-large, macos-14-xlarge).
retired=(
  "ubuntu-20.04 2025-04-15 actions/runner-images#11101"
  "macos-11 2024-06-28 github.blog/changelog/2024-05-20-actions-upcoming-changes-to-github-hosted-macos-runners"
  "macos-12 2024-12-03 actions/runner-images#10721"
  "macos-13 2025-12-04 actions/runner-images#13046"
  "macos-14 2026-11-02 actions/runner-images#13518"
)

# Prints "FILE:LINE: LABEL (retired DATE, SOURCE)" for every retired label
# named outside a comment; the status is 1 when there is one.
retired_labels() {
  local file="$1" name="${1#"$root"/}" entry label date source found=0
  for entry in "${retired[@]}"; do
    read -r label date source <<<"$entry"
    # A whole word: macos-13 matches neither macos-130 nor macos-13x; so a
    # label retired later (macos-15) will not catch another (macos-15-intel).
    if grep -nE "(^|[^A-Za-z0-9._-])${label//./\\.}(-(large|xlarge|arm64))?([^A-Za-z0-9._-]|$)" \
      <(sed -E 's/(^|[[:space:]])#.*$//' "$file") |
      sed "s|^|$name:|; s|\$| -> $label (retired $date, $source)|"; then
      found=1
    fi
  done
  return "$((found == 0 ? 0 : 1))"
}

# The refusal is checked on every run, so a broken pattern cannot pass
# silently: each case is a runs-on value and whether it must be refused.
self_test() {
  local sample case value expected refused failed=0
  sample="$(mktemp)"
  for case in "macos-13:refused" "macos-14-xlarge:refused" "'macos-12':refused" \
    "ubuntu-20.04:refused" "macos-15-intel:allowed" "macos-26-intel:allowed" \
    "macos-15:allowed" "macos-26:allowed" "ubuntu-20.040:allowed" \
    "ubuntu-24.04 # was macos-13:allowed"; do
    value="${case%:*}"
    expected="${case##*:}"
    printf 'jobs:\n  build:\n    runs-on: %s\n' "$value" >"$sample"
    refused=allowed
    retired_labels "$sample" >/dev/null || refused=refused
    if [ "$refused" != "$expected" ]; then
      echo "lint-workflows: self-test: runs-on: $value was $refused, expected $expected" >&2
      failed=1
    fi
  done
  rm -f "$sample"
  return "$failed"
}
self_test

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
status=0
for file in "${files[@]}"; do
  "$validator" "$file"
  if ! retired_labels "$file" >&2; then
    echo "lint-workflows: ${file#"$root"/} names a retired runner label" >&2
    status=1
    continue
  fi
  echo "lint-workflows: ok: ${file#"$root"/}"
done
exit "$status"
