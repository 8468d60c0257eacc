#!/usr/bin/env bash
# Builds the benchmark's data sets that are taken from this machine's own files:
#
#   bench/make_sets.sh DIR
#
# DIR/python.tar    every .py file under /usr/lib/python3*, in name order
# DIR/usr-bin.tar   ELF executables from /usr/bin in name order (symbolic links and files
#                   over MAX_FILE left out) until the next one would pass MAX_TOTAL bytes
#
# Both tars are made the same way every time (sorted names, no owners, a fixed time), so
# the same machine gives the same bytes. A set that exists already is kept.
set -euo pipefail

dir=${1:?usage: make_sets.sh DIR}
readonly MAX_TOTAL=$((64 * 1024 * 1024))
readonly MAX_FILE=$((8 * 1024 * 1024))
mkdir -p "$dir"

make_tar() {  # OUT; the absolute file names come on standard input, one a line
  local out=$1
  sed 's|^/||' | tar_names "$out"
}

tar_names() {  # OUT; the names, relative to /, on standard input
  local out=$1
  tar --create --file="$out.tmp" --directory=/ --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime=@0 --no-recursion --verbatim-files-from --files-from=-
  mv "$out.tmp" "$out"
}

if [ ! -s "$dir/python.tar" ]; then
  find /usr/lib/python3* -type f -name '*.py' | LC_ALL=C sort | make_tar "$dir/python.tar"
fi

if [ ! -s "$dir/usr-bin.tar" ]; then
  total=0
  while IFS= read -r f; do
    [ -f "$f" ] && [ ! -L "$f" ] || continue
    [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || continue
    size=$(stat -c %s "$f")
    [ "$size" -le "$MAX_FILE" ] || continue
    [ $((total + size)) -le "$MAX_TOTAL" ] || break
    total=$((total + size))
    echo "$f"
  done < <(find /usr/bin -maxdepth 1 -type f | LC_ALL=C sort) | make_tar "$dir/usr-bin.tar"
fi
ls -l "$dir/python.tar" "$dir/usr-bin.tar"
