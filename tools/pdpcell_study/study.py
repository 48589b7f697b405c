"""The study file (TOML) and the runs it stands for.

A study is the product of its voltages, wall states, seed pairs, option
sets and cell-file values; each run gets a folder under the study's output
folder named for its parameters, holding a copy of the base case with the
waveform scaled and, where the cell varies, its own cell.toml.
"""
import difflib
import fcntl
import itertools
import json
import os
import shutil
import tomllib
from dataclasses import dataclass, field

STEP_US = 1e-4          # one time step, 0.1 ns
STATES = ("lit", "unlit")
RUN_FILE = "run.json"   # the run's parameters, written when its folder is made
STATUS_FILE = "status.json"
LOCK_FILE = "study.lock"        # locked by the process that prepares or runs the run in this folder
BINARY_LOCK_FILE = "pdpcell.lock"   # locked by a pdpcell run in this folder

KEYS = {"study": ("name", "base", "output", "binary", "base_voltage"),
        "run": ("end_time_us", "max_steps", "options", "threads", "stop_on_ions", "delete", "launcher"),
        "vary": ("voltage", "state", "seeds", "options", "cell"),
        "seeds": ("first", "count", "second")}


CELL_FILE = "cell.toml"
# Every value of the cell file, as [vary] cell names it: "section.key", or
# "emission.WALL.SPECIES" for a yield.
CELL_KEYS = tuple(
    [f"fill.{k}" for k in ("xenon_fraction", "density_cm3", "pressure_torr", "temperature_k")] +
    ["emission.energy_ev"] + [f"emission.{w}.{g}" for w in ("front", "rear", "rib") for g in ("ne", "xe")] +
    [f"dielectrics.{k}" for k in ("front_thickness_cm", "front_permittivity", "rear_thickness_cm",
                                  "rear_permittivity", "phosphor_thickness_cm", "phosphor_permittivity",
                                  "rib_width_cm", "rib_permittivity")] +
    [f"electrodes.{k}" for k in ("sustain_width_cm", "sustain_gap_cm", "address_width_cm")])


class StudyError(Exception):
    """A study file or base case the tool cannot use; the message says what to change."""


class FolderHeld(StudyError):
    """A run folder that a live process holds: another runner, or a pdpcell run in it."""


@dataclass
class Run:
    id: str
    voltage: float
    state: str
    seeds: tuple
    options: list
    index: int = 0
    cell: dict = field(default_factory=dict)   # cell-file key -> value, for the keys the study varies

    def parameters(self):
        p = {"id": self.id, "voltage_V": self.voltage, "state": self.state,
             "seeds": list(self.seeds), "options": self.options}
        if self.cell:
            p["cell"] = self.cell
        return p


@dataclass
class Study:
    path: str
    name: str
    base: str
    output: str
    binary: str
    max_steps: int
    options: list
    threads: int
    stop_on_ions: int
    delete: list
    base_voltage: float
    launcher: list = field(default_factory=list)
    runs: list = field(default_factory=list)
    cell_keys: list = field(default_factory=list)   # the cell-file keys that vary, in the study file's order
    analysis: dict = field(default_factory=dict)

    def folder(self, run):
        return os.path.join(self.output, "runs", run.id)

    def command(self, run):
        """The pdpcell command line of a run (the binary first)."""
        return (self.launcher + [self.binary, "--max-steps", str(self.max_steps), "--seed", str(run.seeds[0]),
                                 str(run.seeds[1]), "--threads", str(self.threads)] + self.options + run.options)


ANALYSIS_DEFAULTS = {
    "fire_ions": 10000,      # log fallback: a pulse fired when the Ions column rose above this
    "pulse": 1,              # the pulse whose firing and delay the firing curve and delay fits use
                             # (pulse 1 runs from the start to the first reversal)
    "confidence": 0.95,      # of the binomial intervals
    "censor": True,          # unfired runs count as delays beyond the pulse in the shifted-exponential fit
}


def _get(table, key, kind, default, where):
    value = table.get(key, default)
    if value is None:
        raise StudyError(f"{where}: '{key}' is missing")
    if kind is float and isinstance(value, int) and not isinstance(value, bool):
        value = float(value)
    if not isinstance(value, kind) or isinstance(value, bool) and kind is not bool:
        raise StudyError(f"{where}: '{key}' must be a {kind.__name__}, not {value!r}")
    return value


