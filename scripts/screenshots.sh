#!/usr/bin/env bash
# Draws the window's screenshots into docs/ (offscreen, no display needed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
./build/tools/kurumu_screenshot docs
