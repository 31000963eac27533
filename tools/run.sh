#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The two quick-start jobs on a Debian 12 machine, as root:
#   tools/run.sh demo   install what the demo needs, build the libraries and the
#                       two programs it runs, send a notification to a local
#                       SMTP server that this script starts, show what arrived
#   tools/run.sh test [STAGE...]
#                       install what is missing, build, run every test in the
#                       Release and the sanitizer (ASan+UBSan) configurations,
#                       the start-up, mail and install tests in a static
#                       build, the Debian packages (built, their contents and
#                       lintian checked, a host built against them unpacked),
#                       the concurrency tests under ThreadSanitizer, the mail
#                       and record tests under valgrind memcheck, each fuzz
#                       target for a bounded time under libFuzzer, and the
#                       libraries' ABI against the baseline in abi/; with
#                       stage names (release_stage, asan_stage, ...) only those
# Tests labelled "soak" are long and run only on request:
#   (cd build/release && ctest -L soak --output-on-failure)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

# What the demo needs: the compiler and build tools, OpenSSL for the network
# layer, libcurl and nlohmann-json for tarvenkel-send's OAuth2 login,
# FreeType, fontconfig, libpng and Xlib for the drawing and window
# layer, the fonts the dialog (宋体: AR PL UMing) and the gallery (DejaVu)
# draw with, and Debian's aiosmtpd for the local SMTP server.
demo_packages=(
  build-essential cmake ninja-build pkg-config
  libssl-dev libcurl4-openssl-dev nlohmann-json3-dev libfreetype-dev libfontconfig-dev libpng-dev libx11-dev
  fonts-arphic-uming fonts-dejavu-core
  python3 python3-aiosmtpd
)
# What the tests need besides: GoogleTest and Google Benchmark; private
# instances of Postfix (and openssl for test certificates) on 127.0.0.1, no
# system mail service is set up; MIME-tools to read messages back; Xvfb, xwd
# and ImageMagick for the X11 tests; clang for the fuzz targets, valgrind;
# Doxygen for the API reference check; scdoc for the manual pages; dpkg-dev
# (dpkg-shlibdeps) and lintian to make and check the Debian packages.
packages=(
  "${demo_packages[@]}"
  dpkg-dev lintian
  libgtest-dev libgmock-dev libbenchmark-dev
  postfix openssl libmime-tools-perl libgmime-3.0-dev
  xvfb x11-apps imagemagick
  clang libclang-rt-14-dev valgrind
  doxygen graphviz
  scdoc
  abigail-tools
)

# Installs the Debian packages named that are not installed yet; does
# nothing when all are there.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
    # Postfix installs without a configuration of its own and starts nothing.
    echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# Configures and builds one configuration into build/<name>.
build() {
  local name=$1
  shift
  echo "== building $name"
  cmake -S "$top" -B "$top/build/$name" -G Ninja "$@" >/dev/null
  cmake --build "$top/build/$name" -j "$(nproc)"
}

run_tests() {
  local name=$1
  shift
  echo "== testing $name"
  (cd "$top/build/$name" && ctest --output-on-failure -j 2 -LE soak "$@")
}

# The names of the tests that ctest selects in build/<name> with the options
# given; a test's program has its name.
tests_selected() {
  local name=$1
  shift
  (cd "$top/build/$name" && ctest -N -LE soak "$@") | sed -n 's/^ *Test *#[0-9]*: *//p'
}

# The sanitizer builds optimise at -O1, as the sanitizers advise: the code
# they check is fast enough there, and it builds in much less time than at -O2.
sanitizer_flags=("-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG")

