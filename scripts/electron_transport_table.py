#!/usr/bin/env python3
"""Builds the electron fluid's transport and rate tables from the flights.

Runs `pdpcell-swarm E/N --moments` over a ladder of reduced fields and writes
the rows, ordered by mean energy, as a C++ include file (the built-in table,
src/electrons/electron_transport_builtin.inc) or, with --text, as a plain
table for another fill. Every coefficient is per gas density N, so a table
holds for any density of the fill's composition; another Xe fraction needs
its own table (--cell the case's cell.toml).

    python3 scripts/electron_transport_table.py --binary build/pdpcell-swarm
"""
import argparse
import os
import subprocess
import sys

COLUMNS = ["mean_energy", "mobility_N", "energy_mob_N", "diffusion_N", "energy_diff_N",
           "loss_per_N", "births_per_N"] + ["rate_%02d" % p for p in range(16)]


def ladder(count, low, high):
    return [low * (high / low) ** (n / (count - 1)) for n in range(count)]


def relax_ns(reduced_field):
    # Below the inelastic thresholds only elastic recoil cools the electrons
    # (some 70 ns at 1 Td, where the Xe Ramsauer minimum keeps the collision
    # frequency low); the swarm tool warns when that was too short.
    if reduced_field < 3:
        return 200.0
    if reduced_field < 6:
        return 100.0
    if reduced_field < 15:
        return 40.0
    if reduced_field < 40:
        return 15.0
    return 5.0


def run_swarm(binary, reduced_field, electrons, seed, cell, keep):
    # Between 2 and 15 Td the mean energy hardly rises (3.4 to 4.3 eV, the Xe
    # Ramsauer minimum), so its noise matters most there.
    sample = 10.0 if reduced_field < 15 else 5.0
    if reduced_field < 6:
        electrons = min(electrons, 250)
    elif reduced_field < 20:
        electrons = 2 * electrons
    command = [binary, "%.10g" % reduced_field, "--moments", "--electrons", str(electrons),
               "--relax", "%g" % relax_ns(reduced_field), "--sample", "%g" % sample,
               "--seed", str(seed[0]), str(seed[1])]
    if cell:
        command += ["--cell", cell]
    saved = os.path.join(keep, "swarm_%.6f.txt" % reduced_field) if keep else None
    if saved and os.path.exists(saved):
        out = open(saved).read()
    else:
        out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
        if saved:
            open(saved, "w").write(out)
    if "warning" in out:
        # The tool's trend test also fires on noise now and then; say so and keep the row.
        print("warning at %g Td: the mean energy still drifted over the sampling" % reduced_field)
    values = {}
    for line in out.splitlines():
        words = line.split()
        if words and words[0] == "moment":
            values[words[1]] = float(words[2])
        if line.strip().startswith("pdpcell-swarm:"):
            header = line.strip()
    return [values[c] for c in COLUMNS], header


def write_include(path, rows, header, command):
    with open(path, "w") as f:
        f.write("// Made by: %s\n" % command)
        f.write("// %s\n" % header.split(", E/N")[0])
        f.write("// Rows by mean energy: E/N (Td), then %s.\n" % ", ".join(COLUMNS))
        for reduced_field, values in rows:
            numbers = ["%.8e" % v for v in values]
            f.write("{%.6e, %s, {%s, {%s}}},\n" % (reduced_field, numbers[0], ", ".join(numbers[1:7]),
                                                   ", ".join(numbers[7:])))


def write_text(path, rows, header, command):
    with open(path, "w") as f:
        f.write("# %s\n# %s\n# E/N_Td %s\n" % (command, header.split(", E/N")[0], " ".join(COLUMNS)))
        for reduced_field, values in rows:
            f.write("%.6e %s\n" % (reduced_field, " ".join("%.8e" % v for v in values)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default="build/pdpcell-swarm")
    parser.add_argument("--output", default="src/electrons/electron_transport_builtin.inc")
    parser.add_argument("--text", action="store_true", help="a plain table instead of the include file")
    parser.add_argument("--cell", help="the fill of this cell file")
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--low", type=float, default=2.0, help="Td")
    parser.add_argument("--high", type=float, default=1000.0, help="Td")
    parser.add_argument("--electrons", type=int, default=500)
    parser.add_argument("--seed", type=int, nargs=2, default=[2101, 550])
    parser.add_argument("--keep", help="folder that keeps each run's output (and reuses it)")
    args = parser.parse_args()

    rows = []
    header = ""
    for reduced_field in ladder(args.count, args.low, args.high):
        values, header = run_swarm(args.binary, reduced_field, args.electrons, args.seed, args.cell, args.keep)
        rows.append((reduced_field, values))
        print("%9.3f Td  %7.3f eV" % (reduced_field, values[0]), flush=True)
    # The fluid looks its coefficients up by mean energy, which must rise with
    # E/N; where the flights' noise exceeds the rise (the flat stretch at low
    # E/N), a row that does not rise above the last kept one is dropped.
    kept = []
    for reduced_field, values in rows:
        if kept and values[0] <= kept[-1][1][0]:
            print("dropped %.3f Td: %.4f eV is not above %.4f eV" % (reduced_field, values[0], kept[-1][1][0]))
            continue
        kept.append((reduced_field, values))
    rows = kept
    command = " ".join(["python3", "scripts/electron_transport_table.py"] + sys.argv[1:])
    (write_text if args.text else write_include)(args.output, rows, header, command)


if __name__ == "__main__":
    main()
