#!/usr/bin/env bash
# Our self-extractor beside the programs a user would pick instead, on three trees:
#
#   release  a software release of about 100 MB in about 3,000 files: headers, Python
#            sources, documentation, shared libraries and programs of this machine;
#   small    50,000 small text files, about 78 MB in all;
#   large    one file of 1 GiB: the release tree's files again and again, each copy in
#            another order and with one byte in 997 changed.
#
# The makers: `jcpack sfx` (each of LEVELS, with -T NCPU where jcpack takes it); makeself
# with --gzip, --zstd and --xz (at its own default level); 7-Zip's console self-extractor;
# zip -9 with unzipsfx in front; and `tar -I 'zstd -9'`, the reference for extracting. Each
# maker runs once (wall and CPU time, size). Then ROUNDS rounds of extracting, every tool
# once a round into a folder of its own, the first tool of a round changing from round to
# round; the medians of wall time, CPU time (user + system, children included) and peak
# resident set. Each tool's first extraction is compared with the tree (diff -r).
# Ratios: size and making time against makeself --zstd, extracting against
# `tar -I zstd -xf`. A markdown table per tree goes to standard output and to REPORT.
#
#   [TREES="release small large"] [ROUNDS=5] [LEVELS="default 9"] [SKIP="makeself-xz ..."]
#     bench/sfx_peers.sh BUILD_DIR
#
# BUILD_DIR holds bin/jcpack and bin/entpacker-stub. The trees are made once and kept in
# BENCH_DATA (default build-bench/data); their size is set by RELEASE_MB (100),
# RELEASE_FILES (3000), SMALL_FILES (50000), SMALL_MB (78) and SIZE_MIB (1024), so a trial
# can be small: TREES="small large" SMALL_FILES=2000 SMALL_MB=3 SIZE_MIB=64 ROUNDS=1.
# REPORT defaults to build-bench/sfx-peers.md. Exits 1 when a tool fails or extracts a
# tree that differs from the original.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: bench/sfx_peers.sh BUILD_DIR" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")/.." && pwd)
JCPACK=$BUILD/bin/jcpack
STUB=$BUILD/bin/entpacker-stub
read -r -a TREES <<<"${TREES:-release small large}"
read -r -a LEVELS <<<"${LEVELS:-default 9}"
ROUNDS=${ROUNDS:-5}
RELEASE_MB=${RELEASE_MB:-100}
RELEASE_FILES=${RELEASE_FILES:-3000}
SMALL_FILES=${SMALL_FILES:-50000}
SMALL_MB=${SMALL_MB:-78}
SIZE_MIB=${SIZE_MIB:-1024}
MiB=$((1024 * 1024))

say() { echo "sfx_peers: $*" >&2; }
die() {
  say "$@"
  exit 1
}

for n in "$ROUNDS" "$RELEASE_MB" "$RELEASE_FILES" "$SMALL_FILES" "$SMALL_MB" "$SIZE_MIB"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || die "'$n' is not a positive whole number (ROUNDS, RELEASE_MB, ...)"
done
for t in "${TREES[@]}"; do
  case $t in release | small | large) ;; *) die "unknown tree '$t' (release, small, large)" ;; esac
done
for tool in "$JCPACK" "$STUB"; do
  [ -x "$tool" ] || die "$tool is missing; build it with cmake --build $1 --target jcpack entpacker-stub"
done
[ -x /usr/bin/time ] || die "/usr/bin/time is missing (Debian package time)"
command -v python3 >/dev/null || die "python3 is missing; it makes the small and large trees"

mkdir -p "${BENCH_DATA:-$HERE/build-bench/data}"
DATA=$(cd "${BENCH_DATA:-$HERE/build-bench/data}" && pwd)/sfx-peers
REPORT=${REPORT:-$HERE/build-bench/sfx-peers.md}
mkdir -p "$DATA" "$(dirname "$REPORT")"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/sfx-peers.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM

# --- The trees -------------------------------------------------------------------------

