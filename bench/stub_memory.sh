#!/usr/bin/env bash
# The self-extractor stub's peak memory on one large entry. A self-extractor is made with
# `jcpack sfx` of a few small files and one large file (SIZE MiB, default 96: stretches of
# text, zero bytes and random bytes, so that its block is neither tiny nor stored), then
# run as `SFX -y --no-wait -o DIR` under /usr/bin/time -v. The stub decodes one entry at a
# time and holds at most that entry's stored and unpacked bytes, plus what it needs besides
# (buffers, table, console: 1 MiB at most). The figure it is judged by:
#
#   peak RSS - the stub's own RSS  <=  largest unpacked + its stored size + 1 MiB
#
# where "the stub's own RSS" is the peak of the same program run with --version (code,
# libc, stack: what every run pays before it reads an archive). The extracted file is
# compared with the original.
#   bench/stub_memory.sh BUILD_DIR [SIZE_MIB] [LEVEL]
#       (BUILD_DIR holds bin/jcpack and bin/entpacker-stub; LEVEL defaults to 1)
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: bench/stub_memory.sh BUILD_DIR [SIZE_MIB] [LEVEL]" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
SIZE_MIB=${2:-96}
LEVEL=${3:-1}
JCPACK=$BUILD/bin/jcpack
STUB=$BUILD/bin/entpacker-stub
for tool in "$JCPACK" "$STUB"; do
  if [ ! -x "$tool" ]; then
    echo "stub_memory: $tool is missing; build it with cmake --build $1" >&2
    exit 1
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "stub_memory: /usr/bin/time is missing (Debian package time)" >&2
  exit 1
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/set/klein"
KiB=1024
MiB=$((1024 * KiB))

# The large file: one MiB at a time, text, zeros and random bytes in turn.
big=$WORK/set/gross.bin
text=$WORK/text.mib
(yes "eine Zeile der grossen Datei, damit sie sich packen laesst" || true) | head -c $MiB > "$text"
: > "$big"
for ((i = 0; i < SIZE_MIB; i++)); do
  case $((i % 3)) in
    0) cat "$text" ;;
    1) head -c $MiB /dev/zero ;;
    2) head -c $MiB /dev/urandom ;;
  esac >> "$big"
done
for i in 1 2 3; do echo "kleine Datei $i" > "$WORK/set/klein/$i.txt"; done

sfx=$WORK/gross.run
"$JCPACK" sfx -l "$LEVEL" --stub "$STUB" -o "$sfx" "$WORK/set/gross.bin" "$WORK/set/klein" \
  > /dev/null

# The largest entry's sizes, from the stub's own list (columns: unpacked, stored, name).
read -r unpacked stored < <("$sfx" --list | awk '$3 == "gross.bin" { print $1, $2 }')
limit=$((unpacked + stored + MiB))

peak_kib() {  # peak_kib COMMAND...: the command's maximum resident set size in KiB
  /usr/bin/time -v "$@" 2>&1 >/dev/null </dev/null |
    awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}

own=$(peak_kib "$sfx" --version)
peak=$(peak_kib "$sfx" -y --no-wait -o "$WORK/aus")
cmp "$big" "$WORK/aus/gross.bin"

used=$((peak * KiB - own * KiB))
printf 'self-extractor         %12d bytes (%s)\n' "$(stat -c %s "$sfx")" "level $LEVEL"
printf 'largest entry          %12d unpacked, %d stored\n' "$unpacked" "$stored"
printf 'limit                  %12d bytes (unpacked + stored + 1 MiB)\n' "$limit"
printf 'peak RSS, extracting   %12d bytes\n' $((peak * KiB))
printf 'peak RSS, --version    %12d bytes (the program itself)\n' $((own * KiB))
printf 'peak RSS - own         %12d bytes = %.3f of the limit\n' "$used" \
  "$(awk -v u="$used" -v l="$limit" 'BEGIN { print u / l }')"
if [ "$used" -le "$limit" ]; then
  echo "within the limit"
else
  echo "ABOVE the limit" >&2
  exit 1
fi
