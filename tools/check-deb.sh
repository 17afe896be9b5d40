#!/usr/bin/env bash
# Checks the .deb that `make package` made: its files, its architecture,
# its dependencies and the version in its man page.
#
#   tools/check-deb.sh PACKAGE.deb
set -euo pipefail
deb="$1"
fail() { echo "check-deb: $deb: $*" >&2; exit 1; }

listing="$(dpkg-deb -c "$deb")"
files="$(awk '{print $NF}' <<<"$listing")"
for f in ./usr/bin/velkor ./usr/share/man/man1/velkor.1 ./usr/share/doc/velkor/README.md; do
  grep -qx -- "$f" <<<"$files" || fail "lacks $f"
done
[ "$(grep -vc '/$' <<<"$files")" -eq 3 ] || fail "holds more than its three files: $files"
grep -q '^-rwxr-xr-x root/root .* \./usr/bin/velkor$' <<<"$listing" ||
  fail "the program is not an executable owned by root"

[ "$(dpkg-deb -f "$deb" Package)" = velkor ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
grep -q 'libc6' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "no dependency on the C library"
version="$(dpkg-deb -f "$deb" Version)"
info="$(dpkg-deb -I "$deb")"
grep -q '^ Description: Lists or renames' <<<"$info" || fail "description"
man="$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/man/man1/velkor.1)"
grep -q "\"Velkor $version\"" <<<"$man" || fail "man page not of version $version"
echo "check-deb: $deb: ok (version $version, $(dpkg-deb -f "$deb" Architecture), depends $(dpkg-deb -f "$deb" Depends))"
