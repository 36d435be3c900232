#!/usr/bin/env bash
# Benchmarks the scan of compressed images against their decompressors alone.
# Not a test.
#
#   bench/streams.sh [SIZE_MIB] [RUNS]
#
# Builds a mixed image of SIZE_MIB (default 512) MiB: half text, a quarter
# random bytes, a quarter zeros, with four small file systems in it; keeps it
# as .gz (gzip -6), .zst (zstd -3) and .xz (xz -6, two threads); then times
# RUNS (default 7) alternating pairs of `bfsscan -n IMAGE.EXT` and
# `gzip|zstd|xz -dc IMAGE.EXT >/dev/null`, the compressed file in the page
# cache, and prints the medians, their ratio, bfsscan's peak RSS, and the
# bytes written to its temporary copy (the peak temporary space, measured in
# a separate run through the test shim that counts pwrite).
# Needs a build in build/ (scripts/build.sh), python3, cc, and about
# 2 x SIZE_MIB of free space in ${TMPDIR:-/tmp}.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-512}
runs=${2:-7}
build=${BFSSCAN_BUILD:-build}
bfsscan="$PWD/$build/bfsscan"
mkbfs="$PWD/$build/mkbfs"
shim="$PWD/$build/tests/libeio_shim.so"
work=$(mktemp -d "${TMPDIR:-/tmp}/bfsscan-streams-XXXXXX")
trap 'rm -rf "$work"' EXIT
say() { echo "streams: $*" >&2; }

measure="$work/measure"
cc -O2 -Wall -Wextra -o "$measure" bench/measure.c

say "writing a mixed image of $size MiB"
python3 bench/mixed_image.py "$work/mixed.img" "$size"
head -c 300000 /dev/urandom > "$work/payload"
for q in 1 2 3 4; do
  "$mkbfs" --at $(( (size * q / 5) << 20 )) "$work/mixed.img" "$work/payload" >/dev/null
done

say "compressing"
gzip -6 -c "$work/mixed.img" > "$work/mixed.img.gz"
zstd -q -3 -c "$work/mixed.img" > "$work/mixed.img.zst"
xz -6 -T2 -c "$work/mixed.img" > "$work/mixed.img.xz"

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

echo
echo "Image: $size MiB mixed; $runs alternating pairs, medians; compressed file cached."
echo
echo "| image | bfsscan -n | decompressor -dc | ratio | bfsscan peak RSS | temporary space |"
echo "|---|---|---|---|---|---|"
for ext in gz zst xz; do
  case $ext in gz) tool=gzip ;; zst) tool=zstd ;; xz) tool=xz ;; esac
  f="$work/mixed.img.$ext"
  wa=() wb=() ma=()
  for ((i = 1; i <= runs; i++)); do
    say "$ext, pair $i of $runs"
    mkdir -p "$work/out"
    read -r st w c m rest < <("$measure" -w "$f" -C "$work/out" -t 3600 -- "$bfsscan" -n "$f")
    [ "$st" = 0 ] || say "warning: bfsscan ended with $st"
    wa+=("$w"); ma+=("$m")
    read -r st w c m rest < <("$measure" -w "$f" -t 3600 -- "$(command -v $tool)" -dc "$f")
    wb+=("$w")
  done
  a=$(printf '%s\n' "${wa[@]}" | median)
  b=$(printf '%s\n' "${wb[@]}" | median)
  peak=$(printf '%s\n' "${ma[@]}" | sort -g | tail -1)
  LD_PRELOAD="$shim" BFSSCAN_TEST_WRITTEN="$work/written" "$bfsscan" -n "$f" >/dev/null 2>&1 || true
  written=$(cat "$work/written")
  printf '| .%s | %s s | %s s | %.2f | %s | %s MiB |\n' "$ext" "$a" "$b" \
    "$(echo "$a / $b" | bc -l)" "$(( peak / 1024 )) MiB" "$(( written >> 20 ))"
done
