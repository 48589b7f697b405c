"""The study's analyses as CSV tables and PNG plots in OUTPUT/report/."""
import math
import os
import sys
from collections import defaultdict

import numpy as np

from . import results, stats

FIRING_COLUMNS = ["state", "voltage_V", "runs", "fired", "probability", "ci_low", "ci_high"]
MARGIN_COLUMNS = ["state", "quantity", "value_V", "error_V", "method", "note"]
DELAY_COLUMNS = ["state", "voltage_V", "runs", "fired", "delay_mean_ns", "delay_sd_ns",
                 "formative_ns", "formative_err_ns", "statistical_ns", "statistical_err_ns",
                 "exg_mu_ns", "exg_mu_err_ns", "exg_sigma_ns", "exg_sigma_err_ns", "exg_tau_ns", "exg_tau_err_ns",
                 "note"]
TRANSFER_COLUMNS = ["state", "voltage_V", "pulse", "runs", "fired", "V_applied_V", "Vwall_start_V",
                    "Vwall_end_V", "Vwall_end_sd_V"]
SUSTAIN_COLUMNS = ["state", "voltage_V", "runs", "sustained", "fraction"]
FIGURE_COLUMNS = ["state", "voltage_V", "pulse", "quantity", "options", "runs", "mean", "sd", "diff_se"]
FIGURES = ["fired", "delay_ns", "Vwall_end_V"] + results.FIGURE_FIELDS


def _f(x):
    return None if x is None or (isinstance(x, float) and math.isnan(x)) else float(x)


def _by_run(pulses):
    out = defaultdict(dict)
    for p in pulses:
        out[p["run"]][int(p["pulse"])] = p
    return out


def firing(runs, pulses, analysis):
    """Per state and voltage: runs, fired in the chosen pulse, probability and its interval.
    A finished run with no row for that pulse did not fire in it."""
    k = int(analysis["pulse"])
    by_run = _by_run(pulses)
    groups = defaultdict(list)
    for r in runs:
        if r["status"] not in ("done", "stopped"):
            continue
        p = by_run.get(r["run"], {}).get(k)
        groups[(r["state"], float(r["voltage_V"]))].append(1 if p and int(p["fired"]) else 0)
    table = []
    for (state, v), outcomes in sorted(groups.items()):
        n, fired = len(outcomes), sum(outcomes)
        lo, hi = stats.wilson(fired, n, analysis["confidence"])
        table.append({"state": state, "voltage_V": v, "runs": n, "fired": fired, "probability": fired / n,
                      "ci_low": lo, "ci_high": hi})
    return table, groups


WHY_NO_FIT = {"none fired": "no run fired at any voltage",
              "all fired": "every run fired at every voltage: the curve lies below the voltages studied",
              "no maximum": "the firing fraction does not rise with the voltage: no logistic fit",
              "falling": "the firing fraction falls with the voltage: no logistic fit"}


def _firing_voltage_note(level, fit, outcomes):
    """Why the firing voltage at `level` is not given, or "". A logistic fit
    gives it only where the voltages studied straddle it; beyond them it
    would be an extrapolation of the curve's shape."""
    name = f"V{level:.0%}".rstrip("%")
    if fit["method"] in WHY_NO_FIT:
        return f"no {name}: {WHY_NO_FIT[fit['method']]}"
    if fit["method"] == "bracket":
        return "" if level == 0.5 else (f"no {name}: no voltage has both outcomes, so the curve's width is "
                                        "unknown (V50 is the middle of the gap)")
    rates = {v: (sum(o), len(o)) for v, o in outcomes.items()}
    top = max(rates, key=lambda v: (rates[v][0] / rates[v][1], -v))
    low = min(rates, key=lambda v: (rates[v][0] / rates[v][1], v))
    if rates[top][0] < level * rates[top][1]:
        return (f"no {name}: no voltage fired in {level * 100:.0f} % of its runs (at most {rates[top][0]} of "
                f"{rates[top][1]}, at {top:g} V); it lies above the voltages studied")
    if rates[low][0] > level * rates[low][1]:
        return (f"no {name}: every voltage fired in more than {level * 100:.0f} % of its runs (at least "
                f"{rates[low][0]} of {rates[low][1]}, at {low:g} V); it lies below the voltages studied")
    return ""


