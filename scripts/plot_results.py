#!/usr/bin/python3
"""Pictures of a pdpcell run: the slice files and the run log as PNG images.

Usage: plot_results.py [PATH ...] [--out DIR] [--block N] [--log] [--list]

Each PATH is a run folder (all its OUT_*.2Ddata files, general.txt, and
currents.csv and pulses.csv where the run wrote them, are plotted) or a single
file. Every slice file gives one colour map of one time block (default: the
last complete one); general.txt gives the electrode voltages and particle
counts against time; currents.csv the electrode voltages and currents and the
real particle numbers against time, and with pulses.csv beside it each pulse's
waveforms; pulses.csv the wall voltage and transferred charge against the pulse
number; vuv.csv (a --vuv run) the VUV power of each line against time and the
excited xenon it comes from. Files of a run that is still going can be read: a last block, line or
row that is not yet complete is skipped.
"""

import argparse
import re
import sys
from pathlib import Path

import numpy as np

HEADER_FIRST_LINE = "scalar = 1 or vector = 2:"
GRID_LINES = {"Grid size, x,y: (cm)": "x-y", "Grid size, x,z: (cm)": "x-z"}
DIMENSION_LINES = {"x-y": "Array dimensions:  (nx, ny)", "x-z": "Array dimensions:  (nx, nz)"}
# The potential section keeps the two plate rows beyond the interior nodes
# that the header counts.
EXTRA_ROWS = {"Potential": 2}
CM_TO_UM = 1.0e4

LOG_COLUMNS = ["nstep", "Time_mks", "Vs1", "Vs2", "Vaddr", "Ions", "Elecs", "cpu_time"]
LOG_WIDTHS = [8, 12, 10, 10, 10, 10, 10, 12]  # I8, F12.4, 3F10.2, 2I10, F12.4


class NotASliceFile(Exception):
    """The file does not have the layout of a slice file."""


class NotARunLog(Exception):
    """The file does not have the layout of the run log."""


class SliceFile:
    """One slice file: its grid and its complete time blocks.

    kind is "x-y" (a vertical section: rows along x, the vertical axis) or
    "x-z" (a top view: rows along z, mirrored then direct). width and height
    are the grid sizes in cm of the first (always y) and second direction;
    columns and rows are the header's dimensions. blocks[n] is an array of
    shape (rows of a block, columns); times[n] its time in s.
    """

    def __init__(self, path, kind, width, height, columns, rows):
        self.path = Path(path)
        self.kind = kind
        self.width = width
        self.height = height
        self.columns = columns
        self.rows = rows
        self.quantity = ""
        self.times = []
        self.blocks = []
        self.incomplete_tail = False  # a last block still being written was skipped

    def block_rows(self):
        return self.rows + EXTRA_ROWS.get(self.quantity, 0)


def parse_value(token):
    """A number as the simulator writes it, including 1.0000+100 (an exponent
    of three digits leaves out the E)."""
    try:
        return float(token)
    except ValueError:
        fixed = re.sub(r"(?<=[0-9.])([+-][0-9]{3})$", r"E\1", token)
        return float(fixed)


def parse_row(line):
    tokens = line.split()
    try:
        return np.array(tokens, dtype=float)
    except ValueError:
        return np.array([parse_value(t) for t in tokens], dtype=float)


def _not_slice(path, line_number, reason):
    return NotASliceFile(f"{path}: not a slice file (line {line_number}: {reason})")


def read_slice_file(path):
    """Reads a slice file. Raises NotASliceFile when the layout is wrong."""
    path = Path(path)
    with open(path, "r", encoding="ascii", errors="replace", newline="") as f:
        lines = f.read().splitlines(keepends=True)
    if not lines:
        raise NotASliceFile(f"{path}: not a slice file (it is empty)")
    # A line without its newline is still being written.
    complete = len(lines) if lines[-1].endswith("\n") else len(lines) - 1
    text = [line.rstrip("\r\n").rstrip() for line in lines]

    def header_line(n):
        if n >= complete:
            raise _not_slice(path, n + 1, "the header ends early")
        return text[n]

    if header_line(0) != HEADER_FIRST_LINE:
        raise _not_slice(path, 1, f"expected '{HEADER_FIRST_LINE}', found '{text[0][:60]}'")
    if header_line(1).strip() != "1":
        raise _not_slice(path, 2, f"expected 1 (a scalar quantity), found '{text[1][:60]}'")
    kind = GRID_LINES.get(header_line(2))
    if kind is None:
        raise _not_slice(path, 3, f"expected a 'Grid size' line, found '{text[2][:60]}'")
    try:
        width, height = (float(v) for v in header_line(3).split())
    except ValueError:
        raise _not_slice(path, 4, f"expected two grid sizes, found '{text[3][:60]}'") from None
    if header_line(4) != DIMENSION_LINES[kind]:
        raise _not_slice(path, 5, f"expected '{DIMENSION_LINES[kind]}', found '{text[4][:60]}'")
    try:
        columns, rows = (int(v) for v in header_line(5).split())
    except ValueError:
        raise _not_slice(path, 6, f"expected two array dimensions, found '{text[5][:60]}'") from None
    if columns < 1 or rows < 1:
        raise _not_slice(path, 6, "array dimensions must be positive")

    result = SliceFile(path, kind, width, height, columns, rows)
    n = 6
    while n < complete:
        start = n
        if text[n].strip() != "TIME":
            raise _not_slice(path, n + 1, f"expected 'TIME', found '{text[n][:60]}'")
        if n + 2 >= complete:
            result.incomplete_tail = True
            break
        try:
            time = parse_value(text[n + 1].strip())
        except ValueError:
            raise _not_slice(path, n + 2, f"expected the time, found '{text[n + 1][:60]}'") from None
        quantity = text[n + 2].strip()
        if result.quantity and quantity != result.quantity:
            raise _not_slice(path, n + 3, f"quantity '{quantity}' after '{result.quantity}'")
        result.quantity = quantity
        n += 3
        data = []
        while n < complete and text[n].strip() != "TIME":
            try:
                row = parse_row(text[n])
            except ValueError:
                raise _not_slice(path, n + 1, "a data row holds something other than numbers") from None
            if row.size != columns:
                raise _not_slice(path, n + 1, f"{row.size} values in a row of {columns}")
            data.append(row)
            n += 1
        expected = result.block_rows()
        at_end = n >= complete
        if len(data) < expected and at_end:
            result.incomplete_tail = True
            break
        if len(data) != expected:
            raise _not_slice(path, start + 1, f"time block with {len(data)} rows instead of {expected}")
        result.times.append(time)
        result.blocks.append(np.vstack(data))
    if complete < len(lines):
        result.incomplete_tail = True
    return result


