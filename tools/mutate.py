#!/usr/bin/env python3
"""Mutation check: do the tests catch these faults?

Applies the mutants of a list (tests/mutants.txt by default) one at a time
to the sources, rebuilds the unit and end-to-end tests, runs them (each test
program in shards, side by side, stopping at the first failure) and reports
each mutant as killed (a test failed), survived (every test passed) or not
built (the compiler refused it: the list needs fixing). The mutated file is
restored after each mutant, also when the script is interrupted.

A line of the list is one mutant: the file, the text to find (exactly once
in it) and what it becomes, separated by " | " ("\\|" stands for a "|" in a
text, "\\n" for a line end); a "#" line is a comment.

    src/disc/raw_sectors.cpp | minutes * 60 | minutes * 75

Usage: tools/mutate.py [--list FILE] [--build DIR] [--only N,M,...] [--shards N]
                       [--filter GTEST_FILTER]
--filter runs only the tests that a mutated reader touches (a gtest filter,
given to both test programs), to save time. The build folder (build-mutate by default) is configured when it is missing.
Exit status: 0 when every mutant was killed, 1 when any survived or was not
built, 2 for a bad list or command line.
"""

import argparse
import os
import pathlib
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
TEST_PROGRAMS = ["unit_tests", "e2e_tests"]
TEST_TIMEOUT = 600  # seconds: a mutant that makes a test hang is killed by it


class Mutant:
    def __init__(self, number, line, path, pattern, replacement):
        self.number = number
        self.line = line
        self.path = path
        self.pattern = pattern
        self.replacement = replacement

    def __str__(self):
        return f"#{self.number} {self.path}: {self.pattern!r} -> {self.replacement!r}"


def unescape(text):
    return text.replace("\\|", "|").replace("\\n", "\n").strip()


def read_list(list_path):
    mutants = []
    for number, line in enumerate(list_path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = [unescape(f) for f in line.replace("\\|", "\0").split(" | ")]
        fields = [f.replace("\0", "|") for f in fields]
        if len(fields) != 3 or not fields[1]:
            raise ValueError(f"{list_path}:{number}: expected 'file | pattern | replacement'")
        path = ROOT / fields[0]
        if not path.is_file():
            raise ValueError(f"{list_path}:{number}: no file {fields[0]}")
        count = path.read_text(encoding="utf-8").count(fields[1])
        if count != 1:
            raise ValueError(
                f"{list_path}:{number}: {fields[1]!r} occurs {count} times in {fields[0]}")
        mutants.append(Mutant(len(mutants) + 1, number, fields[0], fields[1], fields[2]))
    return mutants


def configure(build):
    if (build / "CMakeCache.txt").exists():
        return
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DTVRCGCV_BUILD_BENCHMARKS=OFF"], check=True, stdout=subprocess.DEVNULL)


def build_tests(build):
    jobs = str(os.cpu_count() or 2)
    result = subprocess.run(["cmake", "--build", str(build), "-j", jobs, "--target", "tvrcgcv",
                             *TEST_PROGRAMS], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return result.returncode == 0, result.stdout.decode(errors="replace")


def run_tests(build, shards, test_filter=""):
    """The first failing test program's shard and its last lines, or None."""
    started = []
    for program in TEST_PROGRAMS:
        for shard in range(shards):
            env = dict(os.environ, GTEST_TOTAL_SHARDS=str(shards), GTEST_SHARD_INDEX=str(shard))
            command = [str(build / "tests" / program), "--gtest_fail_fast", "--gtest_brief=1"]
            if test_filter:
                command.append("--gtest_filter=" + test_filter)
            process = subprocess.Popen(command, env=env, cwd=build,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                       start_new_session=True)
            started.append((f"{program} shard {shard}", process))
    failure = None
    deadline = time.monotonic() + TEST_TIMEOUT
    for name, process in started:
        try:
            output, _ = process.communicate(timeout=max(1, deadline - time.monotonic()))
            if process.returncode != 0 and failure is None:
                failed = [l for l in output.decode(errors="replace").splitlines()
                          if l.startswith("[  FAILED  ]")]
                failure = f"{name}: " + (failed[0][13:] if failed else
                                         f"exit status {process.returncode}")
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            failure = failure or f"{name}: still running after {TEST_TIMEOUT} s"
    return failure


def try_mutant(mutant, build, shards, test_filter):
    path = ROOT / mutant.path
    original = path.read_bytes()
    try:
        text = original.decode("utf-8")
        path.write_text(text.replace(mutant.pattern, mutant.replacement, 1), encoding="utf-8")
        built, log = build_tests(build)
        if not built:
            errors = [l for l in log.splitlines() if "error" in l]
            return "not built", errors[0] if errors else "the build failed"
        failure = run_tests(build, shards, test_filter)
        return ("killed", failure) if failure else ("SURVIVED", "")
    finally:
        path.write_bytes(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", default=str(ROOT / "tests" / "mutants.txt"))
    parser.add_argument("--build", default=str(ROOT / "build-mutate"))
    parser.add_argument("--only", default="", help="mutant numbers, e.g. 3,7")
    parser.add_argument("--shards", type=int, default=2, help="shards of each test program")
    parser.add_argument("--filter", default="", help="gtest filter of the tests to run")
    args = parser.parse_args()
    try:
        mutants = read_list(pathlib.Path(args.list))
    except ValueError as error:
        print(f"mutate.py: {error}", file=sys.stderr)
        return 2
    if args.only:
        chosen = {int(n) for n in args.only.split(",")}
        mutants = [m for m in mutants if m.number in chosen]
    # SIGTERM ends the run as Ctrl-C does, through the restoring finally.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    build = pathlib.Path(args.build).resolve()
    configure(build)
    built, log = build_tests(build)
    if not built or run_tests(build, args.shards, args.filter):
        print("mutate.py: the unmutated sources do not build or pass their tests", file=sys.stderr)
        return 1
    outcomes = {}
    for mutant in mutants:
        start = time.monotonic()
        outcome, detail = try_mutant(mutant, build, args.shards, args.filter)
        outcomes.setdefault(outcome, []).append(mutant)
        print(f"{outcome:9} {mutant} ({time.monotonic() - start:.0f} s)"
              + (f"\n          {detail}" if detail else ""), flush=True)
    build_tests(build)  # the build folder as the sources are again
    killed = len(outcomes.get("killed", []))
    viable = killed + len(outcomes.get("SURVIVED", []))
    print(f"\n{killed} of {viable} mutants killed"
          + (f" ({100 * killed / viable:.0f}%)" if viable else "")
          + f"; {len(outcomes.get('not built', []))} not built")
    for mutant in outcomes.get("SURVIVED", []):
        print(f"survived: {mutant} (line {mutant.line} of the list)")
    return 0 if killed == len(mutants) else 1


if __name__ == "__main__":
    sys.exit(main())
