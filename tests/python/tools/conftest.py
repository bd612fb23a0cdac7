"""The talvora_tools tests share tests/python's support module, also when
run on their own."""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
