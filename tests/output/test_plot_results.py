"""Reader of the plotting tool on small slice files and run logs written here."""

import contextlib
import io
import sys
import tempfile
import unittest
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import plot_results  # noqa: E402


def es(value):
    """ES12.4 as the simulator writes it (three exponent digits drop the E)."""
    mantissa, exponent = f"{value:.4E}".split("E")
    e = int(exponent)
    return (f"{mantissa}E{e:+03d}" if abs(e) < 100 else f"{mantissa}{e:+04d}").rjust(12)


def slice_text(quantity, blocks, top=False, columns=4, rows=3, step=0.0002):
    """A slice file in the simulator's layout; blocks is [(time, 2-D array)];
    step (cm) is the grid step of the rows."""
    kind = "z" if top else "y"
    text = "scalar = 1 or vector = 2:\n 1\n"
    text += f"Grid size, x,{kind}: (cm)\n"
    text += f"{(columns - 1) * 0.0005:11.8f}  {(rows - 1) * step:11.8f}\n"
    text += f"Array dimensions:  (nx, n{kind})\n"
    text += f"{columns:4d}  {rows:4d}\n"
    for time, data in blocks:
        text += f"  TIME\n  {time:20.12E}\n {quantity.ljust(100)}\n"
        for row in data:
            text += " " + "".join(es(v) + "  " for v in row) + "\n"
    return text


def log_text(lines):
    text = " nstep     Time_mks        Vs1        Vs2       Vaddr     Ions     Elecs     cpu_time\n"
    for n, t, v1, v2, v3, ions, elecs, cpu in lines:
        text += f"{n:8d}{t:12.4f}{v1:10.2f}{v2:10.2f}{v3:10.2f}{ions:10d}{elecs:10d}{cpu:12.4f}\n"
    return text


CURRENTS_HEADER = ("step,t_us,V_S1_V,V_S2_V,V_A_V,I_S1_uA,I_S2_uA,I_A_uA,Icond_S1_uA,Icond_S2_uA,Icond_A_uA,"
                   "ions_real,electrons_real")
PULSES_HEADER = ("pulse,t_start_us,t_end_us,V_applied_V,Vwall_start_V,Vwall_end_V,fired,delay_ns,I_peak_uA,t_peak_us,"
                 "Q_S1_pC,Q_S2_pC,Q_A_pC,E_drive_nJ,E_electrons_nJ,E_ions_nJ,n_elastic_Xe,n_elastic_Ne,n_exc_Xe1,"
                 "n_exc_Xe2,n_exc_Xe3,n_exc_Xe4,n_exc_Xe5,n_exc_Xe6,n_ion_Xe,n_exc_Ne1,n_exc_Ne2,n_exc_Ne3,n_exc_Ne4,"
                 "n_exc_Ne5,n_exc_Ne6,n_ion_Ne,VUV_efficiency")


def currents_text(count=40):
    """Rows every 0.01 µs: S1 at 180 V from 0.1 µs, a current spike at 0.15 µs."""
    text = "# pdpcell currents: one row every 100 steps (10 ns)\n" + CURRENTS_HEADER + "\n"
    for n in range(count):
        t = 0.01 * n
        spike = 30.0 if abs(t - 0.15) < 1e-9 else 0.0
        text += (f"{100 * n + 1},{t:.6e},{180.0 if t >= 0.1 else 0.0:.6e},0,0,{spike:.6e},{-spike:.6e},0,"
                 f"{spike:.6e},{-spike:.6e},0,{1e6 * spike:.6e},{0.0 if n < 5 else 40.0:.6e}\n")
    return text


def pulses_text():
    """Pulse 1 (0.1 to 0.25 µs) fired; pulse 2 (to 0.35 µs) did not: its delay
    is empty, and its VUV figure the noise of a drive energy near zero."""
    tail = "," + ",".join(["0"] * 19) + ","
    return ("# pdpcell pulses: one row per half-period\n" + PULSES_HEADER + "\n"
            "1,1.000000e-01,2.500000e-01,180,-20.5,-150.25,1,50,30,1.500000e-01,1.5,-1.25,-0.25" + tail +
            "4.2e-01\n2,2.500000e-01,3.500000e-01,-180,150.25,149,0,,0.1,3.000000e-01,0,0,0" + tail + "-2.765771e-07\n")


