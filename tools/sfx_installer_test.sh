#!/usr/bin/env bash
# Installers made by `jcpack sfx --run` with the stub beside jcpack, run as their users run
# them: the command with its fixed and passed arguments (blanks, quotes, UTF-8), its
# environment and its exit code; the temporary folder gone after success, a failing
# command, a damaged archive and Ctrl+C, kept with --keep and --no-run; -o instead of the
# temporary folder; --info; the licence declined, at the end of input, accepted, and paged
# on a terminal; a temporary file system mounted noexec (as root); links planted by the
# command left untouched at the removal; self-extractors made before installers existed.
# Exit 77 without the stub.
#   sfx_installer_test.sh PATH-TO-JCPACK
DATA=$(cd "$(dirname "$0")/testdata" && pwd)
. "$(dirname "$0")/test_harness.sh"
STUB=$(dirname "$JCPACK")/entpacker-stub
if [ ! -x "$STUB" ]; then
  echo "SKIP: installers ($STUB is not built)"
  exit 77
fi
HERE=$(pwd -P)
exec </dev/null
umask 022

# Every run gets temporary folders of its own here; a noexec tmpfs goes on noexec/.
mkdir tmp cache outside
echo keep >outside/keep.txt
export TMPDIR=$HERE/tmp XDG_CACHE_HOME=$HERE/cache REPORT=$HERE/report.txt
trap 'mountpoint -q "$HERE/noexec" && umount "$HERE/noexec"
  chmod -R u+rwx "$WORK"
  rm -rf "$WORK"' EXIT

# The command: a script that reports its arguments, environment and folder, plants links
# to outside folders in it, and ends with the code in its first argument (or waits for an
# interrupt when that is "wait").
mkdir -p app/bin
cat >app/bin/setup.sh <<'EOF'
#!/bin/sh
code=$1
shift
{
  printf '[%s]\n' "$@"
  echo "self=$ENTPACKER_SELF"
  echo "folder=$ENTPACKER_FOLDER"
  echo "start=$ENTPACKER_START_FOLDER"
  echo "pwd=$(pwd -P)"
} >"$REPORT"
ln -s "$OUTSIDE" outside-link
ln -s / root-link
chmod 000 bin
[ "$code" = wait ] && { echo waiting >>"$REPORT"; exec sleep 30; }
exit "$code"
EOF
chmod +x app/bin/setup.sh
printf 'payload\n' >app/data.txt
export OUTSIDE=$HERE/outside
printf 'Terms of use, line %s\n' $(seq 1 30) >licence.txt

"$JCPACK" sfx -o inst.run --title "App 1.0" --temp --run \
  "bin/setup.sh 7 'a b' \"say \\\"hi\\\"\" Grüße" app/bin app/data.txt || exit 1
"$JCPACK" sfx -o wait.run --temp --run "bin/setup.sh wait" app/bin app/data.txt || exit 1
"$JCPACK" sfx -o fail.run --temp --run "bin/setup.sh 3" app/bin app/data.txt || exit 1
"$JCPACK" sfx -o lic.run --temp --license licence.txt --run "bin/setup.sh 0" app/bin \
  app/data.txt || exit 1
"$JCPACK" sfx -o here.run --run "bin/setup.sh 0" app/bin app/data.txt || exit 1
cp inst.run damaged.run
flip_byte damaged.run $(($(stat -c %s "$STUB") + 10))

no_folders() {  # no_folders: no temporary folder is left anywhere
  empty_dir tmp && test -z "$(ls -A cache 2>/dev/null | grep entpacker)"
}
reported() {  # reported LINE...: the command's report holds exactly LINE...
  test "$(cat "$REPORT")" = "$(printf '%s\n' "$@")"
}
ran() {  # ran: the command ran (its report is there), and is taken away for the next case
  test -f "$REPORT" && rm -f "$REPORT"
}
outside_intact() {  # outside_intact: the folder the command linked to is as it was
  test "$(ls -A outside)" = keep.txt && test "$(cat outside/keep.txt)" = keep
}

# --- the command, its arguments, environment and exit code; the folder gone afterwards ---
mkdir start
check "installer: exit code is the command's" 7 sh -c 'cd start && ../inst.run -- "x y" ""'
folder=$(sed -n 's/^folder=//p' "$REPORT")
expect "installer: arguments, environment, folder" reported "[a b]" '[say "hi"]' "[Grüße]" \
  "[x y]" "[]" "self=$HERE/inst.run" "folder=$folder" "start=$HERE/start" "pwd=$folder"
