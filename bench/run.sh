#!/usr/bin/env bash
# Benchmarks bfsscan against plain tools and on hostile images. Not a test.
#
#   bench/run.sh [RUNS] [SET...]
#
# RUNS (default 15) is the number of alternating pairs of runs per comparison.
# SETs (default: all) are
#   empty     start-up: an empty image, against cat of it
#   scan      block scan of 512 MiB of random bytes, against cat
#   table     a pass over an inode table of unused slots (1 GiB, not sparse), against cat
#   extract   extraction of 4 files of 64 MiB, against cp of the same files
#   hostile   quadratic31, quadratic, dense and amplify below
#   quadratic31, quadratic   4 GiB sparse image with a superblock every 31 (every
#             992) blocks, each inode table reaching the end of the image
#   dense     a 256 MiB inode table of slots in use
#   amplify   2,000 names on one 4 MiB extent, and 16,000 slots with one inode number
# scan, table and extract are each measured with the files in the page cache
# and evicted from it before every run (cold). Hostile images are run
# BENCH_HOSTILE_RUNS times (default 3), cached, each run killed after
# BENCH_TIMEOUT seconds (default 120); a run that times out is not repeated.
#
# Every program is timed directly by bench/measure.c (compiled here with cc):
# from fork to exit, with no shell or time wrapper in between. Needs a build
# in build/ (scripts/build.sh; another with BFSSCAN_BUILD=DIR), python3, and
# free disk in ${TMPDIR:-/tmp}: about 1.5 GiB for scan, table and extract, 0.3
# GiB for dense, and for amplify as much as bfsscan writes before its budget or
# the timeout stops it (up to 8 GiB). The quadratic images (1.1 GiB and 34 MiB
# in use) and the directories bfsscan makes from them go to BENCH_SPARSE_DIR,
# by default /dev/shm: a file system that discards freed blocks one at a time
# (ext4 mounted with discard) takes many minutes to delete 270,601 pieces of a
# file or as many directories. Cold runs need permission to write back and
# drop the cache of the benchmark's own files.
# Prints Markdown tables on standard output, progress on standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=15
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  runs=$1
  shift
fi
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(empty scan table extract hostile)
for s in "${sets[@]}"; do
  case "$s" in
    empty | scan | table | extract | hostile | quadratic31 | quadratic | dense | amplify) ;;
    *) echo "bench/run.sh: unknown set '$s'" >&2; exit 1 ;;
  esac
done
wanted() {
  local s
  for s in "${sets[@]}"; do
    [ "$s" = "$1" ] && return 0
    [ "$s" = hostile ] && [[ "$1" =~ ^(quadratic31|quadratic|dense|amplify)$ ]] && return 0
  done
  return 1
}

bin="${BFSSCAN_BUILD:-$PWD/build}"
bin="$(cd "$bin" && pwd)"
limit="${BENCH_TIMEOUT:-120}"
hostileRuns="${BENCH_HOSTILE_RUNS:-3}"
if [ ! -x "$bin/bfsscan" ] || [ ! -x "$bin/mkbfs" ]; then
  echo "bench/run.sh: no bfsscan and mkbfs in $bin (run scripts/build.sh)" >&2
  exit 1
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/bfsscan-bench-XXXXXX")"
sparse="$(mktemp -d "${BENCH_SPARSE_DIR:-/dev/shm}/bfsscan-bench-XXXXXX" 2>/dev/null || echo "$work")"
trap 'rm -rf "$work" "$sparse"' EXIT
fsType="$(stat -f -c %T "$sparse")"
trap 'exit 130' INT TERM
measure="$work/measure"
cc -O2 -Wall -Wextra -o "$measure" bench/measure.c

