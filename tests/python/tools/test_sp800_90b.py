"""talvora_tools.sp800_90b from Python: the reference tool's assessed values
through the API, every data form alike, sample range errors, warnings,
seeded determinism across thread counts, immutable results that go to JSON
and back, Ctrl-C in a long permutation test, and no leaked references."""

import dataclasses
import json
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import warnings

import numpy as np
import pytest

from support import DEBUG_INTERPRETER
from talvora_tools import sp800_90b
from talvora_tools.sp800_90b import AssessmentWarning
from tools_support import SLOW_BUILD, run_python

needs_reference = pytest.mark.skipif(shutil.which("ea_non_iid") is None,
                                     reason="needs the SP 800-90B reference tool")
optimised_only = pytest.mark.skipif(SLOW_BUILD, reason="a million samples, optimised builds only")


def uniform(n, bits, seed=1):
    return np.random.default_rng(seed).integers(0, 1 << bits, n, dtype=np.uint8)


def skewed(n, seed=2):
    """Bytes from a lopsided distribution: a few values far more common."""
    rng = np.random.default_rng(seed)
    return np.minimum(rng.geometric(0.04, n), 255).astype(np.uint8)


def walk(n, seed=3):
    """A slow random walk over 4-bit values: plainly not IID."""
    steps = np.random.default_rng(seed).integers(-1, 2, n)
    return (np.cumsum(steps) % 16).astype(np.uint8)


