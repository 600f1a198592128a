#!/usr/bin/env python3
"""The compile and link steps of scripts/macos-check.sh, read off CMake.

What the Mac build builds is what `ninja -t commands all` of a Darwin
configure (tests, fuzz replay programs and benchmarks on) would run: its
compiles name every translation unit (a test program CMake defines but does
not build on Apple, one that needs the registry stand-in, is left out as the
Mac build leaves it out), its archive and link commands say what goes into
every program and library. compile_commands.json gives each unit's flags.

  compile WORK LINK_VERSION "ARCHS" "VERSIONS" SHIPPED_OUTPUTS...
      Compiles every unit for every architecture at LINK_VERSION into
      WORK/obj/ARCH/, where the link step finds them; the units that CMake
      links into the SHIPPED_OUTPUTS (bin/libgrellan.dylib, ...) also at every
      other deployment target of VERSIONS, for their diagnostics alone.
      Everything else is compiled at -O0: those objects are there to be
      diagnosed and linked, not run.
  objects WORK ARCH OUTPUT
      Prints the objects in WORK/obj/ARCH/ that CMake links into OUTPUT, one a
      line, the members of the project's archives among them.
  link WORK LINK_VERSION "ARCHS" LD64 AR GTEST_DIR SHIPPED_OUTPUTS...
      Packs the archives and links every program and library of the build
      but the shipped ones (scripts/macos-check.sh links those itself), with
      ld64.lld, against the GoogleTest archives in GTEST_DIR/ARCH/ and the
      runtime listed in WORK/runtime-ARCH (one file a line).
  gtest WORK "ARCHS" SOURCE AR GTEST_DIR
      Builds GoogleTest and GoogleMock from SOURCE (Debian's
      /usr/src/googletest) into GTEST_DIR/ARCH/ as the four archives CMake's
      package names.

Any diagnostic from a compile or a link fails the step.
"""
import concurrent.futures
import json
import os
import shlex
import subprocess
import sys

ZIG_ARCH = {"x86_64": "x86_64", "arm64": "aarch64"}
GTEST_ARCHIVES = {
    "libgtest.a": "googletest/src/gtest-all.cc",
    "libgtest_main.a": "googletest/src/gtest_main.cc",
    "libgmock.a": "googlemock/src/gmock-all.cc",
    "libgmock_main.a": "googlemock/src/gmock_main.cc",
}


def target_of(obj):
    """The CMake target an object belongs to: the NAME of .../CMakeFiles/NAME.dir/..."""
    return obj.split("CMakeFiles/", 1)[1].split(".dir/", 1)[0]


def zig_target(arch, version):
    return f"{ZIG_ARCH[arch]}-macos.{version}"


def run_all(jobs):
    """Runs (label, argv, cwd, env) jobs in parallel; prints every one that
    failed or said anything, and returns how many did."""
    def run(job):
        label, argv, cwd, env = job
        p = subprocess.run(argv, cwd=cwd, env=env, capture_output=True, text=True)
        return label, p.returncode, p.stdout + p.stderr

    failed = 0
    workers = int(os.environ.get("GRELLAN_JOBS", os.cpu_count() or 2))
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        for label, rc, output in pool.map(run, jobs):
            if rc != 0 or output.strip():
                failed += 1
                print(f"--- {label}: exit {rc}\n{output}", file=sys.stderr)
    return failed


class Build:
    """What `ninja -t commands all` of the Darwin configure in WORK/cmake runs."""

    def __init__(self, work):
        self.dir = os.path.join(work, "cmake")
        commands = subprocess.run(["ninja", "-C", self.dir, "-t", "commands", "all"],
                                  check=True, capture_output=True, text=True).stdout
        self.objects = set()  # every object file a compile writes
        self.archives = {}  # archive -> its objects
        self.links = {}  # output -> (is_dylib, install_name, inputs)
        for line in commands.splitlines():
            for command in line.split("&&"):
                self._read(shlex.split(command))
        units = {}
        for e in json.load(open(os.path.join(self.dir, "compile_commands.json"))):
            args = shlex.split(e["command"])
            units[args[args.index("-o") + 1]] = (e["file"], e["directory"], args)
        missing = self.objects - units.keys()
        if missing:
            sys.exit(f"macos-cross: no compile command for {sorted(missing)}")
        self.units = {obj: units[obj] for obj in sorted(self.objects)}

    def _read(self, args):
        if not args or args[0] == ":":
            args = args[1:]
        if not args:
            return
        if "-c" in args and "-o" in args:
            self.objects.add(args[args.index("-o") + 1])
        elif os.path.basename(args[0]).endswith("ar") and len(args) > 2 and args[1] == "qc":
            self.archives[args[2]] = [a for a in args[3:] if a.endswith(".o")]
        elif os.path.basename(args[0]).startswith("zig-") and "-o" in args:
            out = args[args.index("-o") + 1]
            dylib = "-dynamiclib" in args
            name = args[args.index("-install_name") + 1] if "-install_name" in args else None
            skip = {"-o", "-install_name", "-Xlinker"}
            inputs, i = [], 1
            while i < len(args):
                a = args[i]
                if a in skip:
                    i += 2
                    continue
                if not a.startswith("-"):
                    inputs.append(a)
                i += 1
            self.links[out] = (dylib, name, inputs)

    def linked_objects(self, output):
        """The objects CMake links into OUTPUT, archives opened into their members."""
        if output not in self.links:
            sys.exit(f"macos-cross: no link of {output}")
        objects = []
        for i in self.links[output][2]:
            if i.endswith(".o"):
                objects.append(i)
            elif i in self.archives:
                objects += self.archives[i]
        return list(dict.fromkeys(objects))


