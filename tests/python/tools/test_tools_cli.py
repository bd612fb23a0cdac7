"""The talvora command line as a user meets it: subprocess runs with files,
standard input, directories, failures among good files, usage errors, the
three output styles read back and compared with the library, plots, the
progress bar on a terminal only, and Ctrl-C."""

import csv
import fcntl
import io
import json
import math
import os
import pty
import signal
import struct
import subprocess
import sys
import termios
import time

import pytest

import talvora_tools
from talvora_tools.cli import main
from tools_support import run_python, sample

KIB = 1 << 10
# Zeros, random, text, random: edges and regions at known offsets.
SANDWICH = (sample("zeros", 64 * KIB) + sample("random", 128 * KIB, seed=1)
            + sample("text", 64 * KIB) + sample("random", 64 * KIB, seed=2))


def talvora(*args, cwd=None, **options):
    """Runs the command line (as python -m talvora_tools) to its end."""
    options.setdefault("capture_output", True)
    return subprocess.run([sys.executable, "-m", "talvora_tools", *map(str, args)], cwd=cwd,
                          timeout=300, **options)


def bits(value):
    return struct.pack("<d", value)


def same_field(printed, value):
    """A field as JSON gives it: the same float bit for bit, null for NaN."""
    if isinstance(value, float):
        return (printed is None and math.isnan(value)) or (
            isinstance(printed, float) and bits(printed) == bits(value))
    return printed == value


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """Samples of the kinds analysts meet, and an empty file, by name."""
    folder = tmp_path_factory.mktemp("cli")
    contents = {"random.bin": sample("random", 300 * KIB), "text.txt": sample("text", 50 * KIB),
                "zeros.bin": sample("zeros", 10 * KIB), "packed.z": sample("compressed", 40 * KIB),
                "empty": b"", "five": b"\x01\x02\x03\x04\x05", "sandwich.img": SANDWICH}
    for name, content in contents.items():
        (folder / name).write_bytes(content)
    return folder


def test_json_rows_are_the_library_reports_in_the_order_given(files):
    names = ["text.txt", "empty", "random.bin", "five", "zeros.bin", "packed.z", "random.bin"]
    done = talvora("--json", *names, cwd=files, text=True)
    assert done.returncode == 0 and done.stderr == ""
    rows = [json.loads(line) for line in done.stdout.splitlines()]
    assert [row["path"] for row in rows] == names
    for name, row in zip(names, rows):
        expected = talvora_tools.report_file(files / name).as_dict()
        assert list(row) == ["path", *expected]
        assert all(same_field(row[key], value) for key, value in expected.items()), (name, row)
    assert rows[1]["mean"] is None and rows[1]["mode"] is None  # empty: NaN is null


def test_csv_has_every_field_and_reads_back(files):
    done = talvora("report", "--csv", "five", "zeros.bin", "empty", cwd=files, text=True)
    assert done.returncode == 0
    rows = list(csv.DictReader(io.StringIO(done.stdout)))
    assert [row["path"] for row in rows] == ["five", "zeros.bin", "empty"]
    for row in rows:
        expected = talvora_tools.report_file(files / row["path"]).as_dict()
        for key, value in expected.items():
            if isinstance(value, bool):
                assert row[key] == str(value).lower()
            elif value is None or (isinstance(value, float) and math.isnan(value)):
                assert row[key] == ""
            else:
                assert bits(float(row[key])) == bits(float(value)), (row["path"], key)


def test_the_table_lines_up_with_the_path_last(files):
    done = talvora("zeros.bin", "random.bin", "empty", cwd=files, text=True)
    assert done.returncode == 0
    header, *rows = done.stdout.splitlines()
    assert header.split() == ["bytes", "Shannon", "min-entropy", "chi-square", "p-value", "mean",
                              "pi", "error", "%", "serial", "corr", "file"]
    column = header.index("file")
    assert [row[column:] for row in rows] == ["zeros.bin", "random.bin", "empty"]
    random_row = rows[1].split()
    measured = talvora_tools.report_file(files / "random.bin")
    assert random_row[0] == str(measured.n) and random_row[1] == f"{measured.shannon:.6f}"
    assert rows[0].split()[1] == "0.000000" and rows[2].split()[5] == "-"  # -0.0; the mean, NaN


