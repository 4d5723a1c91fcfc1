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
            share/man/man1/kurumu.1.gz share/bash-completion/completions/kurumu share/doc/kurumu/copyright \
            share/doc/kurumu/changelog.gz share/kio/servicemenus/kurumu.desktop share/nemo/actions/kurumu.nemo_action; do
  [ -f "$usr/$file" ] || { echo "missing: $file" >&2; exit 1; }
done
desktop-file-validate "$usr/share/applications/kurumu.desktop"
grep -qx 'Exec=kurumu --from-desktop %F' "$usr/share/applications/kurumu.desktop"
# The menu entry never claims folders, so it never becomes the program that opens them.
if grep -q 'inode/directory' "$usr/share/applications/kurumu.desktop"; then
  echo "the desktop entry claims folders" >&2
  exit 1
fi
# The right-click actions hand the selection to the window, started as from the desktop.
for action in share/kio/servicemenus/kurumu.desktop share/nemo/actions/kurumu.nemo_action; do
  grep -qx 'Exec=kurumu --from-desktop %F' "$usr/$action" || { echo "$action does not open the window" >&2; exit 1; }
  grep -q 'くるむでまとめる' "$usr/$action" || { echo "$action is not named くるむでまとめる" >&2; exit 1; }
done
grep -qx 'Name\[ja\]=くるむ' "$usr/share/applications/kurumu.desktop"
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml > /dev/null
page=$(MANWIDTH=80 man -l "$usr/share/man/man1/kurumu.1.gz" 2> /dev/null)
for word in --dry-run --undo --history --from-desktop 'EXIT STATUS' kurumu.ini XDG_STATE_HOME XDG_CONFIG_HOME; do
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
