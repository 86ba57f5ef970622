#!/bin/sh
# One test of the fake suite: NAME BUILD_DIR. Counts its runs in
# BUILD_DIR/NAME.runs and acts on the plan in BUILD_DIR/NAME.plan:
# pass, fail, fail-once (fails its first run only) or sanitizer (fails with
# a sanitizer's report). Without a plan it passes.
name="$1" dir="$2"
echo run >> "$dir/$name.runs"
runs=$(wc -l < "$dir/$name.runs")
plan=$(cat "$dir/$name.plan" 2>/dev/null || echo pass)
echo "$name: run $runs, plan $plan"
case "$plan" in
    pass) exit 0 ;;
    fail) echo "$name: failure of run $runs"; exit 1 ;;
    fail-once) [ "$runs" -gt 1 ] && exit 0; echo "$name: failure of run $runs"; exit 1 ;;
    sanitizer) echo "WARNING: ThreadSanitizer: data race (in $name)"; exit 66 ;;
esac
echo "$name: unknown plan $plan"
exit 2
