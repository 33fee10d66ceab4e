#!/usr/bin/env python3
"""Compares velt-test's benchmark figures with Google Benchmark's (Debian's libbenchmark-dev,
used here only for comparison): the same routines, compiled alike, measured by both in turns.

    python3 bench/figures.py --build build [--repeat 5]

`--build` is a configured and built velt-test build directory (for the libraries). Each program
runs `--repeat` times, alternating which goes first. For every routine it prints the median
ns/iter of each harness over the runs (Google Benchmark's wall-clock "Time", with its CPU time
beside it), their ratios, and the spread of each: (largest - smallest) / median of the per-run
figures. Last come the wall time of one run of each program and their ratio.

A machine shared with other work inflates whatever it interrupts: run it more than once and
read the figures together with the load average it prints. Google Benchmark's wall-clock time
averages over its whole half-second run, waits for the CPU included, while velt-test's median
of millisecond samples passes over them; on a busy machine its CPU time is the fairer match.
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The routines, shared word for word by both programs. Each returns a value that the harness
# keeps (velt-test's iter passes it through black_box; benchmark::DoNotOptimize here), so
# neither optimiser may drop the work or hoist it out of the timing loop.
ROUTINES = r"""
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

struct Data {
  std::vector<int> ints = std::vector<int>(1000);
  std::vector<unsigned char> src = std::vector<unsigned char>(65536, 7), dst = src;
  Data() { std::iota(ints.begin(), ints.end(), 0); }
};
inline Data& data() { static Data d; return d; }

inline int sum_1000(const Data& d) { return std::accumulate(d.ints.begin(), d.ints.end(), 0); }
inline void* copy_4k(Data& d) { return std::memcpy(d.dst.data(), d.src.data(), 4096); }
inline std::uint64_t fnv_64k(const Data& d) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : d.src) h = (h ^ c) * 1099511628211ull;
  return h;
}
"""

NAMES = ["sum_1000", "copy_4k", "fnv_64k"]
BYTES = {"copy_4k": 4096, "fnv_64k": 65536}

VELT = ROUTINES + "#include <velt/test.h>\n" + "".join(
    f"VELT_BENCH({n}) {{ Data& d = data(); {f'b.bytes = {BYTES[n]};' if n in BYTES else ''}"
    f" b.iter([&] {{ return {n}(d); }}); }}\n" for n in NAMES)

GBENCH = ROUTINES + "#include <benchmark/benchmark.h>\n" + "".join(
    f"static void {n}(benchmark::State& state) {{ Data& d = data();"
    f" for (auto _ : state) benchmark::DoNotOptimize({n}(d));"
    f"{f' state.SetBytesProcessed(state.iterations() * {BYTES[n]});' if n in BYTES else ''} }}\n"
    f"BENCHMARK({n});\n" for n in NAMES) + "BENCHMARK_MAIN();\n"

VELT_LINE = re.compile(r"^test (\S+) +\.\.\. bench: +([\d,]+\.\d\d) ns/iter", re.M)
UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def build(tmp, name, source, extra):
    src = os.path.join(tmp, name + ".cc")
    exe = os.path.join(tmp, name)
    with open(src, "w") as f:
        f.write(source)
    subprocess.run(["g++", "-std=c++20", "-O2", src, "-o", exe] + extra, check=True)
    return exe


def run(argv):
    start = time.perf_counter()
    proc = subprocess.run(argv, capture_output=True, text=True)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"{argv[0]} exited with {proc.returncode}:\n{proc.stdout}{proc.stderr}")
    return proc.stdout, wall


def velt_figures(out):
    return {name: float(ns.replace(",", "")) for name, ns in VELT_LINE.findall(out)}


def gbench_figures(out):
    real, cpu = {}, {}
    for b in json.loads(out)["benchmarks"]:
        unit = UNIT_NS[b["time_unit"]]
        real[b["name"]] = b["real_time"] * unit
        cpu[b["name"]] = b["cpu_time"] * unit
    return real, cpu


def spread(values):
    return (max(values) - min(values)) / statistics.median(values) * 100


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    lib = os.path.abspath(args.build)

    with tempfile.TemporaryDirectory() as tmp:
        velt = build(tmp, "velt", VELT, [
            "-I", os.path.join(ROOT, "include"), os.path.join(lib, "libvelt_test_main.a"),
            os.path.join(lib, "libvelt_test.a"), "-pthread"])
        gbench = build(tmp, "gbench", GBENCH, ["-lbenchmark", "-pthread"])

        ours = {n: [] for n in NAMES}
        theirs = {n: [] for n in NAMES}
        theirs_cpu = {n: [] for n in NAMES}
        walls = {"velt": [], "gbench": []}
        loads = []
        for r in range(args.repeat):
            order = ["velt", "gbench"] if r % 2 == 0 else ["gbench", "velt"]
            for who in order:
                loads.append(os.getloadavg()[0])
                if who == "velt":
                    out, wall = run([velt, "--bench"])
                    for n, ns in velt_figures(out).items():
                        ours[n].append(ns)
                else:
                    out, wall = run([gbench, "--benchmark_format=json"])
                    real, cpu = gbench_figures(out)
                    for n in NAMES:
                        theirs[n].append(real[n])
                        theirs_cpu[n].append(cpu[n])
                walls[who].append(wall)

    print(f"{args.repeat} runs of each, alternating; load average {min(loads):.2f} to "
          f"{max(loads):.2f} on {os.cpu_count()} CPUs\n")
    print(f"{'routine':10} {'velt ns/iter':>13} {'gbench ns/iter':>15} {'(cpu)':>10} "
          f"{'ratio':>6} {'(cpu)':>6}  {'velt spread':>11} {'gbench spread':>13}")
    for n in NAMES:
        v, g, c = (statistics.median(x[n]) for x in (ours, theirs, theirs_cpu))
        print(f"{n:10} {v:13.2f} {g:15.2f} {c:10.2f} {v / g:6.3f} {v / c:6.3f}  "
              f"{spread(ours[n]):10.1f}% {spread(theirs[n]):12.1f}%")
    vw, gw = statistics.median(walls["velt"]), statistics.median(walls["gbench"])
    print(f"\nwall time of one run (median): velt {vw:.2f} s, gbench {gw:.2f} s, "
          f"ratio {vw / gw:.2f}")


if __name__ == "__main__":
    main()
