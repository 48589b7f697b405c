"""The phase budget of a run from its console and currents.csv: a synthetic run
whose every 20-step interval costs a known time, with a restart in the middle
and a second pulse whose avalanche must not count as afterglow."""
import io
import os
import shutil
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import phase_budget  # noqa: E402


def block(step, total, t11, t22, t33):
    return (f" Step number: {step:9d}    Time:   0.000ns   Time Step:  1.00E-01ns\n"
            f"                    Time elapsed= {total:9.2f} sec\n"
            f" t11,t22,t33\n {t11:.16E} {t22:.16E} {t33:.16E}\n\n")


class PhaseBudget(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="phase-budget-")
        # Real electrons every 10 steps: quiet to step 40, avalanche to 60,
        # dense to 140, afterglow to 200; the drive reverses at step 200, and
        # the new pulse's rising electrons are an avalanche again.
        rows = []
        for step in range(10, 261, 10):
            n_e = 10 if step < 40 else 1e3 if step < 60 else 1e6 if step < 140 else 1e3 if step < 200 else 500
            v1, v2 = (180.0, 0.0) if step < 200 else (0.0, 180.0)
            rows.append(f"{step},{step * 1e-4:.4f},{v1},{v2},0,0,0,0,0,0,0,0,{n_e}")
        with open(os.path.join(self.dir, "currents.csv"), "w") as f:
            f.write("# header\nstep,t_us,V_S1_V,V_S2_V,V_A_V,I_S1_uA,I_S2_uA,I_A_uA,"
                    "Icond_S1_uA,Icond_S2_uA,Icond_A_uA,ions_real,electrons_real\n" + "\n".join(rows) + "\n")
        # Each 20-step interval: field 1 s, ions 2 s, electrons 3 s, other
        # 0.5 s; ten times as much in a dense one. The run is continued after
        # step 121: the block of step 141 counts from the restart.
        text = block(1, 0.0, 0.0, 0.0, 0.0)
        total = t11 = t22 = t33 = 0.0
        for step in range(21, 262, 20):
            if step == 141:
                text += "Resumed from file restart at step 122, t = 0.0121 us\n"
                total = t11 = t22 = t33 = 0.0
            k = 10 if 61 <= step - 20 < 140 else 1
            total, t11, t22, t33 = total + 6.5 * k, t11 + k, t22 + 2 * k, t33 + 3 * k
            text += block(step, total, t11, t22, t33)
        with open(os.path.join(self.dir, "console.txt"), "w") as f:
            f.write(text)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_each_interval_goes_to_its_phase_across_a_restart(self):
        steps, electrons, drive = phase_budget.read_currents(os.path.join(self.dir, "currents.csv"))
        phases = phase_budget.phase_of_steps(steps, electrons, drive, 1e5, 100)
        self.assertEqual(phases[steps.index(190)], "afterglow")
        self.assertEqual(phases[steps.index(210)], "avalanche")
        blocks = phase_budget.read_console(os.path.join(self.dir, "console.txt"))
        table = phase_budget.budget(blocks, steps, phases)
        # Intervals starting at 1, 21 (quiet); 41 (avalanche); 61, 81, 101,
        # 121 (dense, the last across the restart); 141, 161, 181 (afterglow);
        # 201, 221, 241 (the next pulse's avalanche).
        self.assertEqual(table["quiet"]["steps"], 40)
        self.assertEqual(table["dense"]["steps"], 80)
        self.assertEqual(table["afterglow"]["steps"], 60)
        self.assertEqual(table["avalanche"]["steps"], 80)
        self.assertAlmostEqual(table["dense"]["electrons"], 4 * 30.0)
        self.assertAlmostEqual(table["dense"]["other"], 4 * 5.0)
        self.assertAlmostEqual(table["afterglow"]["field"], 3.0)
        self.assertAlmostEqual(table["avalanche"]["ions"], 4 * 2.0)

    def test_wall_time_from_the_progress_lines_across_a_restart(self):
        # One wall second a step before the restart after step 121, two after
        # it, the second run's clock starting again at zero; the dense phase
        # runs from step 61 to 141 (60 steps before, 20 after the restart).
        lines = ["t 0.0001/0.0261 us  ions 46 electrons 46  left ?  step 1  wall 0:00:00",
                 "t 0.0061/0.0261 us  ions 46 electrons 46  left ?  step 61  wall 0:01:00",
                 "t 0.0121/0.0261 us  ions 46 electrons 46  ~2 min left (last 2 min)  step 121  wall 0:02:00",
                 "pdpcell: run summary", "Resumed ...",
                 "t 0.0122/0.0261 us  ions 46 electrons 46  left ?  step 122  wall 0:00:00",
                 "t 0.0261/0.0261 us  ions 46 electrons 46  done  step 261  wall 0:04:38"]
        path = os.path.join(self.dir, "stderr.txt")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        progress = phase_budget.read_progress(path)
        self.assertEqual(progress[3], (122, 120.0))
        self.assertEqual(phase_budget.wall_at(progress, 141), 120.0 + 2 * 19)
        steps, electrons, drive = phase_budget.read_currents(os.path.join(self.dir, "currents.csv"))
        phases = phase_budget.phase_of_steps(steps, electrons, drive, 1e5, 100)
        table = phase_budget.budget(phase_budget.read_console(os.path.join(self.dir, "console.txt")), steps, phases,
                                    progress)
        # Steps 61 to 121 at 1 s and 122 to 141 at 2 s; the time between the
        # two runs is not known and counts nothing.
        self.assertAlmostEqual(table["dense"]["wall"], 60 + 38)
        out = io.StringIO()
        with redirect_stdout(out):
            self.assertEqual(phase_budget.main([self.dir, "--progress", path]), 0)
        self.assertTrue(out.getvalue().splitlines()[4].endswith("| 98 | 12250 |"), out.getvalue())

    def test_the_table_and_a_folder_without_files(self):
        out = io.StringIO()
        with redirect_stdout(out):
            self.assertEqual(phase_budget.main([self.dir]), 0)
        lines = out.getvalue().splitlines()
        self.assertTrue(lines[2].startswith("| quiet | 40 | 0.004 | 13.0 |"), lines[2])
        with redirect_stdout(io.StringIO()) as missing:
            self.assertEqual(phase_budget.main([os.path.join(self.dir, "none")]), 1)
        self.assertIn("no console.txt", missing.getvalue())


if __name__ == "__main__":
    unittest.main()
