#!/usr/bin/env bash
# Runs a command as on a machine whose kernel runs no i386 program: every
# i386 program it starts, Wine's loader included, runs under qemu-i386.
# The registration lives in a user namespace of the command's own (kernels
# from 6.7 give each one a binfmt_misc of its own), so the machine and
# whatever else runs on it stay native. For example:
#   bash scripts/emulated.sh bash .ci/run
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: emulated.sh COMMAND [ARGUMENT...]" >&2; exit 2; }
here=$(dirname "$0")
if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
  SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  echo "emulated: installing qemu-user-static"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
fi
. "$here/qemu-i386.sh"
export QEMU_I386_BINFMT
exec unshare --user --map-root-user --mount bash -c '
  set -e
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
    { echo "emulated: this kernel gives a user namespace no binfmt_misc of its own (6.7 and later do)" >&2; exit 1; }
  echo "$QEMU_I386_BINFMT" > /proc/sys/fs/binfmt_misc/register
  exec "$@"' emulated "$@"
