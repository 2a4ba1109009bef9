#!/usr/bin/env bash
# Runs a command with a small disk of its own: a 256 KiB tmpfs, named as a
# Windows path in VOSTRANE_SMALL_DISK and removed afterwards. Where mounting is
# refused (no root, a sandbox), the command runs without it and its tests skip.
set -u
mountpoint=$(mktemp -d)
if mount -t tmpfs -o size=256k tmpfs "$mountpoint" 2>/dev/null; then
  export VOSTRANE_SMALL_DISK="Z:$(printf '%s' "$mountpoint" | tr / '\\')"
  "$@"
  status=$?
  umount "$mountpoint"
else
  echo "no small disk: mounting a tmpfs was refused here" >&2
  "$@"
  status=$?
fi
rmdir "$mountpoint"
exit $status
