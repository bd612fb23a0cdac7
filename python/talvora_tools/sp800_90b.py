"""talvora_tools.sp800_90b: the SP 800-90B assessment of a noise source's
samples, with the numbers of NIST's reference tool: the non-IID estimators,
the IID track (its min-entropy and the tests of the IID assumption) and the
restart tests. Samples are one per byte of data (anything histogram()
takes), each below 2**bits. The work runs without the interpreter lock, on
talvora's worker pool.

    >>> from talvora_tools import sp800_90b
    >>> result = sp800_90b.non_iid(samples, bits=4)
    >>> result.assessed          # min-entropy per sample, in bits
"""

from __future__ import annotations

import dataclasses
import math
import operator
import types
import warnings
from collections.abc import Callable, Mapping, Sequence
from typing import Literal, SupportsIndex

from talvora_tools import _native
from talvora_tools._histogram import Data

__all__ = [
    "AssessmentWarning",
    "ChiSquareTest",
    "Estimate",
    "IidResult",
    "IidTests",
    "LrsTest",
    "NonIidResult",
    "PermutationStatistic",
    "PermutationTest",
    "RestartDataset",
    "RestartResult",
    "RestartSanityCheck",
    "iid",
    "non_iid",
    "restart",
]

# Called between rounds of shuffles with the number of shuffles made so far.
Progress = Callable[[int], object]
_FORMS: dict[str, Literal["literal", "bitstring"]] = {"literal": "literal",
                                                      "bitstring": "bitstring"}
Plain = None | bool | int | float | str | list["Plain"] | dict[str, "Plain"]


class AssessmentWarning(UserWarning):
    """The assessment ran, but on data it is not meant for (too few samples,
    a constant source); the result says the same in its warnings."""


class _Record:
    """A result: immutable, and as_dict() gives it as plain data."""

    __slots__ = ()

    def as_dict(self) -> dict[str, Plain]:
        """The fields by name, nested results as dicts and sequences as lists:
        what json.dumps takes."""
        return {field.name: _plain(getattr(self, field.name))
                for field in dataclasses.fields(self)}  # type: ignore[arg-type]


def _plain(value: object) -> Plain:
    if isinstance(value, _Record):
        return value.as_dict()
    if isinstance(value, Mapping):
        return {str(key): _plain(item) for key, item in value.items()}
    if isinstance(value, (tuple, list)):
        return [_plain(item) for item in value]
    assert value is None or isinstance(value, (bool, int, float, str))
    return value


def _number(value: float | None, digits: int = 6) -> str:
    # No value is "-"; a zero is shown unsigned (as_dict keeps the sign of -0.0).
    return "-" if value is None or math.isnan(value) else f"{value + 0.0:.{digits}f}"


@dataclasses.dataclass(frozen=True, slots=True, repr=False)
class Estimate(_Record):
    """One estimator on one form of the samples ("literal": the samples
    renumbered by rank; "bitstring": their bits, most significant first).
    min_entropy is None where the estimator gives no value (note says why);
    values holds its intermediate values, read-only, named and ordered as
    the reference tool prints them."""

    name: str
    form: Literal["literal", "bitstring"]
    min_entropy: float | None
    values: Mapping[str, int | float]
    note: str = ""

    def __repr__(self) -> str:
        if self.min_entropy is None:
            return f"<Estimate {self.name} on the {self.form}: no value ({self.note})>"
        shown = ", ".join(f"{key}={value!r}" for key, value in list(self.values.items())[:4])
        more = ", ..." if len(self.values) > 4 else ""
        return (f"<Estimate {self.name} on the {self.form}: min-entropy "
                f"{_number(self.min_entropy)} ({shown}{more})>")


def samples_of(samples: int, bits: int) -> str:
    """How many samples of how many bits, in words."""
    return f"{samples} samples of {bits} bit{'s' if bits != 1 else ''}"


def _estimates(raw: Sequence[tuple[str, str, float | None, Sequence[tuple[str, int | float]],
                                   str]]) -> tuple[Estimate, ...]:
    return tuple(Estimate(name, _FORMS[form], min_entropy, types.MappingProxyType(dict(values)),
                          note) for name, form, min_entropy, values, note in raw)


def _estimate_lines(estimates: Sequence[Estimate], indent: str = "  ") -> list[str]:
    width = max((len(e.name) for e in estimates), default=0)
    return [f"{indent}{e.name:<{width}}  {e.form:<9}  {_number(e.min_entropy)}"
            + (f"  ({e.note})" if e.note and e.min_entropy is None else "")
            for e in estimates]


