#!/usr/bin/env python3
"""Swarm transport of pure-gas fills, and its scaling with the pressure.

Runs build/pdpcell-swarm with a cell file for pure neon and pure xenon at
the built-in total density over a few E/N, then each gas at two pressures
(300 K) at the same E/N, and prints the drift velocity and the Townsend
coefficient alpha/N (ionization rate coefficient over drift velocity) with
their standard errors as Markdown tables; --figure draws the first table.

  scripts/swarm_fills.py [--fields 10 30 100 300] [--scaling-fields 100 300]
      [--electrons N] [--relax NS] [--sample NS] [--binary B] [--csv FILE]
      [--figure FILE] [--replot CSV...]

--replot prints the tables and draws the figure from the CSV files of earlier
runs (--csv) instead of running the swarms.

--relax and --sample are the times at the built-in density; at another
density they are scaled by the inverse density, so every run sees the same
number of collisions.
"""
import argparse
import csv
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
N0 = 1.143456217105263e19           # the built-in fill's density, cm^-3
K_B = 1.380649e-23                  # J/K
TORR = 133.322368                   # Pa
FILLS = {"Ne": 0.0, "Xe": 1.0}      # xenon fraction of each pure gas
PRESSURES = (200.0, 500.0)          # Torr, at 300 K, for the scaling check
FIGURES = {"drift": "drift velocity (flux)", "ion": "ionization rate coefficient"}
# Townsend's formula alpha/p = A exp(-B p / E), p reduced to 0 C, with the
# constants of Raizer, Gas Discharge Physics (Springer 1991), table 4.1, as
# remembered, not checked: (A in 1/(cm Torr), B in V/(cm Torr), the E/p range
# in V/(cm Torr) where it holds).
TOWNSEND = {"Ne": (4.0, 100.0, (100.0, 400.0)), "Xe": (26.0, 350.0, (200.0, 800.0))}
N_TORR_0C = 101325 / 760 / (K_B * 273.15) * 1e-6     # cm^-3 per Torr at 0 C


def townsend(gas, field_td):
    """alpha/N (cm^2) from Townsend's formula, and whether E/N lies in its range."""
    a, b, (low, high) = TOWNSEND[gas]
    e_over_p = field_td * 1e-17 * N_TORR_0C
    return a * 2.718281828459045 ** (-b / e_over_p) / N_TORR_0C, low <= e_over_p <= high


def density(pressure_torr, temperature_k=300.0):
    return pressure_torr * TORR / (K_B * temperature_k) * 1e-6


def swarm(binary, field, fill_text, density_cm3, args):
    with tempfile.NamedTemporaryFile("w", suffix=".toml", delete=False) as f:
        f.write(fill_text)
        path = f.name
    scale = N0 / density_cm3
    command = [binary, str(field), "--cell", path, "--electrons", str(args.electrons),
               "--relax", f"{args.relax * scale:g}", "--sample", f"{args.sample * scale:g}"]
    try:
        out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    finally:
        os.remove(path)
    row = {}
    for key, label in FIGURES.items():
        m = re.search(re.escape(label) + r"\s+(\S+)\s+\+-\s+(\S+)", out)
        if not m:
            sys.exit(f"pdpcell-swarm printed no '{label}':\n{out}")
        row[key], row[key + "_se"] = float(m.group(1)), float(m.group(2))
    # alpha/N and its error from the two relative errors (the blocks of both are the same samples,
    # so this overstates it a little)
    row["alpha_N"] = row["ion"] / row["drift"]
    rel = ((row["ion_se"] / row["ion"]) ** 2 + (row["drift_se"] / row["drift"]) ** 2) ** 0.5 if row["ion"] > 0 else 0
    row["alpha_N_se"] = row["alpha_N"] * rel
    row["warning"] = "drifts" if "still drifts" in out else ""
    return row


