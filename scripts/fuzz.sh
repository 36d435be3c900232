#!/usr/bin/env bash
# Builds the fuzzer with clang and runs it: scripts/fuzz.sh [SECONDS] [EXTRA LIBFUZZER ARGS...]
# The corpus grows in build-fuzz/corpus; findings land in build-fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
scripts/bootstrap.sh --fuzz
CXX=clang++ scripts/build.sh build-fuzz -DBFSSCAN_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
out="$PWD/build-fuzz"  # absolute: the fuzzer works in a directory of its own
mkdir -p "$out/seeds" "$out/corpus" "$out/findings"
"$out/make_seeds" "$out/seeds"
status=0
"$out/scan_fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024 \
  -print_final_stats=1 -artifact_prefix="$out/findings/" "$@" "$out/corpus" "$out/seeds" \
  > "$out/fuzz.log" 2>&1 || status=$?
grep -vE '^#[0-9]+.*(NEW|REDUCE|pulse)' "$out/fuzz.log" | tail -n 40
echo "fuzz: exit status $status, log in $out/fuzz.log"
exit "$status"
