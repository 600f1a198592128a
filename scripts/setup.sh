#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests, the fuzzers and the
# benchmarks need and this Debian machine does not have yet.
set -euo pipefail

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "setup: not a Debian system; install the dependencies yourself (docs/development.md, Building on macOS)"
  exit 0
fi

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev clang-format clang-tidy
  libboost-dev
  libssl-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  dmidecode libplist-utils python3 time binutils golang-go
  # The command runner's tests try every shell a Mac may have as /bin/sh.
  zsh
  scdoc man-db
  lld llvm
)
# The macOS cross-check installs its compiler (Zig) and the workflow lint its
# validator with npm (pinned by scripts/npm/*/package-lock.json); a Node.js that
# brings its own npm is good enough.
if ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
