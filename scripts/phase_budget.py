#!/usr/bin/env python3
"""Where a run's processor time went, by phase of the discharge cycle.

    phase_budget.py RUN_FOLDER [--dense 1e5] [--avalanche 100] [--progress FILE]

Reads the run's console.txt (the diagnostics blocks every 20 steps carry the
step and the cumulative processor seconds of the field phase t11, the ion pass
t22 and the electron pass t33, and "Time elapsed", the whole run's) and
currents.csv (the real electrons every nanosecond and the sustain voltages).
A run continued with --restart appends its console to the same file; its
counters start again from zero, which is handled.

Each 20-step interval falls in one phase, from the real electrons at its start:
  dense      at least --dense real electrons (the plasma field is then solved
             in every step);
  afterglow  fewer, after a dense phase within the same pulse;
  avalanche  at least --avalanche, before any dense phase of the pulse;
  quiet      the rest.
A pulse runs from one sign reversal of V_S1 - V_S2 to the next, as in
pulses.csv. Processor time other than field, ions and electrons is merging,
seeding, output and the run's bookkeeping.

With --progress, the run's standard error saved to FILE (the plain progress
lines, "... step N  wall h:mm:ss", every --progress-every seconds; appended
across restarts, each continuing run's wall clock starting again at zero), the
table gains the wall seconds of each phase: the wall time at each diagnostics
block interpolated between the progress lines around it.
"""

import argparse
import os
import re
import sys

PHASES = ("quiet", "avalanche", "dense", "afterglow")
PARTS = ("field", "ions", "electrons", "other")
STEP_TIME_US = 1e-4  # 0.1 ns


def read_console(path):
    """(step, total, t11, t22, t33) of every diagnostics block, cumulative
    over the whole run across restarts."""
    blocks = []
    step = None
    total = None
    offset = [0.0] * 4
    last = None
    with open(path, errors="replace") as f:
        lines = f.read().splitlines()
    for k, line in enumerate(lines):
        m = re.match(r"\s*Step number:\s+(\d+)", line)
        if m:
            step = int(m.group(1))
            continue
        m = re.match(r"\s*Time elapsed=\s*([0-9.]+)\s*sec", line)
        if m:
            total = float(m.group(1))
            continue
        if line.strip() == "t11,t22,t33" and step is not None and total is not None and k + 1 < len(lines):
            t11, t22, t33 = (float(v.replace("D", "E")) for v in lines[k + 1].split()[:3])
            now = [total, t11, t22, t33]
            if last is not None and (step <= last[0] or now[0] < last[1][0]):
                # a restart: its counters begin again where the last block left off
                offset = [o + l for o, l in zip(offset, last[1])]
            last = (step, now)
            blocks.append((step,) + tuple(o + v for o, v in zip(offset, now)))
            step = total = None
    return blocks


def read_progress(path):
    """(step, wall seconds) of every plain progress line, the wall clock made
    cumulative across restarts."""
    points = []
    offset = 0.0
    last_wall = None
    with open(path, errors="replace") as f:
        for line in f:
            m = re.search(r"\bstep (\d+)\s+wall (\d+):(\d\d):(\d\d)\s*$", line)
            if not m:
                continue
            wall = int(m.group(2)) * 3600 + int(m.group(3)) * 60 + int(m.group(4))
            if last_wall is not None and wall < last_wall:
                offset = points[-1][1]  # a continuing run: its clock starts again
            last_wall = wall
            points.append((int(m.group(1)), offset + wall))
    return points


def wall_at(points, step):
    """Wall seconds at a step, linear between the progress lines around it;
    None outside them."""
    for (s0, w0), (s1, w1) in zip(points, points[1:]):
        if s0 <= step <= s1 and s1 > s0:
            return w0 + (w1 - w0) * (step - s0) / (s1 - s0)
    return None


def read_currents(path):
    """Steps, real electrons and V_S1 - V_S2 of currents.csv."""
    steps, electrons, drive = [], [], []
    with open(path) as f:
        header = None
        for line in f:
            if line.startswith("#"):
                continue
            cells = line.strip().split(",")
            if header is None:
                header = cells
                continue
            if len(cells) != len(header):
                continue  # a row being written
            row = dict(zip(header, cells))
            steps.append(int(row["step"]))
            electrons.append(float(row["electrons_real"]))
            drive.append(float(row["V_S1_V"]) - float(row["V_S2_V"]))
    return steps, electrons, drive


