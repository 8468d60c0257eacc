#!/usr/bin/env bash
# Runs `jcpack sfx` and jcpack's list and unpack of self-extractors: usage mistakes, inputs
# refused without any output file, links left out, the stubs looked for beside jcpack, the
# archive's names, times and executable bits through list and unpack, damaged and crafted
# archives that unpack writes nothing of, and links in the target folder. When the stub
# entpacker-stub lies beside jcpack, full round trips through the self-extractor itself.
#   jcpack_sfx_test.sh PATH-TO-JCPACK
. "$(dirname "$0")/test_harness.sh"
STUB=$(dirname "$JCPACK")/entpacker-stub
exec </dev/null
umask 022

same_tree() {  # same_tree A B: same files, bytes, executable bits and modification times
  diff -r "$1" "$2" >/dev/null || return 1
  (cd "$1" && find . -printf '%p %y %T@ %m\n' | sed 's/\.[0-9]* / /' | sort) >tree-a.txt
  (cd "$2" && find . -printf '%p %y %T@ %m\n' | sed 's/\.[0-9]* / /' | sort) >tree-b.txt
  cmp -s tree-a.txt tree-b.txt
}

# Stand-ins for the stubs: the headers by which jcpack knows an ELF and a Windows program.
printf '\177ELF, a stand-in for a program\n' >stub.bin
{ printf MZ; head -c 58 /dev/zero; le 64 4; printf 'PE\0\0, a Windows program'; } >winstub.exe

