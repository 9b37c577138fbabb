#!/usr/bin/env bash
# Builds tarvel and its tests for other Linux hosts with Debian's cross
# compilers, runs them there under qemu user-mode emulation, and checks that
# the emulated tool behaves exactly as the native one. aarch64 is the ARM64
# of build servers and developer machines; s390x is big-endian, so the file
# formats' byte order is checked on a host whose own order is the same.
#
#   tests/cross/qemu_compare.sh NATIVE_TARVEL [ARCH...]    # ARCH: aarch64, s390x (default: both)
#
# For each ARCH:
#   1. configure and build build/ARCH with cmake/ARCH-linux-gnu.cmake, the
#      tests included, GoogleTest compiled from its sources;
#   2. run the unit tests in the emulated process, on the target's CPU;
#   3. run the whole-program tests (PROGRAM_TESTS below), which start the
#      emulated tool through TARVEL_RUNNER;
#   4. run the same jobs with the native and the emulated tool in two
#      scratch directories and compare exit codes, console output and every
#      file byte for byte.
#
# Needs qemu-user, g++-aarch64-linux-gnu, g++-s390x-linux-gnu googletest and objcopy
# (Debian packages; TARVEL_GTEST_SOURCE_DIR overrides /usr/src/googletest).
set -euo pipefail

# The whole-program suites, as a GoogleTest filter. Add new suites here; a
# pattern that matches no test does no harm. TARVEL_PROGRAM_TESTS overrides.
# The fault-injection suites (their own executable) run natively in CI:
# they test the host's file system, which is the same under emulation.
PROGRAM_TESTS=${TARVEL_PROGRAM_TESTS:-Program*:RecordJob*:EntriesProgram*:RealFiles*:DirectoryInput*:IntelHexFiles*:Hints*:ElfFiles*:DamagedInputs*:ModuleSearch*}
JOBS=${JOBS:-$(nproc)}  # build jobs, and test processes run side by side

