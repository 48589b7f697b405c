"""Running the runs: one in its folder (the same code locally and in a Slurm
task), and many on this machine, N at a time, with a progress line."""
import ctypes
import os
import signal
import socket
import subprocess
import sys
import threading
import time

from . import study as st

POLL_S = 0.5
INTERRUPTED_EXIT_STATUS = 3  # pdpcell stopped by SIGTERM after a checkpoint


def _die_with_parent():
    # A runner killed outright must not leave its pdpcell runs writing into
    # folders that the next runner will start afresh.
    try:
        ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)   # PR_SET_PDEATHSIG
    except OSError:
        pass


def _ions_above(log_path, offset, limit):
    """(True if a complete log line past offset shows more than limit ions, new offset)."""
    try:
        with open(log_path, "rb") as f:
            f.seek(offset)
            data = f.read()
    except OSError:
        return False, offset
    end = data.rfind(b"\n")
    if end < 0:
        return False, offset
    for line in data[:end].splitlines():
        cols = line.split()
        if len(cols) >= 6 and cols[0].isdigit():
            try:
                if int(cols[5]) > limit:
                    return True, offset + end + 1
            except ValueError:
                pass
    return False, offset + end + 1


def execute(folder, stop=None, clock=time.monotonic, lock=None):
    """Runs the pdpcell run described by folder/run.json there; writes status.json.

    Returns the status. A run whose log shows more ions than stop_on_ions is
    ended there (the discharge has happened; what follows costs most of the
    time) and counts as complete, marked "stopped". `stop`, an Event, ends the
    run without a status (it will start afresh). `lock`, the folder's lock
    file when the caller holds it already; else the folder is taken here
    (FolderHeld if another process has it)."""
    if lock is None:
        with st.hold(folder) as held:
            return execute(folder, stop, clock, held)
    record = st.read_json(os.path.join(folder, st.RUN_FILE))
    if record is None:
        raise st.StudyError(f"{folder}: no {st.RUN_FILE}; prepare the run first")
    status_path = os.path.join(folder, st.STATUS_FILE)
    if os.path.exists(status_path):
        os.remove(status_path)
    limit = record.get("stop_on_ions", 0)
    start = clock()
    with open(os.path.join(folder, "console.txt"), "wb") as console:
        try:
            # the run holds the folder's lock with its runner, so a run left
            # alive by a runner's death still keeps other runners out
            child = subprocess.Popen(record["command"], cwd=folder, stdin=subprocess.DEVNULL, stdout=console,
                                     stderr=subprocess.STDOUT, preexec_fn=_die_with_parent,
                                     pass_fds=(lock.fileno(),))
        except OSError as e:
            status = {"exit": 127, "error": f"cannot start {record['command'][0]}: {e.strerror}"}
            st.write_json(status_path, status)
            return status
        stopped, offset, usage = False, 0, None
        while True:
            # wait4, not wait: the run's own peak memory and processor time go into its status
            pid, wstatus, usage = os.wait4(child.pid, os.WNOHANG)
            if pid == child.pid:
                child.returncode = rc = os.waitstatus_to_exitcode(wstatus)
                break
            time.sleep(POLL_S)
            # os.kill, not Popen's: that polls first, and a run that has just
            # ended would be reaped there, its usage lost and wait4 left with nothing
            if stop is not None and stop.is_set():
                os.kill(child.pid, signal.SIGKILL)
                child.returncode = os.waitstatus_to_exitcode(os.wait4(child.pid, 0)[1])
                return None
            if limit > 0:
                above, offset = _ions_above(os.path.join(folder, "general.txt"), offset, limit)
                if above:
                    os.kill(child.pid, signal.SIGTERM)
                    pid, wstatus, usage = os.wait4(child.pid, 0)
                    child.returncode = rc = os.waitstatus_to_exitcode(wstatus)
                    # ours: pdpcell ends a step, saves a checkpoint and exits 3
                    # (an older one died of the signal); a run that ended by
                    # itself keeps its status
                    if rc in (-signal.SIGTERM, INTERRUPTED_EXIT_STATUS):
                        stopped, rc = True, 0
                    break
    status = {"exit": rc, "stopped": stopped, "wall_s": round(clock() - start, 3), "host": socket.gethostname(),
              "cpu_s": round(usage.ru_utime + usage.ru_stime, 3), "max_rss_MB": round(usage.ru_maxrss / 1024, 1)}
    if rc == 0:
        for name in record.get("delete", []):
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                os.remove(path)
        status["disk_MB"] = round(sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder)
                                      if os.path.isfile(os.path.join(folder, n))) / 2 ** 20, 2)
    else:
        status["message"] = failure_message(folder, rc)
    st.write_json(status_path, status)
    return status


def failure_message(folder, rc=1):
    """What a failed run said: its first ERROR line, else the usage error
    before the usage text, else its console's last line."""
    try:
        with open(os.path.join(folder, "console.txt"), "rb") as f:
            lines = [l.strip() for l in f.read().decode(errors="replace").splitlines() if l.strip()]
    except OSError:
        lines = []
    first_error = next((l for l in lines if l.startswith("ERROR")), None)
    usage = next((i for i, l in enumerate(lines) if l.startswith("Usage:")), None)
    if first_error:
        return first_error
    if usage:
        return lines[usage - 1]
    if rc < 0:
        return f"killed by signal {signal.Signals(-rc).name}" if -rc in signal.valid_signals() else f"signal {-rc}"
    return lines[-1] if lines else ""


