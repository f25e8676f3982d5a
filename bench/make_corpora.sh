#!/usr/bin/env bash
# Builds the three inflate benchmark corpora from files on this machine, and
# a Deflate64 ZIP of the text corpus made by 7-Zip:
#   text.bin    source and documentation (/usr/include, /usr/share/doc)
#   binary.bin  shared libraries (/usr/lib)
#   mixed.tar   a tar of half of each
# The choice of files is deterministic (sorted paths, the first files up to
# the size), so two runs on one machine measure the same bytes. Usage:
#   bench/make_corpora.sh [OUTPUT_DIR]   (default build-inflate/corpora)
# The corpora are never committed.
set -eu

out=${1:-"$(dirname "$0")/../build-inflate/corpora"}
size=$((24 * 1024 * 1024))
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Prints regular files (sorted paths) until their sizes add up to LIMIT.
# Already-compressed documentation is left out: it would measure nothing.
pick() {
  local limit=$1 total=0 file bytes; shift
  find "$@" -type f -size +0 ! -name '*.gz' ! -name '*.xz' ! -name '*.bz2' \
       ! -name '*.zst' 2>/dev/null | LC_ALL=C sort > "$out/candidates"
  while IFS= read -r file; do
    [ "$total" -ge "$limit" ] && break
    [ -r "$file" ] || continue
    bytes=$(stat -L -c %s "$file")
    printf '%s\n' "$file"
    total=$((total + bytes))
  done < "$out/candidates"
  rm -f "$out/candidates"
}

# Concatenates the listed files and cuts the result at LIMIT bytes.
concat() {
  local list=$1 target=$2 limit=$3 file
  : > "$target"
  while IFS= read -r file; do cat "$file" >> "$target"; done < "$list"
  truncate -s "$limit" "$target"
}

pick "$size" /usr/include /usr/share/doc > "$out/text.list"
concat "$out/text.list" "$out/text.bin" "$size"

# Shared libraries, in sorted path order, up to the size.
find /usr/lib -type f -name '*.so*' 2>/dev/null | LC_ALL=C sort > "$out/so.list"
total=0
: > "$out/binary.list"
while IFS= read -r file; do
  [ "$total" -ge "$size" ] && break
  printf '%s\n' "$file" >> "$out/binary.list"
  total=$((total + $(stat -L -c %s "$file")))
done < "$out/so.list"
concat "$out/binary.list" "$out/binary.bin" "$size"

half=$((size / 2))
pick "$half" /usr/include /usr/share/doc > "$out/mixed.list"
total=0
while IFS= read -r file; do
  [ "$total" -ge "$half" ] && break
  printf '%s\n' "$file" >> "$out/mixed.list"
  total=$((total + $(stat -L -c %s "$file")))
done < "$out/so.list"
tar --create --file="$out/mixed.tar" --files-from="$out/mixed.list" --dereference \
    --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner 2>/dev/null

rm -f "$out/text.d64.zip" "$out/so.list"
(cd "$out" && 7zz a -tzip -mm=Deflate64 text.d64.zip text.bin > /dev/null)
ls -l "$out"/*.bin "$out"/*.tar "$out"/*.zip