# A tree with the kinds of entry a self-extractor keeps. Times are whole seconds in the past
# so that a kept time is told from a new one.
mkdir -p "tree/Grüße/tief unten" tree/leer tree/bin
echo hello >"tree/Grüße/tief unten/Datei mit Leerzeichen.txt"
seq 1 50000 >tree/zahlen.txt
: >tree/empty.txt
cat /usr/bin/* 2>/dev/null | head -c 3000000 >tree/bin/program.bin
printf '#!/bin/sh\necho script ran\n' >tree/bin/run.sh
chmod +x tree/bin/run.sh
find tree -exec touch -d '2021-06-15 12:34:56' {} +
touch -d '2019-01-02 03:04:05' tree/zahlen.txt

# Usage mistakes.
check "no OUT" 2 "$JCPACK" sfx tree
check "no PATH" 2 "$JCPACK" sfx -o x.run
check "standard output as OUT" 2 "$JCPACK" sfx --stub stub.bin -o - tree
check "unknown option" 2 "$JCPACK" sfx --frob -o x.run tree
check "bad platform" 2 "$JCPACK" sfx --platform dos -o x.run tree
check "platform and stub" 2 "$JCPACK" sfx --platform linux --stub stub.bin -o x.run tree
check "level 0" 2 "$JCPACK" sfx -l 0 --stub stub.bin -o x.run tree
expect "nothing written on usage mistakes" test ! -e x.run

# The stubs are looked for beside jcpack; a missing one is named with how to build it.
mkdir lonely
cp "$JCPACK" lonely/jcpack
check "native stub missing" 1 lonely/jcpack sfx -o x.run tree
expect "native stub named" grep -q "lonely/entpacker-stub: .*missing.*make" err.txt
check "win64 stub missing" 1 lonely/jcpack sfx --platform win64 -o x.run tree
expect "win64 stub named" grep -q "entpacker-stub-win64.exe: .*make windows" err.txt
cp stub.bin lonely/entpacker-stub-win32.exe
check "win32 stub found" 0 lonely/jcpack sfx --platform win32 -o x.run tree/zahlen.txt
check "win32 stub carried" 0 cmp -n "$(stat -c %s stub.bin)" x.run stub.bin
rm -f x.run

# Refused inputs: exit 1, a message naming the input, no output file and no temporary.
refused() {  # refused NAME WORDS-IN-MESSAGE SFX-ARGUMENTS...
  local name=$1 words=$2
  shift 2
  check "$name" 1 "$JCPACK" sfx -o refused.run "$@"
  expect "$name: message" grep -qF -- "$words" err.txt
  expect "$name: no output" test ! -e refused.run
  expect "$name: no temporary" no_temporaries
}
for bad in 'CON' 'nul.txt' 'back\slash' 'colon:name' 'trailing.' $'line\nbreak' $'\xff\xfe'; do
  rm -rf badname && mkdir badname && : >"badname/$bad"
  refused "bad name $(printf '%q' "$bad")" "would refuse that name" --stub stub.bin badname
done
rm -rf badname
mkdir -p one two
echo 1 >one/same.txt
echo 2 >two/same.txt
refused "duplicate names" "both would be stored as 'same.txt'" --stub stub.bin one/same.txt two/same.txt
refused "the same PATH twice" "both would be stored" --stub stub.bin tree tree
echo 3 >one/Übersicht.TXT
echo 4 >two/übersicht.txt
refused "names equal ignoring case, Windows stub" "the same name on Windows" \
  --stub winstub.exe one/Übersicht.TXT two/übersicht.txt
for twin in Ω.txt:ω.txt Д:д Ａ:ａ; do
  mkdir -p "twin1" "twin2" && echo 5 >"twin1/${twin%%:*}" && echo 6 >"twin2/${twin#*:}"
  refused "Greek, Cyrillic and fullwidth twins, Windows stub: $twin" "the same name on Windows" \
    --stub winstub.exe "twin1/${twin%%:*}" "twin2/${twin#*:}"
  rm -rf twin1 twin2
done
check "names equal ignoring case, --platform win32" 1 lonely/jcpack sfx --platform win32 \
  -o refused.run one/Übersicht.TXT two/übersicht.txt
expect "names equal ignoring case, --platform win32: message" grep -q "same name on Windows" err.txt
expect "names equal ignoring case, --platform win32: no output" test ! -e refused.run
check "names that differ in case on Linux" 0 "$JCPACK" sfx --stub stub.bin -o case.run \
  one/Übersicht.TXT two/übersicht.txt
# Names Windows does not allow, refused for a Windows stub and for --platform win32 only.
for c in '?' '*' '<' '>' '|' '"'; do
  rm -rf winname && mkdir winname && : >"winname/a${c}b.txt"
  refused "'$c' for a Windows stub" "'winname/a${c}b.txt': Windows does not allow '$c'" \
    --stub winstub.exe winname
  check "'$c' for --platform win32" 1 lonely/jcpack sfx --platform win32 -o refused.run winname
  expect "'$c' for --platform win32: message" grep -qF "Windows does not allow '$c'" err.txt
  check "'$c' for a Linux stub" 0 "$JCPACK" sfx -f --stub stub.bin -o allowed.run winname
done
rm -rf winname refused.run allowed.run
# A stub that is no program, and OUT that is the stub's own file (by another name, too).
printf 'just some text\n' >text-stub.txt
printf 'MZ without a PE header, as a text file may start' >mz-text.exe
for stub in text-stub.txt mz-text.exe; do
  refused "stub $stub" "the stub is not a program" --stub $stub tree/zahlen.txt
done
cp stub.bin own.run
ln own.run own-link.run
for out in own.run ./own.run own-link.run; do
  check "OUT $out is the stub" 1 "$JCPACK" sfx --stub own.run -o $out tree/zahlen.txt
  expect "OUT $out is the stub: message" grep -qF "is the stub" err.txt
  expect "OUT $out is the stub: kept" cmp -s own.run stub.bin
done
refused "missing input" "missing.txt: cannot read: No such file" --stub stub.bin tree missing.txt
if [ "$(id -u)" -ne 0 ]; then
  mkdir locked && echo secret >locked/file && chmod 000 locked/file
  refused "unreadable file" "locked/file: cannot read" --stub stub.bin locked
  chmod 700 locked/file && chmod 000 locked
  refused "unreadable folder" "locked: cannot read" --stub stub.bin locked
  chmod 700 locked
fi
refused "file that fails to read" "mem: cannot read" --stub stub.bin /proc/self/mem
mkfifo fifo
refused "FIFO as PATH" "neither a regular file nor a folder" --stub stub.bin fifo
refused "missing stub file" "cannot read the stub" --stub nostub.bin tree
mkdir outdir
check "OUT a folder" 1 "$JCPACK" sfx --stub stub.bin -o outdir tree
expect "OUT a folder: untouched" empty_dir outdir
echo "old content" >kept.run
check "refusal keeps OUT" 1 "$JCPACK" sfx --stub stub.bin -o kept.run tree missing.txt
expect "refusal keeps OUT: content" grep -qx "old content" kept.run

echo "not to be written through" >link-target.txt
ln -s link-target.txt link.run
check "OUT a link" 0 "$JCPACK" sfx -f --stub stub.bin -o link.run tree/zahlen.txt
expect "OUT a link: replaced, not written through" test -f link.run -a ! -L link.run
expect "OUT a link: its target kept" grep -qx "not to be written through" link-target.txt

# A link inside a folder is left out with a warning; OUT is executable.
mkdir -p linked/sub
echo inside >linked/sub/file.txt
ln -s sub/file.txt linked/link-to-file
ln -s /etc linked/link-to-etc
check "links skipped" 0 "$JCPACK" sfx --stub stub.bin -o linked.run linked
expect "links skipped: warnings" test "$(grep -c 'symbolic link, skipped' err.txt)" -eq 2
expect "output executable" test -x linked.run
expect "output mode" test "$(stat -c %a linked.run)" = 755
check "links skipped: list" 0 "$JCPACK" list linked.run
expect "links skipped: listed" test "$(rows | cut -d' ' -f8- | tr '\n' ,)" = "linked,linked/sub,linked/sub/file.txt,"

# The archive through list and unpack: names, sizes, kinds, times and executable bits.
check "sfx of the tree" 0 "$JCPACK" sfx -l 1 --stub stub.bin -o tree.run tree
check "stub first" 0 cmp -n "$(stat -c %s stub.bin)" tree.run stub.bin
check "list" 0 "$JCPACK" list tree.run
expect "list: every entry" test "$(rows | wc -l)" -eq 10
expect "list: folder" rows_match "^1 0 - folder - 2021-06-15T12:34:56Z ok tree$"
expect "list: script" rows_match "^[0-9]* 26 - blocks x .* ok tree/bin/run.sh$"
expect "list: text" rows_match "^[0-9]* 288894 - blocks - 2019-01-02T03:04:05Z ok tree/zahlen.txt$"
expect "list: umlauts and spaces" rows_match " ok tree/Grüße/tief unten/Datei mit Leerzeichen.txt$"
check "unpack" 0 "$JCPACK" unpack tree.run dest
expect "unpack: same tree" same_tree tree dest/tree
expect "unpack: no temporaries" no_temporaries dest/tree/bin
check "unpack again, over the files" 0 "$JCPACK" unpack tree.run dest
expect "unpack again: same tree" same_tree tree dest/tree
check "unpack with NAMEs" 2 "$JCPACK" unpack tree.run dest2 a b
check "unpack from standard input" 0 sh -c "\"$JCPACK\" unpack - dest3 <tree.run"
expect "unpack from standard input: same tree" same_tree tree dest3/tree

check "pack of a self-extractor" 0 "$JCPACK" pack --store nested.pac tree.run
check "pack of a self-extractor: list" 0 "$JCPACK" list nested.pac
expect "pack of a self-extractor: one plain entry" rows_match "^1 0 [0-9]* [0-9]* stored ok$"

# A write that fails (here at a file size limit, in the entries and near the end) leaves
# neither OUT nor a temporary.
for limit in 1 $(($(stat -c %s tree.run) / 1024)); do
  check "file size limit $limit KiB" 1 sh -c 'ulimit -f "$1" && exec "$0" sfx -l 1 --stub stub.bin \
    -o limited.run tree' "$JCPACK" "$limit"
  expect "file size limit $limit KiB: message" grep -qF "limited.run: cannot write: File too large" err.txt
  expect "file size limit $limit KiB: no output" test ! -e limited.run
  expect "file size limit $limit KiB: no temporary" no_temporaries
done

# An interrupt leaves neither OUT nor a temporary.
"$JCPACK" sfx -l 9 --stub stub.bin -o interrupted.run tree 2>/dev/null &
sleep 0.5
kill -TERM $!
wait $!
expect "interrupted: killed" test $? -eq 143
expect "interrupted: no output" test ! -e interrupted.run
expect "interrupted: no temporary" no_temporaries

# Damage anywhere: list fails, unpack writes nothing.
cp tree.run damaged.run
flip_byte damaged.run 300000
check "damaged: list" 1 "$JCPACK" list damaged.run
expect "damaged: list says so" grep -q "damaged" err.txt
check "damaged: unpack" 1 "$JCPACK" unpack damaged.run dest4
expect "damaged: nothing written" empty_dir dest4
cp tree.run damaged.run
flip_byte damaged.run $(($(stat -c %s damaged.run) - 20))
check "damaged trailer: unpack" 1 "$JCPACK" unpack damaged.run dest4
expect "damaged trailer: nothing written" empty_dir dest4

# Crafted archives: the crafting itself, then names no writer makes.
craft good.run a.txt sub/b.txt
check "crafted: list" 0 "$JCPACK" list good.run
check "crafted: unpack" 0 "$JCPACK" unpack good.run crafted
expect "crafted: written" test "$(cat crafted/a.txt crafted/sub/b.txt)" = hellohello
for bad in '../escape.txt' '/tmp/absolute.txt' 'a/../../escape.txt' 'CON'; do
  craft bad.run a.txt "$bad"
  check "unsafe $bad: unpack" 1 "$JCPACK" unpack bad.run inner/dest5
  expect "unsafe $bad: reported" grep -q "unsafe name" err.txt
  expect "unsafe $bad: nothing written" empty_dir inner
done
expect "unsafe: nothing outside" test ! -e escape.txt -a ! -e /tmp/absolute.txt
craft twice.run a.txt a.txt
check "name twice: unpack" 1 "$JCPACK" unpack twice.run dest6
expect "name twice: nothing written" empty_dir dest6

# Links in the target folder are never written through.
mkdir -p outside trap1 trap2/tree/bin
ln -s ../outside trap1/tree
check "linked folder: unpack" 1 "$JCPACK" unpack tree.run trap1
expect "linked folder: reported" grep -q "a link or a file is in the way of its folder" err.txt
expect "linked folder: nothing outside" empty_dir outside
echo precious >outside/keep.txt
ln -s ../../../outside/keep.txt trap2/tree/bin/run.sh
check "linked file: unpack" 1 "$JCPACK" unpack tree.run trap2
expect "linked file: reported" grep -q "run.sh': a folder, link, read-only or special file is in the way" err.txt
expect "linked file: target kept" grep -qx precious outside/keep.txt
expect "linked file: the rest written" cmp -s tree/bin/program.bin trap2/tree/bin/program.bin

# An existing OUT is replaced only with -f; options go anywhere, in every spelling.
echo precious >old.run
check "existing OUT" 1 "$JCPACK" sfx --stub stub.bin -o old.run tree/zahlen.txt
expect "existing OUT: message" grep -qx "jcpack: old.run exists; use -f to replace it" err.txt
expect "existing OUT: untouched" grep -qx precious old.run
check "existing OUT, -f" 0 "$JCPACK" sfx tree/zahlen.txt --stub=stub.bin -l1 --output=old.run -f
check "existing OUT, -f: replaced" 0 cmp -n "$(stat -c %s stub.bin)" old.run stub.bin

# The title and the language go into the archive's settings, and list shows them first.
settings_case() {  # settings_case NAME SHOWN-TITLE SHOWN-LANGUAGE SFX-OPTION...
  local name=$1 title=$2 lang=$3
  shift 3
  check "$name" 0 "$JCPACK" sfx -f --stub stub.bin -o settings.run "$@" tree/zahlen.txt
  check "$name: list" 0 "$JCPACK" list settings.run
  if [ -n "$title" ]; then
    expect "$name: title" test "$(head -1 out.txt)" = "title: $title"
  else
    expect "$name: no title" test "$(grep -c "^title:" out.txt)" -eq 0
  fi
  expect "$name: language" grep -qx "language: $lang" out.txt
  expect "$name: then the header" grep -qx " *index *size *stored *kind *exec *modified *status *name" \
    <(grep -A1 "^language:" out.txt | tail -1)
}
title200=$(printf 'ä%.0s' {1..100})
settings_case "no settings given: English" "" en
settings_case "--lang de" "" de --lang de
settings_case "--lang=de --title=TEXT" "Urlaub 2024" de --lang=de "--title=Urlaub 2024"
settings_case "--title, UTF-8" "Grüße aus Köln – 2024 ✓" en --title "Grüße aus Köln – 2024 ✓"
settings_case "--title of 200 bytes" "$title200" en --lang en --title "$title200"

# A title or language outside the rules is a usage mistake that says the rule.
rm -f settings.run
for bad in "" $'tab\there' $'escape\e[31m' $'\xc2\x85next line' $'\xff\xfe' $'\xc3' "${title200}x" \
  --lang=fr --lang=EN; do
  case $bad in --lang=*) args=("$bad") ;; *) args=(--title "$bad") ;; esac
  check "refused: $(printf '%q' "$bad")" 2 "$JCPACK" sfx --stub stub.bin -o settings.run "${args[@]}" \
    tree/zahlen.txt
  expect "refused: $(printf '%q' "$bad"): the rule" \
    grep -q "the \(title must be 1 to 200 bytes of UTF-8 text without control characters\|language must be en or de\)" err.txt
  expect "refused: $(printf '%q' "$bad"): no output" test ! -e settings.run
done

# Installers: --run names a file of the archive that its platform starts, --temp goes with
# --run, --license takes a text file; list shows each setting given and no other. Fields:
# exit code | L (Linux stand-in stub) or W (--platform win64) | the settings list shows, or
# words of the message | the options.
mkdir -p inst/bin
printf '\177ELF, a program\n' >inst/bin/setup
chmod +x inst/bin/setup
printf '#!/bin/sh\ntouch ran\n' >inst/script
printf 'touch ran\n' >inst/plain.sh
printf 'data\n' >inst/data.txt
: >inst/setup.EXE
: >inst/x.cmd
find inst -exec touch -d "2022-03-04 05:06:07" {} +
printf '\357\273\277Lizenz: frei\n' >licence.txt
printf '\357\273\277' >bom-only.txt
printf 'Lizenz\001\n' >control.txt
head -c 262145 /dev/zero | tr '\0' a >large-licence.txt
cp winstub.exe lonely/entpacker-stub-win64.exe
while IFS='|' read -r -u 3 want where shown options; do
  eval "set -- $options"
  case $where in
    L) sfx=("$JCPACK" sfx --stub stub.bin) ;;
    W) sfx=(lonely/jcpack sfx --platform win64) ;;
  esac
  name="installer $where $options"
  rm -f inst.run
  check "$name" "$want" "${sfx[@]}" -o inst.run "$@" inst
  if [ "$want" -ne 0 ]; then
    expect "$name: message" grep -qF -- "$shown" err.txt
    expect "$name: no output" test ! -e inst.run
    continue
  fi
  check "$name: list" 0 "$JCPACK" list inst.run
  expect "$name: settings listed" \
    test "$(grep -E '^(command|temporary folder|licence): ' out.txt | paste -sd';')" = "$shown"
  [ -e installer.run ] || mv inst.run installer.run
done 3<<'EOF'
0|L|command: inst/bin/setup --mode "full on";temporary folder: yes;licence: 13 bytes|--run 'inst/bin/setup --mode "full on"' --temp --license licence.txt
0|L|command: inst/script|--run inst/script
0|L|command: inst/plain.sh a\ b|--run 'inst/plain.sh a\ b'
0|L|licence: 13 bytes|--license licence.txt
0|W|command: inst/setup.EXE /S|--run 'inst/setup.EXE /S'
0|W|command: inst/x.cmd;licence: 13 bytes|--run inst/x.cmd --license licence.txt
1|L|'inst/missing' is not a file of the archive|--run inst/missing
1|L|'inst/bin' is not a file of the archive|--run inst/bin
1|L|neither executable nor a script|--run inst/data.txt
1|W|must end in .exe, .cmd or .bat|--run inst/plain.sh
1|L|not a safe name in the archive (a part is . or ..)|--run ../x
2|L|quote that is not closed|--run "inst/script 'a"
2|L|--temp needs --run|--temp
1|L|control.txt: the licence is not UTF-8 text|--run inst/script --license control.txt
1|L|bom-only.txt: the licence is empty|--license bom-only.txt
1|L|missing.txt: cannot read the licence|--license missing.txt
1|L|the licence is longer than 262144 bytes|--license large-licence.txt
EOF
check "installer: unpack" 0 "$JCPACK" unpack installer.run inst-dest
expect "installer: unpack writes the files" same_tree inst inst-dest/inst
expect "installer: unpack runs nothing" test ! -e ran -a ! -e inst-dest/ran

# -q leaves out the warnings; -v names each entry and the totals.
check "sfx -q" 0 "$JCPACK" sfx -q -f --stub stub.bin -o linked.run linked
expect "sfx -q: no warnings" test ! -s err.txt
check "sfx -v" 0 "$JCPACK" sfx --verbose -f --stub stub.bin -o linked.run linked
expect "sfx -v: each entry" test "$(grep -c "^jcpack: added linked" err.txt)" -eq 3
expect "sfx -v: the totals" grep -q "^jcpack: linked.run: 1 file and 2 folders, " err.txt

# Round trips through the self-extractor itself, with the stub beside jcpack.
if [ -x "$STUB" ]; then
  if [ "${ENTPACKER_STUB_STRIPPED:-0}" = 1 ]; then
    expect "the stub is stripped" sh -c '! readelf -S "$0" | grep -q "\.symtab\|\.debug"' "$STUB"
  fi
  check "sfx with the native stub" 0 "$JCPACK" sfx -l 1 -o ./tree-x tree
  check "the stub first" 0 cmp -n "$(stat -c %s "$STUB")" tree-x "$STUB"
  check "run -y -o" 0 ./tree-x -y -o run1
  expect "run: same tree" same_tree tree run1/tree
  check "script runs" 0 run1/tree/bin/run.sh
  expect "script output" grep -qx "script ran" out.txt
  mkdir alone
  cp tree-x alone/
  check "run --list" 0 alone/tree-x --list
  expect "run --list: names" grep -q "Datei mit Leerzeichen.txt" out.txt
  check "run --test" 0 alone/tree-x --test
  expect "run --list, --test: nothing written" test "$(ls -A alone)" = tree-x
  check "run -y into its own folder" 0 alone/tree-x -y
  expect "run -y: same tree" same_tree tree alone/tree
  cp tree-x damaged-x
  flip_byte damaged-x $(($(stat -c %s "$STUB") + 1000))
  check "damaged: --test" 1 ./damaged-x --test
  check "damaged: run" 1 ./damaged-x -y -o run2
  expect "damaged: nothing written" empty_dir run2

  # The blocks are made on any number of threads alike.
  check "-T 1" 0 "$JCPACK" sfx -T 1 --block-size 1 -o t1.run tree
  check "-T 4" 0 "$JCPACK" sfx -T 4 --block-size 1 -o t4.run tree
  expect "-T 1 and -T 4: the same bytes" cmp -s t1.run t4.run
  check "-T 4 --block-size 1: run" 0 ./t4.run -y -o run-t4
  expect "-T 4 --block-size 1: same tree" same_tree tree run-t4/tree
  rm -rf t1.run t4.run run-t4

  # A self-extractor made before the blocks (one entry per file) still extracts.
  craft old.part "alt/eins.txt" "alt/zwei.txt"
  { cat "$STUB"; tail -c +6 old.part; } >old.run && chmod +x old.run
  check "version 1: run" 0 ./old.run -y -o run-old
  expect "version 1: files" test "$(cat run-old/alt/eins.txt run-old/alt/zwei.txt)" = hellohello
  rm -rf old.part old.run run-old

  # The self-extractor's memory does not grow with its entries: a file of 160 MiB (zeros,
  # and a MiB of random bytes every 16 MiB) is extracted in two blocks' room.
  if [ -x /usr/bin/time ]; then
    truncate -s 160M large.bin
    for mib in 0 16 32 48 64 80 96 112 128 144; do
      head -c 1048576 /dev/urandom | dd of=large.bin bs=1M seek=$mib conv=notrunc status=none
    done
    check "large file: make" 0 "$JCPACK" sfx -l 1 -o large.run large.bin
    # The process alone (a sanitizer's build takes more of its own) and the run.
    check "large file: the process alone" 0 /usr/bin/time -f %M -o alone.txt ./large.run --version
    check "large file: run" 0 /usr/bin/time -f %M -o peak.txt ./large.run -y -o run-large
    expect "large file: same bytes" cmp -s large.bin run-large/large.bin
    expect "large file: peak memory $(cat peak.txt) KiB, at most 32 MiB above the process's \
$(cat alone.txt) KiB" test "$(cat peak.txt)" -le $(($(cat alone.txt) + 32768))
    rm -rf large.bin large.run run-large peak.txt alone.txt
  else
    echo "SKIP: the self-extractor's peak memory (/usr/bin/time is missing)"
  fi
else
  echo "SKIP: round trips through the self-extractor ($STUB is not built)"
fi

finish "jcpack sfx"
