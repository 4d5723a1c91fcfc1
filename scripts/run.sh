#!/usr/bin/env bash
# Sets up, builds and starts the window: scripts/run.sh [PATH...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
exec ./build/kurumu "$@"
