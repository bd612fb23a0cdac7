"""What a process can do around a call: call in from a finaliser at shutdown,
break the look-up of collections.abc.Sequence, fork while another thread is
filling a cache. None of it may abort or hang; each call raises or answers
as at any other time."""

import subprocess
import sys
import textwrap

import pytest

from support import composed_message, not_str

NOT_A_SEQUENCE = composed_message(not_str("int"), "TypeError: 'int' object is not an instance of 'Sequence'")
PRELUDE = """
import os, sys, talvora
measure = talvora.shannon_entropy_algo.measure_entropy
def message(data):
    try:
        return repr(measure(data))
    except TypeError as error:
        return str(error)
    except BaseException as error:
        return type(error).__name__
"""


def run(script, timeout=60):
    code = textwrap.dedent(PRELUDE) + textwrap.dedent(script)
    return subprocess.run([sys.executable, "-X", "faulthandler", "-c", code],
                          capture_output=True, text=True, timeout=timeout)


@pytest.mark.parametrize("warm", [True, False], ids=["caches filled", "caches empty"])
@pytest.mark.parametrize("data", [5, [300]], ids=["not a sequence", "item out of range"])
def test_an_error_raised_by_a_finaliser_at_shutdown_is_raised(data, warm):
    done = run(f"""
        import gc
        if {warm}:
            message({data!r})
        class Finalised:
            def __del__(self, message=message, write=os.write):
                write(1, (message({data!r}).splitlines()[-1] + "\\n").encode())
        cycle = Finalised()
        cycle.self = cycle
        del cycle
        gc.disable()  # so that the cycle is left to the last collection
    """)
    assert done.returncode == 0, done.stderr
    expected = NOT_A_SEQUENCE.splitlines()[-1] if data == 5 else (
        "- variant Bytes (Bytes): TypeError: failed to extract field BytesOrStr::Bytes.0, "
        "caused by OverflowError: out of range integral type conversion attempted")
    assert done.stdout == expected + "\n"


BROKEN_LOOKUPS = {
    "collections.abc is None": """
        import collections.abc
        saved = sys.modules["collections.abc"]
        sys.modules["collections.abc"] = None
        first = message(5)
        sys.modules["collections.abc"] = saved
    """,
    "Sequence is not a class": """
        import collections.abc
        saved = collections.abc.Sequence
        collections.abc.Sequence = 42
        first = message(5)
        collections.abc.Sequence = saved
    """,
    "near the recursion limit": """
        def deep(depth):
            return deep(depth + 1) if depth < sys.getrecursionlimit() - 8 else message(5)
        first = deep(0)
    """,
}


@pytest.mark.parametrize("breaking", BROKEN_LOOKUPS.values(), ids=BROKEN_LOOKUPS.keys())
def test_a_failed_look_up_of_sequence_keeps_the_message_and_is_tried_again(breaking):
    done = run(breaking + """
        import collections.abc
        collections.abc.Sequence.__qualname__ = "Looked up"
        print(repr(first), repr(message(5)))
    """)
    assert done.returncode == 0, done.stderr
    looked_up = NOT_A_SEQUENCE.replace("'Sequence'", "'Looked up'")
    assert done.stdout == f"{NOT_A_SEQUENCE!r} {looked_up!r}\n"


def test_ctrl_c_during_the_look_up_of_sequence_propagates():
    done = run("""
        import builtins
        real_import = builtins.__import__
        def interrupted(name, *args, **kwargs):
            if name == "collections.abc":
                raise KeyboardInterrupt
            return real_import(name, *args, **kwargs)
        builtins.__import__ = interrupted
        first = message(5)
        builtins.__import__ = real_import
        print(first, repr(message(5)))
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout == f"KeyboardInterrupt {NOT_A_SEQUENCE!r}\n"


def test_a_child_forked_while_another_thread_fills_a_cache_fills_it_itself():
    done = run("""
        import builtins, threading, time, warnings
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads
        real_import = builtins.__import__
        entered = threading.Event()
        def slow(name, *args, **kwargs):
            if name == "collections.abc" and threading.current_thread().name == "filler":
                entered.set()
                time.sleep(2)
            return real_import(name, *args, **kwargs)
        builtins.__import__ = slow
        filler = threading.Thread(target=message, args=(5,), name="filler")
        filler.start()
        entered.wait()
        pid = os.fork()
        if pid == 0:
            os.write(1, (repr(message(5)) + "\\n").encode())
            os._exit(0)
        for _ in range(200):
            ended, status = os.waitpid(pid, os.WNOHANG)
            if ended:
                break
            time.sleep(0.05)
        else:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            print("the child hung")
        filler.join()
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout == f"{NOT_A_SEQUENCE!r}\n"