def texts_of(fig):
    """Every text a figure shows: titles, labels, ticks, notes and legends."""
    from matplotlib.text import Text

    return [t for t in fig.findobj(Text) if t.get_visible() and t.get_text().strip()]


FIRST = np.array([[0.0, 1.5e10, -2.0e9, 3.0], [4.0, 5.0, 6.0, 7.0], [8.0, 9.0, 1.0e-3, 0.0]])
SECOND = FIRST * 2.0


class Folder(unittest.TestCase):
    def setUp(self):
        self._folder = tempfile.TemporaryDirectory()
        self.folder = Path(self._folder.name)

    def tearDown(self):
        self._folder.cleanup()

    def write(self, name, text):
        path = self.folder / name
        path.write_text(text)
        return path


class ReadSliceFile(Folder):
    def test_two_blocks_with_their_times_and_values(self):
        path = self.write("OUT_Ion_Density.2Ddata", slice_text("Ion_Density", [(0.0, FIRST), (1e-7, SECOND)]))
        s = plot_results.read_slice_file(path)
        self.assertEqual((s.kind, s.quantity, s.columns, s.rows), ("x-y", "Ion_Density", 4, 3))
        self.assertAlmostEqual(s.width, 0.0015)
        self.assertAlmostEqual(s.height, 0.0004)
        self.assertEqual(s.times, [0.0, 1e-7])
        self.assertEqual(len(s.blocks), 2)
        np.testing.assert_allclose(s.blocks[0], FIRST, rtol=1e-4)
        np.testing.assert_allclose(s.blocks[1], SECOND, rtol=1e-4)
        self.assertFalse(s.incomplete_tail)

    def test_potential_blocks_carry_the_two_plate_rows(self):
        plates = np.vstack([np.full(4, 180.0), FIRST, np.full(4, -1.0e100)])
        path = self.write("OUT_Potential.2Ddata", slice_text("Potential", [(0.0, plates), (1e-7, plates)]))
        s = plot_results.read_slice_file(path)
        self.assertEqual(s.rows, 3)
        self.assertEqual([b.shape for b in s.blocks], [(5, 4), (5, 4)])
        self.assertEqual(s.blocks[1][4, 0], -1.0e100)  # written as -1.0000+100

    def test_top_view(self):
        rows = np.arange(8.0).reshape(2, 4) * -1.0
        path = self.write("OUT_Electron_Density_top.2Ddata",
                          slice_text("Electron_Density_top", [(2e-7, rows)], top=True, rows=2))
        s = plot_results.read_slice_file(path)
        self.assertEqual((s.kind, s.rows, s.times), ("x-z", 2, [2e-7]))
        np.testing.assert_array_equal(s.blocks[0], rows)

    def test_a_block_still_being_written_is_skipped(self):
        full = slice_text("Ion_Density", [(0.0, FIRST), (1e-7, SECOND)])
        second = full.index("  TIME", full.index("  TIME") + 1)
        last_row = full.rindex("\n", 0, len(full) - 1) + 1
        cuts = {
            "after the first block": second,
            "inside the TIME line": second + 4,
            "after the time": full.index("\n", second + 8) + 1,
            "after one row": full.index("\n", full.index("Ion_Density", second) + 101) + 1,
            "inside the last row": last_row + 30,
            "before the last newline": len(full) - 1,
        }
        for where, cut in cuts.items():
            with self.subTest(where):
                path = self.write("OUT_Ion_Density.2Ddata", full[:cut])
                s = plot_results.read_slice_file(path)
                self.assertEqual(s.times, [0.0])
                np.testing.assert_allclose(s.blocks[0], FIRST, rtol=1e-4)
                self.assertEqual(s.incomplete_tail, where != "after the first block")

    def test_header_only_has_no_block(self):
        path = self.write("OUT_Ion_Density.2Ddata", slice_text("Ion_Density", []))
        self.assertEqual(plot_results.read_slice_file(path).blocks, [])

    def test_files_that_are_not_slice_files_are_named_with_the_reason(self):
        good = slice_text("Ion_Density", [(0.0, FIRST), (1e-7, SECOND)])
        rows = good.splitlines(keepends=True)
        cases = {
            "empty": ("", "it is empty"),
            "run log": (log_text([(1, 0.0, 0, 0, 0, 46, 46, 0.0)]), "line 1: expected 'scalar"),
            "vector": (good.replace(" 1\n", " 2\n", 1), "line 2"),
            "dimensions": ("".join(rows[:5] + [" 4  three\n"] + rows[6:]), "line 6"),
            "short block in the middle": ("".join(rows[:10] + rows[12:]), "line 7: time block with 1 rows instead of 3"),
            "short row": ("".join(rows[:9] + [" 1.0000E+00  2.0000E+00\n"] + rows[10:]), "line 10: 2 values"),
            "header cut": ("".join(rows[:3]), "line 4: the header ends early"),
        }
        for name, (text, reason) in cases.items():
            with self.subTest(name):
                path = self.write("OUT_case.2Ddata", text)
                with self.assertRaises(plot_results.NotASliceFile) as caught:
                    plot_results.read_slice_file(path)
                message = str(caught.exception)
                self.assertIn(str(path), message)
                self.assertIn("not a slice file", message)
                self.assertIn(reason, message)