def margins(groups, sustain_rows):
    rows = []
    for state in sorted({s for s, _ in groups}):
        vs, ys, outcomes = [], [], {}
        for (s, v), o in groups.items():
            if s == state:
                vs += [v] * len(o)
                ys += o
                outcomes[v] = o
        fit = stats.fit_firing_curve(vs, ys)
        for level, key in ((0.5, "V50"), (0.9, "V90")):
            note = _firing_voltage_note(level, fit, outcomes)
            # the fitted curve goes with the row for the plot, whatever is withheld
            rows.append({"state": state, "quantity": f"firing voltage {level:.0%}".replace("%", " %"),
                         "value_V": None if note else fit[key], "error_V": None if note else fit[key + "_err"],
                         "method": fit["method"], "note": note, "curve": (fit["V50"], fit["width"])})
    for state in sorted({r["state"] for r in sustain_rows}):
        mine = sorted((r for r in sustain_rows if r["state"] == state), key=lambda r: r["voltage_V"])
        lowest = None
        for r in reversed(mine):          # from the top: the lowest voltage above which every one sustains
            if r["fraction"] >= 0.5:
                lowest = r["voltage_V"]
            else:
                break
        rows.append({"state": state, "quantity": "minimum sustain voltage", "value_V": lowest, "error_V": None,
                     "method": "lowest voltage from which up at least half the runs fire in every pulse"
                     if lowest is not None else "no voltage sustains"})
    return rows


def delays(runs, pulses, analysis):
    k = int(analysis["pulse"])
    by_run = _by_run(pulses)
    groups = defaultdict(lambda: ([], []))
    for r in runs:
        if r["status"] not in ("done", "stopped"):
            continue
        p = by_run.get(r["run"], {}).get(k)
        d, e = groups[(r["state"], float(r["voltage_V"]))]
        if p and int(p["fired"]) and p["delay_ns"] not in (None, ""):
            d.append(float(p["delay_ns"]))
        elif p and p["t_end_us"] not in (None, ""):
            e.append((float(p["t_end_us"]) - float(p["t_start_us"])) * 1e3)
    table = []
    for (state, v), (d, e) in sorted(groups.items()):
        row = {"state": state, "voltage_V": v, "runs": len(d) + len(e) if analysis["censor"] else len(d),
               "fired": len(d), "delay_mean_ns": float(np.mean(d)) if d else None,
               "delay_sd_ns": float(np.std(d, ddof=1)) if len(d) > 1 else None}
        se = stats.fit_shifted_exponential(d, e if analysis["censor"] else ())
        notes = []
        if se:
            row.update(formative_ns=se["t_f"], formative_err_ns=se["t_f_err"], statistical_ns=se["t_s"],
                       statistical_err_ns=se["t_s_err"])
        else:
            notes.append(f"no shifted-exponential fit: {len(d)} fired, it needs 2")
        eg = stats.fit_exgauss(d)
        if eg:
            row.update(exg_mu_ns=eg["mu"], exg_mu_err_ns=eg["mu_err"], exg_sigma_ns=eg["sigma"],
                       exg_sigma_err_ns=eg["sigma_err"], exg_tau_ns=eg["tau"], exg_tau_err_ns=eg["tau_err"])
        elif len(d) < stats.MIN_EXGAUSS:
            notes.append(f"no exponential-Gaussian fit: {len(d)} delays, it needs {stats.MIN_EXGAUSS}")
        else:
            notes.append("no exponential-Gaussian fit: no proper maximum (its Gaussian or exponential part "
                         "vanishes)")
        row["note"] = "; ".join(notes)
        table.append(row)
    return table, groups


def transfer(pulses):
    """Per state, voltage and pulse, over the complete pulses of runs with two
    or more of them (a cell in operation): how many there are and fired, and
    of those that fired the applied voltage and the wall voltage before and
    after (mean, and spread of the after). An unfired pulse moves no charge;
    it has no place on the transfer curve."""
    complete = defaultdict(int)
    for p in pulses:
        if int(p["complete"]) and p["Vwall_end_V"] not in (None, ""):
            complete[p["run"]] += 1
    groups = defaultdict(list)
    for p in pulses:
        if complete[p["run"]] >= 2 and int(p["complete"]) and p["Vwall_end_V"] not in (None, ""):
            groups[(p["state"], float(p["voltage_V"]), int(p["pulse"]))].append(p)
    table = []
    for (state, v, k), ps in sorted(groups.items()):
        fired = [p for p in ps if int(p["fired"])]
        row = {"state": state, "voltage_V": v, "pulse": k, "runs": len(ps), "fired": len(fired)}
        if fired:
            ends = [float(p["Vwall_end_V"]) for p in fired]
            row.update(V_applied_V=float(np.mean([float(p["V_applied_V"]) for p in fired])),
                       Vwall_start_V=float(np.mean([float(p["Vwall_start_V"]) for p in fired])),
                       Vwall_end_V=float(np.mean(ends)),
                       Vwall_end_sd_V=float(np.std(ends, ddof=1)) if len(ends) > 1 else None)
        table.append(row)
    return table