if [ $# -lt 1 ]; then
  echo "usage: $0 NATIVE_TARVEL [ARCH...]" >&2
  exit 2
fi
native=$(realpath "$1")
shift
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(aarch64 s390x)
root=$(cd "$(dirname "$0")/../.." && pwd)
examples=$root/examples
gtest_source=${TARVEL_GTEST_SOURCE_DIR:-/usr/src/googletest}

. "$root/tests/script_checks.sh"

build_arch() {  # build_arch ARCH
  local dir=$root/build/$1
  # -O2 as Debian builds its packages; at -O3, GCC 12 for aarch64 reports a
  # false -Wrestrict in std::string code inlined into GoogleTest and tests.
  step "$scratch/configure.log" cmake -S "$root" -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$1-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DTARVEL_TESTS=ON -DTARVEL_GTEST_SOURCE_DIR="$gtest_source"
  step "$scratch/build.log" cmake --build "$dir" --parallel $JOBS --target tarvel tarvel_tests
  if grep -q 'warning:' "$scratch/build.log"; then
    grep -A3 'warning:' "$scratch/build.log"
    fail "$1: the build gives warnings"
  fi
}

# run_tests LABEL FILTER: the test binary under qemu in JOBS shards side by
# side. The tool the whole-program tests start runs under qemu as well.
run_tests() {
  local label=$1 filter=$2 shard pids=() rc=0
  for ((shard = 0; shard < JOBS; shard++)); do
    GTEST_TOTAL_SHARDS=$JOBS GTEST_SHARD_INDEX=$shard \
      "$qemu" "$dir/tests/tarvel_tests" --gtest_filter="$filter" --gtest_brief=1 \
      > "$scratch/tests-$shard.log" 2>&1 &
    pids+=($!)
  done
  for ((shard = 0; shard < JOBS; shard++)); do
    wait "${pids[$shard]}" || rc=1
  done
  grep -h -E '^\[  (FAILED|PASSED) |^\[==========\] [0-9]+ tests' "$scratch"/tests-*.log || true
  if [ $rc -eq 0 ]; then
    passed=$((passed + 1))
  else
    cat "$scratch"/tests-*.log
    fail "$arch: $label"
  fi
}

nat=$scratch/native
emu=$scratch/emulated
first_dir=$nat first_name=native
second_dir=$emu second_name=emulated

# run LABEL ARG...: runs both tools in their directories and compares; leaves
# the native exit code in rc.
run() {
  local label=$1 erc=0
  shift
  rc=0
  (cd "$nat" && "$native" "$@") > "$scratch/native.out" || rc=$?
  (cd "$emu" && "$qemu" "$tool" "$@") > "$scratch/emulated.out" 2>> "$scratch/qemu.log" || erc=$?
  same_results "$arch, $label" $rc $erc "$scratch/native.out" "$scratch/emulated.out" \
    "$scratch/native.out"
}

expect_exit() {  # expect_exit LABEL CODE: the job ran as it should natively
  [ "$rc" -eq "$2" ] || fail "$1: exit code $rc, expected $2"
}

hex_file() {  # hex_file NAME HEX...: the bytes written as hexadecimal pairs
  local name=$1
  shift
  perl -e 'print pack("H*", join("", @ARGV))' "$@" > "$name"
}

# Inputs beside the examples, in the layouts of module, entry and old header.
# A module of type 24 whose data region is an entry list: "SNBR" holding 41,
# the terminator, and room for a "_TYP" entry.
hex_file "$scratch/serial.bin" \
  FFFF7FFF87CDF00F 00000080 2400000000000000 4441544144415441 00000024 00000028 41000000 \
  534E425200000000 00000004 00000029 000000000000000000000000 \
  "$(printf '00%.0s' $(seq 1 56))" 5A690FF0
# The old 28-byte-header layout.
hex_file "$scratch/old.bin" \
  FFFF7FFF87CDF00F 00000028 00070102 41424344 0000001C 00000020 41000000 01020304 5A690FF0
# A module whose size is not a multiple of 4 and whose magic is wrong.
hex_file "$scratch/bad.bin" \
  FFFF7FFF87CDF00E 0000002A 2400000000000000 4441544144415441 00000024 00000028 41000000 5A690FF0
# The ARM ELF fixture's two modules in a whole-flash S-record file, CRCs unset.
objcopy -O srec "$root/tests/fixtures/elf/cortex_m.elf" "$scratch/flash.srec"
printf 'tag=DATA\nname=Raw data\nversion=0x0102\ntype=0x24\nnumber=7\nCFG=PORT1 MODE2 -1\n' > "$scratch/data.inf"
printf 'SNBR\0\0\0\0\0\0\0\4\0\0\0\1raw data bytes' > "$scratch/data.raw"

compare_jobs() {
  # The main job on an S-record file, twice, then the outputs from it.
  fresh
  put "$examples/modu.abs" modu.abs
  run "abs, first run" -m=modu -l=8000 -v
  expect_exit "abs, first run" 0
  run "abs, second run" -m=modu -l=8000 -v
  expect_exit "abs, second run" 0
  run "abs to thx and thd" -m=modu -l=8000 -t=32 -d -v
  expect_exit "abs to thx and thd" 0
  run "abs to bin" -m=modu -l=8000 -o=bin
  expect_exit "abs to bin" 0
  run "thx back to bin" -m=modu -i=thx -l=8000 -o=bin -v
  expect_exit "thx back to bin" 0
  run "r9500 summary" -m=modu -e -v
  run "file crc of a record file" -c -m=modu.abs
  put "$examples/modu.abs" sub/app.shx
  run "shx to every output" -m=sub/app -i=shx -l=8000 -o=bin -o=thx -d -v
  expect_exit "shx to every output" 0

  # Module files: outputs twice, T-records with 16-, 24- and 32-bit
  # addresses, the upgrade, serial numbers and type texts.
  fresh
  put "$examples/modu.bin" modu.bin
  run "bin to bin and thd" -m=modu -i=bin -o=bin -d -v
  expect_exit "bin to bin and thd" 0
  run "bin to bin and thd, again" -m=modu -i=bin -o=bin -d -v
  run "bin to thx at 8000" -m=modu -i=bin -l=8000 -t=16
  run "bin to thx at 10000" -m=modu -i=bin -o=thx -l=10000 -t=32 -v
  run "bin to thx at 1000000" -m=modu -i=bin -l=1000000 -t=250
  expect_exit "bin to thx at 1000000" 0
  run "file crc" -c -m=modu.bin
  put "$scratch/old.bin" old.bin
  run "upgrade" -m=old -i=bin -u -o=bin -d -v
  expect_exit "upgrade" 0
  put "$scratch/serial.bin" serial.bin
  run "serial number incremented" -m=serial -i=bin -s=+ -x=TYPE1 -o=bin -d -v
  expect_exit "serial number incremented" 0
  run "serial number set" -m=serial -i=bin -s=305419896 -o=bin -v
  expect_exit "serial number set" 0
  run "header values from options" -m=serial -i=bin -a=TAGTAG -n=0x21 -r=0x0304 -y=36 -o=thx -d

  # Raw data packaged from an info file, with a configuration record.
  fresh
  put "$scratch/data.inf" data.inf
  put "$scratch/data.raw" data.raw
  run "raw packaged" -m=data -i=raw -f=data.inf -s=+ -o=bin -d -v
  expect_exit "raw packaged" 0

  # Every module of an ELF file found without -l, set, then checked in a
  # whole-flash S-record file made from it, as text and as JSON.
  fresh
  put "$root/tests/fixtures/elf/cortex_m.elf" fw.elf
  run "every module of an ELF file" -m=fw -i=elf -v
  expect_exit "every module of an ELF file" 0
  run "every module of an ELF file, as JSON" -m=fw -i=elf -k --json
  expect_exit "every module of an ELF file, as JSON" 0
  put "$scratch/flash.srec" flash.srec
  run "every module of a whole-flash file" -m=flash -i=srec -w -k --json
  expect_exit "every module of a whole-flash file" 1

  # Failures and their messages.
  fresh
  put "$scratch/bad.bin" bad.bin
  run "damaged module" -m=bad -i=bin -v
  expect_exit "damaged module" 1
  run "missing input" -m=nosuch -v
  expect_exit "missing input" 1
  run "missing file for -c" -c -m=nosuch
  expect_exit "missing file for -c" 2
  run "unknown option" -v -q -m=bad
  run "unknown input type" -v -i=xyz -m=bad
  run "help" -v -h
}

for arch in "${archs[@]}"; do
  started=$SECONDS
  triple=$arch-linux-gnu
  dir=$root/build/$arch
  qemu=$(command -v "qemu-$arch") || { fail "qemu-$arch is not installed"; continue; }
  tool=$dir/tarvel
  export QEMU_LD_PREFIX=/usr/$triple  # the target's loader and libraries
  export TARVEL_RUNNER=$qemu          # how the tests start the tool

  build_arch "$arch"
  built=$SECONDS
  run_tests "unit tests" "-$PROGRAM_TESTS"
  run_tests "whole-program tests" "$PROGRAM_TESTS"
  tested=$SECONDS
  compare_jobs
  echo "$arch: built in $((built - started)) s, tests $((tested - built)) s," \
       "comparison $((SECONDS - tested)) s"
done

if [ -s "$scratch/qemu.log" ] && [ $failed -gt 0 ]; then
  echo "qemu said:"
  cat "$scratch/qemu.log"
fi
summary qemu