def _check_keys(table, known, where):
    if not isinstance(table, dict):
        raise StudyError(f"{where} must be a table")
    for key in table:
        if key not in known:
            near = difflib.get_close_matches(key, known, n=1)
            raise StudyError(f"{where}: unknown key '{key}'" + (f"; did you mean '{near[0]}'?" if near else
                                                                 f"; it knows {', '.join(known)}"))


def _seed_pairs(spec, where):
    if isinstance(spec, dict):
        _check_keys(spec, KEYS["seeds"], where + " seeds")
        first = _get(spec, "first", int, 1100, where + " seeds")
        count = _get(spec, "count", int, None, where + " seeds")
        second = _get(spec, "second", int, 550, where + " seeds")
        if count < 1:
            raise StudyError(f"{where}: seeds.count must be at least 1")
        pairs = [(first + i, second) for i in range(count)]
    elif isinstance(spec, list) and all(isinstance(p, list) and len(p) == 2 for p in spec):
        pairs = [tuple(p) for p in spec]
    else:
        raise StudyError(f"{where}: 'seeds' must be {{first = S1, count = N, second = S2}} or a list of [S1, S2]")
    for s1, s2 in pairs:
        if not (isinstance(s1, int) and isinstance(s2, int) and 1 <= s1 <= 2147483562 and 1 <= s2 <= 2147483398):
            raise StudyError(f"{where}: seed pair [{s1}, {s2}] is out of range (1 <= S1 <= 2147483562, "
                             "1 <= S2 <= 2147483398)")
    if len(set(pairs)) != len(pairs):
        raise StudyError(f"{where}: the seed pairs repeat")
    return pairs


def _cell_values(spec, where):
    """[vary] cell: {"section.key" = [values]}, each key one the cell file knows."""
    if not isinstance(spec, dict) or not spec:
        raise StudyError(f"{where}: 'cell' must be a table of cell-file keys and their values, e.g. "
                         'cell = {"fill.xenon_fraction" = [0.05, 0.10]}')
    _check_keys(spec, CELL_KEYS, where + " cell")
    out = {}
    for key, values in spec.items():
        if not isinstance(values, list) or not values or not all(
                isinstance(v, (int, float)) and not isinstance(v, bool) for v in values):
            raise StudyError(f"{where}: cell \"{key}\" must be a list of numbers, e.g. [0.05, 0.10]")
        out[key] = values
    return out


def _volts_text(v):
    # exact, so that two voltages never share a run folder
    short = f"{v:g}"
    return short if float(short) == v else repr(v)