def read_run_log(path):
    """Reads general.txt into a dict of arrays by column name; stars (a value
    too wide for its column) become NaN. An unfinished last line is skipped."""
    path = Path(path)
    with open(path, "r", encoding="ascii", errors="replace", newline="") as f:
        lines = f.read().splitlines(keepends=True)
    if not lines or lines[0].split() != LOG_COLUMNS:
        raise NotARunLog(f"{path}: not a run log (line 1 should name the columns {' '.join(LOG_COLUMNS)})")
    width = sum(LOG_WIDTHS)
    values = []
    for number, line in enumerate(lines[1:], start=2):
        last = number == len(lines)
        record = line.rstrip("\r\n")
        if last and (not line.endswith("\n") or len(record) < width):
            break
        fields, start = [], 0
        for w in LOG_WIDTHS:
            text = record[start:start + w].strip()
            start += w
            if text and set(text) == {"*"}:
                fields.append(np.nan)
                continue
            try:
                fields.append(float(text))
            except ValueError:
                raise NotARunLog(f"{path}: not a run log (line {number}: '{record[:60]}')") from None
        values.append(fields)
    table = np.array(values, dtype=float).reshape(-1, len(LOG_COLUMNS))
    return {name: table[:, c] for c, name in enumerate(LOG_COLUMNS)}


class NotATable(Exception):
    """The file does not have the layout of currents.csv or pulses.csv."""


# The columns each picture uses; the files may carry more.
CURRENTS_NEEDED = ["t_us", "V_S1_V", "V_S2_V", "V_A_V", "I_S1_uA", "I_S2_uA", "I_A_uA",
                   "Icond_S1_uA", "Icond_S2_uA", "Icond_A_uA", "ions_real", "electrons_real"]
PULSES_NEEDED = ["pulse", "t_start_us", "t_end_us", "V_applied_V", "Vwall_start_V", "Vwall_end_V", "fired",
                 "delay_ns", "I_peak_uA", "t_peak_us", "Q_S1_pC", "Q_S2_pC", "Q_A_pC"]
VUV_LINES = ("147", "150", "173")
VUV_NEEDED = (["t_us"] + [f"P{line}_{side}_W" for side in ("phosphor", "front") for line in VUV_LINES] +
              ["N_1s5", "N_1s4", "N_Xe_higher", "N_excimers"])
TABLE_KINDS = {"currents": CURRENTS_NEEDED, "pulses": PULSES_NEEDED, "vuv": VUV_NEEDED}


def read_table(path):
    """Reads currents.csv or pulses.csv: comment lines starting with '#', a
    header row, then comma-separated rows. Returns (kind, dict of arrays by
    column name, whether an unfinished last row was skipped). An empty field
    (the delay of a pulse that did not fire) becomes NaN. A file whose header
    is not yet complete gives kind None and no columns."""
    path = Path(path)
    with open(path, "r", encoding="ascii", errors="replace", newline="") as f:
        lines = f.read().splitlines(keepends=True)
    header, rows, incomplete = None, [], False
    for number, line in enumerate(lines, start=1):
        text = line.rstrip("\r\n")
        if text.startswith("#") or (header is None and not text.strip()):
            continue
        fields = [field.strip() for field in text.split(",")]
        if header is None:
            if not line.endswith("\n"):
                return None, {}, True  # the header itself is still being written
            header = fields
            continue
        # A row still being written lacks its newline, and perhaps fields.
        if number == len(lines) and (not line.endswith("\n") or len(fields) != len(header)):
            incomplete = True
            break
        if len(fields) != len(header):
            raise NotATable(f"{path}: line {number} has {len(fields)} fields, the header {len(header)}")
        try:
            rows.append([float(field) if field else np.nan for field in fields])
        except ValueError:
            raise NotATable(f"{path}: line {number} holds something other than numbers") from None
    if header is None:
        raise NotATable(f"{path}: no header row")
    kind = next((k for k, needed in TABLE_KINDS.items() if set(needed) <= set(header)), None)
    if kind is None:
        raise NotATable(f"{path}: not currents.csv or pulses.csv (the header lacks "
                        f"{', '.join(c for c in CURRENTS_NEEDED if c not in header)})")
    table = np.array(rows, dtype=float).reshape(-1, len(header))
    return kind, {name: table[:, c] for c, name in enumerate(header)}, incomplete


