#!/usr/bin/env bash
# The self-extractor against tar and gzip: about 100 MB of mixed files (text from
# /usr/share, Python sources, programs from /usr/bin, generated text, random and zero
# bytes) made into a self-extractor with `jcpack sfx` and into a tar file compressed with
# `gzip -9`. One run each of:
#   - making both (seconds) and their sizes;
#   - extracting: `SFX -y -o DIR` against `tar xzf` of the same files, alternating, ROUNDS
#     (default 3) of each, and the ratios of their median wall and CPU times;
#   - the stub's peak memory (/usr/bin/time -v) against what extracting the largest entry
#     needs at most: its unpacked size + its stored size + 1 MiB.
# Extracted trees are compared with the originals.
#   [ROUNDS=N] bench/sfx_bench.sh BUILD_DIR [LEVEL]     (BUILD_DIR holds bin/jcpack, bin/entpacker-stub)
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: bench/sfx_bench.sh BUILD_DIR [LEVEL]" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
LEVEL=${2:-9}
ROUNDS=${ROUNDS:-3}
JCPACK=$BUILD/bin/jcpack
STUB=$BUILD/bin/entpacker-stub
for tool in "$JCPACK" "$STUB"; do
  if [ ! -x "$tool" ]; then
    echo "sfx_bench: $tool is missing; build it with cmake --build $1" >&2
    exit 1
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "sfx_bench: /usr/bin/time is missing (Debian package time)" >&2
  exit 1
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
SET=$WORK/set
mkdir -p "$SET"
MiB=$((1024 * 1024))

take() {  # take DEST MEGABYTES MAX-FILE-BYTES FIND-ARGS...: copies files until the budget
  local dest=$SET/$1 budget=$(($2 * MiB)) max=$3 total=0 line size
  shift 3
  mkdir -p "$dest"
  while IFS= read -r -d '' line; do
    size=${line%%$'\t'*}
    [ "$size" -gt 0 ] && [ "$size" -le "$max" ] && [ $((total + size)) -le "$budget" ] || continue
    printf '%s\0' "${line#*$'\t'}"
    total=$((total + size))
    [ $((budget - total)) -gt $((256 * 1024)) ] || break
  done < <(find "$@" -type f -readable -printf '%s\t%p\0' 2>/dev/null | sort -z -t$'\t' -k2) \
    >"$WORK/list"
  { tar -cf - --null -T "$WORK/list" 2>/dev/null || true; } | tar -xf - -C "$dest"
}

echo "sfx_bench: gathering about 100 MB of files"
take share 25 $((4 * MiB)) /usr/share
take python 25 $((2 * MiB)) /usr/lib/python3* -name '*.py'
take programs 30 $((8 * MiB)) /usr/bin
mkdir -p "$SET/generated"
seq 1 1500000 >"$SET/generated/numbers.txt"
head -c $((5 * MiB)) /dev/urandom >"$SET/generated/random.bin"
head -c $((5 * MiB)) /dev/zero >"$SET/generated/zeros.bin"
: >"$SET/generated/empty.txt"
mkdir -p "$SET/generated/empty-folder"
INPUT=$(du -sb "$SET" | cut -f1)
FILES=$(find "$SET" -type f | wc -l)

seconds() {  # seconds COMMAND...: wall time of one run, in seconds; its output discarded
  local start end
  start=$(date +%s.%N)
  "$@" </dev/null >/dev/null
  end=$(date +%s.%N)
  awk "BEGIN { print $end - $start }"
}

timed() {  # timed COMMAND...: "WALL CPU" of one run in seconds (CPU: user + system, children
  # included, so tar's gzip counts); its output discarded
  /usr/bin/time -f '%e %U %S' -o times.txt "$@" </dev/null >/dev/null
  awk '{ print $1, $2 + $3 }' times.txt
}

ratio() {  # ratio A B: A / B
  awk "BEGIN { print $1 / $2 }"
}

cd "$WORK"
echo "sfx_bench: $FILES files, $INPUT bytes; making both (jcpack sfx -l $LEVEL, tar | gzip -9)"
SFX_MAKE=$(seconds "$JCPACK" sfx -l "$LEVEL" -o set.run set)
TGZ_MAKE=$(seconds sh -c 'tar cf - set | gzip -9 >set.tar.gz')
SFX_SIZE=$(stat -c %s set.run)
TGZ_SIZE=$(stat -c %s set.tar.gz)
STUB_SIZE=$(stat -c %s "$STUB")

