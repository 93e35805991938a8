#!/usr/bin/env python3
"""Plants one-line faults into a copy of the tree, one at a time, and reports
which of them the test suite catches.

    tools/mutate.py [MUTATIONS_FILE] [--only SUBSTRING]

MUTATIONS_FILE (default tools/mutations.txt) holds one fault per line:
    path: text as it stands in the file => text to put in its place
with <NL> for a line break (the first occurrence is replaced; lines starting
with # are comments). The
copy lives in build-mutate/ and is built incrementally; a fault counts as
caught when the build fails or any test fails or times out. The tests of the
window are left out to keep a round short.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
WORK = ROOT / "build-mutate"
TREE = WORK / "tree"
BUILD = WORK / "build"
EXCLUDE = "MainWindow|desktop_integration"


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


def copy_tree():
    if TREE.exists():
        shutil.rmtree(TREE)
    files = run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT).stdout.split("\n")
    for name in filter(None, files):
        source = ROOT / name
        if source.is_file():
            target = TREE / name
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(source, target)  # a fresh time, so that the build sees every change


def test_suite_passes():
    if run(["cmake", "--build", str(BUILD), "-j2"]).returncode != 0:
        return False
    result = run(["ctest", "--test-dir", str(BUILD), "-j2", "-E", EXCLUDE, "--timeout", "120"],
                 env={**os.environ, "QT_QPA_PLATFORM": "offscreen"})
    return result.returncode == 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mutations", nargs="?", default=str(ROOT / "tools" / "mutations.txt"))
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    faults = []
    for line in pathlib.Path(args.mutations).read_text().splitlines():
        if line.strip() and not line.startswith("#") and args.only in line:
            path, rest = line.split(": ", 1)
            old, new = rest.split(" => ")
            faults.append((path, old.replace("<NL>", "\n"), new.replace("<NL>", "\n")))

    copy_tree()
    configure = run(["cmake", "-S", str(TREE), "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug"])
    if configure.returncode != 0 or not test_suite_passes():
        sys.exit("the unchanged tree does not pass its tests")

    missed = []
    for path, old, new in faults:
        file = TREE / path
        original = file.read_text()
        if old not in original:
            print(f"STALE   {path}: {old}".replace("\n", "<NL>"))
            continue
        file.write_text(original.replace(old, new, 1))
        caught = not test_suite_passes()
        file.write_text(original)
        shown = f"{path}: {old} => {new}".replace("\n", "<NL>")
        print(f"{'caught' if caught else 'MISSED'}  {shown}", flush=True)
        if not caught:
            missed.append((path, old, new))
    run(["cmake", "--build", str(BUILD), "-j2"])
    print(f"\n{len(faults) - len(missed)} of {len(faults)} planted faults caught")
    sys.exit(1 if missed else 0)


if __name__ == "__main__":
    main()
