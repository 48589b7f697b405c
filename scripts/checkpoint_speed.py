#!/usr/bin/env python3
"""Processor time per step from one checkpoint, with and without the
drift-diffusion steps.

Copies the run in FOLDER (its checkpoint "restart" and the files beside it)
twice under OUT, turns --drift-diffusion on in one copy's checkpoint and off
in the other's, continues both for STEPS steps, and prints the processor
time per step of each (the run log's cpu_time column, from the first logged
step after the restart to the last) and their ratio. Both continue the same
state, so the ratio is free of the spread between realizations that makes
whole runs of two models hard to compare.

A restart keeps the model of its checkpoint and refuses another on the
command line; this script rewrites the checkpoint's model line instead (and
its integrity record to match), which no run does.

  scripts/checkpoint_speed.py FOLDER OUT [--steps 200] [--threads 1]
      [--binary B]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import zlib

from dense_phase_speed import log_rows

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INTEGRITY = b" CRC-32 of the bytes above: "


def checkpoint_step(folder):
    with open(os.path.join(folder, "restart.report")) as f:
        m = re.search(r"state at step (\d+)", f.readline())
    if not m:
        sys.exit("checkpoint_speed: %s/restart.report names no step" % folder)
    return int(m.group(1))


def with_model(data, drift_diffusion):
    """The checkpoint's bytes with the drift-diffusion pair of its model line
    set as asked, and a new integrity record."""
    body, sep, _ = data.rpartition(b"\n" + INTEGRITY)
    if not sep:
        sys.exit("checkpoint_speed: the checkpoint has no integrity record")
    pair = b" drift-diffusion 1" if drift_diffusion else b""
    body, found = re.subn(rb"( RUN MODEL .* second-order-flights [01])( drift-diffusion 1)?", lambda m: m.group(1) + pair,
                          body + b"\n", count=1)
    if found != 1:
        sys.exit("checkpoint_speed: the checkpoint has no model line")
    return body + INTEGRITY + b"%08X\n" % zlib.crc32(body)


def cpu_per_step(log, first):
    rows = [(step, cpu) for step, _, cpu in log_rows(log) if step > first]
    if len(rows) < 2:
        sys.exit("checkpoint_speed: %s logged fewer than two steps after the restart" % log)
    (s0, c0), (s1, c1) = rows[0], rows[-1]
    return (c1 - c0) / (s1 - s0), s1 - s0


def run(binary, source, folder, drift_diffusion, steps, threads):
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(source, folder, ignore=shutil.ignore_patterns("plots", "progress.txt", "restart.tmp"))
    path = os.path.join(folder, "restart")
    with open(path, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(with_model(data, drift_diffusion))
    first = checkpoint_step(folder)
    command = [binary, "--restart", "--threads", str(threads), "--quiet", "--progress-every", "0",
               "--max-steps", str(first + steps)]
    with open(os.path.join(folder, "console.txt"), "w") as console:
        status = subprocess.call(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=console,
                                 stderr=subprocess.STDOUT)
    if status != 0:
        sys.exit("checkpoint_speed: the run in %s stopped with status %d; see its console.txt" % (folder, status))
    return cpu_per_step(os.path.join(folder, "general.txt"), first) + (first,)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("out")
    parser.add_argument("--steps", type=int, default=200)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "pdpcell"))
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.folder, "restart")):
        sys.exit("checkpoint_speed: %s holds no checkpoint (file restart)" % args.folder)
    flights, n, first = run(args.binary, args.folder, os.path.join(args.out, "flights"), False, args.steps, args.threads)
    steps, _, _ = run(args.binary, args.folder, os.path.join(args.out, "drift-diffusion"), True, args.steps, args.threads)
    print("from step %d, %d steps timed, %d thread(s)" % (first, n, args.threads))
    print("flights alone      %.4f s of processor time per step" % flights)
    print("drift-diffusion    %.4f s of processor time per step" % steps)
    print("ratio              %.2f" % (flights / steps if steps > 0 else float("nan")))


if __name__ == "__main__":
    main()
