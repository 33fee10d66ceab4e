#!/usr/bin/env python3
"""Checks every entry of the installed terminfo database against ncurses' tput. Each file must
parse; for each entry with colours (one where a TerminfoTerminal writes something for colour
2), the bytes it writes for colour 2 and for a reset must be those of `tput -T NAME setaf 2`
and `tput -T NAME sgr0` (or of the sgr or op capability the reset falls back to). Padding
("$<5>"), which tput turns into delays and we copy as it stands, is left out.

    terminfo_db_check.py --dump build/tests/terminfo_db_dump [DIR...]
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

DEFAULT_DIRS = ["/etc/terminfo", "/lib/terminfo", "/usr/share/terminfo"]
PADDING = re.compile(rb"\$<[0-9]*\.?[0-9]*[*/]*>")


def entries(dirs):
    """(database root, path) of every entry file: ROOT/x/xterm, ROOT/78/xterm."""
    found = []
    for root in dirs:
        if not os.path.isdir(root):
            continue
        for sub in sorted(os.listdir(root)):
            subdir = os.path.join(root, sub)
            if not os.path.isdir(subdir):
                continue
            for name in sorted(os.listdir(subdir)):
                path = os.path.join(subdir, name)
                if os.path.isfile(path):
                    found.append((root, path))
    return found


def tput(root, name, cap, *params, home):
    env = {k: v for k, v in os.environ.items() if k not in ("TERMINFO_DIRS", "TERM")}
    # TERMINFO first makes tput read the very file that was parsed, and an empty home directory
    # keeps a personal ~/.terminfo out of it.
    env["TERMINFO"] = root
    env["HOME"] = home
    proc = subprocess.run(["tput", "-T", name, cap, *params], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # A capability tput does not have (absent or cancelled) writes nothing, as ours does.
    return proc.stdout


def reset_by_tput(root, name, cap, raw, home):
    """tput prints a capability given without parameters as it stands, so one with "%" in it
    gets a parameter to make tput expand it. tput then also takes that "0" for the name of a
    further capability and complains on its standard error, which is ignored."""
    return tput(root, name, cap, *(["0"] if b"%" in raw else []), home=home)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dump", required=True, help="the terminfo_db_dump program")
    ap.add_argument("dirs", nargs="*", default=DEFAULT_DIRS)
    args = ap.parse_args()

    files = entries(args.dirs)
    if not files:
        print(f"no terminfo entries under {' '.join(args.dirs)}")
        return 1
    dump = subprocess.run([args.dump], input="".join(p + "\n" for _, p in files).encode(),
                          stdout=subprocess.PIPE, check=True).stdout.decode()
    rows = [line.split("\t") for line in dump.splitlines()]
    if len(rows) != len(files):
        print(f"{len(files)} files but {len(rows)} results")
        return 1

    mismatches = []
    checks = []  # (description, our bytes, future of tput's bytes)
    parsed = coloured = 0
    with tempfile.TemporaryDirectory() as home, \
            concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for (root, path), row in zip(files, rows):
            if row[0] != path:
                mismatches.append(f"{path}: result for {row[0]}")
                continue
            if row[1] != "ok":
                mismatches.append(f"{path}: {row[2]}")
                continue
            parsed += 1
            _, _, colors, setaf, reset_cap, reset_text, reset = row
            if setaf == "-":
                continue  # no colours: the reset is never paired with a colour
            coloured += 1
            for what, ours in (("setaf 2", setaf), (reset_cap, reset)):
                if ours.startswith("!"):
                    mismatches.append(f"{path} {what}: expansion failed: {ours[1:]}")
            if setaf.startswith("!") or reset.startswith("!"):
                continue
            name = os.path.basename(path)
            checks.append((f"{path} setaf 2", bytes.fromhex(setaf),
                           pool.submit(tput, root, name, "setaf", "2", home=home)))
            if reset != "-":
                checks.append((f"{path} {reset_cap}", bytes.fromhex(reset),
                               pool.submit(reset_by_tput, root, name, reset_cap,
                                           bytes.fromhex(reset_text), home)))
        for what, ours, future in checks:
            theirs = future.result()
            if PADDING.sub(b"", ours) != theirs:
                mismatches.append(f"{what}: we write {ours!r}, tput writes {theirs!r}")

    for m in mismatches:
        print("MISMATCH " + m)
    print(f"{len(files)} entries, {parsed} parsed, {coloured} with colours, "
          f"{len(checks)} sequences compared with tput, {len(mismatches)} mismatches")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
