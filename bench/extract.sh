#!/usr/bin/env bash
# Whole-archive extraction and test speed of vunzip against unzip, 7-Zip and
# bsdtar, on the bench corpora packed as ZIP (Deflate from zip -6, Deflate64
# from 7-Zip, stored from zip -0).
#
# The machine is shared and noisy, so the tools run interleaved, round by
# round, and we report medians (the minimum beside them) and ratios of
# medians.
#
# Where the files land matters more than anything the tools do, so every
# timed extraction gets a file system of its own: a fresh ext4 (default
# features) in a sparse file on /dev/shm (else under BENCH_DIR), made before
# the run and dropped after it, untimed. On a file system that has seen
# earlier runs, what a new file costs depends on the block group its folder
# lands in: on an ext4 without a journal (this machine's disk) a new inode
# skips every inode of its group freed within the last minute (six while
# the group's inode table is not yet written back), which made the same
# 4,000 files take 0.3 s or 3 s; and on one ext4 shared by a whole run, whose
# top-level folders ext4 places by a hash of their names, one tool's folders
# landed well round after round (316 ms against 580 ms for another tool,
# which took 240 ms on a fresh file system).
# Where we cannot mount (not root, no mkfs.ext4, OUT_FS=disk) each run goes
# into a fresh folder under BENCH_DIR, the many-file ones kept until the end.
#
# Usage: bench/extract.sh [ROUNDS]   (env: BUILD_DIR, VUNZIP, BENCH_DIR, OUT_FS,
#   ONLY=regex of the archives to time, e.g. ONLY=small- for the many-files ones)
# Last line: RESULT extract min_vs_best_peer=... test_min_vs_best_peer=...
#   syscalls_per_file=... (vunzip on the many-files archives, the most of them)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
rounds=${1:-5}
build=${BUILD_DIR:-$root/build-unzip}
vunzip=${VUNZIP:-$build/bin/vunzip}
work=${BENCH_DIR:-$build/bench-extract}
sevenzip=$(command -v 7zz || command -v 7z || true)

[ -x "$vunzip" ] || { echo "vunzip not built: $vunzip" >&2; exit 1; }
for tool in zip unzip bsdtar python3; do
  command -v $tool >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
[ -n "$sevenzip" ] || { echo "missing 7z/7zz" >&2; exit 1; }

mkdir -p "$work/corpora" "$work/zips"
corpora="$work/corpora"

# --- the outputs' file systems (see the top of this file) -------------------
outputs="$work/out"
mount_point="$work/out-fs"
image_dir=/dev/shm
[ -d "$image_dir" ] && [ -w "$image_dir" ] || image_dir="$work"
image="$image_dir/velmora-bench-$$.ext4"
fresh_fs=""
if [ "${OUT_FS:-fresh}" != disk ] && [ "$(id -u)" = 0 ] && command -v mkfs.ext4 >/dev/null; then
  fresh_fs=yes
fi
drop_fs() {
  if mountpoint -q "$mount_point"; then umount "$mount_point"; fi
  rm -f "$image"
}
cleanup() {
  [ -z "$fresh_fs" ] || drop_fs
  rm -rf "$outputs"
}
trap cleanup EXIT
rm -rf "$outputs"
mkdir -p "$outputs" "$mount_point"
# A folder for one run's output: on a new file system when we can.
fresh_output() {
  if [ -n "$fresh_fs" ]; then
    drop_fs
    truncate -s 4G "$image"
    if mkfs.ext4 -q -F -E nodiscard "$image" && mount -o loop "$image" "$mount_point"; then
      mkdir "$mount_point/out"
      echo "$mount_point/out"
      return
    fi
    echo "cannot make a file system for the outputs; timing on BENCH_DIR's own" >&2
    fresh_fs=""
  fi
  mkdir -p "$outputs/$1"
  echo "$outputs/$1"
}
if [ -n "$fresh_fs" ]; then
  out_fs="a fresh ext4 per run (loop file in $image_dir)"
else
  out_fs="BENCH_DIR's own file system"
fi
echo "outputs on $out_fs" >&2

