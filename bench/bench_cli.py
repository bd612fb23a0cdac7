"""Benchmark of the talvora command line and of talvora_tools.dask, in one
run: the whole `talvora report` process on a 1 GiB file in the page cache
against the `ent` process on the same file (wall time, start-up included),
and talvora_tools.dask.histogram of a 1 GiB dask array held by a 2-worker
LocalCluster against histogram() of the same bytes in this process. Prints
a table of medians and the goal lines.

Run through `./dev bench` (it builds first and sets PYTHONPATH).
Options: --quick (fewer repeats), --markdown.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import talvora_tools
from bench_python import parse_options, print_table

GIB = 1 << 30


def process_seconds(command, repeats):
    """Median wall time of the whole process, output thrown away."""
    samples = []
    for _ in range(repeats):
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def call_seconds(fn, repeats):
    fn()
    samples = []
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def dask_rows(repeats):
    """The distributed histogram of 1 GiB held by the workers (made there and
    persisted first, so only the counting and the merge are timed), beside
    histogram() of the same bytes here."""
    import dask.array as da
    import distributed

    from talvora_tools import dask as tdask

    with distributed.LocalCluster(n_workers=2, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        workers = len(client.scheduler_info()["workers"])
        held = da.random.default_rng(1).integers(0, 256, GIB, dtype=np.uint8, chunks=64 << 20)
        held = held.persist()
        distributed.wait(held)
        local = held.compute()
        distributed_seconds = call_seconds(lambda: tdask.histogram(held), repeats)
        assert tdask.histogram(held) == talvora_tools.histogram(local)
    return workers, {
        "histogram (numpy uint8, this process)": call_seconds(lambda: talvora_tools.histogram(local),
                                                              repeats),
        f"talvora_tools.dask.histogram ({workers} workers, 64 MiB chunks)": distributed_seconds,
    }


def main():
    args = parse_options()
    repeats = 3 if args.quick else 5
    rows = {}
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "1gib")
        with open(path, "wb") as f:
            f.write(os.urandom(GIB))
        talvora_tools.histogram_file(path)  # into the page cache
        talvora = [sys.executable, "-m", "talvora_tools", "report", path]
        cli = rows[("1 GiB random file", GIB)] = {
            "talvora report (whole process)": process_seconds(talvora, repeats),
            "report_file (in this process)": call_seconds(lambda: talvora_tools.report_file(path),
                                                          repeats),
            "python -c pass (start-up alone)": process_seconds([sys.executable, "-c", "pass"], repeats),
            # ent takes about half a minute on 1 GiB: once.
            "ent process (same file, one run)": process_seconds(["ent", path], 1),
        }
    workers, rows[("1 GiB dask array", GIB)] = dask_rows(repeats)

    print(f"python {sys.version.split()[0]}, numpy {np.__version__}, {os.cpu_count()} CPUs")
    print_table(rows, args.markdown)
    ratio = cli["ent process (same file, one run)"] / cli["talvora report (whole process)"]
    print()
    print(f"{'met ' if ratio >= 30 else 'MISS'}  3: talvora report vs the ent process, 1 GiB "
          f"(>= 30x): {ratio:.1f}x")
    dask_row = rows[("1 GiB dask array", GIB)]
    local, spread = dask_row.values()
    print(f"info  4: talvora_tools.dask.histogram on {workers} workers: {GIB / spread / 1e9:.2f} GB/s, "
          f"{local / spread:.2f}x the in-process histogram() ({GIB / local / 1e9:.2f} GB/s)")


if __name__ == "__main__":
    main()