def pick_block(count, block):
    """Index of block number `block` (from 1; negative counts from the end)."""
    index = block - 1 if block > 0 else count + block
    if block == 0 or not 0 <= index < count:
        raise IndexError(f"block {block} does not exist (the file has {count} complete blocks)")
    return index


def _pyplot():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    return plt


# The cell that src/input/cell_geometry.cpp builds on the mesh of
# src/mesh/mesh_arrays.hpp, in micrometres in the coordinates of the 3D files:
# node n of a direction with step h lies at (n + 1/2) h, and a boundary between
# materials lies half-way between two nodes. x runs across the gap from the
# front plate, y along the cell, z across the rib from the mirror plane.
STEP_UM = {"x": 2.0, "y": 5.0, "z": 10.0}
FIRST_NODE = 2                      # the first interior node in each direction
SECTION_SHAPE = (65, 135)           # rows (x nodes 2..66) and columns (y nodes 2..136)
TOP_ROWS = 22                       # z nodes 12..2 mirrored, then 2..12
SECTION_Z_UM = 25.0                 # sections lie in z node 2
MIRROR_Z_UM = 20.0                  # between z nodes 1 and 2
FRONT_DIELECTRIC_X_UM = (4.0, 30.0)     # x nodes 2..14, relative permittivity 11
REAR_DIELECTRIC_X_UM = (108.0, 134.0)   # x nodes 54..66, relative permittivity 8
PHOSPHOR_Z_UM = (100.0, 110.0)          # z node 10, permittivity 8
RIB_Z_UM = (110.0, 130.0)               # z nodes 11..12, permittivity 11
SUSTAIN_X_UM = 3.0                      # x node 1
ADDRESS_X_UM = 135.0                    # x node 67
ELECTRODES_Y_UM = {"S1": (95.0, 315.0), "S2": (380.0, 600.0)}  # y nodes 19..62 and 76..119
ADDRESS_Z_UM = (-20.0, 60.0)            # z nodes 1..5, 80 um wide across the mirror plane

ELECTRODE_COLOUR = "#b8860b"
# A slice map is as wide as a slide; its smallest text, the labels of the
# outlines, still reads at 12 pt when the figure is shown 10 inches wide.
SLICE_WIDTH_IN = 8.0
SLICE_FONTS = {"font.size": 11, "axes.titlesize": 12, "axes.labelsize": 11, "xtick.labelsize": 11,
               "ytick.labelsize": 11}
LABEL_PT = 10    # the outlines' labels
NAME_PT = 11     # the electrodes' names
# What each slice quantity is, for titles, notes and colour bars:
# (name, particles, unit, factor from the file's values).
QUANTITY = {
    "Electron_Density": ("electron density", "electrons", "cm⁻³", 1.0),
    "Ion_Density": ("ion density (Ne⁺ + Xe⁺)", "ions", "cm⁻³", 1.0),
    # The top views sum the node densities over x; times the step they are
    # column densities. The electron sums are written negative.
    "Electron_Density_top": ("electron column density", "electrons", "cm⁻²", -STEP_UM["x"] / CM_TO_UM),
    "Ion_Density_top": ("ion column density (Ne⁺ + Xe⁺)", "ions", "cm⁻²", STEP_UM["x"] / CM_TO_UM),
    "Potential": ("potential", None, "V", 1.0),
    # With --vuv: the excited xenon and the excimers.
    "Xe_1s5_Density": ("Xe*(1s5) density", "metastable atoms", "cm⁻³", 1.0),
    "Xe_1s4_Density": ("Xe*(1s4) density", "resonant atoms", "cm⁻³", 1.0),
    "Xe2_Excimer_Density": ("Xe₂* excimer density", "excimers", "cm⁻³", 1.0),
}


def fits_the_cell(slice_file):
    """Whether the file has the grid of the built-in cell, so that the cell's
    coordinates and outlines apply."""
    rows_wanted = TOP_ROWS if slice_file.kind == "x-z" else SECTION_SHAPE[0]
    second_step = STEP_UM["z" if slice_file.kind == "x-z" else "x"]
    return (slice_file.columns == SECTION_SHAPE[1] and slice_file.rows == rows_wanted
            and abs(slice_file.width * CM_TO_UM - (SECTION_SHAPE[1] - 1) * STEP_UM["y"]) < 1e-3
            and abs(slice_file.height * CM_TO_UM - (rows_wanted - 1) * second_step) < 1e-3)


