"""Counting on the worker pool, seen from Python: how many threads the pool
starts and when, and that the results do not depend on it."""

import json
import os
import subprocess
import sys
import textwrap
import threading

import pytest

from support import MEASURES

PARALLEL_MIN_LEN = 262_144


def run_python(script, workers):
    """Runs script in a fresh interpreter with RAYON_NUM_THREADS=workers and
    returns what it printed as JSON."""
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    env.pop("RAYON_RS_NUM_CPUS", None)
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=env,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


THREAD_COUNTS = """
    import json, os, talvora
    def threads():
        return len(os.listdir("/proc/self/task"))
    counts = [threads()]
    talvora.shannon_entropy_algo.measure_entropy(bytes(range(256)) * 1023 + bytes(255))
    talvora.min_entropy_algo.measure_entropy(os.urandom(%(short)d))
    counts.append(threads())
    talvora.min_entropy_algo.measure_entropy(bytes(%(min_len)d))
    counts.append(threads())
    for size in (%(min_len)d, 1 << 20, 3 << 20):
        talvora.shannon_entropy_algo.measure_normalized_metric_entropy(os.urandom(size))
    counts.append(threads())
    print(json.dumps(counts))
"""


@pytest.mark.parametrize("workers", [1, 3])
def test_pool_starts_its_workers_once_and_only_for_long_inputs(workers):
    start, after_short, after_first, after_more = run_python(
        THREAD_COUNTS % {"short": PARALLEL_MIN_LEN - 1, "min_len": PARALLEL_MIN_LEN}, workers)
    assert after_short == start, "an input below 262,144 bytes created the pool"
    assert after_first == start + workers
    assert after_more == after_first, "a later parallel call started threads"


SAME_BITS = """
    import json, random, talvora
    data = random.Random(7).randbytes(%(len)d)
    s = talvora.shannon_entropy_algo
    print(json.dumps([f.hex() for f in (
        s.measure_entropy(data), s.measure_metric_entropy(data),
        s.measure_normalized_metric_entropy(data),
        talvora.min_entropy_algo.measure_entropy(data))]))
"""


@pytest.mark.parametrize("length", [PARALLEL_MIN_LEN, PARALLEL_MIN_LEN + 1, 5 * 65_536 - 1])
def test_results_do_not_depend_on_the_worker_count(length):
    results = [run_python(SAME_BITS % {"len": length}, workers) for workers in (1, 2, 5)]
    assert results[0] == results[1] == results[2]


def test_concurrent_callers_get_identical_results():
    data = os.urandom((1 << 20) + 7)
    measures = list(MEASURES.values())
    expected = [m(data).hex() for m in measures]
    barrier = threading.Barrier(4)
    results = []

    def caller():
        barrier.wait()
        for _ in range(5):
            results.append([m(data).hex() for m in measures])

    threads = [threading.Thread(target=caller) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 20
    assert all(r == expected for r in results)


FORK = """
    import json, os, warnings, talvora
    warnings.simplefilter("ignore", DeprecationWarning)  # fork of a process with threads
    data = bytes(range(256)) * 4096
    measure = talvora.shannon_entropy_algo.measure_entropy
    assert measure(data) == 8.0
    pid = os.fork()
    if pid == 0:
        os._exit(0 if measure(data) == 8.0 else 1)
    _, status = os.waitpid(pid, 0)
    print(json.dumps([os.waitstatus_to_exitcode(status), measure(data)]))
"""


def test_forked_child_counts_on_a_pool_of_its_own():
    # The parent's workers do not survive the fork; without a pool of its
    # own the child would wait forever (and this would time out).
    assert run_python(FORK, 2) == [0, 8.0]
