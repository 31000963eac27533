#!/usr/bin/env bash
# The two quick-start jobs on a Debian 12 machine, as root:
#   tools/run.sh demo   install what is missing, build, send a notification to a
#                       local SMTP server that this script starts, show what arrived
#   tools/run.sh test   install what is missing, build, run every test in the
#                       Release and the sanitizer (ASan+UBSan) configurations
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-aiosmtpd openssl libssl-dev
  libfreetype-dev libfontconfig-dev libpng-dev libx11-dev
  fonts-arphic-uming fonts-dejavu-core xvfb x11-apps imagemagick
  clang libclang-rt-14-dev valgrind
)

# Installs the Debian packages that are not installed yet; does nothing when
# all are there.
install_missing() {
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
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
  (cd "$top/build/$name" && ctest --output-on-failure -j 2 "$@")
}

demo() {
  install_missing
  build release -DCMAKE_BUILD_TYPE=Release
  "$top/tools/demo.sh" "$top/build/release"
}

tests() {
  install_missing
  build release -DCMAKE_BUILD_TYPE=Release
  run_tests release
  build asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVENKEL_SANITIZE=ON -DTARVENKEL_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_tests asan
}

case "${1:-}" in
  demo) demo ;;
  test) tests ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