def _warnings_lines(messages: Sequence[str]) -> list[str]:
    return [f"  warning: {message}" for message in messages]


@dataclasses.dataclass(frozen=True, slots=True, repr=False)
class NonIidResult(_Record):
    """The non-IID assessment: every estimator on the samples as they are
    and on their bitstring. h_original: the least literal estimate, capped
    at bits (None for conditioned data); h_bitstring: the least bitstring
    estimate per bit, capped at 1 (None when the samples take two values,
    which are assessed as bits already); assessed: min(bits, h_original,
    bits * h_bitstring) over those present, in bits per sample."""

    bits: int
    conditioned: bool
    samples: int
    k: int
    h_original: float | None
    h_bitstring: float | None
    assessed: float
    estimates: tuple[Estimate, ...]
    warnings: tuple[str, ...] = ()

    def __repr__(self) -> str:
        lines = [f"<NonIidResult: {samples_of(self.samples, self.bits)}, {self.k} values"
                 + (", conditioned" if self.conditioned else ""),
                 f"  assessed min-entropy {_number(self.assessed)} bits per sample "
                 f"(H_original {_number(self.h_original)}, "
                 f"H_bitstring {_number(self.h_bitstring)})",
                 *_estimate_lines(self.estimates), *_warnings_lines(self.warnings)]
        return "\n".join(lines) + ">"


@dataclasses.dataclass(frozen=True, slots=True)
class ChiSquareTest(_Record):
    """A chi-square test of the IID assumption; passed when p_value >= 0.001."""

    statistic: float
    degrees_of_freedom: int
    p_value: float
    passed: bool


@dataclasses.dataclass(frozen=True, slots=True)
class LrsTest(_Record):
    """The longest repeated substring test: collision_probability (that two
    samples are equal), longest_repeat (W, the longest substring seen twice),
    probability (that IID data of these proportions repeats one that long);
    passed when probability >= 0.001."""

    collision_probability: float
    longest_repeat: int
    probability: float
    passed: bool


@dataclasses.dataclass(frozen=True, slots=True)
class PermutationStatistic(_Record):
    """Where one statistic of the samples (original) ranks among the same
    statistic of shuffled copies: how many shuffles scored greater, equal
    and less. passed: whether it settled (more than five shuffles on each
    side); None when the verdict was reached without computing it on any
    shuffle (only ever the compression statistic, the costly one)."""

    name: str
    original: float
    greater: int
    equal: int
    less: int
    passed: bool | None


@dataclasses.dataclass(frozen=True, slots=True)
class PermutationTest(_Record):
    """The permutation test: its statistics, the seed of its shuffles (give
    it back as seed= to repeat the run), the number of shuffles made,
    whether the compression statistic had to be computed on shuffles (it is
    only while the others all settle), and the verdict."""

    statistics: tuple[PermutationStatistic, ...]
    seed: int
    permutations: int
    compression_needed: bool
    passed: bool

    @property
    def decided_without(self) -> tuple[str, ...]:
        """The statistics the verdict was reached without."""
        return tuple(s.name for s in self.statistics if s.passed is None)


@dataclasses.dataclass(frozen=True, slots=True)
class IidTests(_Record):
    """The tests of the IID assumption on one sequence."""

    independence: ChiSquareTest
    goodness_of_fit: ChiSquareTest
    lrs: LrsTest
    permutation: PermutationTest

    @property
    def passed(self) -> bool:
        return (self.independence.passed and self.goodness_of_fit.passed and self.lrs.passed
                and self.permutation.passed)


RawChiSquare = tuple[float, int, float, bool]
RawTests = tuple[RawChiSquare, RawChiSquare, tuple[float, int, float, bool],
                 tuple[Sequence[tuple[str, float, int, int, int, bool | None]], int, int, bool,
                       bool]]


def _tests(raw: RawTests | None) -> IidTests | None:
    if raw is None:
        return None
    independence, fit, lrs, (statistics, seed, permutations, compression, passed) = raw
    return IidTests(ChiSquareTest(*independence), ChiSquareTest(*fit), LrsTest(*lrs),
                    PermutationTest(tuple(PermutationStatistic(*s) for s in statistics), seed,
                                    permutations, compression, passed))