# Extractions alternate, ROUNDS of each, each into a folder of its own: nothing is removed
# until the end, since a file system that has just freed thousands of files can spend
# seconds finding room for new ones, which would fall on whichever tool ran next.
SFX_RUNS=()
TGZ_RUNS=()
SFX_CPU=()
TGZ_CPU=()
run_sfx() {
  sync
  read -r wall cpu < <(timed ./set.run -y -o "out-sfx-$1")
  SFX_RUNS+=("$wall")
  SFX_CPU+=("$cpu")
}
run_tar() {
  sync
  mkdir "out-tar-$1"
  read -r wall cpu < <(timed tar xzf set.tar.gz -C "out-tar-$1")
  TGZ_RUNS+=("$wall")
  TGZ_CPU+=("$cpu")
}
# Which tool goes first changes from round to round: the first after a pause can meet a
# slower file system than the second.
for round in $(seq "$ROUNDS"); do
  if [ $((round % 2)) -eq 1 ]; then
    run_sfx "$round"
    run_tar "$round"
  else
    run_tar "$round"
    run_sfx "$round"
  fi
done
# The self-extractor flushes a file to the disk before it replaces one that exists; tar
# leaves everything to the system. A tar run with a sync after it, for comparison.
sync
TGZ_SYNC_RUN=$(seconds sh -c 'mkdir out-tar-sync && tar xzf set.tar.gz -C out-tar-sync && sync')
diff -r set out-sfx-1/set >/dev/null || { echo "sfx_bench: the self-extractor's tree differs" >&2; exit 1; }
diff -r set out-tar-1/set >/dev/null || { echo "sfx_bench: tar's tree differs" >&2; exit 1; }
median() {  # median NUMBER...
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
SFX_RUN=$(median "${SFX_RUNS[@]}")
TGZ_RUN=$(median "${TGZ_RUNS[@]}")
SFX_CPU_MEDIAN=$(median "${SFX_CPU[@]}")
TGZ_CPU_MEDIAN=$(median "${TGZ_CPU[@]}")

peak_kib() {  # peak_kib COMMAND...: the largest resident set of one run, in KiB
  /usr/bin/time -v -o time.txt "$@" </dev/null >/dev/null
  sed -n 's/.*Maximum resident set size (kbytes): //p' time.txt
}
PEAK_KIB=$(peak_kib ./set.run -y -o out-mem)
BASE_KIB=$(peak_kib ./set.run --version)  # the process itself: program and C library pages
# The largest entry by unpacked size, from the entry lines of jcpack's listing: index size
# stored ... name.
read -r LARGEST_UNPACKED LARGEST_STORED LARGEST_NAME < <("$JCPACK" list set.run |
  sed -n 's/^ *\([0-9]\)/\1/p' | tr -s ' ' | sort -k2,2n | tail -1 | cut -d' ' -f2,3,8-)
BOUND=$((LARGEST_UNPACKED + LARGEST_STORED + MiB))

printf '\n%-28s %14s %14s\n' "" "self-extractor" "tar + gzip -9"
printf '%-28s %14d %14d\n' "size (bytes)" "$SFX_SIZE" "$TGZ_SIZE"
printf '%-28s %14.3f %14.3f\n' "size / input" "$(ratio "$SFX_SIZE" "$INPUT")" \
  "$(ratio "$TGZ_SIZE" "$INPUT")"
printf '%-28s %14.2f %14.2f\n' "making (s)" "$SFX_MAKE" "$TGZ_MAKE"
printf '%-28s %14.2f %14.2f\n' "extracting, median (s)" "$SFX_RUN" "$TGZ_RUN"
printf '%-28s %14s %14s\n' "extracting, each round (s)" "${SFX_RUNS[*]}" "${TGZ_RUNS[*]}"
printf '%-28s %14.2f %14.2f\n' "CPU time, median (s)" "$SFX_CPU_MEDIAN" "$TGZ_CPU_MEDIAN"
printf '%-28s %14s %14.2f\n' "extracting, then sync (s)" "" "$TGZ_SYNC_RUN"
printf '\nextracting, self-extractor / tar xzf (medians of %d rounds): %.2f (/ tar xzf and sync: %.2f)\n' "$ROUNDS" \
  "$(ratio "$SFX_RUN" "$TGZ_RUN")" "$(ratio "$SFX_RUN" "$TGZ_SYNC_RUN")"
printf 'CPU time (user + system, tar with its gzip), self-extractor / tar xzf: %.2f\n' \
  "$(ratio "$SFX_CPU_MEDIAN" "$TGZ_CPU_MEDIAN")"
printf 'stub: %d bytes of the self-extractor\n' "$STUB_SIZE"
printf 'largest entry %s: %d unpacked + %d stored + 1 MiB = %d KiB\n' "$LARGEST_NAME" \
  "$LARGEST_UNPACKED" "$LARGEST_STORED" $((BOUND / 1024))
within() {  # within KIB: "within" or "ABOVE" the bound
  if [ "$1" -le $((BOUND / 1024)) ]; then echo within; else echo ABOVE; fi
}
printf 'stub peak memory: %d KiB (%s the bound)\n' "$PEAK_KIB" "$(within "$PEAK_KIB")"
printf 'less the process alone (--version, %d KiB): %d KiB (%s the bound)\n' "$BASE_KIB" \
  $((PEAK_KIB - BASE_KIB)) "$(within $((PEAK_KIB - BASE_KIB)))"
