#!/usr/bin/env bash
# Sets up, builds and runs every test: once in the normal build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen

bash scripts/build.sh build -DKURUMU_WERROR=ON
(cd build && ctest --output-on-failure --timeout 600)

bash scripts/build.sh build-sanitize -DKURUMU_SANITIZE=ON -DKURUMU_BENCH=OFF -DKURUMU_WERROR=ON
(cd build-sanitize && ctest --output-on-failure --timeout 900)
