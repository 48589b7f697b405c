#!/usr/bin/python3
"""The study tool end to end on the real binary, with short runs:
a study with failing runs, its resume after the runner is killed, and the
job script that `slurm --dry-run` writes for what is left.

  study_end_to_end.py PDPCELL SOURCE_DIR
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

BINARY, SOURCE = sys.argv[1], sys.argv[2]
TOOL = os.path.join(SOURCE, "tools", "pdpcell-study")
sys.path.insert(0, os.path.join(SOURCE, "tools"))
from pdpcell_study import results  # noqa: E402
from pdpcell_study import study as st  # noqa: E402

# 1300 steps cross the reversal at 0.1 us; the seeding of every 200th step
# lifts the ions past 50 soon after it. The second option set is refused by
# pdpcell (usage error, exit status 2).
STUDY = """
[study]
name = "e2e"
base = "{base}"
output = "{output}"
[run]
max_steps = 1300
options = ["--quiet", "--progress-every", "0"]
delete = ["SUSTAIN_STATE.txt"]
[vary]
voltage = [160, 180]
seeds = {{first = 1100, count = 2}}
options = [[], ["--max-ions", "5"]]
[analysis]
fire_ions = 50
"""


def tool(*args, **kw):
    return subprocess.run([TOOL, *args, "--binary", BINARY], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, stdin=subprocess.DEVNULL, **kw)


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="study-e2e-")
        cls.files = {}
        for name in ("ref", "kill"):
            path = os.path.join(cls.dir, name + ".toml")
            with open(path, "w") as f:
                f.write(STUDY.format(base=os.path.join(SOURCE, "examples", "sustain"), output=name))
            cls.files[name] = path
        cls.ref = tool("run", cls.files["ref"], "--jobs", "2")
        cls.ref_report = tool("report", cls.files["ref"])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def table(self, name, which="ref"):
        with open(os.path.join(self.dir, which, name)) as f:
            return f.read()

    def test_failed_runs_are_reported_and_do_not_stop_the_others(self):
        out = self.ref.stdout
        self.assertEqual(self.ref.returncode, 1, out)
        for v in (160, 180):
            for s in (1100, 1101):
                folder = os.path.join(self.dir, "ref", "runs", f"V{v}_lit_s{s}-550_o1")
                # the usage error itself, not the usage text after it
                self.assertIn(f"FAILED with exit status 2: folder {folder}; pdpcell: --max-ions needs", out)
        self.assertIn("study: 4/8 done, 0 running, 4 failed, 0 waiting", out)
        runs = results.read_csv(os.path.join(self.dir, "ref", "runs.csv"))
        self.assertEqual(sorted((r["status"], r["exit"]) for r in runs), [("done", "0")] * 4 + [("failed", "2")] * 4)
        self.assertEqual({r["source"] for r in runs if r["status"] == "done"}, {"pulses"})
        # the files named in [run] delete are gone, the log is kept
        folder = os.path.join(self.dir, "ref", "runs", "V160_lit_s1100-550_o0")
        self.assertFalse(os.path.exists(os.path.join(folder, "SUSTAIN_STATE.txt")))
        self.assertTrue(os.path.exists(os.path.join(folder, "general.txt")))
        status = tool("status", self.files["ref"]).stdout
        self.assertIn("4/8 done", status)
        self.assertIn("(exit status 2): pdpcell: --max-ions needs", status)

    def test_the_binary_ran_the_scaled_waveform(self):
        pulses = results.read_csv(os.path.join(self.dir, "ref", "all_pulses.csv"))
        self.assertEqual(len(pulses), 4)
        for p in pulses:
            # pulses.csv's pulse 1: the scaled Smart Start plateau, -V across the
            # sustain electrodes from the start to the reversal at 0.1 us
            self.assertEqual(p["pulse"], "1")
            self.assertAlmostEqual(float(p["V_applied_V"]), -float(p["voltage_V"]), places=6)
            self.assertAlmostEqual(float(p["t_start_us"]), 0.0, places=6)
            self.assertAlmostEqual(float(p["t_end_us"]), 0.1, places=2)
        with open(os.path.join(self.dir, "ref", "runs", "V160_lit_s1101-550_o0", "general.txt")) as f:
            first = f.readlines()[1].split()
        self.assertEqual((first[2], first[3]), ("0.00", "160.00"))
        self.assertEqual(self.ref_report.returncode, 0, self.ref_report.stdout)
        firing = results.read_csv(os.path.join(self.dir, "ref", "report", "firing.csv"))
        self.assertEqual([(r["voltage_V"], r["runs"], r["fired"]) for r in firing],
                         [(v, "2", str(sum(p["fired"] == "1" for p in pulses if p["voltage_V"] == v)))
                          for v in ("160", "180")])
        self.assertTrue(os.path.getsize(os.path.join(self.dir, "ref", "report", "firing.png")) > 10000)

    def test_a_run_is_ended_once_its_ions_pass_stop_on_ions(self):
        # far more steps than it needs: only the stop ends it within the bound
        path = os.path.join(self.dir, "stop.toml")
        with open(path, "w") as f:
            f.write(STUDY.format(base=os.path.join(SOURCE, "examples", "sustain"), output="stop")
                    .replace("max_steps = 1300", "max_steps = 100000\nstop_on_ions = 60")
                    .replace("voltage = [160, 180]", "voltage = [180]").replace("count = 2", "count = 1")
                    .replace('options = [[], ["--max-ions", "5"]]', ""))
        done = tool("run", path, timeout=600)
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertEqual(tool("collect", path).returncode, 0)
        runs = results.read_csv(os.path.join(self.dir, "stop", "runs.csv"))
        self.assertEqual([(r["status"], r["exit"]) for r in runs], [("stopped", "0")])
        # the unfinished pulse is read to the log's first line above 60 ions,
        # however late the stop came, after the finished ones of pulses.csv
        rows = results.read_csv(os.path.join(self.dir, "stop", "all_pulses.csv"))
        self.assertEqual([r["pulse"] for r in rows], [str(k) for k in range(1, len(rows) + 1)])
        [p] = [r for r in rows if r["complete"] == "0"]
        log = os.path.join(self.dir, "stop", "runs", runs[0]["run"], "general.txt")
        with open(log) as f:
            lines = [l.split() for l in f.readlines()[1:]]
        first = next(l for l in lines if int(l[5]) > 60)
        self.assertEqual((p["fired"], p["complete"], float(p["t_end_us"])), ("1", "0", float(first[1])))
        self.assertLess(int(lines[-1][0]), 100000)

    def test_a_killed_study_resumes_and_ends_with_the_same_tables(self):
        runner = subprocess.Popen([TOOL, "run", self.files["kill"], "--jobs", "1", "--binary", BINARY],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        first = os.path.join(self.dir, "kill", "runs", "V160_lit_s1100-550_o0", st.STATUS_FILE)
        deadline = time.monotonic() + 600        # a bound on a hung run, not a measurement
        while not os.path.exists(first) and runner.poll() is None and time.monotonic() < deadline:
            time.sleep(0.2)
        runner.send_signal(signal.SIGKILL)
        runner.wait()
        kept = os.stat(first)
        # its pdpcell went with it (it dies with its parent), so no folder is still being written
        for _ in range(300):                     # a bound, not a measurement
            if not any(self.binary_running_in(os.path.join(self.dir, "kill"))):
                break
            time.sleep(0.1)
        self.assertFalse(any(self.binary_running_in(os.path.join(self.dir, "kill"))))

        # which runs ended before the kill depends on the moment; the rest are to do
        ended = [i for i, name in enumerate(self.run_names()) if os.path.exists(
            os.path.join(self.dir, "kill", "runs", name, st.STATUS_FILE))]
        failed = [i for i in ended if "_o1" in self.run_names()[i]]
        self.assertIn(0, ended)
        self.assertLess(len(ended), 8)
        began = [i for i, name in enumerate(self.run_names()) if i not in ended and os.path.exists(
            os.path.join(self.dir, "kill", "runs", name, "console.txt"))]
        # a run that began may still be running in an earlier array: left alone unless asked
        dry = tool("slurm", self.files["kill"], "--dry-run", "--mem", "300M", "--time", "00:10:00")
        self.assertEqual(dry.returncode, 0, dry.stdout)
        self.assertEqual(self.array(), [i for i in range(8) if i not in ended + began])
        self.assertEqual(f"{len(began)} runs began and have no status" in dry.stdout, bool(began))
        dry = tool("slurm", self.files["kill"], "--dry-run", "--mem", "300M", "--time", "00:10:00",
                   "--restart-started")
        self.assertEqual(self.array(), [i for i in range(8) if i not in ended])
        with open(os.path.join(self.dir, "kill", "slurm", "job.sh")) as f:
            job = f.read()
        self.assertIn("#SBATCH --mem=300M\n", job)

        again = tool("run", self.files["kill"], "--jobs", "2")
        self.assertEqual(again.returncode, 1)
        self.assertIn(f"8 runs, {len(ended) - len(failed)} already done, {len(failed)} failed before", again.stdout)
        self.assertEqual(os.stat(first).st_mtime_ns, kept.st_mtime_ns)
        # failed runs are not retried unless asked
        third = tool("run", self.files["kill"], "--jobs", "2")
        self.assertIn("4 already done, 4 failed before (not retried; --retry-failed), 0 to run", third.stdout)
        self.assertEqual(tool("collect", self.files["kill"]).returncode, 0)
        for name in ("runs.csv", "all_pulses.csv"):
            self.assertEqual(self.table(name, "kill"), self.table(name, "ref"), name)

    def array(self):
        """The run indices of the job script's --array line."""
        with open(os.path.join(self.dir, "kill", "slurm", "job.sh")) as f:
            line = [x for x in f.read().splitlines() if x.startswith("#SBATCH --array=")][0]
        listed = []
        for part in line.split("=", 1)[1].split(","):
            a, _, b = part.partition("-")
            listed += list(range(int(a), int(b or a) + 1))
        return listed

    @staticmethod
    def run_names():
        return [f"V{v}_lit_s{s}-550_o{o}" for v in (160, 180) for s in (1100, 1101) for o in (0, 1)]

    @staticmethod
    def binary_running_in(folder):
        for pid in os.listdir("/proc"):
            if pid.isdigit():
                try:
                    if os.readlink(f"/proc/{pid}/cwd").startswith(folder) and \
                            os.path.basename(os.readlink(f"/proc/{pid}/exe")) == "pdpcell":
                        yield pid
                except OSError:
                    pass


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
