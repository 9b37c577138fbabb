#!/usr/bin/env bash
# Unpacks a tarvel .deb into a scratch root with dpkg-deb -x (no root rights
# needed, nothing is installed on the machine) and checks what a user gets:
# the control fields, the tool in usr/bin, the compressed manual page in
# usr/share/man/man1, the copyright file and changelog in
# usr/share/doc/tarvel, and that the installed tool sets the CRC of the
# example modules and that a CMake project finds the package in the
# unpacked tree. With lintian installed (CI installs it), any error or
# warning lintian reports fails the check.
#
#   tests/package/check_deb.sh build/package/tarvel_3.2_amd64.deb
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 PACKAGE.deb" >&2
  exit 2
fi
deb=$(realpath "$1")
tests=$(cd "$(dirname "$0")/.." && pwd)
examples=$(cd "$tests/../examples" && pwd)
. "$tests/script_checks.sh"

field_set() { [ -n "$(dpkg-deb -f "$deb" "$1")" ]; }
for field in Package Version Architecture Maintainer Description Depends; do
  check "control field $field" field_set "$field"
done
check "package name" [ "$(dpkg-deb -f "$deb" Package)" = tarvel ]

root=$scratch/root
dpkg-deb -x "$deb" "$root"
tarvel=$root/usr/bin/tarvel
man_page=$root/usr/share/man/man1/tarvel.1.gz
doc=$root/usr/share/doc/tarvel
check "usr/bin/tarvel" [ -x "$tarvel" ]
check "usr/share/man/man1/tarvel.1.gz" [ -f "$man_page" ]
zcat "$man_page" | groff -man -ww -z > "$scratch/groff.log" 2>&1 || true
check "manual page formats without warnings" [ ! -s "$scratch/groff.log" ]
cat "$scratch/groff.log"

check "copyright file is machine-readable" \
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright"
check "copyright file names the holder" grep -q '^Copyright: .*The tarvel authors$' "$doc/copyright"
version=$(dpkg-deb -f "$deb" Version)
check "changelog.gz starts with version $version" \
  bash -c '[ "$(zcat "$1" | head -n 1 | cut -d " " -f 1,2)" = "tarvel ($2)" ]' _ "$doc/changelog.gz" "$version"

check "the JSON Schema of --json is installed" cmp -s "$tests/../docs/report.schema.json" "$doc/report.schema.json"
check "usr/lib/cmake/tarvel/tarvelConfig.cmake" [ -f "$root/usr/lib/cmake/tarvel/tarvelConfig.cmake" ]
check "a CMake project uses the package" "$tests/cmake_package/consumer_test.sh" prefix "$root/usr"

if command -v lintian > /dev/null 2>&1; then
  lintian_rc=0
  lintian --fail-on error,warning "$deb" > "$scratch/lintian.log" 2>&1 || lintian_rc=$?
  grep -v '^running with root privileges' "$scratch/lintian.log" || true
  check "lintian reports no errors or warnings" [ $lintian_rc -eq 0 ]
else
  echo "note: lintian is not installed; the lintian check is skipped"
fi

work=$scratch/work
mkdir "$work"
cd "$work"

# Help: no module path, so the run fails and shows the help text.
code=0
"$tarvel" -h > help.out || code=$?
check "tarvel -h exits with 1" [ $code -eq 1 ]
check "tarvel -h shows the banner" grep -q "^Tarvel - Set CRC of Module" help.out

# A module file: the CRC stored at offset 0 must be the CRC that -c gives
# for the bytes from offset 4 to the end (the example module fills its
# file and covers its whole length).
cp "$examples/modu.bin" modu.bin
code=0
"$tarvel" -m=modu -i=bin -o=bin -d -v > bin.out || code=$?
cat bin.out
check "bin run exits with 0" [ $code -eq 0 ]
tail -c +5 modu.bin > covered
stored=$(od -An -tx1 -N2 modu.bin | tr -d ' \n')
computed=$("$tarvel" -c -m=covered | sed -n 's/^covered Size [0-9]* Crc \([0-9a-f]*\)$/\1/p')
check "bin run stores the CRC ($stored, computed ${computed:-none})" [ "$stored" = "${computed:-none}" ]
check "thd file holds the same CRC" [ "$(od -An -tx1 -j10 -N2 modu.thd | tr -d ' \n')" = "$stored" ]
cp modu.bin first.bin
code=0
"$tarvel" -m=modu -i=bin -o=bin > again.out || code=$?
check "second bin run exits with 0" [ $code -eq 0 ]
check "second bin run finds the CRC right" cmp -s modu.bin first.bin
check "second bin run reports no difference" bash -c '! grep -q "Crc difference" again.out'

# The main job on an S-record file, twice: the input is replaced by the
# patched copy and the previous file kept as modu.bak.
if [ -f "$examples/modu.abs" ]; then
  cp "$examples/modu.abs" modu.abs
  code=0
  "$tarvel" -m=modu -l=8000 -v > abs.out || code=$?
  cat abs.out
  check "abs run exits with 0" [ $code -eq 0 ]
  check "abs run keeps the input as modu.bak" cmp -s "$examples/modu.abs" modu.bak
  cp modu.abs patched.abs
  code=0
  "$tarvel" -m=modu -l=8000 > abs2.out || code=$?
  check "second abs run exits with 0" [ $code -eq 0 ]
  check "second abs run keeps the first run's file" cmp -s patched.abs modu.bak
  check "second abs run changes nothing" cmp -s patched.abs modu.abs
else
  echo "note: examples/modu.abs is not there; the S-record run is skipped"
fi

summary package
