#!/bin/sh
# Runs a Windows test program under Wine:  wine-run.sh LOADER PROGRAM [ARGS...]
#
# Every program the tests start this way writes to its standard output
# (GoogleTest its header, the test modules and Quillon their first line), so a
# run with no standard output, and nothing on standard error but Wine's own
# "wine..." lines, never reached the program: Wine failed to start it, which
# happens now and then when many Windows programs start at once. Such a run
# is started again, at most twice more. A crash report, or any other word,
# makes a run final whatever its exit code, and a run that never reached the
# program never counts as a success.
#
# Only the final run's output is passed on, so a restart changes nothing the
# caller reads. Each restart is noted, with Wine's words, in the file
# QUILLON_WINE_RUN_LOG names, if any, so that a whole test run can tell how
# often it happened; when every attempt failed, they go to standard error.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 LOADER PROGRAM [ARGS...]" >&2
  exit 2
fi

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# True when the last run shows no sign of the program itself.
never_reached_the_program() {
  [ ! -s "$work/out" ] && ! grep -qv '^wine[: ]' "$work/err"
}

: >"$work/notes"
attempt=1
while :; do
  "$@" >"$work/out" 2>"$work/err"
  status=$?
  if ! never_reached_the_program; then
    cat "$work/out"
    cat "$work/err" >&2
    exit "$status"
  fi
  note="wine-run: attempt $attempt: Wine ended with exit code $status before $2 wrote anything"
  { echo "$note"; cat "$work/err"; } >>"$work/notes"
  if [ -n "${QUILLON_WINE_RUN_LOG:-}" ]; then
    { echo "$note"; cat "$work/err"; } >>"$QUILLON_WINE_RUN_LOG"
  fi
  if [ "$attempt" -ge 3 ]; then
    cat "$work/notes" >&2
    [ "$status" -eq 0 ] && exit 1
    exit "$status"
  fi
  attempt=$((attempt + 1))
done
