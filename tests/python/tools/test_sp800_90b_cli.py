"""talvora 90b as a user runs it: JSON that reads back as the library's
result, the text report, standard input, failing inputs (exit 1), usage
errors (exit 2), and the permutation test's bar on a terminal only."""

import fcntl
import json
import os
import pty
import signal
import struct
import subprocess
import sys
import termios
import time
import warnings

import numpy as np
import pytest

from talvora_tools import sp800_90b
from tools_support import SLOW_BUILD

NIBBLES = np.random.default_rng(6).integers(0, 16, 20_000, dtype=np.uint8).tobytes()
# A slow random walk: the permutation test runs all its shuffles, for well
# over the second after which a bar shows.
WALK = (np.cumsum(np.random.default_rng(2).integers(-1, 2, 20_000 if SLOW_BUILD else 200_000))
        % 16).astype(np.uint8).tobytes()


def talvora(*args, cwd, **options):
    options.setdefault("capture_output", True)
    return subprocess.run([sys.executable, "-m", "talvora_tools", "90b", *map(str, args)],
                          cwd=cwd, text=True, timeout=300, **options)


def library(function, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return function(*args, **kwargs).as_dict()


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("cli90b")
    (folder / "nibbles.bin").write_bytes(NIBBLES)
    (folder / "wide.bin").write_bytes(b"\x01\x02\x09\x03")
    return folder


def test_json_is_the_library_result(files):
    done = talvora("nibbles.bin", "--bits", "4", "--json", cwd=files)
    assert done.returncode == 0, done.stderr
    record = json.loads(done.stdout)
    assert record.pop("path") == "nibbles.bin" and record.pop("assessment") == "non_iid"
    assert record == library(sp800_90b.non_iid, NIBBLES, 4)
    assert "warning: fewer than 1000000 samples" in done.stderr

    done = talvora("-", "-b", "4", "--iid", "--seed", "12", "--permutations", "500", "--json",
                   cwd=files, input=NIBBLES.decode("latin-1"), encoding="latin-1")
    record = json.loads(done.stdout)
    assert record.pop("path") == "-" and record.pop("assessment") == "iid"
    assert record == library(sp800_90b.iid, NIBBLES, 4, seed=12, permutations=500)


def test_the_text_report_lists_each_estimate_and_the_assessed_value(files):
    result = library(sp800_90b.non_iid, NIBBLES, 4, conditioned=True)
    done = talvora("nibbles.bin", "--bits", "4", "--conditioned", cwd=files)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == "nibbles.bin: 20000 samples of 4 bits, 16 distinct values " \
                       "(conditioned, as bits)"
    for estimate in result["estimates"]:
        assert [estimate["name"], estimate["form"], f"{estimate['min_entropy']:.6f}"] in [
            line.split() for line in lines]
    assert f"assessed min-entropy: {result['assessed']:.6f} bits per sample" in lines

    iid = talvora("nibbles.bin", "--bits", "4", "--iid", "--seed", "1", cwd=files)
    assert iid.returncode == 0, iid.stderr
    for test in ("chi-square independence", "chi-square goodness of fit",
                 "longest repeated substring", "permutation"):
        assert any(line.startswith(test) for line in iid.stdout.splitlines()), test
    assert "IID: " in iid.stdout and "seed 1" in iid.stdout


def test_failing_inputs_exit_1_with_the_reason(files):
    wide = talvora("wide.bin", "--bits", "3", cwd=files)
    assert (wide.returncode, wide.stdout) == (1, "")
    assert wide.stderr == "talvora: wide.bin: sample 9 at position 2 does not fit in 3 bits\n"
    missing = talvora("missing.bin", "--bits", "8", cwd=files)
    assert (missing.returncode, missing.stdout) == (1, "")
    assert missing.stderr == "talvora: missing.bin: No such file or directory\n"
    restart = talvora("nibbles.bin", "--bits", "4", "--restart", cwd=files)
    assert restart.returncode == 1 and "1000 restarts of 1000 samples" in restart.stderr


@pytest.mark.parametrize("args", [
    ["nibbles.bin"],
    ["nibbles.bin", "--bits", "0"],
    ["nibbles.bin", "--bits", "9"],
    ["nibbles.bin", "--bits", "four"],
    ["nibbles.bin", "--bits", "4", "--iid", "--conditioned"],
    ["nibbles.bin", "--bits", "4", "--h-initial", "2"],
    ["nibbles.bin", "--bits", "4", "--restart", "--h-initial", "5"],
    ["nibbles.bin", "--bits", "4", "--restart", "--conditioned"],
    ["nibbles.bin", "--bits", "4", "--iid", "--permutations", "0"],
    ["nibbles.bin", "--bits", "4", "--iid", "--seed", "-1"],
    ["--bits", "4"],
])
def test_usage_errors_exit_2_without_output(files, args):
    done = talvora(*args, cwd=files)
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr.splitlines()[-1].startswith("talvora") and "Traceback" not in done.stderr


@pytest.mark.parametrize("terminal", [True, False])
def test_the_shuffles_bar_only_on_a_terminal(tmp_path, terminal):
    (tmp_path / "walk.bin").write_bytes(WALK)
    controller, stderr = pty.openpty() if terminal else (None, subprocess.PIPE)
    if terminal:  # 80 columns: a terminal without a width gets no bar drawn
        fcntl.ioctl(stderr, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    try:
        # Every shuffle the walk allows, a few seconds: the bar waits a second.
        done = talvora("walk.bin", "--bits", "4", "--iid", "--permutations", "10000",
                       "--seed", "3", "--json", cwd=tmp_path, stdout=subprocess.PIPE,
                       stderr=stderr, capture_output=False)
        drawn = done.stderr.encode() if not terminal else b""
        if terminal:
            os.close(stderr)
            while True:
                try:
                    chunk = os.read(controller, 65536)
                except OSError:  # the other side is closed: all read
                    break
                if not chunk:
                    break
                drawn += chunk
    finally:
        if controller is not None:
            os.close(controller)
    assert done.returncode == 0
    assert json.loads(done.stdout)["is_iid"] is False
    assert (b"permutation test" in drawn and b"shuffles" in drawn) is terminal


@pytest.mark.skipif(SLOW_BUILD, reason="times the answer to Ctrl-C")
def test_ctrl_c_in_the_permutation_test_exits_130(tmp_path):
    (tmp_path / "walk.bin").write_bytes(WALK)
    child = subprocess.Popen([sys.executable, "-m", "talvora_tools", "90b", "walk.bin", "-b", "4",
                              "--iid", "--permutations", str(10**9)], cwd=tmp_path,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        time.sleep(3)  # well into the shuffles
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
        waited = time.monotonic() - sent
    finally:
        child.kill()
    assert child.returncode == 130 and out == "" and "Traceback" not in err
    assert waited < 2, waited