def test_standard_input_from_a_pipe_and_from_a_file(files):
    piped = talvora("--json", "-", input=SANDWICH)
    assert piped.returncode == 0
    (row,) = map(json.loads, piped.stdout.splitlines())
    assert row["path"] == "-" and row["n"] == len(SANDWICH)
    assert bits(row["shannon"]) == bits(talvora_tools.report(SANDWICH).shannon)
    with open(files / "text.txt", "rb") as stdin:
        redirected = talvora("--json", "five", "-", stdin=stdin, cwd=files)
    rows = [json.loads(line) for line in redirected.stdout.splitlines()]
    assert rows[1]["n"] == 50 * KIB and rows[1]["chi_square"] == talvora_tools.report_file(
        files / "text.txt").chi_square


def test_failures_are_one_line_each_and_the_others_are_printed(files):
    done = talvora("--json", "five", "missing.bin", ".", "zeros.bin", cwd=files, text=True)
    assert done.returncode == 1
    assert [json.loads(line)["path"] for line in done.stdout.splitlines()] == ["five", "zeros.bin"]
    assert done.stderr.splitlines() == [
        "talvora: missing.bin: No such file or directory",
        "talvora: .: is a directory (give -r to measure the files in it)",
    ]


def test_a_directory_walk_is_in_sorted_path_order_without_links(tmp_path):
    tree = tmp_path / "tree"
    for relative in ["b/z", "b/a", "a.txt", "c/d/e", "a/x", "B"]:
        (tree / relative).parent.mkdir(parents=True, exist_ok=True)
        (tree / relative).write_bytes(relative.encode())
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "secret").write_bytes(b"not in the tree")
    (tree / "c" / "link-to-dir").symlink_to(outside)
    (tree / "c" / "link-to-file").symlink_to(outside / "secret")
    os.mkfifo(tree / "b" / "fifo")  # would block the walk if opened
    done = talvora("--json", "-r", "tree", "tree/a.txt", cwd=tmp_path, text=True)
    assert done.returncode == 0, done.stderr
    paths = [json.loads(line)["path"] for line in done.stdout.splitlines()]
    assert paths == ["tree/B", "tree/a/x", "tree/a.txt", "tree/b/a", "tree/b/z", "tree/c/d/e",
                     "tree/a.txt"]


@pytest.mark.parametrize("args", [
    [],
    ["report"],
    ["--bogus", "five"],
    ["--json", "--csv", "five"],
    ["scan", "five"],
    ["scan", "five", "--window", "0"],
    ["scan", "five", "--window", "-4"],
    ["scan", "five", "--window", "many"],
    ["scan", "five", "--window", "4", "--step", "0"],
    ["scan", "five", "--window", "4", "--regions", "1.5"],
    ["scan", "five", "--window", "4", "--edges", "--rising", "0.5", "--falling", "0.6"],
    ["scan", "five", "--window", "4", "--plot", "out.unknown"],
])
def test_usage_errors_exit_2_without_output(files, args):
    done = talvora(*args, cwd=files, text=True)
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr.splitlines()[-1].startswith("talvora") and "Traceback" not in done.stderr


def test_main_refuses_a_str_for_its_list_of_words():
    # "report x" would otherwise run as the words "r", "e", "p", ...
    with pytest.raises(TypeError, match="list of words"):
        main("report x")


def test_a_first_argument_naming_a_subcommand_is_the_subcommand(tmp_path):
    (tmp_path / "scan").write_bytes(b"abcdef")
    named_scan = talvora("report", "--json", "scan", cwd=tmp_path, text=True)
    assert json.loads(named_scan.stdout)["path"] == "scan"
    windows = talvora("scan", "--json", "scan", "--window", "4", cwd=tmp_path, text=True)
    assert json.loads(windows.stdout)["lengths"] == [4, 2]


