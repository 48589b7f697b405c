#!/usr/bin/python3
"""Pictures of a pdpcell run: the slice files and the run log as PNG images.

Usage: plot_results.py [PATH ...] [--out DIR] [--block N] [--log] [--list]

Each PATH is a run folder (all its OUT_*.2Ddata files and general.txt are
plotted) or a single slice file or run log. Every slice file gives one colour
map of one time block (default: the last complete one); general.txt gives the
electrode voltages and particle counts against time. Files of a run that is
still going can be read: a last block or line that is not yet complete is
skipped.
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


def plot_slice(slice_file, block, out_path, log_scale=False):
    """Draws one time block as a colour map with axes in micrometres."""
    plt = _pyplot()
    from matplotlib.colors import LogNorm

    index = pick_block(len(slice_file.blocks), block)
    data = slice_file.blocks[index]
    rows, columns = data.shape
    step_y = slice_file.width / max(columns - 1, 1) * CM_TO_UM
    step_2 = slice_file.height / max(slice_file.rows - 1, 1) * CM_TO_UM
    y = np.arange(columns) * step_y
    if slice_file.kind == "x-y":
        # Rows from the front plate down; the plate rows of the potential sit
        # one step outside the interior rows.
        first = -EXTRA_ROWS.get(slice_file.quantity, 0) // 2
        second = (np.arange(rows) + first) * step_2
        vertical_label = "x (µm), front plate at the top"
    else:
        # The z profile mirrored then direct, centred on the mirror plane.
        second = (np.arange(rows) - (rows - 1) / 2.0) * step_2
        vertical_label = "z (µm), mirror plane at 0"

    is_potential = slice_file.quantity == "Potential"
    norm, cmap, shown = None, ("coolwarm" if is_potential else "viridis"), data
    if log_scale and not is_potential:
        shown = np.ma.masked_less_equal(np.abs(data), 0.0)
        if shown.count() > 0:
            # Six decades are enough; a few tiny weights would squeeze the rest.
            top = shown.max()
            norm = LogNorm(vmin=max(shown.min(), top * 1e-6), vmax=top, clip=True)
    if is_potential:
        unit = "V"
    elif slice_file.kind == "x-y":
        unit = "number density (cm⁻³)"
    else:
        unit = "sum over the x nodes of the number density (cm⁻³)"
    if norm is not None:
        unit = "|" + unit + "|, log scale"

    aspect = (second[-1] - second[0] + step_2) / (y[-1] - y[0] + step_y)
    fig, ax = plt.subplots(figsize=(11, max(2.5, 11 * aspect + 1.2)))
    mesh = ax.pcolormesh(y, second, shown, shading="nearest", cmap=cmap, norm=norm)
    if slice_file.kind == "x-y":
        ax.invert_yaxis()
    ax.set_aspect("equal")
    ax.set_xlabel("y (µm), along the cell")
    ax.set_ylabel(vertical_label)
    ax.set_title(f"{slice_file.quantity}   t = {slice_file.times[index] * 1e9:.3f} ns"
                 f"   (block {index + 1} of {len(slice_file.blocks)})")
    fig.colorbar(mesh, ax=ax, label=unit, fraction=0.05, pad=0.02)
    fig.tight_layout()
    fig.savefig(out_path, dpi=110)
    plt.close(fig)


def plot_run_log(log, out_path, title="general.txt"):
    """Electrode voltages and particle counts against time."""
    plt = _pyplot()
    time_us = log["Time_mks"]
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(10, 7))
    for name, label in (("Vs1", "Vs1 (sustain 1)"), ("Vs2", "Vs2 (sustain 2)"), ("Vaddr", "Vaddr (address)")):
        top.plot(time_us, log[name], label=label)
    top.set_ylabel("voltage (V)")
    top.legend(loc="best")
    top.grid(True, alpha=0.3)
    top.set_title(title)
    for name, label in (("Ions", "ions"), ("Elecs", "electrons")):
        bottom.plot(time_us, log[name], label=label)
    counts = np.concatenate([log["Ions"], log["Elecs"]])
    if counts.size and np.nanmin(counts) > 0 and np.nanmax(counts) > 100 * np.nanmin(counts):
        bottom.set_yscale("log")
    bottom.set_ylabel("particles in the stores")
    bottom.set_xlabel("time (µs)")
    bottom.legend(loc="best")
    bottom.grid(True, alpha=0.3)
    fig.tight_layout()
    fig.savefig(out_path, dpi=110)
    plt.close(fig)


def collect(paths):
    """Expands run folders into their slice files and run log."""
    files = []
    for p in map(Path, paths):
        if p.is_dir():
            found = sorted(p.glob("OUT_*.2Ddata"))
            if (p / "general.txt").is_file():
                found.append(p / "general.txt")
            if not found:
                print(f"plot_results: {p}: no slice files or general.txt here", file=sys.stderr)
            files.extend(found)
        else:
            files.append(p)
    return files


def main(argv=None):
    parser = argparse.ArgumentParser(description="Plots the slice files and the run log of a pdpcell run.")
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
            if path.name == "general.txt" or path.suffix == ".txt":
                if args.list:
                    continue
                log = read_run_log(path)
                if log["nstep"].size == 0:
                    print(f"{path}: no logged steps yet")
                    continue
                out.mkdir(parents=True, exist_ok=True)
                target = out / (path.stem + ".png")
                plot_run_log(log, target, title=str(path))
                print(f"{path}: {log['nstep'].size} logged steps -> {target}")
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
        except (NotASliceFile, NotARunLog) as error:
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
