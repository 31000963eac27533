#!/usr/bin/python3
"""Prints the messages a local SMTP server stored in its spool folder, parsed
with Python's email package: envelope, headers, and every MIME part."""

import email
import email.policy
import glob
import hashlib
import json
import os
import sys


def show(path):
    stem = path[:-4]
    with open(stem + ".json") as f:
        envelope = json.load(f)
    with open(path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.compat32)
    print("-- message %s" % os.path.basename(stem))
    print("   envelope from %s to %s" % (envelope["mail_from"], ", ".join(envelope["rcpt_tos"])))
    for key in ("From", "To", "Cc", "Date", "Subject", "X-Mailer", "MIME-Version", "Content-Type"):
        if msg[key] is not None:
            print("   %s: %s" % (key, msg[key]))
    parts = msg.walk() if msg.is_multipart() else [msg]
    for index, part in enumerate(p for p in parts if not p.is_multipart()):
        payload = part.get_payload(decode=True) or b""
        name = part.get_filename()
        if name:
            print("   part %d: %s, attachment %r, %d bytes, sha256 %s" % (
                index, part.get_content_type(), name, len(payload), hashlib.sha256(payload).hexdigest()[:16]))
        else:
            print("   part %d: %s" % (index, part.get_content_type()))
            for line in payload.decode("latin-1").splitlines():
                print("     | " + line)


def main():
    files = sorted(glob.glob(os.path.join(sys.argv[1], "*.eml")))
    if not files:
        print("no message arrived")
        return 1
    for path in files:
        show(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
