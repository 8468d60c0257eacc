#!/usr/bin/env bash
# Puts the benchmark's tables into the READMEs:
#
#   bench/update_readmes.sh FULL.md SUMMARY.md
#
# FULL.md (the machine, the full table and the summary, as jc_bench --markdown writes them)
# replaces what lies between the lines <!-- bench:full:begin --> and <!-- bench:full:end -->
# of jc/README.md; SUMMARY.md (jc_bench --summary) what lies between
# <!-- bench:summary:begin --> and <!-- bench:summary:end --> of bench/README.md. The text
# around the markers stays as it is. A README without its two markers is an error.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 FULL.md SUMMARY.md" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)

replace_section() {  # README NAME CONTENT
  local readme=$1 name=$2 content=$3
  local begin="<!-- bench:$name:begin -->" end="<!-- bench:$name:end -->"
  if [ "$(grep -cxF "$begin" "$readme")" != 1 ] || [ "$(grep -cxF "$end" "$readme")" != 1 ]; then
    echo "$0: $readme needs the lines $begin and $end once each" >&2
    exit 1
  fi
  awk -v begin="$begin" -v end="$end" -v content="$content" '
    $0 == begin { print; print ""; while ((getline line < content) > 0) print line; print ""; skip = 1; next }
    $0 == end { skip = 0 }
    !skip { print }
  ' "$readme" >"$readme.tmp"
  mv "$readme.tmp" "$readme"
}

replace_section "$here/jc/README.md" full "$1"
replace_section "$here/bench/README.md" summary "$2"
echo "update_readmes: jc/README.md (Measured) and bench/README.md (Codec) updated"
