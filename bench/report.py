"""Writes docs/performance.md (Markdown, to standard output) for scripts/benchmark.sh.

Usage: report.py RUNS WORK PLIST IMAGE [LABEL COMMAND]...

Runs every LABEL's COMMAND as whole processes, RUNS times in interleaved
rounds, reads the in-process figures from WORK/bench.json (Google Benchmark's
JSON output) and, where /dev/mem is IMAGE (bench/with-memory-image.sh), times
the shipped probe against dmidecode. Every figure it prints comes from this
run, apart from the lines that say where and when they were measured.
"""
import datetime, json, os, platform, re, statistics, subprocess, sys, time

runs, work, plist, image = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
pairs = sys.argv[5:]
commands = list(zip(pairs[0::2], pairs[1::2]))
bin_dir = "build-bench/bin"
library = os.path.join(bin_dir, "libgrellan.dylib")
load_at_start = os.getloadavg()

def wall(argv):
    start = time.perf_counter()
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start

def peak_rss_kib(argv):
    done = subprocess.run(["/usr/bin/time", "-v"] + argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr).group(1))

def output(argv):
    return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          check=True).stdout

# Rounds run every command once, so that a passing load on the machine falls on
# all of them alike; one warm-up round fills the page cache and the loader's.
argvs = [line.split() for _, line in commands]
walls = [[] for _ in commands]
rss = [[] for _ in commands]
for round in range(runs + 1):
    for i, argv in enumerate(argvs):
        w = wall(argv)
        if round > 0:
            walls[i].append(w)
            rss[i].append(peak_rss_kib(argv))
results = [(label, line, statistics.median(walls[i]), statistics.median(rss[i]))
           for i, (label, line) in enumerate(commands)]

# The shipped probe against dmidecode, both reading the image as /dev/mem.
quick = max(5 * runs, 31)
device = os.path.exists("/dev/mem") and os.path.samefile("/dev/mem", image)
probe = os.path.join(bin_dir, "grellanprobe")
compared = []
host = {}
loads = {}
# The library's own dependencies, as the dynamic loader sees them.
needed = re.findall(r"NEEDED.*\[(.*)\]", output(["readelf", "-d", library]))
if device:
    expected = output([os.path.join(bin_dir, "grellan_bench_tool"), "scan", image]).strip()
    if output([probe]).strip() != expected:
        sys.exit("benchmark.sh: grellanprobe does not print the image's fingerprint")
    contenders = [("grellanprobe", [probe]),
                  ("dmidecode -d IMAGE -t 1,2,3,4 -q",
                   ["dmidecode", "-d", image, "-t", "1,2,3,4", "-q"]),
                  ("/bin/true", ["/bin/true"])]
    times = [[] for _ in contenders]
    for round in range(quick + 1):
        for i, (_, argv) in enumerate(contenders):
            w = wall(argv)
            if round > 0:
                times[i].append(w)
    compared = [(label, statistics.median(times[i])) for i, (label, _) in enumerate(contenders)]

    # A C host in fresh processes: the load, the first call and later calls.
    timer = os.path.join(bin_dir, "grellan_first_call")
    samples = []
    for _ in range(quick):
        fields = output([timer, "call", library, "50"]).split()
        samples.append([float(x) for x in fields[:5]])
    host = {name: statistics.median(s[i] for s in samples)
            for i, name in enumerate(["load", "first", "later", "first_faults", "later_faults"])}
    host["extra"] = statistics.median(s[1] - s[2] for s in samples)

    # What each dependency adds to a load that already has the earlier ones.
    base = ["libstdc++.so.6"]
    order = base + [n for n in needed if n not in base and not n.startswith(("libc.", "libm.", "libgcc_s."))]
    sequences = [order + [os.path.abspath(library)], base + ["libcrypto.so.3"]]
    for sequence in sequences:
        got = {}
        for _ in range(quick):
            for line in output([timer, "load"] + sequence).splitlines():
                name, took = line.rsplit(" ", 1)
                got.setdefault(os.path.basename(name), []).append(float(took))
        for name, values in got.items():
            loads.setdefault(name, statistics.median(values))

def cpu_model():
    with open("/proc/cpuinfo") as f:
        for entry in f:
            if entry.startswith("model name"):
                return entry.split(":", 1)[1].strip()
    return platform.processor() or "unknown"

def short(line):
    return line.replace(work + "/", "").replace("build-bench/bin/", "")

with open(os.path.join(work, "bench.json")) as f:
    bench = json.load(f)
