#!/usr/bin/env python3
"""tools/pids_limit.py: runs a command in a control group of its own whose
pids limit (processes and threads together) is MAX, as a container's would
be, and removes the group afterwards.

Usage: pids_limit.py MAX COMMAND [ARG...]

Exit status: the command's (128 + N when signal N ended it), or 77 with the
reason on standard error when no pids controller can be used here (not
root, none mounted, or not writable); callers skip on 77.

Imported, it also tells how many task ids are free (free_task_ids).
"""

import ctypes
import os
import pathlib
import signal
import subprocess
import sys
import time

UNAVAILABLE = 77
PR_SET_PDEATHSIG = 1


class Unavailable(Exception):
    pass


def free_task_ids() -> int:
    """How many more processes and threads the system would start: the
    lower of pid_max and threads-max, less the tasks that exist."""
    limits = [int(pathlib.Path(f"/proc/sys/kernel/{name}").read_text()) for name in ("pid_max", "threads-max")]
    tasks = 0
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                tasks += len(os.listdir(f"/proc/{pid}/task"))
            except OSError:  # ended meanwhile
                pass
    return min(limits) - tasks


def pids_hierarchy() -> pathlib.Path:
    """The mount point of a hierarchy with the pids controller, ready for a
    child group that limits it."""
    with open("/proc/self/mountinfo") as mounts:
        entries = [line.split() for line in mounts]
    for fields in entries:
        rest = fields[fields.index("-") + 1 :]
        fstype, options, mount_point = rest[0], rest[2], pathlib.Path(fields[4])
        if fstype == "cgroup" and "pids" in options.split(","):
            return mount_point
    for fields in entries:
        rest = fields[fields.index("-") + 1 :]
        mount_point = pathlib.Path(fields[4])
        if rest[0] != "cgroup2":
            continue
        if "pids" not in (mount_point / "cgroup.controllers").read_text().split():
            continue
        control = mount_point / "cgroup.subtree_control"
        if "pids" not in control.read_text().split():
            # Allowed at the hierarchy's root, which may hold processes.
            try:
                control.write_text("+pids")
            except OSError as error:
                raise Unavailable(f"cannot enable the pids controller in {control}: {error}")
        return mount_point
    raise Unavailable("no control-group hierarchy has the pids controller")


def run_limited(limit: int, command: list[str]) -> int:
    if os.geteuid() != 0:
        raise Unavailable("making a control group needs root")
    group = pids_hierarchy() / f"talvora-pids-{os.getpid()}"
    try:
        group.mkdir()
        (group / "pids.max").write_text(str(limit))
    except OSError as error:
        raise Unavailable(f"cannot make a limited control group under {group.parent}: {error}")
    procs = str(group / "cgroup.procs")

    def join_group() -> None:  # in the child, before it runs the command
        with open(procs, "w") as f:
            f.write(str(os.getpid()))
        # Ends with this process, should a caller's timeout kill it.
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)

    try:
        status = subprocess.run(command, preexec_fn=join_group).returncode
    finally:
        for _ in range(100):  # the group empties a moment after the exit
            try:
                group.rmdir()
                break
            except OSError:
                time.sleep(0.01)
    return status if status >= 0 else 128 - status


def main() -> int:
    if len(sys.argv) < 3 or not sys.argv[1].isdigit():
        print(__doc__, file=sys.stderr)
        return 2
    try:
        return run_limited(int(sys.argv[1]), sys.argv[2:])
    except Unavailable as reason:
        print(f"pids_limit: {reason}", file=sys.stderr)
        return UNAVAILABLE


if __name__ == "__main__":
    sys.exit(main())
