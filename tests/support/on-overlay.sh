#!/usr/bin/env bash
# Runs a test program with its temporary folders on an overlay, as a container's root is:
#   tests/support/on-overlay.sh LAYOUT PROGRAM [ARGUMENTS...]
# LAYOUT is one-fs (lower, upper and work folder on one file system, as a container's
# root), two-fs (lower and upper on two file systems, xino off) or two-fs-xino (the same
# with xino on). As root the overlay is mounted plainly; otherwise in a user namespace of
# its own (userxattr). Exits 77, which CTest reads as skipped, where neither can be done,
# and says why.
set -euo pipefail
readonly kSkipped=77

layout=$1
shift

options_for() {
  case $layout in
    one-fs) echo "" ;;
    two-fs) echo ",xino=off" ;;
    two-fs-xino) echo ",xino=on" ;;
    *) echo "on-overlay: unknown layout $layout" >&2; exit 2 ;;
  esac
}

# True for root of the machine's own user namespace, which may mount file systems.
plain_root() {
  [ "$(id -u)" -eq 0 ] && [ "$(awk '{print $1, $2, $3}' /proc/self/uid_map)" = "0 0 4294967295" ]
}

mount_and_run() {
  local extra=$1
  shift
  local base
  base=$(mktemp -d "${TMPDIR:-/tmp}/kurumu-overlay-XXXXXX")
  chmod 755 "$base"  # tests run some programs as nobody
  mkdir -p "$base/first" "$base/second" "$base/merged"
  mount -t tmpfs -o size=512m tmpfs "$base/first"
  local upper_fs=$base/first
  if [ "$layout" != one-fs ]; then
    mount -t tmpfs -o size=512m tmpfs "$base/second"
    upper_fs=$base/second
  fi
  mkdir -p "$base/first/lower/tmp" "$upper_fs/upper" "$upper_fs/work"
  chmod 1777 "$base/first/lower/tmp"
  if ! mount -t overlay overlay \
      -o "lowerdir=$base/first/lower,upperdir=$upper_fs/upper,workdir=$upper_fs/work$(options_for)$extra" \
      "$base/merged"; then
    umount -l "$base/second" 2>/dev/null || true
    umount -l "$base/first"
    rm -rf "$base"
    echo "on-overlay: skipped: this kernel mounts no overlay of layout $layout here" >&2
    exit "$kSkipped"
  fi
  local status=0
  TMPDIR=$base/merged/tmp KURUMU_TEST_OVERLAY=$layout "$@" || status=$?
  umount -l "$base/merged"
  umount -l "$base/second" 2>/dev/null || true
  umount -l "$base/first"
  rm -rf "$base"
  return "$status"
}

if [ "${1:-}" = --inside-namespace ]; then
  shift
  mount_and_run ",userxattr" "$@"
  exit
fi
if plain_root; then
  mount_and_run "" "$@"
  exit
fi
if unshare --user --map-root-user --mount true 2>/dev/null; then
  exec unshare --user --map-root-user --mount bash "$0" "$layout" --inside-namespace "$@"
fi
echo "on-overlay: skipped: neither root nor a user namespace (unshare --user --map-root-user --mount) is to be had here" >&2
exit "$kSkipped"
