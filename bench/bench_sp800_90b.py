"""Benchmark of the SP 800-90B assessments against NIST's reference tool, in
one run: each case is a whole process (file read included), ours
(bench_sp800_90b_run) and the reference's (ea_non_iid / ea_iid) on the same
file with the same bits, timed on the wall clock with the child's peak
resident memory. The assessed values of both must agree to 1e-12 relative
(and the IID verdicts must be equal), or the run fails: a fast wrong answer
is worth nothing. Prints a table and the goal lines.

Run through `./dev bench` (it builds first). Options: --quick (each run
once), --markdown.
"""

import argparse
import dataclasses
import math
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np

RUNNER = os.path.join("build", "release", "bench", "bench_sp800_90b_run")
PEAK_RSS = os.path.join("build", "release", "bench", "bench_peak_rss")
MIB = 1 << 20
MILLION = 1_000_000
# The reference tool needs more than ten minutes on data that fails the
# permutation test; it is stopped after this long and shown as "> timeout".
REFERENCE_TIMEOUT = 120.0
# Our runs are repeated when they are this cheap, for a steadier median.
CHEAP_SECONDS = 10.0


@dataclasses.dataclass
class Run:
    seconds: float
    peak_bytes: int | None  # None when it was stopped
    timed_out: bool
    output: str


def run_process(command, cwd, timeout=None):
    """Wall time and peak RSS of one child, its output kept in a file so a
    long printout cannot block it. The peak comes from bench_peak_rss, as
    this process's own size would count in a child it started."""
    with tempfile.TemporaryFile("w+") as out:
        start = time.perf_counter()
        child = subprocess.Popen([os.path.abspath(PEAK_RSS), *command], cwd=cwd, stdout=out,
                                 stderr=subprocess.STDOUT, start_new_session=True)
        try:
            child.wait(timeout)
            timed_out = False
        except subprocess.TimeoutExpired:
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()
            timed_out = True
        seconds = time.perf_counter() - start
        out.seek(0)
        output = out.read()
    if timed_out:
        return Run(seconds, None, True, output)
    if child.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited with {child.returncode}:\n{output[-2000:]}")
    peak = re.findall(r"^peak_rss_kib (\d+)$", output, re.M)
    return Run(seconds, int(peak[-1]) * 1024, False, output)