def test_scan_json_is_the_scan_with_its_edges_and_regions(files):
    done = talvora("scan", "sandwich.img", "--window", "4K", "--step", "2048", "--edges",
                   "--regions", "0.9", "--min-length", "1000", "--json", cwd=files, text=True)
    assert done.returncode == 0, done.stderr
    (line,) = done.stdout.splitlines()
    fields = json.loads(line)
    expected = talvora_tools.scan_file(files / "sandwich.img", 4096, 2048)
    assert fields.pop("path") == "sandwich.img"
    edges, regions = fields.pop("edges"), fields.pop("regions")
    assert talvora_tools.Scan(**{key: value if not isinstance(value, list) else
                                 type(getattr(expected, key))(getattr(expected, key).typecode, value)
                                 for key, value in fields.items()}) == expected
    assert [tuple(edge.values()) for edge in edges] == expected.edges()
    assert [edge["offset"] for edge in edges] == [64 * KIB, 192 * KIB, 256 * KIB]
    assert [tuple(region) for region in regions] == expected.regions(0.9, min_length=1000) == [
        (64 * KIB, 192 * KIB), (256 * KIB, len(SANDWICH))]


def test_scan_text_lists_every_window_then_the_edges_and_regions(files):
    done = talvora("scan", "sandwich.img", "-w", "16384", "--edges", "--regions", "0.9",
                   cwd=files, text=True)
    assert done.returncode == 0
    lines = done.stdout.splitlines()
    assert lines[0] == f"sandwich.img: {len(SANDWICH)} bytes, 20 windows of 16384 bytes every 16384 bytes"
    windows = lines[2:22]
    assert [int(line.split()[0]) for line in windows] == list(range(0, len(SANDWICH), 16384))
    assert windows[0].split()[1] == "0.0000" and windows[5].split()[-1].startswith("█" * 23)
    edges_at = lines.index(next(line for line in lines if line.startswith("edges")))
    assert [line.split()[:2] for line in lines[edges_at + 2:edges_at + 5]] == [
        ["65536", "rising"], ["196608", "falling"], ["262144", "rising"]]
    assert lines[-2:] == [f"{65536:12}  {196608:12}  {131072:12}",
                          f"{262144:12}  {327680:12}  {65536:12}"]


def test_scan_csv_has_a_row_per_window_with_its_edge_and_region(files):
    done = talvora("scan", "sandwich.img", "--window", "32768", "--edges", "--regions", "0.9",
                   "--csv", cwd=files, text=True)
    rows = list(csv.DictReader(io.StringIO(done.stdout)))
    expected = talvora_tools.scan_file(files / "sandwich.img", 32768)
    assert [int(row["offset"]) for row in rows] == list(expected.offsets)
    assert [bits(float(row["shannon"])) for row in rows] == [bits(v) for v in expected.shannon]
    assert [row["edge"] for row in rows] == ["", "", "rising", "", "", "", "falling", "", "rising", ""]
    assert [row["region"] for row in rows] == ["", "", *["65536"] * 4, "", "", *["262144"] * 2]


def test_scan_of_standard_input_and_of_a_missing_file(files):
    piped = talvora("scan", "-", "--window", "1000", "--json", input=SANDWICH)
    assert json.loads(piped.stdout)["shannon"] == list(talvora_tools.scan(SANDWICH, 1000).shannon)
    missing = talvora("scan", "nothing", "--window", "10", cwd=files, text=True)
    assert (missing.returncode, missing.stdout) == (1, "")
    assert missing.stderr == "talvora: nothing: No such file or directory\n"


def test_plot_writes_a_png_that_reads_back(files, tmp_path):
    image = pytest.importorskip("matplotlib.image")
    done = talvora("scan", files / "sandwich.img", "--window", "4096", "--edges", "--regions",
                   "0.9", "--plot", tmp_path / "scan.png", text=True)
    assert done.returncode == 0 and done.stdout.startswith("\nedges")  # no profile, the lists
    pixels = image.imread(tmp_path / "scan.png")
    assert pixels.ndim == 3 and pixels.shape[0] > 100 and pixels.shape[1] > 400
    assert len({tuple(p) for p in pixels.reshape(-1, pixels.shape[2])[::97]}) > 3  # not blank
    svg = talvora("scan", files / "five", "-w", "2", "--plot", tmp_path / "scan.svg", "--quiet")
    assert svg.returncode == 0 and b"<svg" in (tmp_path / "scan.svg").read_bytes()


