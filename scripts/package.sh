#!/usr/bin/env bash
# Builds the release package an integrator receives:
#   dist/lumisar-VERSION-win32.zip
#     driver/  LUMISAR.DLL and lumisar.h
#     tools/   zubhost.exe, plcsim.exe, demo-memory.txt and the stand-in QUARNE.DLL
#     README.txt, user-guide.html, user-guide.md, SHA256SUMS
# The same commit gives the same bytes in any folder: the binaries carry no
# time stamps or paths, and the zip's entries come in a fixed order with
# the commit's time.
#   package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh >/dev/null
build=${1:-$root/build/package}
version=$(sed -n 's/^#define LUMISAR_VERSION_SHORT "\(.*\)"/\1/p' include/lumisar_version.h)
name=lumisar-$version-win32

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target LUMISAR QUARNE zubhost plcsim >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/package
mkdir -p "$stage/driver" "$stage/tools"
cp "$build/bin/LUMISAR.DLL" include/lumisar.h "$stage/driver/"
cp "$build/bin/zubhost.exe" "$build/bin/plcsim.exe" "$build/bin/QUARNE.DLL" \
  tools/plcsim/demo-memory.txt "$stage/tools/"
# Text files with Windows line ends, for Notepad.
sed 's/$/\r/' docs/README.txt >"$stage/README.txt"
cp docs/user-guide.md "$stage/user-guide.md"
bash scripts/guide-page.sh "$stage/user-guide.html"
(cd "$stage" && find . -type f | LC_ALL=C sort | sed 's|^\./||' | xargs sha256sum >../SHA256SUMS)
mv "$stage/../SHA256SUMS" "$stage/SHA256SUMS"

# Fixed modes and times, entries in a fixed order, no extra fields.
epoch=$(git log -1 --format=%ct 2>/dev/null || echo 315532800)
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -exec touch -h -d "@$epoch" {} +
mkdir -p dist
rm -f "dist/$name.zip"
(cd "$stage" && find . -type f | LC_ALL=C sort | sed 's|^\./||' |
  TZ=UTC zip -X -D -q "$root/dist/$name.zip" -@)
echo "package: dist/$name.zip"
(cd dist && sha256sum "$name.zip" && unzip -l "$name.zip")