# The concurrency tests under ThreadSanitizer. Only their programs are built.
tsan_tests() {
  echo "== building tsan"
  cmake -S "$top" -B "$top/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${sanitizer_flags[@]}" \
    -DTARVENKEL_TSAN=ON -DTARVENKEL_BENCH=OFF >/dev/null
  local targets
  mapfile -t targets < <(tests_selected tsan -L concurrency)
  if ((${#targets[@]} == 0)); then
    echo "no tests labelled concurrency" >&2
    return 1
  fi
  cmake --build "$top/build/tsan" -j "$(nproc)" --target "${targets[@]}"
  TARVENKEL_TIME_SCALE=4 TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_tests tsan -L concurrency
}

# The static configuration: the framework and the module as archives linked
# into each program. What can differ from the shared build is whether the
# module's start-up and resource registration are linked in and run in their
# order, so to keep CI short only the tests that see that are built and run:
# the module's start-up and shut-down order, the record tests, the extension chain, the
# progress dialog's resources, the base64 and MIME message tests (the classes
# that use the start-up's two objects), and the installed static package
# built against by an out-of-tree host (find_package and pkg-config
# --static). The rest of the suite runs the same code in the shared build.
# It is configured as the Debian packages are (Debian's hardening flags, for
# /usr), so that the package stage takes its archives instead of building
# them again.
static_tests() {
  echo "== building static"
  local deb_flags
  mapfile -t deb_flags < <("$top/tools/build-debs.sh" --flags)
  cmake -S "$top" -B "$top/build/static" "${deb_flags[@]}" -DBUILD_SHARED_LIBS=OFF -DTARVENKEL_TESTS=ON >/dev/null
  local selection='^(record_.*|module_.*|mail_base64_test|mail_mime_message_test|framework_extension_module_test|ui_net_connect_test|install_consumer)$'
  local targets
  # install_consumer has no program of its own; it installs the four archives.
  mapfile -t targets < <(tests_selected static -R "$selection" | grep -vx install_consumer)
  cmake --build "$top/build/static" -j "$(nproc)" --target tarvenkel tarvenkel-ui tarvenkel-framework tarvenkel-framework-gui "${targets[@]}"
  run_tests static -R "$selection"
}

# The Debian packages (tools/build-debs.sh into build/deb), checked by what
# they hold and depend on, by lintian, and by a host built against them
# unpacked into a scratch root.
package_tests() {
  STATIC_BUILD=$top/build/static JOBS=$(nproc) "$top/tools/build-debs.sh"
  bash "$top/tests/install/deb_test.sh" "$top/build/deb" "$top/tests/install/consumer" c++
}

# The Release build's mail and record test programs under valgrind memcheck:
# any memory error or definitely or indirectly lost block fails the run.
# Children (python, servers) are not traced.
valgrind_tests() {
  echo "== valgrind memcheck: mail and record tests"
  local program failed=0 count=0
  for program in "$top"/build/release/tests/mail/*_test "$top"/build/release/tests/record/*_test; do
    [[ -x $program ]] || continue
    count=$((count + 1))
    echo "-- $(basename "$program")"
    if ! TARVENKEL_TIME_SCALE=20 valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --error-exitcode=1 --trace-children=no "$program" --gtest_brief=1; then
      echo "valgrind: $(basename "$program") FAILED" >&2
      failed=1
    fi
  done
  if ((count == 0)); then
    echo "valgrind: no test programs found" >&2
    return 1
  fi
  echo "valgrind: $count programs checked"
  return $failed
}

# Every fuzz target under clang, libFuzzer, ASan and UBSan for a bounded time,
# starting from its committed seeds; new inputs go to a scratch folder so the
# repository's corpus is not changed. libFuzzer runs on one core, so the
# targets run as many at a time as there are cores, 10 s each unless
# FUZZ_SECONDS says otherwise.
fuzz_one() {
  local name=$1 corpus scratch
  corpus=$top/tests/fuzz/corpus/${name%_fuzz}
  scratch=$top/build/fuzz/scratch/$name
  rm -rf "$scratch" && mkdir -p "$scratch"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$top/build/fuzz/tests/fuzz/$name" -max_total_time="${FUZZ_SECONDS:-10}" -print_final_stats=1 \
    -artifact_prefix="$top/build/fuzz/$name-" "$scratch" "$corpus" >"$top/build/fuzz/$name.log" 2>&1
}

fuzz_tests() {
  echo "== building fuzz"
  CC=clang CXX=clang++ cmake -S "$top" -B "$top/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVENKEL_FUZZ=ON -DTARVENKEL_BENCH=OFF >/dev/null
  local sources=("$top"/tests/fuzz/*_fuzz.cpp) targets=() src
  for src in "${sources[@]}"; do targets+=("$(basename "$src" .cpp)"); done
  cmake --build "$top/build/fuzz" -j "$(nproc)" --target "${targets[@]}"
  local jobs i k failed=0 name
  jobs=$(nproc)
  for ((i = 0; i < ${#targets[@]}; i += jobs)); do
    local batch=("${targets[@]:i:jobs}") pids=() statuses=()
    echo "-- fuzzing ${batch[*]} for ${FUZZ_SECONDS:-10} s"
    for name in "${batch[@]}"; do
      fuzz_one "$name" &
      pids+=($!)
    done
    for k in "${!pids[@]}"; do
      statuses[k]=0
      wait "${pids[k]}" || statuses[k]=$?
    done
    for k in "${!batch[@]}"; do
      name=${batch[k]}
      echo "-- $name"
      grep -E '^(stat::number_of_executed_units|Done [0-9]+ runs)' "$top/build/fuzz/$name.log" || true
      if ((statuses[k] != 0)); then
        tail -n 60 "$top/build/fuzz/$name.log" >&2
        echo "fuzz: $name FAILED (exit ${statuses[k]})" >&2
        failed=1
      fi
    done
  done
  return $failed
}

# The four libraries' ABI against the recorded one (tools/abi-check.sh), in a
# build of only the libraries with debug information.
abi_tests() {
  "$top/tools/abi-check.sh"
}

# The demo builds the libraries and the two programs it runs, no tests and no
# benchmarks, into build/release, which the test job completes later.
demo() {
  install_missing "${demo_packages[@]}"
  echo "== building the demo"
  cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTARVENKEL_TESTS=OFF -DTARVENKEL_BENCH=OFF >/dev/null
  cmake --build "$top/build/release" -j "$(nproc)" --target tarvenkel-demo tarvenkel-gallery
  "$top/tools/demo.sh" "$top/build/release"
}

# Runs one stage of the test job and says how long it took.
stage() {
  local start=$SECONDS
  "$@"
  echo "== $1 took $((SECONDS - start)) s"
}

# The tests and benchmarks are switched on by name, since a demo run may have
# configured build/release without them.
release_stage() {
  build release -DCMAKE_BUILD_TYPE=Release -DTARVENKEL_TESTS=ON -DTARVENKEL_BENCH=ON
  run_tests release
}

# The API reference check reads only the headers: the Release run covers it.
# Time bounds in the tests get four times their slack (TARVENKEL_TIME_SCALE),
# here and under ThreadSanitizer, and twenty times under valgrind: the code
# runs several times slower there, and a bound meant to catch a hang must
# not catch that.
asan_stage() {
  build asan -DCMAKE_BUILD_TYPE=RelWithDebInfo "${sanitizer_flags[@]}" -DTARVENKEL_SANITIZE=ON -DTARVENKEL_BENCH=OFF
  TARVENKEL_TIME_SCALE=4 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_tests asan -E '^(docs|install_consumer)$'
}

# The stages in order; the package stage takes the static stage's archives.
all_stages=(release_stage asan_stage static_tests package_tests tsan_tests valgrind_tests fuzz_tests abi_tests)

tests() {
  stage install_missing "${packages[@]}"
  local name
  for name in "${all_stages[@]}"; do stage "$name"; done
}

# `test STAGE...` runs only the stages named, in that order (after a full
# run, to repeat one).
case "${1:-}" in
  demo) demo ;;
  test)
    shift
    if (($# == 0)); then
      tests
    else
      for name in "$@"; do
        [[ " ${all_stages[*]} " == *" $name "* ]] || { echo "no stage $name; stages: ${all_stages[*]}" >&2; exit 2; }
        stage "$name"
      done
    fi
    ;;
  *) echo "usage: $0 demo | test [STAGE...]" >&2; exit 2 ;;
esac
