#!/usr/bin/env python3
"""Swarm checks of the drift-diffusion steps against the kinetic flights.

Runs build/pdpcell-swarm at each E/N twice, with the flights alone and with
--drift-diffusion (both in the parallel mode, with the cell's 0.1 ns time
step as the pass), and prints for each figure the two estimates, their
difference in per cent and in combined standard errors:
mean energy, bulk drift velocity, longitudinal and transverse diffusion,
Xe excitation and ionization rate coefficients, and the share of the
electrons below 8.31 eV at a pass's start that are above it at its end
(the climb over the threshold).

  scripts/drift_diffusion_swarm.py [--fields 1 3 10 30 100] [--relax NS]
      [--sample NS] [--electrons N] [--binary B] [--check PERCENT]
      [-- EXTRA...]

With --check it exits with status 1 when a figure differs by more than
PERCENT and by more than two combined standard errors.

EXTRA goes to the drift-diffusion runs only (e.g. --dd-field 60 to lift the
field limit, --dd-margin 0.5 to move the energy limit).
"""
import argparse
import math
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIGURES = [
    ("mean energy", "mean energy", "eV"),
    ("bulk drift velocity (displacement)", "drift", "cm/s"),
    ("longitudinal diffusion D_L", "D_L", "cm^2/s"),
    ("transverse diffusion D_T", "D_T", "cm^2/s"),
    ("Xe excitation (counted)", "Xe excitation", "cm^3/s"),
    ("Xe ionization (counted)", "Xe ionization", "cm^3/s"),
    ("climbs over 8.31 eV per pass", "climb share", "per pass"),
]


def parse(output):
    values = {}
    for label, short, _ in FIGURES:
        m = re.search(re.escape(label) + r"\s+(\S+)\s+\+-\s+(\S+)", output)
        if not m:
            raise RuntimeError("pdpcell-swarm printed no '%s'" % label)
        values[short] = (float(m.group(1)), float(m.group(2)))
    m = re.search(r"(\d+) free flights", output)
    values["flights"] = int(m.group(1)) if m else 0
    return values


def swarm(binary, field, args, extra):
    command = [binary, str(field), "--parallel", "--interval", "0.1"] + args + extra
    done = subprocess.run(command, capture_output=True, text=True, check=True)
    return parse(done.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--fields", type=float, nargs="+", default=[1, 3, 10, 30, 100])
    parser.add_argument("--relax", type=float, default=300, help="ns (energy relaxes slowly at low E/N)")
    parser.add_argument("--sample", type=float, default=100, help="ns")
    parser.add_argument("--electrons", type=int, default=1000)
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "pdpcell-swarm"))
    parser.add_argument("--check", type=float, help="fail beyond this many per cent (and two standard errors)")
    parser.add_argument("extra", nargs="*", help="options for the drift-diffusion runs")
    options = parser.parse_args()
    args = ["--relax", str(options.relax), "--sample", str(options.sample), "--electrons", str(options.electrons)]
    worst = 0.0
    for field in options.fields:
        kinetic = swarm(options.binary, field, args, [])
        hybrid = swarm(options.binary, field, args, ["--drift-diffusion"] + options.extra)
        print("E/N = %g Td   free flights: %d kinetic, %d with drift-diffusion steps (%.2f times fewer)"
              % (field, kinetic["flights"], hybrid["flights"],
                 kinetic["flights"] / max(hybrid["flights"], 1)))
        for _, short, unit in FIGURES:
            (a, sa), (b, sb) = kinetic[short], hybrid[short]
            combined = math.hypot(sa, sb)
            sigmas = (b - a) / combined if combined > 0 else 0.0
            percent = 100 * (b - a) / a if a != 0 else 0.0
            if a != 0 and abs(sigmas) > 2:
                worst = max(worst, abs(percent))
            print("  %-15s %12.5e +- %8.2e  %12.5e +- %8.2e  %+7.2f %%  %+6.2f sigma  %s"
                  % (short, a, sa, b, sb, percent, sigmas, unit))
    print("largest difference beyond two combined standard errors: %.2f %%" % worst)
    if options.check is not None and worst > options.check:
        print("that is more than --check %g %%" % options.check)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
