#!/usr/bin/env bash
# The release package: built twice from the committed tree, in two folders
# of different names, it must come out byte for byte the same; every binary
# in it imports only Windows' own DLLs (and the driver the host's
# QUARNE.DLL); its checksums hold.
#   package_test.sh SOURCE_DIR
set -u
root=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/../scripts/wait-and-check.sh"

zips=()
for dir in "$work/a/lumisar" "$work/second/another-checkout"; do
  git clone -q "$root" "$dir" || exit 1
  (cd "$dir" && bash scripts/package.sh >"$work/package.log" 2>&1) || { cat "$work/package.log"; exit 1; }
  zips+=("$(ls "$dir"/dist/*.zip)")
done
for z in "${zips[@]}"; do
  echo "build in ${z%/dist/*}:"
  (cd "$(dirname "$z")" && sha256sum "$(basename "$z")")
  mkdir -p "$z.d" && (cd "$z.d" && unzip -q "$z" && find . -type f | LC_ALL=C sort | xargs sha256sum) |
    tee "$z.sums" | sed 's/^/  /'
done
cmp -s "${zips[0]}" "${zips[1]}"
check "the two zips are identical" $?
cmp -s "${zips[0]}.sums" "${zips[1]}.sums"
check "every file in them is identical" $?

pkg=${zips[0]}.d
(cd "$pkg" && sha256sum --quiet -c SHA256SUMS)
check "SHA256SUMS holds" $?
# sha256sum -c checks only what is listed: the list must be every other file.
diff <(cd "$pkg" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort) \
  <(sed 's/^[0-9a-f]*  //' "$pkg/SHA256SUMS" | LC_ALL=C sort)
check "SHA256SUMS covers every other file" $?
# The order of the entries is part of the bytes: sorted, whatever order the
# file system gives.
entries=$(unzip -Z1 "${zips[0]}")
[ "$entries" = "$(LC_ALL=C sort <<<"$entries")" ]
check "the zip's entries are in sorted order" $?
for f in driver/LUMISAR.DLL driver/lumisar.h tools/zubhost.exe tools/plcsim.exe tools/QUARNE.DLL \
  README.txt user-guide.md user-guide.html; do
  [ -s "$pkg/$f" ]
  check "the package holds $f" $?
done
# The guide as a page: standalone (no script, style or image from elsewhere),
# its tables kept.
! grep -qiE '<(script|link|img)[^>]*(src|href)=' "$pkg/user-guide.html" &&
  [ "$(grep -c '<table' "$pkg/user-guide.html")" = "$(grep -c '^|---' docs/user-guide.md 2>/dev/null ||
    grep -c '^|---' "$root/docs/user-guide.md")" ]
check "user-guide.html stands alone and holds every table of the guide" $?
grep -q 'user-guide.html' "$pkg/README.txt"
check "README.txt points to user-guide.html" $?
# The page reads as one: its language set, a table of contents, and every
# link within it (the contents, "section N") finds its heading.
grep -q '<html[^>]* lang="en"' "$pkg/user-guide.html" && grep -q '<nav id="TOC"' "$pkg/user-guide.html" &&
  ! grep -o 'href="#[^"]*"' "$pkg/user-guide.html" | sed 's/href="#\(.*\)"/id="\1"/' | sort -u |
  grep -vxFf <(grep -o 'id="[^"]*"' "$pkg/user-guide.html") | grep .
check "user-guide.html has its language, a table of contents and no link without its target" $?
# Every file the quick start and the guide's first section name is in the
# zip, and the guide's list is the zip's whole content; README.md lists the
# zip's entries as they are.
for f in $(tr -d '\r' <"$pkg/README.txt" | grep -oE '[A-Za-z0-9_.-]+\.(exe|txt|DLL|h|html|md)' | sort -u); do
  [ -n "$(find "$pkg" -name "$f")" ]
  check "the package holds $f, which README.txt names" $?
done
clone=${zips[0]%/dist/*}
diff <(sed -n '/^## 1\./,/^## 2\./s/^| `\([^`]*\)` |.*/\1/p' "$clone/docs/user-guide.md" | LC_ALL=C sort) <(unzip -Z1 "${zips[0]}")
check "the guide's first section lists every file of the zip" $?
diff <(awk '/unzip -Z1/ { found = 1; next } found && /^```/ { if (inside) exit; inside = 1; next } inside' "$clone/README.md") \
  <(unzip -Z1 "${zips[0]}")
check "README.md lists the zip's entries" $?
# Imports: Windows' own DLLs; QUARNE.DLL for the driver alone, VERSION.dll
# for zubhost alone (it reads the driver's version resource), WINMM.DLL for
# plcsim alone (its timer's tick).
allowed=(
  "driver/LUMISAR.DLL|KERNEL32.dll msvcrt.dll USER32.dll QUARNE.DLL"
  "tools/zubhost.exe|KERNEL32.dll msvcrt.dll VERSION.dll"
  "tools/plcsim.exe|KERNEL32.dll msvcrt.dll WINMM.DLL"
  "tools/QUARNE.DLL|KERNEL32.dll msvcrt.dll"
)
for row in "${allowed[@]}"; do
  file=${row%%|*}
  imports=$(i686-w64-mingw32-objdump -p "$pkg/$file" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
  bad=
  for dll in $imports; do
    [[ " ${row#*|} " == *" $dll "* ]] || bad="$bad $dll"
  done
  echo "$file imports: $imports"
  [ -z "$bad" ]
  check "$file imports nothing else (found:$bad)" $?
done
# The version resource carries the release's version.
for f in driver/LUMISAR.DLL tools/zubhost.exe tools/plcsim.exe; do
  version=$(sed -n 's/^#define LUMISAR_VERSION_TEXT "\(.*\)"/\1/p' "$root/include/lumisar_version.h")
  strings -el "$pkg/$f" | grep -A1 -x FileVersion | grep -qx "$version"
  check "$f carries FileVersion $version" $?
done
checks_done