# Names that every tool here stores and extracts alike, and that our stub does not refuse
# as unsafe elsewhere: plain characters, no part ending in a dot, no part named as a
# Windows device. What is left out is a handful of files among thousands.
PLAIN_NAME='[A-Za-z0-9._+@,=~/-]+'
plain_names() {  # filters "SIZE<tab>PATH" lines
  awk -F'\t' '{
    if (length($2) > 400) next
    n = split(substr($2, 2), part, "/")
    for (i = 1; i <= n; i++) {
      if (part[i] ~ /\.$/) next
      stem = toupper(part[i])
      sub(/\..*/, "", stem)
      if (stem ~ /^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])$/) next
    }
    print
  }'
}

sized_files() {  # sized_files FIND-ARGS...: "SIZE<tab>PATH" of the plain files found, by name
  find "$@" -type f -readable -regextype posix-extended -regex "$PLAIN_NAME" \
    -printf '%s\t%p\n' 2>/dev/null | plain_names | LC_ALL=C sort -t$'\t' -k2
}

pick() {  # pick COUNT BYTES MAX: from "SIZE<tab>PATH" lines, up to COUNT files, none empty
  # or over MAX bytes, BYTES in all at most, taken in a fixed order that scatters over the
  # whole list (a step of about 0.618 of its length), so every part of it is represented
  awk -F'\t' -v count="$1" -v budget="$2" -v max="$3" '
    function gcd(a, b) { return b ? gcd(b, a % b) : a }
    $1 > 0 && $1 <= max { size[n] = $1; name[n] = $2; n++ }
    END {
      if (n == 0) exit
      step = int(n * 0.618) + 1
      while (gcd(step, n) != 1) step++
      for (k = 0; k < n && taken < count; k++) {
        i = (k * step) % n
        if (total + size[i] > budget) continue
        total += size[i]
        taken++
        print name[i]
      }
    }'
}

tree_stats() {  # tree_stats DIR: "FILES BYTES"
  find "$1" -type f -printf '%s\n' | awk '{ n++; t += $1 } END { print n + 0, t + 0 }'
}

RELEASE_KEY=release-${RELEASE_MB}mb-${RELEASE_FILES}
SMALL_KEY=small-${SMALL_FILES}-${SMALL_MB}mb
LARGE_KEY=large-${SIZE_MIB}mib-of-$RELEASE_KEY