def load(path, binary=None):
    """Reads a study file; paths in it are relative to its folder."""
    try:
        with open(path, "rb") as f:
            doc = tomllib.load(f)
    except OSError as e:
        raise StudyError(f"cannot read the study file: {e}")
    except tomllib.TOMLDecodeError as e:
        raise StudyError(f"{path}: not valid TOML: {e}")
    where = os.path.basename(path)
    here = os.path.dirname(os.path.abspath(path))
    top = doc.get("study", {})
    run = doc.get("run", {})
    vary = doc.get("vary", {})
    unknown = set(doc) - {"study", "run", "vary", "analysis"}
    if unknown:
        raise StudyError(f"{where}: unknown table(s) {sorted(unknown)}; use [study], [run], [vary], [analysis]")
    for name, table in (("study", top), ("run", run), ("vary", vary)):
        _check_keys(table, KEYS[name], f"{where} [{name}]")
    _check_keys(doc.get("analysis", {}), tuple(ANALYSIS_DEFAULTS), f"{where} [analysis]")

    base = os.path.normpath(os.path.join(here, _get(top, "base", str, None, where + " [study]")))
    if not os.path.isdir(base):
        raise StudyError(f"{where}: the base case folder {base} does not exist (base is relative to the "
                         "study file's folder)")
    for name in ("input_file.txt", "Vdata.txt"):
        if not os.path.isfile(os.path.join(base, name)):
            raise StudyError(f"{where}: the base case folder {base} has no {name}")
    name = _get(top, "name", str, os.path.splitext(os.path.basename(path))[0], where)
    output = os.path.normpath(os.path.join(here, _get(top, "output", str, "out", where + " [study]")))

    if "max_steps" in run and "end_time_us" in run:
        raise StudyError(f"{where}: give [run] max_steps or end_time_us, not both")
    if "end_time_us" in run:
        end = _get(run, "end_time_us", float, None, where + " [run]")
        max_steps = int(round(end / STEP_US)) + 1   # step 1 is at t = 0
    else:
        max_steps = _get(run, "max_steps", int, None, where + " [run] (or end_time_us)")
    if max_steps < 1:
        raise StudyError(f"{where}: [run] max_steps must be at least 1")
    options = [str(o) for o in _get(run, "options", list, [], where + " [run]")]
    for reserved in ("--max-steps", "--seed", "--threads"):
        if reserved in options:
            raise StudyError(f"{where}: [run] options must not hold {reserved}; the study sets it")
    threads = _get(run, "threads", int, 1, where + " [run]")
    stop_on_ions = _get(run, "stop_on_ions", int, 0, where + " [run]")
    delete = _get(run, "delete", list, [], where + " [run]")
    launcher = [str(x) for x in _get(run, "launcher", list, [], where + " [run]")]

    if binary is None:
        binary = top.get("binary") or os.environ.get("PDPCELL_BINARY")
        if binary and not os.path.isabs(binary) and os.sep in binary:
            binary = os.path.join(here, binary)
    if not binary:
        binary = shutil.which("pdpcell") or os.path.join(os.path.dirname(os.path.dirname(
            os.path.dirname(os.path.abspath(__file__)))), "build", "pdpcell")
    binary = os.path.abspath(binary)

    vdata = read_vdata(os.path.join(base, "Vdata.txt"))
    base_voltage = float(top.get("base_voltage", vdata.largest()))
    if base_voltage <= 0:
        raise StudyError(f"{where}: base_voltage must be positive (the base case's sustain voltage, V)")

    voltages = vary.get("voltage", [base_voltage])
    if not isinstance(voltages, list) or not voltages or not all(
            isinstance(v, (int, float)) and not isinstance(v, bool) and v > 0 for v in voltages):
        raise StudyError(f"{where}: [vary] voltage must be a list of positive sustain voltages (V)")
    states = vary.get("state", ["lit"])
    if not isinstance(states, list) or not states or any(s not in STATES for s in states):
        raise StudyError(f"{where}: [vary] state must be a list of \"lit\" (walls charged as after a "
                         "discharge) and \"unlit\" (no wall charge)")
    pairs = _seed_pairs(vary.get("seeds", {"first": 1100, "count": 1}), where + " [vary]")
    option_sets = vary.get("options", [[]])
    if not isinstance(option_sets, list) or not all(isinstance(o, list) for o in option_sets) or not option_sets:
        raise StudyError(f"{where}: [vary] options must be a list of option lists, e.g. [[], [\"--plasma-field\"]]")

    cell = _cell_values(vary["cell"], where + " [vary]") if "cell" in vary else {}
    cell_sets = [dict(zip(cell, values)) for values in itertools.product(*cell.values())]

    analysis = dict(ANALYSIS_DEFAULTS)
    analysis.update(doc.get("analysis", {}))

    study = Study(path=os.path.abspath(path), name=name, base=base, output=output, binary=binary,
                  max_steps=max_steps, options=options, threads=threads, stop_on_ions=stop_on_ions,
                  delete=[str(d) for d in delete], base_voltage=base_voltage, analysis=analysis,
                  launcher=launcher, cell_keys=list(cell))
    for index, (c, v, state, pair, k) in enumerate(itertools.product(
            cell_sets, [float(v) for v in voltages], states, pairs, range(len(option_sets)))):
        rid = f"V{_volts_text(v)}_{state}_s{pair[0]}-{pair[1]}" + (f"_o{k}" if len(option_sets) > 1 else "")
        rid += "".join(f"_{key}={_volts_text(float(value))}" for key, value in c.items())
        study.runs.append(Run(rid, v, state, pair, [str(o) for o in option_sets[k]], index, dict(c)))
    seen = {}
    for r in study.runs:
        if r.id in seen:
            raise StudyError(f"{where}: runs {seen[r.id]} and {r.index} would share the folder {study.folder(r)}; "
                             "give each voltage and each cell value once")
        seen[r.id] = r.index
    return study


