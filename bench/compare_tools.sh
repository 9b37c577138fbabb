#!/usr/bin/env bash
# Times tarvel beside cp, cat, cksum, objcopy and srec_cat on generated data
# sets and prints a table of medians and ratios, with tarvel's peak memory.
#
#   bench/compare_tools.sh [RUNS]
#
# Builds the release preset, and the tool with the table-driven CRC alone
# (the portable preset, as on Windows and non-x86 machines), then generates
# in a temporary directory:
#   big.bin     1 GiB of random bytes, for the file CRC (-c)
#   modu.abs    a 32 MiB module as S3 records of 32 data bytes (about 83 MB),
#               linked at 0x8000, for the main job and the bin output
#   small.abs   a 4 KiB module as the same kind of S-record file
#   modu.elf    the 32 MiB module as the one loadable segment of an ELF file,
#               linked at 0x8000 by ld
# RUNS (default 10) is the number of timed runs of each large command; the
# 4 KiB commands run 20 times as often. Needs about 1.3 GB of disk space in
# the temporary directory ($TMPDIR, else /tmp). Every timing is wall-clock
# with the page cache warm; the machine is not otherwise reserved, so run it
# when nothing else is busy, or more than once.
set -euo pipefail

runs=${1:-10}
small_runs=$((runs * 20))
root=$(cd "$(dirname "$0")/.." && pwd)

missing=()
for tool in cmake hyperfine srec_cat objcopy ld strace /usr/bin/time; do
  command -v "$tool" > /dev/null 2>&1 || missing+=("$tool")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "missing: ${missing[*]}" >&2
  echo "on Debian: apt-get install cmake hyperfine srecord binutils strace time" >&2
  exit 1
fi

echo "building the release preset ..." >&2
(cd "$root" && cmake --preset release > /dev/null && cmake --build --preset release --target tarvel > /dev/null)
tarvel="$root/build/release/tarvel"
(cd "$root" && cmake --preset portable > /dev/null && cmake --build --preset portable --target tarvel > /dev/null)
tarvel_table="$root/build/portable/tarvel"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvel-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Four big-endian bytes of $1 as printf escapes.
be32() {
  local hex
  hex=$(printf '%08x' "$1")
  printf '\\x%s\\x%s\\x%s\\x%s' "${hex:0:2}" "${hex:2:2}" "${hex:4:2}" "${hex:6:2}"
}

