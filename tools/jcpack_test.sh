#!/usr/bin/env bash
# Runs the built jcpack: usage errors, bad input without partial output, the
# compress/decompress and pack/list/unpack round trips, standard streams, outputs that are
# devices, FIFOs or links, and blocks whose stated size their stream does not make.
#   jcpack_test.sh PATH-TO-JCPACK
. "$(dirname "$0")/test_harness.sh"

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
expect "one-line reason" one_line

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
expect "no temporary left" no_temporaries

# pack / list / unpack.
check "pack" 0 "$JCPACK" pack -l 7 all.pac text.txt noise.bin empty.bin
check "list" 0 "$JCPACK" list all.pac
expect "three entries" test "$(rows | wc -l)" -eq 3
expect "text compressed" rows_match "^1 0 [0-9]* [0-9]* jc ok$"
expect "noise stored" rows_match "^2 [0-9]* 70000 70000 stored ok$"
expect "empty stored" rows_match "^3 [0-9]* 0 0 stored ok$"
check "unpack named" 0 "$JCPACK" unpack all.pac outdir a.txt b.bin
expect "named text" cmp -s text.txt outdir/a.txt
expect "named noise" cmp -s noise.bin outdir/b.bin
expect "default name" cmp -s empty.bin outdir/entry-3
check "too many names" 1 "$JCPACK" unpack all.pac outdir2 a b c d
expect "nothing written for too many names" test ! -e outdir2/a
check "pack --store" 0 "$JCPACK" pack --store stored.pac text.txt
check "list stored" 0 "$JCPACK" list stored.pac
expect "stored kind" rows_match "^1 0 [0-9]* [0-9]* stored ok$"

# Damaged archives.
head -c $(($(stat -c %s all.pac) - 3)) all.pac >cut.pac
check "list cut archive" 1 "$JCPACK" list cut.pac
expect "cut reported" grep -qx "jcpack: cut.pac: not a jcpack archive (or one cut short: entry 3 \
at offset [0-9]* runs past its end)" err.txt
printf 'JCx' >short.pac
check "list cut header" 1 "$JCPACK" list short.pac
cp all.pac bad.pac && flip_byte bad.pac 400
check "list damaged entry" 1 "$JCPACK" list bad.pac
expect "damage shown" rows_match "^1 0 .* jc \(corrupt stream\|checksum mismatch\|size mismatch\)$"
check "unpack damaged entry" 1 "$JCPACK" unpack bad.pac baddir
expect "damaged entry not written" test ! -e baddir/entry-1
expect "good entries written" cmp -s noise.bin baddir/entry-2

# Inputs that cannot be read: one line naming the file, exit 1, nothing written.
mkdir adir
for input in adir nothing-here; do
  check "compress $input" 1 "$JCPACK" compress "$input" in.jc
  expect "compress $input: reason" grep -q "^jcpack: $input: \(is a directory\|cannot open\)" \
    err.txt
  expect "compress $input: one line" one_line
  check "decompress $input" 1 "$JCPACK" decompress "$input" in.out
  expect "decompress $input: one line" one_line
  check "pack $input" 1 "$JCPACK" pack in.pac text.txt "$input"
  expect "pack $input: reason" grep -q "^jcpack: $input: " err.txt
  check "list $input" 1 "$JCPACK" list "$input"
  expect "list $input: one line" one_line
  check "unpack $input" 1 "$JCPACK" unpack "$input" indir
  expect "unpack $input: one line" one_line
done
expect "nothing written for bad inputs" test ! -e in.jc -a ! -e in.out -a ! -e in.pac -a ! -e indir
if [ "$(id -u)" -ne 0 ]; then
  cp text.txt locked.txt && chmod 000 locked.txt
  check "unreadable input" 1 "$JCPACK" compress locked.txt in.jc
  expect "unreadable reason" grep -q "locked.txt: cannot open: Permission denied" err.txt
else
  echo "note: unreadable-input test skipped (root reads every file)"
fi

