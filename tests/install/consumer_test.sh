#!/usr/bin/env bash
# consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR CXX
# consumer_test.sh --prefix PREFIX CONSUMER_SOURCE_DIR CXX
# Installs the build (shared or static, as it was configured) into a scratch
# prefix, or takes a prefix already populated (the Debian packages unpacked
# into a scratch root), and builds the host out of tree, once through
# find_package and once through pkg-config, each with the whole library
# (tarvenkel) and with the mail-only part (Tarvenkel::mail, tarvenkel-mail);
# each host must show the module's start-up, its dialog template found
# through its registration, and its shut-down at exit, and a mail-only host
# must have no drawing library mapped. A prefix that holds the archives beside
# the shared libraries is built against both ways: the CMake package and
# pkg-config link the shared libraries, and pkg-config --static the archives.
set -euo pipefail
work=$(mktemp -d /tmp/tarvenkel-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
flags="" extra=() kinds=(shared)
if [ "$1" = --prefix ]; then
  prefix=$2 consumer=$3 cxx=$4
  [ -n "$(find "$prefix" -name libtarvenkel.a -print -quit)" ] && kinds+=(static)
else
  build=$1 consumer=$2 cxx=$3 prefix=$work/prefix
  # The libraries and what builds against them; the tools are not needed.
  for component in runtime runtime-ui dev; do
    cmake --install "$build" --prefix "$prefix" --component $component >/dev/null
  done
  cache() { grep -E "^$1:" "$build/CMakeCache.txt" | cut -d= -f2-; }
  flags=$(cache CMAKE_CXX_FLAGS)
  [ "$(cache TARVENKEL_SANITIZE)" = ON ] && extra=("-fsanitize=address,undefined")
  [ "$(cache BUILD_SHARED_LIBS)" = OFF ] && kinds=(static)
fi

# What each host must print after its version line; the template's size is
# left out.
expected="load: pre-construction hook: lists parked
load: constructed CBase64::m_sBase64Alphabet
load: constructed CMIMEMessage::m_MIMETypeManager
load: AfxInitExtensionModule
load: CDynLinkLibrary
dialog 950: N bytes, owner in the chain: yes
AfxTermExtensionModule
destroyed CMIMEMessage::m_MIMETypeManager
destroyed CBase64::m_sBase64Alphabet
pre-construction hook: nothing to do"

# check NAME OUTPUT MAIL_ONLY (yes/no)
check() {
  local name=$1 out=$2 mail_only=$3 got drawing
  grep -Eq '^version [0-9]+\.[0-9]+\.[0-9]+$' <<<"$out" || { echo "$name: no version line" >&2; return 1; }
  drawing=$(grep '^drawing libraries mapped:' <<<"$out" || true)
  if [ "$mail_only" = yes ] && [ "$drawing" != "drawing libraries mapped: none" ]; then
    echo "$name: a mail-only host loaded drawing libraries: $drawing" >&2
    return 1
  fi
  got=$(sed -e 1d -e '/^drawing libraries mapped:/d' -e 's/^dialog 950: [1-9][0-9]* bytes/dialog 950: N bytes/' <<<"$out")
  if [ "$got" != "$expected" ]; then
    echo "$name: start-up, template or shut-down not as expected:" >&2
    diff <(echo "$expected") <(echo "$got") >&2 || true
    return 1
  fi
}

# run NAME PROGRAM MAIL_ONLY: runs one host, shows and checks what it printed;
# the output is left in $out.
passed=0
run() {
  out=$("$2")
  echo "-- $1"
  echo "$out"
  check "$1" "$out" "$3"
  passed=$((passed + 1))
}

echo "== find_package(Tarvenkel), ${kinds[0]}"
cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags ${extra[*]}" \
  -DCMAKE_EXE_LINKER_FLAGS="${extra[*]}" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
run "find_package host" "$work/cmake-build/host" no
# The drawing libraries' order follows the process's memory map, which
# differs from run to run; the rest must be the same for every build.
same_part() { sed '/^drawing libraries mapped:/d' <<<"$1"; }
out_cmake=$(same_part "$out")
run "find_package mail_host" "$work/cmake-build/mail_host" yes

PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name tarvenkel.pc -print -quit)")
export PKG_CONFIG_PATH
for kind in "${kinds[@]}"; do
  echo "== pkg-config, $kind"
  for pc in tarvenkel tarvenkel-mail; do
    if [ "$kind" = static ]; then
      # The archives' own dependencies come from the private requirements;
      # beside shared libraries, the linker would take those for -l, so the
      # archives are named by path.
      libdir=$(pkg-config --variable=libdir $pc)
      pc_libs=$(pkg-config --static --libs $pc | sed -E "s|-l(tarvenkel[-a-z]*)|$libdir/lib\1.a|g")
      rpath=()
    else
      pc_libs=$(pkg-config --libs $pc)
      rpath=("-Wl,-rpath,$(pkg-config --variable=libdir $pc)")
    fi
    # shellcheck disable=SC2046,SC2086
    "$cxx" -std=c++20 "${extra[@]}" "$consumer/host.cpp" -o "$work/host-$kind-$pc" \
      $(pkg-config --cflags $pc) $pc_libs "${rpath[@]}"
    run "pkg-config $kind $pc" "$work/host-$kind-$pc" "$([ $pc = tarvenkel-mail ] && echo yes || echo no)"
    if [ $pc = tarvenkel ]; then
      [ "$out_cmake" = "$(same_part "$out")" ] || { echo "the find_package and pkg-config $kind builds disagree" >&2; exit 1; }
    fi
  done
done
echo "install consumer (${kinds[*]}): $passed passed, 0 failed"