# make_module FILE SIZE TAG NAME: a valid module of SIZE bytes (a multiple of
# 4) with random data and the CRC unset (FF FF):
#   0  FF FF 7F FF 87 CD F0 0F   CRC, header mark, magic
#   8  size (BE32), then type 0, zeros, number 0, version 0100
#   20 tag (8 characters), 28 name offset 36, 32 data offset
#   36 NUL-terminated name padded to 4, data, trailer 5A 69 0F F0 at size-4
make_module() {
  local file=$1 size=$2 tag=$3 name=$4
  local name_room=$(((${#name} + 4) / 4 * 4))
  local data_offset=$((36 + name_room))
  {
    printf '\xff\xff\x7f\xff\x87\xcd\xf0\x0f'
    printf "$(be32 "$size")"
    printf '\x00\x00\x00\x00\x00\x00\x01\x00'
    printf '%-8.8s' "$tag"
    printf "$(be32 36)$(be32 "$data_offset")"
    printf '%s' "$name"
    head -c $((name_room - ${#name})) /dev/zero
    head -c $((size - data_offset - 4)) /dev/urandom
    printf '\x5a\x69\x0f\xf0'
  } > "$file"
}

# to_s3 BIN ABS: the module as S3 records of 32 data bytes linked at 0x8000.
to_s3() {
  srec_cat "$1" -binary -offset 0x8000 -header "tarvel benchmark" \
    -o "$2" -motorola -address-length=4 -obs=32 -execution-start-address=0x8000
}

echo "generating data sets in $work ..." >&2
head -c $((1 << 30)) /dev/urandom > big.bin
make_module modu.bin $((32 << 20)) BENCHMOD big
to_s3 modu.bin modu.abs
cp modu.abs x.abs
make_module small.bin 4096 SMALLMOD small
to_s3 small.bin small.abs
# The module in its own section, linked into a loadable segment at 0x8000.
printf 'SECTIONS { . = 0x8000; .module : { *(.module) } }\n' > module.ld
objcopy -I binary -O elf64-x86-64 -B i386:x86-64 \
  --rename-section .data=.module,alloc,load,readonly,data,contents modu.bin module.o
ld -o modu.elf -T module.ld module.o
# Set the CRC once, so that every timed run does the same work.
for m in modu x small; do "$tarvel" -m=$m -l=8000 > /dev/null; done
"$tarvel" -m=modu -i=elf -l=8000 > /dev/null

csv="$work/times.csv"
: > "$csv"
# measure GROUP RUNS WARMUP NAME COMMAND [NAME COMMAND ...]
measure() {
  local group=$1 n=$2 warmup=$3 args=()
  shift 3
  while [ $# -gt 0 ]; do
    args+=(-n "$1" "$2")
    shift 2
  done
  echo "timing: $group ..." >&2
  hyperfine -N --style none --runs "$n" --warmup "$warmup" --export-csv "$work/part.csv" "${args[@]}" > /dev/null
  # command,mean,stddev,median,user,system,min,max (seconds)
  tail -n +2 "$work/part.csv" | awk -F, -v g="$group" '{ print g "," $1 "," $4 "," $5 + $6 }' >> "$csv"
}

measure crc "$runs" 2 \
  "tarvel -c -m=big.bin" "$tarvel -c -m=big.bin" \
  "cksum big.bin" "cksum big.bin" \
  "cat big.bin" "cat big.bin" \
  "tarvel -c -m=big.bin (table path)" "$tarvel_table -c -m=big.bin"
measure main "$runs" 2 \
  "tarvel -m=modu -l=8000" "$tarvel -m=modu -l=8000" \
  "cp modu.abs copy.abs && sync copy.abs" "sh -c 'cp modu.abs copy.abs && sync copy.abs'" \
  "cp modu.abs copy.abs" "cp modu.abs copy.abs" \
  "objcopy -I srec -O srec" "objcopy -I srec -O srec modu.abs out.srec" \
  "srec_cat modu.abs -o out.srec" "srec_cat modu.abs -o out.srec"
measure elf "$runs" 2 \
  "tarvel -m=modu -i=elf -l=8000" "$tarvel -m=modu -i=elf -l=8000" \
  "tarvel -m=modu -i=elf" "$tarvel -m=modu -i=elf" \
  "cp modu.elf copy.elf && sync copy.elf" "sh -c 'cp modu.elf copy.elf && sync copy.elf'"
measure check "$runs" 2 \
  "tarvel -m=modu -l=8000 -k" "$tarvel -m=modu -l=8000 -k" \
  "tarvel -m=modu -l=8000" "$tarvel -m=modu -l=8000"

# The main job without its write: from its start to its first change of a
# file (the patched copy created), and from its last flush to disk
# (the directory) to its end, beside -k from start to end on a copy of the
# same file, all timed by strace (which stops only at the calls named).
cp modu.abs chk.abs
phases() {  # milliseconds: the main job without its write, then -k
  strace -f --seccomp-bpf -ttt -e trace=execve,openat,fsync,exit_group -o "$work/main.txt" \
    "$tarvel" -m=modu -l=8000 > /dev/null 2>&1
  strace -f --seccomp-bpf -ttt -e trace=execve,exit_group -o "$work/check.txt" \
    "$tarvel" -m=chk -l=8000 -k > /dev/null 2>&1
  # Lines are: process id, time, call.
  awk '$3 ~ /^execve\(/ && !s { s = $2 } $3 ~ /^openat\(/ && /O_CREAT/ && !u { u = $2 }
       $3 ~ /^fsync\(/ { f = $2 } $3 ~ /^exit_group\(/ { e = $2 }
       END { printf "%.3f,", ((u - s) + (e - f)) * 1000 }' "$work/main.txt"
  awk '$3 ~ /^execve\(/ && !s { s = $2 } $3 ~ /^exit_group\(/ { e = $2 }
       END { printf "%.3f\n", (e - s) * 1000 }' "$work/check.txt"
}
: > "$work/phases.csv"
for ((i = 0; i < runs; i++)); do
  phases >> "$work/phases.csv"
done
# The fastest of the runs: what disturbs a run here only ever adds time.
fastest_of() { sort -n | head -n 1; }
before_write=$(cut -d, -f1 "$work/phases.csv" | fastest_of)
check_only=$(cut -d, -f2 "$work/phases.csv" | fastest_of)
measure bin "$runs" 2 \
  "tarvel -m=x -i=abs -o=bin -l=8000" "$tarvel -m=x -i=abs -o=bin -l=8000" \
  "cp x.abs copy.abs" "cp x.abs copy.abs" \
  "objcopy -I srec -O binary" "objcopy -I srec -O binary x.abs out.bin"
measure small "$small_runs" 20 \
  "tarvel -m=small -l=8000" "$tarvel -m=small -l=8000" \
  "true" "true" \
  "objcopy -I srec -O binary" "objcopy -I srec -O binary small.abs out.bin"

# Peak resident memory of one run, in KiB.
peak_kib() { /usr/bin/time -f '%M' "$@" 2>&1 > /dev/null | tail -n 1; }
peak_crc=$(peak_kib "$tarvel" -c -m=big.bin)
peak_main=$(peak_kib "$tarvel" -m=modu -l=8000)
peak_bin=$(peak_kib "$tarvel" -m=x -i=abs -o=bin -l=8000)
peak_small=$(peak_kib "$tarvel" -m=small -l=8000)
abs_size=$(stat -c %s modu.abs)

median() { awk -F, -v g="$1" -v c="$2" '$1 == g && $2 == c { print $3 }' "$csv"; }
cpu() { awk -F, -v g="$1" -v c="$2" '$1 == g && $2 == c { print $4 }' "$csv"; }
ms() { awk -v s="$1" 'BEGIN { printf "%.1f ms", s * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

echo
echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)," \
  "$(uname -sr), $(df -T "$work" | awk 'NR == 2 { print $2 }') file system; $(date -u +%Y-%m-%d)."
echo "Medians of $runs runs ($small_runs for the 4 KiB module) after warm-up runs."
echo "modu.abs: $abs_size bytes (32 MiB module, S3 records of 32 data bytes)."
echo
echo "| Task | Command | Median | CPU | Ratio | Peak RSS |"
echo "|---|---|---|---|---|---|"
row() {  # group command reference peak task
  local t r
  t=$(median "$1" "$2")
  r=$(median "$1" "$3")
  printf '| %s | `%s` | %s | %s | %s× %s | %s |\n' "$5" "$2" "$(ms "$t")" "$(ms "$(cpu "$1" "$2")")" \
    "$(ratio "$t" "$r")" "$3" "$4"
}
ref() { printf '| | `%s` | %s | %s | | |\n' "$2" "$(ms "$(median "$1" "$2")")" "$(ms "$(cpu "$1" "$2")")"; }

crc_t=$(median crc "tarvel -c -m=big.bin")
row crc "tarvel -c -m=big.bin" "cksum big.bin" "$(mib "$peak_crc")" \
  "File CRC, 1 GiB ($(awk -v t="$crc_t" 'BEGIN { printf "%.2f GB/s", 1073741824 / t / 1e9 }'))"
ref crc "cksum big.bin"
ref crc "cat big.bin"
ref crc "tarvel -c -m=big.bin (table path)"
row main "tarvel -m=modu -l=8000" "cp modu.abs copy.abs && sync copy.abs" "$(mib "$peak_main")" \
  "Set CRC, 83 MB S3 file"
ref main "cp modu.abs copy.abs && sync copy.abs"
ref main "cp modu.abs copy.abs"
ref main "objcopy -I srec -O srec"
ref main "srec_cat modu.abs -o out.srec"
row elf "tarvel -m=modu -i=elf -l=8000" "cp modu.elf copy.elf && sync copy.elf" "" \
  "Set CRC, 32 MiB module in an ELF file"
ref elf "cp modu.elf copy.elf && sync copy.elf"
row elf "tarvel -m=modu -i=elf" "tarvel -m=modu -i=elf -l=8000" "" \
  "The same, the module found without -l"
row check "tarvel -m=modu -l=8000 -k" "tarvel -m=modu -l=8000" "" "Check CRC, 83 MB S3 file"
ref check "tarvel -m=modu -l=8000"
printf '| | fastest under strace: the main job without its write, -k | %.1f ms, %.1f ms | | | |\n' \
  "$before_write" "$check_only"
row bin "tarvel -m=x -i=abs -o=bin -l=8000" "objcopy -I srec -O binary" "$(mib "$peak_bin")" \
  "Set CRC and write bin"
ref bin "cp x.abs copy.abs"
ref bin "objcopy -I srec -O binary"
row small "tarvel -m=small -l=8000" "true" "$(mib "$peak_small")" "Set CRC, 4 KiB module"
ref small "true"
ref small "objcopy -I srec -O binary"

# The targets, as ratios of medians of this run.
target() {  # LABEL VALUE LIMIT [below|above]
  awk -v l="$1" -v v="$2" -v t="$3" -v d="${4:-below}" 'BEGIN {
    ok = (d == "below") ? v <= t : v >= t
    printf "- %s: %.2f (%s %.2f) %s\n", l, v, d == "below" ? "at most" : "at least", t, ok ? "met" : "NOT MET" }'
}
echo
echo "Targets:"
target "file CRC, x cksum" "$(ratio "$crc_t" "$(median crc "cksum big.bin")")" 1.1
target "file CRC, GB/s" "$(awk -v t="$crc_t" 'BEGIN { print 1073741824 / t / 1e9 }')" 5 above
target "set CRC, x durable copy" \
  "$(ratio "$(median main "tarvel -m=modu -l=8000")" "$(median main "cp modu.abs copy.abs && sync copy.abs")")" 1.6
target "set CRC, times faster than objcopy srec to srec" \
  "$(ratio "$(median main "objcopy -I srec -O srec")" "$(median main "tarvel -m=modu -l=8000")")" 2 above
target "set CRC and bin, x objcopy -O binary" \
  "$(ratio "$(median bin "tarvel -m=x -i=abs -o=bin -l=8000")" "$(median bin "objcopy -I srec -O binary")")" 0.75
target "4 KiB module, x true" "$(ratio "$(median small "tarvel -m=small -l=8000")" "$(median small "true")")" 1.6
target "ELF file, x durable copy" \
  "$(ratio "$(median elf "tarvel -m=modu -i=elf -l=8000")" "$(median elf "cp modu.elf copy.elf && sync copy.elf")")" 1.2
target "ELF file, module found without -l, x with -l" \
  "$(ratio "$(median elf "tarvel -m=modu -i=elf")" "$(median elf "tarvel -m=modu -i=elf -l=8000")")" 1.1
target "check, x main job without its write" "$(ratio "$check_only" "$before_write")" 1.0
echo
echo "CPU is the mean user + system time; the rest of the median is waiting, mostly for the disk."
echo "Ratios are tarvel's median over the median of the command named after them."
echo "Memory limit for the record jobs: half the input + 4 MiB = $(((abs_size / 2 + (4 << 20)) / 1048576)) MiB."
