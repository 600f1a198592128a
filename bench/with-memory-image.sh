#!/usr/bin/env bash
# Runs COMMAND with IMAGE standing in for the memory device "/dev/mem", so the
# shipped grellanprobe and libgrellan.dylib read the image as they would read
# the machine. Nothing outside changes: the command runs in its own mount
# namespace (an unprivileged user namespace), where /dev is a small tmpfs with
# the usual character devices and IMAGE bind-mounted as "mem", and where the
# EFI markers are hidden so the library takes the legacy scan.
# Usage: bench/with-memory-image.sh IMAGE COMMAND [ARGS...]
# Exits 125 when user namespaces are not available here.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 IMAGE COMMAND [ARGS...]" >&2
  exit 2
fi
image="$(realpath "$1")"
shift
if ! unshare --user --map-root-user --mount true 2>/dev/null; then
  echo "with-memory-image.sh: no user namespaces here" >&2
  exit 125
fi
old="$(mktemp -d)"
status=0
unshare --user --map-root-user --mount --propagation private bash -euc '
  image="$1" old="$2"
  shift 2
  mount --rbind /dev "$old"
  mount -t tmpfs -o size=64k,mode=755 tmpfs /dev
  for node in null zero full random urandom tty; do
    if [ -e "$old/$node" ]; then
      touch "/dev/$node"
      mount --bind "$old/$node" "/dev/$node"
    fi
  done
  ln -s /proc/self/fd /dev/fd
  ln -s /proc/self/fd/0 /dev/stdin
  ln -s /proc/self/fd/1 /dev/stdout
  ln -s /proc/self/fd/2 /dev/stderr
  touch /dev/mem
  mount --bind "$image" /dev/mem
  umount -l "$old"
  if [ -d /sys/firmware/efi ]; then
    mount -t tmpfs -o size=4k tmpfs /sys/firmware/efi
  fi
  if [ -d /proc/efi ]; then
    mount -t tmpfs -o size=4k tmpfs /proc/efi
  fi
  exec "$@"
' bash "$image" "$old" "$@" || status=$?
rmdir "$old"
exit "$status"
