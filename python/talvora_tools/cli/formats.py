"""talvora_tools.cli.formats: records written as an aligned table, JSON lines
or CSV, the one place where a result becomes text."""

from __future__ import annotations

import array
import csv
import dataclasses
import io
import json
import math
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import Literal

Style = Literal["table", "json", "csv"]
Record = Mapping[str, object]


@dataclasses.dataclass(frozen=True)
class Column:
    """A column of the table: the record's key, its heading and how a value
    is shown, right-aligned in at least width characters (numbers), or
    left-aligned (text, best last: a path, say, then takes what it needs)."""

    key: str
    title: str
    show: Callable[[object], str] = str
    width: int = 0
    left: bool = False


def fixed(digits: int) -> Callable[[object], str]:
    """A float with that many decimals; "-" where it is undefined. (A zero
    is shown unsigned: the sign of -0.0 is kept in JSON and CSV.)"""
    def show(value: object) -> str:
        number = _finite(value)
        return "-" if number is None else f"{number + 0.0:.{digits}f}"
    return show


def small(value: object) -> str:
    """A probability: four decimals, or two significant digits below 0.0001."""
    number = _finite(value)
    if number is None:
        return "-"
    return f"{number:.4f}" if number == 0.0 or number >= 1e-4 else f"{number:.1e}"


def _finite(value: object) -> float | None:
    if isinstance(value, (int, float)) and math.isfinite(value):
        return float(value)
    return None


def lines(records: Iterator[Record] | Sequence[Record], style: Style,
          columns: Sequence[Column]) -> Iterator[str]:
    """The text of records, line by line, as each record arrives. A table
    shows columns under a heading; JSON gives one object per record with all
    its keys (a value that is not a finite number is null, so every line is
    valid JSON); CSV has a header of all the keys and one row per record (an
    undefined value is an empty field). Nothing at all for no records."""
    first = True
    for record in records:
        if style == "json":
            yield json.dumps({key: _json_value(value) for key, value in record.items()},
                             allow_nan=False)
        elif style == "csv":
            if first:
                yield _csv_line(list(record))
            yield _csv_line([_csv_value(value) for value in record.values()])
        else:
            if first:
                yield _table_line([column.title for column in columns], columns)
            yield _table_line([column.show(record[column.key]) for column in columns], columns)
        first = False


def _table_line(cells: Sequence[str], columns: Sequence[Column]) -> str:
    parts = [cell.ljust(max(column.width, len(column.title))) if column.left
             else cell.rjust(max(column.width, len(column.title)))
             for cell, column in zip(cells, columns)]
    return "  ".join(parts).rstrip()


def _json_value(value: object) -> object:
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, (array.array, list, tuple)):
        return [_json_value(item) for item in value]
    if isinstance(value, Mapping):
        return {key: _json_value(item) for key, item in value.items()}
    return value


def _csv_value(value: object) -> str:
    if value is None or (isinstance(value, float) and not math.isfinite(value)):
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)  # every digit needed to read the same float back
    return str(value)


def _csv_line(fields: Sequence[str]) -> str:
    buffer = io.StringIO()
    csv.writer(buffer, lineterminator="").writerow(fields)
    return buffer.getvalue()
