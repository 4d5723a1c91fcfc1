#!/usr/bin/env bash
# Sets up, checks the style, builds and runs every test: once in the normal build, once
# with AddressSanitizer and UndefinedBehaviorSanitizer; then builds the Debian package
# and inspects it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --test
export QT_QPA_PLATFORM=offscreen

bash scripts/build.sh build -DKURUMU_WERROR=ON
bash scripts/style.sh build
(cd build && ctest --output-on-failure --timeout 600)

bash scripts/build.sh build-sanitize -DKURUMU_SANITIZE=ON -DKURUMU_BENCH=OFF -DKURUMU_WERROR=ON
(cd build-sanitize && ctest --output-on-failure --timeout 900)

bash scripts/package.sh
bash tests/app/package.sh build/kurumu_*.deb
