#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Reads a mail message as Python's email package (policy default) decodes it,
for the tests of 8-bit texts.

usage: read_mail.py MESSAGE OUTDIR

Prints one fact a line, every value as a JSON string: "subject", "mailer",
"to" and "cc" (one line per address: display name and address), "defects N"
(of the message and its parts), "header-defects" and the header's complaints
(the encoded-word inside quotes that the older form of a file name needs, and
the two names of one parameter, are such), "longest N" (the longest line
of the message in bytes, without CR LF), then per leaf part "part TYPE
CHARSET FILENAME TEXT" where TEXT is the decoded text of a text part (line
ends made LF) and "-" for any other; the decoded bytes of leaf part N are
written to OUTDIR/N.bin.
"""

import email
import email.policy
import json
import os
import sys


def main(argv):
    raw = open(argv[1], "rb").read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    print("longest %d" % max(len(line) for line in raw.split(b"\r\n")))
    defects = 0
    complaints = set()
    for part in msg.walk():
        defects += len(part.defects)
        for name, value in part.items():
            complaints.update("%s: %s" % (name, d) for d in getattr(value, "defects", ()))
    print("defects %d" % defects)
    print("header-defects " + json.dumps(sorted(complaints)))
    print("subject " + json.dumps(str(msg["Subject"]), ensure_ascii=False))
    print("mailer " + json.dumps(str(msg["X-Mailer"]), ensure_ascii=False))
    for field in ("To", "Cc"):
        header = msg[field]
        for address in (header.addresses if header is not None else ()):
            print("%s %s %s" % (field.lower(), json.dumps(address.display_name, ensure_ascii=False),
                                json.dumps(address.addr_spec)))
    for index, part in enumerate(p for p in msg.walk() if not p.is_multipart()):
        with open(os.path.join(argv[2], "%d.bin" % index), "wb") as f:
            f.write(part.get_payload(decode=True) or b"")
        text = "-"
        if part.get_content_maintype() == "text":
            text = json.dumps(part.get_content().replace("\r\n", "\n"), ensure_ascii=False)
        print("part %s %s %s %s" % (part.get_content_type(), part.get_content_charset() or "-",
                                    json.dumps(part.get_filename(), ensure_ascii=False), text))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