# --- corpora ---------------------------------------------------------------
# The Inflate benchmarks' corpora (bench/make_corpora.sh: text.bin,
# binary.bin, mixed.tar) when that script is there, each made a folder; else
# a text and a binary file of our own. Always a many-small-files corpus from
# /usr/include as well. Every corpus is a folder, zipped whole.
own_text() {
  find /usr/share/doc -type f \( -name '*.txt' -o -name 'copyright' -o -name 'README*' \
      -o -name 'changelog' -o -name 'NEWS' \) -size -2M -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c 24000000 > "$1" || true
}
own_binary() {
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -size +200k -print0 |
    sort -z | xargs -0 cat 2>/dev/null | head -c 24000000 > "$1" || true
}
make_corpora() {
  local shared="$corpora/shared" d="$corpora/dirs"
  [ -d "$d" ] && return
  rm -rf "$d.tmp"
  mkdir -p "$d.tmp/text" "$d.tmp/binary" "$d.tmp/small"
  if [ -x "$here/make_corpora.sh" ] && "$here/make_corpora.sh" "$shared" >/dev/null 2>&1 &&
     [ -s "$shared/text.bin" ]; then
    ln "$shared/text.bin" "$d.tmp/text/text.bin"
    ln "$shared/binary.bin" "$d.tmp/binary/binary.bin"
    mkdir -p "$d.tmp/mixed"
    tar -xf "$shared/mixed.tar" -C "$d.tmp/mixed" 2>/dev/null || true
  else
    own_text "$d.tmp/text/docs.txt"
    own_binary "$d.tmp/binary/libs.bin"
  fi
  # The first 4,000 headers; the list is cut in a file, so no pipe breaks.
  (cd /usr/include && find . -type f -size -64k | LC_ALL=C sort > "$d.tmp/small.list")
  sed -n '1,4000p' "$d.tmp/small.list" > "$d.tmp/small.first"
  (cd /usr/include && tar -cf - -T "$d.tmp/small.first") | tar -xf - -C "$d.tmp/small"
  rm -f "$d.tmp/small.list" "$d.tmp/small.first"
  mv "$d.tmp" "$d"
}
make_corpora
corpus_dirs=()
for d in "$corpora/dirs"/*; do [ -d "$d" ] && corpus_dirs+=("$d"); done

# --- archives --------------------------------------------------------------
archives=()
for dir in "${corpus_dirs[@]}"; do
  name=$(basename "$dir")
  for method in deflate deflate64 stored; do
    zip_file="$work/zips/$name-$method.zip"
    if [ ! -s "$zip_file" ]; then
      rm -f "$zip_file"
      case $method in
        deflate)   (cd "$dir" && zip -q -r -6 "$zip_file" .) ;;
        deflate64) (cd "$dir" && "$sevenzip" a -tzip -mm=Deflate64 "$zip_file" . >/dev/null) ;;
        stored)    (cd "$dir" && zip -q -r -0 "$zip_file" .) ;;
      esac
    fi
    [[ "$name-$method" =~ ${ONLY:-.} ]] && archives+=("$zip_file")
  done
done

# --- timing ----------------------------------------------------------------
# Every run starts with nothing left to write back: the previous tool's
# thousands of dirty files would otherwise be flushed on the next tool's
# time, and with the tools rotating through the rounds whichever runs after
# a many-files extraction pays 3-5x for it.
settle() { sync; }

# One command into a fresh folder; prints the wall time in milliseconds.
# A tool that fails on an archive (bsdtar has no Deflate64) gets "fail".
run_no=0
time_extract() {
  local tool=$1 zip_file=$2 out
  run_no=$((run_no + 1))
  out=$(fresh_output "$$-$run_no-$tool")
  local start end rc=0
  settle
  start=$(date +%s%N)
  case $tool in
    vunzip) "$vunzip" -qq -o -d "$out" "$zip_file" >/dev/null 2>&1 || rc=$? ;;
    unzip)  unzip -qq -o "$zip_file" -d "$out" >/dev/null 2>&1 || rc=$? ;;
    7z)     "$sevenzip" x -y -bd -o"$out" "$zip_file" >/dev/null 2>&1 || rc=$? ;;
    bsdtar) bsdtar -xf "$zip_file" -C "$out" >/dev/null 2>&1 || rc=$? ;;
  esac
  end=$(date +%s%N)
  # On the disk, many-file outputs stay until the end (see the top).
  if [ -z "$fresh_fs" ] && [ "$(find "$out" -type f -printf . | wc -c)" -le 2 ]; then
    rm -rf "$out"
  fi
  if [ $rc -ne 0 ]; then echo fail; else echo $(((end - start) / 1000)); fi
}

time_test() {
  local tool=$1 zip_file=$2 start end rc=0
  settle
  start=$(date +%s%N)
  case $tool in
    vunzip) "$vunzip" -t -qq "$zip_file" >/dev/null 2>&1 || rc=$? ;;
    unzip)  unzip -tq "$zip_file" >/dev/null 2>&1 || rc=$? ;;
    7z)     "$sevenzip" t -bd "$zip_file" >/dev/null 2>&1 || rc=$? ;;
  esac
  end=$(date +%s%N)
  if [ $rc -ne 0 ]; then echo fail; else echo $(((end - start) / 1000)); fi
}

samples="$work/samples.$$"
: > "$samples"
extract_tools=(vunzip unzip 7z bsdtar)
test_tools=(vunzip unzip 7z)
for ((round = 1; round <= rounds; round++)); do
  for zip_file in "${archives[@]}"; do
    label=$(basename "$zip_file" .zip)
    # Rotate the starting tool each round so no tool always runs first.
    for ((k = 0; k < ${#extract_tools[@]}; k++)); do
      tool=${extract_tools[$(((k + round) % ${#extract_tools[@]}))]}
      echo "extract $label $tool $(time_extract "$tool" "$zip_file")" >> "$samples"
    done
    for ((k = 0; k < ${#test_tools[@]}; k++)); do
      tool=${test_tools[$(((k + round) % ${#test_tools[@]}))]}
      echo "test $label $tool $(time_test "$tool" "$zip_file")" >> "$samples"
    done
  done
  echo "round $round of $rounds done" >&2
done

# --- system calls per file --------------------------------------------------
# strace -c -f over one extraction of each many-files archive, vunzip and
# bsdtar alike, each into a fresh folder; the count is divided by the files.
syscalls="$work/syscalls.$$"
: > "$syscalls"
if command -v strace >/dev/null; then
  for zip_file in "${archives[@]}"; do
    label=$(basename "$zip_file" .zip)
    case $label in small-*) ;; *) continue ;; esac
    files=$(unzip -Z1 "$zip_file" | grep -vc '/$' || true)
    for tool in vunzip bsdtar; do
      run_no=$((run_no + 1))
      out=$(fresh_output "$$-calls-$run_no-$tool")
      trace="$work/strace.$$"
      mkdir -p "$out"
      rc=0
      case $tool in
        vunzip) strace -c -f -o "$trace" "$vunzip" -qq -o -d "$out" "$zip_file" >/dev/null 2>&1 || rc=$? ;;
        bsdtar) strace -c -f -o "$trace" bsdtar -xf "$zip_file" -C "$out" >/dev/null 2>&1 || rc=$? ;;
      esac
      calls=$(awk '$NF == "total" { print $4 }' "$trace")
      [ $rc -eq 0 ] || calls=fail
      echo "$label $tool ${calls:-fail} $files" >> "$syscalls"
      rm -f "$trace"
    done
  done
fi

# --- one crowded folder -------------------------------------------------------
# 65,535 empty items in one folder: the cost per item must not grow with the
# folder (a listing read per item made this quadratic). Once per tool, each
# into a fresh folder, interleaved; printed, not part of the RESULT ratios.
crowded="$work/zips/crowded-65535.zip"
if [ ! -s "$crowded" ]; then
  python3 - "$crowded" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for i in range(65535):
        z.writestr("d/f%05d" % i, b"")
PY
fi
crowded_line="65,535 empty items in one folder (s):"
crowded_tools=(vunzip unzip bsdtar)
[[ crowded =~ ${ONLY:-.} ]] || crowded_tools=()
for tool in "${crowded_tools[@]}"; do
  ms=$(time_extract "$tool" "$crowded")
  [ "$ms" = fail ] || ms=$(awk -v us="$ms" 'BEGIN { printf "%.1f", us / 1000000 }')
  crowded_line="$crowded_line $tool $ms"
done

python3 - "$samples" "$syscalls" "$crowded_line" <<'PY'
import collections, statistics, sys
times = collections.defaultdict(list)
failed = set()
for line in open(sys.argv[1]):
    kind, label, tool, value = line.split()
    if value == "fail":
        failed.add((kind, label, tool))
    else:
        times[(kind, label, tool)].append(int(value) / 1000.0)
result = {}
for kind, tools in (("extract", ["vunzip", "unzip", "7z", "bsdtar"]),
                    ("test", ["vunzip", "unzip", "7z"])):
    labels = sorted({k[1] for k in times if k[0] == kind} | {k[1] for k in failed if k[0] == kind})
    print(f"\n{kind}: median/minimum ms over rounds (ratio of medians = best peer / vunzip;"
          " > 1 means vunzip is faster)")
    print(f"{'archive':22}" + "".join(f"{t:>14}" for t in tools) + f"{'ratio':>7}")
    worst = None
    for label in labels:
        row, med = f"{label:22}", {}
        for t in tools:
            if (kind, label, t) in failed and not times.get((kind, label, t)):
                row += f"{'fail':>14}"
            elif times.get((kind, label, t)):
                med[t] = statistics.median(times[(kind, label, t)])
                cell = f"{med[t]:.1f}/{min(times[(kind, label, t)]):.1f}"
                row += f"{cell:>14}"
            else:
                row += f"{'-':>14}"
        peers = [med[t] for t in tools[1:] if t in med]
        if "vunzip" in med and peers:
            ratio = min(peers) / med["vunzip"]
            worst = ratio if worst is None else min(worst, ratio)
            row += f"{ratio:7.2f}"
        print(row)
    result[kind] = worst if worst is not None else 0.0
print("\nsystem calls per extracted file (strace -c -f)")
per_file = None
for line in open(sys.argv[2]):
    label, tool, calls, files = line.split()
    if calls == "fail" or int(files) == 0:
        print(f"{label:28}{tool:>10}{'fail':>10}")
        continue
    value = int(calls) / int(files)
    print(f"{label:28}{tool:>10}{value:10.1f}")
    if tool == "vunzip":
        per_file = value if per_file is None else max(per_file, value)
print("\n" + sys.argv[3])
calls_text = f" syscalls_per_file={per_file:.1f}" if per_file is not None else ""
print(f"RESULT extract min_vs_best_peer={result['extract']:.2f} "
      f"test_min_vs_best_peer={result['test']:.2f}{calls_text}")
PY
[ -z "${KEEP_SAMPLES:-}" ] || cp "$samples" "$KEEP_SAMPLES"
rm -f "$samples" "$syscalls"
