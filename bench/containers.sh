#!/usr/bin/env bash
# Times bfsscan on one 512 MiB disk kept raw, as an Expert Witness file
# (deflate, fast) and as QCOW2, against each container's own tool reading
# it out to raw. Not a test.
# Usage: bench/containers.sh [RUNS]   (default 5 runs of each command, alternating)
# Needs build/ (scripts/build.sh), ewf-tools and qemu-utils, about 2 GiB free
# in /tmp and 512 MiB in /dev/shm. Prints a Markdown table of medians.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-5}"
bin="$PWD/build/bfsscan"
work="$(mktemp -d /tmp/bfsscan-bench-XXXXXX)"
shm="$(mktemp -d /dev/shm/bfsscan-bench-XXXXXX)"
trap 'rm -rf "$work" "$shm"' EXIT

# Elapsed seconds of a command run in a fresh $work/out.
measure() {
  rm -rf "$work/out" "$shm/disk.raw" && mkdir "$work/out"
  local start=$EPOCHREALTIME
  (cd "$work/out" && bash -c "$1" >/dev/null 2>&1) || true
  local end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f\n", b - a}'
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Runs the two commands alternately and prints a table row of their medians.
compare() {
  local label="$1" a="$2" b="$3" reference="$4"
  local ta=() tb=()
  for _ in $(seq "$runs"); do
    ta+=("$(measure "$a")")
    tb+=("$(measure "$b")")
  done
  local mda mdb
  mda=$(printf '%s\n' "${ta[@]}" | median)
  mdb=$(printf '%s\n' "${tb[@]}" | median)
  printf '| %s | %s s | %s: %s s | %s |\n' "$label" "$mda" "$reference" "$mdb" \
    "$(awk -v a="$mda" -v b="$mdb" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')"
}

# Half random bytes, half text (base64), so that deflate has work to do.
head -c $((256 << 20)) /dev/urandom > "$work/disk.img"
head -c $((192 << 20)) /dev/urandom | base64 -w 0 | head -c $((256 << 20)) >> "$work/disk.img"
ewfacquire -u -q -c deflate:fast -t "$work/disk" "$work/disk.img" >/dev/null
qemu-img convert -O qcow2 "$work/disk.img" "$work/disk.qcow2"
cat "$work"/disk.* >/dev/null

echo "| image | bfsscan | reference | ratio |"
echo "|---|---|---|---|"
compare "raw" "$bin $work/disk.img" "cat $work/disk.img" "cat"
compare "E01, deflate fast" "$bin $work/disk.E01" \
  "ewfexport -u -q -f raw -t - $work/disk.E01" "ewfexport to stdout"
compare "QCOW2" "$bin $work/disk.qcow2" \
  "qemu-img convert -O raw $work/disk.qcow2 $shm/disk.raw" "qemu-img convert to tmpfs"
