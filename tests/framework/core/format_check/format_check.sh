#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# format_check.sh CXX SOURCE_DIR
# Compiles each variant of format_call.cpp with the build's compiler and
# warning flags: the right calls must compile, and every wrong one must fail
# with the diagnostic that names its fault, not for some other reason.
set -uo pipefail
cxx=$1 src=$2
call="$(dirname "$0")/format_call.cpp"
failed=0

# compile VARIANT: the compiler's output; the status is the compiler's.
compile() {
  "$cxx" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$src" -D"$1" "$call" 2>&1
}

if ! out=$(compile RIGHT); then
  echo "RIGHT: does not compile:" >&2
  echo "$out" >&2
  failed=1
fi

# Each wrong variant with a pattern its diagnostic must match: a format
# warning made an error, or the deleted overload that takes class objects.
for check in "SWAPPED:W(error=)?format" "APPEND:W(error=)?format" "OBJECT:deleted"; do
  variant=${check%%:*} pattern=${check#*:}
  if out=$(compile "$variant"); then
    echo "$variant: compiles, but must be rejected" >&2
    failed=1
  elif ! grep -qE -e "$pattern" <<<"$out"; then
    echo "$variant: rejected without a diagnostic matching '$pattern':" >&2
    echo "$out" >&2
    failed=1
  else
    echo "$variant: rejected as expected"
  fi
done
exit $failed
