#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Describes every message of a local SMTP server's spool for the tests, as
the server received it and as Python's email package reads it.

Usage: describe_spool.py SPOOL_DIR

For each NNNN.eml (with NNNN.json beside it), in name order, prints:

  message NNNN
  from\t<envelope sender>
  rcpt\t<envelope recipient>          one line per RCPT, in order
  header\t<name>\t<value>             every top-level header, in order,
                                      unfolded (CR LF before a blank removed)
  rawline\t<line>                     a line of the raw header block that is
                                      neither "Name: value" nor a continuation
                                      holding more than white space
  bare-eol\t<count>                   CR or LF bytes not part of a CR LF pair
  part\t<type>\t<file name or ->\t<header names joined by ",">
  payload\t<decoded payload>          after each part line
  defect\t<name>                      every defect the parser found
  end

Values are escaped: backslash, CR, LF and tab as \\\\, \\r, \\n, \\t; other
bytes are read as Latin-1.
"""

import email
import email.policy
import json
import os
import re
import sys

HEADER_LINE = re.compile(rb"^[!-9;-~]+:")
CONTINUATION = re.compile(rb"^[ \t]+[^ \t]")


def esc(text):
    if isinstance(text, bytes):
        text = text.decode("latin-1")
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")


def describe(stem):
    with open(stem + ".json") as f:
        envelope = json.load(f)
    with open(stem + ".eml", "rb") as f:
        raw = f.read()
    print("message %s" % os.path.basename(stem))
    print("from\t%s" % esc(envelope["mail_from"]))
    for rcpt in envelope["rcpt_tos"]:
        print("rcpt\t%s" % esc(rcpt))

    head = raw.split(b"\r\n\r\n", 1)[0]
    for line in head.split(b"\r\n"):
        if not HEADER_LINE.match(line) and not CONTINUATION.match(line):
            print("rawline\t%s" % esc(line))
    bare = len(re.findall(rb"\r(?!\n)|(?<!\r)\n", raw))
    print("bare-eol\t%d" % bare)

    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    for name, value in msg.items():
        print("header\t%s\t%s" % (esc(name), esc(re.sub(r"\r?\n(?=[ \t])", "", str(value)))))
    for part in msg.walk():
        if part.is_multipart():
            continue
        print("part\t%s\t%s\t%s" % (part.get_content_type(), esc(part.get_filename() or "-"),
                                    ",".join(part.keys()) if part is not msg else "-"))
        print("payload\t%s" % esc(part.get_payload(decode=True) or b""))
    for part in msg.walk():
        for defect in part.defects:
            print("defect\t%s" % type(defect).__name__)
    print("end")


def main():
    spool = sys.argv[1]
    stems = sorted(os.path.join(spool, n[:-4]) for n in os.listdir(spool) if n.endswith(".eml"))
    for stem in stems:
        describe(stem)
    return 0


if __name__ == "__main__":
    sys.exit(main())
