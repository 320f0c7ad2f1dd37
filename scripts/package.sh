#!/usr/bin/env bash
# Builds the release programs and packs them with CPack (cmake/Packaging.cmake)
# into build/packages/: quillon-<version>-win32.zip and -win64.zip from the
# Windows builds, quillon_<version>_<arch>.deb from the native build, which
# lintian then checks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
packages=$root/build/packages

# dpkg-shlibdeps (dpkg-dev) names the .deb's dependencies.
"$root/scripts/setup-debian.sh" dpkg-dev lintian
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLON_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

rm -rf "$packages" && mkdir -p "$packages"
for tree in "$build/win32" "$build/win64" "$build"; do
  # CPack's work folder stays in the build tree; only the packages land in
  # build/packages.
  (cd "$tree" && cpack -B "$tree/cpack" -D CPACK_OUTPUT_FILE_PREFIX="$packages")
done
lintian "$packages"/*.deb
ls -l "$packages"