# The release tree: shares of the file count and of the bytes per kind, each kind's files
# taken evenly over its sorted list, copied with their paths under release/.
make_release() {
  local dir=$DATA/$RELEASE_KEY list=$WORK/release.list
  [ -d "$dir" ] && return
  say "making the release tree ($RELEASE_MB MB, $RELEASE_FILES files) in $dir"
  local files=$RELEASE_FILES bytes=$((RELEASE_MB * MiB))
  {
    sized_files /usr/include | pick $((files * 42 / 100)) $((bytes * 20 / 100)) $MiB
    sized_files /usr/lib/python3* -name '*.py' | pick $((files * 27 / 100)) $((bytes * 14 / 100)) $MiB
    sized_files /usr/share/doc | pick $((files * 20 / 100)) $((bytes * 12 / 100)) $MiB
    sized_files /usr/lib/*-linux-gnu -name '*.so*' |
      pick $((files * 6 / 100)) $((bytes * 29 / 100)) $((8 * MiB))
    sized_files /usr/bin | pick $((files * 5 / 100)) $((bytes * 25 / 100)) $((8 * MiB))
  } >"$list"
  rm -rf "$dir.tmp"
  mkdir -p "$dir.tmp/release"
  sed 's|^/||' "$list" | tar -C / -cf - --hard-dereference --no-recursion -T - |
    tar -xf - -C "$dir.tmp/release" --no-same-owner
  chmod -R u+rw,go-w,ug-s "$dir.tmp/release"
  mv "$dir.tmp" "$dir"
}

# The small tree: SMALL_FILES files in folders of 500, file i cut from a text file of the
# machine (or that file repeated) to a length that varies around the mean, starting at an
# offset that changes each time the list of sources comes round again.
make_small() {
  local dir=$DATA/$SMALL_KEY list=$WORK/small.list
  [ -d "$dir" ] && return
  say "making the small tree ($SMALL_FILES files, $SMALL_MB MB) in $dir"
  {
    sized_files /usr/include -name '*.h'
    sized_files /usr/lib/python3* -name '*.py'
    sized_files /usr/share \( -name '*.txt' -o -name '*.html' -o -name '*.xml' -o -name '*.css' \
      -o -name '*.js' -o -name '*.pl' -o -name '*.pm' -o -name '*.sh' -o -name '*.conf' \
      -o -name '*.md' -o -name '*.rst' -o -name '*.json' -o -name copyright \)
  } | awk -F'\t' '$1 > 0 && $1 <= 262144 { print $2 }' | LC_ALL=C sort -u >"$list"
  rm -rf "$dir.tmp"
  python3 - "$list" "$SMALL_FILES" $((SMALL_MB * MiB)) "$dir.tmp/small" <<'EOF'
import os, re, sys
list_file, count, total, dest = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
with open(list_file) as f:
    sources = [line.rstrip("\n") for line in f if line.strip()]
if not sources:
    sys.exit("sfx_peers: no text files found for the small tree")
n = len(sources)
mean = max(1, total // count)
for i in range(count):
    j = (i * n) // count if n >= count else i % n
    with open(sources[j], "rb") as f:
        text = f.read()
    # Lengths from mean/4 to 7*mean/4, in a scattered order.
    size = mean // 4 + (i * 2654435761) % (3 * mean // 2 + 1)
    start = ((i // n) * 4099) % len(text)
    body = (text[start:] + text) * (size // len(text) + 2)
    base = re.sub(r"[^A-Za-z0-9._+-]", "_", os.path.basename(sources[j])).rstrip(".") or "file"
    folder = os.path.join(dest, "d%03d" % (i // 500))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "%06d-%s" % (i, base)), "wb") as f:
        f.write(body[:size])
EOF
  mv "$dir.tmp" "$dir"
}

# The large tree: one file, large/large.bin, of SIZE_MIB MiB.
make_large() {
  local dir=$DATA/$LARGE_KEY
  [ -d "$dir" ] && return
  make_release
  say "making the large tree ($SIZE_MIB MiB) in $dir"
  rm -rf "$dir.tmp"
  mkdir -p "$dir.tmp/large"
  python3 - "$DATA/$RELEASE_KEY/release" $((SIZE_MIB * MiB)) "$dir.tmp/large/large.bin" <<'EOF'
import os, random, sys
root, size, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
names = []
for folder, subfolders, files in os.walk(root):
    subfolders.sort()
    names += [os.path.join(folder, f) for f in sorted(files)]
blobs = []
for name in names:
    with open(name, "rb") as f:
        blobs.append(f.read())
if not any(blobs):
    sys.exit("sfx_peers: the release tree is empty")
STEP = 997  # one byte in STEP is changed, at places and to values that differ per copy
written, copy = 0, 0
with open(out, "wb") as f:
    while written < size:
        order = list(range(len(blobs)))
        random.Random(copy).shuffle(order)
        for k in order:
            piece = bytearray(blobs[k])
            places = range((copy * 131 + k) % STEP, len(piece), STEP)
            piece[places.start::STEP] = bytes((copy * 31 + p) & 0xFF for p in range(len(places)))
            piece = piece[: size - written]
            f.write(piece)
            written += len(piece)
            if written >= size:
                break
        copy += 1
EOF
  mv "$dir.tmp" "$dir"
}

tree_dir() {  # tree_dir TREE: the folder that holds the folder TREE
  case $1 in
    release) echo "$DATA/$RELEASE_KEY" ;;
    small) echo "$DATA/$SMALL_KEY" ;;
    large) echo "$DATA/$LARGE_KEY" ;;
  esac
}

# --- The tools -------------------------------------------------------------------------

NOTES=()   # lines under the machine line: skipped tools, levels
FAILED=0

probe=$WORK/probe
mkdir -p "$probe"
echo probe >"$probe/file.txt"
JC_THREADS=()
if "$JCPACK" sfx -T 1 -o "$probe/probe.run" "$probe/file.txt" >/dev/null 2>&1; then
  JC_THREADS=(-T "$(nproc)")
else
  NOTES+=("jcpack sfx takes no -T here: one thread.")
fi
# The level jcpack sfx uses without -l, from its usage text ("sfx: 6, the default").
JC_DEFAULT=$("$JCPACK" --help 2>/dev/null | sed -n 's/.*sfx: \([1-9]\), the default.*/\1/p' | head -1)

TOOLS=()
for level in "${LEVELS[@]}"; do
  if [ "$level" = default ]; then
    TOOLS+=(jcpack-default)
  elif [[ ! $level =~ ^[1-9]$ ]]; then
    die "LEVELS: '$level' is neither 'default' nor a level from 1 to 9"
  elif [ "$level" = "$JC_DEFAULT" ] && [[ " ${LEVELS[*]} " == *" default "* ]]; then
    NOTES+=("jcpack -l $level is its default level: measured once, as the default.")
  else
    TOOLS+=("jcpack-$level")
  fi
done

MAKESELF_LEVEL=
if command -v makeself >/dev/null; then
  MAKESELF_LEVEL=$(sed -n 's/^COMPRESS_LEVEL=\([0-9]*\).*/\1/p' "$(command -v makeself)" | head -1)
  for c in gzip zstd xz; do
    if command -v "$c" >/dev/null; then
      TOOLS+=("makeself-$c")
    else
      NOTES+=("makeself --$c: skipped, $c is not installed.")
    fi
  done
  NOTES+=("makeself compresses at its default level (--complevel ${MAKESELF_LEVEL:-?}): gzip -${MAKESELF_LEVEL:-?}, zstd -${MAKESELF_LEVEL:-?}, xz -${MAKESELF_LEVEL:-?}; its self-extractors check their MD5 and CRC before extracting, as by default.")
else
  NOTES+=("makeself: skipped, not installed (Debian package makeself).")
fi
SFX_7Z=
if command -v 7z >/dev/null; then
  for f in /usr/lib/p7zip/7zCon.sfx /usr/lib/7zip/7zCon.sfx; do
    [ -f "$f" ] && SFX_7Z=$f && break
  done
  if [ -n "$SFX_7Z" ]; then
    TOOLS+=(7z)
  else
    NOTES+=("7z: skipped, its console self-extractor module 7zCon.sfx is not installed.")
  fi
else
  NOTES+=("7z: skipped, not installed (Debian package p7zip-full).")
fi
UNZIPSFX=$(command -v unzipsfx || true)
if command -v zip >/dev/null && [ -n "$UNZIPSFX" ]; then
  TOOLS+=(zip)
else
  NOTES+=("zip + unzipsfx: skipped, not installed (Debian packages zip and unzip).")
fi
if command -v zstd >/dev/null; then
  TOOLS+=(tar-zstd)
else
  NOTES+=("tar -I zstd: skipped, zstd is not installed; no extraction ratios.")
fi
# SKIP: tools left out by name (jcpack-default, jcpack-N, makeself-gzip, makeself-zstd,
# makeself-xz, 7z, zip; tar-zstd is the reference and always runs), for a run that cannot
# wait for the slowest makers on the large tree.
read -r -a SKIP_TOOLS <<<"${SKIP:-}"
for skip in "${SKIP_TOOLS[@]}"; do
  [ "$skip" != tar-zstd ] || die "SKIP: tar-zstd is the reference and cannot be left out"
  kept=()
  for t in "${TOOLS[@]}"; do [ "$t" = "$skip" ] || kept+=("$t"); done
  [ ${#kept[@]} -lt ${#TOOLS[@]} ] && NOTES+=("$skip: left out (SKIP).")
  TOOLS=("${kept[@]}")
done

label() {  # label TOOL: the tool's name in the tables
  case $1 in
    jcpack-default) echo "jcpack sfx${JC_THREADS[*]:+ ${JC_THREADS[*]}} (level ${JC_DEFAULT:-?}, its default)" ;;
    jcpack-*) echo "jcpack sfx -l ${1#jcpack-}${JC_THREADS[*]:+ ${JC_THREADS[*]}}" ;;
    makeself-*) echo "makeself --${1#makeself-} (${1#makeself-} -${MAKESELF_LEVEL:-?})" ;;
    7z) echo "7z a -sfx7zCon.sfx (its default level)" ;;
    zip) echo "zip -9 + unzipsfx" ;;
    tar-zstd) echo "tar -I 'zstd -9' (reference)" ;;
  esac
}