def test_plot_without_matplotlib_says_how_to_install_it(files):
    done = run_python("""
        import sys
        sys.modules["matplotlib"] = None  # as if not installed
        sys.argv = ["talvora", "scan", "five", "--window", "2", "--plot", "out.png"]
        from talvora_tools.cli import run
        run()
    """, cwd=files)
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr == ("talvora: --plot needs matplotlib, which is not installed: "
                           "pip install 'talvora[plot]'\n")
    assert not (files / "out.png").exists()


def blocked_reading(pid, target):
    """Whether a thread of pid waits in read() (system call 0 on x86-64) on
    a descriptor of target (what /proc shows the descriptor lead to)."""
    descriptors = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}") == target:
                descriptors.add(hex(int(fd)))
        except OSError:
            continue
    for thread in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{thread}/syscall") as f:
                call = f.read().split()
        except OSError:
            continue
        if call[:1] == ["0"] and call[1] in descriptors:
            return True
    return False


def wait_until_blocked_reading(child, target):
    deadline = time.monotonic() + 120
    while not blocked_reading(child.pid, target):
        assert time.monotonic() < deadline and child.poll() is None, "never read the pipe"
        time.sleep(0.05)


x86_64_only = pytest.mark.skipif(os.uname().machine != "x86_64",
                                 reason="reads x86-64 system call numbers")


def run_with_slow_input(args, stderr):
    """Runs the command on standard input that keeps it waiting for 1.6 s
    once it reads; returns its status, output and error output (None on a
    terminal)."""
    with subprocess.Popen([sys.executable, "-m", "talvora_tools", *args], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=stderr) as child:
        child.stdin.write(SANDWICH[:1000])
        child.stdin.flush()
        wait_until_blocked_reading(child, os.readlink(f"/proc/{child.pid}/fd/0"))
        time.sleep(1.6)
        child.stdin.write(SANDWICH[1000:])
        child.stdin.close()
        out = child.stdout.read()
        err = child.stderr.read() if child.stderr else None
        return child.wait(timeout=120), out, err


@x86_64_only
@pytest.mark.parametrize("quiet", [False, True])
def test_a_progress_bar_only_on_a_terminal_after_a_second(quiet):
    controller, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))  # 80 columns
    try:
        status, out, _ = run_with_slow_input(["--json", "-"] + ["--quiet"] * quiet, terminal)
        os.close(terminal)
        drawn = b""
        while True:
            try:
                chunk = os.read(controller, 65536)
            except OSError:  # the terminal's other side is closed: all read
                break
            if not chunk:
                break
            drawn += chunk
    finally:
        os.close(controller)
    assert status == 0 and json.loads(out)["n"] == len(SANDWICH)
    if quiet:
        assert drawn == b""
    else:
        assert b"measuring" in drawn and b"\r" in drawn


@x86_64_only
def test_no_progress_bar_when_standard_error_is_not_a_terminal():
    status, out, err = run_with_slow_input(["--json", "-"], subprocess.PIPE)
    assert status == 0 and json.loads(out)["n"] == len(SANDWICH) and err == b""


@x86_64_only
@pytest.mark.parametrize("source", ["fifo", "stdin"])
def test_ctrl_c_while_a_worker_is_blocked_on_a_pipe_exits_130(tmp_path, source):
    (tmp_path / "five").write_bytes(b"12345")
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    writer = os.open(fifo, os.O_RDWR)  # a writer that never writes
    try:
        child = subprocess.Popen(
            [sys.executable, "-m", "talvora_tools", "five", str(fifo) if source == "fifo" else "-"],
            stdin=writer if source == "stdin" else subprocess.DEVNULL, cwd=tmp_path,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        wait_until_blocked_reading(child, str(fifo))
        child.send_signal(signal.SIGINT)
        began = time.monotonic()
        out, err = child.communicate(timeout=60)
        took = time.monotonic() - began
    finally:
        os.close(writer)
    assert child.returncode == 130 and b"Traceback" not in err, err
    assert took < 5
