"""Files: paths and file objects, offsets and lengths, streams (FIFOs,
/dev/stdin, character devices), errors with the path, bounded memory, a file
cut short while it is read, and Ctrl-C during a long read."""

import io
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import threading
import time

import pytest

import talvora_tools
from talvora_tools import Histogram
from tools_support import MIB, SLOW_BUILD, run_python, sample

DATA = sample("random", 5 * MIB + 12_345, seed=6)


@pytest.fixture(scope="module")
def data_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("files") / "data"
    path.write_bytes(DATA)
    return path


@pytest.mark.parametrize("offset,length", [
    (0, None), (1, None), (12_345, 3 * MIB + 7), (MIB, 0), (len(DATA) - 3, None),
    (len(DATA) - 3, 100), (len(DATA), None), (len(DATA) + 10, 5), (2**63, None), (2**64 - 1, 1),
    (2**70, 2**70), (5, 2**70),
])
def test_a_span_of_a_file_counts_as_those_bytes(data_file, offset, length):
    end = None if length is None else offset + length
    expected = talvora_tools.histogram(DATA[offset:end])
    for path in (str(data_file), os.fsencode(data_file), data_file):
        counted = talvora_tools.histogram_file(path, offset=offset, length=length)
        assert counted == expected and not counted.truncated
    assert talvora_tools.report_file(data_file, offset=offset, length=length) == expected.report()


def test_update_file_adds_after_the_bytes_held(data_file):
    h = Histogram(b"head")
    h.update_file(data_file, length=1000)
    h.update_file(data_file, offset=1000)
    assert h == talvora_tools.histogram(b"head" + DATA)


def test_a_file_object_is_read_from_its_position_and_left_after_the_bytes_read(data_file):
    with open(data_file, "rb") as f:
        f.read(10)
        assert talvora_tools.histogram_file(f, offset=5, length=100) == talvora_tools.histogram(DATA[15:115])
        assert f.tell() == 115 and not f.closed
        assert talvora_tools.histogram_file(f) == talvora_tools.histogram(DATA[115:])
        assert f.tell() == len(DATA)
        assert talvora_tools.histogram_file(f, offset=2**70).total == 0
        assert f.tell() == len(DATA)
    memory = io.BytesIO(DATA[:3000])
    memory.read(1000)
    assert talvora_tools.histogram_file(memory, offset=1) == talvora_tools.histogram(DATA[1001:3000])
    assert memory.tell() == 3000


def test_a_buffered_pipe_keeps_the_bytes_it_has_buffered():
    read_end, write_end = os.pipe()
    writer = threading.Thread(target=lambda: (os.write(write_end, DATA[:200_000]), os.close(write_end)))
    writer.start()
    with open(read_end, "rb") as f:
        assert f.read(3) == DATA[:3]  # the reader now buffers bytes past these
        assert talvora_tools.histogram_file(f, offset=2) == talvora_tools.histogram(DATA[5:200_000])
    writer.join()


def test_a_fifo_is_opened_once_and_read_as_a_stream(tmp_path):
    fifo = tmp_path / "fifo"
    payload = sample("text", (10 if SLOW_BUILD else 20) * MIB)
    def write_all():
        with open(fifo, "wb", buffering=0) as f:
            try:
                f.write(payload)
            except BrokenPipeError:  # the reader had what it wanted
                pass

    for offset, length, expected in [(0, None, payload), (MIB + 3, 9 * MIB, payload[MIB + 3:10 * MIB + 3])]:
        os.mkfifo(fifo)
        writer = threading.Thread(target=write_all)
        writer.start()
        counted = talvora_tools.histogram_file(fifo, offset=offset, length=length)
        writer.join()
        fifo.unlink()
        assert counted == talvora_tools.histogram(expected)


def test_standard_input_as_a_pipe_and_as_a_file(data_file):
    script = "import sys, talvora_tools; print(talvora_tools.histogram_file(sys.argv[1]).total)"
    piped = subprocess.run([sys.executable, "-c", script, "/dev/stdin"], input=DATA[:3 * MIB],
                           capture_output=True, check=True, timeout=120)
    assert int(piped.stdout) == 3 * MIB
    with open(data_file, "rb") as f:
        redirected = subprocess.run([sys.executable, "-c", script, "/dev/stdin"], stdin=f,
                                    capture_output=True, check=True, timeout=120)
    assert int(redirected.stdout) == len(DATA)


def test_character_devices_and_files_of_unknown_size():
    assert talvora_tools.report_file("/dev/null").n == 0
    assert talvora_tools.histogram_file("/dev/zero", offset=10, length=300_000) == \
        talvora_tools.histogram(bytes(300_000))
    status = pathlib.Path("/proc/self/status")
    assert status.stat().st_size == 0
    assert talvora_tools.report_file(status).n > 100


