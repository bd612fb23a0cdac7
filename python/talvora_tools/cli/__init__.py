"""talvora_tools.cli: the talvora command line, a thin shell over the
library: `talvora [report] FILE...`, `talvora scan FILE --window N` and
`talvora 90b FILE --bits N`, as an aligned table, JSON lines or CSV."""

from talvora_tools.cli.app import main, run

__all__ = ["main", "run"]
