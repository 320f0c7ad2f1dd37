#!/bin/sh
# Runs a Windows test program under Wine on the display that xvfb-run gave
# it:  run-under-wine.sh TESTER.exe PROGRAM.exe [test arguments...]
# PROGRAM's path is handed to the tester in Windows form. Wine runs in the
# prefix named by WINEPREFIX, which is shut down afterwards so that no Wine
# process outlives the display. Exit code 77 (skipped) when Wine itself
# cannot run on this machine.
set -u
wine=${WINE:-wine}
wineserver=${WINESERVER:-wineserver}
# Starts a program again when Wine failed to start it.
wine_run=$(dirname "$0")/../support/wine-run.sh
tester=$1
program=$2
shift 2

if ! version=$("$wine" --version 2>&1); then
  echo "SKIPPED: Wine cannot run on this machine: $version"
  exit 77
fi
windows_program=$("$wine_run" "$wine" winepath -w "$program" 2>/dev/null | tr -d '\r')
if [ -z "$windows_program" ]; then
  echo "winepath could not convert $program"
  "$wineserver" -k 2>/dev/null
  exit 1
fi
"$wine_run" "$wine" "$tester" "$windows_program" "$@"
status=$?
"$wineserver" -k 2>/dev/null
exit $status
