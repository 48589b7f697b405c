"""scripts/checkpoint_speed.py on a short whole run: both copies must resume
the same checkpoint, each with the model asked for, and the program must take
the rewritten file as sound. Run by CTest: checkpoint_speed_run.py BINARY SOURCE."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BINARY, SOURCE = sys.argv[1], sys.argv[2]


class CheckpointSpeed(unittest.TestCase):
    def test_both_models_resume_the_same_checkpoint(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = os.path.join(tmp, "run")
            shutil.copytree(os.path.join(SOURCE, "examples", "sustain"), run)
            subprocess.run([BINARY, "--whole-run", "--threads", "1", "--quiet", "--max-steps", "40",
                            "--checkpoint-every", "20"], cwd=run, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            out = subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "checkpoint_speed.py"), run,
                                  os.path.join(tmp, "out"), "--steps", "40", "--binary", BINARY],
                                 capture_output=True, text=True)
            self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
            self.assertIn("from step 21, 20 steps timed", out.stdout)
            self.assertRegex(out.stdout, r"ratio\s+(\d+\.\d\d|nan)")
            for name, pair in (("flights", False), ("drift-diffusion", True)):
                folder = os.path.join(tmp, "out", name)
                with open(os.path.join(folder, "restart"), "rb") as f:
                    self.assertEqual(b" drift-diffusion 1 " in f.read(), pair, name)
                with open(os.path.join(folder, "console.txt")) as f:
                    console = f.read()
                self.assertIn("Resumed from file restart at step 21", console)
                self.assertNotIn("WARNING", console)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
