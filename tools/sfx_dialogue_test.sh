#!/usr/bin/env bash
# The self-extractor's dialogue word for word, in English and in German: self-extractors
# made by jcpack with the stub beside it, run in pipes, their whole standard output and
# error compared with the expected text (the scratch folder shown as @). One table of cases
# runs in each language: a sound run, quiet, help, version, a usage mistake, a damaged and a
# cut file, a full disk (as root, on a small tmpfs), the overwrite question, a link in the
# way, UTF-8 names and the other spellings of the options. Exit 77 without the stub.
#   sfx_dialogue_test.sh PATH-TO-JCPACK
. "$(dirname "$0")/test_harness.sh"
STUB=$(dirname "$JCPACK")/entpacker-stub
if [ ! -x "$STUB" ]; then
  echo "SKIP: the self-extractor's dialogue ($STUB is not built)"
  exit 77
fi
HERE=$(pwd -P)
VERSION=$("$JCPACK" --version | cut -d' ' -f2)
exec </dev/null
umask 022

# A small tmpfs is mounted on full/ for the full disk; it goes before the folder does.
trap 'mountpoint -q "$HERE/full" && umount "$HERE/full"
  chmod -R u+rwx "$WORK"
  rm -rf "$WORK"' EXIT

words() {  # words LANGUAGE: the dialogue's words in LANGUAGE
  if [ "$1" = en ]; then
    starting=Extracting files=files bytes=bytes into=into extracting=extracting point=.
    error=Error done="Extraction finished." run_failed="Extraction failed."
    test_done="Every entry is sound." prompt="Press any key to finish..."
    question="File exists. Overwrite? [(y)es/(n)o/(a)ll]"
    usage=Usage: options="[options]" unknown="unknown option" twice="given twice"
    made_with="self-extractor made with entpacker"
    damaged="archive damaged (checksum mismatch): download it again"
    no_room="not enough space: 3.0 MB needed, 1.0 MB available (--no-space-check skips this check)"
    device_full="no space left on the device"
    in_the_way="a folder, link or read-only file is in the way"
    header="        Size       Stored  Name"
  else
    starting=Entpacke files=Dateien bytes=Bytes into=nach extracting=entpacke point=,
    error="FEHLER Entpacken" done="Entpacken erfolgreich beendet!" run_failed="FEHLER Entpacken"
    test_done="Pruefung erfolgreich beendet!" prompt="Beliebige Taste zum beenden..."
    question="Datei bereits vorhanden! Ueberschreiben? [(J)a/(N)ein/(A)lle]"
    usage=Aufruf: options="[Optionen]" unknown="unbekannte Option" twice="doppelt angegeben"
    made_with="Selbstentpacker von entpacker"
    damaged="Archiv beschaedigt (Pruefsumme falsch): bitte neu herunterladen"
    no_room="nicht genug Platz: 3,0 MB noetig, 1,0 MB frei (--no-space-check prueft nicht)"
    device_full="kein Platz auf dem Datentraeger"
    in_the_way="Ordner, Link oder schreibgeschuetzte Datei im Weg"
    header="     Groesse      Gepackt  Name"
  fi
}
# The archive's settings are in the part a cut file lacks: it is told in English.
CUT_SHORT="Error: archive cut short: the file ends inside its archive (an incomplete download? \
Download it again)"

lines() {  # lines LINE...: the lines, as expected output
  printf '%s\n' "$@"
}

