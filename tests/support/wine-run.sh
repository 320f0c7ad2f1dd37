#!/bin/sh
# Runs a Windows test program under Wine:  wine-run.sh LOADER PROGRAM [ARGS...]
#
# Every program the tests start this way writes something (GoogleTest prints
# its header, the test modules and Quillon their first line), so a run that
# wrote nothing at all never reached the program: Wine itself failed to start
# it, which happens now and then when many Windows programs start at once.
# Such a run is started again, at most twice more; the note about it goes to
# standard error, and to the file QUILLON_WINE_RUN_LOG names, if any, so that
# a whole test run can tell how often it happened. A run that wrote something
# is final, whatever its exit code, and a run that never wrote anything never
# counts as a success.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 LOADER PROGRAM [ARGS...]" >&2
  exit 2
fi

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

attempt=1
while :; do
  "$@" >"$work/out" 2>"$work/err"
  status=$?
  cat "$work/out"
  cat "$work/err" >&2
  if [ -s "$work/out" ] || [ -s "$work/err" ]; then
    exit "$status"
  fi
  note="wine-run: attempt $attempt: Wine ended with exit code $status before $2 wrote anything"
  echo "$note" >&2
  if [ -n "${QUILLON_WINE_RUN_LOG:-}" ]; then
    echo "$note" >>"$QUILLON_WINE_RUN_LOG"
  fi
  if [ "$attempt" -ge 3 ]; then
    [ "$status" -eq 0 ] && exit 1
    exit "$status"
  fi
  attempt=$((attempt + 1))
done
