#!/usr/bin/env bash
# Installs what building and running need on Debian 12 (as root), and with --test what
# testing needs too. Quiet and quick when everything is there already.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev qt6-translations-l10n fonts-ipafont-gothic xvfb xauth zlib1g-dev util-linux time
          desktop-file-utils appstream man-db dpkg-dev file lintian python3-fusepy clang-format clang-tidy
          dbus-daemon at-spi2-core python3-pyatspi)
# With --test, also the disks the tests mount through FUSE: FAT and exFAT sticks, an SFTP share.
if [ "${1:-}" = "--test" ]; then
  packages+=(fusefat exfat-fuse exfatprogs dosfstools sshfs openssh-sftp-server)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this as root (or install them with apt-get)" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
