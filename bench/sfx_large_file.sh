#!/usr/bin/env bash
# A self-extractor of one file larger than 4 GiB, round trip: the file (LARGE_FILE_MIB, default
# 4352 MiB) is mostly zeros with a MiB of random bytes every 64 MiB, so that it is quick
# to make and not trivial to compress; `jcpack sfx` makes the self-extractor on every core,
# the self-extractor extracts it, and the copy is compared with the original. Prints the
# times and the peak memory of both (/usr/bin/time -v); exits 1 when anything fails or the
# copy differs, or when the self-extractor's peak memory exceeds LIMIT_KIB (default 33792,
# 32 MiB and the process itself).
#   bench/sfx_large_file.sh BUILD_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: bench/sfx_large_file.sh BUILD_DIR" >&2; exit 2; }
BUILD=$(cd "$1" && pwd)
SIZE_MIB=${LARGE_FILE_MIB:-4352}
LIMIT_KIB=${LIMIT_KIB:-33792}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
truncate -s "${SIZE_MIB}M" big.bin
for ((mib = 0; mib < SIZE_MIB; mib += 64)); do
  head -c 1048576 /dev/urandom | dd of=big.bin bs=1M seek="$mib" conv=notrunc status=none
done
peak() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
wall() { sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1"; }
/usr/bin/time -v -o make.time "$BUILD/bin/jcpack" sfx -o big.run big.bin
echo "making: $(wall make.time), peak $(peak make.time) KiB, $(stat -c %s big.run) bytes"
/usr/bin/time -v -o run.time ./big.run -y -o out </dev/null >/dev/null
echo "extracting: $(wall run.time), peak $(peak run.time) KiB (limit $LIMIT_KIB)"
cmp big.bin out/big.bin
echo "the copy of $(stat -c %s big.bin) bytes is the same"
[ "$(peak run.time)" -le "$LIMIT_KIB" ] || { echo "FAILED: peak memory above the limit"; exit 1; }
