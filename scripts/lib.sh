# Shared by the set-up scripts: package installation and the build.
# shellcheck shell=bash

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

# Installs the Debian packages of the arguments that are not installed yet.
ensure_packages() {
    local missing=()
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-translations-l10n fonts-dejavu-core libtomlplusplus-dev libmosquitto-dev libsystemd-dev)
TEST_PACKAGES=(libgtest-dev libgmock-dev clang libclang-rt-14-dev xvfb xauth groff-base mosquitto mosquitto-clients openssl python3 python3-jsonschema python3-paho-mqtt systemd)
BENCH_PACKAGES=(libbenchmark-dev valgrind mosquitto)

# Configures (when needed) and builds a preset; extra arguments go to the build.
build_preset() {
    local preset="$1"
    shift
    cd "$ROOT"
    if [ ! -f "build/$preset/CMakeCache.txt" ]; then
        cmake --preset "$preset" >&2
    fi
    cmake --build --preset "$preset" -j "$JOBS" "$@" >&2
}

# What a sanitizer prints when it finds a fault.
SANITIZER_REPORT="WARNING: ThreadSanitizer|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:"

# Tests counted over the run_ctest calls of a run, and the tests that needed
# a retry, each as "NAME: passed on its retry" or "NAME: failed twice".
TESTS_PASSED=0
TESTS_FAILED=0
RETRIED=()

# Runs the tests of a build directory; further arguments go to ctest's first
# run. Tests against pseudo-terminals and threads keep real deadlines, which a
# loaded machine can miss, so a test that failed is run once more, alone. The
# first run's output stays in ctest-failed-1.log (every test's own output in
# ctest-failed-1.tests.log), the retry's in ctest-retry.log (and
# ctest-retry.tests.log). A test that fails its retry too fails the run. A
# sanitizer report is never retried: it fails the run at once. When tests
# failed, the last line printed is "N passed, N failed"; otherwise ctest's
# own closing lines are the last.
run_ctest() {  # build directory, ctest arguments...
    local dir="$1"
    shift
    local log="$dir/ctest-output.log" first="$dir/ctest-failed-1.log" retry="$dir/ctest-retry.log"
    local tests="$dir/ctest-failed-1.tests.log" retries="$dir/ctest-retry.tests.log"
    local records="$dir/Testing/Temporary"
    # ctest leaves the list of failed tests of an earlier run in place when
    # none fail; only this run's may count.
    rm -f "$first" "$tests" "$retry" "$retries" "$records/LastTestsFailed.log"
    if ctest --test-dir "$dir" --output-on-failure "$@" 2>&1 | tee "$log"; [ "${PIPESTATUS[0]}" -eq 0 ]; then
        TESTS_PASSED=$((TESTS_PASSED + $(ctest_total "$log")))
        return 0
    fi
    cp "$log" "$first"
    cp "$records/LastTest.log" "$tests" 2>/dev/null || true
    local total failed=()
    total=$(ctest_total "$first")
    mapfile -t failed < <(ctest_failed "$records")
    if [ "${#failed[@]}" -eq 0 ]; then
        echo "== ctest failed before any test did; its output: $first"
        return 1
    fi
    if grep -qE "$SANITIZER_REPORT" "$first"; then
        echo "== a sanitizer reported a fault: no retry; the output: $first"
        printf '==   failed: %s\n' "${failed[@]}"
        ctest_count "$total" "${#failed[@]}"
        return 1
    fi
    echo "== running the ${#failed[@]} failed test(s) again, alone, once"
    local twice=() name
    if ctest --test-dir "$dir" --output-on-failure --rerun-failed 2>&1 | tee "$retry"; [ "${PIPESTATUS[0]}" -ne 0 ]; then
        mapfile -t twice < <(ctest_failed "$records")
    fi
    cp "$records/LastTest.log" "$retries" 2>/dev/null || true
    if grep -qE "$SANITIZER_REPORT" "$retry"; then
        # A report in the retry fails the run whatever ctest made of it.
        mapfile -t twice < <(printf '%s\n' "${failed[@]}")
    fi
    echo "== tests that needed a retry (first outputs: $first, $tests; retry: $retry, $retries):"
    for name in "${failed[@]}"; do
        if is_one_of "$name" "${twice[@]}"; then
            RETRIED+=("$name: failed twice")
        else
            RETRIED+=("$name: passed on its retry")
        fi
        echo "==   ${RETRIED[-1]}"
    done
    ctest_count "$total" "${#twice[@]}"
    [ "${#twice[@]}" -eq 0 ]
}

# True when the first argument is one of the others.
is_one_of() {  # word, words...
    local word="$1" other
    shift
    for other in "$@"; do [ "$other" = "$word" ] && return 0; done
    return 1
}

# Adds a run of TOTAL tests of which FAILED failed to the counts and prints
# the counts of the run so far, the plain closing line of a run with a retry.
ctest_count() {  # total, failed
    TESTS_PASSED=$((TESTS_PASSED + $1 - $2))
    TESTS_FAILED=$((TESTS_FAILED + $2))
    echo "$TESTS_PASSED passed, $TESTS_FAILED failed"
}

# The number of tests a ctest output reports on ("... out of N"), 0 if none.
ctest_total() {  # log
    sed -n 's/.* tests failed out of \([0-9][0-9]*\)$/\1/p' "$1" | tail -n 1 | grep . || echo 0
}

# The names of the tests that failed in ctest's last run, one a line.
ctest_failed() {  # Testing/Temporary directory
    [ -f "$1/LastTestsFailed.log" ] || return 0
    sed 's/^[0-9]*://' "$1/LastTestsFailed.log"
}