def test_errors_name_the_path(tmp_path):
    missing = tmp_path / "missing"
    with pytest.raises(FileNotFoundError) as e:
        talvora_tools.report_file(missing)
    assert e.value.filename == str(missing)
    with pytest.raises(IsADirectoryError) as e:
        talvora_tools.histogram_file(os.fsencode(tmp_path))
    assert e.value.filename == os.fsencode(tmp_path)
    for bad in ({"offset": -1}, {"length": -5}):
        with pytest.raises(ValueError, match="must not be negative"):
            talvora_tools.report_file(tmp_path, **bad)
    with pytest.raises(TypeError):
        talvora_tools.report_file(tmp_path, offset=1.5)
    with pytest.raises(TypeError, match="binary mode"):
        talvora_tools.report_file(io.StringIO("text"))
    with pytest.raises(TypeError, match="not 'int'"):
        talvora_tools.report_file(3)


@pytest.mark.skipif(shutil.which("setpriv") is None, reason="needs setpriv")
def test_an_unreadable_file_is_a_permission_error_with_the_path(tmp_path):
    """Read by a process without the capabilities that let root read any
    file (and, when not root, as this user), so the file's mode counts."""
    secret = tmp_path / "secret"
    secret.write_bytes(b"x")
    secret.chmod(0)
    script = ("import sys, talvora_tools\n"
              "try: talvora_tools.report_file(sys.argv[1])\n"
              "except PermissionError as e: print(e.filename)\n")
    done = subprocess.run(["setpriv", "--bounding-set=-all", "--inh-caps=-all",
                           sys.executable, "-c", script, str(secret)],
                          capture_output=True, text=True, timeout=60)
    assert done.stdout.strip() == str(secret), done.stderr


def sparse_file(path, size, head=b""):
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(size)


def test_a_large_file_is_read_in_bounded_memory(tmp_path):
    path = tmp_path / "sparse"
    size = (256 if SLOW_BUILD else 2048) * MIB  # either way far more than the reader holds
    sparse_file(path, size)
    script = """
        import sys, talvora_tools
        talvora_tools.histogram(bytes(1 << 20))  # the pool's threads exist now
        kib = lambda key: int(next(l for l in open('/proc/self/status') if l.startswith(key)).split()[1])
        open('/proc/self/clear_refs', 'w').write('5')
        before = kib('VmRSS:')
        n = talvora_tools.histogram_file(sys.argv[1]).total
        print(n, kib('VmHWM:') - before)
    """
    done = run_python(script, str(path))
    assert done.returncode == 0, done.stderr
    n, extra_kib = map(int, done.stdout.split())
    assert n == size
    assert extra_kib < 80 * 1024, f"{extra_kib} KiB"


def test_a_file_cut_short_while_read_gives_the_bytes_read(tmp_path):
    path = tmp_path / "shrinking"
    head = sample("random", MIB, seed=12)
    size = 32 << 30  # sparse: seconds of reading, cut after a few milliseconds
    sparse_file(path, size, head)
    cut_at = len(head) + 100

    def cut_once_opened():
        deadline = time.monotonic() + 60
        while not any(os.path.realpath(f"/proc/self/fd/{fd}") == str(path)
                      for fd in os.listdir("/proc/self/fd")):
            assert time.monotonic() < deadline
            time.sleep(0.001)
        time.sleep(0.02)
        os.truncate(path, cut_at)

    cutter = threading.Thread(target=cut_once_opened)
    cutter.start()
    counted = talvora_tools.histogram_file(path)
    cutter.join()
    assert counted.truncated and counted.report().truncated
    assert cut_at <= counted.total < size
    expected = list(talvora_tools.histogram(head).counts)
    expected[0] += counted.total - len(head)
    assert list(counted.counts) == expected
    copied = pickle_round_trip(counted + Histogram(b"more"))
    assert copied.truncated and copied.total == counted.total + 4


def pickle_round_trip(h):
    import pickle
    return pickle.loads(pickle.dumps(h))


INTERRUPTED = """
    import os, sys, time, talvora_tools
    path = sys.argv[1]
    if sys.argv[2] == "fifo":
        os.mkfifo(path)
        keep_open = os.open(path, os.O_RDWR)  # a writer that never writes
    print("reading", flush=True)
    try:
        talvora_tools.histogram_file(path)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
"""


@pytest.mark.parametrize("kind", ["fifo", "sparse file"])
def test_ctrl_c_stops_a_long_read(tmp_path, kind):
    path = tmp_path / "input"
    if kind == "sparse file":
        sparse_file(path, 1 << 40)
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED.replace("\n    ", "\n"), str(path), kind],
                             stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "reading\n"
    time.sleep(0.5)
    child.send_signal(signal.SIGINT)
    try:
        out, _ = child.communicate(timeout=60 if SLOW_BUILD else 10)
    finally:
        child.kill()
    assert out == "interrupted\n"