class ReadRunLog(Folder):
    def test_columns_stars_and_an_unfinished_last_line(self):
        text = log_text([(1, 0.0, 180.0, -180.0, 0.0, 46, 46, 0.001), (21, 0.002, 170.5, -170.5, 60.0, 50, 52, 0.25)])
        text = text.replace("  60.00", "*******")  # a value too wide for its column
        path = self.write("general.txt", text + "      41      0.0040    16")
        log = plot_results.read_run_log(path)
        np.testing.assert_array_equal(log["nstep"], [1, 21])
        np.testing.assert_allclose(log["Time_mks"], [0.0, 0.002])
        np.testing.assert_allclose(log["Vs1"], [180.0, 170.5])
        np.testing.assert_array_equal(log["Elecs"], [46, 52])
        self.assertTrue(np.isnan(log["Vaddr"][1]))
        self.assertEqual(log["Vaddr"][0], 0.0)

    def test_not_a_run_log(self):
        path = self.write("general.txt", slice_text("Potential", []))
        with self.assertRaisesRegex(plot_results.NotARunLog, "not a run log"):
            plot_results.read_run_log(path)


class SlicePictures(Folder):
    """Pictures of files on the built-in cell's grid: 135 columns, 65 section
    rows (67 with the potential's plates) or 22 top-view rows."""

    def figure(self, quantity, data, top=False):
        rows = 22 if top else 65
        path = self.write(f"OUT_{quantity}.2Ddata",
                          slice_text(quantity, [(4e-7, data)], top, 135, rows, 0.001 if top else 0.0002))
        s = plot_results.read_slice_file(path)
        self.assertTrue(plot_results.fits_the_cell(s))
        fig = plot_results.slice_figure(s, -1)
        self.addCleanup(plot_results._pyplot().close, fig)
        self.last_figure = fig
        ax = fig.axes[0]
        texts = [t.get_text() for t in ax.texts] + [ax.get_title()]
        return ax.collections[0], " | ".join(texts), fig.axes[1].get_ylabel()

    def test_the_cell_coordinates_of_rows_and_columns(self):
        def coordinates(quantity, rows, top=False):
            s = plot_results.SliceFile("f", "x-z" if top else "x-y", 0.067, 0.001 * (rows - 1) if top else
                                       0.0002 * (rows - 1), 135, rows)
            s.quantity = quantity
            return plot_results.slice_coordinates(s, rows + (2 if quantity == "Potential" else 0))

        y, x = coordinates("Ion_Density", 65)
        self.assertEqual((y[0], y[-1], x[0], x[-1]), (12.5, 682.5, 5.0, 133.0))
        _, x = coordinates("Potential", 65)
        self.assertEqual((x[0], x[-1]), (3.0, 135.0))  # the electrodes' nodes
        _, z = coordinates("Ion_Density_top", 22, top=True)
        np.testing.assert_allclose(z[9:13], [5.0, 15.0, 25.0, 35.0])  # rows 11 and 12 mirror each other
        self.assertEqual((z[0], z[-1]), (-85.0, 125.0))

    def test_empty_planes_are_named_and_sums_have_their_unit(self):
        empty = np.zeros((65, 135))
        _, texts, _ = self.figure("Electron_Density", empty)
        self.assertIn("no electrons in this plane at t = 400.000 ns", texts)
        self.assertIn("z = 25 µm", texts)
        for name in ("S1", "S2", "A (address electrode)", "front dielectric", "rear dielectric"):
            self.assertIn(name, texts)

        sums = np.zeros((22, 135))
        sums[11, 60] = -2.0e10  # electron sums are written negative
        mesh, texts, unit = self.figure("Electron_Density_top", sums, top=True)
        self.assertNotIn("no electrons", texts)
        self.assertIn("cm⁻²", unit)
        # Positive column densities: zero at the bottom of the scale.
        self.assertEqual((mesh.norm.vmin, mesh.norm.vmax), (0.0, 4.0e6))

    def test_titles_are_physical_and_text_reads_on_a_slide(self):
        for quantity, top in (("Ion_Density", False), ("Electron_Density_top", True)):
            with self.subTest(quantity):
                data = np.full((22, 135) if top else (65, 135), 1.0e9)
                _, texts, _ = self.figure(quantity, data, top)
                fig = self.last_figure
                self.assertNotIn(".2Ddata", texts)
                self.assertNotIn("block", texts)
                self.assertIn(" at t = 400.0 ns", texts)
                # Shown 10 inches wide, no text smaller than 12 pt.
                width = fig.get_size_inches()[0]
                smallest = min(texts_of(fig), key=lambda t: t.get_fontsize())
                self.assertGreaterEqual(smallest.get_fontsize() * 10.0 / width, 12.0, smallest.get_text())

    def test_the_potential_is_centred_on_zero(self):
        phi = np.linspace(-50.0, 180.0, 67 * 135).reshape(67, 135)
        mesh, texts, unit = self.figure("Potential", phi)
        self.assertEqual((mesh.norm.vmin, mesh.norm.vmax), (-180.0, 180.0))
        self.assertNotIn("no ", texts)
        self.assertEqual(unit, "V")  # the title names the quantity