def phase_of_steps(steps, electrons, drive, dense, avalanche):
    """The phase at each row of currents.csv."""
    phases = []
    dense_in_pulse = False
    sign = 0
    for n_e, v in zip(electrons, drive):
        s = (v > 0) - (v < 0)
        if s != 0 and sign != 0 and s != sign:
            dense_in_pulse = False  # a new pulse
        if s != 0:
            sign = s
        if n_e >= dense:
            dense_in_pulse = True
            phases.append("dense")
        elif dense_in_pulse:
            phases.append("afterglow")
        elif n_e >= avalanche:
            phases.append("avalanche")
        else:
            phases.append("quiet")
    return phases


def budget(blocks, steps, phases, progress=None):
    """Per phase: steps, processor seconds by part, and wall seconds where the
    progress lines cover the interval."""
    table = {p: dict(steps=0, wall=0.0, **{part: 0.0 for part in PARTS}) for p in PHASES}
    row = 0
    for (s0, tot0, f0, i0, e0), (s1, tot1, f1, i1, e1) in zip(blocks, blocks[1:]):
        while row + 1 < len(steps) and steps[row + 1] <= s0:
            row += 1
        phase = phases[row] if steps and steps[row] <= s0 else "quiet"
        t = table[phase]
        t["steps"] += s1 - s0
        t["field"] += f1 - f0
        t["ions"] += i1 - i0
        t["electrons"] += e1 - e0
        t["other"] += (tot1 - tot0) - (f1 - f0) - (i1 - i0) - (e1 - e0)
        if progress:
            w0, w1 = wall_at(progress, s0), wall_at(progress, s1)
            if w0 is not None and w1 is not None:
                t["wall"] += w1 - w0
    return table


def format_table(table, with_wall=False):
    wall_head, wall_rule = (" wall s | wall s per simulated us |", "---|---|") if with_wall else ("", "")
    lines = ["| phase | steps | simulated us | processor s | s per simulated us | field | ions | electrons | other |" +
             wall_head,
             "|---|---|---|---|---|---|---|---|---|" + wall_rule]
    for p in PHASES:
        t = table[p]
        total = sum(t[part] for part in PARTS)
        us = t["steps"] * STEP_TIME_US
        per_us = f"{total / us:.0f}" if us > 0 else ""
        wall = ""
        if with_wall:
            wall = f" {t['wall']:.0f} | " + (f"{t['wall'] / us:.0f} |" if us > 0 else " |")
        lines.append(f"| {p} | {t['steps']} | {us:.3f} | {total:.1f} | {per_us} | " +
                     " | ".join(f"{t[part]:.1f}" for part in PARTS) + " |" + wall)
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("run", help="the run's folder (console.txt, currents.csv)")
    parser.add_argument("--dense", type=float, default=1e5, help="real electrons of a dense plasma")
    parser.add_argument("--avalanche", type=float, default=100.0, help="real electrons of an avalanche")
    parser.add_argument("--progress", help="the run's standard error, with its plain progress lines")
    args = parser.parse_args(argv)
    console = os.path.join(args.run, "console.txt")
    currents = os.path.join(args.run, "currents.csv")
    for path in (console, currents):
        if not os.path.isfile(path):
            print(f"phase_budget: no {os.path.basename(path)} in {args.run}")
            return 1
    blocks = read_console(console)
    if len(blocks) < 2:
        print(f"phase_budget: {console} has fewer than two diagnostics blocks (a run with --quiet has none)")
        return 1
    progress = None
    if args.progress:
        if not os.path.isfile(args.progress):
            print(f"phase_budget: no file {args.progress}")
            return 1
        progress = read_progress(args.progress)
        if len(progress) < 2:
            print(f"phase_budget: {args.progress} has fewer than two progress lines with their wall time "
                  "(run with --progress-every and keep standard error)")
            return 1
    steps, electrons, drive = read_currents(currents)
    table = budget(blocks, steps, phase_of_steps(steps, electrons, drive, args.dense, args.avalanche), progress)
    print(format_table(table, with_wall=progress is not None))
    return 0


if __name__ == "__main__":
    sys.exit(main())
