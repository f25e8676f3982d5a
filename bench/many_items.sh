#!/usr/bin/env bash
# What each item costs when the items themselves cost nothing: an archive of
# 200,000 Deflate items of 0 to 80 bytes (Python's zipfile, names like
# dir042/file042017.txt), listed (-l) and tested (-tqq) by vunzip and
# unzip 6.0, and tested by 7-Zip, plus, given BASE_VUNZIP, another vunzip
# build (the one before a change). Nothing is written, so the disk plays
# no part: this is the reader's, the item model's and the decoder's fixed
# cost per item.
#
# The machine is shared and noisy: the tools run interleaved, round by
# round, the starting tool rotating, and we report medians of wall and user
# time (the minimum beside them) and the largest resident size.
#
# Usage: bench/many_items.sh [ROUNDS]   (env: BUILD_DIR, VUNZIP, BASE_VUNZIP, BENCH_DIR)
# Last line: RESULT many_items test_vs_unzip=... list_vs_unzip=... rss_mb=...
#   (median wall time of vunzip over unzip's, above 1 is slower; vunzip's
#   largest resident size in MB when testing)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/interleaved.sh
source "$here/interleaved.sh"
root=$(dirname "$here")
rounds=${1:-7}
build=${BUILD_DIR:-$root/build}
vunzip=${VUNZIP:-$build/bin/vunzip}
base=${BASE_VUNZIP:-}
work=${BENCH_DIR:-$build/bench-many-items}
sevenzip=$(command -v 7zz || command -v 7z || true)

[ -x "$vunzip" ] || { echo "vunzip not built: $vunzip" >&2; exit 1; }
[ -n "$sevenzip" ] || { echo "missing 7zz" >&2; exit 1; }
command -v unzip >/dev/null || { echo "missing unzip" >&2; exit 1; }
command -v python3 >/dev/null || { echo "missing python3" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 1; }

mkdir -p "$work"
work=$(cd "$work" && pwd)
zip_file="$work/many.zip"
if [ ! -s "$zip_file" ]; then
  python3 - "$zip_file.tmp" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(200000):
        z.writestr("dir%03d/file%06d.txt" % (i // 1000, i), ("line %d\n" % i) * (i % 7))
PY
  mv "$zip_file.tmp" "$zip_file"
fi

tools=(vunzip unzip 7z)
[ -n "$base" ] && tools+=(base)

# Runs one tool once; prints "wall user max_rss_kb", or nothing where the
# tool has no such mode.
run_one() {
  local tool=$1 mode=$2 times="$work/time.$$"
  local cmd
  case $tool-$mode in
    vunzip-test) cmd=("$vunzip" -tqq "$zip_file") ;;
    base-test) cmd=("$base" -tqq "$zip_file") ;;
    unzip-test) cmd=(unzip -tqq "$zip_file") ;;
    7z-test) cmd=("$sevenzip" t -bd "$zip_file") ;;
    vunzip-list) cmd=("$vunzip" -l "$zip_file") ;;
    base-list) cmd=("$base" -l "$zip_file") ;;
    unzip-list) cmd=(unzip -l "$zip_file") ;;
    *) return 0 ;;
  esac
  /usr/bin/time -f "%e %U %M" -o "$times" "${cmd[@]}" >/dev/null 2>&1 || { echo "$tool $mode failed" >&2; exit 1; }
  cat "$times"
  rm -f "$times"
}

echo "load before: $(uptime)"
samples="$work/samples.$$"
: > "$samples"
run_rounds "$rounds" test list
echo "load after:  $(uptime)"

printf '%-6s %-7s %18s %18s %10s\n' mode tool "wall median (min)" "user median (min)" "max RSS MB"
for mode in test list; do
  for tool in "${tools[@]}"; do
    read -r wall wall_min <<<"$(stat $mode $tool 3)"
    [ "$wall" = - ] && continue
    read -r user user_min <<<"$(stat $mode $tool 4)"
    rss=$(awk -v m=$mode -v t=$tool '$1 == m && $2 == t && $5 > r { r = $5 } END { printf "%.0f", r / 1024 }' "$samples")
    printf '%-6s %-7s %10s (%s) %10s (%s) %10s\n' $mode $tool "$wall" "$wall_min" "$user" "$user_min" "$rss"
  done
done
ratio() {
  awk -v a="$(stat "$1" vunzip 3 | cut -d' ' -f1)" -v b="$(stat "$1" unzip 3 | cut -d' ' -f1)" \
    'BEGIN { printf "%.2f", a / b }'
}
rss=$(awk '$1 == "test" && $2 == "vunzip" && $5 > r { r = $5 } END { printf "%.0f", r / 1024 }' "$samples")
echo "RESULT many_items test_vs_unzip=$(ratio test) list_vs_unzip=$(ratio list) rss_mb=$rss rounds=$rounds"
rm -f "$samples"
