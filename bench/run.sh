#!/usr/bin/env bash
# Benchmarks bfsscan against plain tools on cached images. Not a test.
# Usage: bench/run.sh [RUNS]   (default 5 runs of each command, alternating)
# Needs a release build in build/ (scripts/build.sh) and about 5 GiB of
# free disk (sparse files count less). Prints a Markdown table.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-5}"
bin="$PWD/build"
work="$(mktemp -d /tmp/bfsscan-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT

# Elapsed seconds and peak resident KiB of a command, run in a fresh
# $work/out after the disk has caught up with earlier writes.
measure() {
  rm -rf "$work/out" && mkdir "$work/out" && sync
  local start=$EPOCHREALTIME
  (cd "$work/out" && /usr/bin/time -f '%M' -o "$work/mem" "$@" >/dev/null 2>&1) || true
  local end=$EPOCHREALTIME
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}') $(cat "$work/mem")"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Runs the two commands alternately; prints their medians, the ratio and
# the largest peak memory of the first.
compare() {
  local label="$1" a="$2" b="$3"
  local ta=() tb=() ma=0
  for _ in $(seq "$runs"); do
    read -r t m < <(measure bash -c "$a"); ta+=("$t"); [ "$m" -gt "$ma" ] && ma=$m
    read -r t _ < <(measure bash -c "$b"); tb+=("$t")
  done
  local mda mdb
  mda=$(printf '%s\n' "${ta[@]}" | median)
  mdb=$(printf '%s\n' "${tb[@]}" | median)
  printf '| %s | %s s | %s s | %s | %d MiB |\n' "$label" "$mda" "$mdb" \
    "$(awk -v a="$mda" -v b="$mdb" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')" $((ma / 1024))
}

warm() { cat "$@" >/dev/null; }

echo "| goal | bfsscan | reference | ratio | bfsscan peak memory |"
echo "|---|---|---|---|---|"

# 1. Block scan of 512 MiB of random bytes without a file system, against cat.
head -c $((512 << 20)) /dev/urandom > "$work/random.img"
warm "$work/random.img"
compare "block scan, 512 MiB (vs cat)" "$bin/bfsscan $work/random.img" "cat $work/random.img"

# 2. An inode table of 69273659 slots, all unused, in a 4.3 GB sparse image.
python3 - "$work/slots.img" <<'PY'
import struct, sys
with open(sys.argv[1], "wb") as f:
    f.write(struct.pack(">III", 0x1BADFACE, 0xFFFFFFCE, 0xFFFFFFFF))
    f.truncate(0xFFFFFFFF + 1)
PY
warm "$work/slots.img"
compare "inode table, 69273659 slots (vs cat)" "$bin/bfsscan $work/slots.img" \
  "cat $work/slots.img"

# 3. Extraction of 256 MiB of file data, against cp of the same files.
mkdir -p "$work/files"
for i in 1 2 3 4; do head -c $((64 << 20)) /dev/urandom > "$work/files/file$i"; done
"$bin/mkbfs" "$work/files.img" "$work"/files/file* >/dev/null
warm "$work/files.img" "$work"/files/*
compare "extraction, 256 MiB (vs cp)" "$bin/bfsscan $work/files.img" \
  "mkdir files-0 && cp $work/files/* files-0/"
