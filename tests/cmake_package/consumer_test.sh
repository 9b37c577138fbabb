#!/usr/bin/env bash
# Builds the firmware project in consumer/ against tarvel's CMake package and
# checks what tarvel_set_crc and tarvel_check_crc do there: the CRC set in
# the S-record and ELF files and the outputs written, files of other
# extensions set and checked through a scratch directory, a wrong CRC
# failing the check, nothing run again by a build with nothing changed,
# everything run again after a relink, a failing tarvel failing the build,
# and bad arguments refused when configuring. The README's CMake and Make
# examples, taken from its text, are built too.
#
#   tests/cmake_package/consumer_test.sh install BUILD_DIR  # cmake --install BUILD_DIR into a scratch prefix
#   tests/cmake_package/consumer_test.sh prefix PREFIX      # a prefix that holds tarvel already (an unpacked .deb's usr)
#   tests/cmake_package/consumer_test.sh source SOURCE_DIR  # tarvel's source tree, through FetchContent
#
# CMAKE names the cmake to use, CMAKE_GENERATOR the generator (cmake's own
# variable); the consumer is built with 2 jobs. Needs a C compiler, make,
# objcopy and perl.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 install BUILD_DIR | prefix PREFIX | source SOURCE_DIR" >&2
  exit 2
fi
mode=$1
where=$(realpath "$2")
cmake=${CMAKE:-cmake}
here=$(cd "$(dirname "$0")" && pwd)
examples=$(cd "$here/../../examples" && pwd)
sample=$examples/modu.abs
. "$here/../script_checks.sh"

case $mode in
  install)
    prefix=$scratch/prefix
    step "$scratch/install.log" "$cmake" --install "$where" --prefix "$prefix"
    config=(-DCMAKE_PREFIX_PATH="$prefix")
    ;;
  prefix)
    prefix=$where
    config=(-DCMAKE_PREFIX_PATH="$prefix")
    ;;
  source)
    prefix=
    config=(-DTARVEL_SOURCE_DIR="$where")
    ;;
  *)
    echo "$0: unknown mode $mode" >&2
    exit 2
    ;;
esac

