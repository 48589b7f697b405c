"""The fills' VUV table from run folders: synthetic runs whose states decay
with known times after a current pulse, one with a cell file and one without."""
import io
import math
import os
import shutil
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import vuv_fills  # noqa: E402

PULSES_HEADER = ("pulse,t_start_us,t_end_us,E_drive_nJ,n_exc_Xe,E_exc_Xe_nJ,Xe_excitation_share,photons147_phosphor,"
                 "photons150_phosphor,photons173_phosphor,photons147_front,photons150_front,photons173_front,"
                 "E_VUV_phosphor_nJ,E_VUV_front_nJ,VUV_efficiency,ratio_173_147,wall_losses,peak_1s5_cm3,peak_1s4_cm3")


def write_run(folder, tau_1s5, tau_1s4, efficiency, cell=None):
    os.makedirs(folder)
    if cell is not None:
        with open(os.path.join(folder, "cell.toml"), "w") as f:
            f.write(cell)
    with open(os.path.join(folder, "currents.csv"), "w") as f:
        f.write("# currents\nstep,t_us,V_S1_V,V_S2_V,V_A_V,Icond_S1_uA,Icond_S2_uA,Icond_A_uA\n")
        for k in range(1, 301):
            t = k * 0.01
            # The drive reverses at 0.1 us; a current pulse peaks at 0.5 us, 50 ns wide.
            current = 300 * math.exp(-((t - 0.5) / 0.05) ** 2)
            f.write(f"{k},{t},{0 if t < 0.1 else 180},{180 if t < 0.1 else 0},0,{current},{-current},0\n")
    with open(os.path.join(folder, "vuv.csv"), "w") as f:
        f.write("# vuv\nstep,t_us,P147_phosphor_W,P150_phosphor_W,P173_phosphor_W,P147_front_W,P150_front_W,"
                "P173_front_W,N_1s5,N_1s4,N_Xe_higher,N_excimers,peak_1s5_cm3,peak_1s4_cm3\n")
        for k in range(1, 301):
            t = k * 0.01
            held = (lambda tau: 1e9 * math.exp(-(t - 0.6) / tau) if t > 0.6 else 1e9 * t / 0.6)
            f.write(f"{k},{t},1e-3,0,2e-3,0,0,1e-3,{held(tau_1s5)},{held(tau_1s4)},0,5e6,{k * 1e13},{k * 1e12}\n")
    with open(os.path.join(folder, "vuv_pulses.csv"), "w") as f:
        f.write("# per pulse\n" + PULSES_HEADER + "\n")
        f.write("1,0,0.1,0.01,0,0,0,0,0,0,0,0,0,0,0,0,nan,0,0,0\n")
        f.write(f"2,0.1,3.0,2.5,4e8,0.6,0.24,1,1,1,1,1,1,0.1,0.05,{efficiency},2.5,1e7,1e15,5e14\n")


class VuvFills(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vuv-fills-")
        # A cell file whose xenon_fraction is in [fill], after another section
        # that has a key of the same name in a comment.
        write_run(os.path.join(self.dir, "a"), 2.0, 0.4, 0.03,
                  cell="[emission]\n# xenon_fraction = 0.9 is not this\nenergy_ev = 0\n[fill]\nxenon_fraction = 0.30\n")
        write_run(os.path.join(self.dir, "b"), 3.0, 0.3, 0.02)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_decay_times_fractions_and_table(self):
        a = vuv_fills.summarize(os.path.join(self.dir, "a"), 2)
        b = vuv_fills.summarize(os.path.join(self.dir, "b"), 2)
        self.assertEqual(a["xenon"], 0.30)
        self.assertEqual(b["xenon"], 0.14)  # no cell file: the built-in fill
        # The afterglow starts where the current is below 1 % of its peak
        # (0.5 + 0.05 sqrt(ln 100) = 0.607 us) and ends at 95 % of the pulse.
        self.assertAlmostEqual(a["window"][0], 0.61, places=6)
        self.assertAlmostEqual(a["window"][1], 0.1 + 0.95 * 2.9, places=6)
        self.assertAlmostEqual(a["tau_1s5_us"], 2.0, places=6)
        self.assertAlmostEqual(a["tau_1s4_us"], 0.4, places=6)
        self.assertAlmostEqual(b["tau_1s5_us"], 3.0, places=6)
        self.assertEqual(a["voltage"], 180)
        out = io.StringIO()
        with redirect_stdout(out):
            vuv_fills.main([os.path.join(self.dir, "a"), os.path.join(self.dir, "b")])
        rows = out.getvalue().splitlines()[2:]
        self.assertTrue(rows[0].startswith("| 14 % | 180 |"), rows)  # sorted by xenon fraction
        self.assertIn("| 0.0300 |", rows[1])

    def test_a_run_without_the_pulse_is_named(self):
        with self.assertRaises(SystemExit) as stop:
            vuv_fills.summarize(os.path.join(self.dir, "a"), 3)
        self.assertIn("no pulse 3", str(stop.exception))

    def test_a_pulse_still_running_is_read_so_far(self):
        folder = os.path.join(self.dir, "a")
        with open(os.path.join(folder, "vuv_pulses.csv"), "w") as f:
            f.write("# per pulse\n" + PULSES_HEADER + "\n1,0,0.1,0.01,0,0,0,0,0,0,0,0,0,0,0,0,nan,0,0,0\n")
        with self.assertRaises(SystemExit):
            vuv_fills.summarize(folder, 2)
        r = vuv_fills.summarize(folder, 2, so_far=True)
        self.assertTrue(r["so_far"])
        self.assertAlmostEqual(r["t_end_us"], 3.0)
        # The drive: 180 V on S1 times its conduction current over each 1 ns row
        # after the reversal at 0.1 us (S2 is at 0 V then).
        drive = sum(180 * 300 * math.exp(-((k * 0.01 - 0.5) / 0.05) ** 2) * 1e-6 * 1e-9
                    for k in range(11, 301))
        self.assertAlmostEqual(r["E_drive_nJ"], drive * 1e9, places=9)
        # 3 mW on the phosphor (147 and 173 nm) for 290 rows, over the drive.
        self.assertAlmostEqual(r["efficiency"], 290 * 3e-3 * 1e-9 / drive, places=9)
        # Photons: 173 nm 2 + 1 mW at 7.2 eV against 147 nm 1 mW at 8.44 eV.
        self.assertAlmostEqual(r["ratio_173_147"], 3 / 7.2 / (1 / 8.44), places=9)
        self.assertAlmostEqual(r["held"] / (1e9 * math.exp(-2.4 / 2.0) + 1e9 * math.exp(-2.4 / 0.4) + 5e6), 1.0,
                               places=5)
        self.assertEqual(r["peak_1s5"], 300 * 1e13)

    def test_rising_values_have_no_decay_time(self):
        self.assertTrue(math.isnan(vuv_fills.decay_time([0, 1, 2], [1, 2, 4])))
        self.assertTrue(math.isnan(vuv_fills.decay_time([0, 1], [2, 1])))


if __name__ == "__main__":
    unittest.main()
