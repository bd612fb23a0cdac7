"""talvora_tools.cli.sp800_90b_command: talvora 90b FILE --bits N: the
SP 800-90B assessment of a noise source's samples (one per byte): the
non-IID estimators, or with --iid the IID track, or with --restart the
restart tests; each estimate and the assessed min-entropy."""

from __future__ import annotations

import argparse
import contextlib
import functools
import sys
import warnings
from collections.abc import Callable, Iterator, Sequence

from talvora_tools import sp800_90b
from talvora_tools.cli import work
from talvora_tools.cli.command import Command, Context, UsageError
from talvora_tools.cli.formats import Column, Record, fixed
from talvora_tools.cli.inputs import STDIN, reason
from talvora_tools.cli.progress import Bar, Progress
from talvora_tools.sp800_90b import Estimate, IidResult, IidTests, NonIidResult, RestartResult

Result = NonIidResult | IidResult | RestartResult
# Min-entropies in the text report: six decimals, a zero unsigned.
SIX = fixed(6)

ESTIMATE_COLUMNS = (
    Column("name", "estimator", str, 11, left=True),
    Column("form", "form", str, 9, left=True),
    Column("min_entropy", "min-entropy", SIX),
)
TEST_COLUMNS = (
    Column("test", "test", str, 26, left=True),
    Column("verdict", "verdict", str, 7, left=True),
    Column("detail", "detail", left=True),
)


def whole(low: int, high: int) -> Callable[[str], int]:
    def parse(text: str) -> int:
        value = int(text) if text.isdigit() else -1
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"must be a whole number from {low} to {high}, "
                                             f"not {text!r}")
        return value
    return parse


def claim(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = -1.0
    if not 0.0 <= value <= 8.0:
        raise argparse.ArgumentTypeError(f"must be a number of bits from 0 to 8, not {text!r}")
    return value


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE",
                        help="the samples, one per byte, or - for standard input")
    parser.add_argument("-b", "--bits", type=whole(1, 8), required=True, metavar="N",
                        help="bits per sample (1 to 8): every byte must be below 2**N")
    track = parser.add_mutually_exclusive_group()
    track.add_argument("--conditioned", action="store_true",
                       help="the output of a vetted conditioning component: assessed as bits")
    track.add_argument("--iid", action="store_true",
                       help="the IID track: the most common value estimate and the tests of "
                            "the IID assumption, instead of the non-IID estimators")
    parser.add_argument("--restart", action="store_true",
                        help="the restart tests on 1000 restarts of 1000 samples, one restart "
                             "after another (non-IID track, or IID with --iid)")
    parser.add_argument("--h-initial", type=claim, metavar="H",
                        help="with --restart: the entropy per sample claimed for the source "
                             "(default: what the same track assesses on FILE's samples)")
    parser.add_argument("--permutations", type=whole(1, 2**63 - 1), default=10_000, metavar="P",
                        help="the most shuffles in a permutation test (default 10000)")
    parser.add_argument("--seed", type=whole(0, 2**64 - 1), metavar="S",
                        help="the permutation test's seed: the same result on every run")


def run(options: argparse.Namespace, context: Context) -> None:
    if options.h_initial is not None and not options.restart:
        raise UsageError("--h-initial is the claim the restart tests check: give --restart")
    if options.h_initial is not None and options.h_initial > options.bits:
        raise UsageError(f"--h-initial ({options.h_initial}) must not be above --bits "
                         f"({options.bits})")
    if options.conditioned and options.restart:
        raise UsageError("--conditioned applies to the non-IID assessment, not to --restart")
    with shuffles_shown(context, options) as (counter, bar):
        task = functools.partial(assess, options, counter)
        (future,) = work.in_order([task], bar)
        try:
            result = future.result()
        except (OSError, ValueError) as error:
            context.fail(options.file, reason(error) if isinstance(error, OSError) else str(error))
            return
    for message in result.warnings:
        print(f"talvora: {options.file}: warning: {message}", file=sys.stderr)
    if context.style == "json":
        context.write([{"path": options.file, "assessment": kind(result), **result.as_dict()}],
                      ())
    elif context.style == "csv":
        context.write(csv_records(options.file, result), ())
    else:
        write_text(context, options.file, result)


def shuffles_shown(context: Context, options: argparse.Namespace
                   ) -> contextlib.AbstractContextManager[tuple[Progress, Bar]]:
    """The bar of the permutation tests' shuffles; none for the non-IID
    estimators, which have no steps to count."""
    if options.iid:
        return context.progress(options.permutations, "permutation test", "shuffles")
    counter = Progress(None, shown=False)
    return contextlib.nullcontext((counter, Bar(counter, "")))


def assess(options: argparse.Namespace, counter: Progress) -> Result:
    samples = read(options.file)
    made = Shuffles(counter)
    # The warnings are in the result, printed with it.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", sp800_90b.AssessmentWarning)
        if options.restart:
            return sp800_90b.restart(samples, options.bits, iid=options.iid,
                                     h_initial=options.h_initial,
                                     permutations=options.permutations, seed=options.seed,
                                     progress=made)
        if options.iid:
            return sp800_90b.iid(samples, options.bits, permutations=options.permutations,
                                 seed=options.seed, progress=made)
        return sp800_90b.non_iid(samples, options.bits, conditioned=options.conditioned)


