#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# deb_test.sh DEB_DIR CONSUMER_SOURCE_DIR CXX
# Checks the Debian packages that tools/build-debs.sh wrote into DEB_DIR:
# what each holds (dpkg-deb -c), what each depends on (dpkg-deb -f), that
# lintian reports no error, and that a host builds and runs against them,
# unpacked into a scratch root (nothing is installed on the machine).
set -euo pipefail
debs=$1 consumer=$2 cxx=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/tarvenkel-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
failed=0 passed=0
fail() { echo "FAILED: $*" >&2; failed=$((failed + 1)); }

# Paths (extended regular expressions) that each package must hold.
declare -A holds=(
  [libtarvenkel1]="$lib/libtarvenkel-framework\.so\.1\.[0-9.]+ $lib/libtarvenkel\.so\.1\.[0-9.]+
    $lib/libtarvenkel-framework\.so\.1 $lib/libtarvenkel\.so\.1"
  [libtarvenkel-ui1]="$lib/libtarvenkel-framework-gui\.so\.1\.[0-9.]+ $lib/libtarvenkel-ui\.so\.1\.[0-9.]+
    $lib/libtarvenkel-framework-gui\.so\.1 $lib/libtarvenkel-ui\.so\.1"
  [libtarvenkel-dev]="$lib/libtarvenkel(-framework|-framework-gui|-ui)?\.so $lib/libtarvenkel-framework\.a
    $lib/libtarvenkel-framework-gui\.a $lib/libtarvenkel\.a $lib/libtarvenkel-ui\.a
    $lib/pkgconfig/tarvenkel(-mail)?\.pc $lib/cmake/Tarvenkel/TarvenkelConfig\.cmake
    usr/include/tarvenkel/smtp/smtp\.h usr/include/tarvenkel/framework/core/string\.h"
  [tarvenkel-tools]="usr/bin/tarvenkel-send usr/bin/tarvenkel-archive-dump
    usr/lib/systemd/system/tarvenkel-send-flush\.service usr/lib/systemd/system/tarvenkel-send-flush\.timer"
)
# Words that a package's Depends line must not contain: the tools and the
# mail libraries load no drawing or window library.
declare -A shuns=(
  [libtarvenkel1]="libtarvenkel-ui1 libx11 libfreetype libfontconfig libpng"
  [tarvenkel-tools]="libtarvenkel-ui1 libx11 libfreetype libfontconfig libpng"
)
# Packages of the same build that a package must depend on, at its version.
declare -A needs=(
  [libtarvenkel-ui1]="libtarvenkel1"
  [libtarvenkel-dev]="libtarvenkel1 libtarvenkel-ui1"
  [tarvenkel-tools]="libtarvenkel1"
)

for package in "${!holds[@]}"; do
  deb=$(find "$debs" -maxdepth 1 -name "${package}_*.deb" -print -quit)
  if [ -z "$deb" ]; then fail "$package: no package in $debs"; continue; fi
  echo "== $package: $(basename "$deb")"
  version=$(dpkg-deb -f "$deb" Version)
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  # Paths without the leading ./, directories without the trailing /.
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed -e 's|^\./||' -e 's|/$||' | grep -v '^$')
  before=$failed
  for path in ${holds[$package]} "usr/share/doc/$package/copyright" "usr/share/doc/$package/changelog\.Debian\.gz"; do
    grep -Eqx "$path" <<<"$contents" || fail "$package: holds no $path"
  done
  outside=$(grep -Ev '^usr(/|$)' <<<"$contents" || true)
  [ -z "$outside" ] || fail "$package: files outside /usr: $outside"
  local_=$(grep -E '^usr/local(/|$)|/internal(/|$)' <<<"$contents" || true)
  [ -z "$local_" ] || fail "$package: files under /usr/local or internal/: $local_"
  for word in ${shuns[$package]:-}; do
    ! grep -q "$word" <<<"$depends" || fail "$package: depends on $word"
  done
  for other in ${needs[$package]:-}; do
    grep -Eq "(^|, )$other \(= $version\)" <<<"$depends" || fail "$package: no dependency on $other (= $version)"
  done
  dpkg-deb -x "$deb" "$work/root"
  # The copyright file in Debian's machine-readable format, naming the licence.
  copyright=$work/root/usr/share/doc/$package/copyright
  if [ -f "$copyright" ] && ! { grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$copyright" && grep -qx 'License: Apache-2.0' "$copyright" &&
    grep -q '/usr/share/common-licenses/Apache-2.0' "$copyright"; }; then
    fail "$package: the copyright file does not name Apache-2.0 in the machine-readable format"
  fi
  [ $failed = "$before" ] && passed=$((passed + 1))
done

