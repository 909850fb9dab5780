#!/usr/bin/env bash
# Ctrl+C stops a running filter: filterhost's console handler sets the flag that
# abortProc answers, the filter reports 1, and filterhost says "stopped" and
# exits with 130. Wine turns SIGINT into the console's Ctrl+C event, so the
# signal stands in for the key. The test filter waits in continue for the stop.
# Usage: ctrl-c-test.sh FILTERHOST TESTFILTER IMAGE WORKDIR
set -u
host=$1 filter=$2 image=$3 work=$4
mkdir -p "$work"
rm -f "$work"/ctrlc.*

TESTFILTER_MODE=wait "${PATINEX_WINE:-wine}" "$host" "$filter" "$image" "$work/ctrlc.out.png" \
  </dev/null >"$work/ctrlc.out" 2>"$work/ctrlc.err" &
pid=$!
for _ in $(seq 600); do
  grep -q "waiting for abortProc" "$work/ctrlc.err" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -INT "$pid"
wait "$pid"
status=$?
fail=0
[ "$status" = 130 ] || { echo "exit status $status, expected 130"; fail=1; }
grep -q "filterhost: stopped (Ctrl+C)" "$work/ctrlc.err" || { echo "no stop message"; fail=1; }
[ ! -e "$work/ctrlc.out.png" ] || { echo "an output was written after the stop"; fail=1; }
echo "--- stderr:"; cat "$work/ctrlc.err"
exit $fail