class ReadTables(Folder):
    def test_comment_header_rows_and_an_empty_delay(self):
        kind, pulses, incomplete = plot_results.read_table(self.write("pulses.csv", pulses_text()))
        self.assertEqual((kind, incomplete), ("pulses", False))
        np.testing.assert_array_equal(pulses["pulse"], [1, 2])
        np.testing.assert_array_equal(pulses["Vwall_end_V"], [-150.25, 149.0])
        self.assertEqual(pulses["delay_ns"][0], 50.0)
        self.assertTrue(np.isnan(pulses["delay_ns"][1]))
        self.assertEqual(len(pulses), 33)

    def test_a_row_still_being_written_is_left_out(self):
        full = currents_text(3)
        last = full.rindex("\n", 0, len(full) - 1) + 1
        cuts = {"inside the last row": last + 20, "before its newline": len(full) - 1,
                "inside the header": full.index("V_A_V")}
        for where, cut in cuts.items():
            with self.subTest(where):
                if where == "inside the header":
                    self.assertEqual(plot_results.read_table(self.write("currents.csv", full[:cut])), (None, {}, True))
                    continue
                kind, currents, incomplete = plot_results.read_table(self.write("currents.csv", full[:cut]))
                self.assertEqual((kind, incomplete), ("currents", True))
                np.testing.assert_allclose(currents["t_us"], [0.0, 0.01])

    def test_files_of_another_layout_are_named_with_the_reason(self):
        rows = currents_text(3).splitlines(keepends=True)
        cases = {
            "other columns": ("# x\na,b\n1,2\n", "not currents.csv or pulses.csv (the header lacks t_us"),
            "short row inside": ("".join(rows[:3] + ["1,2,3\n"] + rows[3:]), "line 4 has 3 fields, the header 13"),
            "not a number": ("".join(rows[:2] + [rows[2].replace(",0,0,", ",0,x,")] + rows[3:]),
                             "line 3 holds something other"),
        }
        for name, (text, reason) in cases.items():
            with self.subTest(name):
                with self.assertRaises(plot_results.NotATable) as caught:
                    plot_results.read_table(self.write("currents.csv", text))
                self.assertIn(reason, str(caught.exception))


