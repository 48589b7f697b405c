"""What each run gives: its pulses, read from pulses.csv, or from the run log
general.txt where that is all the run has; and the study's collected tables."""
import csv
import io
import math
import os
import sys

from . import study as st

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
import plot_results  # noqa: E402  (the run log's fixed-width reader)

PULSE_FIELDS = ["pulse", "t_start_us", "t_end_us", "V_applied_V", "Vwall_start_V", "Vwall_end_V", "fired",
                "delay_ns"]
# What a pulse did, where pulses.csv and currents.csv have it: the peak current,
# the charge moved, the xenon excitations (all six levels) and ionizations; the
# time after the pulse start at which the real ions pass FIRING_IONS, and the
# peak real ions and electrons within the pulse.
FIGURE_FIELDS = ["I_peak_uA", "Q_S1_pC", "exc_Xe", "n_ion_Xe", "t_fire_ns", "ions_peak", "electrons_peak"]
FIRING_IONS = 1e6
RUN_COLUMNS = ["run", "voltage_V", "state", "seed1", "seed2", "options", "status", "exit", "source", "pulses"]
PULSE_COLUMNS = (["run", "voltage_V", "state", "seed1", "seed2", "options"] + PULSE_FIELDS + ["complete", "source"] +
                 FIGURE_FIELDS)


class BadRunFile(Exception):
    pass


def _number(text):
    text = text.strip()
    if text == "":
        return None
    value = float(text)
    return int(value) if value.is_integer() and "." not in text and "e" not in text.lower() else value


def read_pulses_csv(path):
    """Rows of pulses.csv as dicts of the fields the analyses use."""
    with open(path, newline="") as f:
        lines = [l for l in f.read().splitlines() if l.strip() and not l.startswith("#")]
    if not lines:
        return []
    header = lines[0].split(",")
    missing = [n for n in PULSE_FIELDS if n not in header]
    if missing:
        raise BadRunFile(f"{path}: header lacks {missing}")
    rows = []
    for number, line in enumerate(lines[1:], start=2):
        cells = line.split(",")
        if len(cells) != len(header):
            if number == len(lines):
                break       # the last row, still being written
            raise BadRunFile(f"{path}: data row {number} has {len(cells)} fields, the header {len(header)}")
        try:
            values = {n: _number(cells[header.index(n)]) for n in PULSE_FIELDS}
        except ValueError:
            raise BadRunFile(f"{path}: data row {number} has a field that is not a number")
        values["fired"] = int(values["fired"] or 0)
        values["complete"] = 1
        for name in ("I_peak_uA", "Q_S1_pC", "n_ion_Xe"):
            if name in header:
                values[name] = _number(cells[header.index(name)])
        levels = ["n_exc_Xe%d" % k for k in range(1, 7)]
        if all(n in header for n in levels):
            values["exc_Xe"] = sum(float(cells[header.index(n)]) for n in levels)
        rows.append(values)
    return rows


def pulses_from_log(path, fire_ions, stop_ions=0):
    """Pulses from the run log, numbered as pulses.csv numbers them: pulse 1
    runs from the run's start to the first sign change of V_S1 - V_S2, each
    later one between two sign changes (a change placed where the line between
    two logged values crosses zero); it fired if the Ions column rose above fire_ions in it,
    and its delay is the time of that crossing after the pulse start. The
    last pulse, which the run did not finish, ends at the last logged time
    (complete 0). Wall voltages are not in the log. For a run ended by
    stop_on_ions (stop_ions > 0) the log is read to its first line above it:
    how many lines came after that depends on when the runner saw it."""
    log = plot_results.read_run_log(path)
    t = [float(x) for x in log["Time_mks"]]
    diff = [float(d) for d in log["Vs1"] - log["Vs2"]]
    ions = [float(x) for x in log["Ions"]]
    if stop_ions > 0:
        n = next((i + 1 for i, x in enumerate(ions) if x > stop_ions), len(ions))
        t, diff, ions = t[:n], diff[:n], ions[:n]
    reversals, sign, last = [], 0, 0
    for i in range(len(t)):
        s = int(diff[i] > 0) - int(diff[i] < 0)
        if s == 0:
            continue
        if sign != 0 and s != sign:
            # between the last value of the old sign and the first of the new
            d0, d1 = diff[last], diff[i]
            reversals.append(float(t[last] + (t[i] - t[last]) * (-d0) / (d1 - d0)))
        sign, last = s, i
    pulses = []
    starts = [t[0]] + reversals if t else []
    ends = reversals + [t[-1] if t else None]
    for k, (start, end) in enumerate(zip(starts, ends), start=1):
        last_pulse = k == len(starts)
        inside = [i for i in range(len(t)) if t[i] >= start and (t[i] < end or last_pulse)]
        fired, delay = 0, None
        for i in inside:
            if ions[i] > fire_ions and (i == 0 or ions[i - 1] <= fire_ions):
                fired, delay = 1, (t[i] - start) * 1e3
                break
        pulses.append({"pulse": k, "t_start_us": round(start, 6), "t_end_us": round(end, 6),
                       "V_applied_V": _plateau(diff, inside), "Vwall_start_V": None, "Vwall_end_V": None,
                       "fired": fired, "delay_ns": None if delay is None else round(delay, 3),
                       "complete": 0 if last_pulse else 1})
    return pulses