def slice_coordinates(slice_file, rows):
    """Node positions in µm of the columns (y) and rows (x or z) of a block."""
    columns = slice_file.columns
    if fits_the_cell(slice_file):
        y = (FIRST_NODE + np.arange(columns) + 0.5) * STEP_UM["y"]
        if slice_file.kind == "x-y":
            first = FIRST_NODE - EXTRA_ROWS.get(slice_file.quantity, 0) // 2
            return y, (first + np.arange(rows) + 0.5) * STEP_UM["x"]
        half = rows // 2
        direct = (FIRST_NODE + np.arange(half) + 0.5) * STEP_UM["z"]
        return y, np.concatenate([2.0 * MIRROR_Z_UM - direct[::-1], direct])
    # Another grid: positions from the header, from the first node.
    step_y = slice_file.width / max(columns - 1, 1) * CM_TO_UM
    step_2 = slice_file.height / max(slice_file.rows - 1, 1) * CM_TO_UM
    first = -EXTRA_ROWS.get(slice_file.quantity, 0) // 2 if slice_file.kind == "x-y" else -(rows - 1) / 2.0
    return np.arange(columns) * step_y, (np.arange(rows) + first) * step_2


def draw_section_outline(ax, line):
    """Dielectrics and electrodes on an x-y section (front plate at the top)."""
    from matplotlib.patches import Rectangle

    y_lo, y_hi = ax.get_xlim()
    style = dict(fill=False, edgecolor=line, linewidth=0.8, linestyle="--")
    text = dict(fontsize=LABEL_PT, va="center", ha="left",
                bbox=dict(boxstyle="square,pad=0.1", facecolor="white", edgecolor="none", alpha=0.7))
    for name, (lo, hi) in (("front dielectric (εr 11)", FRONT_DIELECTRIC_X_UM),
                           ("rear dielectric (εr 8)", REAR_DIELECTRIC_X_UM)):
        ax.add_patch(Rectangle((y_lo, lo), y_hi - y_lo, hi - lo, **style))
        ax.text(y_lo + 3, (lo + hi) / 2, name, **text)
    for name, (lo, hi) in ELECTRODES_Y_UM.items():
        ax.add_patch(Rectangle((lo, SUSTAIN_X_UM - 3), hi - lo, 4, color=ELECTRODE_COLOUR))
        # Above the plate, clear of the dielectric's label.
        ax.text((lo + hi) / 2, -2.0, name, fontsize=NAME_PT, ha="center", va="bottom", clip_on=False)
    ax.add_patch(Rectangle((y_lo, ADDRESS_X_UM - 1), y_hi - y_lo, 4, color=ELECTRODE_COLOUR))
    ax.text((y_lo + y_hi) / 2, ADDRESS_X_UM - 8, "A (address electrode)", **{**text, "ha": "center",
                                                                            "fontsize": NAME_PT})


def draw_top_outline(ax, line):
    """Phosphor, rib, mirror plane and the electrodes' extents on a top view;
    the electrodes run across the whole view, so bars in the margins show
    where they are."""
    from matplotlib.patches import Rectangle

    y_lo, y_hi = ax.get_xlim()
    z_lo, z_hi = ax.get_ylim()
    text = dict(fontsize=LABEL_PT, va="center", ha="left",
                bbox=dict(boxstyle="square,pad=0.1", facecolor="white", edgecolor="none", alpha=0.7))
    for mirrored in (False, True):
        def z(v):
            return 2.0 * MIRROR_Z_UM - v if mirrored else v
        for v in (PHOSPHOR_Z_UM[0], RIB_Z_UM[0]):
            ax.axhline(z(v), color=line, linewidth=0.8, linestyle="--")
        ax.text(y_lo + 3, z(sum(RIB_Z_UM) / 2), "phosphor, rib" + (" (mirror image)" if mirrored else ""), **text)
    ax.axhline(MIRROR_Z_UM, color=line, linewidth=0.8, linestyle=":")
    ax.text(y_lo + 3, MIRROR_Z_UM + 5, f"mirror plane z = {MIRROR_Z_UM:g} µm", **text)
    band = 0.03 * (z_hi - z_lo)
    for name, (lo, hi) in ELECTRODES_Y_UM.items():
        ax.add_patch(Rectangle((lo, z_hi), hi - lo, band, color=ELECTRODE_COLOUR, clip_on=False))
        ax.text((lo + hi) / 2, z_hi + 1.5 * band, name, fontsize=NAME_PT, ha="center", va="bottom", clip_on=False)
    width = 0.012 * (y_hi - y_lo)
    ax.add_patch(Rectangle((y_hi, ADDRESS_Z_UM[0]), width, ADDRESS_Z_UM[1] - ADDRESS_Z_UM[0],
                           color=ELECTRODE_COLOUR, clip_on=False))
    ax.text(y_hi + 1.5 * width, sum(ADDRESS_Z_UM) / 2, "A", fontsize=NAME_PT, ha="left", va="center", clip_on=False)


def plot_slice(slice_file, block, out_path, log_scale=False):
    """Draws one time block into a PNG image."""
    fig = slice_figure(slice_file, block, log_scale)
    fig.savefig(out_path, dpi=110, bbox_inches="tight", pad_inches=0.1)  # no blank band around a flat map
    _pyplot().close(fig)


def slice_figure(slice_file, block, log_scale=False):
    """One time block as a colour map with axes in micrometres; on the
    built-in cell's grid, with the dielectrics and electrodes outlined."""
    with _pyplot().rc_context(SLICE_FONTS):
        return _slice_figure(slice_file, block, log_scale)