expect "installer: the folder was private and under TMPDIR" \
  test "${folder#"$HERE/tmp/entpacker-"}" != "$folder"
expect "installer: the folder is removed, links and all, nothing outside touched" \
  sh -c 'test ! -e "$1"' - "$folder"
expect "installer: outside intact" outside_intact
expect "installer: nothing left" no_folders
expect "installer: the run's first line" grep -q "^App 1.0: 2 files, .* into $folder\$" out.txt
rm -f "$REPORT"

check "failing command: its exit code" 3 ./fail.run
expect "failing command: ran" ran
expect "failing command: folder removed" no_folders

check "damaged archive: extraction fails, exit 1" 1 ./damaged.run -y
expect "damaged archive: the command did not run" test ! -e "$REPORT"
expect "damaged archive: no folder" no_folders

# Ctrl+C at the terminal reaches the whole process group: the command ends by it, the
# self-extractor waits for it, removes the folder and ends as the command did.
setsid sh -c './wait.run >wait.out 2>&1; echo $? >wait.status' &
for _ in $(seq 100); do grep -qs waiting "$REPORT" && break; sleep 0.1; done
group=$(ps -o pgid= -p "$(pgrep -f wait.run | head -1)" | tr -d ' ')
kill -INT -- "-$group"
wait
expect "Ctrl+C: the command was interrupted (exit 130)" test "$(cat wait.status)" = 130
expect "Ctrl+C: folder removed" no_folders
expect "Ctrl+C: outside intact" outside_intact
rm -f "$REPORT"

# --- the usage, --keep, --no-run, -o, --info ---
check "--help of an installer" 0 ./inst.run --help
expect "--help of an installer: its options" grep -qx "  --accept            accept the licence without showing it" out.txt
"$JCPACK" sfx -o plain.run app/data.txt || exit 1
check "--help of a plain self-extractor" 0 ./plain.run --help
expect "--help of a plain self-extractor: as before" sh -c '! grep -q -- --accept out.txt'

check "--keep: runs" 7 ./inst.run --keep
kept=$(sed -n 's/^Files kept in: //p' out.txt)
expect "--keep: says where, and the files are there" test -f "$kept/data.txt"
expect "--keep: ran" ran
rm -rf "$kept"
check "--no-run: extracts" 0 ./inst.run --no-run
kept=$(sed -n 's/^Files kept in: //p' out.txt)
expect "--no-run: the files are kept where it says" test -f "$kept/bin/setup.sh"
expect "--no-run: not run" test ! -e "$REPORT"
rm -rf "$kept"
check "-o: runs there" 7 ./inst.run -o given
expect "-o: in the given folder" grep -qx "folder=$HERE/given" "$REPORT"
expect "-o: files stay" test -f given/data.txt
expect "-o: no temporary folder" no_folders
rm -f "$REPORT"
check "without --temp: runs in the program's folder" 0 ./here.run -y
expect "without --temp: ran there" grep -qx "pwd=$HERE" "$REPORT"
chmod 755 bin && rm -rf "$REPORT" bin outside-link root-link data.txt
check "--info" 0 ./lic.run --info
expect "--info: what it holds and does" test "$(sed 1d out.txt)" = \
  "$(printf '%s\n' "Command: bin/setup.sh 0" "Temporary folder: yes" "Licence: yes")"
expect "--info: the files" grep -qx "Files: 2, [0-9.]* [a-zA-Z]* ([0-9.]* [a-zA-Z]* packed)" out.txt
expect "--info: ran nothing" test ! -e "$REPORT"
expect "--info: wrote nothing" no_folders

# --- the licence ---
for answer in n "" q; do
  printf '%s' "$answer" >answer.txt
  check "licence answered '$answer': exit 1" 1 sh -c './lic.run -y <answer.txt'
  expect "licence '$answer': shown whole in a pipe, then the question" \
    test "$(head -31 out.txt)" = "$(cat licence.txt; echo "Accept? [y/n]")"
  expect "licence '$answer': declined" grep -qx "Licence not accepted: nothing was written." out.txt
  expect "licence '$answer': nothing run" test ! -e "$REPORT"
  expect "licence '$answer': nothing written" no_folders
