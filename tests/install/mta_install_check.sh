#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# mta_install_check.sh DEBS TOP: run by deb_test.sh as root in a mount
# namespace of its own (unshare --mount --fork). tarvenkel-mta is installed
# with apt, used and purged in a scratch copy of this machine: an overlay of
# / whose changes go to a tmpfs that this namespace alone sees, so the
# machine's own mail agent stays. In between, the README's mail of cron,
# smartd and mdadm goes through the installed links to aiosmtpd, mail for a
# relay that is down waits in root's queue until a flush, and another user's
# mail goes without the queue. After the purge, what the package made is gone.
set -euo pipefail
debs=$1 top=$2
failed=0
fail() { echo "FAILED: $*"; failed=1; }

mount --make-rprivate /
scratch=$(mktemp -d)
mount -t tmpfs tmpfs "$scratch"
mkdir -p "$scratch/upper" "$scratch/work" "$scratch/root" "$scratch/spool"
root=$scratch/root
mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$root"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mkdir -p "$root/tmp/debs"
cp "$debs"/libtarvenkel1_*.deb "$debs"/tarvenkel-tools_*.deb "$debs"/tarvenkel-mta_*.deb "$root/tmp/debs/"
# No service starts or stops in the scratch copy.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }

# What the package makes, and must take back.
state() {
  in_root sh -c 'getent group tarvenkel; dpkg-statoverride --list /usr/bin/tarvenkel-send;
    update-alternatives --query mailx 2>/dev/null | grep "^Value"; ls -d /var/spool/tarvenkel /etc/tarvenkel 2>/dev/null;
    find /etc/systemd /var/lib/systemd -name "*tarvenkel*" 2>/dev/null; true'
}
before=$(state)

echo "== apt install of the packages (the scratch copy's mail agent goes)"
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends /tmp/debs/*.deb' >"$scratch/apt.log" 2>&1 ||
  { cat "$scratch/apt.log"; fail "apt install"; }
[ "$(in_root stat -c %a:%G /usr/bin/tarvenkel-send)" = 2755:tarvenkel ] || fail "tarvenkel-send is not setgid tarvenkel"
[ "$(in_root readlink -f /usr/sbin/sendmail)" = /usr/bin/tarvenkel-send ] || fail "sendmail is not tarvenkel-send"
[ "$(in_root readlink -f /usr/bin/mail)" = /usr/bin/tarvenkel-send ] || fail "mail is not tarvenkel-send"
[ "$(in_root stat -c %a:%U /var/spool/tarvenkel)" = 700:root ] || fail "no private queue /var/spool/tarvenkel"
in_root test -L /etc/systemd/system/timers.target.wants/tarvenkel-send-flush.timer || fail "the flush timer is not enabled"

echo "== the README's mail of cron, smartd and mdadm, through the installed links"
coproc server { exec /usr/bin/python3 "$top/tools/local_smtp_server.py" --spool "$scratch/spool" --stdin-lifetime; }
read -r _ port <&"${server[0]}"
{
  printf 'server = 127.0.0.1:%s\nfrom = Station 7 <alarms@example.org>\naliases = /etc/aliases\n' "$port"
  printf 'default-domain = station7.example.org\nqueue = /var/spool/tarvenkel\nlog-file = /var/log/tarvenkel-send.log\n'
} >"$root/etc/tarvenkel/send.conf"
printf 'postmaster: root\nroot: ops@example.org, duty@example.org\n' >"$root/etc/aliases"
awk '/^Then each source.s mail/ {on = 1} on && /^```sh$/ {code = 1; next} code && /^```$/ {exit} code' \
  "$top/README.md" >"$root/tmp/sources.sh"
grep -q 'mail -s' "$root/tmp/sources.sh" || fail "the README's commands were not found"
in_root sh -e /tmp/sources.sh || fail "the README's commands"
count() { find "$scratch/spool" -name '*.eml' | wc -l; }
for _ in $(seq 100); do [ "$(count)" -ge 3 ] && break; sleep 0.1; done
[ "$(count)" = 3 ] || fail "$(count) of the README's 3 messages arrived"
for json in "$scratch"/spool/*.json; do
  grep -q '"rcpt_tos": \["ops@example.org", "duty@example.org"\]' "$json" || fail "not sent to root's aliases: $(cat "$json")"
done

echo "== mail for a relay that is down waits in root's queue"
queued=$(echo "array degraded" | in_root sendmail --server 127.0.0.1:1 root) || fail "queueing exits non-zero"
[[ $queued == queued\ * ]] || fail "not queued: $queued"
in_root tarvenkel-send --list-queue | grep -q "to: ops@example.org, duty@example.org" || fail "the queue does not list it"
in_root tarvenkel-send --flush --retry-now >/dev/null || fail "the flush"
for _ in $(seq 100); do [ "$(count)" -ge 4 ] && break; sleep 0.1; done
[ "$(count)" = 4 ] || fail "the queued message did not arrive with the flush"
grep -q "status=sent" "$root/var/log/tarvenkel-send.log" || fail "no status=sent in the delivery log"

echo "== another user's mail goes without root's queue"
echo "job output" | in_root setpriv --reuid=65534 --regid=65534 --clear-groups mail -s "from nobody" root ||
  fail "nobody's mail"
for _ in $(seq 100); do [ "$(count)" -ge 5 ] && break; sleep 0.1; done
[ "$(count)" = 5 ] || fail "nobody's mail did not arrive"

echo "== apt purge takes back what the package made"
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get purge -y tarvenkel-mta' >"$scratch/purge.log" 2>&1 ||
  { cat "$scratch/purge.log"; fail "apt purge"; }
after=$(state)
[ "$after" = "$before" ] || fail "after the purge: $after; before: $before"
[ "$(in_root stat -c %a /usr/bin/tarvenkel-send)" = 755 ] || fail "tarvenkel-send is still setgid"
exec {server[1]}>&-
[ $failed = 0 ] && echo "installed, used and purged"
exit $failed
