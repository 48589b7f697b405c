"""The progress output of the real binary: plain lines at the set interval when
standard error is a pipe, and one line rewritten in place on a pseudo-terminal.
Run by CTest with PDPCELL_BINARY and PDPCELL_SOURCE_DIR set."""

import fcntl
import os
import re
import pty
import selectors
import shutil
import struct
import subprocess
import tempfile
import termios
import unittest
from pathlib import Path

BINARY = os.environ.get("PDPCELL_BINARY", "")
EXAMPLE = Path(os.environ.get("PDPCELL_SOURCE_DIR", ".")) / "examples" / "sustain"
STEPS = ["--max-steps", "400"]  # about a second of time loop after the start-up
# The plain lines need a loop several intervals long even on a fast, idle
# machine; this run also writes a slice block at its last step.
PLAIN_LAST_STEP = 1001
PLAIN_STEPS = ["--max-steps", str(PLAIN_LAST_STEP)]
PLAIN_INTERVAL = 0.125  # s
SUMMARY = "pdpcell: run summary"
# The binary's progress clock moves on by this much at each read (about once a
# step) instead of following the wall, so that when lines come does not depend
# on the machine's speed or load.
TICK = 1 / 64  # s, exact in binary, as are the intervals below
CLOCK = dict(os.environ, PDPCELL_TEST_CLOCK_TICK=str(TICK))


def make_case(folder):
    folder.mkdir()
    for name in ("input_file.txt", "Vdata.txt"):
        shutil.copy(EXAMPLE / name, folder / name)
    return folder


def run_piped(folder, args):
    """Status, stdout text, and the stderr lines."""
    process = subprocess.Popen([BINARY] + args, cwd=folder, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=CLOCK)
    out = b""
    err_lines = []
    partial = b""
    with selectors.DefaultSelector() as selector:
        selector.register(process.stdout, selectors.EVENT_READ)
        selector.register(process.stderr, selectors.EVENT_READ)
        open_streams = 2
        while open_streams:
            for key, _ in selector.select():
                chunk = os.read(key.fileobj.fileno(), 65536)
                if not chunk:
                    selector.unregister(key.fileobj)
                    open_streams -= 1
                elif key.fileobj is process.stdout:
                    out += chunk
                else:
                    partial += chunk
                    *whole, partial = partial.split(b"\n")
                    err_lines += [line.decode() for line in whole]
    return process.wait(), out.decode(), err_lines