# ---- Vdata.txt ---------------------------------------------------------------------------------

def _is_number(token):
    try:
        float(token.replace("D", "E").replace("d", "e"))
        return True
    except ValueError:
        return False


class Vdata:
    """The waveform file as lines, with where its Smart Start line and table rows are."""

    def __init__(self, lines, n_electrodes, smart_line, table_lines):
        self.lines, self.n, self.smart_line, self.table_lines = lines, n_electrodes, smart_line, table_lines

    def _voltages(self, number):
        tokens = self.lines[number].replace(",", " ").split()
        return [float(t.replace("D", "E").replace("d", "e")) for t in tokens[2:2 + self.n]]

    def largest(self):
        return max((abs(v) for i in self.table_lines for v in self._voltages(i)), default=0.0)

    def scaled(self, factor, lit=True):
        """The file's text with every voltage of the table times factor; the Smart
        Start voltages scaled too (lit) or zero (unlit: no wall charge)."""
        out = list(self.lines)
        for i in [self.smart_line] + self.table_lines:
            tokens = out[i].replace(",", " ").split()
            head, values, tail = tokens[:2], tokens[2:2 + self.n], tokens[2 + self.n:]
            f = 0.0 if (i == self.smart_line and not lit) else factor
            new = [f"{float(v.replace('D', 'E').replace('d', 'e')) * f:.10g}" for v in values]
            out[i] = f"{head[0]:<7} {head[1]:<12}" + "".join(f" {v:>9}" for v in new) + \
                ("  " + " ".join(tail) if tail else "") + "\n"
        return "".join(out)


def read_vdata(path):
    with open(path) as f:
        lines = f.readlines()
    where = f"{path}"
    try:
        n = int(lines[0].split()[0])
    except (IndexError, ValueError):
        raise StudyError(f"{where}: line 1 should start with the number of electrodes")
    if len(lines) < 9 or len(lines[6].split()) < 2 + n:
        raise StudyError(f"{where}: line 7 should be the Smart Start line (label, time, {n} voltages)")
    table = []
    i = 8
    while i < len(lines):
        tokens = lines[i].replace(",", " ").split()
        if not tokens:
            i += 1
            continue
        if not _is_number(tokens[0]):
            break
        if len(tokens) < 2 + n or not all(_is_number(t) for t in tokens[1:2 + n]):
            raise StudyError(f"{where}: table line {i + 1} should hold a label, a time and {n} voltages")
        table.append(i)
        i += 1
    for j in range(i, len(lines)):
        # A waveform the table alone does not describe would not be scaled with it.
        if lines[j].split()[:1] in (["Sin"], ["Meander"]) and j + 2 < len(lines) and \
                lines[j + 2].split()[:1] not in (["0"], []):
            raise StudyError(f"{where}: its {lines[j].split()[0]} Voltage section is switched on; the study tool "
                             "scales only the table, so switch it off (flag 0) in the base case")
    return Vdata(lines, n, 6, table)


# ---- run folders -------------------------------------------------------------------------------

