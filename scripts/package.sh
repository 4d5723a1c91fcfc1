#!/usr/bin/env bash
# Builds the Debian package build/kurumu_<version>_<arch>.deb (as root on Debian 12: the
# set-up installs what is missing).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
(cd build && cpack -G DEB > /dev/null)
ls build/kurumu_*.deb
