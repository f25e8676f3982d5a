#!/usr/bin/env bash
# Runs vunzip and Info-ZIP's unzip/zipinfo side by side over a folder of
# archives made by other tools, with the listing and test options people
# and scripts use, and counts the runs whose standard output or exit code
# differ. Run by hand; it takes a minute or two.
#
#   scripts/compare_with_unzip.sh [VUNZIP] [ARCHIVES.tsv] [OUT-FOLDER]
#
# VUNZIP defaults to build/bin/vunzip, the list to ../shared/fixtures'
# ARCHIVES.tsv (its first column names each archive, relative to the list's
# folder). OUT-FOLDER (default /tmp/vunzip-compare) receives one .diff per
# differing run, named ARCHIVE--OPTION.diff, holding both exit codes and a
# unified diff of the two outputs; the last line printed is the summary:
#   RESULT runs=N differ=M exit_code_differs=E output_differs=O
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
vunzip=$(realpath "${1:-$here/build/bin/vunzip}")
list=$(realpath "${2:-$here/../shared/fixtures/ARCHIVES.tsv}")
out=${3:-/tmp/vunzip-compare}
options=(-l -v -Z -Zl -Z1 -Zv -t)

command -v unzip >/dev/null || { echo "unzip is not installed" >&2; exit 2; }
[ -x "$vunzip" ] || { echo "no vunzip at $vunzip (build it first)" >&2; exit 2; }
[ -f "$list" ] || { echo "no archive list at $list" >&2; exit 2; }
rm -rf "$out" && mkdir -p "$out"

# Both run from the list's folder with the same relative name, the same
# time zone and no default options, so "Archive:" lines and times compare.
cd "$(dirname "$list")"
unset UNZIP UNZIPOPT ZIPINFO ZIPINFOOPT
export TZ=${TZ:-UTC} LC_ALL=C.UTF-8
runs=0 differ=0 exit_differs=0 output_differs=0
theirs=$(mktemp) ours=$(mktemp)
trap 'rm -f "$theirs" "$ours"' EXIT
while IFS=$'\t' read -r archive _; do
  [ "$archive" = archive ] && continue
  [ -f "$archive" ] || continue
  for option in "${options[@]}"; do
    runs=$((runs + 1))
    # Input from /dev/null: a password question gets no answer from either.
    timeout 60 unzip "$option" "$archive" </dev/null >"$theirs" 2>/dev/null
    their_code=$?
    timeout 60 "$vunzip" "$option" "$archive" </dev/null >"$ours" 2>/dev/null
    our_code=$?
    same_output=1
    cmp -s "$theirs" "$ours" || same_output=0
    [ "$their_code" = "$our_code" ] && [ $same_output = 1 ] && continue
    differ=$((differ + 1))
    [ "$their_code" != "$our_code" ] && exit_differs=$((exit_differs + 1))
    [ $same_output = 0 ] && output_differs=$((output_differs + 1))
    report="$out/$(echo "$archive" | tr '/' '_')--${option#-}.diff"
    {
      echo "unzip $option $archive: exit $their_code; vunzip: exit $our_code"
      diff -u --label unzip --label vunzip "$theirs" "$ours"
    } >"$report"
  done
done <"$list"
echo "RESULT runs=$runs differ=$differ exit_code_differs=$exit_differs output_differs=$output_differs"