same_text() {  # same_text NAME EXPECTED FILE: FILE holds EXPECTED, the scratch folder as @
  local got
  got=$(sed "s|$HERE|@|g" "$3")
  if [ "$got" = "$2" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$got") | sed 's/^/    /'
  fi
}

dialogue() {  # dialogue NAME STATUS STDOUT STDERR COMMAND...: status and whole output
  local name=$1 status=$2 out=$3 err=$4
  shift 4
  check "$name" "$status" "$@"
  same_text "$name: stdout" "$out" out.txt
  same_text "$name: stderr" "$err" err.txt
}

answer() {  # answer KEYS COMMAND...: COMMAND with KEYS on its standard input
  local keys=$1
  shift
  printf '%s' "$keys" | "$@"
}

sound_run() {  # sound_run FOLDER: a sound run's words, into FOLDER below the scratch folder
  lines "$title: 2 $files, 14 $bytes, $into @/$1" "$extracting 'src'" "$extracting 'src/a.txt'" \
    "$extracting 'src/b.txt'" "" "$done"
}

# The archives: two small files under a title; names in UTF-8; a large file and a small one,
# 3000005 bytes for a tmpfs of 1 MiB (3.0 MB needed, 1.0 MB available).
mkdir -p src "utf/Grüße" big
printf 'hello\n' >src/a.txt
printf 'world!!\n' >src/b.txt
echo hi >"utf/Grüße/x.txt"
echo jp >"utf/日本.txt"
head -c 3000000 /dev/urandom >big/big.bin
printf 'note\n' >big/note.txt
title="Grüße 2024"
for lang in en de; do
  "$JCPACK" sfx --lang $lang --title "$title" -o $lang.run src || exit 1
  "$JCPACK" sfx --lang $lang -o utf-$lang.run utf || exit 1
  "$JCPACK" sfx --lang $lang -o big-$lang.run big/big.bin big/note.txt || exit 1
  # Damaged in a block's bytes and in a stored name; cut a few bytes short.
  cp $lang.run block-$lang.run
  flip_byte block-$lang.run $(($(stat -c %s "$STUB") + 10))
  cp $lang.run name-$lang.run
  flip_byte name-$lang.run "$(grep -boa 'src/b.txt' $lang.run | tail -1 | cut -d: -f1)"
  head -c -5 $lang.run >cut-$lang.run
  chmod +x cut-$lang.run
done

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: a full disk (mounting a tmpfs takes root)"
elif ! { mkdir full && mount -t tmpfs -o size=1m tmpfs full; }; then
  echo "SKIP: a full disk (a tmpfs could not be mounted)"
fi

for lang in en de; do
  words $lang
  run=./$lang.run

  dialogue "$lang: sound run" 0 "$(sound_run out-$lang)" "" $run -y -o out-$lang
  expect "$lang: sound run: files" test "$(cat out-$lang/src/a.txt out-$lang/src/b.txt)" = \
    "$(cat src/a.txt src/b.txt)"
  dialogue "$lang: sound run, waiting at the end" 0 "$(sound_run wait-$lang; lines "" "$prompt")" \
    "" $run -o wait-$lang
  dialogue "$lang: quiet" 0 "" "" $run -q -y -o quiet-$lang
  expect "$lang: quiet: files" test -s quiet-$lang/src/b.txt

  check "$lang: --help" 0 $run --help
  same_text "$lang: --help: title and usage" "$(lines "$title" "$usage $lang.run $options")" \
    <(head -2 out.txt)
  tail -n +2 out.txt >usage.txt
  dialogue "$lang: --version" 0 "$(lines "$title" "$lang.run: $made_with $VERSION")" "" $run -V
  dialogue "$lang: unknown option" 2 "" "$(lines "$lang.run: $unknown: --frob"; cat usage.txt)" \
    $run -y --frob
  dialogue "$lang: two output folders" 2 "" \
    "$(lines "$lang.run: $twice: --target"; cat usage.txt)" $run -o one --target two
  expect "$lang: usage mistakes: nothing written" test ! -e one -a ! -e two

  for damage in block name; do
    dialogue "$lang: damaged $damage" 1 "$error: $damaged" "" ./$damage-$lang.run -y -o damaged
    expect "$lang: damaged $damage: nothing written" test ! -e damaged
  done
  dialogue "$lang: cut short" 1 "$CUT_SHORT" "" ./cut-$lang.run -y -o cut
  expect "$lang: cut short: nothing written" test ! -e cut

  if mountpoint -q full; then
    start="$starting 2 $files, 3${point}0 MB, $into @/full"
    dialogue "$lang: full disk" 1 "$(lines "$start" "$error: $no_room" "" "$run_failed")" "" \
      ./big-$lang.run -y -o full
    expect "$lang: full disk: nothing written" empty_dir full
    dialogue "$lang: full disk, unchecked" 1 "$(lines "$start" "$extracting 'big.bin'" \
      "$error: $device_full: 'big.bin'" "$extracting 'note.txt'" "" \
      "$run_failed")" "" ./big-$lang.run -y --no-space-check -o full
    expect "$lang: full disk, unchecked: no part left" test "$(ls -A full)" = note.txt
    rm -f full/note.txt
  fi

  # The answer goes to src/a.txt; the input has ended by src/b.txt's question, which keeps it.
  for keys in y j Y n a; do
    rm -rf ask && mkdir -p ask/src && echo old >ask/src/a.txt && echo old >ask/src/b.txt
    case $keys in n) a=old b=old ;; a) a=hello b='world!!' ;; *) a=hello b=old ;; esac
    asked=("$question" "$extracting 'src/b.txt'" "$question")
    [ $keys = a ] && asked=("$question" "$extracting 'src/b.txt'")
    dialogue "$lang: answer $keys" 0 "$(lines "$title: 2 $files, 14 $bytes, $into @/ask" \
      "$extracting 'src'" "$extracting 'src/a.txt'" "${asked[@]}" "" "$done" "" "$prompt")" "" \
      answer $keys $run -o ask
    expect "$lang: answer $keys: the files" test "$(cat ask/src/a.txt ask/src/b.txt)" = "$a
