#!/usr/bin/env bash
# consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR CXX
set -euo pipefail
build=$1 consumer=$2 cxx=$3
work=$(mktemp -d /tmp/tarvenkel-install-XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
flags=$(grep -E '^CMAKE_CXX_FLAGS:' "$build/CMakeCache.txt" | cut -d= -f2-)
sanitize=$(grep -E '^TARVENKEL_SANITIZE:' "$build/CMakeCache.txt" | cut -d= -f2-)
extra=()
[ "$sanitize" = ON ] && extra=(-fsanitize=address,undefined)

echo "== find_package(Tarvenkel)"
cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags ${extra[*]}" \
  -DCMAKE_EXE_LINKER_FLAGS="${extra[*]}" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
out_cmake=$("$work/cmake-build/host")
echo "$out_cmake"

echo "== pkg-config tarvenkel"
libdir=$(dirname "$(find "$work/prefix" -name tarvenkel.pc -print -quit)")
export PKG_CONFIG_PATH=$libdir
# shellcheck disable=SC2046
"$cxx" -std=c++20 "${extra[@]}" "$consumer/host.cpp" -o "$work/host-pc" \
  $(pkg-config --cflags --libs tarvenkel) -Wl,-rpath,"$(pkg-config --variable=libdir tarvenkel)"
out_pc=$("$work/host-pc")
echo "$out_pc"

[ "$out_cmake" = "$out_pc" ] || { echo "the two builds disagree" >&2; exit 1; }
grep -q '^version 0\.' <<<"$out_cmake"
echo "install consumer: 2 passed, 0 failed"
