"""The study tool without the simulator: study files, the scaled waveform,
pulses from the run log and from pulses.csv, the analyses built on them, and
the progress line (with an injected clock)."""
import dataclasses
import fcntl
import io
import math
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pdpcell_study import execute, report, results  # noqa: E402
from pdpcell_study import study as st  # noqa: E402

SOURCE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BASE = os.path.join(SOURCE, "examples", "sustain")
PULSE_HEADER = ("pulse,t_start_us,t_end_us,V_applied_V,Vwall_start_V,Vwall_end_V,fired,delay_ns,I_peak_uA,t_peak_us,"
                "Q_S1_pC,Q_S2_pC,Q_A_pC,E_drive_nJ,E_electrons_nJ,E_ions_nJ,n_elastic_Xe,n_elastic_Ne,n_exc_Xe1,"
                "n_exc_Xe2,n_exc_Xe3,n_exc_Xe4,n_exc_Xe5,n_exc_Xe6,n_ion_Xe,n_exc_Ne1,n_exc_Ne2,n_exc_Ne3,n_exc_Ne4,"
                "n_exc_Ne5,n_exc_Ne6,n_ion_Ne,VUV_efficiency")


def log_line(step, t, v1, v2, ions):
    return f"{step:8d}{t:12.4f}{v1:10.2f}{v2:10.2f}{0.0:10.2f}{ions:10d}{0:10d}{0.0:12.4f}\n"