make_command() {  # make_command TOOL TREE OUT: sets CMD, run in the folder that holds TREE
  local tool=$1 tree=$2 out=$3
  case $tool in
    jcpack-*)
      CMD=("$JCPACK" sfx)
      [ "$tool" = jcpack-default ] || CMD+=(-l "${tool#jcpack-}")
      CMD+=("${JC_THREADS[@]}" -o "$out" "$tree")
      ;;
    makeself-*) CMD=(makeself --nox11 "--${tool#makeself-}" "$tree" "$out" "$tree" true) ;;
    7z)
      # shellcheck disable=SC2016  # sh expands them
      CMD=(sh -c '7z a "-sfx$1" "$2" "$3" && chmod +x "$2"' sh "$SFX_7Z" "$out" "$tree")
      ;;
    zip)
      # shellcheck disable=SC2016
      CMD=(sh -c 'zip -q -r -9 "$1.zip" "$2" && cat "$3" "$1.zip" >"$1" && rm "$1.zip" &&
        zip -q -A "$1" && chmod +x "$1"' sh "$out" "$tree" "$UNZIPSFX")
      ;;
    tar-zstd) CMD=(tar -I 'zstd -9' -cf "$out" "$tree") ;;
  esac
}

extract_command() {  # extract_command TOOL OUT DIR: sets CMD, which extracts OUT into DIR
  local tool=$1 out=$2 dir=$3
  case $tool in
    jcpack-*) CMD=("$out" -y -o "$dir") ;;
    makeself-*) CMD=("$out" --noexec --target "$dir") ;;
    7z) CMD=("$out" "-o$dir" -y) ;;
    zip) CMD=("$out" -d "$dir" -qq) ;;
    tar-zstd) CMD=(tar -I zstd -xf "$out" -C "$dir") ;;
  esac
}