class PulsePictures(Folder):
    def test_a_pulse_shows_its_own_rows_and_the_numbers_a_log_axis(self):
        _, currents, _ = plot_results.read_table(self.write("currents.csv", currents_text()))
        _, pulses, _ = plot_results.read_table(self.write("pulses.csv", pulses_text()))
        plt = plot_results._pyplot()
        for n, (first, last, state) in enumerate(((0.0, 150.0, "delay 50.0 ns"), (0.0, 100.0, "did not fire"))):
            with self.subTest(pulse=n + 1):
                fig = plot_results.pulse_figure(currents, {k: v[n] for k, v in pulses.items()})
                self.addCleanup(plt.close, fig)
                times = np.concatenate([line.get_xdata() for line in fig.axes[0].get_lines()[:3]])
                self.assertAlmostEqual(times.min(), first)
                self.assertAlmostEqual(times.max(), last)
                self.assertIn(state, fig.axes[0].get_title())
                self.assertEqual("VUV figure 0.42" in fig.axes[0].get_title(), n == 0)
        # The VUV figure of the pulse that did not fire is left blank.
        fig = plot_results.pulses_figure(pulses)
        self.addCleanup(plt.close, fig)
        vuv = fig.axes[2].get_lines()[0].get_ydata()
        self.assertEqual(vuv[0], 0.42)
        self.assertTrue(np.isnan(vuv[1]))
        self.assertEqual([t.get_text() for t in texts_of(fig) if "e-07" in t.get_text() or ".csv" in t.get_text()], [])
        fig = plot_results.currents_figure(currents, pulses)
        self.addCleanup(plt.close, fig)
        self.assertNotIn(".csv", fig.axes[0].get_title())
        numbers = fig.axes[2]
        self.assertEqual(numbers.get_yscale(), "log")
        electrons = numbers.get_lines()[1].get_ydata()
        self.assertTrue(np.isnan(electrons[:5]).all())  # zero has no place on a log axis
        self.assertEqual(electrons[5], 40.0)


VUV_HEADER = ("step,t_us,P147_phosphor_W,P150_phosphor_W,P173_phosphor_W,P147_front_W,P150_front_W,P173_front_W,"
              "N_1s5,N_1s4,N_Xe_higher,N_excimers,peak_1s5_cm3,peak_1s4_cm3")


class VuvPicture(Folder):
    def test_the_lines_power_in_mw_and_the_states_on_a_log_axis(self):
        rows = "11,1.0e-03,2e-6,0,1e-6,1e-6,0,0,0,10,2,0,0,0\n21,2.0e-03,4e-6,1e-7,3e-6,2e-6,0,1e-6,5,20,1,3,1e12,2e12\n"
        kind, vuv, _ = plot_results.read_table(self.write("vuv.csv", "# pdpcell VUV\n" + VUV_HEADER + "\n" + rows))
        self.assertEqual(kind, "vuv")
        _, pulses, _ = plot_results.read_table(self.write("pulses.csv", pulses_text()))
        plt = plot_results._pyplot()
        fig = plot_results.vuv_figure(vuv, pulses)
        self.addCleanup(plt.close, fig)
        top, bottom = fig.axes[:2]
        lines = {line.get_label(): line.get_ydata() for line in top.get_lines() if not line.get_label().startswith("_")}
        np.testing.assert_allclose(lines["147 nm on the phosphor"], [2e-3, 4e-3])
        np.testing.assert_allclose(lines["all lines on the front plate"], [1e-3, 3e-3])
        self.assertEqual(bottom.get_yscale(), "log")
        metastables = [line for line in bottom.get_lines() if line.get_label() == "Xe*(1s5)"][0].get_ydata()
        self.assertTrue(np.isnan(metastables[0]))  # none yet: no place on a log axis
        self.assertEqual(metastables[1], 5.0)
        fig = plot_results.pulses_figure(pulses)
        self.addCleanup(plt.close, fig)
        self.assertEqual(fig.axes[2].get_ylabel(), "VUV figure (upper bound)")


class RunLogPicture(Folder):
    def test_real_numbers_from_currents_or_the_records_labelled_as_such(self):
        log = plot_results.read_run_log(self.write("general.txt", log_text(
            [(1, 0.0, 180, -180, 0, 46, 46, 0.0), (21, 0.002, 170, -170, 0, 1000, 52, 0.1)])))
        _, currents, _ = plot_results.read_table(self.write("currents.csv", currents_text()))
        plt = plot_results._pyplot()
        fig = plot_results.run_log_figure(log, currents)
        self.addCleanup(plt.close, fig)
        numbers = fig.axes[1]
        self.assertEqual(numbers.get_ylabel(), "real particles in the cell")
        ions = numbers.get_lines()[0]
        np.testing.assert_allclose(ions.get_xdata(), currents["t_us"])
        self.assertEqual(np.nanmax(ions.get_ydata()), 3.0e7)  # the real ions of the spike, not the 1000 records
        self.assertNotIn("general.txt", fig.axes[0].get_title())

        fig = plot_results.run_log_figure(log)
        self.addCleanup(plt.close, fig)
        self.assertIn("records", fig.axes[1].get_ylabel())
        self.assertEqual([line.get_label() for line in fig.axes[1].get_lines()], ["ion records", "electron records"])
        np.testing.assert_array_equal(fig.axes[1].get_lines()[0].get_ydata(), [46, 1000])