def _slice_figure(slice_file, block, log_scale):
    plt = _pyplot()
    from matplotlib.colors import CenteredNorm, LogNorm, Normalize
    from mpl_toolkits.axes_grid1 import make_axes_locatable

    index = pick_block(len(slice_file.blocks), block)
    name, particles, unit, factor = QUANTITY.get(slice_file.quantity, (slice_file.quantity, None, "", 1.0))
    data = slice_file.blocks[index] * factor
    rows, columns = data.shape
    y, second = slice_coordinates(slice_file, rows)
    cell = fits_the_cell(slice_file)
    time_ns = slice_file.times[index] * 1e9

    is_potential = slice_file.quantity == "Potential"
    empty = particles is not None and not np.any(data)
    norm, cmap, shown = None, ("coolwarm" if is_potential else "viridis"), data
    if empty:
        norm = Normalize(0.0, 1.0)  # zero in the colour of zero
    elif is_potential:
        norm = CenteredNorm(vcenter=0.0)  # 0 V in the colour map's neutral middle
    elif log_scale:
        shown = np.ma.masked_less_equal(np.abs(data), 0.0)
        # Six decades are enough; a few tiny weights would squeeze the rest.
        top = shown.max()
        norm = LogNorm(vmin=max(shown.min(), top * 1e-6), vmax=top, clip=True)
    label = unit or name  # the title names the quantity
    if isinstance(norm, LogNorm):
        label += ", log scale"

    if slice_file.kind == "x-y":
        where = f"x–y section at z = {SECTION_Z_UM:g} µm, next to the mirror plane" if cell else "x–y section"
        vertical_label = "x (µm)\nfront plate at the top"
    else:
        where = "top view: sum over x, front to rear plate"
        vertical_label = "z (µm)\nacross the rib"
    step_y, step_2 = y[1] - y[0] if columns > 1 else 1.0, second[1] - second[0] if rows > 1 else 1.0
    margin = 3.0 * abs(step_2) if cell else 0.0
    extent_2 = abs(second[-1] - second[0]) + abs(step_2) + 2.0 * margin
    aspect = extent_2 / (y[-1] - y[0] + step_y)
    fig, ax = plt.subplots(figsize=(SLICE_WIDTH_IN, max(3.0, SLICE_WIDTH_IN * aspect + 2.0)))
    mesh = ax.pcolormesh(y, second, shown, shading="nearest", cmap=cmap, norm=norm)
    if cell:
        # Room around the nodes for the electrodes drawn at the edges.
        if slice_file.kind == "x-y":
            ax.set_ylim(0.0, ADDRESS_X_UM + 3.0)
        else:
            ax.set_ylim(second[0] - step_2 / 2, second[-1] + step_2 / 2)
        ax.set_xlim(y[0] - step_y / 2, y[-1] + step_y / 2)
    if slice_file.kind == "x-y":
        ax.invert_yaxis()
    ax.set_aspect("equal")
    ax.set_xlabel("y (µm), along the cell")
    ax.set_ylabel(vertical_label)
    ax.set_title(f"{name[0].upper() + name[1:]} at t = {time_ns:.1f} ns\n{where}",
                 pad=24 if cell else 6)
    if cell:
        # Outlines that stand out on the dark low end of viridis and on the
        # light middle of coolwarm.
        line = "black" if is_potential else "0.8"
        (draw_section_outline if slice_file.kind == "x-y" else draw_top_outline)(ax, line)
    if empty:
        place = "in this plane" if slice_file.kind == "x-y" else "in the cell"
        ax.text(0.5, 0.5, f"no {particles} {place} at t = {time_ns:.3f} ns", transform=ax.transAxes,
                ha="center", va="center", fontsize=13,
                bbox=dict(boxstyle="round", facecolor="white", edgecolor="grey"))
    # A colour bar as tall as the map, clear of the electrode drawn at its right.
    bar = make_axes_locatable(ax).append_axes("right", size=0.15, pad=0.45 if cell else 0.15)
    fig.colorbar(mesh, cax=bar, label=label, ticks=[0.0] if empty else None)
    fig.tight_layout()
    return fig


def run_log_figure(log, currents=None):
    """Electrode voltages and particle numbers against time. The run log
    counts records, which merging caps; with the run's currents.csv the lower
    panel shows the real numbers from it instead."""
    plt = _pyplot()
    time_us = log["Time_mks"]
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(10, 7))
    for name, label in (("Vs1", "Vs1 (sustain 1)"), ("Vs2", "Vs2 (sustain 2)"), ("Vaddr", "Vaddr (address)")):
        top.plot(time_us, log[name], label=label)
    top.set_ylabel("voltage (V)")
    top.legend(loc="best")
    top.grid(True, alpha=0.3)
    top.set_title("Electrode voltages and particles in the cell")
    if currents is not None:
        series = [(currents["t_us"], currents["ions_real"], "ions"),
                  (currents["t_us"], currents["electrons_real"], "electrons")]
        what = "real particles in the cell"
    else:
        series = [(time_us, log["Ions"], "ion records"), (time_us, log["Elecs"], "electron records")]
        what = "records in the particle stores\n(capped when merging)"
    # Numbers that span decades on a log axis, where zero has no place.
    counts = _positive(np.concatenate([values for _, values, _ in series]))
    log_axis = bool(np.any(counts > 0)) and np.nanmax(counts) > 100 * np.nanmin(counts)
    for when, values, label in series:
        bottom.plot(when, _positive(values) if log_axis else values, label=label)
    if log_axis:
        bottom.set_yscale("log")
    bottom.set_ylabel(what)
    bottom.set_xlabel("time (µs)")
    bottom.legend(loc="best")
    bottom.grid(True, alpha=0.3)
    fig.tight_layout()
    return fig


