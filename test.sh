#!/usr/bin/env bash
# Installs what the project needs, builds it twice (plain, and with
# AddressSanitizer + UBSan, which also builds and briefly runs the fuzz
# targets) and runs every test. The ctest summary is the last thing printed.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/bootstrap.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELMORA_SANITIZE=ON -DVELMORA_FUZZ=ON -DVELMORA_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"

status=0
plain_log=$(mktemp) asan_log=$(mktemp)
trap 'rm -f "$plain_log" "$asan_log"' EXIT

echo "== tests (plain build)"
(cd build && ctest -j"$jobs" --timeout 600 2>&1) | tee "$plain_log" || status=1
echo "== tests (AddressSanitizer + UBSan build, fuzz targets included)"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j"$jobs" --timeout 900 2>&1) | tee "$asan_log" || status=1

echo
echo "== summary"
echo "plain:     $(grep -E 'tests passed' "$plain_log" || echo 'no summary')"
echo "sanitized: $(grep -E 'tests passed' "$asan_log" || echo 'no summary')"
grep -hE '^[0-9]+% tests passed' "$plain_log" "$asan_log" >/dev/null || status=1
# The closing line: the two runs' counts together, in ctest's own words.
awk '/tests passed, [0-9]+ tests failed out of/ {
       fail += $4; total += $NF }
     END { if (total == 0) { print "No tests were found!!!"; exit 0 }
           printf "%d%% tests passed, %d tests failed out of %d\n",
                  int(100 * (total - fail) / total), fail, total }' "$plain_log" "$asan_log"
exit $status