medians = [b for b in bench["benchmarks"] if b.get("aggregate_name") == "median"]
by_bench = {b["run_name"]: b for b in medians}

def us(b, kind="real_time"):
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "ns")]
    return b[kind] * scale

plist_size = os.path.getsize(plist)
image_size = os.path.getsize(image)
load_at_end = os.getloadavg()
print("# Performance")
print()
print("Generated by `scripts/benchmark.sh --write`; do not edit by hand.")
print()
print(f"- Date: {datetime.datetime.now().astimezone().strftime('%Y-%m-%d %H:%M %Z')}")
print(f"- Machine: {os.cpu_count()} CPUs (nproc), {cpu_model()}")
print(f"- System: {platform.system()} {platform.release()}")
print(f"- Load average (1 min) at the start and the end: {load_at_start[0]:.1f}, {load_at_end[0]:.1f}. "
      "Other builds may share the machine: every figure is a median of interleaved runs, and "
      "ratios taken within one run are steadier than the absolute times.")
print(f"- Inputs (from `grellan_bench_tool inputs DIR`): registry-dump.plist, {plist_size} bytes; "
      f"memory.img, {image_size} bytes")
print()
print("## In-process benchmarks")
print()
print("`build-bench/bin/grellan_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true`, "
      "medians of the 5 repetitions.")
print()
print("| benchmark | wall time | CPU time | label |")
print("|---|---:|---:|---|")
for b in medians:
    name = b["run_name"]
    unit = b.get("time_unit", "ns")
    extra = b.get("label", "")
    if "bytes_per_second" in b:
        extra = (extra + " " if extra else "") + f"{b['bytes_per_second'] / 1e6:.1f} MB/s"
    print(f"| {name} | {b['real_time']:.3g} {unit} | {b['cpu_time']:.3g} {unit} | {extra} |")

# CPU time: waiting for a core that other builds hold does not count.
call_us = us(by_bench["BM_GetHardwareHash_LegacyScan1MiB"], "cpu_time")
call_wall_us = us(by_bench["BM_GetHardwareHash_LegacyScan1MiB"])
scan_us = us(by_bench["BM_LegacyScanOnly1MiB"], "cpu_time")
table_us = us(by_bench["BM_TableFromMemory1MiB"], "cpu_time")
digest_us = us(by_bench["BM_SerialsAndDigest"], "cpu_time")
print()
print("One legacy-scan call, split by CPU time (each part its own benchmark above):")
print()
print("| part | time | share |")
print("|---|---:|---:|")
parts = [("scan (`SmBiosUnix::GetSystemFirmwareTable`)", scan_us),
         ("index and snapshot text (table object less the scan)", max(table_us - scan_us, 0.0)),
         ("serials and digest", digest_us),
         ("the rest of the call", max(call_us - table_us - digest_us, 0.0))]
for name, value in parts:
    print(f"| {name} | {value:.1f} us | {100 * value / call_us:.0f} % |")
print(f"| whole call (`GetHardwareHash`) | {call_us:.1f} us | 100 % |")

print()
print("## The shipped probe against dmidecode")
print()
if not device:
    print("Skipped: no private mount namespace could put the image at /dev/mem here "
          "(`bench/with-memory-image.sh` needs unprivileged user namespaces).")
else:
    print(f"`bench/with-memory-image.sh` puts memory.img at /dev/mem in a private mount namespace, "
          f"so `grellanprobe` and `libgrellan.dylib` run as shipped. Median of {quick} interleaved "
          "runs each after one warm-up round, wall time around the process.")
    print()
    print("| command | median wall time | ratio to dmidecode |")
    print("|---|---:|---:|")
    dmi = compared[1][1]
    for label, w in compared:
        print(f"| `{label}` | {w * 1000:.2f} ms | {w / dmi:.2f} |")
    print()
    print(f"Inside a fresh process, a C host (`grellan_first_call call libgrellan.dylib 50`, median of "
          f"{quick} processes): loading the library takes {host['load'] / 1000:.2f} ms, the first call "
          f"{host['first']:.0f} us, later calls {host['later']:.0f} us each; the first call costs "
          f"{host['extra']:.0f} us more than a later one. The first call takes "
          f"{host['first_faults']:.0f} minor page faults, a later one {host['later_faults']:.0f}: the "
          "first run of the library's and libstdc++'s code pages and the first growth of the heap "
          "for the held bytes, the index and the snapshot text.")
    print()
    print("What the dynamic loader spends on each dependency, loaded in this order into a C host "
          f"(`grellan_first_call load ...`, median of {quick} processes; each line is what it adds "
          "to the ones above it; libcrypto.so.3, which the library no longer loads, on its own above "
          "libstdc++):")
    print()
    print("| library | load time |")
    print("|---|---:|")
    for name, value in loads.items():
        print(f"| {name} | {value / 1000:.2f} ms |")

