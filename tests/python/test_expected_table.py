"""The committed expected-entropy table is exactly what its generator writes."""

import pathlib
import subprocess
import sys

import pytest

from support import DEBUG_INTERPRETER, SANITIZED

ROOT = pathlib.Path(__file__).resolve().parents[2]

# The generator's output does not depend on the build: one pass checks it.
pytestmark = pytest.mark.skipif(DEBUG_INTERPRETER or SANITIZED, reason="runs on the release interpreter only")


def test_committed_table_matches_generator(tmp_path):
    out = tmp_path / "table.cpp"
    subprocess.run([sys.executable, ROOT / "tools/gen_expected_table.py", out], check=True)
    committed = (ROOT / "src/entropy/expected_entropy_table.cpp").read_text()
    assert out.read_text() == committed