def _test_lines(tests: IidTests | None, indent: str = "  ") -> list[str]:
    if tests is None:
        return [f"{indent}no IID tests: every sample has the same value"]
    verdict = {True: "passed", False: "failed"}
    p = tests.permutation
    decided = (f"; decided without {', '.join(p.decided_without)}" if p.decided_without else "")
    return [f"{indent}chi-square independence: {verdict[tests.independence.passed]} "
            f"(p = {tests.independence.p_value:.4g})",
            f"{indent}chi-square goodness of fit: {verdict[tests.goodness_of_fit.passed]} "
            f"(p = {tests.goodness_of_fit.p_value:.4g})",
            f"{indent}longest repeated substring: {verdict[tests.lrs.passed]} "
            f"(W = {tests.lrs.longest_repeat}, p = {tests.lrs.probability:.4g})",
            f"{indent}permutation test: {verdict[p.passed]} ({p.permutations} shuffles, "
            f"seed {p.seed}{decided})"]


@dataclasses.dataclass(frozen=True, slots=True, repr=False)
class IidResult(_Record):
    """The IID track: the most common value estimate on the samples
    (renumbered by rank) and, unless binary (two values), on their
    bitstring; assessed = min(bits, h_original, bits * h_bitstring); tests
    (None when every sample has the same value) and the verdict is_iid, true
    when every test passed. mean is the samples' mean, median that of the
    renumbered samples (0.5 when binary)."""

    bits: int
    samples: int
    k: int
    mean: float
    median: float
    binary: bool
    estimates: tuple[Estimate, ...]
    h_original: float | None
    h_bitstring: float | None
    assessed: float
    tests: IidTests | None
    is_iid: bool
    warnings: tuple[str, ...] = ()

    def __repr__(self) -> str:
        lines = [f"<IidResult: {samples_of(self.samples, self.bits)}, {self.k} values: "
                 f"{'IID' if self.is_iid else 'not shown to be IID'}",
                 f"  assessed min-entropy {_number(self.assessed)} bits per sample "
                 f"(H_original {_number(self.h_original)}, "
                 f"H_bitstring {_number(self.h_bitstring)})",
                 *_estimate_lines(self.estimates), *_test_lines(self.tests),
                 *_warnings_lines(self.warnings)]
        return "\n".join(lines) + ">"


@dataclasses.dataclass(frozen=True, slots=True)
class RestartSanityCheck(_Record):
    """No value may be too common in any restart (row) or column: max_count
    (the most any row's or column's commonest value occurs) must not pass
    cutoff, found by simulation at significance alpha per row or column."""

    alpha: float
    cutoff: int
    max_count: int
    passed: bool


@dataclasses.dataclass(frozen=True, slots=True)
class RestartDataset(_Record):
    """The rows (restarts in order) or the columns (the i-th sample after
    every restart) assessed as one sequence: the estimates, their least
    value capped at bits, and, for the IID track, the IID tests."""

    estimates: tuple[Estimate, ...]
    min_entropy: float
    tests: IidTests | None


@dataclasses.dataclass(frozen=True, slots=True, repr=False)
class RestartResult(_Record):
    """The restart tests for the entropy h_initial claimed for the source:
    the sanity check, then (when it passed) the rows and the columns; the
    claim is validated when both carry at least half of it, and then the
    assessed entropy is min(rows, columns, h_initial)."""

    bits: int
    iid: bool
    h_initial: float
    k: int
    sanity: RestartSanityCheck
    rows: RestartDataset | None
    columns: RestartDataset | None
    validated: bool
    assessed: float | None
    warnings: tuple[str, ...] = ()

    def __repr__(self) -> str:
        s = self.sanity
        lines = [f"<RestartResult: {'IID' if self.iid else 'non-IID'} track, {self.bits}-bit "
                 f"samples, {self.k} values, claimed H_I {_number(self.h_initial)}: "
                 + (f"validated, assessed {_number(self.assessed)}" if self.validated
                    else "not validated"),
                 f"  sanity check: {'passed' if s.passed else 'failed'} (the commonest value "
                 f"occurs up to {s.max_count} times, cutoff {s.cutoff})"]
        for name, dataset in (("rows", self.rows), ("columns", self.columns)):
            if dataset is None:
                continue
            lines.append(f"  {name}: min-entropy {_number(dataset.min_entropy)}")
            lines += _estimate_lines(dataset.estimates, "    ")
            if dataset.tests is not None:
                lines += _test_lines(dataset.tests, "    ")
        return "\n".join(lines + _warnings_lines(self.warnings)) + ">"


