"""talvora_tools: how random are these bytes? Exact histograms and the full
randomness report (entropies, chi-square and its p-value, mean, Monte Carlo
pi, serial correlation, the SP 800-90B most-common-value bound) of any
buffer, str, sequence of ints or file, counted in one pass on talvora's
worker pool without the interpreter lock; and windowed scans that show
where in the data the entropy rises and falls; and, in
talvora_tools.sp800_90b, the SP 800-90B assessment of a noise source.
"""

from talvora_tools._histogram import (
    Histogram,
    histogram,
    histogram_file,
    report,
    report_file,
)
from talvora_tools._report import Report
from talvora_tools._scan import Edge, Scan, scan, scan_file
from talvora_tools import sp800_90b

__all__ = [
    "Edge",
    "Histogram",
    "Report",
    "Scan",
    "histogram",
    "histogram_file",
    "report",
    "report_file",
    "scan",
    "scan_file",
    "sp800_90b",
]
