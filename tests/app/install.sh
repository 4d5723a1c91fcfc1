#!/usr/bin/env bash
# Installs into a temporary DESTDIR and checks what a desktop and a shell will read:
# tests/app/install.sh BUILD_FOLDER
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr > /dev/null
usr=$root/usr
for file in bin/kurumu libexec/kurumu/kurumu-window share/applications/kurumu.desktop \
            share/icons/hicolor/48x48/apps/kurumu.png share/icons/hicolor/scalable/apps/kurumu.svg \
            share/man/man1/kurumu.1 share/bash-completion/completions/kurumu; do
  [ -f "$usr/$file" ] || { echo "missing: $file" >&2; exit 1; }
done
desktop-file-validate "$usr/share/applications/kurumu.desktop"
grep -qx 'Exec=kurumu %F' "$usr/share/applications/kurumu.desktop"
grep -qx 'Name\[ja\]=くるむ' "$usr/share/applications/kurumu.desktop"
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml > /dev/null
page=$(MANWIDTH=80 man -l "$usr/share/man/man1/kurumu.1" 2> /dev/null)
for word in --dry-run --undo --history 'EXIT STATUS' kurumu.ini XDG_STATE_HOME; do
  grep -qF -- "$word" <<< "$page" || { echo "the manual page says nothing of $word" >&2; exit 1; }
done
bash -n "$usr/share/bash-completion/completions/kurumu"
# The installed command runs, and finds the installed window program for a start without
# a batch mode (which then says that there is no display).
"$usr/bin/kurumu" --version | grep -q '^kurumu [0-9]'
said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/kurumu" 2>&1 || true)
if grep -q 'no display' <<< "$said"; then
  echo "install: ok"
else
  echo "the installed kurumu did not start its window program" >&2
  exit 1
fi
