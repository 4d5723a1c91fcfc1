#!/usr/bin/env bash
# Runs atspi_probe.py on a virtual display with an accessibility bus of its own; skipped
# (77) where the display server, the session bus or the AT-SPI bindings are missing.
# atspi_probe.sh WINDOW-PROGRAM
set -euo pipefail
if ! command -v Xvfb > /dev/null || ! command -v dbus-run-session > /dev/null ||
  ! /usr/bin/python3 -c 'import pyatspi' 2> /dev/null; then
  echo "atspi_probe: skipped: needs Xvfb, dbus-run-session and python3-pyatspi"
  exit 77
fi
work=$(mktemp -d)
trap 'kill "${server:-}" 2> /dev/null || true; rm -rf "$work"' EXIT
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2> /dev/null & echo "pid $!")
read -r _ server <&3
read -r display <&3
export DISPLAY=":$display"
unset QT_QPA_PLATFORM
dbus-run-session -- /usr/bin/python3 "$(dirname "$0")/atspi_probe.py" "$1" "$work/files" 2>&1 |
  grep -v -e '^dbus-daemon' -e 'SpiRegistry' -e 'XDG_RUNTIME_DIR'
exit "${PIPESTATUS[0]}"
