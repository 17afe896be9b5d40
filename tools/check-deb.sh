#!/usr/bin/env bash
# Checks a .deb that `make package` or `make package-arch` made: its files,
# its architecture against the machine its program is built for, its
# dependencies and the version in its man page; then lintian, which fails
# it on any error or warning.
#
#   tools/check-deb.sh PACKAGE.deb
set -euo pipefail
deb="$1"
fail() { echo "check-deb: $deb: $*" >&2; exit 1; }

listing="$(dpkg-deb -c "$deb")"
files="$(awk '{print $NF}' <<<"$listing")"
expected=(./usr/bin/velkor ./usr/share/man/man1/velkor.1.gz ./usr/share/doc/velkor/README.md
          ./usr/share/doc/velkor/copyright ./usr/share/doc/velkor/changelog.Debian.gz
          ./usr/share/lintian/overrides/velkor)
for f in "${expected[@]}"; do
  grep -qx -- "$f" <<<"$files" || fail "lacks $f"
done
[ "$(grep -vc '/$' <<<"$files")" -eq ${#expected[@]} ] || fail "holds more than its ${#expected[@]} files: $files"
grep -q '^-rwxr-xr-x root/root .* \./usr/bin/velkor$' <<<"$listing" ||
  fail "the program is not an executable owned by root"

[ "$(dpkg-deb -f "$deb" Package)" = velkor ] || fail "package name"
# The architecture is that of the program inside, as its ELF header says.
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
arch="$(dpkg-deb -f "$deb" Architecture)"
machine="$(readelf -h "$unpacked/usr/bin/velkor" | sed -n 's/^ *Machine: *//p')"
case "$arch:$machine" in
  amd64:*X86-64 | arm64:AArch64 | i386:"Intel 80386" | armhf:ARM) ;;
  *) fail "architecture $arch holds a program for $machine" ;;
esac
grep -q 'libc6' <<<"$(dpkg-deb -f "$deb" Depends)" || fail "no dependency on the C library"
version="$(dpkg-deb -f "$deb" Version)"
info="$(dpkg-deb -I "$deb")"
grep -q '^ Description: Lists or renames' <<<"$info" || fail "description"
man="$(gzip -dc "$unpacked/usr/share/man/man1/velkor.1.gz")"
grep -q "\"Velkor ${version%-*}\"" <<<"$man" || fail "man page not of version ${version%-*}"
lintian --fail-on error,warning "$deb" || fail "lintian found errors or warnings"
echo "check-deb: $deb: ok (version $version, $arch, depends $(dpkg-deb -f "$deb" Depends))"
