#!/usr/bin/env bash
# Installs what building and testing the driver needs on a fresh Debian 12
# machine. Safe to run again: it only installs what is missing, and where
# nothing is, it says nothing (every script runs it first).
set -euo pipefail

pkgs=(cmake make g++ g++-multilib clang libclang-rt-14-dev googletest
      g++-mingw-w64-i686 binutils-mingw-w64-i686
      wine wine32 wine64 xvfb x11-apps imagemagick socat jq valgrind zip unzip time
      tmux chromium pandoc)

# One question to dpkg for them all. wine32 lives in the i386 architecture;
# the others are native.
queries=()
for p in "${pkgs[@]}"; do
  if [ "$p" = wine32 ]; then queries+=(wine32:i386); else queries+=("$p"); fi
done
declare -A installed=()
while read -r name status; do
  if [ "$status" = "install ok installed" ]; then installed[$name]=1; fi
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${queries[@]}" 2>/dev/null)
missing=()
for p in "${pkgs[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing+=(wine32)
fi
SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
updated=
install() {
  # A mirror in the middle of a sync fails one index now and then; what
  # is missing is usually on the indexes that did come, so go on with them
  # and let apt-get install say if a package cannot be had.
  if [ -z "$updated" ]; then
    $SUDO apt-get update -qq || echo "install-deps: apt-get update failed in part; going on with the indexes it has"
    updated=1
  fi
  echo "install-deps: installing $*"
  $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return
  # Without one architecture's index of the security suite, an i386
  # library cannot match its amd64 twin's update; the release's own suite
  # has both at one version.
  . /etc/os-release
  echo "install-deps: trying again from $VERSION_CODENAME's own suite"
  $SUDO apt-get install -y -qq --no-install-recommends -t "$VERSION_CODENAME" "$@" >/dev/null
}
[ ${#missing[@]} -eq 0 ] || install "${missing[@]}"

# Some virtual machines' kernels run no 32-bit programs at all. Then the
# i386 test programs and Wine's 32-bit loader run through qemu's user-mode
# emulation, registered with binfmt_misc (slower, but the same programs).
runs_i386() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
if ! runs_i386; then
  dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed" ||
    install qemu-user-static
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    . "$(dirname "$0")/qemu-i386.sh"
    echo "$QEMU_I386_BINFMT" | $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  fi
  runs_i386 || { echo "install-deps: this machine cannot run i386 programs"; exit 1; }
  echo "install-deps: i386 programs run under qemu-i386 emulation"
fi
# Quiet when there was nothing to do.
if [ -n "$updated" ]; then echo "install-deps: ready"; fi
