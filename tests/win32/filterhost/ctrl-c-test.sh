#!/usr/bin/env bash
# Ctrl+C stops a running filter: filterhost's console handler sets the flag that
# abortProc answers, the filter reports 1, and filterhost says "stopped" and
# exits with 130. Wine turns SIGINT into the console's Ctrl+C event, so the
# signal stands in for the key. The test filter waits in continue for the stop.
# With PATINEX, Ctrl+C also cancels its parameters dialog (open, unseen, under
# the tests' null display driver) and nothing is written.
# Usage: ctrl-c-test.sh FILTERHOST TESTFILTER IMAGE WORKDIR [PATINEX]
set -u
host=$1 filter=$2 image=$3 work=$4 patinex=${5:-}
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

if [ -n "$patinex" ]; then
  "${PATINEX_WINE:-wine}" "$host" --dialog "$patinex" "$image" "$work/ctrlc.dialog.png" \
    </dev/null >"$work/ctrlc.dialog.out" 2>"$work/ctrlc.dialog.err" &
  pid=$!
  for _ in $(seq 600); do
    grep -q "the dialog is open but invisible" "$work/ctrlc.dialog.err" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  sleep 2  # the dialog opens; a Ctrl+C before it would cancel it as it opens
  kill -INT "$pid"
  # A dialog that stays open would hold the host for ever: 30 s at most.
  for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "--dialog: still running 30 s after Ctrl+C"; kill -KILL "$pid"; fail=1
  fi
  wait "$pid"
  status=$?
  [ "$status" = 130 ] || { echo "--dialog: exit status $status, expected 130"; fail=1; }
  grep -q "filterhost: Ctrl+C: the dialog is cancelled" "$work/ctrlc.dialog.err" ||
    { echo "--dialog: the dialog was not cancelled"; fail=1; }
  [ ! -e "$work/ctrlc.dialog.png" ] || { echo "--dialog: an output was written after the stop"; fail=1; }
  echo "--- stderr with --dialog:"; cat "$work/ctrlc.dialog.err"
fi
exit $fail