$b"
  done

  rm -rf linked outside && mkdir -p linked/src outside && echo precious >outside/keep.txt
  ln -s ../../outside/keep.txt linked/src/a.txt
  dialogue "$lang: link in the way" 1 "$(lines "$title: 2 $files, 14 $bytes, $into @/linked" \
    "$extracting 'src'" "$extracting 'src/a.txt'" "$error: $in_the_way: 'src/a.txt'" \
    "$extracting 'src/b.txt'" "" "$run_failed")" "" $run -y -o linked
  dialogue "$lang: link in the way, quiet" 1 \
    "$(lines "$error: $in_the_way: 'src/a.txt'" "" "$run_failed")" "" $run -q -y -o linked
  expect "$lang: link in the way: outside kept" grep -qx precious outside/keep.txt
  expect "$lang: link in the way: still a link" test -L linked/src/a.txt

  check "$lang: UTF-8 list in a pipe" 0 sh -c "./utf-$lang.run --list | grep -F 'Grüße'"
  same_text "$lang: UTF-8 list in a pipe: lines" "$(lines \
    "           0            -  utf/Grüße/" "           3            -  utf/Grüße/x.txt")" out.txt
  check "$lang: UTF-8 list" 0 ./utf-$lang.run -l
  same_text "$lang: UTF-8 list: header and entries" "$(lines "$header" \
    "           0            -  utf/" "           0            -  utf/Grüße/" \
    "           3            -  utf/Grüße/x.txt" "           3            -  utf/日本.txt")" \
    <(head -5 out.txt)
  dialogue "$lang: UTF-8 run" 0 "$(lines "$starting 2 $files, 6 $bytes, $into @/utf-$lang" \
    "$extracting 'utf'" "$extracting 'utf/Grüße'" "$extracting 'utf/Grüße/x.txt'" \
    "$extracting 'utf/日本.txt'" "" "$done")" "" ./utf-$lang.run -y -o utf-$lang
  expect "$lang: UTF-8 run: files" test "$(cat "utf-$lang/utf/日本.txt")" = jp

  dialogue "$lang: --target" 0 "$(sound_run target-$lang)" "" $run --target target-$lang -y
  dialogue "$lang: -d" 0 "$(sound_run d-$lang)" "" $run -d d-$lang -y
  dialogue "$lang: -o and --target alike, -y twice" 0 "$(sound_run both-$lang)" "" \
    $run -y -o both-$lang --target both-$lang -y
  dialogue "$lang: --check" 0 "$(lines "OK      src" "OK      src/a.txt" "OK      src/b.txt" "" \
    "$test_done")" "" $run --check
done

finish "self-extractor dialogue"
