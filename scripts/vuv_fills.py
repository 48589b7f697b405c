#!/usr/bin/env python3
"""The VUV light of one fired pulse in runs of different fills, side by side.

    vuv_fills.py RUN_FOLDER [RUN_FOLDER ...] [--pulse 2] [--figure FILE] [--so-far]

Each folder is a finished --vuv run (vuv.csv, vuv_pulses.csv, currents.csv and,
if the case has one, cell.toml). For the chosen pulse it prints the xenon
fraction, the peak voltage, E_drive, the share of it that went into Xe
excitation, the VUV efficiency (VUV energy on the phosphor over E_drive), the
173 nm over 147 nm photons, the peak node densities of Xe(1s5) and Xe(1s4),
and their decay times in the afterglow: exponential fits of the atoms held in
each state from the time the discharge current has fallen below a hundredth
of its peak to the end of the pulse (the last 5 % of the pulse left out, as
the next pulse's ramp starts there). With --figure it draws the VUV power of
each run against time and the atoms held in the two states.

With --so-far, a run whose pulse has not ended yet is read to its last row
of vuv.csv instead: E_drive from currents.csv (the conduction current times
the voltage of each electrode, from the pulse's start), the light and the
peak densities from vuv.csv, and the atoms and excimers still held then; its
figures are those of the pulse so far, marked with "(so far)".
"""

import argparse
import csv
import math
import os
import re
import sys

BUILT_IN_XENON = 0.14
PHOTON_EV = {"147": 8.44, "150": 8.3, "173": 7.2}
ROW_SECONDS = 1e-9  # vuv.csv and currents.csv: a row every 1 ns


def read_table(path):
    """The rows of a pdpcell CSV file (one comment line, then the header) as
    dicts of floats."""
    with open(path) as f:
        lines = [line for line in f if not line.startswith("#")]
    rows = []
    for row in csv.DictReader(lines):
        rows.append({k: float(v) if v not in ("", None) else math.nan for k, v in row.items()})
    return rows


def xenon_fraction(folder):
    """The case's xenon fraction: its cell.toml's, else the built-in fill's."""
    path = os.path.join(folder, "cell.toml")
    if os.path.exists(path):
        section = ""
        with open(path) as f:
            for line in f:
                line = line.split("#", 1)[0].strip()
                m = re.match(r"\[(.+)\]", line)
                if m:
                    section = m.group(1).strip()
                    continue
                m = re.match(r"xenon_fraction\s*=\s*([0-9.eE+-]+)", line)
                if m and section == "fill":
                    return float(m.group(1))
    return BUILT_IN_XENON


def decay_time(times, values):
    """Least-squares e-folding time (us) of the positive values; nan if there
    are fewer than three or they do not fall."""
    pairs = [(t, math.log(v)) for t, v in zip(times, values) if v > 0]
    if len(pairs) < 3:
        return math.nan
    n = len(pairs)
    mt = sum(t for t, _ in pairs) / n
    ml = sum(l for _, l in pairs) / n
    stt = sum((t - mt) ** 2 for t, _ in pairs)
    if stt == 0:
        return math.nan
    slope = sum((t - mt) * (l - ml) for t, l in pairs) / stt
    return -1.0 / slope if slope < 0 else math.nan


def afterglow_window(currents, t_start, t_end):
    """From when the discharge current has fallen below 1 % of its peak within
    the pulse to 95 % of the pulse."""
    inside = [r for r in currents if t_start <= r["t_us"] <= t_end]
    if not inside:
        return None
    conduction = [abs(r["Icond_S1_uA"]) + abs(r["Icond_S2_uA"]) + abs(r["Icond_A_uA"]) for r in inside]
    peak_at = max(range(len(inside)), key=lambda k: conduction[k])
    peak = conduction[peak_at]
    if peak <= 0:
        return None
    for k in range(peak_at, len(inside)):
        if conduction[k] < 0.01 * peak:
            begin = inside[k]["t_us"]
            end = t_start + 0.95 * (t_end - t_start)
            return (begin, end) if end > begin else None
    return None


def pulse_so_far(series, currents, pulse_index):
    """The figures of a pulse that has not ended: from its start (the
    pulse_index-1'th reversal of V_S1 - V_S2) to the last row of vuv.csv."""
    starts = []
    sign = 0
    for r in currents:
        v = r["V_S1_V"] - r["V_S2_V"]
        s = (v > 0) - (v < 0)
        if s != 0 and sign != 0 and s != sign:
            starts.append(r["t_us"])
        if s != 0:
            sign = s
    t_start = ([0.0] + starts)[pulse_index - 1] if pulse_index - 1 <= len(starts) else None
    if t_start is None or not series:
        return None
    t_end = series[-1]["t_us"]
    drive = sum((r["V_S1_V"] * r["Icond_S1_uA"] + r["V_S2_V"] * r["Icond_S2_uA"] + r["V_A_V"] * r["Icond_A_uA"]) *
                1e-6 * ROW_SECONDS for r in currents if t_start < r["t_us"] <= t_end)
    rows = [r for r in series if t_start < r["t_us"] <= t_end]
    energy = {line: sum(r[f"P{line}_phosphor_W"] for r in rows) * ROW_SECONDS for line in PHOTON_EV}
    photons = {line: sum(r[f"P{line}_phosphor_W"] + r[f"P{line}_front_W"] for r in rows) * ROW_SECONDS /
               (PHOTON_EV[line] * 1.602176634e-19) for line in PHOTON_EV}
    return {"t_start_us": t_start, "t_end_us": t_end, "E_drive_nJ": drive * 1e9, "Xe_excitation_share": math.nan,
            "VUV_efficiency": sum(energy.values()) / drive if drive > 0 else math.nan,
            "ratio_173_147": photons["173"] / photons["147"] if photons["147"] > 0 else math.nan,
            "peak_1s5_cm3": max(r["peak_1s5_cm3"] for r in rows), "peak_1s4_cm3": max(r["peak_1s4_cm3"] for r in rows),
            "held": rows[-1]["N_1s5"] + rows[-1]["N_1s4"] + rows[-1]["N_Xe_higher"] + rows[-1]["N_excimers"]}


