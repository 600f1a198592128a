#!/usr/bin/env python3
"""Checks the shipped Mach-O files: what a Mac needs to load and run them.

For every file and every architecture it must hold:
- the file holds exactly the architectures asked for (--archs);
- every load command that names a dylib names one that every Mac has:
  /usr/lib/libSystem.B.dylib, /usr/lib/libc++.1.dylib, or the IOKit or
  CoreFoundation framework in /System/Library/Frameworks;
- no slice asks for a macOS later than --minos (LC_BUILD_VERSION minos, or
  LC_VERSION_MIN_MACOSX);
- every arm64 slice carries its code signature (LC_CODE_SIGNATURE; Apple
  silicon refuses to run unsigned code); with Apple's tools codesign also
  verifies it;
- libgrellan.dylib exports exactly cmake/grellan.exported, under the install
  name @rpath/libgrellan.dylib.

Usage: scripts/macho-check.py [--tools apple|llvm] [--archs "x86_64 arm64"]
                              [--minos 11.0] FILE...

The tools: on a Mac Apple's own (lipo, otool, nm, codesign); elsewhere LLVM's
(llvm-lipo, llvm-objdump, llvm-nm, plain or with Debian's -14 suffix), whose
Mach-O output has otool's shape. scripts/macos-check.sh runs this over its
cross-linked universal binaries, .github/workflows/macos.yml over the native
build.
"""
import argparse
import os
import platform
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIBRARY = "libgrellan.dylib"
INSTALL_NAME = "@rpath/libgrellan.dylib"
ALLOWED_EXACT = {"/usr/lib/libSystem.B.dylib", "/usr/lib/libc++.1.dylib"}
ALLOWED_PREFIX = ("/System/Library/Frameworks/IOKit.framework/",
                  "/System/Library/Frameworks/CoreFoundation.framework/")
# Every load command through which dyld loads another image.
LOADING = {"LC_LOAD_DYLIB", "LC_LOAD_WEAK_DYLIB", "LC_REEXPORT_DYLIB", "LC_LAZY_LOAD_DYLIB",
           "LC_LOAD_UPWARD_DYLIB"}


def find_tool(name):
    for candidate in (name, name + "-14", "/usr/lib/llvm-14/bin/" + name):
        path = shutil.which(candidate)
        if path:
            return path
    sys.exit(f"macho-check: {name} not found (scripts/setup.sh installs LLVM's)")


class Tools:
    """The command lines of one tool set; both print otool's load-command shape."""

    def __init__(self, kind):
        self.kind = kind
        if kind == "apple":
            self.lipo, self.otool, self.nm = find_tool("lipo"), find_tool("otool"), find_tool("nm")
            self.codesign = find_tool("codesign")
        else:
            self.lipo = find_tool("llvm-lipo")
            self.objdump, self.nm = find_tool("llvm-objdump"), find_tool("llvm-nm")
            self.codesign = None

    def archs(self, path):
        return run([self.lipo, "-archs", path]).split()

    def load_commands(self, path, arch):
        if self.kind == "apple":
            return run([self.otool, "-arch", arch, "-l", path])
        return run([self.objdump, "--macho", f"--arch={arch}", "--private-headers", path])

    def exports(self, path, arch):
        if self.kind == "apple":
            text = run([self.nm, "-arch", arch, "-g", "-U", "-j", path])
        else:
            text = run([self.nm, f"--arch={arch}", "--extern-only", "--defined-only",
                        "--format=just-symbols", path])
        return sorted(line.strip() for line in text.splitlines() if line.strip())

    def verify_signature(self, path, arch):
        """None when the signature verifies (or cannot be verified here), else why not."""
        if self.codesign is None:
            return None
        result = subprocess.run([self.codesign, "-v", "--verbose=2", "-a", arch, path],
                                capture_output=True, text=True)
        return None if result.returncode == 0 else (result.stderr.strip() or "codesign -v failed")


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def parse_commands(text):
    """The load commands as dictionaries: cmd, and each field's first word."""
    result, current = [], None
    for line in text.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == "cmd":
            current = {"cmd": words[1]}
            result.append(current)
        elif current is not None and len(words) >= 2:
            current.setdefault(words[0], words[1])
    return result


def version(text):
    return tuple(int(part) for part in text.split("."))


def check_slice(tools, path, arch, max_minos, expected_exports):
    """The findings for one slice (empty when it passes) and its summary line."""
    name = os.path.basename(path)
    commands = parse_commands(tools.load_commands(path, arch))
    dylibs = [c.get("name", "?") for c in commands if c["cmd"] in LOADING]
    signed = any(c["cmd"] == "LC_CODE_SIGNATURE" for c in commands)
    minos = [c.get("minos") for c in commands if c["cmd"] == "LC_BUILD_VERSION"]
    minos += [c.get("version") for c in commands if c["cmd"] == "LC_VERSION_MIN_MACOSX"]
    ids = [c.get("name", "?") for c in commands if c["cmd"] == "LC_ID_DYLIB"]
    summary = (f"{name} ({arch}): loads {' '.join(dylibs) or 'nothing'}; "
               f"code signature {'yes' if signed else 'no'}; "
               f"minimum macOS {' '.join(m or '?' for m in minos) or 'none stated'}")
    findings = []
    for dylib in dylibs:
        if dylib not in ALLOWED_EXACT and not dylib.startswith(ALLOWED_PREFIX):
            findings.append(f"loads {dylib}, which is not part of macOS")
    if not minos or any(m is None or version(m) > version(max_minos) for m in minos):
        findings.append(f"asks for macOS {minos}, later than {max_minos}")
    if arch == "arm64":
        if not signed:
            findings.append("has no code signature: Apple silicon will not load it")
        else:
            problem = tools.verify_signature(path, arch)
            if problem:
                findings.append(f"signature does not verify: {problem}")
    if name == LIBRARY:
        if ids != [INSTALL_NAME]:
            findings.append(f"install name is {ids}, expected {INSTALL_NAME}")
        exports = tools.exports(path, arch)
        if exports != expected_exports:
            findings.append(f"exports {exports}, expected {expected_exports}")
    return findings, summary


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tools", choices=("apple", "llvm"),
                        default="apple" if platform.system() == "Darwin" else "llvm")
    parser.add_argument("--archs", default="x86_64 arm64",
                        help="the architectures every file must hold, and only those")
    parser.add_argument("--minos", default="11.0", help="the latest minimum macOS allowed")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    tools = Tools(args.tools)
    with open(os.path.join(ROOT, "cmake", "grellan.exported")) as f:
        expected_exports = sorted(line.strip() for line in f if line.strip())
    wanted = sorted(args.archs.split())
    failed = False
    for path in args.files:
        name = os.path.basename(path)
        archs = tools.archs(path)
        if sorted(archs) != wanted:
            print(f"macho-check: {name} holds {' '.join(archs)}, expected {' '.join(wanted)}",
                  file=sys.stderr)
            failed = True
        for arch in archs:
            findings, summary = check_slice(tools, path, arch, args.minos, expected_exports)
            print(summary)
            for finding in findings:
                print(f"macho-check: {name} ({arch}) {finding}", file=sys.stderr)
            failed = failed or bool(findings)
    if failed:
        sys.exit(1)
    print(f"macho-check: ok: {len(args.files)} files ({args.tools} tools)")


if __name__ == "__main__":
    main()
