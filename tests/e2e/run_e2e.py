#!/usr/bin/env python3
"""Runs fixture executables with real command lines and environments and compares their exact
stdout, stderr and exit status with the expected texts in tests/e2e/cases/*.case.

A case file holds header lines, then sections:

    # comment
    run: example --test-threads 1        program (a fixture name, or "velt-test") and arguments;
                                         the program sees its name as written here in argv[0];
                                         several run lines must all give the expected results
    env: VELT_TEST_THREADS=1             extra environment (repeatable); "env: -NAME" unsets
    status: 101
    stdout-to: broken-pipe | full        stdout is a pipe nobody reads, or /dev/full
    sort-stdout: yes                     compare stdout lines as a multiset (parallel runs)
    json-lines: yes                      every stdout line must parse with Python's json module
    xml: yes                             stdout must be well-formed XML (`xmllint --noout -`)
    --- stdout
    ...exact text...
    --- stderr
    ...
    --- file out.txt                     a file the run writes in its working directory
    ...

A table file (*.table) holds one run per line, for errors that fit on one line:

    VELTC_BOOTSTRAP=1 velt-test -Z bad | 101 | "error: Unrecognized option to `Z`\n"

that is: environment assignments, program and arguments (shell words) | exit status | the
exact stderr as a Python string literal. Standard output must be empty.

A section's text runs to the next "--- " line; add "noeol" after the section name when the
text has no final line end. Durations are the only thing normalised: "finished in 0.01s"
becomes "finished in N.NNs" and " <0.012s>" becomes " <N.NNNs>"; the machine-read formats
carry them as plain numbers, so the JSON pair "exec_time": 0.004131 becomes "exec_time": N
and the JUnit attribute time="0.004131" becomes time="N"; a whole number such as the time="0"
of a test without a measured duration stays (the JSON and XML checks see the raw output).
Measured benchmark figures vary too: a figure with the padding before it, such as
"      1,234.50 ns/iter (+/- 100.25)", becomes " N ns/iter (+/- N)" and " = 400 MB/s" becomes
" = N MB/s"; the figure of a benchmark that never measured, "0.00 ns/iter (+/- 0.00)", stays.
"""
import argparse
import ast
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

DURATIONS = [
    (re.compile(rb"finished in \d+\.\d\ds"), b"finished in N.NNs"),
    (re.compile(rb" <\d+\.\d{3}s>"), b" <N.NNNs>"),
    (re.compile(rb'"exec_time": \d+\.\d+'), b'"exec_time": N'),
    (re.compile(rb' time="\d+\.\d+"'), b' time="N"'),
]
FIGURES = [
    (re.compile(rb" *(?! *0\.00 ns/iter \(\+/- 0\.00\))[\d,]+\.\d\d ns/iter \(\+/- [\d,]+\.\d\d\)"),
     b" N ns/iter (+/- N)"),
    (re.compile(rb" = \d+ MB/s"), b" = N MB/s"),
]


def normalise(data):
    for pattern, repl in DURATIONS + FIGURES:
        data = pattern.sub(repl, data)
    return data


def parse_case(path):
    header = {"env": []}
    sections = {}
    current = None
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    # The final element after the last "\n" is empty for a well-formed file.
    if lines and lines[-1] == b"":
        lines.pop()
    for raw in lines:
        if raw.startswith(b"--- "):
            words = raw[4:].decode().split()
            name = " ".join(w for w in words if w != "noeol")
            current = name
            sections[current] = {"lines": [], "noeol": "noeol" in words}
            continue
        if current is None:
            line = raw.decode()
            if not line.strip() or line.startswith("#"):
                continue
            key, _, value = line.partition(":")
            value = value.strip()
            if key == "env":
                header["env"].append(value)
            elif key == "run":
                header.setdefault("runs", []).append(value)
            else:
                header[key] = value
        else:
            sections[current]["lines"].append(raw)
    texts = {}
    for name, sec in sections.items():
        text = b"\n".join(sec["lines"])
        if sec["lines"] and not sec["noeol"]:
            text += b"\n"
        texts[name] = text
    return header, texts


def run_case(path, harness, fixtures):
    header, expected = parse_case(path)
    problems = []
    for run in header["runs"]:
        problems += [f"{run}: {p}" for p in run_once(run, header, expected, harness, fixtures)]
    return problems