def compile_units(work, link_version, archs, versions, shipped_outputs):
    build = Build(work)
    targets = sorted({target_of(o) for o in build.units})
    shipped = {target_of(o) for out in shipped_outputs for o in build.linked_objects(out)}
    jobs, count = [], {}
    for obj, (source, directory, args) in build.units.items():
        target = target_of(obj)
        for arch in archs:
            for version in versions:
                if version != link_version and target not in shipped:
                    continue
                cmd = list(args)
                out = os.path.join(work, "obj" if version == link_version else f"obj-{version}",
                                   arch, obj)
                os.makedirs(os.path.dirname(out), exist_ok=True)
                cmd[cmd.index("-o") + 1] = out
                if version != link_version or target not in shipped:
                    cmd.append("-O0")
                env = dict(os.environ, GRELLAN_ZIG_TARGET=zig_target(arch, version))
                label = f"{arch}-macos.{version} {os.path.relpath(source)}"
                jobs.append((label, cmd, directory, env))
                count[target] = count.get(target, 0) + 1
    failed = run_all(jobs)
    print(f"compiled {len(build.units)} translation units of {len(targets)} targets:"
          f" {len(jobs)} compiles ({', '.join(archs)}; shipped targets also at"
          f" {', '.join(v for v in versions if v != link_version)}), {failed} with diagnostics")
    for t in targets:
        print(f"  {t}: " + " ".join(sorted(os.path.relpath(build.units[o][0])
                                           for o in build.units if target_of(o) == t)))
    return 1 if failed else 0


def build_gtest(work, archs, source, ar, gtest_dir):
    jobs = []
    for arch in archs:
        os.makedirs(os.path.join(gtest_dir, arch), exist_ok=True)
        for archive, unit in GTEST_ARCHIVES.items():
            obj = os.path.join(gtest_dir, arch, archive[:-2] + ".o")
            includes = []
            for part in ("googletest", "googlemock"):
                includes += ["-I", os.path.join(source, part),
                             "-I", os.path.join(source, part, "include")]
            cmd = [os.path.join(work, "bin", "zig-c++"), "-std=c++17", "-O1", "-w",
                   "-DGTEST_HAS_PTHREAD=1", *includes, "-c", os.path.join(source, unit), "-o", obj]
            env = dict(os.environ, GRELLAN_ZIG_TARGET=zig_target(arch, "11.0"))
            jobs.append((f"{arch} GoogleTest {unit}", cmd, None, env))
    if run_all(jobs):
        return 1
    for arch in archs:
        for archive in GTEST_ARCHIVES:
            path = os.path.join(gtest_dir, arch, archive)
            subprocess.run([ar, "--format=darwin", "rcs", path, path[:-2] + ".o"], check=True)
    return 0


def link(work, link_version, archs, ld64, ar, gtest_dir, shipped_outputs):
    build = Build(work)
    jobs, outputs = [], []
    for arch in archs:
        objdir = os.path.join(work, "obj", arch)
        libdir = os.path.join(work, "lib", arch)
        for archive, members in build.archives.items():
            path = os.path.join(libdir, archive)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if os.path.exists(path):
                os.remove(path)
            subprocess.run([ar, "--format=darwin", "rcs", path,
                            *[os.path.join(objdir, m) for m in members]], check=True)
        runtime = open(os.path.join(work, f"runtime-{arch}")).read().split("\n")
        for out, (dylib, install_name, inputs) in sorted(build.links.items()):
            if out in shipped_outputs:
                continue
            mapped = []
            for i in inputs:
                if i.endswith(".o"):
                    mapped.append(os.path.join(objdir, i))
                elif i in build.archives:
                    mapped.append(os.path.join(libdir, i))
                elif os.path.basename(i) in GTEST_ARCHIVES:
                    mapped.append(os.path.join(gtest_dir, arch, os.path.basename(i)))
                elif i.endswith(".tbd"):
                    mapped.append(i)
                else:
                    sys.exit(f"macos-cross: {out} links {i}, which has no macOS counterpart here")
            # An archive named twice (CMake repeats libgtest.a) is searched once.
            mapped = list(dict.fromkeys(mapped))
            path = os.path.join(work, "link", arch, out)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            kind = ["-dylib", "-install_name", install_name or "@rpath/" + os.path.basename(out)] \
                if dylib else ["-execute"]
            cmd = [ld64, "-arch", arch, "-platform_version", "macos", link_version, link_version,
                   *kind, "-o", path, *mapped, *[r for r in runtime if r]]
            jobs.append((f"{arch} link {out}", cmd, None, None))
            outputs.append(out)
    failed = run_all(jobs)
    print(f"linked {len(outputs) // len(archs)} programs and libraries x {len(archs)}"
          f" architectures, {failed} failed: {' '.join(sorted(set(outputs)))}")
    return 1 if failed else 0


def main(argv):
    step = argv[1] if len(argv) > 1 else ""
    if step == "objects" and len(argv) == 5:
        objdir = os.path.join(argv[2], "obj", argv[3])
        for obj in Build(argv[2]).linked_objects(argv[4]):
            print(os.path.join(objdir, obj))
        return 0
    if step == "compile" and len(argv) >= 6:
        return compile_units(argv[2], argv[3], argv[4].split(), argv[5].split(), set(argv[6:]))
    if step == "gtest" and len(argv) == 7:
        return build_gtest(argv[2], argv[3].split(), argv[4], argv[5], argv[6])
    if step == "link" and len(argv) >= 8:
        return link(argv[2], argv[3], argv[4].split(), argv[5], argv[6], argv[7], set(argv[8:]))
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
