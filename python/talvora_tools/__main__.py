"""python -m talvora_tools: the talvora command line."""

from talvora_tools.cli import run

run()
