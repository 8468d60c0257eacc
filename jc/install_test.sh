#!/usr/bin/env bash
# Installs the codec library from a build into a scratch prefix and builds another program
# against it through pkg-config alone: the program compresses a buffer, decodes it and
# checks the round trip and the documented failure results.
#   jc/install_test.sh BUILD_DIR CXX
set -euo pipefail
build=$1
cxx=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
pc=$(find "$work/prefix" -name jc.pc)
[ -n "$pc" ] || { echo "install_test: no jc.pc installed" >&2; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc")

cat >"$work/user.cpp" <<'CPP'
#include <jc/jc.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main() {
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t((i * 7) % 251 ^ (i >> 9));
  std::vector<uint8_t> block(jc_compress_bound(data.size()));
  size_t written = 0;
  if (jc_compress(data.data(), data.size(), 6, block.data(), block.size(), &written) !=
      JcStatus::ok) return 1;
  if (written == 0 || written >= data.size()) return 2;
  std::vector<uint8_t> back(data.size());
  if (jc_decode(block.data(), written, back.data(), back.size()) != data.size()) return 3;
  if (std::memcmp(back.data(), data.data(), data.size()) != 0) return 4;
  if (jc_decode(block.data(), written, back.data(), back.size() - 1) != 0) return 5;
  if (jc_compress(data.data(), data.size(), 10, block.data(), block.size(), &written) !=
      JcStatus::bad_argument) return 6;
  std::puts("ok");
  return 0;
}
CPP
# shellcheck disable=SC2046
"$cxx" -std=c++20 -o "$work/user" "$work/user.cpp" $(pkg-config --cflags --libs jc)
out=$("$work/user")
[ "$out" = ok ] || { echo "install_test: the installed library failed: $out" >&2; exit 1; }
echo "install_test: built and ran a program against $(pkg-config --modversion jc)"
