#!/usr/bin/env bash
# Builds everything (native and Windows programs, Marrowby included) and
# shows the tool's main job: a sample Windows program gets a TD32 debug
# block, then Quillon moves the block into a .tds file and rewrites the
# program, which still runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
demo=$root/build/demo

"$root/scripts/setup-debian.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLON_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

rm -rf "$demo" && mkdir -p "$demo"
x86_64-w64-mingw32-gcc -O2 -s -o "$demo/hello.exe" "$root/scripts/demo/hello.c"
/usr/bin/python3 "$root/scripts/add_td32_section.py" "$demo/hello.exe" --block-size 200000
echo "== before: $(stat -c %s "$demo/hello.exe") bytes"
"$build/cli/quillon" "$demo/hello.exe" || exit $?
echo "== after: hello.exe $(stat -c %s "$demo/hello.exe") bytes, hello.tds $(stat -c %s "$demo/hello.tds") bytes"
if [ -x /usr/lib/wine/wine64 ]; then
  "$root/scripts/wine-prefix.sh"
  echo "== the stripped program under Wine:"
  WINEDEBUG=-all /usr/lib/wine/wine64 "$demo/hello.exe"
fi
echo "Windows builds: $build/win32/cli/quillon.exe (32-bit), $build/win64/cli/quillon.exe (64-bit)"
