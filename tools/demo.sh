#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The main job: starts a local SMTP server on 127.0.0.1, sends a notification
# through the library to it, shows what the server received, and writes the
# drawing gallery (the frame, text block and status bar helpers) as a PNG.
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/tarvenkel-demo-XXXXXX)
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT

/usr/bin/python3 "$top/tools/local_smtp_server.py" --spool "$work/spool" --auth demo:secret >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do grep -q '^PORT ' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^PORT //p' "$work/server.out")
[ -n "$port" ] || { echo "the local SMTP server did not start:" >&2; cat "$work/server.err" >&2; exit 1; }
echo "== local SMTP server listening on 127.0.0.1:$port (spool $work/spool)"

status=0
"$build/tools/tarvenkel-demo" 127.0.0.1 "$port" demo secret "$work" || status=$?

echo "== what the server received"
/usr/bin/python3 "$top/tools/show_spool.py" "$work/spool" "$work" || status=$?

echo "== the drawing gallery"
"$build/tools/tarvenkel-gallery" "$work/gallery.png" && echo "   written to $work/gallery.png" || status=$?
exit "$status"
