#!/usr/bin/env bash
# The test runner's retry policy (run_ctest in scripts/lib.sh) on a fake suite
# of four shell tests (fake/): a test that fails once is run again alone, is
# named in the summary, and both of its outputs are kept; a test that fails
# twice in a row fails the run; a sanitizer report is never retried; the
# last line is ctest's own, or "N passed, N failed" after a retry.
# Usage: retry_policy_test.sh SOURCE_DIR
set -u
source="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
build="$work/build"
cmake -S "$source/tests/harness/fake" -B "$build" > "$work/configure.log" 2>&1 || {
    cat "$work/configure.log"
    exit 1
}

failures=0
check() {  # description, then a command that must succeed
    local what="$1"
    shift
    if ! "$@"; then
        echo "FAILED: $scenario: $what" >&2
        failures=$((failures + 1))
    fi
}
runs() {  # how often test $1 ran
    if [ -f "$build/$1.runs" ]; then wc -l < "$build/$1.runs" | tr -d ' '; else echo 0; fi
}
last_line() { tail -n 1 "$work/out"; }
has() { grep -qF -- "$2" "$1"; }

# Runs the fake suite with plans "NAME=PLAN" (the others pass), under
# errexit as scripts/run-tests does; rc and out hold the outcome. ctest's
# arguments are "-j 2" and those in ctest_args; ctest's records of the run
# before are removed unless keep_records is set.
ctest_args=()
keep_records=
run_scenario() {
    scenario="$1"
    shift
    rm -rf "$build"/*.runs "$build"/*.plan "$build"/ctest-*.log
    [ -n "$keep_records" ] || rm -rf "$build/Testing"
    local plan
    for plan in "$@"; do echo "${plan#*=}" > "$build/${plan%%=*}.plan"; done
    (
        source "$source/scripts/lib.sh"
        run_ctest "$build" -j 2 "${ctest_args[@]}"
    ) > "$work/out" 2>&1
    rc=$?
}

run_scenario "every test passes"
check "the run succeeds" test "$rc" -eq 0
check "ctest's closing line is the last" has <(last_line) "Total Test time"
check "no test runs twice" test "$(runs first)$(runs second)$(runs third)$(runs fourth)" = 1111
check "no failure log" test ! -e "$build/ctest-failed-1.log"

run_scenario "a test fails once" second=fail-once
check "the run succeeds" test "$rc" -eq 0
check "the test ran again, the others once" test "$(runs first)$(runs second)$(runs third)$(runs fourth)" = 1211
check "the summary names the test" has "$work/out" "second: passed on its retry"
check "the first output is kept" has "$build/ctest-failed-1.log" "second: failure of run 1"
check "every test's output of the first run is kept" has "$build/ctest-failed-1.tests.log" "second: failure of run 1"
check "the retry's output is kept" has "$build/ctest-retry.tests.log" "second: run 2, plan fail-once"
check "the summary says where both outputs are" has "$work/out" "$build/ctest-failed-1.log"
check "the last line counts the tests" test "$(last_line)" = "4 passed, 0 failed"

run_scenario "a test fails twice in a row" second=fail-once third=fail
check "the run fails" test "$rc" -ne 0
check "both failed tests ran again" test "$(runs first)$(runs second)$(runs third)$(runs fourth)" = 1221
check "the summary names the test that failed twice" has "$work/out" "third: failed twice"
check "the summary names the test that passed on its retry" has "$work/out" "second: passed on its retry"
check "the retry's output is kept" has "$build/ctest-retry.log" "third: failure of run 2"
check "the last line counts the tests" test "$(last_line)" = "3 passed, 1 failed"

run_scenario "a sanitizer reports a fault" second=fail-once fourth=sanitizer
check "the run fails" test "$rc" -ne 0
check "nothing ran again" test "$(runs first)$(runs second)$(runs third)$(runs fourth)" = 1111
check "the summary says why" has "$work/out" "a sanitizer reported a fault: no retry"
check "the report is kept" has "$build/ctest-failed-1.log" "WARNING: ThreadSanitizer: data race (in fourth)"
check "the last line counts the tests" test "$(last_line)" = "2 passed, 2 failed"

# After that run, ctest's list of failed tests names second and fourth.
ctest_args=(-R no-such-test --no-tests=error)
keep_records=1
run_scenario "ctest fails without a failed test, after a run with failures"
check "the run fails" test "$rc" -ne 0
check "no test of the run before runs again" test "$(runs first)$(runs second)$(runs third)$(runs fourth)" = 0000
check "the summary says why" has "$work/out" "ctest failed before any test did"

if [ "$failures" -ne 0 ]; then
    # The fake report is masked, so that a run of this test that fails is
    # not taken for a sanitizer's finding by the runner around it.
    echo "--- output of the last scenario:" >&2
    sed 's/ThreadSanitizer/Thread-Sanitizer (fake)/' "$work/out" >&2
    exit 1
fi
echo "retry policy: every scenario as expected"