ELECTRODE_LINES = (("S1", "tab:blue"), ("S2", "tab:orange"), ("A", "tab:green"))


def _positive(values):
    """Values for a log axis: zero and below left out."""
    return np.where(values > 0, values, np.nan)


def _electrode_panels(top, middle, currents, time, marks=()):
    for name, colour in ELECTRODE_LINES:
        top.plot(time, currents[f"V_{name}_V"], color=colour, label=f"V {name}")
        middle.plot(time, currents[f"I_{name}_uA"], color=colour, label=f"I {name} (total)")
        middle.plot(time, currents[f"Icond_{name}_uA"], color=colour, linestyle="--", linewidth=0.9,
                    label=f"I {name} (conduction)")
    top.set_ylabel("electrode voltage (V)")
    middle.set_ylabel("current into the electrode (µA)")
    for ax in (top, middle):
        ax.axhline(0.0, color="grey", linewidth=0.5)
        for t in marks:
            ax.axvline(t, color="grey", linewidth=0.6, linestyle=":")
    top.legend(loc="center right", fontsize=8, ncol=3)
    middle.legend(loc="upper right", fontsize=7, ncol=3)


def currents_figure(currents, pulses=None):
    """Electrode voltages and currents and the real particle numbers against
    time; with pulses.csv, the pulses' starts marked and numbered."""
    plt = _pyplot()
    time = currents["t_us"]
    starts = [] if pulses is None else list(pulses["t_start_us"])
    fig, (top, middle, bottom) = plt.subplots(3, 1, sharex=True, figsize=(11, 9))
    _electrode_panels(top, middle, currents, time, starts)
    every = max(1, len(starts) // 25)  # numbers that stay apart on a long run
    for t, number in list(zip(starts, [] if pulses is None else pulses["pulse"]))[::every]:
        top.annotate(f"{number:.0f}", (t, 1.0), xycoords=("data", "axes fraction"), xytext=(3, -12),
                     textcoords="offset points", fontsize=8, color="grey")
    bottom.plot(time, _positive(currents["ions_real"]), label="ions")
    bottom.plot(time, _positive(currents["electrons_real"]), label="electrons")
    bottom.set_yscale("log")
    bottom.set_ylabel("real particles in the cell")
    bottom.set_xlabel("time (µs)" + ("; dotted: pulse starts, numbered" if starts else ""))
    bottom.legend(loc="upper left", fontsize=8)
    for ax in (top, middle, bottom):
        ax.grid(True, alpha=0.3)
    top.set_title("Electrode voltages and currents, and the particles in the cell")
    fig.tight_layout()
    return fig


def vuv_shown(pulses):
    """The VUV figure of each pulse, blank (NaN) for a pulse that did not
    fire: its tiny, perhaps negative drive energy makes the ratio noise."""
    return np.where(pulses["fired"] == 1, pulses["VUV_efficiency"], np.nan)


def pulse_figure(currents, pulse):
    """The voltages and currents of one pulse against the time from its start;
    pulse is a dict of one row of pulses.csv."""
    plt = _pyplot()
    start, end = pulse["t_start_us"], pulse["t_end_us"]
    inside = (currents["t_us"] >= start) & (currents["t_us"] <= end)
    window = {name: values[inside] for name, values in currents.items()}
    time_ns = (window["t_us"] - start) * 1e3
    fired = pulse["fired"] == 1
    peak = [(pulse["t_peak_us"] - start) * 1e3] if fired and np.isfinite(pulse["t_peak_us"]) else []
    fig, (top, middle) = plt.subplots(2, 1, sharex=True, figsize=(10, 7))
    _electrode_panels(top, middle, window, time_ns, peak)
    if peak:
        middle.plot(peak, [pulse["I_peak_uA"]], "kv", label="peak of the conduction current into S1")
        middle.legend(loc="upper right", fontsize=7, ncol=3)
    length = (end - start) * 1e3
    shown = length
    if peak:
        # The discharge takes the first part of a long plateau: show that part.
        shown = min(length, max(4.0 * peak[0], peak[0] + 300.0))
        middle.set_xlim(-0.02 * shown, shown)
    cut = f", the first {shown:.0f} of {length:.0f} ns shown" if shown < length else ""
    middle.set_xlabel(f"time from the pulse's start at {start:.4f} µs (ns){cut}")
    for ax in (top, middle):
        ax.grid(True, alpha=0.3)
    state = (f"fired, delay {pulse['delay_ns']:.1f} ns, peak {pulse['I_peak_uA']:.3g} µA" if fired
             else "did not fire")
    vuv = f", VUV figure {pulse['VUV_efficiency']:.3g}" if fired and "VUV_efficiency" in pulse else ""
    top.set_title(f"pulse {pulse['pulse']:.0f}: V_S1 − V_S2 = {pulse['V_applied_V']:.0f} V, wall voltage "
                  f"{pulse['Vwall_start_V']:.1f} → {pulse['Vwall_end_V']:.1f} V; {state}\n"
                  f"charge into S1 {pulse['Q_S1_pC']:.3g} pC, S2 {pulse['Q_S2_pC']:.3g} pC, "
                  f"A {pulse['Q_A_pC']:.3g} pC{vuv}", fontsize=10)
    fig.tight_layout()
    return fig


def pulses_figure(pulses):
    """Wall voltage, transferred charge and the VUV figure against the pulse
    number; pulses that did not fire are drawn hollow, and have no VUV
    figure."""
    plt = _pyplot()
    number = pulses["pulse"]
    fired = pulses["fired"] == 1
    with_vuv = "VUV_efficiency" in pulses
    fig, axes = plt.subplots(3 if with_vuv else 2, 1, sharex=True, figsize=(12, 9.5 if with_vuv else 7))
    top, bottom = axes[0], axes[1]

    # Markers only: lines between pulses of alternating sign would zigzag.
    def points(ax, values, marker, colour, label):
        ax.plot(number[fired], values[fired], marker, color=colour, linestyle="none", label=label)
        ax.plot(number[~fired], values[~fired], marker, color=colour, markerfacecolor="none", linestyle="none")

    top.plot(number, pulses["V_applied_V"], "_", color="grey", markersize=12, label="applied V_S1 − V_S2")
    points(top, pulses["Vwall_start_V"], "o", "tab:blue", "wall voltage at the start")
    points(top, pulses["Vwall_end_V"], "s", "tab:red", "wall voltage at the end")
    top.set_ylabel("voltage (V), S1 minus S2")
    for (name, colour), marker in zip(ELECTRODE_LINES, "o^s"):
        points(bottom, pulses[f"Q_{name}_pC"], marker, colour, f"into {name}")
    bottom.set_ylabel("charge transferred in the pulse (pC)")
    if with_vuv:
        axes[2].plot(number, vuv_shown(pulses), "D", color="tab:purple", linestyle="none",
                     label="Xe levels 1 and 2 over E_drive,\nfired pulses only")
        axes[2].set_ylabel("VUV figure (upper bound)")
        shown = vuv_shown(pulses)
        shown = shown[np.isfinite(shown)]
        axes[2].set_ylim(min(0.0, shown.min(initial=0.0)), max(0.5, 1.1 * shown.max(initial=0.0)))
        if not shown.size:
            axes[2].text(0.5, 0.5, "no pulse fired", transform=axes[2].transAxes, ha="center", va="center")
    axes[-1].set_xlabel("pulse" + ("; hollow: did not fire" if not fired.all() else ""))
    for ax in axes:
        ax.axhline(0.0, color="grey", linewidth=0.5)
        ax.grid(True, alpha=0.3)
        ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8)  # clear of the points
    if number.size <= 20:
        axes[-1].set_xticks(number)
    top.set_title("Wall voltage, transferred charge and VUV figure, pulse by pulse")
    fig.tight_layout()
    return fig


