#!/usr/bin/env bash
# Prepares the Wine prefix once per run, so that tests that start Windows
# programs in parallel do not race to create it.
set -euo pipefail
export WINEDEBUG=-all
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
/usr/lib/wine/wineserver64 -w 2>/dev/null || wineserver -w 2>/dev/null || true