print()
print("## Whole processes")
print()
print(f"Median of {runs} runs each, in interleaved rounds after one warm-up round: wall time measured around the process, "
      "peak resident set size from `/usr/bin/time -v`. The parse commands read registry-dump.plist "
      "(ours also searches it for \"unique-chip-id\"); the scan commands read memory.img.")
print()
print("| command | median wall time | peak RSS | peak RSS / input size |")
print("|---|---:|---:|---:|")
for label, line, w, rss in results:
    size = plist_size if plist in line else image_size
    print(f"| `{short(line)}` | {w * 1000:.1f} ms | {rss / 1024:.1f} MiB | {rss * 1024 / size:.1f} |")

by_label = {label: (w, r) for label, _, w, r in results}

# The fallback over fake tools of chosen durations (BM_GetHardwareHash_Fallback/
# PROFILER_MS/IOREG_MS): a call against its slowest tool, and, where
# benchmark.sh was given GRELLAN_BENCH_BASELINE, the same calls of that test
# build of the library (the figures before).
def fallback_calls(benchmarks):
    calls = {}
    for b in benchmarks:
        m = re.match(r"BM_GetHardwareHash_Fallback/(\d+)/(\d+)/", b["run_name"])
        if m:
            calls[(int(m.group(1)), int(m.group(2)))] = us(b) / 1000
    return calls

fallback = fallback_calls(medians)
baseline_json = os.path.join(work, "bench-baseline.json")
before = {}
if os.path.exists(baseline_json):
    with open(baseline_json) as f:
        before = fallback_calls([b for b in json.load(f)["benchmarks"]
                                 if b.get("aggregate_name") == "median"])
print()
print("## The fallback's pace")
print()
print("`BM_GetHardwareHash_Fallback`: one call of the fallback over fake `system_profiler` and "
      "`ioreg` that sleep the given time and then print a Mac's report and registry dump; "
      "medians of the repetitions above, wall time. The call at best takes its slowest tool's time."
      + (" Before: the same calls of the test build `GRELLAN_BENCH_BASELINE` names, "
         "which ran the commands one after the other." if before else ""))
print()
if before:
    print("| system_profiler | ioreg | call before | times the slowest tool | call | times the slowest tool |")
    print("|---:|---:|---:|---:|---:|---:|")
else:
    print("| system_profiler | ioreg | call | times the slowest tool |")
    print("|---:|---:|---:|---:|")
for (profiler, ioreg), call in sorted(fallback.items()):
    slowest = max(profiler, ioreg)
    row = f"| {profiler / 1000:.2f} s | {ioreg / 1000:.2f} s |"
    if before:
        old = before.get((profiler, ioreg))
        row += (f" {old:.0f} ms | {old / slowest:.2f} |" if old else " - | - |")
    print(row + f" {call:.0f} ms | {call / slowest:.2f} |")

def verdict(ok):
    return "met" if ok else "missed"
def verdict(ok):
    return "met" if ok else "missed"

parse_ms = us(by_bench["BM_FallbackParseAndSearch5MB"]) / 1000
dmidecode_ms = by_label["dmidecode -t 1,2,3,4"][0] * 1000
plistutil_ms = by_label["plistutil"][0] * 1000
parse_rss = by_label["grellan_bench_tool parse"][1] * 1024 / plist_size
print()
print("## Targets")
print()
print("| target | ours | reference | verdict |")
print("|---|---:|---:|---|")
if device:
    ratio = compared[0][1] / compared[1][1]
    print(f"| whole process at most 2 times `dmidecode -d IMAGE -t 1,2,3,4 -q` "
          f"| {compared[0][1] * 1000:.2f} ms ({ratio:.2f} times) | {compared[1][1] * 1000:.2f} ms "
          f"| {verdict(ratio <= 2)} |")
    print(f"| first call of a fresh process at most 0.3 ms above later calls "
          f"| {host['extra'] / 1000:.2f} ms above | 0.3 ms | {verdict(host['extra'] <= 300)} |")
