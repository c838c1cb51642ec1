#!/usr/bin/env bash
# Installs what building and testing the driver needs on a fresh Debian 12
# machine. Safe to run again: it only installs what is missing.
set -euo pipefail

pkgs=(cmake make g++ g++-multilib clang libclang-rt-14-dev
      g++-mingw-w64-i686 binutils-mingw-w64-i686
      wine wine32 wine64 xvfb x11-apps imagemagick socat valgrind)

missing=()
for p in "${pkgs[@]}"; do
  # wine32 lives in the i386 architecture; the others are native
  q=$p; [ "$p" = wine32 ] && q=wine32:i386
  dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing+=(wine32)
fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is present"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
