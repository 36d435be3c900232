#!/usr/bin/env bash
# Benchmarks the scan of compressed containers and streams, decoded on two
# cores, against each format's own tool decoding it alone. Not a test.
#
#   bench/decode.sh [RUNS] [SIZE_MIB]
#
# Writes a mixed image of SIZE_MIB (default 256) MiB (half text, a quarter
# random bytes, a quarter zeros, four small file systems in it) and keeps it
#   as .xz of several blocks (xz -6 -T2), against xz -dc -T2;
#   as an Expert Witness set (ewfacquire -c deflate:fast), against
#     ewfexport -q -u -t - (to standard output);
#   as QCOW2 with compressed clusters (qemu-img convert -c) and as a
#     stream-optimized VMDK, against qemu-img convert -O raw to a file in
#     /dev/shm (memory; removed before each run);
# then times RUNS (default 7) alternating pairs of `bfsscan -n FILE` and
# the tool, the container in the page cache, with bench/measure.c, and
# prints the medians of the wall times, their ratio, and bfsscan's peak RSS.
# Needs a build in build/ (another with BFSSCAN_BUILD=DIR), python3, cc,
# xz-utils, ewf-tools, qemu-utils, about 4 x SIZE_MIB free in ${TMPDIR:-/tmp}
# and SIZE_MIB in /dev/shm.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
size=${2:-256}
build=${BFSSCAN_BUILD:-build}
bfsscan="$PWD/$build/bfsscan"
mkbfs="$PWD/$build/mkbfs"
work=$(mktemp -d "${TMPDIR:-/tmp}/bfsscan-decode-XXXXXX")
shm=$(mktemp -d /dev/shm/bfsscan-decode-XXXXXX)
trap 'rm -rf "$work" "$shm"' EXIT
say() { echo "decode: $*" >&2; }

measure="$work/measure"
cc -O2 -Wall -Wextra -o "$measure" bench/measure.c

say "writing a mixed image of $size MiB"
python3 bench/mixed_image.py "$work/disk.img" "$size"
head -c 300000 /dev/urandom > "$work/payload"
for q in 1 2 3 4; do
  "$mkbfs" --at $(( (size * q / 5) << 20 )) "$work/disk.img" "$work/payload" >/dev/null
done

say "compressing"
xz -6 -T2 -c "$work/disk.img" > "$work/disk.img.xz"
ewfacquire -u -q -c deflate:fast -t "$work/disk" "$work/disk.img" >/dev/null
qemu-img convert -c -O qcow2 "$work/disk.img" "$work/disk.qcow2"
qemu-img convert -O vmdk -o subformat=streamOptimized "$work/disk.img" "$work/disk.vmdk"
rm -f "$work/disk.img"

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# One row: LABEL FILE TOOL-ARGV... (the tool's output goes to /dev/null).
compare() {
  local label=$1 f=$2
  shift 2
  local wa=() wb=() ma=() st w c m rest
  for ((i = 1; i <= runs; i++)); do
    say "$label, pair $i of $runs"
    rm -rf "$work/out" && mkdir -p "$work/out"
    read -r st w c m rest < <("$measure" -w "$f" -C "$work/out" -t 3600 -- "$bfsscan" -n "$f")
    [ "$st" = 0 ] || say "warning: bfsscan ended with $st"
    wa+=("$w"); ma+=("$m")
    rm -f "$shm/disk.raw"
    read -r st w c m rest < <("$measure" -w "$f" -t 3600 -- "$@")
    [ "$st" = 0 ] || say "warning: $1 ended with $st"
    wb+=("$w")
  done
  local a b peak
  a=$(printf '%s\n' "${wa[@]}" | median)
  b=$(printf '%s\n' "${wb[@]}" | median)
  peak=$(printf '%s\n' "${ma[@]}" | sort -g | tail -1)
  printf '| %s | %s s | %s: %s s | %.2f | %s MiB |\n' "$label" "$a" "$(basename "$1")" "$b" \
    "$(echo "$a / $b" | bc -l)" "$(( peak / 1024 ))"
}

echo
echo "Image: $size MiB mixed; $runs alternating pairs, medians of wall time; file cached;"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)."
echo
echo "| image | bfsscan -n | tool | ratio | bfsscan peak RSS |"
echo "|---|---|---|---|---|"
compare ".xz, xz -T2" "$work/disk.img.xz" "$(command -v xz)" -dc -T2 "$work/disk.img.xz"
compare "E01, deflate:fast" "$work/disk.E01" "$(command -v ewfexport)" -q -u -t - "$work/disk.E01"
compare "QCOW2, compressed" "$work/disk.qcow2" \
  "$(command -v qemu-img)" convert -O raw "$work/disk.qcow2" "$shm/disk.raw"
compare "VMDK, stream-optimized" "$work/disk.vmdk" \
  "$(command -v qemu-img)" convert -O raw "$work/disk.vmdk" "$shm/disk.raw"
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)."
