"""End-to-end benchmark: talvora's measures against what users would pick
instead (numpy, scipy, collections.Counter) and against the bare C++ kernel,
all in one run. Prints a table of medians and the ratios of the goals.

Run through `./dev bench` (it builds first and sets PYTHONPATH).
Options: --quick (fewer repeats and no 64 MiB Counter), --markdown.
"""

import argparse
import collections
import ctypes
import math
import os
import pathlib
import statistics
import subprocess
import sys
import time

import numpy as np
import scipy.stats

import talvora

SHANNON = talvora.shannon_entropy_algo
MIN = talvora.min_entropy_algo
KIB, MIB = 1 << 10, 1 << 20
SIZES = [("1 B", 1), ("1 KiB", KIB), ("64 KiB", 64 * KIB), ("1 MiB", MIB), ("64 MiB", 64 * MIB)]
BUILD = pathlib.Path(talvora.__file__).resolve().parent.parent

kernel = ctypes.CDLL(str(BUILD / "bench" / "libtalvora_kernel_shim.so"))
kernel.talvora_bench_kernel_entropy.restype = ctypes.c_double
kernel.talvora_bench_kernel_entropy.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint]


def numpy_recipe(data):
    counts = np.bincount(np.frombuffer(data, dtype=np.uint8), minlength=256)
    p = counts[counts > 0] / len(data)
    return float(-(p * np.log2(p)).sum())


def scipy_recipe(data):
    counts = np.bincount(np.frombuffer(data, dtype=np.uint8), minlength=256)
    return float(scipy.stats.entropy(counts, base=2))


def counter_recipe(data):
    n = len(data)
    return -sum(c / n * math.log2(c / n) for c in collections.Counter(data).values())


def kernel_1thread(data):
    return kernel.talvora_bench_kernel_entropy(data, len(data), 1)


def kernel_2threads(data):
    return kernel.talvora_bench_kernel_entropy(data, len(data), 2)


CONTENDERS = [
    ("talvora shannon", SHANNON.measure_entropy),
    ("talvora metric", SHANNON.measure_metric_entropy),
    ("talvora normalized", SHANNON.measure_normalized_metric_entropy),
    ("talvora min", MIN.measure_entropy),
    ("C++ kernel, 1 thread", kernel_1thread),
    ("C++ kernel, 2 threads", kernel_2threads),
    ("numpy bincount", numpy_recipe),
    ("scipy.stats.entropy", scipy_recipe),
    ("collections.Counter", counter_recipe),
]


def median_seconds(fn, arg, budget, repeats):
    """Median time of one call: each repeat runs enough calls to last `budget`."""
    fn(arg)
    start = time.perf_counter()
    fn(arg)
    once = max(time.perf_counter() - start, 1e-9)
    loops = max(1, int(budget / once))
    samples = []
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(loops):
            fn(arg)
        samples.append((time.perf_counter() - start) / loops)
    return statistics.median(samples)


def shaped(kind, n):
    if kind == "random":
        return os.urandom(n)
    if kind == "one value":
        return b"x" * n
    # skewed: mostly four letters, some noise
    letters = np.frombuffer(os.urandom(n), np.uint8) % 4 + ord("a")
    noise = np.frombuffer(os.urandom(n), np.uint8)
    return np.where(np.frombuffer(os.urandom(n), np.uint8) < 32, noise, letters).astype(np.uint8).tobytes()


def fmt_time(s):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if s >= scale:
            return f"{s / scale:.3g} {unit}"
    return f"{s * 1e9:.3g} ns"