def read_json(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def write_json(path, value):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(value, f, indent=1, sort_keys=True)
        f.write("\n")
    os.replace(tmp, path)


def run_record(study, run):
    """What run.json holds: enough to execute the run with no study file at hand."""
    return dict(run.parameters(), command=study.command(run), stop_on_ions=study.stop_on_ions,
                delete=study.delete, base=study.base, max_steps=study.max_steps)


def state_of(study, run):
    """'done', 'failed', 'started' (running or interrupted), 'prepared' (its folder made,
    not begun), 'stale' (a folder of other parameters) or 'new'."""
    folder = study.folder(run)
    if not os.path.isdir(folder):
        return "new"
    if read_json(os.path.join(folder, RUN_FILE)) != run_record(study, run):
        return "stale"
    status = read_json(os.path.join(folder, STATUS_FILE))
    if status is None:
        # running now or interrupted, or not yet begun (a queued array task)
        return "started" if os.path.exists(os.path.join(folder, "console.txt")) else "prepared"
    return "done" if status.get("exit") == 0 else "failed"


def lock_holder(path):
    """The process holding a kernel lock on the file at path (from /proc/locks), or None."""
    try:
        info = os.stat(path)
        with open("/proc/locks") as f:
            table = f.read().splitlines()
    except OSError:
        return None
    inode = f"{os.major(info.st_dev):02x}:{os.minor(info.st_dev):02x}:{info.st_ino}"
    for line in table:
        cols = line.split()
        if inode in cols:
            return int(cols[cols.index(inode) - 1])
    return None


def hold(folder):
    """Takes a run folder for this process: an exclusive lock on its study.lock,
    which the kernel drops when the file is closed or its holders have died
    (the run's pdpcell is given it too). Returns the open lock file; raises
    FolderHeld when another process holds the folder or a pdpcell run is live in it."""
    os.makedirs(folder, exist_ok=True)
    lock = open(os.path.join(folder, LOCK_FILE), "a")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        pid = lock_holder(lock.name)
        lock.close()
        raise FolderHeld(f"{folder} is held by {'process ' + str(pid) if pid else 'another process'} "
                         "(a study runner or its run); not started there")
    pid = lock_holder(os.path.join(folder, BINARY_LOCK_FILE))
    if pid is not None:
        lock.close()
        raise FolderHeld(f"{folder} holds a live pdpcell run (process {pid}); not started there")
    return lock


def prepare(study, run):
    """A fresh folder for the run: the base case with the scaled waveform, and run.json.
    The caller holds the folder (hold); its lock file stays."""
    folder = study.folder(run)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if name == LOCK_FILE:
            continue
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.remove(path)
    for name in sorted(os.listdir(study.base)):
        src = os.path.join(study.base, name)
        if os.path.isfile(src) and name != "Vdata.txt":
            shutil.copyfile(src, os.path.join(folder, name))
    text = read_vdata(os.path.join(study.base, "Vdata.txt")).scaled(run.voltage / study.base_voltage,
                                                                    lit=run.state == "lit")
    with open(os.path.join(folder, "Vdata.txt"), "w") as f:
        f.write(text)
    if run.cell:
        with open(os.path.join(folder, CELL_FILE), "w") as f:
            f.write(cell_text(os.path.join(study.base, CELL_FILE), run.cell))
    write_json(os.path.join(folder, RUN_FILE), run_record(study, run))
    return folder


# ---- cell.toml ---------------------------------------------------------------------------------

def _toml_value(value):
    # repr gives the shortest text that reads back as the same double
    return repr(float(value)) if isinstance(value, float) else str(value)


def cell_text(base_file, values):
    """The base case's cell file (if it has one) with each key of `values`
    set, as TOML text: one [section] per table, the yields as [emission.WALL]."""
    doc = {}
    if os.path.isfile(base_file):
        try:
            with open(base_file, "rb") as f:
                doc = tomllib.load(f)
        except tomllib.TOMLDecodeError as e:
            raise StudyError(f"{base_file}: not valid TOML: {e}")
    for key, value in values.items():
        table = doc
        *path, last = key.split(".")
        for part in path:
            table = table.setdefault(part, {})
            if not isinstance(table, dict):
                raise StudyError(f"{base_file}: '{part}' is not a table, so {key} cannot be set")
        table[last] = value
    lines = ["# The base case's cell file with " + ", ".join(f"{k} = {_toml_value(v)}" for k, v in values.items()) +
             " (written by pdpcell-study)\n"]

    def section(name, table):
        plain = [(k, v) for k, v in table.items() if not isinstance(v, dict)]
        if plain or not table:
            lines.append(f"\n[{name}]\n")
            lines.extend(f"{k} = {_toml_value(v)}\n" for k, v in plain)
        for k, v in table.items():
            if isinstance(v, dict):
                section(f"{name}.{k}", v)

    for name, table in doc.items():
        if not isinstance(table, dict):
            raise StudyError(f"{base_file}: '{name}' must be a table")
        section(name, table)
    return "".join(lines)
