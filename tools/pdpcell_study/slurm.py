"""A study as a Slurm job array: one task per run, each running the same
`pdpcell-study exec FOLDER` that the local runner's runs go through."""
import os
import shlex
import subprocess
import sys

from . import study as st

TOOL = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "pdpcell-study")


def ranges(indices):
    """0,1,2,5,7,8 -> '0-2,5,7-8' (sbatch --array syntax)."""
    out, start, prev = [], None, None
    for i in sorted(indices):
        if start is None:
            start = prev = i
        elif i == prev + 1:
            prev = i
        else:
            out.append(f"{start}" if start == prev else f"{start}-{prev}")
            start = prev = i
    if start is not None:
        out.append(f"{start}" if start == prev else f"{start}-{prev}")
    return ",".join(out)


def job_script(study, todo, args):
    folder = os.path.join(study.output, "slurm")
    lines = ["#!/bin/bash",
             f"#SBATCH --job-name={args.job_name or 'pdpcell-' + study.name}",
             f"#SBATCH --array={ranges(r.index for r in todo)}" + (f"%{args.max_running}" if args.max_running else ""),
             f"#SBATCH --output={folder}/task-%a.out",
             "#SBATCH --ntasks=1",
             f"#SBATCH --cpus-per-task={args.cpus or study.threads}",
             f"#SBATCH --mem={args.mem}",
             f"#SBATCH --time={args.time}"]
    if args.partition:
        lines.append(f"#SBATCH --partition={args.partition}")
    if args.account:
        lines.append(f"#SBATCH --account={args.account}")
    lines += ["set -eu",
              "# Task i runs line i + 1 of runs.txt; its folder was prepared on submission.",
              f'run=$(sed -n "$((SLURM_ARRAY_TASK_ID + 1))p" {shlex.quote(folder)}/runs.txt)',
              f"exec /usr/bin/python3 {shlex.quote(TOOL)} exec {shlex.quote(study.output)}/runs/\"$run\"", ""]
    return "\n".join(lines)


def submit(study, args, out=sys.stderr):
    """Prepares the incomplete runs' folders, writes OUTPUT/slurm/job.sh and
    submits it (unless --dry-run). Returns sbatch's exit status."""
    todo, started = [], 0
    for run in study.runs:
        state = st.state_of(study, run)
        if state == "done" or (state == "failed" and not args.retry_failed):
            continue
        if state == "started" and not args.restart_started:
            started += 1      # perhaps still running in an earlier array: left alone
            continue
        todo.append(run)
    if started:
        print(f"study {study.name}: {started} runs began and have no status yet (still running, or interrupted: "
              "--restart-started submits them again)", file=out)
    folder = os.path.join(study.output, "slurm")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "runs.txt"), "w") as f:
        f.write("".join(r.id + "\n" for r in study.runs))
    ready = []
    for run in todo:
        try:
            with st.hold(study.folder(run)):
                st.prepare(study, run)
            ready.append(run)
        except st.FolderHeld as e:
            print(f"run {run.id}: {e}", file=out)
    todo = ready
    if not todo:
        print(f"study {study.name}: every run is done (or failed: --retry-failed, or held); nothing to submit",
              file=out)
        return 0
    path = os.path.join(folder, "job.sh")
    with open(path, "w") as f:
        f.write(job_script(study, todo, args))
    os.chmod(path, 0o755)
    print(f"study {study.name}: {len(todo)} of {len(study.runs)} runs in {path}", file=out, flush=True)
    if args.dry_run:
        return 0
    done = subprocess.run(["sbatch", "--parsable", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True)
    text = done.stdout.strip()
    if done.returncode != 0:
        print(f"sbatch failed (exit status {done.returncode}): {text}", file=out)
        return done.returncode
    print(f"submitted job array {text.split(';')[0]}; follow it with 'pdpcell-study status', then 'collect'",
          file=out)
    print(text.split(";")[0])
    return 0