class Temp(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="study-test-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def study_file(self, text):
        path = os.path.join(self.dir, "s.toml")
        with open(path, "w") as f:
            f.write(f'[study]\nbase = "{BASE}"\nbinary = "/bin/true"\n' + text)
        return path


class StudyFile(Temp):
    def test_runs_are_the_product_of_what_varies(self):
        s = st.load(self.study_file('[run]\nend_time_us = 0.5\noptions = ["--quiet"]\nlauncher = ["nice"]\n[vary]\n'
                                    'voltage = [160, 172.5]\nstate = ["lit", "unlit"]\n'
                                    'seeds = {first = 7, count = 3, second = 9}\noptions = [[], ["--plasma-field"]]\n'))
        self.assertEqual(len(s.runs), 2 * 2 * 3 * 2)
        self.assertEqual(s.max_steps, 5001)
        self.assertEqual(s.runs[-1].id, "V172.5_unlit_s9-9_o1")
        self.assertEqual(s.command(s.runs[-1]), ["nice", "/bin/true", "--max-steps", "5001", "--seed", "9", "9",
                                                 "--threads", "1", "--quiet", "--plasma-field"])
        self.assertEqual(s.base_voltage, 180.0)

    def test_a_listing_cut_short_by_its_reader_ends_quietly(self):
        import subprocess
        path = self.study_file('[run]\nend_time_us = 0.5\n[vary]\nvoltage = [160, 172.5]\n'
                               'seeds = {first = 7, count = 400, second = 9}\n')
        tool = subprocess.Popen(["/usr/bin/python3", os.path.join(SOURCE, "tools", "pdpcell-study"), "list", path],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        tool.stdout.readline()  # as `| head -1` does, then the reader goes
        tool.stdout.close()
        err = tool.stderr.read().decode()
        tool.wait()
        self.assertNotIn("Traceback", err)

    def test_mistakes_are_named(self):
        for text, words in (("[run]\nmax_steps = 10\nend_time_us = 1.0\n", "not both"),
                            ("[run]\nmax_steps = 10\n[vary]\nseeds = [[0, 5]]\n", "out of range"),
                            ("[run]\nmax_steps = 10\n[vary]\nstate = [\"dark\"]\n", "lit"),
                            ("[run]\nmax_steps = 10\noptions = [\"--seed\", \"1\", \"2\"]\n", "--seed"),
                            ("[run]\nmax_steps = 10\n[vary]\nvoltage = [170, 170.0]\n", "share the folder"),
                            ("[run]\nmax_steps = 10\n[analysis]\nfire = 3\n", "fire_ions"),
                            ("[run]\n", "max_steps"),
                            # an unknown key is named in every table, before anything it hides
                            ("[run]\nmax_step = 10\n", "unknown key 'max_step'; did you mean 'max_steps'"),
                            ("[run]\nmax_steps = 10\nstop_on_ion = 5\n", "[run]: unknown key 'stop_on_ion'"),
                            ("outptu = 'o'\n[run]\nmax_steps = 10\n", "[study]: unknown key 'outptu'"),
                            ("[run]\nmax_steps = 10\n[vary]\nseeds = {first = 1, cont = 3}\n", "'cont'")):
            with self.assertRaises(st.StudyError) as e:
                st.load(self.study_file(text))
            self.assertIn(words, str(e.exception))
        path = os.path.join(self.dir, "lost.toml")
        with open(path, "w") as f:
            f.write('[study]\nbase = "no-such-case"\n[run]\nmax_steps = 10\n')
        with self.assertRaises(st.StudyError) as e:
            st.load(path)
        self.assertIn(f"{os.path.join(self.dir, 'no-such-case')} does not exist", str(e.exception))
        # voltages that differ below the sixth digit still get folders of their own
        s = st.load(self.study_file("[run]\nmax_steps = 10\n[vary]\nvoltage = [170, 170.0000001]\n"))
        self.assertEqual(len({s.folder(r) for r in s.runs}), 2)

    def test_scaled_waveform(self):
        v = st.read_vdata(os.path.join(BASE, "Vdata.txt"))
        lines = v.scaled(150 / 180).splitlines()
        unlit = v.scaled(150 / 180, lit=False).splitlines()
        original = v.lines
        self.assertEqual(lines[6].split()[2:5], ["0", "150", "0"])
        self.assertEqual(unlit[6].split()[2:5], ["0", "0", "0"])
        rows = [i for i, l in enumerate(original) if i in v.table_lines]
        for i in rows:
            old, new = original[i].split(), lines[i].split()
            self.assertEqual(new[:2], old[:2])
            self.assertEqual([float(x) for x in new[2:5]], [float(x) * 150 / 180 for x in old[2:5]])
        others = [i for i in range(len(original)) if i not in rows and i != 6]
        self.assertEqual([lines[i] for i in others], [original[i].rstrip("\n") for i in others])
        # a switched-on sine section is refused: it would not be scaled
        text = "".join(original).replace("Sin Voltage (added to the table when its flag is 1)\n"
                                         "flag, then window start, window end and decay time (s)\n0",
                                         "Sin Voltage (added to the table when its flag is 1)\n"
                                         "flag, then window start, window end and decay time (s)\n1")
        path = os.path.join(self.dir, "Vdata.txt")
        with open(path, "w") as f:
            f.write(text)
        with self.assertRaises(st.StudyError):
            st.read_vdata(path)


class RunLog(Temp):
    def test_pulses_between_reversals_fired_by_the_ion_count(self):
        # -100 V until 0.1 us, ramp to +100 V by 0.2 us (zero at 0.15 us), back through
        # zero at 0.35 us; the ions rise past 1000 at 0.3 us only, the run ends at 0.5 us.
        lines = ["   nstep     Time_mks        Vs1        Vs2       Vaddr     Ions     Elecs     cpu_time\n"]
        for n in range(0, 51):
            t = n * 0.01
            d = -100 if t <= 0.1 else (-100 + 2000 * (t - 0.1) if t < 0.2 else (100 if t <= 0.3 else (
                100 - 2000 * (t - 0.3) if t < 0.4 else -100)))
            ions = 5000 if 0.3 <= t < 0.33 else 10
            lines.append(log_line(200 * n + 1, t, max(d, 0), max(-d, 0), ions))
        path = os.path.join(self.dir, "general.txt")
        with open(path, "w") as f:
            f.writelines(lines + ["    1021      0.5100"])          # a line being written
        p = results.pulses_from_log(path, 1000)
        # numbered as pulses.csv: pulse 1 from the start to the first reversal
        self.assertEqual([x["pulse"] for x in p], [1, 2, 3])
        self.assertEqual((p[0]["t_start_us"], p[0]["fired"], p[0]["complete"], p[0]["V_applied_V"]),
                         (0.0, 0, 1, -100.0))
        self.assertAlmostEqual(p[0]["t_end_us"], 0.15)
        self.assertAlmostEqual(p[1]["t_start_us"], 0.15)
        self.assertAlmostEqual(p[1]["t_end_us"], 0.35)
        self.assertEqual((p[1]["fired"], p[1]["complete"], p[1]["V_applied_V"]), (1, 1, 100.0))
        self.assertAlmostEqual(p[1]["delay_ns"], 150.0)
        self.assertEqual((p[2]["fired"], p[2]["delay_ns"], p[2]["complete"], p[2]["V_applied_V"]),
                         (0, None, 0, -100.0))
        self.assertAlmostEqual(p[2]["t_end_us"], 0.5)


class PulseFiles(Temp):
    """A multi-pulse study made of synthetic pulses.csv files: lit cells at
    160..190 V; from 175 V they fire in every pulse, below that only in the
    first. One run at 190 V has one complete pulse only."""

    def make(self):
        path = self.study_file('output = "out"\n[run]\nmax_steps = 100\n[vary]\nvoltage = [160, 170, 175, 190]\n'
                               'seeds = {first = 1, count = 3}\n')
        s = st.load(path)
        for run in s.runs:
            folder = st.prepare(s, run)
            rows = []
            for k in range(1, 2 if (run.voltage, run.seeds[0]) == (190, 3) else 5):
                sign = 1 if k % 2 else -1
                fired = 1 if (k == 1 or run.voltage >= 175) else 0
                wall = sign * (0.5 * run.voltage + run.seeds[0]) if fired else 0.0
                delay = f"{100 + 10 * run.seeds[0]:.6e}" if fired else ""
                rows.append(f"{k},{k * 2.5:.6e},{(k + 1) * 2.5:.6e},{sign * run.voltage:.6e},0,{wall:.6e},"
                            f"{fired},{delay}" + ",0" * 25)
            with open(os.path.join(folder, "pulses.csv"), "w") as f:
                f.write("# pdpcell pulses: one row per half-period\n" + PULSE_HEADER + "\n" + "\n".join(rows) +
                        "\n5,1.5e+01,1.75e+01")                 # a row being written
            st.write_json(os.path.join(folder, st.STATUS_FILE), {"exit": 0})
        return s

    def test_transfer_curve_sustain_and_firing_from_pulse_files(self):
        s = self.make()
        runs, pulses = results.collect(s)
        self.assertEqual({r["source"] for r in runs}, {"pulses"})
        self.assertEqual(len(pulses), 4 * 3 * 4 - 3)
        report.write(s, results.read_csv(os.path.join(s.output, "runs.csv")),
                     results.read_csv(os.path.join(s.output, "all_pulses.csv")), out=io.StringIO())
        out = os.path.join(s.output, "report")
        # the transfer curve holds the fired pulses of runs with two or more
        transfer = results.read_csv(os.path.join(out, "transfer.csv"))
        row = [r for r in transfer if r["voltage_V"] == "190" and r["pulse"] == "2"][0]
        self.assertEqual((row["Vwall_end_V"], row["Vwall_end_sd_V"], row["fired"]), ("-96.5", "0.707107", "2"))
        row = [r for r in transfer if r["voltage_V"] == "190" and r["pulse"] == "1"][0]
        self.assertEqual((row["runs"], float(row["Vwall_end_V"])), ("2", 96.5))
        row = [r for r in transfer if r["voltage_V"] == "160" and r["pulse"] == "3"][0]
        self.assertEqual((row["runs"], row["fired"], row["Vwall_end_V"], row["V_applied_V"]), ("3", "0", "", ""))
        margins = {r["quantity"]: r for r in results.read_csv(os.path.join(out, "margins.csv"))}
        self.assertEqual(margins["minimum sustain voltage"]["value_V"], "175")
        self.assertEqual(margins["firing voltage 50 %"]["method"], "all fired")
        firing = results.read_csv(os.path.join(out, "firing.csv"))
        self.assertEqual([r["probability"] for r in firing], ["1"] * 4)
        delays = {r["voltage_V"]: r for r in results.read_csv(os.path.join(out, "delays.csv"))}
        self.assertEqual(float(delays["160"]["delay_mean_ns"]), 120.0)
        self.assertTrue(os.path.getsize(os.path.join(out, "transfer.png")) > 0)
        # a failed run is listed, not analysed
        st.write_json(os.path.join(s.folder(s.runs[0]), st.STATUS_FILE), {"exit": 1})
        runs, pulses = results.collect(s)
        self.assertEqual((runs[0]["status"], runs[0]["exit"], runs[0]["pulses"]), ("failed", 1, 0))
        self.assertEqual(len(pulses), 4 * 3 * 4 - 3 - 4)

    def test_runs_left_out_are_counted_and_stale_ones_explained(self):
        s = self.make()
        runs, _ = results.collect(s)
        self.assertEqual(results.not_counted(s, runs), [])
        # The same folders seen through another binary are stale, not done.
        other = dataclasses.replace(s, binary="/bin/false")
        runs, pulses = results.collect(other)
        self.assertEqual(pulses, [])
        lines = results.not_counted(other, runs)
        self.assertEqual(len(lines), 1, lines)
        self.assertIn(f"{len(runs)} of {len(runs)} runs left out", lines[0])
        self.assertIn("another binary", lines[0])
        self.assertIn("/bin/false", lines[0])

    def test_what_the_report_cannot_fit_is_said_and_why(self):
        # pulse 1 fires in 0, 3 and 8 of 10 runs at 150, 160 and 170 V: a firing
        # curve, but no voltage at 90 %; no run has a second pulse
        s = st.load(self.study_file('output = "out"\n[run]\nmax_steps = 100\n[vary]\nvoltage = [150, 160, 170]\n'
                                    'seeds = {first = 1, count = 10}\n[analysis]\npulse = 1\n'))
        runs, pulses = [], []
        for run in s.runs:
            fired = run.seeds[0] <= {150: 0, 160: 3, 170: 8}[run.voltage]
            runs.append({"run": run.id, "status": "done", "state": "lit", "voltage_V": str(run.voltage),
                         "source": "pulses"})
            pulses.append({"run": run.id, "state": "lit", "voltage_V": str(run.voltage), "options": "", "pulse": "1",
                           "t_start_us": "0", "t_end_us": "0.5", "complete": "1", "fired": str(int(fired)),
                           "delay_ns": "100" if fired else "", "V_applied_V": "-160", "Vwall_start_V": "0",
                           "Vwall_end_V": "50" if fired else "0"})
        console = io.StringIO()
        report.write(s, runs, pulses, out=console)
        out = os.path.join(s.output, "report")
        margins = {r["quantity"]: r for r in results.read_csv(os.path.join(out, "margins.csv"))}
        self.assertEqual((margins["firing voltage 50 %"]["method"], margins["firing voltage 50 %"]["note"]),
                         ("logistic", ""))
        self.assertNotEqual(margins["firing voltage 50 %"]["value_V"], "")
        v90 = margins["firing voltage 90 %"]
        self.assertEqual((v90["value_V"], v90["error_V"]), ("", ""))
        self.assertIn("no voltage fired in 90 % of its runs (at most 8 of 10, at 170 V)", v90["note"])
        delays = {r["voltage_V"]: r["note"] for r in results.read_csv(os.path.join(out, "delays.csv"))}
        self.assertEqual(delays["150"], "no shifted-exponential fit: 0 fired, it needs 2; "
                                        "no exponential-Gaussian fit: 0 delays, it needs 10")
        text = console.getvalue()
        self.assertIn("report: lit: " + v90["note"], text)
        self.assertIn("report: lit, 170 V: no exponential-Gaussian fit: 8 delays, it needs 10", text)
        self.assertIn("report: no transfer curve: no run has two complete pulses", text)
        self.assertFalse(os.path.exists(os.path.join(out, "transfer.png")))


class CellValues(Temp):
    """[vary] cell: each run's own cell.toml, its folder, its columns, and the
    report grouped by the cell values."""

    def test_the_cell_file_of_each_run(self):
        base = os.path.join(self.dir, "base")
        shutil.copytree(BASE, base)
        with open(os.path.join(base, "cell.toml"), "w") as f:
            f.write("# a fill\n[fill]\nxenon_fraction = 0.14\npressure_torr = 450\ntemperature_k = 300\n"
                    "[emission]\nfront = { ne = 0.5, xe = 0.002 }\n")
        path = os.path.join(self.dir, "c.toml")
        with open(path, "w") as f:
            f.write(f'[study]\nbase = "{base}"\nbinary = "/bin/true"\n[run]\nmax_steps = 10\n[vary]\n'
                    'voltage = [150, 160]\ncell = {"fill.xenon_fraction" = [0.05, 0.3], '
                    '"emission.front.ne" = [0.64]}\n')
        s = st.load(path)
        self.assertEqual(len(s.runs), 4)
        self.assertEqual(len({s.folder(r) for r in s.runs}), 4)
        self.assertEqual(s.cell_keys, ["fill.xenon_fraction", "emission.front.ne"])
        run = [r for r in s.runs if r.voltage == 160 and r.cell["fill.xenon_fraction"] == 0.3][0]
        self.assertEqual(run.id, "V160_lit_s1100-550_fill.xenon_fraction=0.3_emission.front.ne=0.64")
        folder = st.prepare(s, run)
        import tomllib
        with open(os.path.join(folder, "cell.toml"), "rb") as f:
            cell = tomllib.load(f)
        # the base's other values kept, the varied ones replaced
        self.assertEqual(cell, {"fill": {"xenon_fraction": 0.3, "pressure_torr": 450, "temperature_k": 300},
                                "emission": {"front": {"ne": 0.64, "xe": 0.002}}})
        self.assertEqual(st.read_json(os.path.join(folder, st.RUN_FILE))["cell"],
                         {"fill.xenon_fraction": 0.3, "emission.front.ne": 0.64})
        self.assertEqual(st.state_of(s, run), "prepared")
        # a base without a cell file: the run's file holds the varied value alone
        self.assertEqual(st.cell_text(os.path.join(self.dir, "none.toml"), {"emission.rib.xe": 0.1}).split("\n")[1:],
                         ["", "[emission.rib]", "xe = 0.1", ""])
        # a study that varies no cell value writes no cell key into run.json (its done runs stay done)
        plain = st.load(self.study_file("[run]\nmax_steps = 10\n"))
        self.assertNotIn("cell", st.run_record(plain, plain.runs[0]))

    def test_cell_mistakes_are_named(self):
        for text, words in (('cell = {"fill.xenon_fractoin" = [0.1]}', "unknown key 'fill.xenon_fractoin'; did you "
                                                                        "mean 'fill.xenon_fraction'"),
                            ('cell = {"emission.front.ne" = 0.3}', "must be a list of numbers"),
                            ('cell = {"emission.front.ne" = ["high"]}', "must be a list of numbers"),
                            ('cell = [0.1]', "must be a table of cell-file keys"),
                            ('cell = {"fill.xenon_fraction" = [0.1, 0.10]}', "share the folder")):
            with self.assertRaises(st.StudyError) as e:
                st.load(self.study_file("[run]\nmax_steps = 10\n[vary]\n" + text + "\n"))
            self.assertIn(words, str(e.exception))

    def test_the_report_gives_the_firing_voltage_per_cell(self):
        # pulse 1 fires from a voltage that rises with the xenon fraction and falls with the yield
        s = st.load(self.study_file('output = "out"\n[run]\nmax_steps = 100\n[analysis]\npulse = 1\n[vary]\n'
                                    'voltage = [130, 150, 160, 180, 200]\nseeds = {first = 1, count = 2}\n'
                                    'cell = {"fill.xenon_fraction" = [0.05, 0.3], "emission.front.ne" = [0.3, 0.6]}\n'))
        for run in s.runs:
            folder = st.prepare(s, run)
            fired = run.voltage >= {(0.05, 0.6): 140, (0.05, 0.3): 155, (0.3, 0.6): 170, (0.3, 0.3): 190}[
                (run.cell["fill.xenon_fraction"], run.cell["emission.front.ne"])]
            with open(os.path.join(folder, "general.txt"), "w") as f:
                f.write("   nstep     Time_mks        Vs1        Vs2       Vaddr     Ions     Elecs     cpu_time\n" +
                        log_line(1, 0.0, 100, -100, 0) +
                        log_line(2, 0.1, 100, -100, 20000 if fired else 5))
            st.write_json(os.path.join(folder, st.STATUS_FILE), {"exit": 0})
        results.collect(s)
        runs = results.read_csv(os.path.join(s.output, "runs.csv"))
        self.assertEqual(list(runs[0])[:8], ["run", "voltage_V", "state", "seed1", "seed2", "options",
                                             "fill.xenon_fraction", "emission.front.ne"])
        pulses = results.read_csv(os.path.join(s.output, "all_pulses.csv"))
        self.assertEqual({(p["fill.xenon_fraction"], p["emission.front.ne"]) for p in pulses},
                         {("0.05", "0.3"), ("0.05", "0.6"), ("0.3", "0.3"), ("0.3", "0.6")})
        written = report.write(s, runs, pulses, out=io.StringIO())
        out = os.path.join(s.output, "report")
        v50 = {(r["fill.xenon_fraction"], r["emission.front.ne"]): (r["state"], r["value_V"], r["method"])
               for r in results.read_csv(os.path.join(out, "margins.csv")) if r["quantity"] == "firing voltage 50 %"}
        self.assertEqual(v50, {("0.05", "0.3"): ("lit", "155", "bracket"), ("0.05", "0.6"): ("lit", "140", "bracket"),
                               ("0.3", "0.3"): ("lit", "190", "bracket"), ("0.3", "0.6"): ("lit", "170", "bracket")})
        firing = results.read_csv(os.path.join(out, "firing.csv"))
        self.assertEqual(len(firing), 4 * 5)
        self.assertIn(os.path.join(out, "cell.png"), written)


class ModelComparison(Temp):
    def test_figures_of_each_option_set_and_their_difference(self):
        # three seeds a set; the second set's peak current is 60 uA higher
        s = st.load(self.study_file('output = "out"\n[run]\nmax_steps = 100\n[vary]\n'
                                    'seeds = {first = 1, count = 3}\noptions = [[], ["--x"]]\n'))
        names = PULSE_HEADER.split(",")
        for run in s.runs:
            folder = st.prepare(s, run)
            seed = run.seeds[0]
            rows = []
            for k, (t0, t1) in enumerate(((0.0, 0.1), (0.1, 0.5)), start=1):
                v = dict.fromkeys(names, 0.0)
                v.update(pulse=k, t_start_us=t0, t_end_us=t1, fired=k - 1, delay_ns=100.0,
                         I_peak_uA=100 + 10 * seed + 60 * len(run.options), **{f"n_exc_Xe{j}": seed for j in range(1, 7)})
                rows.append(",".join(str(v[n]) for n in names))
            with open(os.path.join(folder, "pulses.csv"), "w") as f:
                f.write("# pulses\n" + PULSE_HEADER + "\n" + "\n".join(rows) + "\n")
            with open(os.path.join(folder, "currents.csv"), "w") as f:
                f.write("# currents\nstep,t_us,ions_real,electrons_real\n")
                for i in range(1, 11):
                    t = 0.05 * i        # ions pass 1e6 at 0.3 us, 200 ns into pulse 2
                    f.write(f"{i},{t:.6e},{2e6 * seed if t >= 0.3 else 10.0},{1e5 * i}\n")
                f.write("11,0.55")      # a row being written
            st.write_json(os.path.join(folder, st.STATUS_FILE), {"exit": 0})
        runs, pulses = results.collect(s)
        report.write(s, results.read_csv(os.path.join(s.output, "runs.csv")),
                     results.read_csv(os.path.join(s.output, "all_pulses.csv")), out=io.StringIO())
        table = {(r["pulse"], r["quantity"], r["options"]): r
                 for r in results.read_csv(os.path.join(s.output, "report", "figures.csv"))}
        first, second = table[("2", "I_peak_uA", "")], table[("2", "I_peak_uA", "--x")]
        self.assertEqual((first["runs"], float(first["mean"]), float(first["sd"]), first["diff_se"]), ("3", 120, 10, ""))
        self.assertAlmostEqual(float(second["mean"]), 180)
        self.assertAlmostEqual(float(second["diff_se"]), 60 / math.sqrt(200 / 3), places=4)
        self.assertEqual(float(table[("2", "exc_Xe", "")]["mean"]), 12)
        self.assertEqual(float(table[("2", "t_fire_ns", "--x")]["mean"]), 200)
        self.assertEqual(float(table[("2", "ions_peak", "")]["mean"]), 4e6)
        self.assertEqual(float(table[("2", "electrons_peak", "")]["mean"]), 1e6)
        self.assertEqual(float(table[("1", "electrons_peak", "")]["mean"]), 2e5)
        self.assertNotIn(("1", "t_fire_ns", ""), table)
        self.assertTrue(os.path.getsize(os.path.join(s.output, "report", "figures.png")) > 0)


class RunFolders(Temp):
    """The local runner with a stand-in binary: what a failed run said, and
    folders that another process holds."""

    def study(self, vary):
        binary = os.path.join(self.dir, "fake-pdpcell")
        with open(binary, "w") as f:
            # a usage error as pdpcell gives it, or a start-up error followed by the run summary
            f.write('#!/bin/sh\ncase "$*" in *--bad*) echo "pdpcell: --bad is not an option" >&2\n'
                    '  printf "Usage: pdpcell [options]\\n  --threads N   threads\\n" >&2; exit 2;; esac\n'
                    'echo "ERROR: Can\'t open file: input_file.txt"\necho "pdpcell: run summary"\n'
                    'echo "  exit             error"\nexit 1\n')
        os.chmod(binary, 0o755)
        path = self.study_file(f'output = "out"\n[run]\nmax_steps = 10\n[vary]\n{vary}\n')
        return st.load(path, binary=binary)

    def test_a_failed_run_is_reported_with_its_first_error(self):
        s = self.study('options = [[], ["--bad"]]')
        out = io.StringIO()
        self.assertEqual(execute.run_local(s, 1, out=out), 2)
        for run, said in zip(s.runs, ("ERROR: Can't open file: input_file.txt", "pdpcell: --bad is not an option")):
            self.assertIn(f"FAILED with exit status {1 + run.index}: folder {s.folder(run)}; {said}\n", out.getvalue())
            self.assertEqual(st.read_json(os.path.join(s.folder(run), st.STATUS_FILE))["message"], said)

    def test_a_folder_another_process_holds_is_left_alone(self):
        s = self.study("voltage = [160, 170, 180]")
        locks = []
        for run, name in zip(s.runs, ("study.lock", "pdpcell.lock")):    # another runner; a pdpcell run
            os.makedirs(s.folder(run))
            with open(os.path.join(s.folder(run), "general.txt"), "w") as f:
                f.write("theirs\n")
            locks.append(open(os.path.join(s.folder(run), name), "w"))
            fcntl.flock(locks[-1], fcntl.LOCK_EX | fcntl.LOCK_NB)
        out = io.StringIO()
        self.assertEqual(execute.run_local(s, 2, out=out), 2 + 1)     # two held, the third failed
        text = out.getvalue()
        self.assertIn(f"run {s.runs[0].id}: {s.folder(s.runs[0])} is held by process {os.getpid()}", text)
        self.assertIn(f"run {s.runs[1].id}: {s.folder(s.runs[1])} holds a live pdpcell run (process {os.getpid()})",
                      text)
        self.assertIn("study: 0/3 done, 0 running, 1 failed, 2 held by other processes, 0 waiting", text)
        for run in s.runs[:2]:
            with open(os.path.join(s.folder(run), "general.txt")) as f:
                self.assertEqual(f.read(), "theirs\n")
            self.assertFalse(os.path.exists(os.path.join(s.folder(run), st.STATUS_FILE)))
        # a Slurm task given a held folder leaves it alone too
        with self.assertRaises(st.FolderHeld):
            execute.execute(s.folder(s.runs[0]))
        # the runner's own lock goes with it: once the others let go, every run starts
        for lock in locks:
            lock.close()
        self.assertEqual(execute.run_local(s, 2, out=io.StringIO(), retry_failed=True), 3)
        self.assertEqual([st.state_of(s, r) for r in s.runs], ["failed"] * 3)


class ProgressLine(unittest.TestCase):
    def test_counts_and_estimate_from_an_injected_clock(self):
        now = [0.0]
        p = execute.Progress(total=6, done=1, failed=0, jobs=2, clock=lambda: now[0])
        self.assertIn("time left unknown", p.line())
        p.start("a")
        p.start("b")
        now[0] = 40.0
        p.finish("a", ok=True)
        now[0] = 60.0
        p.finish("b", ok=False)
        p.start("c")
        # mean run 50 s; 2 waiting and one half done, over 2 slots: 62.5 s
        self.assertEqual(p.line(), "study: 2/6 done, 1 running, 1 failed, 2 waiting; about 1m02s left")


if __name__ == "__main__":
    unittest.main()