say() { echo "bench: $*" >&2; }
median() { sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
maximum() { sort -g | tail -n 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f MiB", k / 1024}'; }
bytes() {
  awk -v b="$1" 'BEGIN {
    if (b < 0) print "?"; else if (b < 1048576) printf "%.0f KiB\n", b / 1024
    else if (b < 1073741824) printf "%.1f MiB\n", b / 1048576; else printf "%.1f GiB\n", b / 1073741824
  }'
}

# A fresh, empty working directory $out for the next run, in $1 (default
# $work), with an empty copy/ for cp.
out="$work/out"
fresh() {
  rm -rf "$out"
  out="${1:-$work}/out"
  rm -rf "$out" && mkdir -p "$out/copy"
}

# pair LABEL MODE FILE... -- runs "${A[@]}" and "${B[@]}" alternately, RUNS
# times each, in fresh working directories, the FILEs warmed into the page
# cache (MODE cached) or evicted from it (MODE cold) before every run. Prints
# a table row with the medians and the ratio.
pair() {
  local label="$1" mode="$2" f i st w c m rest
  shift 2
  local prep=(-s)
  for f in "$@"; do
    if [ "$mode" = cold ]; then prep+=(-c "$f"); else prep+=(-w "$f"); fi
  done
  local wa=() wb=() ca=() cb=() ma=() statuses=()
  for ((i = 1; i <= runs; i++)); do
    say "$label, $mode, pair $i of $runs"
    fresh
    read -r st w c m rest < <("$measure" "${prep[@]}" -C "$out" -t 600 -- "${A[@]}")
    wa+=("$w"); ca+=("$c"); ma+=("$m"); statuses+=("$st")
    fresh
    read -r st w c m rest < <("$measure" "${prep[@]}" -C "$out" -t 600 -- "${B[@]}")
    [ "$st" = 0 ] || say "warning: ${B[0]} ended with $st"
    wb+=("$w"); cb+=("$c")
  done
  local mwa mwb
  mwa=$(printf '%s\n' "${wa[@]}" | median)
  mwb=$(printf '%s\n' "${wb[@]}" | median)
  printf '| %s | %s | %s s | %s s | %s | %s s | %s s | %s | %s |\n' "$label" "$mode" \
    "$mwa" "$mwb" "$(ratio "$mwa" "$mwb")" \
    "$(printf '%s\n' "${ca[@]}" | median)" "$(printf '%s\n' "${cb[@]}" | median)" \
    "$(mib "$(printf '%s\n' "${ma[@]}" | maximum)")" \
    "$(printf '%s\n' "${statuses[@]}" | sort -u | paste -sd/)"
}

pairHeader() {
  echo
  echo "Alternating pairs, medians of $runs; ratio = bfsscan / reference (wall time)."
  echo
  echo "| measurement | cache | bfsscan | reference | ratio | bfsscan CPU | reference CPU | bfsscan peak RSS | bfsscan status |"
  echo "|---|---|---|---|---|---|---|---|---|"
}

# hostile LABEL IMAGE GOAL [DIR] -- runs bfsscan on IMAGE up to hostileRuns
# times (cached, killed after the time limit, working directory in DIR) and
# prints a table row: medians of time, the largest peak memory, bytes written
# and bytes left.
hostile() {
  local label="$1" img="$2" goal="$3" where="${4:-$work}" i st w c m wr left
  local length budget
  length=$(stat -c %s "$img")
  budget=$(( length * 16 > (1 << 30) ? length * 16 : (1 << 30) ))
  local ws=() cs=() ms=() wrs=() lefts=() statuses=()
  for ((i = 1; i <= hostileRuns; i++)); do
    say "$label, run $i of $hostileRuns"
    fresh "$where"
    read -r st w c m wr left < <("$measure" -s -w "$img" -C "$out" -o "$work/stdout" \
      -E "$work/stderr" -t "$limit" -- "$bin/bfsscan" "$img")
    ws+=("$w"); cs+=("$c"); ms+=("$m"); wrs+=("$wr"); lefts+=("$left"); statuses+=("$st")
    rm -f "$work/stdout" "$work/stderr"
    [ "$st" = timeout ] && break
  done
  local wall shown
  wall=$(printf '%s\n' "${ws[@]}" | median)
  shown="$wall s"
  [[ " ${statuses[*]} " == *" timeout "* ]] && shown="timeout (> $limit s)"
  printf '| %s | %s | %s | %s s | %s | %s | %s | %s | %s | %s |\n' "$label" \
    "$(bytes "$length")" "$shown" "$(printf '%s\n' "${cs[@]}" | median)" \
    "$(mib "$(printf '%s\n' "${ms[@]}" | maximum)")" \
    "$(bytes "$(printf '%s\n' "${wrs[@]}" | maximum)")" \
    "$(bytes "$(printf '%s\n' "${lefts[@]}" | maximum)")" "$(bytes "$budget")" \
    "$(printf '%s\n' "${statuses[@]}" | sort -u | paste -sd/)" "$goal"
}

hostileHeader() {
  echo
  echo "Hostile images, cached; medians of up to $hostileRuns runs, each stopped after $limit s."
  echo "Written: bytes passed to write-like calls, report excluded; left: size of the files left."
  echo
  echo "| image | length | time | CPU | peak RSS | written | left | budget | status | goal |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
}

echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)," \
  "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) RAM," \
  "Linux $(uname -r); $(date -u '+%Y-%m-%d %H:%M UTC')."
