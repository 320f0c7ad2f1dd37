#!/bin/sh
# Takes the pictures of Marrowby's window for the documentation, each on a
# virtual X display of its own:
#   scripts/screenshot-marrowby.sh MARROWBY MARROWBY_EXE [OUTPUT_FOLDER]
# MARROWBY is the Linux (Qt) program, MARROWBY_EXE the Windows one, run under
# Wine in a Wine virtual desktop, which draws the window's frame. No window
# manager runs on the display, so the Linux window shows without a frame.
# Writes marrowby-linux.png and marrowby-windows.png (default folder: docs/).
# Needs xvfb-run (xvfb), xwininfo (x11-utils), import (imagemagick) and Wine;
# WINE names the Wine loader (default: wine), WINEPREFIX the prefix to use.
set -eu

# The window's outer rectangle and a margin around it.
CROP=910x680+172+87

wait_for_window() {  # title, seconds
  i=0
  until xwininfo -root -tree | grep -q "\"$1\""; do
    i=$((i + 1))
    if [ "$i" -gt $(($2 * 5)) ]; then
      echo "no window \"$1\" appeared" >&2
      return 1
    fi
    sleep 0.2
  done
  sleep 2  # let it paint
}

if [ "${1:-}" = "--on-display" ]; then
  marrowby=$2 marrowby_exe=$3 out=$4
  wine=${WINE:-wine}

  QT_QPA_PLATFORM=xcb "$marrowby" &
  pid=$!
  wait_for_window Form1 30
  import -window root -crop "$CROP" +repage "$out/marrowby-linux.png"
  kill "$pid"
  wait "$pid" 2>/dev/null || true

  WINEDEBUG=-all "$wine" explorer /desktop=Marrowby,1280x800 "$marrowby_exe" &
  pid=$!
  wait_for_window Form1 120
  import -window root -crop "$CROP" +repage "$out/marrowby-windows.png"
  wineserver -k || true
  wait "$pid" 2>/dev/null || true
  exit 0
fi

if [ $# -lt 2 ]; then
  echo "usage: $0 MARROWBY MARROWBY_EXE [OUTPUT_FOLDER]" >&2
  exit 2
fi
out=${3:-$(dirname "$0")/../docs}
mkdir -p "$out"
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --on-display \
  "$(realpath "$1")" "$(realpath "$2")" "$(realpath "$out")"