def read(path: str) -> bytes:
    if path == STDIN:
        return sys.stdin.buffer.read()
    with open(path, "rb") as file:
        return file.read()


class Shuffles:
    """The permutation test's progress as the bar counts it: each phase of
    the test counts its shuffles from zero, the bar only ever moves on."""

    def __init__(self, counter: Progress) -> None:
        self._counter = counter
        self._shown = 0

    def __call__(self, made: int) -> None:
        if made > self._shown:
            self._counter.add(made - self._shown)
            self._shown = made


def kind(result: Result) -> str:
    if isinstance(result, RestartResult):
        return "restart"
    return "iid" if isinstance(result, IidResult) else "non_iid"


def csv_records(path: str, result: Result) -> Iterator[Record]:
    """One row per estimate, then the assessed value as a row of its own."""
    datasets: Sequence[tuple[str, Sequence[Estimate]]]
    if isinstance(result, RestartResult):
        datasets = [(name, data.estimates) for name, data in
                    (("rows", result.rows), ("columns", result.columns)) if data is not None]
    else:
        datasets = [("samples", result.estimates)]
    for dataset, estimates in datasets:
        for e in estimates:
            yield {"path": path, "dataset": dataset, "estimator": e.name, "form": e.form,
                   "min_entropy": e.min_entropy}
    yield {"path": path, "dataset": "", "estimator": "assessed", "form": "",
           "min_entropy": result.assessed}


def write_text(context: Context, path: str, result: Result) -> None:
    if isinstance(result, RestartResult):
        write_restart(context, path, result)
        return
    track = "IID track" if isinstance(result, IidResult) else (
        "conditioned, as bits" if result.conditioned else "non-IID track")
    context.text(f"{path}: {sp800_90b.samples_of(result.samples, result.bits)}, {result.k} "
                 f"distinct values ({track})")
    context.write([e.as_dict() for e in result.estimates], ESTIMATE_COLUMNS)
    context.text("")
    if result.h_original is not None:
        context.text(f"H_original: {SIX(result.h_original)}")
    if result.h_bitstring is not None:
        context.text(f"H_bitstring: {SIX(result.h_bitstring)} (per sample: "
                     f"{SIX(result.bits * result.h_bitstring)})")
    if isinstance(result, IidResult):
        write_tests(context, result.tests)
        context.text(f"IID: {'yes' if result.is_iid else 'no (not shown to be IID)'}")
    context.text(f"assessed min-entropy: {SIX(result.assessed)} bits per sample")


def write_tests(context: Context, tests: IidTests | None) -> None:
    if tests is None:
        context.text("no IID tests: every sample has the same value")
        return
    verdict = {True: "passed", False: "failed"}
    p = tests.permutation
    decided = f", decided without {', '.join(p.decided_without)}" if p.decided_without else ""
    rows = [
        {"test": "chi-square independence", "verdict": verdict[tests.independence.passed],
         "detail": f"p-value {tests.independence.p_value:.6g}"},
        {"test": "chi-square goodness of fit", "verdict": verdict[tests.goodness_of_fit.passed],
         "detail": f"p-value {tests.goodness_of_fit.p_value:.6g}"},
        {"test": "longest repeated substring", "verdict": verdict[tests.lrs.passed],
         "detail": f"W {tests.lrs.longest_repeat}, P(X >= 1) {tests.lrs.probability:.6g}"},
        {"test": "permutation", "verdict": verdict[p.passed],
         "detail": f"{p.permutations} shuffles, seed {p.seed}{decided}"},
    ]
    context.text("")
    context.write(rows, TEST_COLUMNS)


def write_restart(context: Context, path: str, result: RestartResult) -> None:
    s = result.sanity
    context.text(f"{path}: restart tests, {result.bits}-bit samples, "
                 f"{'IID' if result.iid else 'non-IID'} track, claimed H_I "
                 f"{SIX(result.h_initial)}")
    context.text(f"sanity check: {'passed' if s.passed else 'failed'} (the commonest value of a "
                 f"row or column occurs {s.max_count} times, cutoff {s.cutoff})")
    for name, dataset in (("rows", result.rows), ("columns", result.columns)):
        if dataset is None:
            continue
        context.text(f"\n{name}: min-entropy {SIX(dataset.min_entropy)}")
        context.write([e.as_dict() for e in dataset.estimates], ESTIMATE_COLUMNS)
        if result.iid:
            write_tests(context, dataset.tests)
    context.text("")
    if result.validated and result.assessed is not None:
        context.text(f"validated; assessed min-entropy: {SIX(result.assessed)} bits per sample")
    else:
        context.text("not validated: " + ("the restarts do not carry the claimed entropy"
                                          if s.passed else "the sanity check failed"))


COMMAND = Command("90b", "the SP 800-90B min-entropy assessment of a noise source's samples",
                  add_arguments, run)