def summarize(folder, pulse_index, so_far=False):
    pulses = read_table(os.path.join(folder, "vuv_pulses.csv"))
    matching = [p for p in pulses if int(p["pulse"]) == pulse_index]
    series = read_table(os.path.join(folder, "vuv.csv"))
    currents = read_table(os.path.join(folder, "currents.csv"))
    if not matching and so_far:
        matching = [pulse_so_far(series, currents, pulse_index)]
    if not matching or matching[0] is None:
        raise SystemExit(f"{folder}: vuv_pulses.csv has no pulse {pulse_index} (the run may have stopped before it ended)")
    pulse = matching[0]
    t0, t1 = pulse["t_start_us"], pulse["t_end_us"]
    peak_voltage = max(max(abs(r["V_S1_V"] - r["V_S2_V"]) for r in currents if t0 <= r["t_us"] <= t1), 0.0)
    window = afterglow_window(currents, t0, t1)
    tau = {"1s5": math.nan, "1s4": math.nan}
    if window:
        rows = [r for r in series if window[0] <= r["t_us"] <= window[1]]
        tau = {state: decay_time([r["t_us"] for r in rows], [r["N_" + state] for r in rows]) for state in tau}
    return {
        "folder": folder,
        "xenon": xenon_fraction(folder),
        "voltage": peak_voltage,
        "E_drive_nJ": pulse["E_drive_nJ"],
        "excitation_share": pulse["Xe_excitation_share"],
        "efficiency": pulse["VUV_efficiency"],
        "ratio_173_147": pulse["ratio_173_147"],
        "peak_1s5": pulse["peak_1s5_cm3"],
        "peak_1s4": pulse["peak_1s4_cm3"],
        "tau_1s5_us": tau["1s5"],
        "tau_1s4_us": tau["1s4"],
        "window": window,
        "series": series,
        "so_far": "held" in pulse,
        "held": pulse.get("held", math.nan),
        "t_end_us": t1,
    }


def print_table(results, out=None):
    out = out or sys.stdout
    out.write("| Xe | peak V | E_drive nJ | into Xe excitation | VUV efficiency | 173/147 | peak 1s5 cm^-3 | "
              "peak 1s4 cm^-3 | tau 1s5 us | tau 1s4 us |\n")
    out.write("|---|---|---|---|---|---|---|---|---|---|\n")
    for r in results:
        mark = f" (so far: to {r['t_end_us']:.3f} us, {r['held']:.3g} still held)" if r["so_far"] else ""
        out.write(f"| {100 * r['xenon']:.0f} %{mark} | {r['voltage']:.0f} | {r['E_drive_nJ']:.3g} | "
                  f"{r['excitation_share']:.3f} | {r['efficiency']:.4f} | {r['ratio_173_147']:.3g} | "
                  f"{r['peak_1s5']:.3g} | {r['peak_1s4']:.3g} | {r['tau_1s5_us']:.3g} | {r['tau_1s4_us']:.3g} |\n")


def draw(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, (power, held) = plt.subplots(2, 1, figsize=(8, 7), sharex=True)
    for r in results:
        label = f"{100 * r['xenon']:.0f} % Xe, {r['voltage']:.0f} V"
        t = [row["t_us"] for row in r["series"]]
        total = [sum(row[f"P{line}_{side}_W"] for line in ("147", "150", "173") for side in ("phosphor", "front"))
                 for row in r["series"]]
        line, = power.semilogy(t, [max(p, 1e-12) for p in total], label=label)
        held.semilogy(t, [max(row["N_1s5"], 1.0) for row in r["series"]], color=line.get_color(), label=f"1s5, {label}")
        held.semilogy(t, [max(row["N_1s4"], 1.0) for row in r["series"]], color=line.get_color(), linestyle="--",
                      label=f"1s4, {label}")
    power.set_ylabel("VUV power, all lines (W)")
    power.set_ylim(bottom=1e-6)
    power.legend(fontsize=9)
    power.set_title("VUV light of the fired pulse by xenon fraction", fontsize=11)
    held.set_ylabel("Xe atoms held in the state")
    held.set_xlabel("t (us)")
    held.set_ylim(bottom=1e3)
    held.legend(fontsize=8, ncol=2)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folders", nargs="+")
    parser.add_argument("--pulse", type=int, default=2)
    parser.add_argument("--figure")
    parser.add_argument("--so-far", action="store_true", help="read a pulse that has not ended to the last row")
    args = parser.parse_args(argv)
    results = sorted((summarize(f, args.pulse, args.so_far) for f in args.folders), key=lambda r: r["xenon"])
    print_table(results)
    if args.figure:
        draw(results, args.figure)


if __name__ == "__main__":
    main()