# Standard input and output as "-".
check "help mentions -" 0 "$JCPACK" --help
expect "help on standard streams" grep -q "^- as IN, ARCHIVE or one FILE reads standard in" out.txt
check "compress from stdin" 0 "$JCPACK" compress - piped.jc <text.txt
check "decompress to stdout" 0 "$JCPACK" decompress piped.jc -
expect "stdin/stdout round trip" cmp -s text.txt out.txt
check "pack from stdin" 0 "$JCPACK" pack - text.txt - <noise.bin
cp out.txt piped.pac
check "list from stdin" 0 "$JCPACK" list - <piped.pac
expect "piped entries" rows_match "^2 [0-9]* 70000 70000 stored ok$"
check "unpack from stdin" 0 "$JCPACK" unpack - pipedir <piped.pac
expect "piped noise" cmp -s noise.bin pipedir/entry-2
check "stdin twice" 2 "$JCPACK" pack twice.pac - - <text.txt
check "stdout that fails" 1 sh -c '"$1" decompress piped.jc - >/dev/full' sh "$JCPACK"
check "listing that fails" 1 sh -c '"$1" list all.pac >/dev/full' sh "$JCPACK"
expect "listing failure reason" grep -q "standard output: cannot write" err.txt

# Outputs that are not regular files are written as they stand; a directory stays one.
mkfifo fifo
timeout 20 cat fifo >fifo.out &
check "decompress into a FIFO" 0 timeout 20 "$JCPACK" decompress text9.jc fifo
wait
expect "FIFO kept" test -p fifo
expect "FIFO carried the bytes" cmp -s text.txt fifo.out
check "decompress to /dev/fd/1" 0 "$JCPACK" decompress text9.jc /dev/fd/1
expect "/dev/fd/1 got the bytes" cmp -s text.txt out.txt
expect "/dev/stdout kept" test -L /dev/stdout
if [ "$(id -u)" -eq 0 ] && mknod null c 1 3 2>/dev/null && mknod full c 1 7 2>/dev/null; then
  null=./null full=./full  # private device nodes: a fault cannot harm the system's own
else
  null=/dev/null full=/dev/full
  [ "$(id -u)" -eq 0 ] && echo "note: mknod refused; the system's /dev/null and /dev/full used"
fi
check "decompress to a null device" 0 "$JCPACK" decompress text9.jc "$null"
expect "null device kept" test -c "$null"
if [ "$null" = ./null ]; then
  check "unpack a name that is a device" 0 "$JCPACK" unpack stored.pac . null
  expect "device name kept" test -c null
fi
check "full device" 1 "$JCPACK" decompress text9.jc "$full"
expect "full device reason" grep -q "$full: cannot write: No space left on device" err.txt
expect "full device kept" test -c "$full"
mkdir outdir3
check "output that is a directory" 1 "$JCPACK" decompress text9.jc outdir3
expect "directory output reason" grep -q "outdir3: is a directory" err.txt
expect "directory kept" test -d outdir3

# Temporaries: exclusive, never through a link, removed on failure; modes kept.
echo victim >victim.txt
ln -s victim.txt planted.jc.jcpack-part
check "planted temporary name" 0 "$JCPACK" compress text.txt planted.jc
expect "planted link not written through" test "$(cat victim.txt)" = victim
rm planted.jc.jcpack-part
ln -s victim.txt linked.jc
check "output that is a link" 0 "$JCPACK" compress -f text.txt linked.jc
expect "link replaced" test -f linked.jc -a ! -L linked.jc
expect "link target untouched" test "$(cat victim.txt)" = victim
cp text.txt kept.jc && chmod 640 kept.jc
check "replace a file" 0 "$JCPACK" compress -f text.txt kept.jc
expect "mode kept" test "$(stat -c %a kept.jc)" = 640
expect "replaced contents" cmp -s kept.jc text9.jc
check "file size limit" 1 sh -c 'ulimit -f 8; exec "$1" decompress text9.jc big.out' sh "$JCPACK"
expect "size limit reason" grep -q "big.out: cannot write: File too large" err.txt
expect "size limit: one line" one_line
expect "size limit: nothing left" test ! -e big.out
expect "no temporaries anywhere" no_temporaries

# A stated unpacked size that the stream does not make is refused before any allocation of
# that size (under a memory limit where the build allows one).
if [ "$( (ulimit -v 1000000 && "$JCPACK" --help >/dev/null 2>&1; echo $?) 2>/dev/null)" = 0 ]; then
  limited() { (ulimit -v 1000000 && exec "$@"); }
else
  limited() { "$@"; }
