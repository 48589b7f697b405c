#!/usr/bin/env python3
"""Breakdown ensembles of the example case, for comparing modes statistically.

Runs build/pdpcell (or --binary) on examples/sustain once per seed pair
(1100 + s, 550), s = 1..N, each in its own folder, and stops each run 500
steps after its breakdown. Prints, per run and as mean +- standard deviation
over the ensemble:

  B      the first logged step with more than 10,000 ions (general.txt);
  F      the first field step (n - 1 a multiple of 100) whose diagnostics
         block counts more than 10,000 ions, and the ions there;
  R      F + 400: the ions, the growth (ions at R / ions at F) and the peak
         ion and electron densities of its diagnostics block, so that every
         run is compared at the same stage of its growth.

  scripts/breakdown_ensemble.py N FOLDER [--first S] [--binary B] [-- ARGS...]

ARGS go to pdpcell (e.g. --parallel --threads 1). Runs one at a time, under
nice; FOLDER keeps every run's files.
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
THRESHOLD = 10000
AFTER = 500


def breakdown_step(general):
    """First logged step with more than THRESHOLD ions, or None."""
    try:
        with open(general) as f:
            next(f, None)
            for line in f:
                cols = line.split()
                if len(cols) >= 6 and int(cols[5]) > THRESHOLD:
                    return int(cols[0])
    except (OSError, ValueError):
        pass
    return None


def last_step(general):
    try:
        with open(general, "rb") as f:
            lines = f.read().splitlines()
        return int(lines[-1].split()[0]) if len(lines) > 1 else 0
    except (OSError, ValueError, IndexError):
        return 0


def diagnostics_blocks(console):
    """step -> (ions, peak ion density, peak electron density)."""
    blocks, step = {}, None
    ion_max = ele_max = None
    with open(console, errors="replace") as f:
        for line in f:
            m = re.match(r"\s*Step number:\s*(\d+)", line)
            if m:
                step, ion_max, ele_max = int(m.group(1)), None, None
                continue
            m = re.match(r"ION-DENS max=\s*(\S+)", line)
            if m:
                ion_max = float(m.group(1))
                continue
            m = re.match(r"ELE-DENS max=\s*(\S+)", line)
            if m:
                ele_max = float(m.group(1))
                continue
            m = re.match(r"\s*NUMBER OF IONS =\s*(\d+)", line)
            if m and step is not None:
                blocks[step] = (int(m.group(1)), ion_max, ele_max)
    return blocks


def run_one(binary, args, folder, seed):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in ("input_file.txt", "Vdata.txt"):
        shutil.copy(os.path.join(ROOT, "examples", "sustain", name), folder)
    general = os.path.join(folder, "general.txt")
    with open(os.path.join(folder, "console.txt"), "w") as out:
        p = subprocess.Popen(["nice", "-n", "10", binary] + args +
                             ["--seed", str(seed), "550", "--max-steps", "30000"],
                             cwd=folder, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        while p.poll() is None:
            time.sleep(0.3)
            b = breakdown_step(general)
            if b is not None and last_step(general) >= b + AFTER:
                p.send_signal(signal.SIGINT)
                try:
                    p.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
    b = breakdown_step(general)
    blocks = diagnostics_blocks(os.path.join(folder, "console.txt"))
    field_steps = sorted(s for s in blocks if (s - 1) % 100 == 0 and blocks[s][0] > THRESHOLD)
    if b is None or not field_steps or field_steps[0] + 400 not in blocks:
        return None
    f = field_steps[0]
    r = f + 400
    return {"B": b, "ions_F": blocks[f][0], "growth": blocks[r][0] / blocks[f][0], "ions_R": blocks[r][0],
            "ion_peak_R": blocks[r][1], "ele_peak_R": blocks[r][2]}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("runs", type=int)
    parser.add_argument("folder")
    parser.add_argument("--first", type=int, default=1, help="first s of the seed pairs (1100 + s, 550)")
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "pdpcell"))
    # Everything after "--" goes to pdpcell.
    argv = sys.argv[1:]
    args = argv[argv.index("--") + 1:] if "--" in argv else []
    o = parser.parse_args(argv[:argv.index("--")] if "--" in argv else argv)
    keys = ["B", "ions_F", "growth", "ions_R", "ion_peak_R", "ele_peak_R"]
    results = []
    print("seed " + " ".join(keys), flush=True)
    for s in range(o.first, o.first + o.runs):
        r = run_one(os.path.abspath(o.binary), args, os.path.join(o.folder, "seed%d" % s), 1100 + s)
        if r is None:
            print("%d did not reach R" % (1100 + s), flush=True)
            continue
        results.append(r)
        print("%d " % (1100 + s) + " ".join("%.4g" % r[k] for k in keys), flush=True)
    if len(results) >= 2:
        print("runs %d" % len(results))
        for k in keys:
            v = [r[k] for r in results]
            print("%-11s %.4g +- %.3g" % (k, statistics.mean(v), statistics.stdev(v)))
    return 0 if results else 1


if __name__ == "__main__":
    sys.exit(main())
