#!/usr/bin/env bash
# Runs fuzz targets until each has had a given number of CPU minutes, at low
# priority, in 10-minute chunks over a corpus that persists between runs.
# CPU time (user + sys, from /usr/bin/time) is what counts, not wall time:
# on a shared machine a target niced to 19 may get a fraction of a core.
#
# Usage: fuzz/run_for_minutes.sh MINUTES TARGET...   (TARGET as in fuzz/: bzip2, inflate_zlib, ...)
# env: BUILD_DIR (default build-asan, where the sanitized build put the
#      targets), WORK (default $BUILD_DIR/fuzz-work: corpus/<target>,
#      logs/<target>.log, logs/cpu.txt)
# A crash stops that target (its log and the crash file say what) and the
# next one runs. `fuzz/run_for_minutes.sh 0` prints the minutes so far.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
minutes=${1:?minutes}
shift
build=${BUILD_DIR:-$root/build-asan}
work=${WORK:-$build/fuzz-work}
mkdir -p "$work/corpus" "$work/logs"
cpu_log="$work/logs/cpu.txt"

cpu_seconds() {
  awk -v t="$1" '$1 == t { split($2, u, "="); split($3, s, "="); sum += u[2] + s[2] }
                 END { printf "%d", sum }' "$cpu_log" 2>/dev/null || echo 0
}

for target in "$@"; do
  binary=$(find "$build" -name "${target}_fuzzer" -type f -perm -u+x | head -1)
  if [ -z "$binary" ]; then
    echo "$target: no ${target}_fuzzer under $build (build it with VELMORA_FUZZ=ON)" >&2
    continue
  fi
  corpus="$work/corpus/$target"
  if [ ! -d "$corpus" ]; then
    mkdir -p "$corpus"
    [ -d "$here/corpus/${target}_fuzzer" ] && cp -r "$here/corpus/${target}_fuzzer/." "$corpus/"
  fi
  while [ "$(cpu_seconds "$target")" -lt $((minutes * 60)) ]; do
    left=$((minutes * 60 - $(cpu_seconds "$target")))
    chunk=$((left < 600 ? (left < 30 ? 30 : left) : 600))
    /usr/bin/time -f "$target cpu_user=%U cpu_sys=%S wall=%e" -a -o "$cpu_log" \
      nice -n 19 env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$binary" -max_total_time=$chunk -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$work/logs/$target-" "$corpus" >> "$work/logs/$target.log" 2>&1
    rc=$?
    if [ $rc -ne 0 ]; then
      echo "$target: stopped with exit $rc after $(($(cpu_seconds "$target") / 60)) CPU minutes;" \
           "see $work/logs/$target.log" >&2
      break
    fi
  done
done

# The minutes so far, every target that has run.
awk '{ split($2, u, "="); split($3, s, "="); t[$1] += u[2] + s[2] }
     END { for (k in t) printf "%-24s %6.1f CPU minutes\n", k, t[k] / 60 }' "$cpu_log" 2>/dev/null |
  sort
