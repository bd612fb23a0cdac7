"""talvora_tools.cli.plot: a scan drawn to an image file with matplotlib (the
optional extra talvora[plot]): Shannon and min-entropy against the offset,
edges as vertical lines, regions shaded."""

from __future__ import annotations

import os
from collections.abc import Sequence

from talvora_tools import Edge, Scan
from talvora_tools.cli.command import UsageError

INSTALL = "pip install 'talvora[plot]'"


def check_target(path: str) -> None:
    """Before any work: matplotlib is there and can write path's format."""
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise UsageError(f"--plot needs matplotlib, which is not installed: {INSTALL}") from None
    suffix = os.path.splitext(path)[1].lstrip(".").lower()
    formats = Figure().canvas.get_supported_filetypes()
    if suffix not in formats:
        raise UsageError(f"--plot: cannot write a '{suffix}' file; name it .png or .svg "
                         f"(or {', '.join('.' + name for name in sorted(formats))})")


def draw(scan: Scan, edges: Sequence[Edge], regions: Sequence[tuple[int, int]], path: str,
         title: str) -> None:
    """Writes the picture; an OSError if the file cannot be written."""
    from matplotlib.figure import Figure

    figure = Figure(figsize=(10, 4), layout="constrained")
    axes = figure.add_subplot()
    axes.plot(scan.offsets, scan.shannon, drawstyle="steps-post", linewidth=1, label="Shannon")
    axes.plot(scan.offsets, scan.min_entropy, drawstyle="steps-post", linewidth=1,
              label="min-entropy")
    for kind, color in (("rising", "tab:green"), ("falling", "tab:red")):
        for k, edge in enumerate(edge for edge in edges if edge.kind == kind):
            axes.axvline(edge.offset, color=color, linestyle="--", linewidth=0.8,
                         label=f"{kind} edge" if k == 0 else None)
    for k, (start, end) in enumerate(regions):
        axes.axvspan(start, end, color="tab:orange", alpha=0.15,
                     label="high-entropy region" if k == 0 else None)
    axes.set_xlim(0, max(scan.n, 1))
    axes.set_ylim(0, 8.2)
    axes.set_xlabel("offset (bytes)")
    axes.set_ylabel("bits per byte")
    axes.set_title(title)
    axes.legend(loc="lower right", fontsize="small")
    figure.savefig(path)