def quiet(function, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", AssessmentWarning)
        return function(*args, **kwargs)


def reference(tool, data, bits, tmp_path, *flags):
    """What the reference tool prints at its most detailed level, by label."""
    path = tmp_path / "samples.bin"
    path.write_bytes(bytes(data))
    out = subprocess.run([tool, "-vv", *flags, str(path), str(bits)], capture_output=True,
                         text=True, timeout=600, check=True).stdout
    return out


def printed(out, label):
    match = re.search(rf"^{re.escape(label)}\s*[=:]\s*(\S+)", out, re.MULTILINE)
    assert match, f"{label!r} not in the reference tool's output"
    return float(match[1])


def close(value, expected, rel):
    assert math.isclose(value, expected, rel_tol=rel, abs_tol=0), (value, expected)


@needs_reference
@pytest.mark.parametrize("data, bits", [(uniform(60_000, 4), 4), (skewed(40_000), 8)],
                         ids=["uniform nibbles", "skewed bytes"])
def test_non_iid_agrees_with_the_reference_tool(data, bits, tmp_path):
    result = quiet(sp800_90b.non_iid, data, bits)
    out = reference("ea_non_iid", data, bits, tmp_path)
    close(result.h_original, printed(out, "H_original"), 1e-12)
    close(result.h_bitstring, printed(out, "H_bitstring"), 1e-12)
    close(result.assessed, printed(out, "Assessed min entropy"), 1e-12)
    by_key = {(e.name, e.form): e for e in result.estimates}
    for form, label in (("literal", "Literal"), ("bitstring", "Bitstring")):
        mcv = by_key["MCV", form]
        prefix = f"{label} Most Common Value Estimate:"
        assert mcv.values["Mode count"] == printed(out, f"{prefix} Mode count")
        close(mcv.values["p_u"], printed(out, f"{prefix} p_u"), 1e-12)
        close(mcv.min_entropy, printed(out, f"{prefix} min entropy"), 1e-12)


@needs_reference
@pytest.mark.parametrize("data, bits, is_iid", [(uniform(60_000, 4, seed=5), 4, True),
                                                (walk(2000), 4, False)],
                         ids=["uniform nibbles", "random walk"])
def test_iid_agrees_with_the_reference_tool(data, bits, is_iid, tmp_path):
    result = quiet(sp800_90b.iid, data, bits, seed=7)
    out = reference("ea_iid", data, bits, tmp_path)
    close(result.assessed, printed(out, "Assessed min entropy"), 1e-12)
    tests = result.tests
    close(tests.independence.statistic, printed(out, "Chi square independence: T"), 1e-12)
    assert tests.independence.degrees_of_freedom == printed(out, "Chi square independence: df")
    close(tests.independence.p_value, printed(out, "Chi square independence: P-value"), 1e-9)
    close(tests.goodness_of_fit.statistic, printed(out, "Chi square goodness of fit: T"), 1e-12)
    close(tests.goodness_of_fit.p_value, printed(out, "Chi square goodness of fit: P-value"),
          1e-9)
    assert tests.lrs.longest_repeat == printed(
        out, "Literal Longest Repeated Substring results: W")
    assert result.is_iid is is_iid
    verdict = re.search(r"^IID permutation tests: (\w+)", out, re.MULTILINE)[1]
    assert (verdict == "Passed") is tests.permutation.passed is is_iid


def forms(data):
    """The same samples in every shape histogram() takes."""
    strided = np.zeros(2 * len(data), np.uint8)
    strided[::2] = data
    return {"bytes": bytes(data), "bytearray": bytearray(data), "memoryview": memoryview(data),
            "numpy": data, "strided numpy": strided[::2], "list": [int(x) for x in data]}


def test_every_data_form_gives_the_same_results():
    data = skewed(5000) % 8
    expected = quiet(sp800_90b.non_iid, bytes(data), 3).as_dict()
    for name, form in forms(data).items():
        assert quiet(sp800_90b.non_iid, form, 3).as_dict() == expected, name
    iid_expected = quiet(sp800_90b.iid, bytes(data), 3, seed=1).as_dict()
    assert quiet(sp800_90b.iid, data, 3, seed=1).as_dict() == iid_expected


def test_samples_too_wide_are_refused_at_their_position():
    data = bytearray(uniform(2000, 3))
    data[1234] = 8
    data[1500] = 200
    for assess in (sp800_90b.non_iid, sp800_90b.iid):
        with pytest.raises(ValueError, match=r"sample 8 at position 1234 does not fit in 3 bits"):
            assess(data, 3)
    with pytest.raises(ValueError, match=r"sample 8 at position 1234"):
        sp800_90b.non_iid([int(x) for x in data], 3)


@pytest.mark.parametrize("call, error, message", [
    (lambda: sp800_90b.non_iid(b"\x00\x01", 0), ValueError, "bits must be between 1 and 8"),
    (lambda: sp800_90b.non_iid(b"\x00\x01", 9), ValueError, "bits must be between 1 and 8"),
    (lambda: sp800_90b.non_iid(b""), ValueError, "no samples"),
    (lambda: sp800_90b.iid(b"\x00\x01", permutations=0), ValueError, "permutations"),
    (lambda: sp800_90b.iid(b"\x00\x01", seed=-1), ValueError, "seed"),
    (lambda: sp800_90b.iid(b"\x00\x01", seed=2**64), ValueError, "seed"),
    (lambda: sp800_90b.non_iid([1, 300]), ValueError, "item 1 of the sequence is 300"),
    (lambda: sp800_90b.non_iid(None), TypeError, "'NoneType'"),
    (lambda: sp800_90b.non_iid(np.zeros(4, np.uint16)), TypeError, r"memoryview\(x\).cast"),
    (lambda: sp800_90b.restart(bytes(1000)), ValueError, "1000 restarts of 1000 samples"),
    (lambda: sp800_90b.restart(bytes(10**6), 4, h_initial=4.5), ValueError, "between 0 and 4"),
    (lambda: sp800_90b.restart(bytes(10**6), 4, h_initial=math.nan), ValueError, "between 0"),
], ids=["bits 0", "bits 9", "empty", "no permutations", "negative seed", "seed too large",
        "item out of range", "None", "wide items", "restart size", "claim above bits",
        "claim NaN"])
def test_argument_errors(call, error, message):
    with pytest.raises(error, match=message):
        quiet(call)


def test_short_inputs_warn_at_the_callers_line_and_say_so_in_the_result():
    with pytest.warns(AssessmentWarning, match="fewer than 1000000 samples") as caught:
        result = sp800_90b.non_iid(uniform(3000, 2), 2)
    assert caught[0].filename == __file__
    assert any("fewer than" in message for message in result.warnings)
    with pytest.warns(AssessmentWarning) as caught:
        constant = sp800_90b.iid(bytes(3000), 1)
    assert {str(w.message) for w in caught} == set(constant.warnings)
    assert constant.tests is None and constant.assessed == 0 and not constant.is_iid


def test_results_are_immutable_and_as_dict_round_trips_through_json():
    data = uniform(4000, 3)
    results = [quiet(sp800_90b.non_iid, data, 3), quiet(sp800_90b.iid, data, 3, seed=3),
               quiet(sp800_90b.non_iid, data, 3, conditioned=True)]
    for result in results:
        plain = result.as_dict()
        assert json.loads(json.dumps(plain, allow_nan=False)) == plain
        with pytest.raises(dataclasses.FrozenInstanceError):
            result.assessed = 8.0
        with pytest.raises(TypeError):
            result.estimates[0].values["p_u"] = 0.0
        assert f"{result.assessed:.6f}" in repr(result)
    non_iid, iid, conditioned = results
    assert conditioned.h_original is None and conditioned.assessed == 3 * conditioned.h_bitstring
    assert [e.form for e in conditioned.estimates] == ["bitstring"] * len(conditioned.estimates)
    assert non_iid.assessed == min(3, non_iid.h_original, 3 * non_iid.h_bitstring)
    statistics = iid.tests.permutation.statistics
    assert len(statistics) == 19 and statistics[-1].name == "compression"
    assert all(s.greater + s.equal + s.less <= iid.tests.permutation.permutations
               for s in statistics)


def test_the_verdict_on_dependent_data_is_reached_without_the_compression_statistic():
    result = quiet(sp800_90b.iid, walk(20_000), 4, seed=11)
    permutation = result.tests.permutation
    assert not result.is_iid and not permutation.passed
    assert not permutation.compression_needed
    assert permutation.decided_without == ("compression",)
    assert permutation.statistics[-1].passed is None


def test_progress_is_called_between_rounds_and_its_exception_stops_the_test():
    seen = []
    result = quiet(sp800_90b.iid, walk(100_000), 4, seed=7, permutations=2000,
                   progress=seen.append)
    # A few times a second, each with the shuffles made so far: the test
    # runs all 2000 on this walk, in far more than one round.
    assert not result.tests.permutation.passed
    assert 1 < len(seen) and seen == sorted(seen) and 0 < seen[0] and seen[-1] <= 2000

    class Stop(Exception):
        pass

    def stop(made):
        raise Stop(made)

    with pytest.raises(Stop):
        quiet(sp800_90b.iid, walk(20_000), 4, seed=1, progress=stop)


DETERMINISM = """
import json, sys, warnings
import numpy as np
from talvora_tools import sp800_90b
warnings.simplefilter("ignore")
data = np.random.default_rng(4).integers(0, 16, 30_000, dtype=np.uint8)
print(json.dumps([sp800_90b.iid(data, 4, seed=99).as_dict(),
                  sp800_90b.non_iid(data, 4).as_dict()]))
"""


def test_a_seed_gives_the_same_result_for_any_number_of_threads():
    outputs = set()
    for threads in (None, "1", "3"):
        env = dict(os.environ)
        env.pop("RAYON_NUM_THREADS", None)
        if threads is not None:
            env["RAYON_NUM_THREADS"] = threads
        run = run_python(DETERMINISM, env=env)
        assert run.returncode == 0, run.stderr
        outputs.add(run.stdout)
    assert len(outputs) == 1
    assert json.loads(outputs.pop())[0]["tests"]["permutation"]["seed"] == 99


@optimised_only
def test_restart_claims_by_default_what_the_same_track_assesses():
    data = uniform(10**6, 4, seed=8)
    result = sp800_90b.restart(data, 4)
    assert result.h_initial == sp800_90b.non_iid(data, 4).assessed
    assert result.sanity.passed and result.validated
    assert result.assessed == min(result.rows.min_entropy, result.columns.min_entropy,
                                  result.h_initial)
    assert result.rows.tests is None
    assert json.loads(json.dumps(result.as_dict())) == result.as_dict()
    rows = np.asarray(data).reshape(1000, 1000)
    assert sp800_90b.restart(rows.T.copy(), 4, h_initial=3.0).columns.min_entropy == (
        result.rows.min_entropy)


INTERRUPTED = """
import sys, time, warnings
import numpy as np
from talvora_tools import sp800_90b
warnings.simplefilter("ignore")
# A slow random walk: no statistic of it settles, so the shuffles go on;
# the non-IID estimators take a while on ten million of its samples.
steps = np.random.default_rng(1).integers(-1, 2, {n})
data = (np.cumsum(steps) % {values}).astype(np.uint8)
print("ready", flush=True)
try:
    {call}
except KeyboardInterrupt:
    print("interrupted", flush=True)
    sys.exit(3)
print("finished")
"""


@pytest.mark.skipif(SLOW_BUILD, reason="times the answer to Ctrl-C")
@pytest.mark.parametrize("n, values, call", [
    (1_000_000, 16, "sp800_90b.iid(data, 4, permutations=10**9, seed=1)"),
    (10_000_000, 16, "sp800_90b.non_iid(data, 4)"),
    (1_000_000, 256, "sp800_90b.restart(data, 8, h_initial=0.5)"),
], ids=["iid", "non_iid", "restart"])
def test_ctrl_c_stops_a_long_assessment_promptly(n, values, call):
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED.format(n=n, values=values, call=call)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        time.sleep(0.5)  # into the work, which takes seconds
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=120)
        waited = time.monotonic() - sent
    finally:
        child.kill()
    assert child.returncode == 3, err
    assert out == "interrupted\n"
    assert waited < 5, waited


@pytest.mark.skipif(not DEBUG_INTERPRETER, reason="needs python3.14-dbg")
def test_no_reference_leaks():
    from test_tools_refleaks import assert_no_leak

    data = uniform(300, 2)

    def attempt(function, *args, **kwargs):
        def call():
            try:
                quiet(function, *args, **kwargs)
            except (ValueError, TypeError, ZeroDivisionError):
                pass
        return call

    paths = [attempt(sp800_90b.non_iid, data, 2), attempt(sp800_90b.iid, data, 2, seed=1,
                                                           permutations=50),
             attempt(sp800_90b.non_iid, data, 1), attempt(sp800_90b.non_iid, None),
             attempt(sp800_90b.iid, data, 2, seed=1, progress=lambda made: 1 / 0),
             attempt(sp800_90b.restart, data, 2)]
    for path in paths:
        assert_no_leak(path)
