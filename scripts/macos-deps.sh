#!/usr/bin/env bash
# The build and test dependencies of a macOS build, the same on every Mac
# whatever Homebrew offers it (Homebrew builds no Intel bottles any more, and
# building Boost from source outlasts a CI job):
# - Boost 1.74.0's headers (the library uses Boost header-only) and
#   nlohmann-json 3.11.2 (header-only), from their release archives: the
#   versions Debian 12 builds with, so both platforms read XML and Base64
#   with the same code;
# - GoogleTest: Homebrew's bottle where one exists for this Mac, else built
#   from its pinned release archive.
# Every archive is checked against its published SHA-256 (shasum -a 256 -c)
# before it is used, also when it comes from the cache.
#
# Usage: eval "$(scripts/macos-deps.sh [PREFIX])"
# Installs into PREFIX (default: $cache/prefix) and prints the environment
# CMake needs to find it (CMAKE_PREFIX_PATH, BOOST_ROOT); in a GitHub Actions
# job it also appends them to $GITHUB_ENV. Downloads are kept in
# ${GRELLAN_DEPS_CACHE:-${XDG_CACHE_HOME:-~/.cache}/grellan/macos-deps}, which
# .github/workflows/macos.yml caches.
set -euo pipefail

cache="${GRELLAN_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/grellan/macos-deps}"
prefix="${1:-$cache/prefix}"
deployment_target=11.0

# Each pin: the file name kept in the cache, the URL, and the SHA-256 as published.
# Boost: www.boost.org/users/history/version_1_74_0.html (boostorg/website,
# users/history/version_1_74_0.html) lists this hash for boost_1_74_0.tar.bz2.
boost=(boost_1_74_0.tar.bz2
  https://archives.boost.io/release/1.74.0/source/boost_1_74_0.tar.bz2
  83bfc1507731a0906e387fc28b7ef5417d591429e51e788417fe9ff025e116b1)
# nlohmann-json: the release asset json.tar.xz of
# github.com/nlohmann/json/releases/tag/v3.11.2, whose notes give its SHA-256.
json=(nlohmann-json-3.11.2.tar.xz
  https://github.com/nlohmann/json/releases/download/v3.11.2/json.tar.xz
  8c4b26bf4b422252e13f332bc5e388ec0ab5c3443d24399acb675e68278d341f)
# GoogleTest: the v1.17.0 release archive; Homebrew's formula
# (homebrew-core Formula/g/googletest.rb) pins the same SHA-256 for the tag's archive.
gtest=(googletest-1.17.0.tar.gz
  https://github.com/google/googletest/releases/download/v1.17.0/googletest-1.17.0.tar.gz
  65fab701d9829d38cb77c14acdc431d2108bfdbf8979e40eb8ae567edf10b27c)

say() { echo "macos-deps: $*" >&2; }
fail() {
  say "FAILED: $*"
  exit 1
}

# fetch NAME URL SHA256: the path of the verified archive in the cache.
fetch() {
  local name="$1" url="$2" sha256="$3" file="$cache/$1"
  if [ -f "$file" ] && echo "$sha256  $file" | shasum -a 256 -c --status; then
    echo "$file"
    return
  fi
  say "downloading $url"
  rm -f "$file"
  curl -fsSL --retry 3 -o "$file.part" "$url" || fail "downloading $url"
  mv "$file.part" "$file"
  echo "$sha256  $file" | shasum -a 256 -c >&2 || {
    rm -f "$file"
    fail "$name does not have the published SHA-256 $sha256"
  }
  echo "$file"
}

# Whether Homebrew has a bottle of FORMULA for this Mac (its tag is the
# architecture and the macOS release's name, or "all").
has_bottle() {
  command -v brew >/dev/null || return 1
  local major arch codename
  major="$(sw_vers -productVersion | cut -d. -f1)"
  arch="$(uname -m)"
  case "$major" in
    11) codename=big_sur ;; 12) codename=monterey ;; 13) codename=ventura ;;
    14) codename=sonoma ;; 15) codename=sequoia ;; 26) codename=tahoe ;;
    *) return 1 ;;  # a release unknown here: build from source
  esac
  [ "$arch" = arm64 ] && codename="arm64_$codename"
  brew info --json=v2 --formula "$1" | python3 -c '
import json, sys
files = json.load(sys.stdin)["formulae"][0].get("bottle", {}).get("stable", {}).get("files", {})
sys.exit(0 if sys.argv[1] in files or "all" in files else 1)' "$codename"
}

mkdir -p "$cache" "$prefix/include"
stamp="$prefix/.pins"
pins="$(printf '%s\n' "${boost[2]}" "${json[2]}" "${gtest[2]}")"
if [ "$(cat "$stamp" 2>/dev/null)" != "$pins" ]; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT

  archive="$(fetch "${boost[@]}")"
  say "Boost 1.74.0 headers into $prefix/include/boost"
  rm -rf "$prefix/include/boost"
  tar -xjf "$archive" -C "$work" boost_1_74_0/boost
  mv "$work/boost_1_74_0/boost" "$prefix/include/boost"

  # nlohmann-json's own install writes its headers and its CMake package.
  # Its CMakeLists asks for CMake 3.1; CMake 4 needs to be told that 3.5's
  # rules are fine for it.
  archive="$(fetch "${json[@]}")"
  say "nlohmann-json 3.11.2 into $prefix"
  tar -xJf "$archive" -C "$work"
  cmake -S "$work/json" -B "$work/json-build" -DJSON_BuildTests=OFF -DJSON_Install=ON \
    -DCMAKE_POLICY_VERSION_MINIMUM=3.5 -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --install "$work/json-build" >/dev/null

  if has_bottle googletest; then
    say "GoogleTest from Homebrew's bottle"
  else
    archive="$(fetch "${gtest[@]}")"
    say "GoogleTest 1.17.0 built from source into $prefix (no Homebrew bottle for this Mac)"
    tar -xzf "$archive" -C "$work"
    cmake -S "$work/googletest-1.17.0" -B "$work/gtest-build" -G Ninja \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_STANDARD=17 \
      -DCMAKE_OSX_DEPLOYMENT_TARGET="$deployment_target" -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$work/gtest-build" >/dev/null
    cmake --install "$work/gtest-build" >/dev/null
  fi
  echo "$pins" >"$stamp"
fi
# A bottle is poured on every run (Homebrew's own cache makes that quick);
# with GoogleTest in the prefix there is nothing to do.
if [ ! -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  brew list --formula googletest >/dev/null 2>&1 || brew install --formula googletest >&2
fi

# The prefix comes first; Homebrew's for a poured GoogleTest.
search="$prefix"
if command -v brew >/dev/null; then
  search="$search:$(brew --prefix)"
fi
environment=("CMAKE_PREFIX_PATH=$search" "BOOST_ROOT=$prefix")
if [ -n "${GITHUB_ENV:-}" ]; then
  printf '%s\n' "${environment[@]}" >>"$GITHUB_ENV"
fi
printf 'export %s\n' "${environment[@]}"
