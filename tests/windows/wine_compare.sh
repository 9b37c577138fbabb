#!/usr/bin/env bash
# Runs the Windows tarvel.exe under wine beside the Linux tarvel, on the same
# inputs in two scratch directories, and checks after every run that both
# gave the same exit code, the same console output and byte-identical files.
#
#   tests/windows/wine_compare.sh LINUX_TARVEL WINDOWS_TARVEL_EXE
#
# The Windows console ends lines with CR LF, so the Windows output must equal
# the Linux output with every LF turned into CR LF. Module paths are given
# with '\' to the Windows run and with '/' to the Linux run; the paths printed
# back differ in the same way and nowhere else.
#
# Needs wine (Debian package wine, 64-bit). The wine prefix is kept beside
# the executable (WINEPREFIX overrides it), so only the first run pays for
# creating it.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 LINUX_TARVEL WINDOWS_TARVEL_EXE" >&2
  exit 2
fi
linux=$(realpath "$1")
exe=$(realpath "$2")
examples=$(cd "$(dirname "$0")/../../examples" && pwd)

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or browser installers
export WINEPREFIX=${WINEPREFIX:-$(dirname "$exe")/wineprefix}

. "$(dirname "$0")/../script_checks.sh"
lin=$scratch/linux
win=$scratch/windows
first_dir=$lin first_name=Linux
second_dir=$win second_name=Windows

# run LABEL ARG...: runs both tools in their directories. In the arguments
# "{/}" stands for the path separator: '/' for Linux, '\' for Windows.
# Leaves the exit codes in lrc and wrc.
run() {
  local label=$1
  shift
  local largs=() wargs=() a sep=0
  for a in "$@"; do
    largs+=("${a//"{/}"/\/}")
    wargs+=("${a//"{/}"/\\}")
    [ "$a" = "${a//"{/}"/}" ] || sep=1
  done
  lrc=0
  (cd "$lin" && "$linux" "${largs[@]}") > "$scratch/linux.out" || lrc=$?
  wrc=0
  (cd "$win" && wine "$exe" "${wargs[@]}") > "$scratch/windows.out" 2>> "$scratch/wine.log" || wrc=$?

  # What the Windows console must show: CR LF line ends, and the module
  # path under sub\ where Linux printed sub/.
  if [ $sep -eq 1 ]; then
    perl -pe 's/\n/\r\n/; s{sub/}{sub\\}g' "$scratch/linux.out" > "$scratch/expected.out"
  else
    perl -pe 's/\n/\r\n/' "$scratch/linux.out" > "$scratch/expected.out"
  fi
  same_results "$label" $lrc $wrc "$scratch/linux.out" "$scratch/windows.out" \
    "$scratch/expected.out"
}

expect_exit() {  # expect_exit LABEL CODE
  [ "$lrc" -eq "$2" ] || fail "$1: exit code $lrc, expected $2"
}

same_file() {  # same_file LABEL FILE1 FILE2
  cmp -s "$2" "$3" || fail "$1: $(basename "$2") and $(basename "$3") differ"
}

# The main job on an S-record file, twice in a row: the second run must
# remove the first run's bak file before it renames the input onto that
# name, which Windows' rename refuses while the name exists.
if [ -f "$examples/modu.abs" ]; then
  fresh
  put "$examples/modu.abs" sub/modu.abs
  run "abs, first run" -m=sub{/}modu -l=8000 -v
  expect_exit "abs, first run" 0
  same_file "abs, first run keeps the input" "$examples/modu.abs" "$win/sub/modu.bak"
  cp "$win/sub/modu.abs" "$scratch/patched.abs"

  run "abs, second run" -m=sub{/}modu -l=8000 -v
  expect_exit "abs, second run" 0
  grep -q "^0 unlink sub.modu.bak" "$scratch/windows.out" ||
    fail "abs, second run: the old bak file was not removed"
  same_file "abs, second run keeps the first run's file" "$scratch/patched.abs" "$win/sub/modu.bak"
  same_file "abs, second run changes nothing" "$scratch/patched.abs" "$win/sub/modu.abs"

  run "abs to thx and thd" -m=sub{/}modu -l=8000 -t=32 -d -v
  expect_exit "abs to thx and thd" 0
  run "abs to bin" -m=sub{/}modu -l=8000 -o=bin
  expect_exit "abs to bin" 0
  run "thx back to bin" -m=sub{/}modu -i=thx -l=8000 -o=bin -v
else
  echo "note: examples/modu.abs is not there; the S-record runs are skipped"
fi

# Intel HEX: the CRC set in place twice in a row, then written as Intel HEX
# over the input, and a module file converted to Intel HEX.
fresh
srec_cat "$examples/modu.bin" -binary -offset 0x1FFF0 -o "$scratch/modu.hex" -intel \
  -line-termination=crlf 2> /dev/null || cp "$examples/modu.abs" "$scratch/modu.hex"
put "$scratch/modu.hex" sub/modu.hex
run "hex, first run" -m=sub{/}modu -i=hex -l=1FFF0 -v
expect_exit "hex, first run" 0
run "hex, second run" -m=sub{/}modu -i=hex -l=1FFF0 -v
run "hex in place as hex output" -m=sub{/}modu -i=hex -l=1FFF0 -o=hex -d -v
put "$examples/modu.bin" plain.bin
run "bin to hex" -m=plain -i=bin -o=hex -l=8000 -v
expect_exit "bin to hex" 0

