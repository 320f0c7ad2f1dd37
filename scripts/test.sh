#!/usr/bin/env bash
# Builds everything (native build with AddressSanitizer and UBSan, plus the
# Windows builds) in one configure-and-build step and runs every test:
# native, and Windows under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLON_TEST_BUILD:-$root/build/test}

"$root/scripts/setup-debian.sh"
"$root/scripts/wine-prefix.sh"

# One wineserver for the whole run. Without it the server exits a few seconds
# after its last client, and a test that starts a Windows program at that
# moment fails with "recvmsg: Connection reset by peer".
export WINEDEBUG=-all
/usr/lib/wine/wineserver64 -p
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE=ON \
      -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 900 "$@"