def run_once(run, header, expected, harness, fixtures):
    argv = shlex.split(run)
    program = harness if argv[0] == "velt-test" else os.path.join(fixtures, argv[0])
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("VELT") and not k.startswith("__VELT") and k != "TERM"}
    for item in header["env"]:
        if item.startswith("-"):
            env.pop(item[1:], None)
        else:
            k, _, v = item.partition("=")
            env[k] = v
    with tempfile.TemporaryDirectory() as cwd:
        stdout_mode = header.get("stdout-to")
        if stdout_mode == "full":
            with open("/dev/full", "wb") as full:
                proc = subprocess.run(argv, executable=program, env=env, cwd=cwd,
                                      stdout=full, stderr=subprocess.PIPE, timeout=120)
            out = None
        elif stdout_mode == "broken-pipe":
            r, w = os.pipe()
            os.close(r)
            proc = subprocess.run(argv, executable=program, env=env, cwd=cwd,
                                  stdout=w, stderr=subprocess.PIPE, timeout=120)
            os.close(w)
            out = None
        else:
            proc = subprocess.run(argv, executable=program, env=env, cwd=cwd,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
            out = proc.stdout
        files = {}
        for name in expected:
            if name.startswith("file "):
                fpath = os.path.join(cwd, name[5:])
                files[name] = open(fpath, "rb").read() if os.path.exists(fpath) else None

    problems = []
    want_status = int(header.get("status", "0"))
    if proc.returncode != want_status:
        problems.append(f"exit status {proc.returncode}, expected {want_status}")

    def compare(what, got, want, sort=False):
        if got is None:
            problems.append(f"{what}: missing")
            return
        got = normalise(got)
        if sort:
            got_cmp, want_cmp = sorted(got.split(b"\n")), sorted(want.split(b"\n"))
        else:
            got_cmp, want_cmp = got, want
        if got_cmp != want_cmp:
            problems.append(f"{what} differs:\n--- expected\n{want.decode(errors='replace')}"
                            f"--- got\n{got.decode(errors='replace')}---")

    if out is not None:
        compare("stdout", out, expected.get("stdout", b""), header.get("sort-stdout") == "yes")
        if header.get("json-lines") == "yes":
            problems += check_json_lines(out)
        if header.get("xml") == "yes":
            problems += check_xml(out)
    compare("stderr", proc.stderr, expected.get("stderr", b""))
    for name, data in files.items():
        compare(name, data, expected[name])
    return problems


def reject_constant(name):
    raise ValueError(f"{name} is not JSON")


def check_json_lines(out):
    problems = []
    for n, line in enumerate(out.split(b"\n")[:-1], 1):
        try:
            json.loads(line, parse_constant=reject_constant)  # strict: no NaN or Infinity
        except ValueError as e:
            problems.append(f"stdout line {n} is not JSON ({e}): {line!r}")
    if out and not out.endswith(b"\n"):
        problems.append("stdout does not end with a line feed")
    return problems


def check_xml(out):
    try:
        proc = subprocess.run(["xmllint", "--noout", "-"], input=out, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
    except FileNotFoundError:
        return ["xmllint is not installed (Debian: libxml2-utils)"]
    if proc.returncode != 0:
        return [f"stdout is not well-formed XML:\n{proc.stderr.decode(errors='replace')}"]
    return []


def run_table(path, harness, fixtures):
    results = []
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            if not line.strip() or line.startswith("#"):
                continue
            command, status, stderr = (part.strip() for part in line.rsplit(" | ", 2))
            words = shlex.split(command)
            env = {k: v for k, v in os.environ.items()
                   if not k.startswith("VELT") and not k.startswith("__VELT") and k != "TERM"}
            while words and re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", words[0]):
                k, _, v = words.pop(0).partition("=")
                env[k] = v
            program = harness if words[0] == "velt-test" else os.path.join(fixtures, words[0])
            with tempfile.TemporaryDirectory() as cwd:
                proc = subprocess.run(words, executable=program, env=env, cwd=cwd, timeout=120,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            want_err = ast.literal_eval(stderr).encode()
            problems = []
            if proc.returncode != int(status):
                problems.append(f"exit status {proc.returncode}, expected {status}")
            if proc.stdout:
                problems.append(f"unexpected stdout: {proc.stdout!r}")
            if proc.stderr != want_err:
                problems.append(f"stderr {proc.stderr!r}, expected {want_err!r}")
            results.append((f"{os.path.basename(path)}:{n} {command}", problems))
    return results


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--harness", required=True)
    ap.add_argument("--fixtures", required=True)
    ap.add_argument("--cases", required=True)
    ap.add_argument("only", nargs="*", help="case names to run (default: all)")
    args = ap.parse_args()
    args.harness = os.path.abspath(args.harness)
    args.fixtures = os.path.abspath(args.fixtures)

    files = sorted(f for f in os.listdir(args.cases) if f.endswith((".case", ".table")))
    if args.only:
        files = [f for f in files if f.rsplit(".", 1)[0] in args.only]
    results = []
    for f in files:
        path = os.path.join(args.cases, f)
        if f.endswith(".case"):
            results.append((f[:-5], run_case(path, args.harness, args.fixtures)))
        else:
            results.extend(run_table(path, args.harness, args.fixtures))
    failed = 0
    for name, problems in results:
        if problems:
            failed += 1
            print(f"FAIL {name}")
            for p in problems:
                print("  " + p.replace("\n", "\n  "))
        else:
            print(f"ok   {name}")
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
