"""Windowed scans end to end, in one run: a 64 MiB scan in 4 KiB windows
against histogram() of the same bytes, and a sliding scan (window 4096,
step 16, over 16 MiB) against the Python loop a user would write with
talvora's measures on each window's bytes slice (values checked equal).

A sliding scan returns 40 bytes a window in fresh arrays; where first
touching memory is slow (on some virtual machines a page fault costs tens of
microseconds), making them is a large share of the time. The sliding scan is
therefore also timed in a second process whose allocator takes huge pages
for large blocks (GLIBC_TUNABLES=glibc.malloc.hugetlb=1), to show both.

Run through `./dev bench` (it builds first and sets PYTHONPATH).
Options: --quick (the Python loop over the first 1 MiB only, scaled).
"""

import argparse
import array
import json
import os
import statistics
import subprocess
import sys
import time

import talvora
import talvora_tools

MIB = 1 << 20
SHANNON = talvora.shannon_entropy_algo.measure_entropy
MIN_ENTROPY = talvora.min_entropy_algo.measure_entropy
WINDOW, STEP = 4096, 16
HUGE_PAGES = "glibc.malloc.hugetlb=1"


def median_seconds(call, repeats):
    call()  # warm up the pool and the allocator
    samples = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def python_loop(data, window, step):
    """What a user writes without scan: each window's slice, both measures."""
    shannon, min_entropy = [], []
    for start in range(0, len(data) - window + 1, step):
        piece = data[start:start + window]
        shannon.append(SHANNON(piece))
        min_entropy.append(MIN_ENTROPY(piece))
    return shannon, min_entropy


def sliding_times(repeats):
    """The sliding scan of 16 MiB, and making its result arrays alone."""
    data = os.urandom(16 * MIB)
    windows = len(talvora_tools.scan(data, WINDOW, STEP))
    scan = median_seconds(lambda: talvora_tools.scan(data, WINDOW, STEP), repeats)
    arrays = median_seconds(lambda: [array.array(code, [0]) * windows for code in "QQddd"], repeats)
    return data, windows, scan, arrays


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--sliding-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    repeats = 3 if args.quick else 7
    if args.sliding_only:
        _, windows, scan, arrays = sliding_times(repeats)
        print(json.dumps({"windows": windows, "scan": scan, "arrays": arrays}))
        return

    big = os.urandom(64 * MIB)
    counted = median_seconds(lambda: talvora_tools.histogram(big), repeats)
    scanned = median_seconds(lambda: talvora_tools.scan(big, 4096), repeats)

    data, windows, sliding, arrays = sliding_times(repeats)
    result = talvora_tools.scan(data, WINDOW, STEP)
    # The loop over a prefix for --quick; its time per window is the same.
    looped = data if not args.quick else data[:MIB]
    start = time.perf_counter()
    shannon, min_entropy = python_loop(looped, WINDOW, STEP)
    loop_time = (time.perf_counter() - start) * windows / len(shannon)
    equal = (shannon == result.shannon.tolist()[:len(shannon)]
             and min_entropy == result.min_entropy.tolist()[:len(shannon)])
    child = subprocess.run([sys.executable, __file__, "--sliding-only"] + (["--quick"] if args.quick else []),
                           env={**os.environ, "GLIBC_TUNABLES": HUGE_PAGES},
                           capture_output=True, text=True, check=True)
    huge = json.loads(child.stdout)

    print(f"python {sys.version.split()[0]}, {os.cpu_count()} CPUs")
    print(f"histogram() of 64 MiB:                 {counted * 1e3:8.1f} ms  {64 * MIB / counted / 1e9:6.2f} GB/s")
    print(f"scan() of 64 MiB, window=step=4096:    {scanned * 1e3:8.1f} ms  {64 * MIB / scanned / 1e9:6.2f} GB/s")
    print(f"scan() of 16 MiB, window {WINDOW} step {STEP}: {sliding * 1e3:8.1f} ms  "
          f"{windows / sliding / 1e6:6.2f} M windows/s ({windows} windows)")
    print(f"  of which making its five result arrays: {arrays * 1e3:6.1f} ms")
    print(f"  the same with {HUGE_PAGES}: {huge['scan'] * 1e3:.1f} ms "
          f"(arrays {huge['arrays'] * 1e3:.1f} ms)")
    print(f"Python loop, same windows{' (scaled from 1 MiB)' if args.quick else ''}: "
          f"{loop_time:8.2f} s  {windows / loop_time / 1e6:6.3f} M windows/s, values equal: {equal}")
    print()
    ratio = counted / scanned
    print(f"{'met ' if ratio >= 0.5 else 'MISS'}  1: scan 64 MiB in 4 KiB windows vs histogram() (>= 0.5x): {ratio:.2f}x")
    speedup = loop_time / sliding
    print(f"{'met ' if speedup >= 50 and equal else 'MISS'}  2: sliding scan vs the Python loop (>= 50x, equal values): {speedup:.0f}x")
    print(f"      (with {HUGE_PAGES}: {loop_time / huge['scan']:.0f}x)")


if __name__ == "__main__":
    main()
