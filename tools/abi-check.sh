#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The ABI check of the four shared libraries against the interface recorded
# in abi/ (one ABI description a library, made by abidw):
#   tools/abi-check.sh            build the libraries with debug information
#                                 in build/abi and compare each with its
#                                 recorded interface; fails when one breaks it
#   tools/abi-check.sh --update   build likewise and record their interface
#                                 as the new baseline
# BUILD_DIR=<dir> picks another build folder (default build/abi).
#
# Only what a host can see counts: the exported symbols (the libraries are
# built with hidden visibility) and the types of the installed headers, which
# the build installs into a scratch folder for abidw. Names in
# tarvenkel::detail are the libraries' own (abi/suppressions.ini).
#
# What breaks the ABI: a removed or changed exported function or variable, a
# changed layout or virtual table of a type of the installed headers. Added
# functions and variables do not. A library whose SONAME differs from the
# recorded one has declared its break: it passes, and the baseline is to be
# recorded anew with --update.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

update=0
case "${1:-}" in
  --update) update=1 ;;
  "") ;;
  *) echo "usage: $0 [--update]" >&2; exit 2 ;;
esac

build=${BUILD_DIR:-$top/build/abi}
stage=$build/abi-stage
baseline_dir=$top/abi
suppressions=$baseline_dir/suppressions.ini
libs=(tarvenkel-framework tarvenkel-framework-gui tarvenkel tarvenkel-ui)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
echo "== building the libraries with debug information in $build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVENKEL_TESTS=OFF -DTARVENKEL_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${libs[@]}"
# The headers a host gets, as the package installs them.
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" --component dev >/dev/null

# The built shared library of a target (its real file, not a link).
library_file() {
  local file
  file=$(find "$build" -maxdepth 2 -name "lib$1.so" \( -type l -o -type f \) | head -n 1)
  [[ -n $file ]] || { echo "abi-check: lib$1.so not built" >&2; return 1; }
  readlink -f "$file"
}

# The ABI description of a library file, as the baseline records it: no
# source locations or build paths, so that it changes only with the ABI.
describe() {
  abidw --headers-dir "$stage/include" --drop-private-types --suppressions "$suppressions" \
    --no-corpus-path --no-comp-dir-path --no-show-locs --no-elf-needed --out-file "$2" "$1"
}

soname_of() {
  sed -n "s/.*soname='\([^']*\)'.*/\1/p" "$1" | head -n 1
}

mkdir -p "$build/abi-current"
failed=0
for lib in "${libs[@]}"; do
  file=$(library_file "$lib")
  current=$build/abi-current/lib$lib.abi
  describe "$file" "$current"
  recorded=$baseline_dir/lib$lib.abi
  if ((update)); then
    cp "$current" "$recorded"
    echo "-- lib$lib: recorded $(soname_of "$current") in abi/lib$lib.abi"
    continue
  fi
  if [[ ! -f $recorded ]]; then
    echo "abi-check: no baseline abi/lib$lib.abi; record one with $0 --update" >&2
    failed=1
    continue
  fi
  old_soname=$(soname_of "$recorded")
  new_soname=$(soname_of "$current")
  status=0
  report=$build/abi-current/lib$lib.diff
  # --no-added-syms: functions and variables that are new break no host.
  abidiff --no-added-syms --suppressions "$suppressions" "$recorded" "$current" >"$report" 2>&1 || status=$?
  # abidiff's status is a bit set: 1 an error, 2 wrong usage, 4 a change
  # of the ABI, 8 an incompatible one (a symbol removed).
  if ((status & 3)); then
    cat "$report" >&2
    echo "abi-check: abidiff failed on lib$lib (status $status)" >&2
    failed=1
  elif ((status == 0)); then
    echo "-- lib$lib ($new_soname): the ABI is unchanged or only grew"
  elif [[ $old_soname != "$new_soname" ]]; then
    echo "-- lib$lib: SONAME moved from $old_soname to $new_soname, so the ABI may change;" \
      "record the new baseline with $0 --update"
  else
    cat "$report"
    echo "abi-check: lib$lib ($new_soname) breaks the ABI recorded in abi/lib$lib.abi" \
      "without moving its SONAME" >&2
    failed=1
  fi
done
if ((failed)); then
  exit 1
fi
echo "abi-check: ${#libs[@]} libraries checked"