done
"$JCPACK" sfx -o lic-de.run --lang de --license licence.txt --run "bin/setup.sh 0" app/bin || exit 1
check "licence in German: declined" 1 ./lic-de.run
expect "licence in German: its words" test "$(sed -n '31,32p' out.txt)" = \
  "$(printf '%s\n' "Akzeptieren? [j/n]" "Lizenz nicht akzeptiert: nichts wurde geschrieben.")"
check "licence in German: j accepts" 0 sh -c 'echo j | ./lic-de.run -y'
expect "licence in German: ran" ran
chmod 755 bin && rm -rf bin outside-link root-link
check "licence accepted" 0 sh -c 'echo y | ./lic.run'
expect "licence accepted: ran" ran
check "--accept: not shown" 0 ./lic.run --accept
expect "--accept: ran" ran
expect "--accept: the licence was not shown" sh -c '! grep -q "Terms of use" out.txt'
if command -v script >/dev/null; then
  # On a terminal of 10 rows: 9 lines, then a prompt that goes away at a key.
  (sleep 1; printf ' '; sleep 0.3; printf 'q'; sleep 0.3; printf 'n') |
    timeout 20 script -qec "stty rows 10 cols 60; ./lic.run" /dev/null >pty.txt
  expect "licence on a terminal: paged" test "$(grep -c -- '-- more: press any key --' pty.txt)" = 2
  expect "licence on a terminal: every line shown" grep -q "line 30" pty.txt
  expect "licence on a terminal: declined" grep -q "Licence not accepted" pty.txt
else
  echo "SKIP: the licence on a terminal (no script command)"
fi
expect "licence: nothing left" no_folders

# --- a temporary file system mounted noexec: the folder goes to the cache folder ---
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: a noexec temporary folder (mounting a tmpfs takes root)"
elif mkdir noexec && mount -t tmpfs -o noexec,size=4m tmpfs noexec; then
  check "noexec: the command still runs" 7 env TMPDIR="$HERE/noexec" ./inst.run
  expect "noexec: from the cache folder" grep -q "^folder=$HERE/cache/entpacker-" "$REPORT"
  expect "noexec: removed afterwards" no_folders
  expect "noexec: nothing on the noexec file system" empty_dir noexec
  rm -f "$REPORT"
  # A file system the command mounts in its folder is not entered: the removal says what
  # it left.
  mkdir -p mounter
  printf '#!/bin/sh\nmkdir m && mount -t tmpfs -o size=1m tmpfs m && echo x >m/f && pwd -P >"$REPORT"\n' \
    >mounter/mount.sh
  chmod +x mounter/mount.sh
  "$JCPACK" sfx -o mount.run --temp --run mount.sh mounter/mount.sh || exit 1
  check "a mount in the folder: the command's exit code" 0 ./mount.run
  left=$(cat "$REPORT")
  expect "a mount in the folder: its files untouched" test "$(cat "$left/m/f")" = x
  expect "a mount in the folder: said" grep -qx \
    "Error: the temporary folder could not be removed completely: '$left'" out.txt
  umount "$left/m" && rm -rf "$left" "$REPORT"
else
  echo "SKIP: a noexec temporary folder (a tmpfs could not be mounted)"
fi

# --- self-extractors made before installers existed ---
{ cat "$STUB"; cat "$DATA/sfx-1.2.0.archive"; } >old.run
chmod +x old.run
check "made by jcpack 1.2.0: extracts" 0 ./old.run -y -o old-out
expect "made by jcpack 1.2.0: files and modes" sh -c \
  'test "$(cat old-out/alt/eins.txt)" = "erste Datei" && test -x old-out/alt/sub/zwei.sh'
expect "made by jcpack 1.2.0: in its own language" grep -q "Entpacken erfolgreich beendet!" out.txt
craft v1.part "eins.txt" "zwei/drei.txt"
{ cat "$STUB"; tail -c +6 v1.part; } >v1.run
chmod +x v1.run
check "version 1 archive: extracts" 0 ./v1.run -y -o v1-out
expect "version 1 archive: files" test "$(cat v1-out/eins.txt v1-out/zwei/drei.txt)" = hellohello
expect "old archives: no folder left" no_folders

finish "installers"
