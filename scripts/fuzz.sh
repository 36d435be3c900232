#!/usr/bin/env bash
# Builds the fuzzing targets with clang (ASan and UBSan on) and runs them.
#   scripts/fuzz.sh SECONDS [TARGET...] [-- LIBFUZZER ARGS...]
#       runs each named target (all of fuzz/targets.txt by default) for
#       SECONDS, one after the other, and prints libFuzzer's final
#       statistics for each, then one summary line per target.
#   scripts/fuzz.sh --list     names the targets.
# Corpora grow in build-fuzz/corpus/TARGET; findings land in
# build-fuzz/findings/TARGET/; logs in build-fuzz/logs/TARGET.log.
# The fuzzers run under nice (FUZZ_NICE, default 10): the machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

all_targets() { grep -E '^[a-z_]+ ' fuzz/targets.txt | awk '{print $1}'; }
takes_images() { grep -qE "^$1 +images$" fuzz/targets.txt; }

if [ "${1:-}" = "--list" ]; then
  all_targets
  exit 0
fi
case "${1:-}" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh SECONDS [TARGET...] [-- LIBFUZZER ARGS...] | --list" >&2; exit 1 ;;
esac
seconds="$1"
shift
targets=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  all_targets | grep -qx "$1" || { echo "fuzz: no target '$1' (scripts/fuzz.sh --list)" >&2; exit 1; }
  targets+=("$1")
  shift
done
[ "${1:-}" = "--" ] && shift
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(all_targets)

scripts/bootstrap.sh --fuzz
out="$root/build-fuzz"
CXX=clang++ cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBFSSCAN_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$out" -j"$(nproc)" --target make_seeds "${targets[@]/%/_fuzzer}" >/dev/null
mkdir -p "$out/seeds" "$out/logs"
"$out/fuzz/make_seeds" "$out/seeds" >/dev/null

status=0
summary=()
for t in "${targets[@]}"; do
  mkdir -p "$out/corpus/$t" "$out/findings/$t"
  sources=("$out/corpus/$t" "$root/fuzz/regressions/$t")
  takes_images "$t" && sources+=("$out/seeds")
  log="$out/logs/$t.log"
  rc=0
  nice -n "${FUZZ_NICE:-10}" "$out/fuzz/${t}_fuzzer" -max_total_time="$seconds" -max_len=65536 \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -dict="$root/fuzz/bfs.dict" \
    -artifact_prefix="$out/findings/$t/" "$@" "${sources[@]}" > "$log" 2>&1 || rc=$?
  echo "== $t (exit status $rc, log $log)"
  grep -E '^stat::|^Done |DONE|ERROR|SUMMARY|property violated' "$log" || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  summary+=("$(printf '%-16s %12s execs %8s exec/s  %s  status %s' "$t" "${runs:-?}" "${rate:-?}" "${cov:-cov: ?}" "$rc")")
  [ "$rc" -eq 0 ] || status=1
done
echo "== summary (${seconds} s each)"
printf '%s\n' "${summary[@]}"
exit "$status"