def vuv_figure(vuv, pulses=None):
    """The VUV power of each line reaching the phosphor (and all lines on
    the front plate) against time, above the excited xenon and excimers it
    comes from; with pulses.csv, the pulses' starts marked."""
    plt = _pyplot()
    time = vuv["t_us"]
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(12, 8))
    for line, colour in zip(VUV_LINES, ("tab:blue", "tab:green", "tab:purple")):
        top.plot(time, vuv[f"P{line}_phosphor_W"] * 1e3, color=colour, label=f"{line} nm on the phosphor")
    front = sum(vuv[f"P{line}_front_W"] for line in VUV_LINES)
    top.plot(time, front * 1e3, color="grey", linestyle="--", label="all lines on the front plate")
    top.set_ylabel("VUV power (mW)")
    for name, colour, label in (("N_1s5", "tab:purple", "Xe*(1s5)"), ("N_1s4", "tab:blue", "Xe*(1s4)"),
                                ("N_Xe_higher", "tab:orange", "Xe**"), ("N_excimers", "tab:green", "Xe2*")):
        bottom.plot(time, _positive(vuv[name]), color=colour, label=label)
    bottom.set_yscale("log")
    bottom.set_ylabel("real atoms or excimers in the cell")
    bottom.set_xlabel("time (µs)")
    if pulses is not None:
        for start, number in zip(pulses["t_start_us"], pulses["pulse"]):
            for ax in (top, bottom):
                ax.axvline(start, color="grey", linewidth=0.6, linestyle=":")
            top.annotate(f"{number:.0f}", (start, 1.0), xycoords=("data", "axes fraction"), fontsize=8,
                         ha="left", va="top")
    for ax in (top, bottom):
        ax.grid(True, alpha=0.3)
        ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8)
    top.set_title("VUV light of the run, by line, and the states it comes from")
    fig.tight_layout()
    return fig


def _save(fig, target):
    fig.savefig(target, dpi=110)
    _pyplot().close(fig)


