# The binfmt_misc entry that runs every i386 ELF program under qemu's
# user-mode emulation: binfmt_misc is consulted before the kernel's own
# loader, so it takes effect even where the kernel runs i386 natively.
# Sourced by install-deps.sh and emulated.sh.
QEMU_I386_BINFMT=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