def sustain(runs, pulses):
    """Per state and voltage, among runs with at least two complete pulses: how
    many fired in every one of them."""
    by_run = _by_run(pulses)
    groups = defaultdict(list)
    for r in runs:
        ps = [p for p in by_run.get(r["run"], {}).values() if int(p["complete"])]
        if r["status"] in ("done", "stopped") and len(ps) >= 2:
            groups[(r["state"], float(r["voltage_V"]))].append(all(int(p["fired"]) for p in ps))
    return [{"state": s, "voltage_V": v, "runs": len(o), "sustained": sum(o), "fraction": sum(o) / len(o)}
            for (s, v), o in sorted(groups.items())]


def figures(pulses):
    """Per state, voltage, pulse and option set: mean and spread of each
    figure of the complete pulses, and (diff_se) the difference of its mean
    from the first option set's in standard errors of that difference, the
    test of one model against another."""
    order = list(dict.fromkeys(p["options"] for p in pulses))
    groups = defaultdict(lambda: defaultdict(list))
    for p in pulses:
        if not int(p["complete"]):
            continue
        for q in FIGURES:
            if p.get(q) not in (None, ""):
                groups[(p["state"], float(p["voltage_V"]), int(p["pulse"]), q)][p["options"]].append(float(p[q]))
    table = []
    for (state, v, k, q), sets in sorted(groups.items(), key=lambda g: g[0][:3] + (FIGURES.index(g[0][3]),)):
        first = sets.get(order[0], [])
        for options in sorted(sets, key=order.index):
            x = sets[options]
            row = {"state": state, "voltage_V": v, "pulse": k, "quantity": q, "options": options, "runs": len(x),
                   "mean": float(np.mean(x)), "sd": float(np.std(x, ddof=1)) if len(x) > 1 else None}
            if options != order[0] and len(x) > 1 and len(first) > 1:
                se = math.sqrt(np.var(x, ddof=1) / len(x) + np.var(first, ddof=1) / len(first))
                row["diff_se"] = (np.mean(x) - np.mean(first)) / se if se > 0 else None
            table.append(row)
    return table


def notes(margin_table, delay_table, transfer_table):
    """What the report could not give, and why: one line each."""
    lines = [f"{r['state']}: {r['note']}" for r in margin_table if r.get("note")]
    lines += [f"{r['state']}, {r['voltage_V']:g} V: {r['note']}" for r in delay_table if r.get("note")]
    if not any(r["fired"] for r in transfer_table):
        lines.append("no transfer curve: " + ("no run has two complete pulses with wall voltages (pulses.csv)"
                                              if not transfer_table else "no pulse of a multi-pulse run fired"))
    return lines


CELL_MARK = " | "    # between the wall state and the cell values in a group's name


def _group_name(state, cell):
    if not cell:
        return state
    return state + CELL_MARK + ", ".join(f"{k}={v:g}" for k, v in cell.items())


def _split_groups(table, keys, cells):
    """The analyses group by a name that joins the wall state and the cell
    values (so each cell is a state of its own); in the tables they are
    columns again."""
    for row in table:
        if "state" in row:
            name = row["state"]
            row["state"] = name.split(CELL_MARK)[0]
            row.update(cells[name])


def write(study, runs, pulses, out=sys.stdout):
    """All tables and plots; returns the list of files written. What it could
    not fit goes to `out` as well as into the tables."""
    folder = os.path.join(study.output, "report")
    os.makedirs(folder, exist_ok=True)
    a = study.analysis
    keys = study.cell_keys
    cells = {}          # group name -> its cell values
    if keys:
        of_run = {r.id: r.cell for r in study.runs}
        for row in runs + pulses:
            cell = of_run.get(row["run"], {})
            row["state"] = _group_name(row["state"], cell)
            cells[row["state"]] = cell
    fire_table, fire_groups = firing(runs, pulses, a)
    delay_table, delay_groups = delays(runs, pulses, a)
    transfer_table = transfer(pulses)
    sustain_table = sustain(runs, pulses)
    margin_table = margins(fire_groups, sustain_table)
    figure_table = figures(pulses)
    sources = {r["source"] for r in runs if r["source"]}
    said = notes(margin_table, delay_table, transfer_table)
    written = plot(folder, study, fire_table, margin_table, delay_table, delay_groups, transfer_table, sources)
    written += plot_figures(folder, study, figure_table, pulses)
    tables = (("firing.csv", FIRING_COLUMNS, fire_table), ("margins.csv", MARGIN_COLUMNS, margin_table),
              ("delays.csv", DELAY_COLUMNS, delay_table), ("transfer.csv", TRANSFER_COLUMNS, transfer_table),
              ("sustain.csv", SUSTAIN_COLUMNS, sustain_table), ("figures.csv", FIGURE_COLUMNS, figure_table))
    for name, cols, rows in tables:
        if keys:
            _split_groups(rows, keys, cells)
            cols = cols[:1] + keys + cols[1:]
        path = os.path.join(folder, name)
        results.write_csv(path, cols, rows)
        written.append(path)
    if keys:
        written += plot_cell(folder, study, margin_table)
    for line in said:
        print(f"report: {line}", file=out)
    return written


