"""bench/bench_pool_startup.py: how long the worker pool takes to start:
the first parallel call of a fresh process with RAYON_NUM_THREADS workers
(start-up included), against the same call once the pool exists.

Run through `./dev bench` (it builds first and sets PYTHONPATH).
Options: --workers N [N ...] (default 2048 8192 16384 65535), --timeout S.

A pool asks the system for one thread per worker. Where fewer task ids are
free than a row needs (a 65,535-worker pool exceeds many machines' pid_max),
that row runs under a pids limit that keeps a reserve for the rest of the
machine (tools/pids_limit.py; root only), and the pool counts on the workers
it could start; the table shows how many that was.
"""

import argparse
import os
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
import pids_limit  # noqa: E402

RESERVE = 4096  # task ids left to the rest of the machine
GOAL_WORKERS, GOAL_SECONDS = 16384, 1.0

# Prints the first call's time and the processor time the process spent on
# it (its threads' included), a later call's time, and the workers started
# (the process's threads but the main one). On a busy machine the processor
# time tells more than the wall time.
PROBE = """
import os, time, talvora
data = bytes(range(256)) * 1024
def cpu():
    t = os.times()
    return t.user + t.system
start, start_cpu = time.perf_counter(), cpu()
talvora.shannon_entropy_algo.measure_entropy(data)
first, first_cpu = time.perf_counter() - start, cpu() - start_cpu
start = time.perf_counter()
talvora.shannon_entropy_algo.measure_entropy(data)
later = time.perf_counter() - start
print(first, first_cpu, later, len(os.listdir("/proc/self/task")) - 1)
"""
HEADER = ("workers asked", "started", "first call", "its CPU time", "later call")


def run_row(workers: int, timeout: float) -> tuple[str, ...]:
    command = [sys.executable, "-c", PROBE]
    note = ""
    spare = pids_limit.free_task_ids() - RESERVE
    if workers + 1 > spare:
        command = [sys.executable, pids_limit.__file__, str(spare), *command]
        note = f" (pids limit {spare})"
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    try:
        done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return f"{workers}{note}", "?", f"> {timeout:g} s", "-", "-"
    if done.returncode == pids_limit.UNAVAILABLE:
        return f"{workers}", "-", "skipped: " + done.stderr.strip(), "-", "-"
    if done.returncode != 0:
        last = (done.stderr.strip().splitlines() or ["?"])[-1]
        return f"{workers}{note}", "-", f"failed ({done.returncode}): {last}", "-", "-"
    first, first_cpu, later, started = done.stdout.split()
    return (f"{workers}{note}", started, f"{float(first):.3f} s", f"{float(first_cpu):.3f} s",
            f"{float(later) * 1e3:.2f} ms")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--workers", type=int, nargs="+", default=[2048, 8192, 16384, 65535])
    parser.add_argument("--timeout", type=float, default=120)
    args = parser.parse_args()
    rows = [HEADER]
    results = {}
    for workers in args.workers:
        row = run_row(workers, args.timeout)
        results[workers] = row
        rows.append(row)
    widths = [max(len(r[i]) for r in rows) for i in range(len(HEADER))]
    for r in rows:
        print("  ".join(c.ljust(w) for c, w in zip(r, widths)))
    if GOAL_WORKERS in results:
        text = results[GOAL_WORKERS][2]
        met = text.endswith(" s") and not text.startswith(">") and float(text.split()[0]) <= GOAL_SECONDS
        print(f"\n{'met ' if met else 'MISS'}  6: pool start-up, {GOAL_WORKERS} workers (<= {GOAL_SECONDS:g} s): {text}")


if __name__ == "__main__":
    main()