echo "Program: $("$bin/bfsscan" --version) from $bin; load average at start:" \
  "$(cut -d' ' -f1-3 /proc/loadavg)."

if wanted empty || wanted scan || wanted table || wanted extract; then
  pairHeader
fi
if wanted empty; then
  : > "$work/empty.img"
  A=("$bin/bfsscan" "$work/empty.img")
  B=(cat "$work/empty.img")
  pair "start-up: empty image (vs cat)" cached "$work/empty.img"
  rm -f "$work/empty.img"
fi
if wanted scan; then
  say "writing 512 MiB of random bytes"
  head -c $((512 << 20)) /dev/urandom > "$work/random.img"
  A=("$bin/bfsscan" "$work/random.img")
  B=(cat "$work/random.img")
  pair "block scan, 512 MiB (vs cat)" cached "$work/random.img"
  pair "block scan, 512 MiB (vs cat)" cold "$work/random.img"
  rm -f "$work/random.img"
fi
if wanted table; then
  say "writing a 1 GiB image of zeros claiming 69273659 slots"
  python3 bench/images.py table "$work/slots.img" > /dev/null
  A=("$bin/bfsscan" "$work/slots.img")
  B=(cat "$work/slots.img")
  pair "inode table, 1 GiB of unused slots (vs cat)" cached "$work/slots.img"
  pair "inode table, 1 GiB of unused slots (vs cat)" cold "$work/slots.img"
  rm -f "$work/slots.img"
fi
if wanted extract; then
  say "writing 4 files of 64 MiB and their image"
  mkdir -p "$work/files"
  for i in 1 2 3 4; do head -c $((64 << 20)) /dev/urandom > "$work/files/file$i"; done
  "$bin/mkbfs" "$work/files.img" "$work"/files/file* > /dev/null
  A=("$bin/bfsscan" "$work/files.img")
  B=(cp "$work"/files/file1 "$work"/files/file2 "$work"/files/file3 "$work"/files/file4 copy/)
  pair "extraction, 256 MiB (vs cp)" cached "$work/files.img" "$work"/files/file*
  pair "extraction, 256 MiB (vs cp)" cold "$work/files.img" "$work"/files/file*
  rm -rf "$work/files" "$work/files.img"
fi

if wanted quadratic31 || wanted quadratic || wanted dense || wanted amplify; then
  hostileHeader
  A=("$bin/bfsscan" --version)
  read -r _ _ _ m _ < <("$measure" -- "${A[@]}")
  echo "| baseline: bfsscan --version | | | | $(mib "$m") | | | | | |"
fi
if wanted quadratic31; then
  say "writing the 4 GiB quadratic image, a superblock every 31 blocks"
  python3 bench/images.py quadratic "$sparse/quadratic.img" 31 > /dev/null
  hostile "quadratic, 4 GiB sparse, 270,601 file systems (every 31 blocks; on $fsType)" \
    "$sparse/quadratic.img" "under 20 s" "$sparse"
  rm -f "$sparse/quadratic.img"
fi
if wanted quadratic; then
  say "writing the 4 GiB quadratic image, a superblock every 992 blocks"
  python3 bench/images.py quadratic "$sparse/quadratic.img" 992 > /dev/null
  hostile "quadratic, 4 GiB sparse, 8,457 file systems (every 992 blocks; on $fsType)" \
    "$sparse/quadratic.img" "under 20 s" "$sparse"
  rm -f "$sparse/quadratic.img"
fi
if wanted dense; then
  say "writing a 256 MiB inode table of slots in use"
  python3 bench/images.py dense "$work/dense.img" > /dev/null
  hostile "dense table, 256 MiB, 4,329,604 slots in use" "$work/dense.img" "peak RSS under 16 MiB"
  rm -f "$work/dense.img"
fi
if wanted amplify; then
  say "writing the amplification images"
  python3 bench/images.py amplify "$work/amplify.img" > /dev/null
  hostile "amplification, 2,000 names on one 4 MiB extent" "$work/amplify.img" \
    "written within the budget"
  rm -f "$work/amplify.img"
  python3 bench/images.py same-ino "$work/same.img" > /dev/null
  hostile "amplification, 16,000 slots with one inode number" "$work/same.img" \
    "written within the budget"
  rm -f "$work/same.img"
fi
rm -rf "$out"
echo
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