def plot_cell(folder, study, margin_table):
    """cell.png: the firing voltage at 50 % against the first cell value the
    study varies, one line per wall state and setting of the others."""
    rows = [r for r in margin_table if r["quantity"] == "firing voltage 50 %" and r["value_V"] is not None]
    if not rows:
        return []
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    first, rest = study.cell_keys[0], study.cell_keys[1:]
    lines = defaultdict(list)
    for r in rows:
        lines[(r["state"],) + tuple(r[k] for k in rest)].append(r)
    fig, ax = plt.subplots(figsize=(6, 4.2))
    for line in sorted(lines):
        mine = sorted(lines[line], key=lambda r: r[first])
        label = ", ".join([line[0]] + [f"{k} = {v:g}" for k, v in zip(rest, line[1:])])
        ax.errorbar([r[first] for r in mine], [r["value_V"] for r in mine], yerr=[r["error_V"] for r in mine],
                    fmt="o-", capsize=3, label=label)
    ax.set_xlabel(first)
    ax.set_ylabel("firing voltage V50 (V)")
    ax.set_title(f"study {study.name}: V50 and its error", fontsize=10)
    ax.legend(fontsize=7)
    fig.tight_layout()
    path = os.path.join(folder, "cell.png")
    fig.savefig(path, dpi=90, metadata={"Software": None})
    plt.close(fig)
    return [path]


def plot_figures(folder, study, table, pulses):
    """figures.png: for the analysis pulse, each figure per option set, every
    run a dot, the mean with its standard deviation; the first state and
    voltage only, where a study has several."""
    k = int(study.analysis["pulse"])
    rows = [r for r in table if r["pulse"] == k]
    if not rows:
        return []
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    state, v = rows[0]["state"], rows[0]["voltage_V"]
    rows = [r for r in rows if r["state"] == state and r["voltage_V"] == v]
    quantities = list(dict.fromkeys(r["quantity"] for r in rows))
    sets = list(dict.fromkeys(r["options"] for r in rows))
    cols = 4
    fig, axes = plt.subplots((len(quantities) + cols - 1) // cols, cols, figsize=(12, 2.6 * ((len(quantities) + 3) // 4)),
                             squeeze=False)
    for ax, q in zip(axes.flat, quantities):
        for i, options in enumerate(sets):
            x = [float(p[q]) for p in pulses if p["options"] == options and int(p["pulse"]) == k and
                 p["state"] == state and float(p["voltage_V"]) == v and int(p["complete"]) and p.get(q) not in (None, "")]
            if not x:
                continue
            ax.plot([i + 0.15] * len(x), x, ".", color="grey", alpha=0.7)
            ax.errorbar([i], [np.mean(x)], yerr=[np.std(x, ddof=1) if len(x) > 1 else 0], fmt="o", capsize=4)
        ax.set_title(q, fontsize=9)
        ax.set_xlim(-0.5, len(sets) - 0.5)
        ax.set_xticks(range(len(sets)))
        ax.set_xticklabels([o or "(base)" for o in sets], fontsize=7)
        ax.tick_params(axis="y", labelsize=7)
    for ax in list(axes.flat)[len(quantities):]:
        ax.axis("off")
    fig.suptitle(f"study {study.name}: pulse {k}, {state}, {v:g} V; runs (dots), mean and standard deviation",
                 fontsize=10)
    fig.tight_layout()
    path = os.path.join(folder, "figures.png")
    fig.savefig(path, dpi=90, metadata={"Software": None})
    plt.close(fig)
    return [path]