# A module file: bin and thd outputs written twice (the second time over
# the files of the first), then thx output.
fresh
put "$examples/modu.bin" sub/modu.bin
run "bin to bin and thd" -m=sub{/}modu -i=bin -o=bin -d -v
expect_exit "bin to bin and thd" 0
run "bin to bin and thd, again" -m=sub{/}modu -i=bin -o=bin -d -v
expect_exit "bin to bin and thd, again" 0
run "bin to thx" -m=sub{/}modu -i=bin -o=thx -l=10000 -t=32 -v
run "file crc" -c -m=sub{/}modu.bin

# Every module of an ELF file found without -l and set, then checked with
# the report for machines, which the tool holds back in a file of its own
# until the run ends.
fresh
put "$examples/../tests/fixtures/elf/cortex_m.elf" fw.elf
run "every module of an ELF file" -m=fw -i=elf -v
expect_exit "every module of an ELF file" 0
run "every module checked, as JSON" -m=fw -i=elf -k --json
expect_exit "every module checked, as JSON" 0
run "a failure, as JSON" -m=fw -i=elf -l=20000000 --json

# Failures and the system error numbers in their messages.
fresh
run "missing input" -m=nosuch -v
expect_exit "missing input" 1
run "missing file for -c" -c -m=nosuch
expect_exit "missing file for -c" 2
run "unknown input type" -v -i=xyz -m=modu
expect_exit "unknown input type" 1

# Info files are read in text mode: CR LF line ends must give what LF gives.
fresh
printf '# packaged by the wine check\r\ntag=WINE\r\nname=Raw data\r\ntype=0x24\r\nnumber=7\r\nCFG=PORT1 MODE2 -1\r\n' > "$scratch/data.inf"
printf 'SNBR\0\0\0\0\0\0\0\4\0\0\0\1raw data bytes' > "$scratch/data.raw"
put "$scratch/data.inf" data.inf
put "$scratch/data.raw" data.raw
run "raw with CR LF info file" -m=data -i=raw -f=data.inf -s=+ -o=bin -d -v
run "raw with CR LF info file, again" -m=data -i=raw -f=data.inf -s=+ -o=bin -d -v
expect_exit "raw with CR LF info file, again" 0
grep -q "serial number 3" "$scratch/windows.out" ||
  fail "raw, second run: the serial number did not advance to 3"
printf 'tag=X\r\nbogus line\r\n' > "$scratch/bad.inf"
put "$scratch/bad.inf" bad.inf
run "CR LF info file with a bad line" -v -g=bad.inf -m=data

# Runs started together on the same files take turns: four serial-number
# increments of one module file hand out four different numbers, and four
# main jobs on one S-record file leave it and its bak file whole.
wine_together() {  # wine_together LABEL COUNT ARG...
  local label=$1 count=$2 i rc
  shift 2
  for i in $(seq "$count"); do
    (cd "$win" && wine "$exe" "$@") > "$scratch/together.$i" 2>> "$scratch/wine.log" &
  done
  for i in $(seq "$count"); do
    rc=0
    wait -n || rc=$?
    [ "$rc" -eq 0 ] || fail "$label: a run ended with $rc"
  done
}

fresh
printf '\xff\xff\x7f\xff\x87\xcd\xf0\x0f\x00\x00\x00\x48\x24\x00\x00\x00\x00\x00\x00\x00DATADATA\x00\x00\x00\x24\x00\x00\x00\x28A\x00\x00\x00SNBR\x00\x00\x00\x00\x00\x00\x00\x04\x00\x00\x00\x0a\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00Zi\x0f\xf0' > "$scratch/serial.bin"
put "$scratch/serial.bin" serial.bin
before=$failed
wine_together "four increments" 4 -m=serial -i=bin -s=+
numbers=$(cat "$scratch"/together.* | grep -o "serial number [0-9]*" | sort -u | tr '\n' ' ')
[ "$numbers" = "serial number 11 serial number 12 serial number 13 serial number 14 " ] ||
  fail "four increments handed out: $numbers"
od -An -tx1 -j40 -N16 "$win/serial.bin" | grep -q "00 00 00 0e" ||
  fail "four increments: the module does not hold 14"
[ $failed -ne $before ] || passed=$((passed + 1))

if [ -f "$examples/modu.abs" ]; then
  put "$examples/modu.abs" modu.abs
  before=$failed
  (cd "$lin" && "$linux" -m=modu -l=8000 > /dev/null)
  wine_together "four main jobs" 4 -m=modu -l=8000
  same_file "four main jobs: modu.abs" "$lin/modu.abs" "$win/modu.abs"
  same_file "four main jobs: modu.bak" "$lin/modu.abs" "$win/modu.bak"
  [ $failed -ne $before ] || passed=$((passed + 1))
fi

if [ -s "$scratch/wine.log" ] && [ $failed -gt 0 ]; then
  echo "wine said:"
  cat "$scratch/wine.log"
fi
summary wine
