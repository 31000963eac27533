#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR CXX
# consumer_test.sh --prefix PREFIX CONSUMER_SOURCE_DIR CXX
# Installs the build (shared or static, as it was configured) into a scratch
# prefix, or takes a prefix already populated (the Debian packages unpacked
# into a scratch root), and builds the host out of tree, once through
# find_package and once through pkg-config, each with the whole library
# (tarvenkel) and with the mail-only part (Tarvenkel::mail, tarvenkel-mail);
# each host must show the module's start-up, its dialog template found
# through its registration, and its shut-down at exit, and a mail-only host
# must have no drawing library mapped. A third host shows only the progress
# dialog and is linked with the ui library alone (Tarvenkel::ui, pkg-config
# tarvenkel): it must find the dialog's template, which the module holds.
# Neither the CMake file nor the compiler line asks for C++20: the package
# must. A prefix that holds the archives beside the shared libraries is built
# against both ways: the CMake package and pkg-config link the shared
# libraries, and pkg-config --static the archives.
#
# A prefix this script installs itself also gets the tools, which must run
# from it without LD_LIBRARY_PATH (unless the build was made for /usr, which
# sets no run path), and, for a shared build without sanitizers, the code
# blocks of README.md are built against it (readme_snippets.py).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/tarvenkel-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
flags="" extra=() kinds=(shared) installed_here=no
if [ "$1" = --prefix ]; then
  prefix=$2 consumer=$3 cxx=$4
  [ -n "$(find "$prefix" -name libtarvenkel.a -print -quit)" ] && kinds+=(static)
else
  build=$1 consumer=$2 cxx=$3 prefix=$work/prefix installed_here=yes
  # The tools when this build made them (a stage may build only the libraries and some tests).
  components=(runtime runtime-ui dev)
  [ -x "$build/tools/tarvenkel-send" ] && [ -x "$build/tools/tarvenkel-archive-dump" ] && components+=(tools)
  for component in "${components[@]}"; do
    cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
  done
  cache() { grep -E "^$1:" "$build/CMakeCache.txt" | cut -d= -f2-; }
  flags=$(cache CMAKE_CXX_FLAGS)
  [ "$(cache TARVENKEL_SANITIZE)" = ON ] && extra=("-fsanitize=address,undefined")
  [ "$(cache BUILD_SHARED_LIBS)" = OFF ] && kinds=(static)
  [[ $(cache CMAKE_INSTALL_PREFIX) =~ ^/usr/?$ ]] && installed_here=for-usr
fi
if [ $installed_here != yes ]; then
  # Files made for /usr carry no run path: there the loader finds the
  # libraries itself. Here the folder they were put in stands in for it.
  LD_LIBRARY_PATH=$(dirname "$(find "$prefix" -name 'libtarvenkel.so*' -print -quit)")
  export LD_LIBRARY_PATH
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

# run_dialog NAME PROGRAM: runs a dialog host and checks that it showed the dialog.
run_dialog() {
  local out
  out=$("$2") || { echo "$1: $out" >&2; return 1; }
  echo "-- $1"
  echo "$out"
  [ "$out" = "dialog: shown, status Connecting" ] || { echo "$1: unexpected output" >&2; return 1; }
  passed=$((passed + 1))
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
run_dialog "find_package dialog_host (Tarvenkel::ui)" "$work/cmake-build/dialog_host"

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
    "$cxx" "${extra[@]}" "$consumer/host.cpp" -o "$work/host-$kind-$pc" \
      $(pkg-config --cflags $pc) $pc_libs "${rpath[@]}"
    run "pkg-config $kind $pc" "$work/host-$kind-$pc" "$([ $pc = tarvenkel-mail ] && echo yes || echo no)"
    if [ $pc = tarvenkel ]; then
      [ "$out_cmake" = "$(same_part "$out")" ] || { echo "the find_package and pkg-config $kind builds disagree" >&2; exit 1; }
      # shellcheck disable=SC2046,SC2086
      "$cxx" "${extra[@]}" "$consumer/dialog_host.cpp" -o "$work/dialog-host-$kind" \
        $(pkg-config --cflags $pc) $pc_libs "${rpath[@]}"
      run_dialog "pkg-config $kind dialog_host" "$work/dialog-host-$kind"
    fi
  done
done

if [ $installed_here = yes ] && [ -x "$prefix/bin/tarvenkel-send" ]; then
  echo "== the tools run from the prefix without LD_LIBRARY_PATH"
  for tool in tarvenkel-send tarvenkel-archive-dump; do
    env -u LD_LIBRARY_PATH "$prefix/bin/$tool" --help >/dev/null || { echo "$prefix/bin/$tool --help failed" >&2; exit 1; }
    echo "$tool --help: ok"
    passed=$((passed + 1))
  done
fi

if [ $installed_here != no ] && [ "${kinds[0]}" = shared ] && [ ${#extra[@]} = 0 ]; then
  echo "== the code blocks of README.md"
  for project in $(/usr/bin/python3 "$here/readme_snippets.py" "$here/../../README.md" "$work/readme"); do
    if [ ! -f "$project/CMakeLists.txt" ]; then
      # The fragments: a host that links the whole library, its CMake file
      # no more than find_package and target_link_libraries.
      printf '%s\n' 'cmake_minimum_required(VERSION 3.20)' 'project(ReadmeFragments CXX)' \
        'find_package(Tarvenkel REQUIRED)' 'add_executable(fragments fragments.cpp)' \
        'target_link_libraries(fragments PRIVATE Tarvenkel::tarvenkel)' >"$project/CMakeLists.txt"
    fi
    cmake -S "$project" -B "$project/build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_CXX_FLAGS="$flags" >/dev/null
    cmake --build "$project/build" >"$project/build.log" 2>&1 ||
      { cat "$project/build.log" >&2; echo "README: $(basename "$project") does not build" >&2; exit 1; }
    echo "$(basename "$project"): built"
    passed=$((passed + 1))
  done
fi
echo "install consumer (${kinds[*]}): $passed passed, 0 failed"
