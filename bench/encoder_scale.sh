#!/usr/bin/env bash
# The encoder at scale: builds an input of about 300 MB from the benchmark sets, compresses
# it with BUILD_DIR/bin/jcpack at every level under /usr/bin/time -v, checks each block by
# decompressing it, and prints one line per level: speed (of the wall clock, and of the CPU
# time the process got, which a busy machine does not lower), ratio, peak memory and the
# limit of 2.5 times the input plus 256 MiB. Exits 1 when a level goes over the limit or fails.
#
#   bench/encoder_scale.sh BUILD_DIR [LEVEL...]
#
# The input is the Canterbury corpus, the Windows executables of the benchmark and, when
# BUILD_DIR/bin/payload_gen exists, the program's payload files, copied again and again,
# each copy with its 4 KiB pieces in a shuffled order and about one byte in 200 replaced,
# so it does not compress by long repeats of earlier copies alone. SCALE_MB sets the size
# (default 300); the input is kept in BUILD_DIR/scale/ and made again only when missing.
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 BUILD_DIR [LEVEL...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift
levels=("$@")
[[ ${#levels[@]} -gt 0 ]] || levels=(1 2 3 4 5 6 7 8 9)
here=$(cd "$(dirname "$0")/.." && pwd)
jcpack=$build/bin/jcpack
scale_mb=${SCALE_MB:-300}
work=$build/scale
corpus=$here/../shared/corpus/cantrbry.tar.gz
pe_dir=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
pe_files=(notepad.exe regedit.exe cmd.exe wordpad.exe advapi32.dll gdi32.dll msvcrt.dll
  ntdll.dll shlwapi.dll)

[[ -x $jcpack ]] || { echo "$0: $jcpack is missing; build the jcpack target" >&2; exit 1; }
mkdir -p "$work/sets"
input=$work/input-${scale_mb}mb.bin

make_sets() {
  gunzip -c "$corpus" >"$work/sets/canterbury.tar"
  for f in "${pe_files[@]}"; do
    x86_64-w64-mingw32-strip --strip-debug -o "$work/sets/pe-$f" "$pe_dir/$f"
  done
  if [[ -x $build/bin/payload_gen ]]; then
    mkdir -p "$work/sets/payload"
    "$build/bin/payload_gen" "$work/sets/payload" >/dev/null
  fi
}

make_input() {
  python3 - "$work/sets" "$input" "$scale_mb" <<'EOF'
import os, random, sys
sets, out_name, mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
base = bytearray()
for root, _, files in sorted(os.walk(sets)):
    for f in sorted(files):
        with open(os.path.join(root, f), 'rb') as fh:
            base += fh.read()
piece = 4096
pieces = [bytes(base[i:i + piece]) for i in range(0, len(base), piece)]
target = mb * 1000 * 1000
rng = random.Random(2026)
with open(out_name + '.part', 'wb') as out:
    written = 0
    copy = 0
    while written < target:
        order = list(range(len(pieces)))
        if copy > 0:
            rng.shuffle(order)
        data = bytearray(b''.join(pieces[k] for k in order))
        if copy > 0:
            at = 0
            while True:
                at += rng.randrange(1, 400)
                if at >= len(data):
                    break
                data[at] = rng.randrange(256)
        data = data[:target - written]
        out.write(data)
        written += len(data)
        copy += 1
os.replace(out_name + '.part', out_name)
EOF
}

if [[ ! -f $input ]]; then
  echo "making $input" >&2
  make_sets
  make_input
fi
size=$(stat -c %s "$input")
limit_kib=$(( (size * 5 / 2 + 256 * 1024 * 1024) / 1024 ))
printf '%s\n' "input: $input ($size bytes)"
printf '| level | MB/s | CPU MB/s | ratio | peak RSS MiB | limit MiB | memory |\n'
printf '|---:|---:|---:|---:|---:|---:|---|\n'
status=0
for level in "${levels[@]}"; do
  out=$work/level-$level.jc
  log=$work/level-$level.time
  if ! /usr/bin/time -v -o "$log" "$jcpack" compress -l "$level" "$input" "$out" </dev/null; then
    echo "level $level: compress failed" >&2
    status=1
    continue
  fi
  if ! "$jcpack" decompress "$out" - | cmp -s - "$input"; then
    echo "level $level: the block does not decompress to the input" >&2
    status=1
  fi
  seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {
    n = split($2, t, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + t[i]; print s }' "$log")
  cpu=$(awk -F': ' '/(User|System) time/ {s += $2} END {print s}' "$log")
  peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  compressed=$(stat -c %s "$out")
  verdict=ok
  if (( peak_kib > limit_kib )); then
    verdict=over
    status=1
  fi
  awk -v l="$level" -v s="$seconds" -v u="$cpu" -v n="$size" -v c="$compressed" -v p="$peak_kib" \
    -v m="$limit_kib" -v v="$verdict" 'BEGIN {
      printf "| %d | %.2f | %.2f | %.4f | %d | %d | %s |\n", l, n / 1e6 / s, n / 1e6 / u, c / n,
        p / 1024, m / 1024, v }'
  rm -f "$out"
done
exit $status
