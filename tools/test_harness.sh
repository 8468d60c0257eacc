# shellcheck shell=bash
# The shell tests' common part, sourced by jcpack's and the self-extractor's tests with the
# path of jcpack as their first argument: sets JCPACK, runs in a new folder removed at the
# end, and counts what passed and failed.
set -uo pipefail
case $1 in /*) JCPACK=$1 ;; *) JCPACK=$PWD/$1 ;; esac
WORK=$(mktemp -d)
trap 'chmod -R u+rwx "$WORK"; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
passed=0
failed=0

check() {  # check NAME EXPECTED-STATUS COMMAND...; stdout in out.txt, stderr in err.txt
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

one_line() {  # one_line: err.txt holds exactly one line
  test "$(wc -l <err.txt)" -eq 1
}

no_temporaries() {  # no_temporaries [DIR]: no temporary file left in DIR
  test -z "$(ls -A "${1:-.}" | grep jcpack)"
}

empty_dir() {  # empty_dir DIR: DIR is missing or holds nothing
  test -z "$(ls -A "$1" 2>/dev/null)"
}

flip_byte() {  # flip_byte FILE OFFSET: inverts one byte in place
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((255 - byte)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

le() {  # le VALUE BYTES: VALUE as BYTES little-endian bytes
  local i out=""
  for ((i = 0; i < $2; i++)); do out+=$(printf '\\x%02x' $((($1 >> (8 * i)) & 255))); done
  printf "$out"
}

rows() {  # rows: the entry lines of the listing in out.txt, without the padding
  sed -n 's/^ *\([0-9]\)/\1/p' out.txt | tr -s ' '
}

rows_match() {  # rows_match PATTERN: an entry line of the listing in out.txt matches
  rows | grep -q "$1"
}

crc32_le() {  # CRC-32 of standard input as 4 little-endian bytes (from gzip's trailer)
  gzip -c | tail -c 8 | head -c 4
}

craft() {  # craft OUT NAME...: a stub line, then a named archive of "hello" under each NAME
  local out=$1 name
  shift
  : >entries.part
  : >table.part
  for name; do
    { le 5 4; le 5 4; printf hello; } >>entries.part
    { le "$(printf '%s' "$name" | wc -c)" 2; le 0 8; le 0 1; printf '%s' "$name"; } >>table.part
  done
  {
    printf 'EPNAME\r\032'
    le 1 4; le $# 4; le "$(stat -c %s table.part)" 8; le "$(stat -c %s entries.part)" 8
    cat entries.part table.part | crc32_le
  } >trailer.part
  { echo stub; cat entries.part table.part trailer.part; crc32_le <trailer.part; } >"$out"
  rm -f entries.part table.part trailer.part
}

finish() {  # finish WHAT: the counts; the exit status of the test
  echo "$1: $passed passed, $failed failed"
  test "$failed" -eq 0
}
