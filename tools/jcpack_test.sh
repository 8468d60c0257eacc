#!/usr/bin/env bash
# Runs the built jcpack: usage errors, bad input without partial output, and the
# compress/decompress and pack/list/unpack round trips.
#   jcpack_test.sh PATH-TO-JCPACK
set -uo pipefail
JCPACK=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
passed=0
failed=0

check() {  # check NAME EXPECTED-STATUS COMMAND...; stderr kept in err.txt
  local name=$1 want=$2
  shift 2
  "$@" >out.txt 2>err.txt
  local got=$?
  if [ "$got" -eq "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name: exit $got, expected $want"
    cat err.txt
  fi
}

expect() {  # expect NAME CONDITION...
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $name"; fi
}

flip_byte() {  # flip_byte FILE OFFSET: inverts one byte in place
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((255 - byte)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

seq 1 40000 >text.txt
head -c 70000 /dev/urandom >noise.bin
: >empty.bin

# Usage errors.
check "no command" 2 "$JCPACK"
expect "usage printed" grep -q "usage:" err.txt
check "unknown command" 2 "$JCPACK" frobnicate a b
check "level 0" 2 "$JCPACK" compress -l 0 text.txt x.jc
check "level word" 2 "$JCPACK" compress -l fast text.txt x.jc
check "missing operand" 2 "$JCPACK" compress text.txt
check "option on list" 2 "$JCPACK" list -l 3 x.pac
check "store on compress" 2 "$JCPACK" compress --store text.txt x.jc
check "name with a slash" 2 "$JCPACK" unpack x.pac dir ../evil
check "help" 0 "$JCPACK" --help

# compress / decompress.
for level in 1 5 9; do
  check "compress -l $level" 0 "$JCPACK" compress -l "$level" text.txt "text$level.jc"
  check "decompress $level" 0 "$JCPACK" decompress "text$level.jc" "text$level.out"
  expect "round trip $level" cmp -s text.txt "text$level.out"
done
expect "level 9 smaller than the text" test "$(stat -c %s text9.jc)" -lt "$(stat -c %s text.txt)"
check "compress noise" 0 "$JCPACK" compress noise.bin noise.jc
check "decompress noise" 0 "$JCPACK" decompress noise.jc noise.out
expect "noise round trip" cmp -s noise.bin noise.out
check "compress empty" 1 "$JCPACK" compress empty.bin empty.jc
expect "no output for empty" test ! -e empty.jc
check "missing input" 1 "$JCPACK" compress nothing-here.txt x.jc
expect "one-line reason" test "$(wc -l <err.txt)" -eq 1

# Bad blocks: a one-line reason and no output file.
cp text9.jc badmagic.jc && flip_byte badmagic.jc 0
check "bad magic" 1 "$JCPACK" decompress badmagic.jc bad.out
expect "bad magic reason" grep -q "bad magic" err.txt
cp text9.jc badsum.jc && flip_byte badsum.jc 7
check "checksum mismatch" 1 "$JCPACK" decompress badsum.jc bad.out
expect "checksum reason" grep -q "checksum mismatch" err.txt
head -c 100 text9.jc >cut.jc
check "cut block" 1 "$JCPACK" decompress cut.jc bad.out
expect "cut reason" grep -q "corrupt stream" err.txt
expect "no partial output" test ! -e bad.out
expect "no temporary left" test -z "$(ls | grep jcpack-part)"

# pack / list / unpack.
check "pack" 0 "$JCPACK" pack -l 7 all.pac text.txt noise.bin empty.bin
check "list" 0 "$JCPACK" list all.pac
expect "three entries" test "$(wc -l <out.txt)" -eq 3
expect "text compressed" grep -q "^1 0 [0-9]* [0-9]* jc ok$" out.txt
expect "noise stored" grep -q "^2 [0-9]* 70000 70000 stored ok$" out.txt
expect "empty stored" grep -q "^3 [0-9]* 0 0 stored ok$" out.txt
check "unpack named" 0 "$JCPACK" unpack all.pac outdir a.txt b.bin
expect "named text" cmp -s text.txt outdir/a.txt
expect "named noise" cmp -s noise.bin outdir/b.bin
expect "default name" cmp -s empty.bin outdir/entry-3
check "too many names" 1 "$JCPACK" unpack all.pac outdir2 a b c d
expect "nothing written for too many names" test ! -e outdir2/a
check "pack --store" 0 "$JCPACK" pack --store stored.pac text.txt
check "list stored" 0 "$JCPACK" list stored.pac
expect "stored kind" grep -q "^1 0 [0-9]* [0-9]* stored ok$" out.txt

# Damaged archives.
head -c $(($(stat -c %s all.pac) - 3)) all.pac >cut.pac
check "list cut archive" 1 "$JCPACK" list cut.pac
expect "cut reported" grep -q "cut short in entry 3" err.txt
printf 'JCx' >short.pac
check "list cut header" 1 "$JCPACK" list short.pac
cp all.pac bad.pac && flip_byte bad.pac 400
check "list damaged entry" 1 "$JCPACK" list bad.pac
expect "damage shown" grep -q "^1 0 .* jc \(corrupt stream\|checksum mismatch\|size mismatch\)$" out.txt
check "unpack damaged entry" 1 "$JCPACK" unpack bad.pac baddir
expect "damaged entry not written" test ! -e baddir/entry-1
expect "good entries written" cmp -s noise.bin baddir/entry-2

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
