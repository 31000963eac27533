#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# setgid_check.sh ROOT WORK: run by deb_test.sh as root in a mount namespace
# of its own (unshare --mount). ROOT is the unpacked packages; their /usr is
# laid over the machine's and a scratch /etc/tarvenkel over /etc, seen by
# this namespace only. tarvenkel-send, setgid to a group as tarvenkel-mta
# makes it, is run by nobody: it reads the system's password file for the
# system's server and user, and no file that the user names.
set -euo pipefail
root=$1 work=$2
group=64999 secret=the-secret-word-7f3a failed=0
mount --make-rprivate /
chown root:$group "$root/usr/bin/tarvenkel-send"
chmod 2755 "$root/usr/bin/tarvenkel-send"
mount -t overlay overlay -o "lowerdir=$root/usr:/usr" /usr
mkdir -p "$work/etc-upper" "$work/etc-work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc-upper,workdir=$work/etc-work" /etc
mkdir -p /etc/tarvenkel
printf 'server = 127.0.0.1:2\nuser = alarms\npassword-file = /etc/tarvenkel/password\n' >/etc/tarvenkel/send.conf
printf '%s\n' "$secret" >/etc/tarvenkel/password
printf 'server = 127.0.0.1:2\nuser = alarms\npassword = %s\n' "$secret" >/etc/tarvenkel/other.conf
chown root:$group /etc/tarvenkel/password /etc/tarvenkel/other.conf
chmod 640 /etc/tarvenkel/password /etc/tarvenkel/other.conf

# case: expected status | words its error must hold | the options
cases=(
  "system login|0||"
  "--password-file|64|Permission denied|--password-file /etc/tarvenkel/password"
  "--config|78|Permission denied|--config /etc/tarvenkel/other.conf"
  "--server|64|serves its own server|--server 127.0.0.1:3"
  "--user|64|serves its own server|--user someone"
  "--plaintext-login|64|serves its own server|--plaintext-login"
  "--attach|*||--attach /etc/tarvenkel/password"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name want words options <<<"$entry"
  status=0
  # shellcheck disable=SC2086 # the options are words
  env -i PATH=/usr/bin:/bin HOME=/nonexistent setpriv --reuid=65534 --regid=65534 --clear-groups \
    /usr/bin/tarvenkel-send --dry-run --from alarms@example.org --to ops@example.org --subject s --body b \
    $options >"$work/out" 2>"$work/err" || status=$?
  if [ "$want" != '*' ] && [ "$status" != "$want" ]; then
    echo "FAILED: setgid $name: exit $status, not $want: $(cat "$work/err")" >&2
    failed=1
  elif [ -n "$words" ] && ! grep -q "$words" "$work/err"; then
    echo "FAILED: setgid $name: no '$words' in: $(cat "$work/err")" >&2
    failed=1
  elif grep -q "$secret" "$work/out" "$work/err"; then
    echo "FAILED: setgid $name: the secret was read" >&2
    failed=1
  fi
done
exit $failed
