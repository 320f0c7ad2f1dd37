#!/usr/bin/env bash
# Builds everything (native build with AddressSanitizer and UBSan, plus the
# Windows builds) in one configure-and-build step and runs every test:
# native, and Windows under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLON_TEST_BUILD:-$root/build/test}

"$root/scripts/setup-debian.sh"
"$root/scripts/wine-prefix.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE=ON \
      -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 900 "$@"
