#!/usr/bin/env bash
# Builds everything (native build with AddressSanitizer and UBSan, plus the
# Windows builds) in one configure-and-build step and runs every test:
# native, and Windows under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLON_TEST_BUILD:-$root/build/test}

"$root/scripts/setup-debian.sh"
# One style throughout: every C++ file as clang-format writes it.
if ! (cd "$root" && find cli pe wide sample td32 tests scripts \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 |
      xargs -0 clang-format --dry-run --Werror); then
  echo "Some C++ files are not formatted: run clang-format -i on them." >&2
  exit 1
fi
# A wineserver left behind by an earlier run that was killed would keep the
# prefix step below waiting for it for ever.
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
"$root/scripts/wine-prefix.sh"

# One wineserver for the whole run. Without it the server exits a few seconds
# after its last client, and a test that starts a Windows program at that
# moment fails with "recvmsg: Connection reset by peer". The first program
# starts Wine's background services, which then live as long as the server;
# starting them here, with no pipe as output, keeps them from holding open
# the output pipe of a test (ctest would wait on it until its timeout).
export WINEDEBUG=-all
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true

# The configure chooses the tests' Python interpreter itself (cmake/PythonInterpreter.cmake).
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
# The tests start a Windows program again when Wine failed to start it; the
# list of such restarts is shown after the run.
export QUILLON_WINE_RUN_LOG="$build/wine-restarts.log"
: >"$QUILLON_WINE_RUN_LOG"
status=0
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 900 "$@" || status=$?
if [ -s "$QUILLON_WINE_RUN_LOG" ]; then
  echo "Windows programs that Wine failed to start and the tests started again:"
  cat "$QUILLON_WINE_RUN_LOG"
fi
exit "$status"