print(f"| one in-process legacy-scan call at most 100 us | {call_us:.0f} us CPU, {call_wall_us:.0f} us wall "
      f"| 100 us | {verdict(call_us <= 100)} |")
print(f"| parse and search of the property list, faster than plistutil "
      f"| {parse_ms:.1f} ms in process, {by_label['grellan_bench_tool parse'][0] * 1000:.1f} ms as a process "
      f"| {plistutil_ms:.1f} ms | {verdict(parse_ms < plistutil_ms)} in process |")
print(f"| parse peak memory at most 8 times the file | {parse_rss:.1f} times | 8 times | {verdict(parse_rss <= 8)} |")
if (300, 150) in fallback:
    pace = fallback[(300, 150)] / 300
    print(f"| fallback call (system_profiler 0.30 s, ioreg 0.15 s) at most 1.3 times its slowest tool "
          f"| {fallback[(300, 150)]:.0f} ms ({pace:.2f} times) | 300 ms | {verdict(pace <= 1.3)} |")
map_us = us(by_bench["BM_ReferenceMapLegacyArea"], "cpu_time")
crypto_note = ("" if any(n.startswith("libcrypto") for n in needed) else
               " libcrypto is not among them:\nthe MD5 objects are linked in, local to the library.")
pread_us = us(by_bench["BM_ReferencePreadLegacyArea"], "cpu_time")
print()
print(f"""Where the scan goes: by its definition it reads 16 bytes at every 16-byte
step from 0xE0000 to 0xFFFE0 (8,191 probes), so it touches every page of the
legacy area. It makes one `fstat` and one mapping of the whole area, from which the
table is copied too. What remains is the mapping itself: the first touch of
the mapped pages and the TLB flush when they are unmapped. Mapping the 128 KiB
of the image and reading it at every step takes {map_us:.0f} us of CPU here
(BM_ReferenceMapLegacyArea), reading the same bytes with `pread` {pread_us:.0f} us
(BM_ReferencePreadLegacyArea); compare the scan's {scan_us:.0f} us above. The scan
keeps `mmap` because that is how the memory device is read and how its
refusals are seen (a refused page ends the scan at the first probe that needs
it, and `read` on the device follows other rules than `mmap` for the same
pages).

Where a whole process goes: besides the call, the probe pays for starting
a C++ program (libstdc++, libm, libgcc_s) and for loading the library with
the shared libraries it needs ({", ".join(needed) or "none"}, from `readelf -d`
in this run). dmidecode is one small C program.{crypto_note}

A host loads the library once, so the in-process figures are the library's own
cost.""")

# The host's peak over one registry dump conversion, as the fallback runs it:
# a fake ioreg prints the dump through the command runner, and each parser
# converts it from "plist" and searches it, in a forked host of its own.
memory = []
for kind in ("dense", "realistic"):
    for mib in (5, 57):
        text = output([os.path.join(bin_dir, "grellan_bench_tool"), "memory", kind, str(mib)])
        for line in text.splitlines():
            m = re.match(r"(\S+) (\S+) dump ([0-9.]+) MiB: host peak ([0-9.]+) MiB above "
                         r"baseline, ([0-9.]+) times", line)
            if m:
                memory.append(m.groups())
print()
print("## Registry dump memory")
print()
print("From `grellan_bench_tool memory KIND MIB` in this run: the peak resident size (VmHWM) of a "
      "forked host above its resident size just before the work, while a fake `ioreg` prints the "
      "dump through the library's command runner and the output is converted from \"plist\" and "
      "searched for \"unique-chip-id\", as the fallback does. \"read_xml\" is the conversion "
      "through Boost's generic XML tree that the library used before (kept in `tests/support` as "
      "the tests' reference), \"library\" the current one. Dense is the benchmark's dump, "
      "realistic one whose bytes are mostly Base64 data properties.")
print()
print("| dump | size | read_xml peak | library peak |")
print("|---|---:|---:|---:|")
rows = {}
for name, kind, size, peak, times in memory:
    rows.setdefault((kind, size), {})[name] = f"{float(peak):.1f} MiB ({float(times):.1f} times)"
for (kind, size), by_name in rows.items():
    print(f"| {kind} | {size} MiB | {by_name.get('read_xml', '-')} | {by_name.get('library', '-')} |")
print()
print("""What the library keeps is the dump itself (once: it is converted where the
command runner collected it) and the converted tree that `Parse` hands back,
which holds a copy of every value and a node per entry; on the dense dump that
tree alone is several times the dump.""")
