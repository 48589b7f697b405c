#!/usr/bin/env python3
"""What --vuv costs over a stretch of a run, in instructions executed.

    vuv_cost.py [--binary build/pdpcell] [--steps 2400] [--threads 1] [--keep DIR]

Runs the example case (examples/sustain) in the parallel mode to --steps,
once without and once with --vuv, each under valgrind's callgrind, and prints
the instructions of each run and what --vuv adds, in all and in the VUV
kinetics' advance and in their set-up at the start (the superelastic table:
once per run). Instruction counts do not depend on the machine's
load, so two measurements of one build agree to a few in a million (the
thread scheduling aside: keep --threads 1). Callgrind runs some 50 times
slower than the program: 2400 steps take a couple of minutes each.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)


def run_counted(binary, folder, arguments):
    """Runs the case in `folder` under callgrind; (all instructions, those
    inclusive in xe_kinetics::advance, those in xe_kinetics::start)."""
    os.makedirs(folder)
    for name in ("input_file.txt", "Vdata.txt"):
        shutil.copy(os.path.join(SOURCE, "examples", "sustain", name), folder)
    out = os.path.join(folder, "callgrind.out")
    command = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, os.path.abspath(binary)] + arguments
    with open(os.path.join(folder, "console.txt"), "w") as console, open(os.path.join(folder, "valgrind.txt"), "w") as log:
        subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=console, stderr=log, check=True)
    total = None
    with open(out) as f:
        for line in f:
            if line.startswith("summary:") or line.startswith("totals:"):
                total = int(line.split()[1])
    annotated = subprocess.run(["callgrind_annotate", "--inclusive=yes", out], capture_output=True, text=True,
                               check=True).stdout
    return total, inclusive(annotated, "xe_kinetics::advance(double)"), inclusive(annotated, "xe_kinetics::start(")


def inclusive(annotated, function):
    """The inclusive instructions of `function` in callgrind_annotate's list."""
    found = 0
    for line in annotated.splitlines():
        m = re.match(r"\s*([\d,]+)\s", line)
        if m and ":" + function in line and "=>" not in line:
            found = max(found, int(m.group(1).replace(",", "")))
    return found


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--binary", default=os.path.join(SOURCE, "build", "pdpcell"))
    parser.add_argument("--steps", type=int, default=2400)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--keep", help="run in this folder (new) and keep it")
    args = parser.parse_args(argv)
    if shutil.which("valgrind") is None:
        sys.exit("ERROR: valgrind is not installed (apt-get install valgrind)")

    base = args.keep or tempfile.mkdtemp(prefix="vuv_cost_")
    common = ["--parallel", "--threads", str(args.threads), "--max-steps", str(args.steps)]
    try:
        plain, _, _ = run_counted(args.binary, os.path.join(base, "plain"), common)
        vuv, advance, start = run_counted(args.binary, os.path.join(base, "vuv"), common + ["--vuv"])
    finally:
        if not args.keep:
            shutil.rmtree(base, ignore_errors=True)
    print(f"steps {args.steps}, threads {args.threads}")
    print(f"without --vuv   {plain:>16,} instructions")
    print(f"with --vuv      {vuv:>16,} instructions")
    print(f"--vuv adds      {vuv - plain:>16,} ({100.0 * (vuv - plain) / plain:.2f} %)")
    print(f"of which advance {advance:>15,} ({100.0 * advance / plain:.2f} % of the run without)")
    print(f"and the start    {start:>15,} ({100.0 * start / plain:.2f} %, once per run)")


if __name__ == "__main__":
    main()