def plot(folder, study, fire_table, margin_table, delay_table, delay_groups, transfer_table, sources):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    plt.rcParams["svg.hashsalt"] = "pdpcell"
    meta = {"Software": None}
    written = []
    states = sorted({r["state"] for r in fire_table})
    fig, (ax1, ax2) = plt.subplots(1, 2, figsize=(11, 4.2))
    for state in states:
        rows = [r for r in fire_table if r["state"] == state]
        v = np.array([r["voltage_V"] for r in rows])
        p = np.array([r["probability"] for r in rows])
        err = np.array([[r["probability"] - r["ci_low"] for r in rows], [r["ci_high"] - r["probability"] for r in rows]])
        line = ax1.errorbar(v, p, yerr=err, fmt="o", capsize=3, label=f"{state} ({rows[0]['runs']} seeds)")
        fit = {m["quantity"]: m for m in margin_table if m["state"] == state}
        m50 = fit.get("firing voltage 50 %")
        if m50 and m50["method"] == "logistic":
            vv = np.linspace(v.min(), v.max(), 200)
            centre, width = m50["curve"]
            ax1.plot(vv, 1 / (1 + np.exp(-(vv - centre) / width)), color=line[0].get_color())
        text = []
        for name, style in (("50", ":"), ("90", "--")):
            m = fit.get(f"firing voltage {name} %")
            if m and m["value_V"] is not None:
                ax1.axvline(m["value_V"], ls=style, lw=0.8, color=line[0].get_color())
                text.append(f"V{name} = {m['value_V']:.1f} ± {m['error_V']:.1f} V")
            elif m:
                text.append(f"no V{name}")
        if text and len(states) <= 4:
            ax1.text(0.97, 0.05 + 0.15 * states.index(state), f"{state}: " + "\n".join(text),
                     transform=ax1.transAxes, ha="right", fontsize=8, color=line[0].get_color(),
                     bbox={"facecolor": "white", "edgecolor": "none", "alpha": 0.8})
    ax1.set_xlabel("sustain voltage (V)")
    ax1.set_ylabel(f"firing probability, pulse {study.analysis['pulse']}")
    ax1.set_ylim(-0.05, 1.05)
    ax1.set_title(f"firing within the run ({study.analysis['confidence']:.0%} Wilson intervals)", fontsize=10)
    ax1.legend(fontsize=8 if len(states) <= 4 else 6, loc="upper left")
    for state in states:
        for (s, v), (d, _) in sorted(delay_groups.items()):
            if s == state and d:
                ax2.plot([v] * len(d), d, ".", alpha=0.6, color="grey")
        rows = [r for r in delay_table if r["state"] == state and r.get("formative_ns") is not None]
        if rows:
            v = [r["voltage_V"] for r in rows]
            ax2.errorbar(v, [r["formative_ns"] for r in rows], yerr=[r["formative_err_ns"] for r in rows], fmt="s-",
                         capsize=3, label=f"{state}: formative lag t_f")
            ax2.errorbar(v, [r["statistical_ns"] for r in rows], yerr=[r["statistical_err_ns"] for r in rows],
                         fmt="^--", capsize=3, label=f"{state}: statistical lag t_s")
    ax2.set_xlabel("sustain voltage (V)")
    ax2.set_ylabel("delay to the current peak (ns)" if "pulses" in sources else
                   f"delay to {study.analysis['fire_ions']} ions (ns)")
    ax2.set_title("delays (dots) and shifted-exponential fit", fontsize=10)
    if ax2.get_legend_handles_labels()[0]:
        ax2.legend(fontsize=8)
    fig.suptitle(f"study {study.name}", fontsize=11)
    fig.tight_layout()
    path = os.path.join(folder, "firing.png")
    fig.savefig(path, dpi=90, metadata=meta)
    plt.close(fig)
    written.append(path)
    shown = [r for r in transfer_table if r["fired"]]
    if shown:
        fig, ax = plt.subplots(figsize=(6, 4.5))
        for state in sorted({r["state"] for r in shown}):
            for k in sorted({r["pulse"] for r in shown if r["state"] == state}):
                rows = [r for r in shown if r["state"] == state and r["pulse"] == k]
                ax.plot([abs(r["V_applied_V"]) for r in rows], [abs(r["Vwall_end_V"]) for r in rows], "o-",
                        label=f"{state}, after pulse {k}")
        ax.set_xlabel("|applied voltage| (V)")
        ax.set_ylabel("|wall voltage after the pulse| (V)")
        ax.set_title(f"wall-voltage transfer curve: the {sum(r['fired'] for r in shown)} fired pulses\n"
                     "of runs with two or more complete pulses", fontsize=10)
        ax.legend(fontsize=7)
        fig.tight_layout()
        path = os.path.join(folder, "transfer.png")
        fig.savefig(path, dpi=90, metadata=meta)
        plt.close(fig)
        written.append(path)
    return written
