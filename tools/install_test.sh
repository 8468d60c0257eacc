#!/usr/bin/env bash
# The installed jcpack, away from the build tree.
#   install_test.sh JCPACK BUILD_DIR           `cmake --install` into a scratch prefix: the
#                                              file list, the manual pages, and the prefix
#                                              moved elsewhere making a self-extractor
#   install_test.sh JCPACK BUILD_DIR package   the Debian package made by CPack: its file
#                                              list, and its jcpack run where it is unpacked
# Only the install reaches into the build (besides two settings read from its cache); the
# built JCPACK, which the harness takes, is never run. The commands run in a scratch folder
# with a PATH of system folders only. Exit 77 (skipped) when the package's tools are
# missing.
. "$(dirname "$0")/test_harness.sh"
case $2 in /*) build=$2 ;; *) build=$OLDPWD/$2 ;; esac
mode=${3:-install}
stubdir=$(sed -n 's/^ENTPACKER_INSTALL_STUBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
export PATH=/usr/bin:/bin LC_ALL=C
umask 022

expected_files() {  # expected_files MANUAL-SUFFIX: ours under the prefix, sorted
  local stub
  {
    echo bin/jcpack
    echo "$stubdir/entpacker-stub"
    for stub in entpacker-stub-win32.exe entpacker-stub-win64.exe; do
      [ -e "$build/bin/$stub" ] && echo "$stubdir/$stub"
    done
    echo "share/man/man1/entpacker.1$1"
    echo "share/man/man1/jcpack.1$1"
  } | sort
}

# A folder, an empty file, an executable script and a file of some size.
mkdir -p "tree/sub dir/deeper" tree/empty-dir
echo hello >"tree/sub dir/deeper/a.txt"
: >tree/empty.txt
seq 1 40000 >tree/numbers.txt
printf '#!/bin/sh\necho ran\n' >tree/run.sh
chmod +x tree/run.sh

round_trip() {  # round_trip WHAT JCPACK STUB: a self-extractor made, run and compared
  rm -rf x.run out
  check "$1: sfx" 0 "$2" sfx -o x.run tree
  expect "$1: the installed stub in front" cmp -s -n "$(stat -c %s "$3")" x.run "$3"
  check "$1: extracted" 0 ./x.run -y -o out
  expect "$1: the same files" diff -r tree out/tree
  expect "$1: executable kept" test -x out/tree/run.sh
}

if [ "$mode" = package ]; then
  for tool in cpack dpkg-deb dpkg-shlibdeps file; do
    if ! command -v "$tool" >/dev/null; then
      echo "install_test: no $tool, the package is not tested (scripts/install-deps test adds it)"
      exit 77
    fi
  done
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
  check "cpack" 0 cpack -G DEB --config "$build/CPackConfig.cmake" -B "$WORK/package"
  deb=package/entpacker_${version}_$(dpkg --print-architecture).deb
  expect "package named from the project's version" test -f "$deb"
  dpkg-deb -c "$deb" >contents.txt
  awk '$6 !~ /\/$/ { sub(/^\.\/usr\//, "", $6); print $6 }' contents.txt | sort >files.txt
  expect "package file list" diff <(expected_files .gz) files.txt
  expect "jcpack and the stub executable" \
    test "$(grep -cE '^-rwxr-xr-x .*(bin/jcpack|/entpacker-stub)$' contents.txt)" -eq 2
  expect "dependencies computed" grep -q libc6 <(dpkg-deb -f "$deb" Depends)
  # Unpacked anywhere, the package's jcpack finds its stub under its own usr/.
  dpkg-deb -x "$deb" root
  round_trip package root/usr/bin/jcpack "root/usr/$stubdir/entpacker-stub"
  finish package
  exit
fi

check "install" 0 cmake --install "$build" --prefix "$WORK/prefix"
# Ours and the codec library's files (tested by jc/install_test.sh), nothing else.
(cd prefix && find . -type f | sed 's|^\./||' | grep -vE '(^|/)(libjc\.a|jc\.pc|jc/jc\.h)$' |
  sort) >files.txt
expect "installed file list" diff <(expected_files "") files.txt
if command -v groff >/dev/null; then
  for page in entpacker jcpack; do
    check "$page.1 renders" 0 groff -man -Tutf8 -ww -z "prefix/share/man/man1/$page.1"
    expect "$page.1 without warnings" test ! -s err.txt
  done
fi

# The prefix moved after installing: jcpack finds its stubs from where it now lies.
mv prefix moved
round_trip moved moved/bin/jcpack "moved/$stubdir/entpacker-stub"
for platform in win32 win64; do
  [ -e "moved/$stubdir/entpacker-stub-$platform.exe" ] || continue
  check "$platform stub found" 0 moved/bin/jcpack sfx -f --platform $platform -o x.exe tree
done

# Without its stub folder, jcpack says where it looked.
mv "moved/$stubdir" stubs-away
check "missing stub" 1 moved/bin/jcpack sfx -o y.run tree
expect "missing stub: both folders named" grep -qF \
  "looked for in $WORK/moved/bin and $WORK/moved/$stubdir)" err.txt
expect "missing stub: nothing written" test ! -e y.run
finish install
