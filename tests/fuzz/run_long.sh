#!/bin/sh
# Runs one fuzz target for a total time, going on after each finding (each
# input is kept in <work>/artifacts), and prints the executions summed over
# the segments. For the long runs by hand; ctest runs the short ones.
#
# Usage: run_long.sh <fuzzer> <seed-folder> <seconds> <work-folder>
set -u
fuzzer=$1 seeds=$2 total=$3 work=$4
mkdir -p "$work/corpus" "$work/artifacts"
start=$(date +%s)
executions=0
findings=0
while :; do
    remaining=$((total - ($(date +%s) - start)))
    [ "$remaining" -gt 0 ] || break
    nice -n 10 "$fuzzer" "$work/corpus" "$seeds" -max_total_time="$remaining" -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$work/artifacts/" >"$work/segment.log" 2>&1
    status=$?
    cat "$work/segment.log"
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/segment.log" | tail -1)
    executions=$((executions + ${units:-0}))
    [ "$status" -eq 0 ] && break
    findings=$((findings + 1))
    echo "==== finding $findings (exit $status); going on"
    [ "$findings" -lt 25 ] || break
done
echo "==== total: $executions executions in $(($(date +%s) - start)) s, $findings findings"