def run_on_terminal(folder, args, columns):
    """Status and every byte the program wrote, stdout and stderr both on one
    pseudo-terminal of the given width."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 40, columns, 0, 0))
    process = subprocess.Popen([BINARY] + args, cwd=folder, stdin=subprocess.DEVNULL,
                               stdout=slave, stderr=slave, env=CLOCK)
    os.close(slave)
    transcript = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the terminal closed with the program
            break
        if not chunk:
            break
        transcript += chunk
    os.close(master)
    return process.wait(), transcript.decode()


def render(transcript):
    """The screen lines a terminal shows: carriage return, line feed and
    erase-to-end-of-line obeyed, everything else written over what is there."""
    lines = [[]]
    column = 0
    at = 0
    while at < len(transcript):
        if transcript.startswith("\x1b[K", at):
            del lines[-1][column:]
            at += 3
            continue
        c = transcript[at]
        if c == "\r":
            column = 0
        elif c == "\n":
            lines.append([])
            column = 0
        else:
            line = lines[-1]
            line.extend(" " * (column - len(line)))
            if column < len(line):
                line[column] = c
            else:
                line.append(c)
            column += 1
        at += 1
    return ["".join(line) for line in lines]


def without_processor_times(lines):
    """Console lines with the processor-time figures, which differ from run to
    run, blanked."""
    kept = []
    after_t11 = False
    for line in lines:
        kept.append("<cpu>" if after_t11 or "Time elapsed=" in line else line)
        after_t11 = line.strip() == "t11,t22,t33"
    return kept


def files_of(folder):
    """Every file the run wrote; the run log without its processor-time column."""
    contents = {}
    for path in sorted(folder.iterdir()):
        text = path.read_bytes()
        if path.name == "general.txt":
            text = b"".join(line[:70] + b"\n" for line in text.splitlines())
        contents[path.name] = text
    return contents


@unittest.skipUnless(BINARY, "PDPCELL_BINARY is not set")
class ProgressConsole(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="pdpcell-progress-"))
        # The reference: the same run with no progress lines at all.
        cls.reference = make_case(cls.scratch / "reference")
        cls.reference_status, cls.reference_out, cls.reference_err = run_piped(
            cls.reference, STEPS + ["--progress-every", "0"])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def test_plain_lines_come_at_the_interval_and_change_nothing_else(self):
        reference = make_case(self.scratch / "plain-reference")
        reference_status, reference_out, reference_err = run_piped(
            reference, PLAIN_STEPS + ["--progress-every", "0"])
        self.assertEqual(reference_status, 0, reference_out)
        self.assertEqual([line for line in reference_err if line.startswith("t ")], [])

        folder = make_case(self.scratch / "plain")
        status, out, err = run_piped(folder, PLAIN_STEPS + ["--progress-every", str(PLAIN_INTERVAL)])
        self.assertEqual(status, 0, out)
        progress = [line for line in err if line.startswith("t ")]
        # One line each interval of the stepped clock: every eighth step.
        steps_per_line = round(PLAIN_INTERVAL / TICK)
        self.assertGreaterEqual(len(progress), PLAIN_LAST_STEP // steps_per_line - 1, err)
        self.assertLessEqual(len(progress), PLAIN_LAST_STEP // steps_per_line + 1, err)
        # Each line: the time against the run's own end (--max-steps, not
        # 70 us), the particles, the estimate with its basis and the step,
        # within 80 columns.
        pattern = re.compile(r"t (\d+\.\d{4})/0\.1001 us  ions \d+ electrons \d+  "
                             r"(left \?|done|(over )?~\d+ (s|min) left \((last \d+ (s|min)|rising)\))  step (\d+)")
        matches = [pattern.match(line) for line in progress]
        self.assertTrue(all(matches), progress)
        self.assertTrue(all(len(line) < 80 for line in progress), progress)
        steps = [int(match.group(7)) for match in matches]
        self.assertEqual(steps, sorted(steps))
        self.assertEqual([float(match.group(1)) for match in matches], [round(n * 1e-4, 4) for n in steps])
        # The summary comes after the last progress line.
        self.assertGreater(err.index(SUMMARY), err.index(progress[-1]))

        # Standard output and the files: the same as without the lines.
        self.assertEqual(without_processor_times(out.split("\n")),
                         without_processor_times(reference_out.split("\n")))
        self.assertEqual(files_of(folder), files_of(reference))

    def test_live_line_is_rewritten_in_place(self):
        quiet_folder = make_case(self.scratch / "quiet-piped")
        status, quiet_out, _ = run_piped(quiet_folder, STEPS + ["--quiet"])
        self.assertEqual(status, 0, quiet_out)

        folder = make_case(self.scratch / "quiet-terminal")
        status, transcript = run_on_terminal(folder, STEPS + ["--quiet"], columns=200)
        self.assertEqual(status, 0, transcript)
        draws = transcript.count("\rt ")
        # Redrawn every quarter second of the stepped clock: every 16th step.
        self.assertGreaterEqual(draws, 400 * TICK / 0.25 - 1, transcript)
        self.assertLessEqual(draws, 400 * TICK / 0.25 + 2, transcript)
        # From the first draw to the summary no line ends: one line rewritten.
        live = transcript[transcript.index("\rt "):transcript.index(SUMMARY)]
        self.assertNotIn("\n", live)
        self.assertTrue(live.endswith("\r\x1b[K"), live[-120:])  # cleared before the summary
        # The screen: the console lines, then the summary; no progress line left.
        screen = render(transcript)
        self.assertEqual(screen[:screen.index(SUMMARY)], quiet_out.split("\n")[:-1])
        self.assertIn("  exit             --max-steps 400 reached", screen)
        self.assertEqual(files_of(folder), files_of(quiet_folder))

    def test_live_line_stays_below_the_diagnostics_blocks(self):
        folder = make_case(self.scratch / "loud-terminal")
        columns = 60
        status, transcript = run_on_terminal(folder, STEPS, columns=columns)
        self.assertEqual(status, 0, transcript)
        segments = transcript.split("\rt ")[1:]
        self.assertGreaterEqual(len(segments), 2, transcript)
        for segment in segments:
            drawn = "t " + segment[:segment.index("\x1b[K")]
            self.assertLess(len(drawn), columns, drawn)  # a wrapped line could not be rewritten
        # The blocks scroll past exactly as on a pipe, none of them broken
        # by the line, which is cleared before each and drawn again below it.
        screen = render(transcript)
        self.assertEqual(without_processor_times(screen[:screen.index(SUMMARY)]),
                         without_processor_times(self.reference_out.split("\n")[:-1]))


if __name__ == "__main__":
    unittest.main()
