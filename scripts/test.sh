#!/usr/bin/env bash
# Sets everything up, builds and runs every test: once in a plain build, and
# once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
jobs="$(nproc)"

echo "== tests (build/)"
scripts/build.sh build
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
scripts/build.sh build-asan -DBFSSCAN_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" ctest --test-dir build-asan --output-on-failure -j"$jobs"