fi
printf 'JC\377\377\377\377\0\0\0\0' >huge.jc && head -c 16 /dev/zero >>huge.jc
check "4 GiB from 26 bytes" 1 limited "$JCPACK" decompress huge.jc huge.out
expect "claim refused" grep -q "^jcpack: huge.jc: size mismatch" err.txt
expect "claim: no output" test ! -e huge.out
printf '\377\377\377\377\032\0\0\0' >huge.pac && cat huge.jc >>huge.pac && cat all.pac >>huge.pac
check "list a 4 GiB claim" 1 limited "$JCPACK" list huge.pac
expect "claim listed" rows_match "^1 0 4294967295 26 jc size mismatch$"
expect "later entries listed" rows_match "^2 34 [0-9]* [0-9]* jc ok$"
expect "claim placed" grep -q "^jcpack: huge.pac: entry 1 at offset 0: size mismatch$" err.txt
check "unpack a 4 GiB claim" 1 limited "$JCPACK" unpack huge.pac hugedir
expect "claim not written" test ! -e hugedir/entry-1
expect "later entry written" cmp -s text.txt hugedir/entry-2
printf 'JC\377\377\377\377\0\0\0\0' >noisy.jc && head -c 4000 noise.bin >>noisy.jc
check "4 GiB from noise" 1 limited "$JCPACK" decompress noisy.jc noisy.out
expect "noise refused" grep -q "^jcpack: noisy.jc: \(size mismatch\|corrupt stream\)" err.txt
head -c 3000000 /dev/zero >zeros.bin
check "compress zeros" 0 "$JCPACK" compress zeros.bin zeros.jc
check "long matches accepted" 0 limited "$JCPACK" decompress zeros.jc zeros.out
expect "zeros round trip" cmp -s zeros.bin zeros.out

# Out of memory while compressing: one line with what the level needs, no output. Level 9's
# match finder does not fit 200 MB of address space for 20 MB of input; level 1's does.
if [ "$( (ulimit -v 200000 && "$JCPACK" --help >/dev/null 2>&1; echo $?) 2>/dev/null)" = 0 ]; then
  seq 1 2900000 >large.txt
  check "level 9 out of memory" 1 sh -c 'ulimit -v 200000 && exec "$0" compress -l 9 large.txt large.jc' "$JCPACK"
  expect "memory need named" grep -q "^jcpack: large.txt: out of memory: level 9 needs about [0-9]* MiB for [0-9]* bytes of input$" err.txt
  expect "memory: one line" one_line
  expect "memory: no output" test ! -e large.jc
  expect "memory: no temporary" no_temporaries
  check "pack out of memory" 1 sh -c 'ulimit -v 200000 && exec "$0" pack large.pac large.txt' "$JCPACK"
  expect "pack: need named" grep -q "^jcpack: large.txt: out of memory: level 9 needs about" err.txt
  expect "pack: no output" test ! -e large.pac
  check "level 1 fits" 0 sh -c 'ulimit -v 200000 && exec "$0" compress -l 1 large.txt large.jc' "$JCPACK"
  check "level 1 block" 0 "$JCPACK" decompress large.jc large.out
  expect "level 1 round trip" cmp -s large.txt large.out
fi

