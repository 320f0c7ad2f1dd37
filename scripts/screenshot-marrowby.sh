#!/usr/bin/env bash
# Takes the pictures of Marrowby's window for the documentation, on a virtual
# X display of its own:
#   scripts/screenshot-marrowby.sh MARROWBY MARROWBY_EXE [OUTPUT_FOLDER]
# MARROWBY is the Linux (Qt) program, shown under the window manager Openbox,
# which draws its frame and title bar. MARROWBY_EXE is the Windows one, run
# under Wine in a Wine virtual desktop, which draws the window's frame itself;
# Wine's own fonts (fonts-wine) give it Marlett, the symbol font of its
# caption buttons. Writes marrowby-linux.png and marrowby-windows.png
# (default folder: docs/). Installs the Debian packages it needs when missing
# (scripts/setup-debian.sh). WINE names the Wine loader (default: wine),
# WINEPREFIX the prefix to use.
set -euo pipefail

# The window's outer rectangle and a margin around it.
CROP=910x680+172+87

wait_for() {  # what, seconds, command...
  local what=$1 tries=$(($2 * 5))
  shift 2
  until "$@" >/dev/null 2>&1; do
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then
      echo "$what did not appear" >&2
      return 1
    fi
    sleep 0.2
  done
}

# grep reads all of its input (no -q), so the lister never dies of a closed pipe.
window_shown() { xwininfo -root -tree | grep "\"$1\""; }
# An EWMH window manager names its check window on the root window.
window_manager_running() { xprop -root _NET_SUPPORTING_WM_CHECK | grep 'window id'; }

if [ "${1:-}" = "--on-display" ]; then
  marrowby=$2 marrowby_exe=$3 out=$4
  wine=${WINE:-wine}

  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  wait_for "the window manager" 30 window_manager_running
  QT_QPA_PLATFORM=xcb "$marrowby" &
  pid=$!
  wait_for 'the window "Form1"' 30 window_shown Form1
  sleep 2  # let it paint and take its frame
  import -window root -crop "$CROP" +repage "$out/marrowby-linux.png"
  kill "$pid" "$wm"
  wait "$pid" "$wm" 2>/dev/null || true

  # Debian's Wine does not look in the folder of its own fonts (fonts-wine),
  # which holds Marlett, the font of the caption buttons; fontconfig, whose
  # fonts Wine also loads, shows it that folder for this run.
  fonts_conf=$(mktemp)
  trap 'rm -f "$fonts_conf"' EXIT
  cat >"$fonts_conf" <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include>/etc/fonts/fonts.conf</include>
  <dir>/usr/share/wine/fonts</dir>
</fontconfig>
EOF
  # No window manager here: the Wine desktop fills the display unframed.
  FONTCONFIG_FILE=$fonts_conf WINEDEBUG=-all "$wine" explorer /desktop=Marrowby,1280x800 "$marrowby_exe" &
  pid=$!
  wait_for 'the window "Form1"' 120 window_shown Form1
  sleep 2
  import -window root -crop "$CROP" +repage "$out/marrowby-windows.png"
  wineserver -k || true
  wait "$pid" 2>/dev/null || true
  exit 0
fi

if [ $# -lt 2 ]; then
  echo "usage: $0 MARROWBY MARROWBY_EXE [OUTPUT_FOLDER]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-debian.sh" openbox fonts-wine
out=${3:-$root/docs}
mkdir -p "$out"
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --on-display \
  "$(realpath "$1")" "$(realpath "$2")" "$(realpath "$out")"
