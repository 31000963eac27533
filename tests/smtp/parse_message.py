#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Parses one stored message with Python's email package for the tests.

Usage: parse_message.py MESSAGE.eml OUTDIR

Prints the headers From, To, Cc, Bcc, Subject (one "Name: value" line each,
"Name: <absent>" when missing), then one line per leaf part:
"part N <content type> <file name or -> <charset or ->", then "defect NAME"
for each defect the parser found in the message and "defect part N NAME" for
each one in a leaf part (base64 that does not decode cleanly, for instance).
The decoded payload of part N is written to OUTDIR/part-N.bin.
"""

import email
import email.policy
import os
import sys


def main():
    path, outdir = sys.argv[1], sys.argv[2]
    # From bytes, not from a file object: reading a file translates CR LF
    # into LF, and the tests compare line ends too.
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=email.policy.compat32)
    for key in ("From", "To", "Cc", "Bcc", "Subject"):
        value = msg[key]
        print("%s: %s" % (key, "<absent>" if value is None else value))
    leaves = [p for p in msg.walk() if not p.is_multipart()]
    for index, part in enumerate(leaves):
        payload = part.get_payload(decode=True) or b""
        with open(os.path.join(outdir, "part-%d.bin" % index), "wb") as f:
            f.write(payload)
        print("part %d %s %s %s" % (index, part.get_content_type(), part.get_filename() or "-",
                                    part.get_content_charset() or "-"))
    for defect in msg.defects:
        print("defect %s" % type(defect).__name__)
    # Decoding the payloads above records the defects of the encoded text.
    for index, part in enumerate(leaves):
        for defect in part.defects:
            print("defect part %d %s" % (index, type(defect).__name__))
    return 0


if __name__ == "__main__":
    sys.exit(main())
