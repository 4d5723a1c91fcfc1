#!/usr/bin/env bash
# A release check: runs the README's test command in a fresh clone of this repository's
# last commit, inside a fresh Debian 12 root mounted as an overlay, as a container's root
# is (its /tmp too). Needs root and the network for debootstrap, so CI does not run it.
#   scripts/overlay-test.sh [FOLDER]   (default /var/tmp/kurumu-overlay-test)
# The Debian root is made once in FOLDER/lower and kept as the overlay's lower layer; every
# check starts from an empty upper layer, so nothing of an earlier check is left.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-/var/tmp/kurumu-overlay-test}
merged=$folder/merged

if [ "$(id -u)" -ne 0 ]; then
  echo "overlay-test: run this as root: it mounts the overlay and enters it" >&2
  exit 1
fi
if ! command -v debootstrap > /dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap > /dev/null
fi
if [ ! -x "$folder/lower/bin/bash" ]; then
  rm -rf "$folder/lower"
  mkdir -p "$folder"
  debootstrap --variant=minbase bookworm "$folder/lower"
fi

cleanup() {
  for mounted in dev/pts dev/shm dev sys proc; do
    umount -l "$merged/$mounted" 2> /dev/null || true
  done
  umount -l "$merged" 2> /dev/null || true
  rm -rf "$folder/upper" "$folder/work"
}
trap cleanup EXIT
cleanup
mkdir -p "$folder/upper" "$folder/work" "$merged"
mount -t overlay overlay -o "lowerdir=$folder/lower,upperdir=$folder/upper,workdir=$folder/work" "$merged"
mount -t proc proc "$merged/proc"
mount -t sysfs sysfs "$merged/sys"
mount --bind /dev "$merged/dev"
mount -t tmpfs tmpfs "$merged/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$merged/dev/pts"
cp /etc/resolv.conf "$merged/etc/resolv.conf"

git clone --quiet --no-local "$source" "$merged/root/kurumu"
echo "overlay-test: $(git -C "$merged/root/kurumu" log -1 --format='%h %s')"
chroot "$merged" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  bash -c 'cd /root/kurumu && bash scripts/test.sh'
echo "overlay-test: passed on an overlay root"