# The command line: every spelling and place of an option makes the same archive; `--` ends
# the options; a usage mistake names the option; -V prints the project's version.
version=$(sed -n 's/^project(entpacker VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
echo dash >./-dash.txt
"$JCPACK" pack -l 1 ref.pac text.txt -- -dash.txt
while IFS='|' read -r name args; do
  rm -f opt.pac
  # shellcheck disable=SC2086  # the table's words are the arguments
  check "options: $name" 0 "$JCPACK" $args
  expect "options: $name: same archive" cmp -s ref.pac opt.pac
done <<'TABLE'
-l1|pack -l1 opt.pac text.txt -- -dash.txt
-l 1 between operands|pack opt.pac -l 1 text.txt -- -dash.txt
--level=1 last|pack opt.pac text.txt --level=1 -- -dash.txt
--level 1 before the command|--level 1 pack opt.pac text.txt -- -dash.txt
--lev=1, a prefix|pack --lev=1 opt.pac text.txt -- -dash.txt
TABLE
while IFS='|' read -r code words args; do
  # shellcheck disable=SC2086
  check "command line: $args" "$code" "$JCPACK" $args
  expect "command line: $args: says '${words/VERSION/$version}'" \
    grep -qF -- "${words/VERSION/$version}" err.txt out.txt
done <<'TABLE'
2|list takes no option --store|list --store all.pac
2|list takes no option -f (--force)|list all.pac -f
2|decompress takes no option -l (--level)|decompress -l 9 text9.jc x.out
2|compress takes no option --title|compress --title=T text.txt x.jc
2|pack takes no option -o (--output)|pack -o x.pac text.txt
2|unknown option --frob|compress --frob text.txt x.jc
2|ambiguous option --st (--store, --stub)|pack --st x.pac text.txt
2|--store takes no value|pack --store=yes x.pac text.txt
2|-l (--level) needs a value|compress text.txt x.jc -l
2|the level must be a number from 1 to 9|compress --level=10 text.txt x.jc
0|jcpack VERSION|-V
0|jcpack VERSION|list --version
0|usage: jcpack COMMAND|pack -h
TABLE
expect "nothing written on mistakes" test ! -e x.jc -a ! -e x.pac -a ! -e x.out

# An existing OUT is replaced only with -f: without, it is refused and left as it was. A
# FIFO and standard output are written without.
while IFS='|' read -r name before after; do
  echo precious >old.out
  chmod 640 old.out
  ln -sf old.out link.out
  # shellcheck disable=SC2086
  check "$name over a file" 1 "$JCPACK" $before old.out $after
  expect "$name over a file: message" grep -qx "jcpack: old.out exists; use -f to replace it" err.txt
  # shellcheck disable=SC2086
  check "$name over a link" 1 "$JCPACK" $before link.out $after
  expect "$name: untouched" test "$(cat old.out)" = precious -a -L link.out
  # shellcheck disable=SC2086
  check "$name -f" 0 "$JCPACK" $before old.out $after --force
  expect "$name -f: replaced, mode kept" test "$(head -c 8 old.out | od -An -c)" != "$(echo precious | od -An -c)" -a "$(stat -c %a old.out)" = 640
  expect "$name: no temporaries" no_temporaries
done <<'TABLE'
compress|compress text.txt|
decompress|decompress text9.jc|
pack|pack|text.txt
TABLE
mkfifo fifo2
timeout 20 cat fifo2 >fifo2.out &
check "FIFO without -f" 0 timeout 20 "$JCPACK" compress -l 9 text.txt fifo2
wait
expect "FIFO without -f: written" cmp -s text9.jc fifo2.out
check "- without -f" 0 "$JCPACK" compress -l 9 text.txt -
expect "- without -f: written" cmp -s text9.jc out.txt

# What is neither a pack archive nor a named archive is refused by every command that reads
# an archive, with nothing listed or unpacked.
{ printf 'PK\003\004\024\000\000\000\010\000'; head -c 300 noise.bin; } >zip-like.zip
{ printf '7z\274\257\047\034\000\004'; head -c 300 noise.bin; } >7z-like.7z
cp /bin/true program
head -c 5000 noise.bin >random.bin
for file in zip-like.zip 7z-like.7z program empty.bin random.bin; do
  for command in list test "unpack notdir"; do
    read -ra words <<<"$command"
    check "$command $file" 1 "$JCPACK" "${words[0]}" "$file" "${words[@]:1}"
    expect "$command $file: refused" grep -qx "jcpack: $file: not a jcpack archive" err.txt
    expect "$command $file: nothing listed" test ! -s out.txt -a ! -e notdir
  done
done
check "list: header" 0 "$JCPACK" list all.pac
expect "list: header first" grep -qx " *index *offset *size *stored *kind *status" <(head -1 out.txt)
check "test a pack archive" 1 "$JCPACK" test bad.pac
expect "test: each entry" test "$(tr -s ' ' <out.txt | tr '\n' ,)" = "FAILED entry 1,OK entry 2,OK entry 3,"
check "test -q" 0 "$JCPACK" test -q all.pac
expect "test -q: silent" test ! -s out.txt -a ! -s err.txt
check "pack -v" 0 "$JCPACK" pack -v verbose.pac text.txt noise.bin
expect "pack -v: each file and the totals" test "$(grep -c "added \|2 entries" err.txt)" -eq 3

finish "jcpack"