# Every shared library is installed under its SONAME's link.
for so in "$work/root/$lib"/*.so.*.*; do
  soname=$(readelf -d "$so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$(readlink "$work/root/$lib/$soname")" = "$(basename "$so")" ] || fail "$(basename "$so"): no link $soname"
done
# The tools run from the unpacked root and load no drawing library.
for tool in tarvenkel-send tarvenkel-archive-dump; do
  program=$work/root/usr/bin/$tool
  if ! LD_LIBRARY_PATH=$work/root/$lib "$program" --help >/dev/null; then
    fail "$tool --help failed"
  elif LD_LIBRARY_PATH=$work/root/$lib ldd "$program" | grep -E 'libtarvenkel-ui|libX11|libfreetype|libfontconfig|libpng'; then
    fail "$tool loads drawing libraries"
  fi
done
# Nothing installed points back into the build or source tree.
if grep -rlI -e "$(cd "$here/../.." && pwd)" -e "$(cd "$debs" && pwd)" "$work/root"; then
  fail "files name the build or source tree"
fi

echo "== tarvenkel-mta"
mta=$(find "$debs" -maxdepth 1 -name 'tarvenkel-mta_*.deb' -print -quit)
if [ -z "$mta" ]; then
  fail "tarvenkel-mta: no package in $debs"
else
  before=$failed
  version=$(dpkg-deb -f "$mta" Version)
  for field in Provides Conflicts Replaces; do
    [ "$(dpkg-deb -f "$mta" $field)" = mail-transport-agent ] || fail "tarvenkel-mta: $field is not mail-transport-agent"
  done
  grep -Eq "(^|, )tarvenkel-tools \(= $version\)" <<<"$(dpkg-deb -f "$mta" Depends)" ||
    fail "tarvenkel-mta: no dependency on tarvenkel-tools (= $version)"
  listing=$(dpkg-deb -c "$mta")
  for link in usr/sbin/sendmail usr/lib/sendmail; do
    grep -Eq "^l.* \./$link -> \.\./bin/tarvenkel-send$" <<<"$listing" || fail "tarvenkel-mta: $link is no link to tarvenkel-send"
  done
  extra=$(awk '{print $6}' <<<"$listing" | sed -e 's|^\./||' -e 's|/$||' |
    grep -Evx 'etc|etc/tarvenkel|etc/tarvenkel/send\.conf|usr|usr/(s?bin|lib|share|share/doc)|usr/s?bin/sendmail|usr/lib/sendmail|usr/share/doc/tarvenkel-mta(/.*)?|' || true)
  [ -z "$extra" ] || fail "tarvenkel-mta: holds more than its links and send.conf: $extra"
  control=$work/mta-control
  mkdir -p "$control"
  dpkg-deb -e "$mta" "$control"
  [ "$(dpkg-deb --ctrl-tarfile "$mta" | tar -xO ./conffiles)" = /etc/tarvenkel/send.conf ] ||
    fail "tarvenkel-mta: /etc/tarvenkel/send.conf is not its one conffile"
  # The maintainer scripts: mail and mailx as alternatives, the group, the
  # setgid override, and all of it taken back again.
  for pattern in 'postinst:update-alternatives --install /usr/bin/mailx mailx "\$send" [0-9]+' \
    'postinst:--slave /usr/bin/mail mail "\$send"' 'postinst:^send=/usr/bin/tarvenkel-send$' \
    'postinst:addgroup --system --quiet tarvenkel' \
    'postinst:dpkg-statoverride --update --add root tarvenkel 2755 "\$send"' \
    'prerm:update-alternatives --remove mailx /usr/bin/tarvenkel-send' 'postrm:dpkg-statoverride --remove "\$send"' \
    'postrm:delgroup --system --quiet tarvenkel'; do
    grep -Eq -- "${pattern#*:}" "$control/${pattern%%:*}" || fail "tarvenkel-mta: ${pattern%%:*} lacks ${pattern#*:}"
  done
  for script in postinst prerm postrm; do sh -n "$control/$script" || fail "tarvenkel-mta: $script is no valid sh"; done
  dpkg-deb -x "$mta" "$work/root"
  [ "$(readlink -f "$work/root/usr/sbin/sendmail")" = "$work/root/usr/bin/tarvenkel-send" ] ||
    fail "tarvenkel-mta: /usr/sbin/sendmail does not lead to tarvenkel-send"
  # Every key the tool knows is in the example, commented out.
  conf=$work/root/etc/tarvenkel/send.conf
  for key in server port security cafile user password password-file plaintext-login from timeout charset \
    short-dialogue aliases default-domain log-file; do
    grep -q "^#$key =" "$conf" || fail "tarvenkel-mta: send.conf lacks #$key"
  done
  # It sets one key: the queue the package makes, root's.
  ! grep -Ev '^(#.*)?$|^queue = /var/spool/tarvenkel$' "$conf" || fail "tarvenkel-mta: send.conf sets a key but queue"
  [ $failed = "$before" ] && passed=$((passed + 1))
fi

echo "== lintian"
lintian_out=$(lintian "$debs"/*.deb 2>&1 | grep -v 'running with root privileges' || true)
echo "$lintian_out"
echo "lintian: $(grep -c '^E:' <<<"$lintian_out" || true) errors, $(grep -c '^W:' <<<"$lintian_out" || true) warnings"
if grep -q '^E:' <<<"$lintian_out"; then fail "lintian reports errors"; else passed=$((passed + 1)); fi

echo "== a host built against the unpacked packages"
if bash "$here/consumer_test.sh" --prefix "$work/root/usr" "$consumer" "$cxx"; then
  passed=$((passed + 1))
else
  fail "install consumer against the packages"
fi
# Runs a check script as root in a mount namespace of its own: TITLE, the
# failure's text, the script and its arguments.
namespace_check() {
  local title=$1 failure=$2
  shift 2
  echo "== $title"
  if [ "$(id -u)" != 0 ] || ! unshare --mount true 2>/dev/null; then
    echo "skipped: needs root and mount namespaces"
  elif unshare --mount --fork bash "$@"; then
    passed=$((passed + 1))
  else
    fail "$failure"
  fi
}
namespace_check "tarvenkel-send setgid, as tarvenkel-mta makes it" \
  "tarvenkel-send setgid lets a user read the group's files, or not the system's login" \
  "$here/setgid_check.sh" "$work/root" "$work"
namespace_check "tarvenkel-mta installed, used and purged in a scratch copy of the machine" \
  "tarvenkel-mta install, use or purge" "$here/mta_install_check.sh" "$debs" "$(cd "$here/../.." && pwd)"
echo "packages: $passed passed, $failed failed"
[ $failed = 0 ]
