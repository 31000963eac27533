#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""The Python peer of bench/compare: the same three jobs as bench/tarvenkel_mail.cpp,
done the way a Python user would do them with the email package and smtplib.

  python_mail.py compose ATTACHMENT OUTPUT   compose a message with the attachment, write it to OUTPUT
  python_mail.py send HOST PORT ATTACHMENT   compose a message with the attachment and send it
  python_mail.py notify HOST PORT COUNT      send COUNT one-line notifications, one connection each

and, for bench/latency,

  python_mail.py burst HOST PORT COUNT       send COUNT notifications over one connection

where notify and burst take --starttls CAFILE USER PASSWORD at the end to
upgrade with STARTTLS (trusting CAFILE) and log in.
"""

import email.policy
import os
import smtplib
import ssl
import sys
from email.message import EmailMessage

SENDER = "bench@example.org"
RECIPIENT = "ops@example.org"


def build(subject, attachment=None):
    """A message like the ones the other peers build."""
    message = EmailMessage()
    message["From"] = SENDER
    message["To"] = RECIPIENT
    message["Subject"] = subject
    message.set_content("Pump 3: pressure above limit\n")
    if attachment:
        with open(attachment, "rb") as f:
            data = f.read()
        message.add_attachment(data, maintype="application", subtype="octet-stream",
                               filename=os.path.basename(attachment))
    return message


def send(host, port, messages, login=None):
    """Sends the messages over one connection; login: (CA file, user, password) or None."""
    with smtplib.SMTP(host, port) as session:
        if login:
            session.starttls(context=ssl.create_default_context(cafile=login[0]))
            session.login(login[1], login[2])
        for message in messages:
            session.send_message(message)


def main(argv):
    if len(argv) == 4 and argv[1] == "compose":
        message = build("Compose", argv[2])
        with open(argv[3], "wb") as out:
            out.write(message.as_bytes(policy=email.policy.SMTP))
        return 0
    if len(argv) == 5 and argv[1] == "send":
        send(argv[2], int(argv[3]), [build("Send", argv[4])])
        return 0
    login = tuple(argv[6:]) if len(argv) == 9 and argv[5] == "--starttls" else None
    if argv[1:2] in (["notify"], ["burst"]) and (len(argv) == 5 or login):
        notifications = [build("Notification %d" % i) for i in range(int(argv[4]))]
        if argv[1] == "burst":
            send(argv[2], int(argv[3]), notifications, login)
        else:
            for message in notifications:
                send(argv[2], int(argv[3]), [message], login)
        return 0
    print("usage: python_mail.py compose ATTACHMENT OUTPUT | send HOST PORT ATTACHMENT"
          " | notify|burst HOST PORT COUNT [--starttls CAFILE USER PASSWORD]", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
