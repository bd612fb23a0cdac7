"""talvora_tools: how random are these bytes? Exact histograms and the full
randomness report (entropies, chi-square and its p-value, mean, Monte Carlo
pi, serial correlation, the SP 800-90B most-common-value bound) of any
buffer, str, sequence of ints or file, counted in one pass on talvora's
worker pool without the interpreter lock.
"""

from talvora_tools._histogram import (
    Histogram,
    histogram,
    histogram_file,
    report,
    report_file,
)
from talvora_tools._report import Report

__all__ = ["Histogram", "Report", "histogram", "histogram_file", "report", "report_file"]
