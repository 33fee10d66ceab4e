#!/usr/bin/env python3
"""Measures the harness's own cost against GoogleTest, Catch2 and doctest (Debian's googletest,
catch2 and doctest-dev packages, used here only for comparison): the wall time and peak memory
of running N trivial passing tests, and the start-up of an empty run.

    python3 bench/overhead.py --build build [--tests 1000] [--repeat 10]

`--build` is a configured and built velt-test build directory (for include and library paths).
Each program is run `--repeat` times; the median wall time and the largest peak RSS are shown.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

SOURCES = {
    "velt": ("#include <velt/test.h>\n",
             "VELT_TEST(suite::case_{i}) {{ int x = {i}; VELT_ASSERT_EQ(x, {i}); }}\n", ""),
    "gtest": ("#include <gtest/gtest.h>\n",
              "TEST(suite, case_{i}) {{ int x = {i}; EXPECT_EQ(x, {i}); }}\n", ""),
    "catch2": ("#define CATCH_CONFIG_MAIN\n#include <catch2/catch.hpp>\n",
               "TEST_CASE(\"suite::case_{i}\") {{ int x = {i}; REQUIRE(x == {i}); }}\n", ""),
    "doctest": ("#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN\n#include <doctest/doctest.h>\n",
                "TEST_CASE(\"suite::case_{i}\") {{ int x = {i}; CHECK(x == {i}); }}\n", ""),
}


def compile_cmd(kind, src, out, build):
    base = ["g++", "-std=c++20", "-O2", src, "-o", out]
    if kind == "velt":
        return base + ["-I", os.path.join(ROOT, "include"),
                       os.path.join(build, "libvelt_test_main.a"),
                       os.path.join(build, "libvelt_test.a"), "-pthread"]
    if kind == "gtest":
        return base + ["-lgtest_main", "-lgtest", "-pthread"]
    return base


def measure(argv, repeat):
    times = []
    peak = 0
    for _ in range(repeat):
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        times.append(time.perf_counter() - start)
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            sys.exit(f"{argv[0]} exited with {proc.returncode}")
        peak = max(peak, usage.ru_maxrss)  # KiB, this child only
    return statistics.median(times), peak


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--tests", type=int, default=1000)
    ap.add_argument("--repeat", type=int, default=10)
    args = ap.parse_args()
    build = os.path.abspath(args.build)

    with tempfile.TemporaryDirectory() as tmp:
        exes = {}
        for kind, (head, test, tail) in SOURCES.items():
            src = os.path.join(tmp, f"{kind}.cc")
            with open(src, "w") as f:
                f.write(head + "".join(test.format(i=i) for i in range(args.tests)) + tail)
            exe = os.path.join(tmp, kind)
            start = time.perf_counter()
            r = subprocess.run(compile_cmd(kind, src, exe, build), capture_output=True, text=True)
            if r.returncode != 0:
                print(f"{kind}: not built ({r.stderr.strip().splitlines()[-1:]})")
                continue
            print(f"{kind:8} compiled {args.tests} tests in {time.perf_counter() - start:.1f}s")
            exes[kind] = exe
        plain = os.path.join(tmp, "plain")
        with open(plain + ".cc", "w") as f:
            f.write("#include <cstdio>\nint main() { std::puts(\"hello\"); }\n")
        subprocess.run(["g++", "-O2", plain + ".cc", "-o", plain], check=True)

        print(f"\nrunning {args.tests} passing tests, median of {args.repeat} runs:")
        runs = []
        if "velt" in exes:
            runs += [("velt (1 thread)", [exes["velt"], "--test-threads", "1"]),
                     ("velt (parallel)", [exes["velt"]])]
        for kind in ("gtest", "catch2", "doctest"):
            if kind in exes:
                runs.append((kind, [exes[kind]]))
        for name, argv in runs:
            t, rss = measure(argv, args.repeat)
            print(f"  {name:16} {t * 1000:8.1f} ms  {t / args.tests * 1e6:6.1f} us/test"
                  f"  peak RSS {rss / 1024:6.1f} MiB")

        print(f"\nstart-up, median of {args.repeat * 5} runs:")
        for name, argv in [("plain C++ program", [plain]),
                           ("velt-test (empty)", [os.path.join(build, "velt-test")])]:
            t, rss = measure(argv, args.repeat * 5)
            print(f"  {name:18} {t * 1000:6.2f} ms  peak RSS {rss / 1024:5.1f} MiB")


if __name__ == "__main__":
    main()