def non_iid(data: Data, bits: SupportsIndex = 8, *, conditioned: bool = False) -> NonIidResult:
    """The non-IID assessment of data's samples (one per byte, each below
    2**bits): every estimator, on the samples and on their bitstring.
    Conditioned data (the output of a vetted conditioning component) are
    assessed on the bitstring only. A sample of bits bits or more is a
    ValueError naming its position; fewer samples than the estimators are
    meant for give an AssessmentWarning and a result."""
    width = _bits(bits)
    samples, k, h_original, h_bitstring, assessed, estimates, messages = _native._non_iid(
        data, width, bool(conditioned))
    _warn(messages)
    return NonIidResult(width, bool(conditioned), samples, k, h_original, h_bitstring, assessed,
                        _estimates(estimates), tuple(messages))


def iid(data: Data, bits: SupportsIndex = 8, *, permutations: SupportsIndex = 10_000,
        seed: SupportsIndex | None = None, progress: Progress | None = None) -> IidResult:
    """The IID track on data's samples (one per byte, each below 2**bits):
    the most common value estimate and the tests of the IID assumption,
    with at most permutations shuffles in the permutation test. With a seed
    (0 to 2**64 - 1) the result is the same on every run and for every
    number of threads; without one a seed is drawn, and the result's
    tests.permutation.seed repeats the run. progress(shuffles made) is
    called between rounds of shuffles, in the calling thread; an exception
    from it (or Ctrl-C) stops the test and is raised. Errors and warnings as
    for non_iid()."""
    width = _bits(bits)
    (samples, k, mean, median, binary, estimates, h_original, h_bitstring, assessed, tests,
     is_iid, messages) = _native._iid(data, width, _permutations(permutations), _seed(seed),
                                      progress)
    _warn(messages)
    return IidResult(width, samples, k, mean, median, binary, _estimates(estimates), h_original,
                     h_bitstring, assessed, _tests(tests), is_iid, tuple(messages))


def restart(data: Data, bits: SupportsIndex = 8, *, iid: bool = False,
            h_initial: float | None = None, permutations: SupportsIndex = 10_000,
            seed: SupportsIndex | None = None, progress: Progress | None = None
            ) -> RestartResult:
    """The restart tests on 1,000,000 samples (one per byte, each below
    2**bits): 1000 restarts of the source, 1000 samples after each, one
    restart after another. h_initial is the entropy per sample claimed for
    the source (0 to bits), normally the assessment of its sequential
    samples; None takes what the same track (non_iid(), or iid() with
    iid=True) assesses on these samples in order. iid=True assesses rows
    and columns with the most common value estimate and runs the IID tests
    on them (permutations, seed and progress as for iid()); otherwise with
    the non-IID estimators. Any other number of samples, or a claim outside
    0..bits, is a ValueError."""
    width = _bits(bits)
    claim = None if h_initial is None else float(h_initial)
    (claimed, k, sanity, rows, columns, validated, assessed, messages) = _native._restart(
        data, width, claim, bool(iid), _permutations(permutations), _seed(seed), progress)
    _warn(messages)
    return RestartResult(width, bool(iid), claimed, k, RestartSanityCheck(*sanity),
                         _dataset(rows), _dataset(columns), validated, assessed, tuple(messages))


def _dataset(raw: tuple[Sequence[tuple[str, str, float | None,
                                       Sequence[tuple[str, int | float]], str]],
                        float, RawTests | None] | None) -> RestartDataset | None:
    if raw is None:
        return None
    estimates, min_entropy, tests = raw
    return RestartDataset(_estimates(estimates), min_entropy, _tests(tests))


def _bits(bits: SupportsIndex) -> int:
    width = operator.index(bits)
    if not 1 <= width <= 8:
        raise ValueError(f"bits must be between 1 and 8, not {width}")
    return width


def _permutations(permutations: SupportsIndex) -> int:
    count = operator.index(permutations)
    if count < 1:
        raise ValueError(f"permutations must be a positive integer, not {count}")
    return min(count, 2**63 - 1)


def _seed(seed: SupportsIndex | None) -> int | None:
    if seed is None:
        return None
    value = operator.index(seed)
    if not 0 <= value < 2**64:
        raise ValueError(f"seed must be between 0 and 2**64 - 1, not {value}")
    return value


def _warn(messages: Sequence[str]) -> None:
    # Shown at the line that called non_iid(), iid() or restart().
    for message in messages:
        warnings.warn(message, AssessmentWarning, stacklevel=3)
