#!/usr/bin/env bash
# Inspects the Debian package: tests/app/package.sh PACKAGE.deb
set -euo pipefail
package=$1
[[ $(basename "$package") =~ ^kurumu_[0-9.]+_[a-z0-9]+\.deb$ ]] || { echo "unexpected name: $package" >&2; exit 1; }
control=$(dpkg-deb --field "$package")
grep -q '^Package: kurumu$' <<< "$control"
grep -q '^Depends: .*libqt6core6' <<< "$control"     # found by dpkg-shlibdeps
grep -q '^Depends: .*qt6-qpa-plugins' <<< "$control"
files=$(dpkg-deb --contents "$package" | awk '{print $6}')
for file in ./usr/bin/kurumu ./usr/libexec/kurumu/kurumu-window ./usr/share/applications/kurumu.desktop \
            ./usr/share/icons/hicolor/48x48/apps/kurumu.png ./usr/share/man/man1/kurumu.1.gz \
            ./usr/share/bash-completion/completions/kurumu; do
  grep -qx -- "$file" <<< "$files" || { echo "the package lacks $file" >&2; exit 1; }
done
grep -q '^./usr/share/metainfo/.*\.metainfo\.xml$' <<< "$files"
# Debian's own package checker finds nothing to object to.
lintian --fail-on error,warning "$package" 2> >(grep -v "running with root privileges" >&2)
echo "package: ok ($(basename "$package"))"
