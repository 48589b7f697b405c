#!/usr/bin/env python3
"""Processor time per step in the first discharge's dense phase, two models.

Runs build/pdpcell on examples/sustain-long twice, each in its own folder
under FOLDER, and stops each run WINDOW steps after the step where its
electron records first exceed RECORDS (the discharge's dense phase: the
store is near its cap and the real electrons grow by orders). Prints the
processor time per step over that window (the run log's cpu_time column)
for both and their ratio.

  scripts/dense_phase_speed.py FOLDER [--window 200] [--records 10000]
      [--threads 1] [--binary B]

The reference is the command that first carried the discharge through its
pulses, "--parallel --plasma-field --max-ions 50000 --max-electrons 20000
--seed-at-cathode"; the other is the case's own options file (--whole-run).
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REFERENCE = ["--parallel", "--plasma-field", "--max-ions", "50000", "--max-electrons", "20000", "--seed-at-cathode"]


def log_rows(path):
    rows = []
    try:
        with open(path) as f:
            next(f, None)
            for line in f:
                parts = line.split()
                if len(parts) >= 8:
                    rows.append((int(parts[0]), int(parts[6]), float(parts[7])))
    except (FileNotFoundError, ValueError):
        pass
    return rows


def run(binary, folder, options, threads, records, window):
    """Runs until WINDOW steps after the dense phase begins; returns
    (first dense step, processor seconds per step over the window)."""
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(os.path.join(ROOT, "examples", "sustain-long"), folder)
    if options is not None:
        os.remove(os.path.join(folder, "run_options.txt"))
    command = [binary, "--threads", str(threads), "--quiet", "--progress-every", "0"] + (options or [])
    with open(os.path.join(folder, "console.txt"), "w") as console:
        process = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=console,
                                   stderr=subprocess.STDOUT)
        log = os.path.join(folder, "general.txt")
        start = None
        while process.poll() is None:
            time.sleep(2)
            rows = log_rows(log)
            if start is None:
                start = next((r for r in rows if r[1] > records), None)
            if start is not None and rows and rows[-1][0] >= start[0] + window:
                process.terminate()
                process.wait()
                break
    rows = log_rows(log)
    if start is None:
        sys.exit("%s: the run ended before its electron records exceeded %d" % (folder, records))
    end = next(r for r in rows if r[0] >= start[0] + window)
    return start[0], (end[2] - start[2]) / (end[0] - start[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--window", type=int, default=200)
    parser.add_argument("--records", type=int, default=10000)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "pdpcell"))
    o = parser.parse_args()
    os.makedirs(o.folder, exist_ok=True)
    ref_step, ref = run(o.binary, os.path.join(o.folder, "reference"), REFERENCE, o.threads, o.records, o.window)
    new_step, new = run(o.binary, os.path.join(o.folder, "whole-run"), None, o.threads, o.records, o.window)
    print("reference (%s): dense from step %d, %.3f s of processor time per step" % (" ".join(REFERENCE), ref_step, ref))
    print("whole-run (examples/sustain-long/run_options.txt): dense from step %d, %.3f s per step" % (new_step, new))
    print("ratio: %.2f" % (ref / new))


if __name__ == "__main__":
    main()