def fmt(value, error):
    return f"{value:.3g} ± {error:.1g}" if value else "0"


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--fields", type=float, nargs="+", default=[10, 30, 100, 300])
    p.add_argument("--scaling-fields", type=float, nargs="*", default=[100, 300])
    p.add_argument("--electrons", type=int, default=300)
    p.add_argument("--relax", type=float, default=3.0)
    p.add_argument("--sample", type=float, default=3.0)
    p.add_argument("--binary", default=os.path.join(ROOT, "build", "pdpcell-swarm"))
    p.add_argument("--csv")
    p.add_argument("--figure")
    p.add_argument("--replot", nargs="+")
    args = p.parse_args()

    rows = []
    for path in args.replot or []:
        with open(path, newline="") as f:
            for r in csv.DictReader(f):
                rows.append({k: (v if k in ("gas", "warning", "pressure") and not (k == "pressure" and v) else float(v))
                             for k, v in r.items()})
    if args.replot:
        # the pure-gas rows by gas and field, then the pressure pairs in their order
        rows.sort(key=lambda r: (r["pressure"] != "", list(FILLS).index(r["gas"]),
                                 r["field"] if r["pressure"] == "" else 0))
    for gas, x in FILLS.items() if not args.replot else ():
        for field in args.fields:
            r = swarm(args.binary, field, f"[fill]\nxenon_fraction = {x}\n", N0, args)
            rows.append(dict(r, gas=gas, field=field, pressure="", density=N0))
            print(f"{gas} {field:g} Td: drift {r['drift']:.4g} cm/s, alpha/N {r['alpha_N']:.4g} cm^2 {r['warning']}",
                  file=sys.stderr, flush=True)
    for gas, x in FILLS.items() if not args.replot else ():
        for field in args.scaling_fields:
            for torr in PRESSURES:
                r = swarm(args.binary, field, f"[fill]\nxenon_fraction = {x}\npressure_torr = {torr:g}\n"
                                              "temperature_k = 300\n", density(torr), args)
                rows.append(dict(r, gas=gas, field=field, pressure=torr, density=density(torr)))
                print(f"{gas} {field:g} Td {torr:g} Torr: drift {r['drift']:.4g}, alpha/N {r['alpha_N']:.4g}",
                      file=sys.stderr, flush=True)

    print(f"Pure gases at N = {N0:.6g} cm^-3:\n")
    print("| gas | E/N (Td) | drift velocity (cm/s) | alpha/N (cm^2) | Townsend's formula (cm^2) |")
    print("|---|---|---|---|---|")
    for r in rows:
        if r["pressure"] == "":
            ref, inside = townsend(r["gas"], r["field"])
            print(f"| {r['gas']} | {r['field']:g} | {fmt(r['drift'], r['drift_se'])} | "
                  f"{fmt(r['alpha_N'], r['alpha_N_se'])}" + (" (still relaxing: --relax)" if r["warning"] else "") +
                  (f" | {ref:.2g} |" if inside else " | outside its range |"))
    print("\nThe same E/N at two pressures (300 K):\n")
    print("| gas | E/N (Td) | p (Torr) | drift velocity (cm/s) | alpha/N (cm^2) | drift ratio | alpha/N ratio |")
    print("|---|---|---|---|---|---|---|")
    scaled = [r for r in rows if r["pressure"] != ""]
    for a, b in zip(scaled[0::2], scaled[1::2]):
        for r in (a, b):
            ratio = "" if r is a else f"| {b['drift'] / a['drift']:.3f} | " + (
                f"{b['alpha_N'] / a['alpha_N']:.3f} |" if a["alpha_N"] else "- |")
            print(f"| {r['gas']} | {r['field']:g} | {r['pressure']:g} | {fmt(r['drift'], r['drift_se'])} | "
                  f"{fmt(r['alpha_N'], r['alpha_N_se'])} " + (ratio or "| | |"))

    if args.csv:
        with open(args.csv, "w", newline="") as f:
            w = csv.DictWriter(f, ["gas", "field", "pressure", "density", "drift", "drift_se", "ion", "ion_se",
                                   "alpha_N", "alpha_N_se", "warning"], lineterminator="\n")
            w.writeheader()
            w.writerows(rows)
    if args.figure:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, (ax1, ax2) = plt.subplots(1, 2, figsize=(10, 4))
        for gas in FILLS:
            mine = [r for r in rows if r["gas"] == gas and r["pressure"] == ""]
            ax1.errorbar([r["field"] for r in mine], [r["drift"] for r in mine],
                         yerr=[r["drift_se"] for r in mine], fmt="o-", label=f"pure {gas}")
            mine = [r for r in mine if r["alpha_N"] > 0]
            line = ax2.errorbar([r["field"] for r in mine], [r["alpha_N"] for r in mine],
                                yerr=[r["alpha_N_se"] for r in mine], fmt="o-", label=f"pure {gas}")
            low, high = (v / (1e-17 * N_TORR_0C) for v in TOWNSEND[gas][2])
            span = [low * (high / low) ** (i / 40) for i in range(41)]
            ax2.plot(span, [townsend(gas, f)[0] for f in span], "--", color=line[0].get_color(),
                     label=f"{gas}: A exp(-Bp/E), its range")
            for torr, mark in zip(PRESSURES, ("v", "^")):
                mine = [r for r in rows if r["gas"] == gas and r["pressure"] == torr]
                ax1.plot([r["field"] for r in mine], [r["drift"] for r in mine], mark, mfc="none", ms=10,
                         label=f"{gas}, {torr:g} Torr")
                mine = [r for r in mine if r["alpha_N"] > 0]
                ax2.plot([r["field"] for r in mine], [r["alpha_N"] for r in mine], mark, mfc="none", ms=10,
                         label=f"{gas}, {torr:g} Torr")
        for ax, label in ((ax1, "drift velocity (cm/s)"), (ax2, "alpha/N (cm^2)")):
            ax.set_xscale("log")
            ax.set_yscale("log")
            ax.set_xlabel("E/N (Td)")
            ax.set_ylabel(label)
            ax.legend(fontsize=7)
        fig.suptitle("pdpcell-swarm: pure neon and pure xenon fills", fontsize=10)
        fig.tight_layout()
        fig.savefig(args.figure, dpi=90, metadata={"Software": None})


if __name__ == "__main__":
    main()