class CommandLine(Folder):
    def run_main(self, *args):
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            status = plot_results.main([str(a) for a in args])
        return status, out.getvalue(), err.getvalue()

    def test_a_run_folder_gives_one_png_per_file(self):
        self.write("OUT_Ion_Density.2Ddata", slice_text("Ion_Density", [(0.0, FIRST), (1e-7, SECOND)]))
        self.write("OUT_Electron_Density_top.2Ddata",
                   slice_text("Electron_Density_top", [(0.0, -FIRST)], top=True))
        self.write("general.txt", log_text([(1, 0.0, 180, -180, 0, 46, 46, 0.0), (21, 0.002, 170, -170, 0, 50, 52, 0.1)]))
        status, out, err = self.run_main(self.folder, "--block", "1", "--log")
        self.assertEqual((status, err), (0, ""))
        for name in ("OUT_Ion_Density.png", "OUT_Electron_Density_top.png", "general.png"):
            with self.subTest(name):
                self.assertEqual((self.folder / "plots" / name).read_bytes()[:8], b"\x89PNG\r\n\x1a\n")
        self.assertIn("block 1 of 2", out)

        # The per-pulse files, when the run writes them: each pulse gets a picture.
        self.write("currents.csv", currents_text() + "400001,4.0e-01,1.8")
        self.write("pulses.csv", pulses_text())
        status, out, err = self.run_main(self.folder)
        self.assertEqual((status, err), (0, ""))
        self.assertIn("currents.csv: 40 rows -> ", out)
        self.assertIn("general.txt: 2 logged steps (real numbers from currents.csv) -> ", out)
        self.assertIn("(an unfinished row at the end was skipped)", out)
        self.write("vuv.csv", "# pdpcell VUV\n" + VUV_HEADER + "\n11,1.0e-03,2e-6,0,1e-6,1e-6,0,0,0,10,2,0,0,0\n")
        status, out, err = self.run_main(self.folder)
        self.assertEqual((status, err), (0, ""))
        self.assertIn("vuv.csv: 1 rows -> ", out)
        for name in ("currents.png", "pulses.png", "pulse_0001.png", "pulse_0002.png", "vuv.png"):
            with self.subTest(name):
                self.assertEqual((self.folder / "plots" / name).read_bytes()[:8], b"\x89PNG\r\n\x1a\n")
        # No pulse completed yet: said, and no pulse pictures.
        self.write("pulses.csv", pulses_text().split("1,1.0")[0])
        status, out, err = self.run_main(self.folder, "--out", self.folder / "early")
        self.assertEqual((status, err), (0, ""))
        self.assertIn("pulses.csv: no pulses yet", out)
        self.assertTrue((self.folder / "early" / "currents.png").is_file())
        self.assertEqual(list((self.folder / "early").glob("pulse*.png")), [])

        status, _, err = self.run_main(self.folder / "OUT_Ion_Density.2Ddata", "--block", "3")
        self.assertEqual(status, 1)
        self.assertIn("block 3 does not exist (the file has 2 complete blocks)", err)

    def test_a_bad_file_is_reported_and_the_others_still_plotted(self):
        self.write("OUT_Ion_Density.2Ddata", slice_text("Ion_Density", [(0.0, FIRST)]))
        bad = self.write("notes.2Ddata", "just some notes\n")
        status, _, err = self.run_main(bad, self.folder / "OUT_Ion_Density.2Ddata", "--out", self.folder / "pictures")
        self.assertEqual(status, 1)
        self.assertIn(f"plot_results: {bad}: not a slice file (line 1", err)
        self.assertTrue((self.folder / "pictures" / "OUT_Ion_Density.png").is_file())
        self.assertFalse((self.folder / "pictures" / "notes.png").exists())


if __name__ == "__main__":
    unittest.main()