def duration(seconds):
    seconds = int(round(seconds))
    if seconds >= 3600:
        return f"{seconds // 3600}h{seconds % 3600 // 60:02d}m"
    if seconds >= 60:
        return f"{seconds // 60}m{seconds % 60:02d}s"
    return f"{seconds}s"


class Progress:
    """Counts and the progress line; the clock is injected so tests need no waiting."""

    def __init__(self, total, done, failed, jobs, clock=time.monotonic):
        self.total, self.done, self.failed, self.jobs = total, done, failed, jobs
        self.running = 0
        self.held = 0            # runs whose folder another process holds: not started
        self.clock = clock
        self.walls = []          # wall times of the runs finished by this runner
        self.started = {}

    def start(self, rid):
        self.running += 1
        self.started[rid] = self.clock()

    def finish(self, rid, ok):
        self.running -= 1
        self.walls.append(self.clock() - self.started.pop(rid))
        if ok:
            self.done += 1
        else:
            self.failed += 1

    def left_s(self):
        """Estimate of the time left: the mean run so far, for the runs not yet
        finished, spread over the job slots (a running run counted as half done)."""
        if not self.walls:
            return None
        waiting = self.total - self.done - self.failed - self.running - self.held
        mean = sum(self.walls) / len(self.walls)
        return mean * (waiting + 0.5 * self.running) / max(1, self.jobs)

    def line(self):
        left = self.left_s()
        waiting = self.total - self.done - self.failed - self.running - self.held
        return (f"study: {self.done}/{self.total} done, {self.running} running, {self.failed} failed, "
                + (f"{self.held} held by other processes, " if self.held else "")
                + f"{waiting} waiting; " + ("time left unknown" if left is None else f"about {duration(left)} left"))


def run_local(study, jobs, retry_failed=False, out=sys.stderr, every_s=30.0, clock=time.monotonic):
    """Runs the study's incomplete runs, `jobs` at a time. Returns the number
    failed or not started (their folder held by another process)."""
    todo, done, failed = [], 0, 0
    for run in study.runs:
        state = st.state_of(study, run)
        if state == "done":
            done += 1
        elif state == "failed" and not retry_failed:
            failed += 1
        else:
            todo.append(run)
    print(f"study {study.name}: {len(study.runs)} runs, {done} already done, {failed} failed before"
          f"{' (not retried; --retry-failed)' if failed else ''}, {len(todo)} to run, {jobs} at a time",
          file=out, flush=True)
    progress = Progress(len(study.runs), done, failed, jobs, clock)
    lock = threading.Lock()
    stop = threading.Event()
    queue = list(todo)

    def worker():
        while not stop.is_set():
            with lock:
                if not queue:
                    return
                run = queue.pop(0)
            try:
                held = st.hold(study.folder(run))
            except st.FolderHeld as e:
                with lock:
                    progress.held += 1
                    print(f"run {run.id}: {e}", file=out, flush=True)
                continue
            with held:
                with lock:
                    progress.start(run.id)
                folder = st.prepare(study, run)
                status = execute(folder, stop=stop, lock=held)
            if status is None:
                return
            with lock:
                progress.finish(run.id, status["exit"] == 0)
                if status["exit"] != 0:
                    print(f"run {run.id} FAILED with exit status {status['exit']}: folder {folder}"
                          f"; {status.get('message') or status.get('error')}", file=out)
                print(progress.line(), file=out, flush=True)

    def on_signal(signum, frame):
        stop.set()

    old = {s: signal.signal(s, on_signal) for s in (signal.SIGTERM, signal.SIGINT)} \
        if threading.current_thread() is threading.main_thread() else {}
    try:
        threads = [threading.Thread(target=worker, daemon=True) for _ in range(max(1, min(jobs, len(todo))))]
        for t in threads:
            t.start()
        last = clock()
        while any(t.is_alive() for t in threads):
            for t in threads:
                t.join(timeout=1.0)
            if clock() - last >= every_s:
                with lock:
                    print(progress.line(), file=out, flush=True)
                last = clock()
    finally:
        for s, h in old.items():
            signal.signal(s, h)
    if stop.is_set():
        print("study: stopped; the runs not finished start afresh on the next 'run'", file=out, flush=True)
        return -1
    return progress.failed + progress.held


def cost(study):
    """Wall time, processor time, peak memory and disk of the finished runs: (mean, largest) of each."""
    rows = [st.read_json(os.path.join(study.folder(r), st.STATUS_FILE)) for r in study.runs
            if st.state_of(study, r) == "done"]
    out = {}
    for key in ("wall_s", "cpu_s", "max_rss_MB", "disk_MB"):
        values = [r[key] for r in rows if r and key in r]
        if values:
            out[key] = (sum(values) / len(values), max(values))
    return out


def count_states(study):
    counts = {"done": 0, "failed": 0, "started": 0, "prepared": 0, "stale": 0, "new": 0}
    for run in study.runs:
        counts[st.state_of(study, run)] += 1
    return counts