original_of() {  # original_of TOOL PARENT TREE: what the folder a tool extracts into must
  # equal: the tree's folder for makeself, which stores what the folder holds, not the folder;
  # the folder around the tree (which holds only the tree) for the others
  case $1 in
    makeself-*) echo "$2/$3" ;;
    *) echo "$2" ;;
  esac
}

# --- Measuring -------------------------------------------------------------------------

measure() {  # measure DIR COMMAND...: runs COMMAND in DIR with no input, its output
  # discarded; sets WALL, CPU (user + system, children included) and KIB (the largest
  # resident set of one of its processes); returns COMMAND's status
  local dir=$1 status=0
  shift
  (cd "$dir" && exec /usr/bin/time -f '%e %U %S %M' -o "$WORK/time.txt" "$@" </dev/null \
    >/dev/null 2>"$WORK/stderr.txt") || status=$?
  read -r WALL CPU KIB < <(tail -1 "$WORK/time.txt" | awk '{ print $1, $2 + $3, $4 }')
  return "$status"
}

median() {  # median NUMBER...
  printf '%s\n' "$@" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() {  # ratio A B FORMAT: A / B, or – when either is missing
  if [ -n "$1" ] && [ -n "$2" ]; then
    awk -v a="$1" -v b="$2" -v f="$3" 'BEGIN { if (b > 0) printf f, a / b; else printf "–" }'
  else
    printf '–'
  fi
}

fail() {  # fail LINE: a failure line for the tree's table
  FAILED=1
  FAILURES+=("- FAILED: $*")
  say "FAILED: $*"
}

bench_tree() {  # bench_tree TREE: makes with every tool, extracts ROUNDS rounds, prints the table
  local tree=$1 parent tool round i n status
  parent=$(tree_dir "$tree")
  read -r files bytes < <(tree_stats "$parent/$tree")
  say "$tree: $files files, $bytes bytes"
  local -A size make_wall make_cpu walls cpus kibs check
  local ok=()
  FAILURES=()
  rm -rf "$WORK/out"
  mkdir -p "$WORK/out"
  for tool in "${TOOLS[@]}"; do
    say "$tree: making with $(label "$tool")"
    make_command "$tool" "$tree" "$WORK/out/$tool.run"
    sync
    status=0
    measure "$parent" "${CMD[@]}" || status=$?
    if [ "$status" -ne 0 ] || [ ! -s "$WORK/out/$tool.run" ]; then
      fail "$(label "$tool"): making failed (status $status): $(tail -3 "$WORK/stderr.txt" | tr '\n' ' ')"
      continue
    fi
    make_wall[$tool]=$WALL
    make_cpu[$tool]=$CPU
    size[$tool]=$(stat -c %s "$WORK/out/$tool.run")
    ok+=("$tool")
  done

  # Every round, each tool extracts once into a new folder, the first tool changing from
  # round to round; a round's folders are removed before the next round starts, so the
  # freeing of one tool's files does not fall on the run of the tool after it.
  n=${#ok[@]}
  for round in $(seq "$ROUNDS"); do
    say "$tree: extracting, round $round of $ROUNDS"
    local order=()
    for ((i = 0; i < n; i++)); do order+=("${ok[((i + round - 1) % n)]}"); done
    mkdir -p "$WORK/x"
    for tool in "${order[@]}"; do
      [ -z "${check[$tool]+x}" ] || [ "${check[$tool]}" != failed ] || continue
      local dir=$WORK/x/$tool-$round
      extract_command "$tool" "$WORK/out/$tool.run" "$dir"
      sync
      status=0
      if [ "$tool" = tar-zstd ]; then mkdir "$dir"; fi  # tar extracts into a folder that exists
      measure "$WORK" "${CMD[@]}" || status=$?
      if [ "$status" -ne 0 ]; then
        fail "$(label "$tool"): extracting failed (status $status): $(tail -3 "$WORK/stderr.txt" | tr '\n' ' ')"
        check[$tool]=failed
        continue
      fi
      walls[$tool]+=" $WALL"
      cpus[$tool]+=" $CPU"
      kibs[$tool]+=" $KIB"
      if [ -z "${check[$tool]+x}" ]; then
        if diff -r -q "$(original_of "$tool" "$parent" "$tree")" "$dir" >"$WORK/diff.txt" 2>&1; then
          check[$tool]=same
        else
          fail "$(label "$tool"): the extracted tree differs: $(head -3 "$WORK/diff.txt" | tr '\n' ' ')"
          check[$tool]=differs
        fi
      fi
    done
    sync
    rm -rf "$WORK/x"
    sync
  done

  local ref_size=${size[makeself-zstd]:-} ref_make=${make_wall[makeself-zstd]:-}
  local ref_wall='' ref_cpu=''
  if [ -n "${walls[tar-zstd]:-}" ]; then
    # shellcheck disable=SC2086  # the rounds' figures, one word each
    ref_wall=$(median ${walls[tar-zstd]})
    # shellcheck disable=SC2086
    ref_cpu=$(median ${cpus[tar-zstd]})
  fi
  {
    echo
    printf '### %s: %d file%s, %d bytes; extracting: medians of %d round%s\n\n' "$tree" \
      "$files" "$([ "$files" -eq 1 ] || echo s)" "$bytes" "$ROUNDS" "$([ "$ROUNDS" -eq 1 ] || echo s)"
    echo "| tool | size (bytes) | size / makeself --zstd | making, wall (s) | making, CPU (s) | making / makeself --zstd | extracting, wall (s) | extracting, CPU (s) | peak RSS (KiB) | wall / tar -I zstd -xf | CPU / tar -I zstd -xf | tree |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|"
    for tool in "${ok[@]}"; do
      local w='' c='' k=''
      if [ -n "${walls[$tool]:-}" ]; then
        # shellcheck disable=SC2086
        w=$(median ${walls[$tool]})
        # shellcheck disable=SC2086
        c=$(median ${cpus[$tool]})
        # shellcheck disable=SC2086
        k=$(median ${kibs[$tool]})
      fi
      printf '| %s | %d | %s | %.2f | %.2f | %s | %s | %s | %s | %s | %s | %s |\n' \
        "$(label "$tool")" "${size[$tool]}" "$(ratio "${size[$tool]}" "$ref_size" '%.3f')" \
        "${make_wall[$tool]}" "${make_cpu[$tool]}" \
        "$(ratio "${make_wall[$tool]}" "$ref_make" '%.2f')" \
        "$(ratio "$w" 1 '%.2f')" "$(ratio "$c" 1 '%.2f')" "$(ratio "$k" 1 '%.0f')" \
        "$(ratio "$w" "$ref_wall" '%.2f')" "$(ratio "$c" "$ref_cpu" '%.2f')" \
        "${check[$tool]:-–}"
    done
    if [ ${#FAILURES[@]} -gt 0 ]; then
      echo
      printf '%s\n' "${FAILURES[@]}"
    fi
  } | tee -a "$REPORT"
}

# --- The run ---------------------------------------------------------------------------

version() {  # version COMMAND SED-SCRIPT: the first line of COMMAND's output that SED-SCRIPT prints
  { "${@:1:$#-1}" 2>&1 || true; } </dev/null | sed -n "${*: -1}" | head -1
}
machine_line() {
  local cpu peers=()
  cpu=$(awk -F': *' '/^model name/ && !m { m = $2 } /^cpu family/ && !f { f = $2 }
    /^model[ \t]*:/ && !d { d = $2 } END { printf "%s (family %s, model %s)", m, f, d }' /proc/cpuinfo)
  command -v makeself >/dev/null && peers+=("$(version makeself --version 's/^Makeself version /makeself /p')")
  command -v gzip >/dev/null && peers+=("$(version gzip --version '1s/^gzip /gzip /p')")
  command -v zstd >/dev/null && peers+=("$(version zstd --version 's/.* v\([0-9.]*\),.*/zstd \1/p')")
  command -v xz >/dev/null && peers+=("$(version xz --version 's/^xz (XZ Utils) /xz /p')")
  command -v 7z >/dev/null && peers+=("$(version 7z 's/^\(7-Zip[^:]*[^ :]\) *:.*/\1/p')")
  command -v zip >/dev/null && peers+=("$(version zip -v 's/^This is \(Zip [0-9.]*\).*/\1/p')")
  [ -n "$UNZIPSFX" ] && peers+=("$(version "$UNZIPSFX" -v 's/^\(UnZipSFX [0-9.]*\).*/\1/p')")
  peers+=("$(version tar --version 's/^tar (GNU tar) /GNU tar /p')")
  local joined
  joined=$(printf '%s, ' "${peers[@]}")
  printf 'Machine: %s, %s cores, Linux %s; jcpack %s; %s.\n' "$cpu" "$(nproc)" "$(uname -r)" \
    "$(git -C "$HERE" describe --always --dirty 2>/dev/null || echo '(no git)')" "${joined%, }"
}

for tree in "${TREES[@]}"; do
  case $tree in
    release) make_release ;;
    small) make_small ;;
    large) make_large ;;
  esac
done

{
  machine_line
  if [ ${#NOTES[@]} -gt 0 ]; then
    echo
    printf -- '- %s\n' "${NOTES[@]}"
  fi
} | tee "$REPORT"
for tree in "${TREES[@]}"; do
  bench_tree "$tree"
done
say "report: $REPORT"
exit "$FAILED"