def repeated(command, cwd, quick):
    """Runs once, then twice more when that was cheap; the median run."""
    runs = [run_process(command, cwd)]
    if runs[0].seconds < CHEAP_SECONDS and not quick:
        runs += [run_process(command, cwd) for _ in range(2)]
    runs.sort(key=lambda r: r.seconds)
    middle = runs[len(runs) // 2]
    middle.peak_bytes = max(r.peak_bytes for r in runs)
    return middle, len(runs)


def our_values(output):
    values = dict(re.findall(r"^(\w+) = (.+)$", output, re.M))
    return {
        "h_original": values.get("h_original"),
        "h_bitstring": values.get("h_bitstring"),
        "assessed": values["assessed"],
        "verdict": values.get("verdict"),
        "decided_without": re.findall(r"^decided_without = (.+)$", output, re.M),
        "permutations": values.get("permutations"),
    }


def reference_values(output):
    def last(pattern):
        found = re.findall(pattern, output, re.M)
        return found[-1] if found else None

    permutation = last(r"^IID permutation tests: (\w+)")
    chi_square = last(r"^Chi square tests: (\w+)")
    lrs = last(r"^Length of longest repeated substring test: (\w+)")
    verdict = None
    if permutation is not None:
        verdict = "IID" if {permutation, chi_square, lrs} == {"Passed"} else "not IID"
    return {
        "h_original": last(r"^H_original = (\S+)$"),
        "h_bitstring": last(r"^H_bitstring = (\S+)$"),
        "assessed": last(r"^Assessed min entropy: (\S+)$"),
        "verdict": verdict,
    }


def check_agreement(case, ours, theirs):
    """Raises unless every value both printed agrees to 1e-12 relative."""
    for name in ("h_original", "h_bitstring", "assessed"):
        a, b = ours[name], theirs[name]
        if (a is None) != (b is None):
            raise AssertionError(f"{case}: {name} is {a} here, {b} from the reference tool")
        if a is not None and not math.isclose(float(a), float(b), rel_tol=1e-12, abs_tol=0):
            raise AssertionError(f"{case}: {name} = {a} here, {b} from the reference tool")
    if theirs["verdict"] is not None and ours["verdict"] != theirs["verdict"]:
        raise AssertionError(f"{case}: verdict {ours['verdict']} here, "
                             f"{theirs['verdict']} from the reference tool")


def markov(rng, n, states, stay):
    """A source of `states` values that keeps its last value with
    probability `stay`, else draws a fresh one uniformly."""
    fresh = rng.integers(0, states, n, dtype=np.uint8)
    keep = rng.random(n) < stay
    keep[0] = False
    # Each position takes the fresh value of the last position that drew.
    last_draw = np.maximum.accumulate(np.where(keep, 0, np.arange(n)))
    return fresh[last_draw]


def make_data(directory):
    """name -> (file name, bits), written with seeded numpy generators."""
    rng = np.random.default_rng(90)
    walk = np.cumsum(rng.integers(-2, 3, MILLION), dtype=np.int64) % 256
    block = rng.integers(0, 256, MIB, dtype=np.uint8)
    data = {
        "uniform bytes": (rng.integers(0, 256, MILLION, dtype=np.uint8), 8),
        "biased bits (p1 = 0.7)": ((rng.random(MILLION) < 0.7).astype(np.uint8), 1),
        "random walk bytes": (walk.astype(np.uint8), 8),
        "10M uniform bytes": (rng.integers(0, 256, 10 * MILLION, dtype=np.uint8), 8),
        "10M: a 1 MiB block repeated": (np.resize(block, 10 * MILLION), 8),
        "10M 2-bit Markov": (markov(rng, 10 * MILLION, 4, 0.5), 2),
        "10M biased bits (p1 = 0.7)": ((rng.random(10 * MILLION) < 0.7).astype(np.uint8), 1),
    }
    files = {}
    for i, (name, (samples, bits)) in enumerate(data.items()):
        path = os.path.join(directory, f"samples{i}.bin")
        samples.tofile(path)
        files[name] = (os.path.basename(path), bits)
    return files


@dataclasses.dataclass
class Case:
    assessment: str  # "non_iid" or "iid"
    data: str
    # "run", "timeout" (stopped after REFERENCE_TIMEOUT) or "skip"
    reference: str


CASES = [
    Case("non_iid", "uniform bytes", "run"),
    Case("non_iid", "biased bits (p1 = 0.7)", "run"),
    Case("iid", "uniform bytes", "run"),
    Case("iid", "random walk bytes", "timeout"),
    Case("non_iid", "10M uniform bytes", "skip"),
    Case("non_iid", "10M: a 1 MiB block repeated", "skip"),
    Case("non_iid", "10M 2-bit Markov", "skip"),
    Case("non_iid", "10M biased bits (p1 = 0.7)", "skip"),
]


def fmt_seconds(run):
    if run is None:
        return "-"
    return f"> {REFERENCE_TIMEOUT:.0f} s" if run.timed_out else f"{run.seconds:.2f} s"


def fmt_memory(run):
    return "-" if run is None or run.peak_bytes is None else f"{run.peak_bytes / MIB:.0f} MiB"


def print_table(results, markdown):
    sep = " | " if markdown else "  "
    lines = [["assessment", "samples", "ours", "runs", "ours peak", "reference", "ref. peak",
              "speed-up", "assessed"]]
    for (case, ours, runs, theirs, values) in results:
        ratio = "-"
        if theirs is not None:
            ratio = (f"> {REFERENCE_TIMEOUT / ours.seconds:.0f}x" if theirs.timed_out
                     else f"{theirs.seconds / ours.seconds:.1f}x")
        assessed = f"{float(values['assessed']):.6f}"
        if values["verdict"]:
            assessed += f", {values['verdict']}"
        lines.append([case.assessment, case.data, fmt_seconds(ours), str(runs), fmt_memory(ours),
                      fmt_seconds(theirs), fmt_memory(theirs), ratio, assessed])
    widths = [max(len(r[i]) for r in lines) for i in range(len(lines[0]))]
    for i, r in enumerate(lines):
        text = sep.join(c.ljust(w) for c, w in zip(r, widths))
        print(f"| {text} |" if markdown else text)
        if i == 0 and markdown:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")


def goal_line(number, text, met):
    print(f"goal {number}: {text} {'met' if met else 'MISSED'}")


def print_goals(results):
    by_case = {(case.assessment, case.data): (ours, theirs, values)
               for case, ours, _, theirs, values in results}

    def speed(assessment, data, number, target):
        ours, theirs, _ = by_case[(assessment, data)]
        ratio = theirs.seconds / ours.seconds
        goal_line(number, f"{assessment}, 1M {data}: ratio {ratio:.1f}x (target >= {target}x)",
                  ratio >= target)
        return ours, theirs

    ours, theirs = speed("non_iid", "uniform bytes", 1, 10)
    memory = theirs.peak_bytes / ours.peak_bytes
    goal_line(1, f"non_iid, 1M uniform bytes: peak memory ratio {memory:.1f}x "
              f"({ours.peak_bytes / MIB:.0f} vs {theirs.peak_bytes / MIB:.0f} MiB, target >= 2x)",
              memory >= 2)
    speed("non_iid", "biased bits (p1 = 0.7)", 1, 5)
    speed("iid", "uniform bytes", 2, 10)
    ours, theirs, values = by_case[("iid", "random walk bytes")]
    without = ", ".join(values["decided_without"]) or "none"
    goal_line(2, f"iid, 1M random walk bytes (not IID): ours {ours.seconds:.1f} s (target <= 60 s), "
              f"reference {fmt_seconds(theirs)}; decided without: {without}",
              ours.seconds <= 60)
    for (assessment, data), (ours, _, _) in by_case.items():
        if data.startswith("10M"):
            goal_line(3, f"{assessment}, {data}: {ours.seconds:.1f} s, "
                      f"{ours.peak_bytes / MIB:.0f} MiB (target <= 120 s, <= 2048 MiB)",
                      ours.seconds <= 120 and ours.peak_bytes <= 2 << 30)


def reference_command(case, file, bits):
    tool = "ea_non_iid" if case.assessment == "non_iid" else "ea_iid"
    return [tool, "-vv", file, str(bits)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--markdown", action="store_true")
    args = parser.parse_args()
    runner = os.path.abspath(RUNNER)
    load_before = os.getloadavg()
    results = []
    # The reference tool takes file names relative to where it runs.
    with tempfile.TemporaryDirectory() as directory:
        files = make_data(directory)
        for case in CASES:
            file, bits = files[case.data]
            ours, runs = repeated([runner, case.assessment, file, str(bits)], directory, args.quick)
            values = our_values(ours.output)
            theirs = None
            if case.reference != "skip":
                timeout = REFERENCE_TIMEOUT if case.reference == "timeout" else None
                theirs = run_process(reference_command(case, file, bits), directory, timeout)
                if not theirs.timed_out:
                    check_agreement(f"{case.assessment} on {case.data}", values,
                                    reference_values(theirs.output))
            results.append((case, ours, runs, theirs, values))
            print(f"  done: {case.assessment} on {case.data}", file=sys.stderr, flush=True)
    load_after = os.getloadavg()
    print(f"{os.cpu_count()} CPUs; load average (1, 5, 15 min) "
          f"{' '.join(f'{x:.1f}' for x in load_before)} before, "
          f"{' '.join(f'{x:.1f}' for x in load_after)} after")
    print_table(results, args.markdown)
    print()
    print_goals(results)


if __name__ == "__main__":
    main()
