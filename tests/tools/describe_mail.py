#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Describes a mail message as Python's email package reads it, one fact a line.

usage: describe_mail.py MESSAGE [ATTACHMENT...]

Prints the From, To, Cc, Bcc and Subject headers ("-" when absent), the
message's content type with the number of defects the parser found, and then
one line per leaf part: its content type, its file name, and for a text part
its decoded text (as a JSON string), for any other part whether its decoded
bytes equal the next ATTACHMENT file given ("same" or "differs").
"""

import email
import email.policy
import json
import sys


def main(argv):
    with open(argv[1], "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.compat32)
    for name in ("From", "To", "Cc", "Bcc", "Subject"):
        value = message.get(name)
        print("%s: %s" % (name, "-" if value is None else value))
    defects = sum(len(part.defects) for part in message.walk())
    print("%s defects=%d" % (message.get_content_type(), defects))
    expected = list(argv[2:])
    for part in message.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        line = "part %s filename=%s" % (part.get_content_type(), part.get_filename() or "-")
        if part.get_content_maintype() == "text":
            line += " text=" + json.dumps(payload.decode("latin-1"))
        else:
            path = expected.pop(0) if expected else None
            same = path is not None and open(path, "rb").read() == payload
            line += " " + ("same" if same else "differs")
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
