"""talvora_tools.cli.work: several inputs measured at once on threads (the
library reads and counts without the interpreter lock), each result handed
back in the order given. The main thread waits in short slices, so it keeps
the bar moving and sees Ctrl-C at once even while a worker is blocked on a
pipe."""

from __future__ import annotations

import collections
import concurrent.futures
from collections.abc import Callable, Iterable, Iterator
from typing import TypeVar

from talvora_tools.cli.progress import Bar

T = TypeVar("T")

# Inputs measured at the same time. Each count already spreads over the
# worker pool; a few at once keep the disk and the pool busy across files,
# and bound the read buffers held.
THREADS = 4
# How long the main thread waits before it looks at signals and the bar again.
WAIT_SLICE = 0.1


def in_order(tasks: Iterable[Callable[[], T]], bar: Bar,
             threads: int = THREADS) -> Iterator[concurrent.futures.Future[T]]:
    """Runs the tasks on threads, a few ahead of the one awaited; yields each
    task's future, done, in the order of tasks."""
    pool = concurrent.futures.ThreadPoolExecutor(threads, thread_name_prefix="talvora")
    try:
        pending: collections.deque[concurrent.futures.Future[T]] = collections.deque()
        for task in tasks:
            pending.append(pool.submit(task))
            if len(pending) > 2 * threads:
                yield finished(pending.popleft(), bar)
        while pending:
            yield finished(pending.popleft(), bar)
    except BaseException:
        # Ctrl-C, or the reader of the output gone: a worker may be blocked
        # for good (a pipe whose writer never writes), so it is not waited for.
        pool.shutdown(wait=False, cancel_futures=True)
        raise
    pool.shutdown()


def finished(future: concurrent.futures.Future[T], bar: Bar) -> concurrent.futures.Future[T]:
    while not concurrent.futures.wait([future], timeout=WAIT_SLICE).done:
        bar.show()
    bar.show()
    return future
