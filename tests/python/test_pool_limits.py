"""The worker pool under the limits a container or a shell may set: when the
system refuses some or all of its threads, long inputs are counted on the
workers that did start, or on the calling thread, with the same results; and
a pool of thousands of workers starts in time linear in their number."""

import json
import os
import pathlib
import resource
import subprocess
import sys

import pytest

from support import SANITIZED

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import pids_limit  # noqa: E402

# Every measure of a few long inputs (bit patterns of the floats), and how
# many workers the pool started (the threads but the main one).
MEASURE = """
import json, os, random, talvora
s, m = talvora.shannon_entropy_algo, talvora.min_entropy_algo
inputs = [random.Random(n).randbytes(n) for n in (262_144, 262_145, 5 * 65_536 + 1, 1 << 20)]
inputs.append(bytes(1 << 20))
measures = (s.measure_entropy, s.measure_metric_entropy, s.measure_normalized_metric_entropy, m.measure_entropy)
print(json.dumps({
    "results": [[f(data).hex() for f in measures] for data in inputs],
    "workers": len(os.listdir("/proc/self/task")) - 1,
}))
"""


def measure_in_child(workers, wrapper=(), preexec_fn=None, timeout=120):
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    env.pop("RAYON_RS_NUM_CPUS", None)
    done = subprocess.run([*wrapper, sys.executable, "-c", MEASURE], env=env, capture_output=True,
                          text=True, timeout=timeout, preexec_fn=preexec_fn)
    if wrapper and done.returncode == pids_limit.UNAVAILABLE:
        pytest.skip(done.stderr.strip())
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@pytest.fixture(scope="module")
def unlimited():
    return measure_in_child(3)


def under_pids_limit(limit):
    return (sys.executable, pids_limit.__file__, str(limit))


# The main thread takes one task id of the limit; a limit of 1 leaves none
# for workers, as in a container whose pids limit is already reached.
@pytest.mark.parametrize("limit, workers", [(1, 4), (2, 4), (3, 4), (200, 100_000)])
def test_pids_limit_leaves_results_unchanged(unlimited, limit, workers):
    child = measure_in_child(workers, wrapper=under_pids_limit(limit))
    assert child["workers"] == limit - 1
    assert child["results"] == unlimited["results"]


@pytest.mark.skipif(SANITIZED, reason="the sanitizers reserve more address space than the limit")
def test_address_space_limit_leaves_results_unchanged(unlimited):
    # As `ulimit -v 3000000`: room for the interpreter and some hundreds of
    # the 4000 workers' 2 MiB stacks, not for all of them.
    def limit_address_space():
        resource.setrlimit(resource.RLIMIT_AS, (3_000_000 * 1024, resource.RLIM_INFINITY))

    child = measure_in_child(4000, preexec_fn=limit_address_space)
    assert 0 < child["workers"] < 4000
    assert child["results"] == unlimited["results"]


# Starting 16,384 workers took half a minute when each new worker went round
# every queue 33 times before sleeping; now it takes about as long as the
# system needs to make the threads. The timeout only tells a start-up that is
# quadratic in the worker count from one that is not; ./dev bench measures it.
@pytest.mark.skipif(SANITIZED, reason="thousands of sanitized threads start too slowly to tell")
def test_sixteen_thousand_workers_start_in_linear_time(unlimited):
    workers = 16_384
    if pids_limit.free_task_ids() < workers + 4096:
        pytest.skip(f"fewer than {workers} task ids to spare on this machine")
    child = measure_in_child(workers, timeout=20)
    assert child["workers"] == workers
    assert child["results"] == unlimited["results"]
