#!/bin/bash
# Usage: tools/run-in-vm.sh COMMAND [ARG...]
#
# Runs COMMAND under a kernel that runs 32-bit x86 programs, for machines whose
# own kernel refuses them (ia32 emulation off), and with them Wine's 32-bit
# loader. A qemu virtual machine boots Debian's kernel under software
# emulation with this machine's own root filesystem shared read-write over
# 9p, so COMMAND sees the same files, programs, build and caches; it runs as
# root in the current directory with the current environment, its output
# (standard error joined to standard output, through a pipe) streams here
# and its exit status is this script's. Inside, /tmp, /dev/shm
# and /run are the guest's own, but for the directories under /tmp that the
# command works in (the current one, the sources, the build, the caches).
# ODREL_VM=1 tells the command where it runs.
#
# Everything comes from Debian's registry: qemu-system-x86 and busybox-static
# (installed by tools/setup.sh), and the kernel package, downloaded once into
# $ODREL_CACHE/vm. ODREL_VM_MEMORY (MiB, default 8192) sizes the guest.
# Software emulation makes every program several times slower than natively.
set -euo pipefail
source "$(dirname "$0")/env.sh"

[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "run-in-vm: must run as root (the guest shares / read-write)" >&2; exit 2; }
for tool in qemu-system-x86_64 busybox cpio dpkg-deb apt-get; do
  command -v "$tool" >/dev/null || { echo "run-in-vm: $tool is missing (run tools/setup.sh)" >&2; exit 2; }
done

vm_dir="$ODREL_CACHE/vm"
mkdir -p "$vm_dir"

# The kernel: whatever Debian's linux-image-amd64 points at, fetched once.
kernel_package="$(cd "$vm_dir" && ls linux-image-*-amd64_*.deb 2>/dev/null | grep -v '^linux-image-amd64_' | head -n1 || true)"
if [ -z "$kernel_package" ]; then
  name="$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n1)"
  [ -n "$name" ] || { echo "run-in-vm: apt knows no linux-image-amd64" >&2; exit 1; }
  (cd "$vm_dir" && apt-get download "$name" 2>&1 | grep -v 'unsandboxed' >&2 || true)
  kernel_package="$(cd "$vm_dir" && ls "$name"_*.deb 2>/dev/null | head -n1 || true)"
  [ -n "$kernel_package" ] || { echo "run-in-vm: could not download $name" >&2; exit 1; }
fi
kernel_root="$vm_dir/${kernel_package%.deb}"
if [ ! -d "$kernel_root/boot" ]; then
  rm -rf "$kernel_root.tmp"
  dpkg-deb -x "$vm_dir/$kernel_package" "$kernel_root.tmp"
  mv "$kernel_root.tmp" "$kernel_root"
fi
vmlinuz="$(ls "$kernel_root"/boot/vmlinuz-* | head -n1)"
modules="$(ls -d "$kernel_root"/lib/modules/*/kernel | head -n1)"

# The host directories under /tmp that the command works in.
host_tmp_paths=""
for path in "$PWD" "$ODREL_ROOT" "$BUILD_DIR" "$ODREL_CACHE" "$WINEPREFIX"; do
  path="$(realpath -m "$path")"
  case "$path" in
    /tmp/*) host_tmp_paths+=" $(printf '%s' "$path" | cut -d/ -f1-3)" ;;
  esac
done

# The initramfs: busybox and the modules that mount the host's root over
# virtio 9p. The init script is written here, so the image is rebuilt each
# run (it takes a moment) and never goes stale against this script.
work="$(mktemp -d "$vm_dir/run.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/initrd/bin" "$work/initrd/mods" "$work/initrd/proc" "$work/initrd/sys" \
  "$work/initrd/dev" "$work/initrd/newroot"
cp "$(command -v busybox)" "$work/initrd/bin/busybox"
load_order="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci fscache netfs 9pnet 9pnet_virtio 9p"
for module in $load_order; do
  found="$(find "$modules" -name "$module.ko" | head -n1)"
  [ -n "$found" ] || { echo "run-in-vm: the kernel has no module $module" >&2; exit 1; }
  cp "$found" "$work/initrd/mods/"
done
cat > "$work/initrd/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
# Modules load in any order once their dependencies are in; a few passes
# settle it without a modules.dep.
for pass in 1 2 3 4; do
  for m in $load_order; do
    grep -q "^\$m " /proc/modules || insmod /mods/\$m.ko 2>/dev/null
  done
done
ip link set lo up
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose,access=any host /newroot ||
  { echo "run-in-vm: cannot mount the host's root"; poweroff -f; }
mount -t proc proc /newroot/proc
mount -t sysfs sys /newroot/sys
mount -t devtmpfs dev /newroot/dev
ln -s /proc/self/fd /newroot/dev/fd
ln -s /proc/self/fd/0 /newroot/dev/stdin
ln -s /proc/self/fd/1 /newroot/dev/stdout
ln -s /proc/self/fd/2 /newroot/dev/stderr
mkdir -p /newroot/dev/pts /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts
mount -t tmpfs shm /newroot/dev/shm
mount -t tmpfs run /newroot/run
# The guest's own /tmp: files opened and then unlinked, which programs keep
# there, do not survive 9p. What the command needs of the host's /tmp is
# bound back in.
mkdir -p /hosttmp
mount --bind /newroot/tmp /hosttmp
mount -t tmpfs tmp /newroot/tmp
for path in $host_tmp_paths; do
  mkdir -p "/newroot\$path"
  mount --bind "/hosttmp\${path#/tmp}" "/newroot\$path"
done
stty -onlcr 2>/dev/null
echo ODREL-VM-START
# Through a pipe, as the command's output would reach a log on the host,
# not the console's terminal.
{
  chroot /newroot /bin/bash "$work/command.sh" </dev/null 2>&1
  echo \$? > /newroot$work/status
} | cat
sync
poweroff -f
EOF
chmod +x "$work/initrd/init"
(cd "$work/initrd" && find . | cpio -o -H newc --quiet | gzip -1 > "$work/initrd.gz")

# The command, with this shell's environment and directory.
{
  export -p | grep -v -E '^declare -x (OLDPWD|PWD|SHLVL|TERM)='
  echo 'export ODREL_VM=1'
  printf 'cd %q || exit 1\n' "$PWD"
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} > "$work/command.sh"

# -smap -smep: qemu's emulation of SMAP faults a 32-bit user iret, which Wine
# uses on every switch back to Windows code.
qemu-system-x86_64 -machine q35 -cpu max,-smap,-smep -smp "$(nproc)" \
  -m "${ODREL_VM_MEMORY:-8192}" -accel tcg,thread=multi \
  -display none -monitor none -no-reboot -serial stdio \
  -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -fsdev local,id=root,path=/,security_model=passthrough,multidevs=remap \
  -device virtio-9p-pci,fsdev=root,mount_tag=host \
  -nic none -append "console=ttyS0 quiet loglevel=3 panic=-1" </dev/null |
  tee "$work/console.log" | sed -u -e '0,/ODREL-VM-START/d' -e '/\] reboot: Power down/d'
status="$(cat "$work/status" 2>/dev/null || true)"
if [ -z "$status" ]; then
  echo "run-in-vm: the virtual machine stopped before the command ended; its console:" >&2
  tail -n 40 "$work/console.log" >&2
  exit 1
fi
exit "$status"