def peak_extra_memory(size, kind):
    """Peak resident growth of a fresh process while it measures one input of
    `size` bytes of the given type: the high-water mark is reset (clear_refs)
    once the input exists, so only what the call adds shows."""
    code = (
        "import os, talvora;"
        f"d = {kind}(os.urandom({size}));"
        "talvora.shannon_entropy_algo.measure_entropy(b'warm up the pool' * 20000);"
        "kib = lambda key: int(next(l for l in open('/proc/self/status') if l.startswith(key)).split()[1]);"
        "open('/proc/self/clear_refs', 'w').write('5');"
        "before = kib('VmRSS:');"
        "talvora.shannon_entropy_algo.measure_entropy(d);"
        "print(kib('VmHWM:') - before)"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return int(out.stdout) * 1024


def print_table(rows, markdown):
    """rows: {(input label, its length in bytes): {contender: median seconds}}."""
    sep = " | " if markdown else "  "
    lines = [["input", "contender", "median", "GB/s"]]
    for (label, n), results in rows.items():
        for contender, t in results.items():
            lines.append([label, contender, fmt_time(t), f"{n / t / 1e9:.2f}"])
    widths = [max(len(r[i]) for r in lines) for i in range(4)]
    for i, r in enumerate(lines):
        text = sep.join(c.ljust(w) for c, w in zip(r, widths))
        print(f"| {text} |" if markdown else text)
        if i == 0 and markdown:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")


def parse_options():
    """--quick (fewer repeats) and --markdown (the table as Markdown)."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--markdown", action="store_true")
    return parser.parse_args()


def main():
    args = parse_options()
    # Other work on a 2-CPU machine disturbs some repeats: many short ones
    # give a steadier median than a few long ones.
    repeats = 3 if args.quick else 11
    budget = 0.02 if args.quick else 0.03
    rows = {}

    def time_it(label, fn, data, size_label, kind="random"):
        if label == "collections.Counter" and len(data) > MIB and args.quick:
            return
        reps = 3 if len(data) > 16 * MIB else repeats
        t = median_seconds(fn, data, budget, reps)
        rows.setdefault((size_label, kind), {})[label] = t

    for size_label, n in SIZES:
        for kind in ("random",) + (("one value", "skewed") if n >= KIB else ()):
            data = shaped(kind, n)
            for label, fn in CONTENDERS:
                time_it(label, fn, data, size_label, kind)
    rows[("1 B", "random")]["talvora ping"] = median_seconds(talvora.ping, 1, budget, repeats)

    big = os.urandom(64 * MIB)
    big_array = bytearray(big)
    rows[("64 MiB", "bytearray")] = {
        "talvora shannon": median_seconds(SHANNON.measure_entropy, big_array, budget, 3),
        "numpy bincount": median_seconds(numpy_recipe, big_array, budget, 3),
    }
    ints = list(os.urandom(1_000_000))
    rows[("1 M ints", "list")] = {
        "talvora shannon": median_seconds(SHANNON.measure_entropy, ints, budget, repeats),
        "bytes(list)": median_seconds(bytes, ints, budget, repeats),
    }

    # OPENBLAS_* settings slow numpy's BLAS only; bincount does not use it.
    blas = {k: v for k, v in os.environ.items() if k.startswith("OPENBLAS_")}
    print(f"python {sys.version.split()[0]}, numpy {np.__version__}, {os.cpu_count()} CPUs"
          + (f", {blas}" if blas else ""))
    print_table({(f"{size_label} {kind}", {"1 M ints": 1_000_000}.get(size_label) or dict(SIZES)[size_label]):
                 results for (size_label, kind), results in rows.items()}, args.markdown)

    r64 = rows[("64 MiB", "random")]
    k1 = rows[("1 KiB", "random")]
    ints_row = rows[("1 M ints", "list")]
    array_row = rows[("64 MiB", "bytearray")]
    # Ratio goals print the ratio, time goals the time: each line reads as the goal states it.
    ratio_goals = [
        ("1: 64 MiB bytes vs numpy (>= 10x)", r64["numpy bincount"] / r64["talvora shannon"], 10),
        ("1: 64 MiB bytes vs 2-thread C kernel (>= 0.8x)", r64["C++ kernel, 2 threads"] / r64["talvora shannon"], 0.8),
        ("1: 64 MiB bytearray vs numpy (>= 5x)", array_row["numpy bincount"] / array_row["talvora shannon"], 5),
        ("2: 1 KiB shannon vs numpy (>= 3x)", k1["numpy bincount"] / k1["talvora shannon"], 3),
        ("4: 64 MiB parallel vs 1-thread kernel (>= 1.6x)", r64["C++ kernel, 1 thread"] / r64["talvora shannon"], 1.6),
    ]
    time_goals = [
        ("2: 1 KiB shannon (<= 2 µs)", k1["talvora shannon"], 2e-6),
        ("2: 1 KiB min-entropy (<= 0.6 µs)", k1["talvora min"], 0.6e-6),
        ("2: 1 B call overhead (<= 0.15 µs)", rows[("1 B", "random")]["talvora min"], 0.15e-6),
    ]
    list_ratio = ints_row["talvora shannon"] / ints_row["bytes(list)"]
    print()
    for name, ratio, need in ratio_goals:
        print(f"{'met ' if ratio >= need else 'MISS'}  {name}: {ratio:.2f}x")
    for name, t, limit in time_goals:
        print(f"{'met ' if t <= limit else 'MISS'}  {name}: {fmt_time(t)}")
    print(f"{'met ' if list_ratio <= 1.5 else 'MISS'}  3: 1 M-int list vs bytes(list) (<= 1.5x its time): {list_ratio:.2f}x")
    extra = peak_extra_memory(64 * MIB, "bytes")
    print(f"{'met ' if extra < 8 * MIB else 'MISS'}  5: peak extra memory, 64 MiB bytes input: {extra / MIB:.1f} MiB")
    copied = peak_extra_memory(64 * MIB, "bytearray")
    print(f"      (for comparison, a 64 MiB bytearray, which is copied: {copied / MIB:.1f} MiB)")


if __name__ == "__main__":
    main()
