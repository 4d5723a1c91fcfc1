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
unset QT_QPA_PLATFORM

# One probe on a display server of its own; the output in $work/log.
probe() {
  exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2> /dev/null & echo "pid $!")
  read -r _ server <&3
  read -r display <&3
  rm -rf "$work/files"
  set +e
  DISPLAY=":$display" timeout 180 dbus-run-session -- /usr/bin/python3 "$(dirname "$0")/atspi_probe.py" "$1" "$work/files" 2>&1 |
    grep -v -e '^dbus-daemon' -e 'SpiRegistry' -e 'XDG_RUNTIME_DIR' > "$work/log"
  status=${PIPESTATUS[0]}
  set -e
  kill "$server" 2> /dev/null || true
  return "$status"
}

# A display server that went away under the window (another test's server starting at the
# same moment on a loaded machine) is the machine's fault, not the window's: tried once more.
status=0
probe "$1" || status=$?
if [ "$status" -ne 0 ] && grep -q 'could not connect to display' "$work/log"; then
  echo "atspi_probe: the display server went away; trying once more on a new one"
  status=0
  probe "$1" || status=$?
fi
cat "$work/log"
exit "$status"