def add_peaks(pulses, path):
    """Adds t_fire_ns, ions_peak and electrons_peak to each pulse from
    currents.csv (a row ending at t belongs to the pulse that holds t)."""
    rows = []
    with open(path, newline="") as f:
        for row in csv.DictReader(l for l in f if not l.startswith("#")):
            try:
                rows.append((float(row["t_us"]), float(row["ions_real"]), float(row["electrons_real"])))
            except (KeyError, TypeError, ValueError):
                break       # the last row, still being written
    for p in pulses:
        inside = [r for r in rows if p["t_start_us"] < r[0] <= p["t_end_us"]]
        if not inside:
            continue
        p["ions_peak"] = max(r[1] for r in inside)
        p["electrons_peak"] = max(r[2] for r in inside)
        fire = next((r[0] for r in inside if r[1] > FIRING_IONS), None)
        p["t_fire_ns"] = None if fire is None else round((fire - p["t_start_us"]) * 1e3, 3)


def _plateau(diff, inside):
    if not inside:
        return None
    values = [diff[i] for i in inside]
    return float(max(values, key=abs))


def run_pulses(folder, fire_ions):
    """(pulses, source) of a finished run: pulses.csv if the run has one, else the log.
    A run ended early by stop_on_ions has its unfinished last pulse taken from the log."""
    csv_path = os.path.join(folder, "pulses.csv")
    log_path = os.path.join(folder, "general.txt")
    status = st.read_json(os.path.join(folder, st.STATUS_FILE)) or {}
    stop = (st.read_json(os.path.join(folder, st.RUN_FILE)) or {}).get("stop_on_ions", 0) \
        if status.get("stopped") else 0
    if os.path.isfile(csv_path):
        rows = read_pulses_csv(csv_path)
        if stop and os.path.isfile(log_path):
            rows += [p for p in pulses_from_log(log_path, fire_ions, stop)
                     if p["pulse"] > len(rows) and not p["complete"]]
            return rows, "pulses+log"
        return rows, "pulses"
    if os.path.isfile(log_path):
        return pulses_from_log(log_path, fire_ions, stop), "log"
    return [], "none"


def _cell(value):
    if value is None:
        return ""
    if isinstance(value, float):
        return f"{value:.6g}"
    return str(value)


def write_csv(path, columns, rows):
    """A table as CSV: line 1 its header; the same rows give the same bytes."""
    buf = io.StringIO()
    w = csv.writer(buf, lineterminator="\n")
    w.writerow(columns)
    for r in rows:
        w.writerow([_cell(r.get(c)) for c in columns])
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(buf.getvalue())
    os.replace(tmp, path)


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def collect(study):
    """Gathers every run's state and pulses into OUTPUT/runs.csv and
    OUTPUT/all_pulses.csv (the same from local and Slurm runs: nothing in them
    depends on where or how fast a run ran). Returns (runs, pulses)."""
    runs, pulses = [], []
    fire_ions = study.analysis["fire_ions"]
    for run in study.runs:
        folder = study.folder(run)
        state = st.state_of(study, run)
        status = st.read_json(os.path.join(folder, st.STATUS_FILE)) or {}
        key = {"run": run.id, "voltage_V": run.voltage, "state": run.state, "seed1": run.seeds[0],
               "seed2": run.seeds[1], "options": " ".join(run.options), **run.cell}
        row = dict(key, status=("stopped" if status.get("stopped") else state) if state == "done" else state,
                   exit=status.get("exit"), source="", pulses=0)
        if state == "done":
            found, source = run_pulses(folder, fire_ions)
            if os.path.isfile(os.path.join(folder, "currents.csv")):
                add_peaks(found, os.path.join(folder, "currents.csv"))
            row.update(source=source, pulses=len(found))
            pulses += [dict(key, source=source, **p) for p in found]
        runs.append(row)
    os.makedirs(study.output, exist_ok=True)
    # the cell-file values a study varies are columns after the options
    at = RUN_COLUMNS.index("options") + 1
    write_csv(os.path.join(study.output, "runs.csv"), RUN_COLUMNS[:at] + study.cell_keys + RUN_COLUMNS[at:], runs)
    at = PULSE_COLUMNS.index("options") + 1
    write_csv(os.path.join(study.output, "all_pulses.csv"),
              PULSE_COLUMNS[:at] + study.cell_keys + PULSE_COLUMNS[at:], pulses)
    return runs, pulses


def not_counted(study, runs):
    """Console lines on the runs that collect left out, and why: a report of
    stale folders alone would otherwise be silently empty."""
    counts = {}
    for row in runs:
        if row["status"] not in ("done", "stopped"):
            counts[row["status"]] = counts.get(row["status"], 0) + 1
    why = {"stale": "their folders were made with other parameters or another binary than this study "
                    f"gives now ({study.binary}); run the study again to redo them, or name the binary they "
                    "were made with ([study] binary or PDPCELL_BINARY)",
           "failed": "they failed: 'status' names each with its message",
           "started": "they are running or were interrupted",
           "prepared": "they are prepared but not begun",
           "new": "they have not been run"}
    return [f"report: {n} of {len(runs)} runs left out: {why.get(state, state)}"
            for state, n in sorted(counts.items())]
