#!/usr/bin/env bash
# The house rules CI enforces: every C/C++ source of the project (src,
# include, tests, fuzz, bench, examples, and the generated public header) is
# formatted as .clang-format says, and src/ has no clang-tidy finding under
# the checked-in .clang-tidy. run-clang-tidy takes the compile commands of a
# configured build (compile_commands.json) and runs 2 clang-tidy at a time.
# And no call in src/ waits blocked for a child: every waitpid, wait4 and
# waitid passes WNOHANG (a host that ignores SIGCHLD is woken from a blocking
# wait on macOS only once its last child is gone). And no bound in src/ is
# measured on a std::chrono clock: libc++'s steady_clock counts sleep on
# Apple; platform/BoundClock is the one clock of every bound.
# Usage: scripts/lint.sh [build-dir]   (default: build, the default preset's)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd -P)"
build="${1:-build}"
jobs=2
commands="$build/compile_commands.json"
[ -f "$commands" ] || { echo "lint: $commands missing: configure the build first" >&2; exit 2; }
status=0

echo "== clang-format"
mapfile -t sources < <(git ls-files -- src include tests fuzz bench examples |
  grep -E '\.(c|cc|cpp|h|hpp)$')
# The header is generated from include/grellan/grellan.h.in; its copy in the
# build is checked against the same style file (found above the build dir).
if [ -f "$build/include/grellan/grellan.h" ]; then
  sources+=("$build/include/grellan/grellan.h")
fi
if ! printf '%s\0' "${sources[@]}" |
  xargs -0 -P "$jobs" -n 16 clang-format --dry-run -Werror; then
  echo "lint: clang-format differences (fix with clang-format -i FILE)"
  status=1
fi

echo "== waits for children in src/"
# Each call on one line, as clang-format leaves a call this short; comments aside.
if git grep -n -E '\b(waitpid|wait4|waitid|wait)\(' -- src | grep -v -E '^[^:]+:[0-9]+:[[:space:]]*//' |
  grep -v 'WNOHANG'; then
  echo "lint: a wait for a child without WNOHANG in src/"
  status=1
fi

echo "== clocks in src/"
if git grep -n -E '\b(steady_clock|system_clock|high_resolution_clock)\b' -- src |
  grep -v -E '^[^:]+:[0-9]+:[[:space:]]*//'; then
  echo "lint: a std::chrono clock in src/ (bounds take platform/BoundClock)"
  status=1
fi

echo "== includes in src/ by their layer's name"
# Each layer sees only its own and lower layers' include roots
# (src/CMakeLists.txt); a path with ".." would climb past that from the
# including file's own folder.
if git grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*\.\./' -- src; then
  echo "lint: an include in src/ climbs with \"..\": name the header by its layer (\"smbios/SmBios.h\")"
  status=1
fi

echo "== clang-tidy on src/ (run-clang-tidy)"
# Debian's run-clang-tidy runs clang-tidy on every src/ file of the build's
# compile commands (the Apple-only ones are not in a Linux build's
# database). It fails only when clang-tidy cannot process a file, so the
# findings are read from its output: one counts when it is located in the
# project. The analyzer's path reports that end inside a system header
# (Boost's is_any_of storage, for one) name our call site only in their
# notes: they are not ours to fix.
grep -q "\"file\": \"$root/src/" "$commands" || { echo "lint: no src/ files in $commands" >&2; exit 2; }
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -p "$build" -j "$jobs" -quiet "^$root/src/" >"$log" 2>&1; then
  grep -E '(error|Error)' "$log" | head -n 20
  echo "lint: clang-tidy could not process every src/ file"
  status=1
fi
if sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E "^$root/[^ ]+:[0-9]+:[0-9]+: (warning|error): "; then
  echo "lint: clang-tidy findings in src/ (clang-tidy -p $build FILE shows each one's notes)"
  status=1
fi
[ "$status" -eq 0 ] && echo "lint: clean (${#sources[@]} files formatted, src/ checked by clang-tidy)"
exit "$status"