elf_fixture=$here/../fixtures/elf/cortex_m.elf
# The indented block that follows the README's line beginning with WORD:.
readme_block() {  # readme_block WORD
  perl -ne 'BEGIN { $word = shift } if ($in) { last if /^\S/ && $n; $n ||= /^ {4}/;
            if ($n) { s/^ {4}//; print } } $in ||= /^\Q$word\E:/' "$1" "$here/../../README.md"
}
cp -r "$here/consumer" "$scratch/src"
readme_block CMake > "$scratch/src/readme/example.cmake"
build=$scratch/build
step "$scratch/configure.log" "$cmake" -S "$scratch/src" -B "$build" \
  -DTARVEL_EXAMPLES="$examples" -DTARVEL_ELF="$elf_fixture" "${config[@]}"
if [ -n "$prefix" ]; then
  # The package must come from the prefix under test, not from elsewhere on
  # the machine.
  found=$(sed -n 's/^tarvel_DIR:PATH=//p' "$build/CMakeCache.txt")
  check "package found in $prefix (found ${found:-nothing})" [ "$found" = "$prefix/lib/cmake/tarvel" ]
fi

build() {  # build LOG [TARGET]; leaves the exit code in rc
  rc=0
  "$cmake" --build "$build" --parallel 2 ${2:+--target "$2"} > "$1" 2>&1 || rc=$?
}

# CRC-16/ARC of a module file from offset 4 to its end, in the byte order
# the module stores it: low register byte first. Written here from the
# definition, independent of the tool.
module_crc() {
  perl -e 'open(my $f, "<:raw", $ARGV[0]) or die; local $/; my $d = <$f>;
           my $r = 0;
           for my $b (unpack("C*", substr($d, 4))) {
             $r ^= $b;
             $r = ($r & 1) ? ($r >> 1) ^ 0xA001 : $r >> 1 for 1 .. 8;
           }
           printf("%02X%02X\n", $r & 0xFF, $r >> 8);' "$1"
}
stored_crc() { od -An -tx1 -N2 "$1" | tr -d ' \n' | tr a-f A-F; }
identity() { stat -c '%i %y' "$1"; }  # a rename or rewrite changes it

cd "$build"

# First build: both firmware targets link and their records get the CRC.
build "$scratch/build1.log"
check "first build succeeds" [ $rc -eq 0 ]
[ $rc -eq 0 ] || cat "$scratch/build1.log"
check "first build runs tarvel on modu.abs" grep -q $'\ttarvel modu.abs ' "$scratch/build1.log"
check "first build runs tarvel on app.shx" grep -q $'\ttarvel app.shx ' "$scratch/build1.log"
check "VERBOSE passes -v" grep -q '^Exit code 0 Error 0000' "$scratch/build1.log"
check "modu.bak is the file before the CRC" cmp -s "$sample" modu.bak
check "out/app.bak is the file before the CRC" cmp -s "$sample" out/app.bak
for f in app.bin app.thx app.thd; do
  check "OUTPUTS writes out/$f" [ -s out/$f ]
done
check "no outputs beside modu.abs" bash -c '! ls modu.bin modu.thx modu.thd 2> /dev/null'
check "thd file is 20 bytes" [ "$(stat -c %s out/app.thd)" -eq 20 ]
crc=$(module_crc out/app.bin)
check "app.bin carries its CRC $crc" [ "$(stored_crc out/app.bin)" = "$crc" ]
check "app.thd carries the same CRC" [ "$(od -An -tx1 -j10 -N2 out/app.thd | tr -d ' \n' | tr a-f A-F)" = "$crc" ]
# The module starts at the link address 8000: its link record is the S1
# record at 8000, whose first two data bytes are the CRC.
check "modu.abs carries the CRC in its link record" grep -q "^S1..8000$crc" modu.abs
check "app.shx is patched the same way" cmp -s modu.abs out/app.shx

# The ELF file: the CRC DA9A set in place, two bytes changed, and checked.
check "image.elf is checked after its CRC is set" grep -q '^Crc correct - da9a' "$scratch/build1.log"
check "image.elf differs from the linker's in two bytes" \
  [ "$(cmp -l "$elf_fixture" image.elf | wc -l)" -eq 2 ]

# Through a scratch directory: set.s19 set in place, its old content kept
# as set.bak beside it; records.srec checked as the tool's own type.
check "set.s19 carries the CRC" grep -q "^S1..8000$crc" set.s19
check "set.bak is set.s19 before the CRC" cmp -s "$sample" set.bak
check "records.srec is checked as S-records" grep -q $'\ttarvel records.srec ' "$scratch/build1.log"

# The README's examples: the CMake one built in readme/, the Make one with
# the tool on PATH. Told no address, tarvel finds both modules of
# firmware.elf and sets their CRCs, two bytes each, and firmware.srec made
# from it passes the whole-image check of both.
tool_dir=${prefix:+$prefix/bin}
tool_dir=${tool_dir:-$build/_deps/tarvel-build}
tool_in() { (cd "$1" && "$tool_dir/tarvel" "${@:2}") > /dev/null; }  # tool_in DIR ARGS...
mkdir "$scratch/make"
readme_block Make > "$scratch/make/Makefile"
cp "$here/consumer/firmware.c" "$scratch/make"
rc=0
PATH=$tool_dir:$PATH make -C "$scratch/make" firmware.srec OBJS=firmware.o OBJCOPY=objcopy \
  LD="$here/consumer/link_fixture.sh $elf_fixture cc" > "$scratch/make.log" 2>&1 || rc=$?
check "the README's Make example builds" [ $rc -eq 0 ]
[ $rc -eq 0 ] || cat "$scratch/make.log"
check "the README's CMake example checks both modules of firmware.srec" \
  [ "$(grep -c $'^\ttarvel firmware.srec ' "$scratch/build1.log")" -eq 2 ]
for dir in "$build/readme" "$scratch/make"; do
  check "$dir/firmware.elf carries both CRCs" tool_in "$dir" -m=firmware -i=elf -l=8008000 -l=800C000 -k
  check "$dir/firmware.elf differs from the linker's in four bytes" \
    [ "$(cmp -l "$elf_fixture" "$dir/firmware.elf" | wc -l)" -eq 4 ]
  cp "$dir/firmware.srec" "$scratch/flash.abs"
  check "$dir/firmware.srec passes the whole-image check" tool_in "$scratch" -m=flash -w -k
done

# Second build, nothing changed: nothing links, so tarvel does not run.
before_bak=$(identity modu.bak)
before_abs=$(identity modu.abs)
before_app=$(identity out/app.bak)
build "$scratch/build2.log"
check "unchanged build succeeds" [ $rc -eq 0 ]
check "unchanged build does not run tarvel" bash -c '! grep -q "tarvel .*\.\(abs\|shx\|srec\) " "$1"' _ "$scratch/build2.log"
check "unchanged build leaves modu.bak" [ "$(identity modu.bak)" = "$before_bak" ]
check "unchanged build leaves modu.abs" [ "$(identity modu.abs)" = "$before_abs" ]
check "unchanged build leaves out/app.bak" [ "$(identity out/app.bak)" = "$before_app" ]

# A changed source relinks both targets, and the record files are made and
# stamped again.
touch "$scratch/src/firmware.c"
build "$scratch/build3.log"
check "build after a change succeeds" [ $rc -eq 0 ]
check "build after a change runs tarvel again" grep -q $'\ttarvel modu.abs ' "$scratch/build3.log"
check "build after a change replaces modu.bak" [ "$(identity modu.bak)" != "$before_bak" ]
check "modu.abs still carries the CRC" grep -q "^S1..8000$crc" modu.abs

# A check of a module whose CRC is not set fails the build, and so does a
# failing tarvel, which leaves the file as it was; the next build tries
# again rather than taking the target as built.
while read -r file words; do
  for attempt in first second; do
    build "$scratch/$file-$attempt.log" "${file/./_}"
    check "$attempt build of $file fails" [ $rc -ne 0 ]
    check "$attempt build of $file shows tarvel's messages" grep -q "^$words" "$scratch/$file-$attempt.log"
  done
  check "$file is as it was" cmp -s "$sample" "$file"
done <<'EOF'
checked.abs Crc not set - Calculated adaa
wrong.srec Crc not set - Calculated adaa
broken.abs Error 8003, errno 0 in batchfile command 2
bad.s19 Error 8003, errno 0 in batchfile command 2
EOF
check "no scratch directory is left" [ -z "$(find "$build" -name '.tarvel-*')" ]

# Arguments the configuration refuses, and the words that explain why.
while IFS='|' read -r args words; do
  rc=0
  "$cmake" -S "$scratch/src" -B "$build" "-DBAD_ARGS=$args" > "$scratch/bad.log" 2>&1 || rc=$?
  check "$args stops the configuration" [ $rc -ne 0 ]
  check "$args is explained" grep -q "$words" "$scratch/bad.log"
done <<'EOF'
RECORD_FILE;broken.abs;LINK_ADDRESS;0x8000|LINK_ADDRESS must be hexadecimal digits
RECORD_FILE;broken.abs;LINK_ADDRESS;8000;9000h|got '9000h'
RECORD_FILE;image.mem;LINK_ADDRESS;8000|give the TYPE (abs, hex, elf)
RECORD_FILE;image.bin;LINK_ADDRESS;8000|takes the types abs, hex, elf
EOF

summary "cmake package ($mode)"