def plot_tables(path, kind, table, out):
    """Draws currents.csv (with pulses.csv beside it, each pulse too) or
    pulses.csv; returns the pictures written."""
    if not table or next(iter(table.values())).size == 0:
        return []
    out.mkdir(parents=True, exist_ok=True)
    if kind == "pulses":
        target = out / "pulses.png"
        _save(pulses_figure(table), target)
        return [target]
    pulses = None
    sibling = path.parent / "pulses.csv"
    if sibling.is_file():
        try:
            sibling_kind, pulses, _ = read_table(sibling)
            if sibling_kind != "pulses" or pulses["pulse"].size == 0:
                pulses = None
        except (NotATable, OSError):
            pulses = None  # reported where pulses.csv is drawn itself
    target = out / (path.stem + ".png")
    if kind == "vuv":
        _save(vuv_figure(table, pulses), target)
        return [target]
    _save(currents_figure(table, pulses), target)
    written = [target]
    for n in range(0 if pulses is None else pulses["pulse"].size):
        row = {name: values[n] for name, values in pulses.items()}
        target = out / f"pulse_{row['pulse']:04.0f}.png"
        _save(pulse_figure(table, row), target)
        written.append(target)
    return written


def run_currents(path):
    """The rows of the run's currents.csv, or None when there are none."""
    try:
        kind, table, _ = read_table(path)
    except (NotATable, OSError):
        return None  # absent, or reported where currents.csv is drawn itself
    return table if kind == "currents" and table["t_us"].size else None


def collect(paths):
    """Expands run folders into their slice files and run log."""
    files = []
    for p in map(Path, paths):
        if p.is_dir():
            found = sorted(p.glob("OUT_*.2Ddata"))
            # The per-pulse files are there only in runs that write them.
            found.extend(p / name for name in ("general.txt", "currents.csv", "pulses.csv", "vuv.csv") if (p / name).is_file())
            if not found:
                print(f"plot_results: {p}: no slice files or general.txt here", file=sys.stderr)
            files.extend(found)
        else:
            files.append(p)
    return files


def main(argv=None):
    parser = argparse.ArgumentParser(description="Plots the slice files, run log and per-pulse files of a pdpcell run.")
    parser.add_argument("paths", nargs="*", default=["."], help="run folders or single files (default: .)")
    parser.add_argument("--out", help="folder for the PNG images (default: plots/ in the first run folder)")
    parser.add_argument("--block", type=int, default=-1,
                        help="time block to draw, from 1; negative counts from the end (default: -1, the last)")
    parser.add_argument("--log", action="store_true", help="log colour scale for the densities")
    parser.add_argument("--list", action="store_true", help="list the time blocks of each slice file and stop")
    args = parser.parse_args(argv)

    first = Path(args.paths[0])
    out = Path(args.out) if args.out else (first if first.is_dir() else first.parent) / "plots"
    failed = False
    for path in collect(args.paths):
        try:
            if path.suffix == ".csv":
                if args.list:
                    continue
                kind, table, incomplete = read_table(path)
                written = plot_tables(path, kind, table, out)
                note = " (an unfinished row at the end was skipped)" if incomplete else ""
                what = "pulses" if kind == "pulses" else "rows"
                if written:
                    print(f"{path}: {table['pulse' if kind == 'pulses' else 't_us'].size} {what} -> {', '.join(str(w) for w in written[:3])}"
                          f"{' ...' if len(written) > 3 else ''}{note}")
                else:
                    print(f"{path}: no {what} yet{note}")
                continue
            if path.name == "general.txt" or path.suffix == ".txt":
                if args.list:
                    continue
                log = read_run_log(path)
                if log["nstep"].size == 0:
                    print(f"{path}: no logged steps yet")
                    continue
                out.mkdir(parents=True, exist_ok=True)
                target = out / (path.stem + ".png")
                currents = run_currents(path.parent / "currents.csv")
                _save(run_log_figure(log, currents), target)
                numbers = "real numbers from currents.csv" if currents is not None else "record counts"
                print(f"{path}: {log['nstep'].size} logged steps ({numbers}) -> {target}")
                continue
            slices = read_slice_file(path)
            note = " (an unfinished block at the end was skipped)" if slices.incomplete_tail else ""
            if args.list:
                print(f"{path}: {slices.quantity or '?'}, {len(slices.blocks)} complete blocks{note}")
                for n, t in enumerate(slices.times, start=1):
                    print(f"  block {n}: t = {t:.6e} s")
                continue
            if not slices.blocks:
                print(f"{path}: no complete time block yet{note}")
                continue
            out.mkdir(parents=True, exist_ok=True)
            target = out / (path.name.removesuffix(".2Ddata") + ".png")
            plot_slice(slices, args.block, target, log_scale=args.log)
            index = pick_block(len(slices.blocks), args.block)
            print(f"{path}: block {index + 1} of {len(slices.blocks)} -> {target}{note}")
        except (NotASliceFile, NotARunLog, NotATable) as error:
            print(f"plot_results: {error}", file=sys.stderr)
            failed = True
        except IndexError as error:
            print(f"plot_results: {path}: {error}", file=sys.stderr)
            failed = True
        except OSError as error:
            print(f"plot_results: {path}: {error.strerror}", file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
