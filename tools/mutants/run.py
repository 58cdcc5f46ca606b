#!/usr/bin/env python3
"""Plants each fault of tools/mutants/mutants.txt in turn, builds, runs the
suite until its first failure, and reports which faults the suite caught.

  tools/mutants/run.py [BUILD_DIR] [--only TEXT]

BUILD_DIR (default build-mut) is configured when missing. The source is
always put back, also on Ctrl-C. A fault that does not compile counts as
caught by the compiler: the list should not hold such.
"""
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TARGETS = ["unit_tests", "e2e_tests", "fr-core", "fr-emu", "fr-host", "fr-bridge"]


def read_list(path):
    mutants, block = [], {}
    key = None
    for line in open(path, encoding="utf-8").read().split("\n") + [""]:
        if line.startswith("#"):
            continue
        if not line.strip():
            if block:
                mutants.append(block)
            block, key = {}, None
            continue
        if line[:5] in ("name:", "file:") or line[:3] == "to:" or line[:5] == "from:":
            key, _, value = line.partition(":")
            block[key] = value.strip()
        elif key in ("from", "to"):  # a continuation keeps the original lines
            block[key] += "\n" + line
    return mutants


def run(cmd, cwd, log):
    with open(log, "a") as out:
        return subprocess.call(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)


def main():
    # A kill must put the source back too: it runs the `finally` below.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    args = [a for a in sys.argv[1:]]
    only = None
    if "--only" in args:
        i = args.index("--only")
        only = args[i + 1]
        del args[i:i + 2]
    build = os.path.join(ROOT, args[0] if args else "build-mut")
    jobs = str(os.cpu_count() or 2)
    mutants = read_list(os.path.join(ROOT, "tools", "mutants", "mutants.txt"))
    if only:
        mutants = [m for m in mutants if only in m["name"]]
    for m in mutants:
        text = open(os.path.join(ROOT, m["file"]), encoding="utf-8").read()
        if text.count(m["from"]) != 1:
            sys.exit("%s: the text to replace occurs %d times in %s" % (m["name"], text.count(m["from"]), m["file"]))
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        subprocess.check_call(["cmake", "-S", ROOT, "-B", build])
    log = os.path.join(build, "mutants.log")
    open(log, "w").close()
    caught = 0
    for n, m in enumerate(mutants, 1):
        path = os.path.join(ROOT, m["file"])
        original = open(path, encoding="utf-8").read()
        started = time.time()
        try:
            open(path, "w", encoding="utf-8").write(original.replace(m["from"], m["to"], 1))
            if run(["cmake", "--build", build, "-j", jobs, "--target"] + TARGETS, ROOT, log) != 0:
                verdict = "caught by the compiler"
            elif run(["ctest", "-j", jobs, "--stop-on-failure", "-E", "^tsan"], build, log) != 0:
                verdict = "caught"
            else:
                verdict = "SURVIVED"
        finally:
            open(path, "w", encoding="utf-8").write(original)
        caught += verdict != "SURVIVED"
        print("%2d/%d %-8s %s (%s, %.0f s)" % (n, len(mutants), verdict.split()[0], m["name"], m["file"],
                                            time.time() - started), flush=True)
    print("caught %d of %d" % (caught, len(mutants)))
    # Leave the build as the source is.
    run(["cmake", "--build", build, "-j", jobs, "--target"] + TARGETS, ROOT, log)
    return 0 if caught == len(mutants) else 1


if __name__ == "__main__":
    sys.exit(main())
