"""Benchmark of talvora_tools against talvora, numpy and the `ent` program,
in one run: histogram() of every buffer type, report(), files from the page
cache, and a Python thread ticking while a count runs. Prints a table of
medians and the goal lines.

Run through `./dev bench` (it builds first and sets PYTHONPATH).
Options: --quick (fewer repeats), --markdown.
"""

import mmap
import os
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

import talvora
import talvora_tools
from bench_python import median_seconds, numpy_recipe, parse_options, print_table

MIB, GIB = 1 << 20, 1 << 30


def ent_process(path):
    subprocess.run(["ent", path], stdout=subprocess.DEVNULL, check=True)


def peak_extra_memory(path):
    """Peak resident growth of a fresh process while histogram_file reads
    path (the high-water mark reset once the pool's threads exist)."""
    code = (
        "import sys, talvora_tools;"
        "talvora_tools.histogram(bytes(1 << 20));"
        "kib = lambda key: int(next(l for l in open('/proc/self/status') if l.startswith(key)).split()[1]);"
        "open('/proc/self/clear_refs', 'w').write('5');"
        "before = kib('VmRSS:');"
        "talvora_tools.histogram_file(sys.argv[1]);"
        "print(kib('VmHWM:') - before)"
    )
    out = subprocess.run([sys.executable, "-c", code, path], capture_output=True, text=True, check=True)
    return int(out.stdout) * 1024


def tick_rate(work):
    """Wake-ups per second of a thread that sleeps 1 ms in a loop, while work runs."""
    ticks, stop = [0], threading.Event()

    def ticker():
        while not stop.is_set():
            time.sleep(0.001)
            ticks[0] += 1

    thread = threading.Thread(target=ticker)
    thread.start()
    time.sleep(0.05)
    first, start = ticks[0], time.perf_counter()
    work()
    rate = (ticks[0] - first) / (time.perf_counter() - start)
    stop.set()
    thread.join()
    return rate


def main():
    args = parse_options()
    repeats = 3 if args.quick else 9
    budget = 0.03
    rows = {}

    with tempfile.TemporaryDirectory() as directory:
        data = os.urandom(64 * MIB)
        path64 = os.path.join(directory, "64mib")
        with open(path64, "wb") as f:
            f.write(data)
        with open(path64, "rb") as f:
            mapped = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        forms = {"bytes": data, "numpy uint8": np.frombuffer(data, np.uint8),
                 "memoryview": memoryview(data), "mmap": mapped}
        r64 = rows[("64 MiB random", 64 * MIB)] = {
            "talvora measure_entropy (bytes)": median_seconds(talvora.shannon_entropy_algo.measure_entropy,
                                                              data, budget, repeats),
        }
        for name, form in forms.items():
            r64[f"histogram ({name})"] = median_seconds(talvora_tools.histogram, form, budget, repeats)
        r64["report (bytes)"] = median_seconds(talvora_tools.report, data, budget, repeats)
        r64["report_file"] = median_seconds(talvora_tools.report_file, path64, budget, repeats)
        r64["numpy bincount recipe"] = median_seconds(numpy_recipe, data, budget, 3)
        r64["ent process (file)"] = median_seconds(ent_process, path64, 0, 1 if args.quick else 3)

        big = os.urandom(GIB)
        path1g = os.path.join(directory, "1gib")
        with open(path1g, "wb") as f:
            f.write(big)
        talvora_tools.histogram_file(path1g)  # into the page cache
        r1g = rows[("1 GiB random", GIB)] = {
            "histogram (bytes)": median_seconds(talvora_tools.histogram, big, 0, repeats),
            "histogram_file (page cache)": median_seconds(talvora_tools.histogram_file, path1g, 0, repeats),
        }
        file_memory = peak_extra_memory(path1g)
        alone = tick_rate(lambda: time.sleep(1.0))
        busy = tick_rate(lambda: [talvora_tools.histogram(big) for _ in range(3)])
        mapped.close()

    print(f"python {sys.version.split()[0]}, numpy {np.__version__}, {os.cpu_count()} CPUs")
    print_table(rows, args.markdown)
    measure = r64["talvora measure_entropy (bytes)"]
    ratio_goals = [
        *((f"1: histogram({name}) vs talvora on bytes (>= 0.9x)", measure / r64[f"histogram ({name})"], 0.9)
          for name in ("numpy uint8", "memoryview", "mmap")),
        ("1: histogram(numpy uint8) vs the numpy recipe (>= 10x)",
         r64["numpy bincount recipe"] / r64["histogram (numpy uint8)"], 10),
        ("2: report vs histogram, 64 MiB (>= 0.5x)", r64["histogram (bytes)"] / r64["report (bytes)"], 0.5),
        ("2: report vs the ent process, 64 MiB (>= 30x)", r64["ent process (file)"] / r64["report (bytes)"], 30),
        ("3: histogram_file vs in-memory bytes, 1 GiB (>= 0.7x)",
         r1g["histogram (bytes)"] / r1g["histogram_file (page cache)"], 0.7),
        ("4: ticks of a 1 ms sleeper during a 1 GiB count (>= 0.8x alone)", busy / alone, 0.8),
    ]
    print()
    for name, ratio, need in ratio_goals:
        print(f"{'met ' if ratio >= need else 'MISS'}  {name}: {ratio:.2f}x")
    print(f"{'met ' if file_memory < 80 * MIB else 'MISS'}  3: peak extra memory, histogram_file of "
          f"1 GiB (< 80 MiB): {file_memory / MIB:.1f} MiB")


if __name__ == "__main__":
    main()
