#!/usr/bin/env python3
"""Where a run's processor time went, by phase of the discharge cycle.

    phase_budget.py RUN_FOLDER [--dense 1e5] [--avalanche 100]

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


def budget(blocks, steps, phases):
    """Per phase: steps and processor seconds by part."""
    table = {p: dict(steps=0, **{part: 0.0 for part in PARTS}) for p in PHASES}
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
    return table


def format_table(table):
    lines = ["| phase | steps | simulated us | processor s | s per simulated us | field | ions | electrons | other |",
             "|---|---|---|---|---|---|---|---|---|"]
    for p in PHASES:
        t = table[p]
        total = sum(t[part] for part in PARTS)
        us = t["steps"] * STEP_TIME_US
        per_us = f"{total / us:.0f}" if us > 0 else ""
        lines.append(f"| {p} | {t['steps']} | {us:.3f} | {total:.1f} | {per_us} | " +
                     " | ".join(f"{t[part]:.1f}" for part in PARTS) + " |")
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("run", help="the run's folder (console.txt, currents.csv)")
    parser.add_argument("--dense", type=float, default=1e5, help="real electrons of a dense plasma")
    parser.add_argument("--avalanche", type=float, default=100.0, help="real electrons of an avalanche")
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
    steps, electrons, drive = read_currents(currents)
    table = budget(blocks, steps, phase_of_steps(steps, electrons, drive, args.dense, args.avalanche))
    print(format_table(table))
    return 0


if __name__ == "__main__":
    sys.exit(main())
