#!/usr/bin/python3
"""The Python peer of bench/compare: the same three jobs as bench/tarvenkel_mail.cpp,
done the way a Python user would do them with the email package and smtplib.

  python_mail.py compose ATTACHMENT OUTPUT   compose a message with the attachment, write it to OUTPUT
  python_mail.py send HOST PORT ATTACHMENT   compose a message with the attachment and send it
  python_mail.py notify HOST PORT COUNT      send COUNT one-line notifications, one connection each
"""

import email.policy
import os
import smtplib
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


def send(host, port, message):
    with smtplib.SMTP(host, port) as session:
        session.send_message(message)


def main(argv):
    if len(argv) == 4 and argv[1] == "compose":
        message = build("Compose", argv[2])
        with open(argv[3], "wb") as out:
            out.write(message.as_bytes(policy=email.policy.SMTP))
        return 0
    if len(argv) == 5 and argv[1] == "send":
        send(argv[2], int(argv[3]), build("Send", argv[4]))
        return 0
    if len(argv) == 5 and argv[1] == "notify":
        for i in range(int(argv[4])):
            send(argv[2], int(argv[3]), build("Notification %d" % i))
        return 0
    print("usage: python_mail.py compose ATTACHMENT OUTPUT | send HOST PORT ATTACHMENT"
          " | notify HOST PORT COUNT", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
