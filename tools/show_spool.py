#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Prints the messages a local SMTP server stored in its spool folder, parsed
with Python's email package: envelope, headers, and every MIME part.

Usage: show_spool.py SPOOL [ORIGINALS]. With ORIGINALS, every attachment is
decoded and compared with the file of the same name in that folder."""

import email
import email.policy
import glob
import hashlib
import json
import os
import sys


def compare(payload, name, originals):
    """Says whether a decoded attachment equals its original file; False when it differs.
    The original's name is looked for as the host wrote it: in UTF-8 or in GBK."""
    original = os.path.join(originals, name)
    for charset in ("utf-8", "gbk"):
        candidate = os.path.join(os.fsencode(originals), name.encode(charset, "replace"))
        if os.path.exists(candidate):
            original = candidate
            break
    if not os.path.exists(original):
        print("     no original file %r to compare with" % original)
        return True
    with open(original, "rb") as f:
        expected = f.read()
    if payload == expected:
        print("     identical to the original %s (%d bytes, sha256 %s)" % (
            os.path.join(originals, name), len(expected), hashlib.sha256(expected).hexdigest()[:16]))
        return True
    print("     DIFFERS from the original %r (%d bytes)" % (original, len(expected)))
    return False


def show(path, originals):
    stem = path[:-4]
    with open(stem + ".json") as f:
        envelope = json.load(f)
    with open(path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    print("-- message %s" % os.path.basename(stem))
    print("   envelope from %s to %s" % (envelope["mail_from"], ", ".join(envelope["rcpt_tos"])))
    # The header values as a reader shows them: encoded-words decoded.
    for key in ("From", "To", "Cc", "Date", "Subject", "X-Mailer", "MIME-Version", "Content-Type"):
        if msg[key] is not None:
            print("   %s: %s" % (key, msg[key]))
    for key, value in msg.raw_items():
        if key in ("To", "Subject") and "=?" in value:
            print("   on the wire, %s:" % key)
            for line in (key + ": " + value).splitlines():
                print("     | " + line)
    parts = msg.walk() if msg.is_multipart() else [msg]
    same = True
    for index, part in enumerate(p for p in parts if not p.is_multipart()):
        payload = part.get_payload(decode=True) or b""
        name = part.get_filename()
        if name:
            print("   part %d: %s, attachment %r, %d bytes, sha256 %s" % (
                index, part.get_content_type(), name, len(payload), hashlib.sha256(payload).hexdigest()[:16]))
            if originals:
                same = compare(payload, name, originals) and same
        else:
            charset = part.get_content_charset()
            print("   part %d: %s%s" % (index, part.get_content_type(), "; charset=" + charset if charset else ""))
            for line in payload.decode(charset or "latin-1", "replace").splitlines():
                print("     | " + line)
    return same


def main():
    files = sorted(glob.glob(os.path.join(sys.argv[1], "*.eml")))
    if not files:
        print("no message arrived")
        return 1
    originals = sys.argv[2] if len(sys.argv) > 2 else None
    same = True
    for path in files:
        same = show(path, originals) and same
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
