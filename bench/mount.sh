#!/usr/bin/env bash
# Benchmarks reading a file through bfsmount against reading the same bytes
# from the image. Not a test.
#
#   bench/mount.sh [RUNS]
#
# One image holds a BFS file system with one 256 MiB file of random bytes.
# RUNS (default 7) alternating pairs: dd of the file's extent
# from the image, then dd of the file through a fresh mount (mounted before
# and unmounted after each run, so that the mount's page cache starts empty).
# Both warm (the image in the page cache) and cold (evicted before each run),
# and for each block size in BENCH_BLOCKS (default "1M 128K": large reads,
# and those of cat and cp).
# Also with bfsmount --direct (reads past the mount's page cache), and the
# CPU time of dd (user + system) beside each wall time. Timed by
# bench/measure.c. Needs a build in build/ (or BFSSCAN_BUILD=DIR)
# with bfsmount, FUSE (as root, or fusermount3), and 0.5 GiB in ${TMPDIR:-/tmp}.
# Prints a Markdown table on standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
build=${BFSSCAN_BUILD:-build}
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-mount.XXXXXX")
mnt="$work/mnt"
mkdir "$mnt"
cleanup() {
  mountpoint -q "$mnt" && fusermount3 -u "$mnt" || true
  rm -rf "$work"
}
trap cleanup EXIT
measure="$work/measure"
cc -O2 -Wall -Wextra -o "$measure" bench/measure.c

head -c $((256 << 20)) /dev/urandom > "$work/big"
"$build/mkbfs" "$work/disk.img" "$work/big" > /dev/null
rm "$work/big"
# The file's first byte in the image, from the report's copying line.
first=$("$build/bfsscan" -n "$work/disk.img" | sed -n 's/^copying .* \(0x[0-9a-f]*\)-.*/\1/p')
len=$((256 << 20))
median() { sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

# dd through a fresh mount (options $1...): "WALL CPU" on standard output.
through() {
  "$build/bfsmount" "$@" "$work/disk.img" "$mnt"
  read -r st w c _ < <("$measure" "${prep[@]}" -- dd if="$mnt/disk-0/big" of=/dev/null bs=$bs)
  fusermount3 -u "$mnt"
  [ "$st" = 0 ] || { echo "bench/mount.sh: dd through the mount failed ($st)" >&2; exit 1; }
  echo "$w $c"
}

echo "| page cache | reads of | image (s) | bfsmount (s) | ratio | --direct (s) | ratio | CPU of dd: image, bfsmount, --direct (ms) |"
echo "|---|---|---|---|---|---|---|---|"
for cache in warm cold; do
for bs in ${BENCH_BLOCKS:-1M 128K}; do
  prep=(-w "$work/disk.img")
  [ "$cache" = cold ] && prep=(-s -c "$work/disk.img")
  image=() icpu=() cached=() ccpu=() direct=() dcpu=()
  for ((i = 0; i < runs; i++)); do
    read -r st w c _ < <("$measure" "${prep[@]}" -- dd if="$work/disk.img" of=/dev/null bs=$bs \
      iflag=skip_bytes,count_bytes skip=$((first)) count=$len)
    [ "$st" = 0 ] || { echo "bench/mount.sh: dd of the image failed ($st)" >&2; exit 1; }
    image+=("$w") icpu+=("$c")
    read -r w c < <(through)
    cached+=("$w") ccpu+=("$c")
    read -r w c < <(through --direct)
    direct+=("$w") dcpu+=("$c")
    echo "bench/mount.sh: $cache, $bs, run $((i + 1)) of $runs" >&2
  done
  m() { printf '%s\n' "$@" | median; }
  awk -v c="$cache" -v b="$bs" -v i="$(m "${image[@]}")" -v t="$(m "${cached[@]}")" -v d="$(m "${direct[@]}")" \
    -v ic="$(m "${icpu[@]}")" -v tc="$(m "${ccpu[@]}")" -v dc="$(m "${dcpu[@]}")" \
    'BEGIN { printf "| %s | %s | %.3f | %.3f | %.2f | %.3f | %.2f | %.0f, %.0f, %.0f |\n",
             c, b, i, t, t / i, d, d / i, ic * 1000, tc * 1000, dc * 1000 }'
done
done
