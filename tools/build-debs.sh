#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# tools/build-debs.sh: builds the Debian packages into build/deb/*.deb.
#   build/deb/static  the libraries as archives (-DBUILD_SHARED_LIBS=OFF)
#   build/deb/shared  the shared libraries and the tools, installed to /usr,
#                     with the static build's archives beside them
# Both use Debian's hardening flags (dpkg-buildflags) on top of the Release
# build. Needs dpkg-dev (dpkg-shlibdeps) besides the build dependencies.
#
# STATIC_BUILD=DIR takes the archives from DIR, a static build configured
# with the same flags (`build-debs.sh --flags` prints them, one a line), as
# tools/run.sh's static test stage is, instead of building them again.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
out=$top/build/deb
jobs=${JOBS:-$(nproc)}

# The project's Release optimisation stands; no debug information, which the
# packages would strip again.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g
cppflags=$(dpkg-buildflags --get CPPFLAGS)
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
  -DTARVENKEL_TESTS=OFF -DTARVENKEL_BENCH=OFF
  "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $cppflags"
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $cppflags"
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
  "-DCMAKE_SHARED_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)")

if [ "${1:-}" = --flags ]; then
  printf '%s\n' "${common[@]}"
  exit 0
fi

archives=(tarvenkel-framework tarvenkel-framework-gui tarvenkel tarvenkel-ui)
static=$out/static
if [ -n "${STATIC_BUILD:-}" ]; then
  # The archives are those of that build only when it was made with these flags.
  static=$STATIC_BUILD
  for flag in "${common[@]}"; do
    if [[ $flag == -DCMAKE_*_FLAGS=* ]] && ! grep -qxF "${flag#-D}" <(sed 's/:[A-Z]*=/=/' "$static/CMakeCache.txt"); then
      echo "$static was not configured with $flag" >&2
      exit 1
    fi
  done
  echo "== the archives of $static"
else
  echo "== building the archives"
  cmake -S "$top" -B "$static" "${common[@]}" -DBUILD_SHARED_LIBS=OFF >/dev/null
fi
cmake --build "$static" -j "$jobs" --target "${archives[@]}"

# Only what the packages hold: the four libraries, the two installed tools
# and their manual pages (when scdoc is there), not the demo programs.
echo "== building the shared libraries and the tools"
cmake -S "$top" -B "$out/shared" "${common[@]}" -DTARVENKEL_STATIC_ARCHIVES_FROM="$static" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
targets=(tarvenkel-framework tarvenkel-framework-gui tarvenkel tarvenkel-ui tarvenkel-send tarvenkel-archive-dump)
if grep -q '^TARVENKEL_SCDOC:FILEPATH=/' "$out/shared/CMakeCache.txt"; then targets+=(man-pages); fi
cmake --build "$out/shared" -j "$jobs" --target "${targets[@]}"

echo "== packaging"
rm -f "$out"/*.deb
(cd "$out/shared" && cpack -G DEB -B "$out/shared/packages" >/dev/null)
mv "$out"/shared/packages/*.deb "$out"/
ls -1 "$out"/*.deb
