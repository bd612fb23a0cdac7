#!/usr/bin/env bash
# tools/inside.sh: the build, test, demo and bench steps; ./dev runs it inside
# the sid root, at the checkout.
set -euo pipefail
JOBS=${TALVORA_JOBS:-$(nproc)}
PY=/usr/bin/python3.14
PYDBG=/usr/bin/python3.14-dbg

step() { printf '\n== %s\n' "$*"; }

# configure_and_build DIR [cmake args...]: configure (its output shown only
# if it fails) and build.
configure_and_build() {
    local dir=$1
    shift
    local log
    log=$(cmake -S . -B "$dir" -G Ninja "$@" 2>&1) || {
        printf '%s\n' "$log"
        return 1
    }
    cmake --build "$dir" -j "$JOBS"
}

build_release() {
    configure_and_build build/release -DCMAKE_BUILD_TYPE=Release \
        -DPython_EXECUTABLE=$PY -DTALVORA_BENCH=ON
}

# The extension against the debug interpreter's headers, for the leak checks.
build_pydebug() {
    configure_and_build build/pydebug -DCMAKE_BUILD_TYPE=Debug \
        -DPython_EXECUTABLE=$PYDBG -DTALVORA_TESTS=OFF
}

build_asan() {
    configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug \
        -DPython_EXECUTABLE=$PY -DTALVORA_SANITIZE=address
}

build_tsan() {
    configure_and_build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPython_EXECUTABLE=$PY -DTALVORA_SANITIZE=thread
}

# pytest_in BUILD_DIR PYTHON [pytest args...]
pytest_in() {
    local dir=$1 python=$2
    shift 2
    PYTHONPATH="$PWD/$dir/python" "$python" -m pytest -q -p no:cacheprovider tests/python "$@"
}

run_sanitized() {
    step "ASan+UBSan build"
    build_asan
    ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build/asan --output-on-failure -j "$JOBS"
    step "Python tests under ASan+UBSan"
    # The interpreter is not instrumented: the runtime must come first, and
    # CPython's own allocator games are not leaks of ours.
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        TALVORA_SANITIZED=1 pytest_in build/asan $PY -x
    step "TSan build"
    build_tsan
    TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -L tsan
}

cmd=${1:-test}
[ $# -gt 0 ] && shift
case "$cmd" in
build)
    build_release
    ;;
test)
    step "build"
    build_release
    step "C++ tests"
    ctest --test-dir build/release --output-on-failure -j "$JOBS"
    step "Python tests"
    pytest_in build/release $PY
    step "Python tests on the debug interpreter (reference leaks)"
    build_pydebug
    pytest_in build/pydebug $PYDBG
    run_sanitized
    ;;
check)
    run_sanitized
    ;;
demo)
    # Build output on stderr, so stdout is only the table.
    build_release >&2
    PYTHONPATH="$PWD/build/release/python" $PY tools/demo.py "$@"
    ;;
bench)
    build_release
    step "C++ kernels"
    build/release/bench/bench_counting
    step "C++ stream kernels (summary of every report sum against the plain count)"
    build/release/bench/bench_stream
    step "C++ windowed scans (against counting the same bytes)"
    build/release/bench/bench_scan
    step "Python end to end"
    PYTHONPATH="$PWD/build/release/python" $PY bench/bench_python.py "$@"
    step "talvora_tools"
    PYTHONPATH="$PWD/build/release/python" $PY bench/bench_tools.py "$@"
    step "Windowed scans end to end"
    PYTHONPATH="$PWD/build/release/python" $PY bench/bench_scan.py
    step "The talvora command line and talvora_tools.dask"
    PYTHONPATH="$PWD/build/release/python" $PY bench/bench_cli.py "$@"
    step "SP 800-90B assessments against the reference tool"
    $PY bench/bench_sp800_90b.py "$@"
    step "Worker pool start-up"
    PYTHONPATH="$PWD/build/release/python" $PY bench/bench_pool_startup.py
    ;;
*)
    echo "inside.sh: unknown step '$cmd'" >&2
    exit 2
    ;;
esac
