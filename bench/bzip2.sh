#!/usr/bin/env bash
# Speed of one large bzip2 ZIP item (method 12): vunzip, which decodes its
# blocks on every core, against 7-Zip (two threads by default), unzip 6.0
# (one) and, given BASE_VUNZIP, another vunzip build (the one before a
# change). The item is the bench text corpus (bench/make_corpora.sh,
# 24 MiB of source and documentation) packed by `7zz a -tzip -mm=BZip2`.
#
# The machine is shared and noisy: the tools run interleaved, round by
# round, the starting tool rotating, and we report medians of wall and user
# time (the minimum beside them) with the load before and after.
# Extractions write to a fresh folder on /dev/shm (else under BENCH_DIR),
# removed after each run, untimed.
#
# Usage: bench/bzip2.sh [ROUNDS]   (env: BUILD_DIR, VUNZIP, BASE_VUNZIP, BENCH_DIR)
# Last line: RESULT bzip2 test_vs_7z=... extract_vs_7z=... (median wall time
#   of vunzip over 7-Zip's; below 1 is faster)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/interleaved.sh
source "$here/interleaved.sh"
root=$(dirname "$here")
rounds=${1:-7}
build=${BUILD_DIR:-$root/build}
vunzip=${VUNZIP:-$build/bin/vunzip}
base=${BASE_VUNZIP:-}
work=${BENCH_DIR:-$build/bench-bzip2}
sevenzip=$(command -v 7zz || command -v 7z || true)

[ -x "$vunzip" ] || { echo "vunzip not built: $vunzip" >&2; exit 1; }
[ -n "$sevenzip" ] || { echo "missing 7zz" >&2; exit 1; }
command -v unzip >/dev/null || { echo "missing unzip" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 1; }

mkdir -p "$work"
work=$(cd "$work" && pwd)
zip_file="$work/text.bz2.zip"
if [ ! -s "$zip_file" ]; then
  [ -s "$work/corpora/text.bin" ] || "$here/make_corpora.sh" "$work/corpora" >/dev/null
  (cd "$work/corpora" && "$sevenzip" a -tzip -mm=BZip2 "$zip_file" text.bin >/dev/null)
fi
out_root=/dev/shm
[ -d "$out_root" ] && [ -w "$out_root" ] || out_root="$work"
out="$out_root/velmora-bzip2-$$"

tools=(vunzip 7z unzip)
[ -n "$base" ] && tools+=(base)

# Runs one tool once; prints "wall user" in seconds.
run_one() {
  local tool=$1 mode=$2 times="$work/time.$$"
  rm -rf "$out"
  mkdir -p "$out"
  local cmd
  case $tool-$mode in
    vunzip-test) cmd=("$vunzip" -tqq "$zip_file") ;;
    base-test) cmd=("$base" -tqq "$zip_file") ;;
    7z-test) cmd=("$sevenzip" t -bd "$zip_file") ;;
    unzip-test) cmd=(unzip -tqq "$zip_file") ;;
    vunzip-extract) cmd=("$vunzip" -qq -o -d "$out" "$zip_file") ;;
    base-extract) cmd=("$base" -qq -o -d "$out" "$zip_file") ;;
    7z-extract) cmd=("$sevenzip" x -y -bd -o"$out" "$zip_file") ;;
    unzip-extract) cmd=(unzip -qq -o "$zip_file" -d "$out") ;;
  esac
  /usr/bin/time -f "%e %U" -o "$times" "${cmd[@]}" >/dev/null 2>&1 || { echo "$tool $mode failed" >&2; exit 1; }
  if [ "$mode" = extract ]; then
    cmp -s "$out/text.bin" "$work/corpora/text.bin" 2>/dev/null ||
      [ ! -s "$work/corpora/text.bin" ] || { echo "$tool wrote other bytes" >&2; exit 1; }
  fi
  rm -rf "$out"
  cat "$times"
  rm -f "$times"
}

echo "load before: $(uptime)"
samples="$work/samples.$$"
: > "$samples"
run_rounds "$rounds" test extract
echo "load after:  $(uptime)"

printf '%-8s %-7s %18s %18s\n' mode tool "wall median (min)" "user median (min)"
for mode in test extract; do
  for tool in "${tools[@]}"; do
    read -r wall wall_min <<<"$(stat $mode $tool 3)"
    read -r user user_min <<<"$(stat $mode $tool 4)"
    printf '%-8s %-7s %10s (%s) %10s (%s)\n' $mode $tool "$wall" "$wall_min" "$user" "$user_min"
  done
done
ratio() {
  awk -v a="$(stat "$1" vunzip 3 | cut -d' ' -f1)" -v b="$(stat "$1" 7z 3 | cut -d' ' -f1)" \
    'BEGIN { printf "%.2f", a / b }'
}
echo "RESULT bzip2 test_vs_7z=$(ratio test) extract_vs_7z=$(ratio extract) rounds=$rounds"
rm -f "$samples"
