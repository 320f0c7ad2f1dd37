#!/bin/sh
# Runs a Windows program under Wine:  wine-run.sh LOADER PROGRAM [ARGS...]
# Every program the tests start writes to standard output, so a run with no
# output and nothing on standard error but Wine's own "wine..." lines never
# reached the program: Wine failed to start it, as happens now and then when
# many start at once. Such a run is started again, at most twice more, and
# never counts as a success. Only the final run's output is passed on; each
# restart is noted in the file QUILLON_WINE_RUN_LOG names, if any.
set -u
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
for attempt in 1 2 3; do
  "$@" >"$work/out" 2>"$work/err"
  status=$?
  if [ -s "$work/out" ] || grep -qv '^wine[: ]' "$work/err"; then
    cat "$work/out"
    cat "$work/err" >&2
    exit "$status"
  fi
  note="wine-run: attempt $attempt: Wine ended with exit code $status before $2 wrote anything"
  { echo "$note"; cat "$work/err"; } | tee -a "$work/notes" >>"${QUILLON_WINE_RUN_LOG:-/dev/null}"
done
cat "$work/notes" >&2
[ "$status" -eq 0 ] && exit 1
exit "$status"
