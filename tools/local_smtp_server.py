#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""A local SMTP server on 127.0.0.1 for the demo and the tests.

Runs Debian's aiosmtpd, stores every accepted message in a spool folder as
NNNN.eml (the bytes received after the DATA command, dot-unstuffed) with
NNNN.json beside it (envelope sender and recipients), and prints "PORT <n>"
on standard output once it listens. It stops on SIGTERM, SIGINT, or when its
standard input reaches end of file with --stdin-lifetime.
"""

import argparse
import asyncio
import base64
import binascii
import json
import os
import signal
import socket
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, AuthResult, LoginPassword


class SpoolHandler:
    def __init__(self, spool, refused=(), pipelining=False):
        self.spool = spool
        self.refused = {a.lower() for a in refused}
        self.pipelining = pipelining
        self.count = 0
        self.lock = threading.Lock()

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # aiosmtpd reads and answers commands one at a time, so commands a
        # client writes together are served in order; it only does not say so.
        session.host_name = hostname
        if self.pipelining:
            responses.insert(len(responses) - 1, "250-PIPELINING")
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 <%s>: recipient refused" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            stem = os.path.join(self.spool, "%04d" % self.count)
        data = envelope.original_content
        if data is None:
            data = envelope.content if isinstance(envelope.content, bytes) else envelope.content.encode()
        with open(stem + ".eml.part", "wb") as f:
            f.write(data)
        with open(stem + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                       "peer": str(session.peer), "host_name": session.host_name,
                       "authenticated": bool(getattr(session, "authenticated", False))}, f)
        os.rename(stem + ".eml.part", stem + ".eml")
        return "250 OK stored as %04d" % self.count


class BearerSpoolHandler(SpoolHandler):
    """A spool that also takes logins with an OAuth2 bearer token: XOAUTH2
    and OAUTHBEARER. A token or user that does not match is answered with the
    error challenge (base64 JSON) and, after the client's reply to it, 535."""

    def __init__(self, spool, refused, pipelining, user, token, log_path):
        super().__init__(spool, refused, pipelining)
        self.user, self.token, self.log_path = user, token, log_path

    async def bearer_login(self, server, args, mechanism, split):
        if len(args) > 1:
            try:
                blob = base64.b64decode(args[1], validate=True)
            except binascii.Error:
                return AuthResult(success=False, handled=False, message="501 5.5.2 Cannot decode base64")
        else:
            blob = await server.challenge_auth("")
            if blob is MISSING:
                return AuthResult(success=False, handled=True)
        user, token = split(blob.decode("utf-8", "replace"))
        ok = user == self.user and token == self.token
        secure = server.transport is not None and server.transport.get_extra_info("ssl_object") is not None
        with open(self.log_path, "a") as log:
            log.write("%s %s %s\n" % (mechanism, "tls" if secure else "plain", "ok" if ok else "refused"))
        if ok:
            return AuthResult(success=True, auth_data=LoginPassword(user.encode(), b""))
        status = "invalid_token" if user == self.user else "400"
        await server.challenge_auth(json.dumps({"status": status, "schemes": "Bearer",
                                                "scope": "https://mail.google.com/"}))
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")

    async def auth_XOAUTH2(self, server, args):
        def split(text):
            fields = dict(f.split("=", 1) for f in text.split("\x01") if "=" in f)
            return fields.get("user", ""), fields.get("auth", "").removeprefix("Bearer ")
        return await self.bearer_login(server, args, "XOAUTH2", split)

    async def auth_OAUTHBEARER(self, server, args):
        def split(text):
            header, _, rest = text.partition("\x01")
            user = next((p[2:] for p in header.split(",") if p.startswith("a=")), "")
            user = user.replace("=2C", ",").replace("=3D", "=")
            fields = dict(f.split("=", 1) for f in rest.split("\x01") if "=" in f)
            return user, fields.get("auth", "").removeprefix("Bearer ")
        return await self.bearer_login(server, args, "OAUTHBEARER", split)


def make_authenticator(user, password, log_path):
    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == user
              and auth_data.password.decode() == password)
        # One line per login: the mechanism, whether it ran inside TLS, the outcome.
        secure = server.transport is not None and server.transport.get_extra_info("ssl_object") is not None
        with open(log_path, "a") as log:
            log.write("%s %s %s\n" % (mechanism, "tls" if secure else "plain", "ok" if ok else "refused"))
        if ok:
            return AuthResult(success=True)
        return AuthResult(success=False, handled=False)
    return authenticator


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="port to listen on; 0 picks a free one")
    parser.add_argument("--spool", required=True, help="folder for received messages")
    parser.add_argument("--auth", help="USER:PASSWORD to require AUTH LOGIN or PLAIN; each login is "
                        "logged to auth.log in the spool")
    parser.add_argument("--auth-exclude", action="append", default=[], metavar="MECHANISM",
                        help="a login mechanism not to offer (LOGIN, PLAIN); may be repeated")
    parser.add_argument("--tls-cert", help="certificate for STARTTLS or implicit TLS")
    parser.add_argument("--tls-key", help="key of that certificate")
    parser.add_argument("--implicit-tls", action="store_true", help="TLS from the first byte")
    parser.add_argument("--tls-client-ca", metavar="FILE",
                        help="require a client certificate signed by a CA of FILE")
    parser.add_argument("--refuse", action="append", default=[], metavar="ADDRESS",
                        help="a recipient to refuse with 550; may be repeated")
    parser.add_argument("--oauth2", metavar="USER:TOKEN",
                        help="also take XOAUTH2 and OAUTHBEARER logins with this bearer token")
    parser.add_argument("--pipelining", action="store_true", help="offer PIPELINING in the EHLO reply")
    parser.add_argument("--stdin-lifetime", action="store_true", help="stop when standard input closes")
    args = parser.parse_args()

    os.makedirs(args.spool, exist_ok=True)
    kwargs = {}
    context = None
    if args.tls_cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.tls_cert, args.tls_key or args.tls_cert)
        if args.tls_client_ca:
            context.verify_mode = ssl.CERT_REQUIRED
            context.load_verify_locations(args.tls_client_ca)
    if context is not None and args.implicit_tls:
        kwargs["ssl_context"] = context
    elif context is not None:
        kwargs["tls_context"] = context
    if args.auth or args.oauth2:
        user, _, password = (args.auth or "").partition(":")
        # A server that offers STARTTLS takes no login before it, as real
        # submission servers do. (aiosmtpd counts only STARTTLS as TLS, so an
        # implicit-TLS server must not ask for it.)
        kwargs.update(authenticator=make_authenticator(user, password, os.path.join(args.spool, "auth.log")),
                      auth_require_tls=context is not None and not args.implicit_tls,
                      auth_exclude_mechanism=args.auth_exclude)

    port = args.port or free_port()
    if args.oauth2:
        bearer_user, _, token = args.oauth2.partition(":")
        handler = BearerSpoolHandler(args.spool, args.refuse, args.pipelining, bearer_user, token,
                                     os.path.join(args.spool, "auth.log"))
    else:
        handler = SpoolHandler(args.spool, args.refuse, args.pipelining)
    controller = Controller(handler, hostname="127.0.0.1", port=port,
                            data_size_limit=None, ready_timeout=10, **kwargs)
    controller.start()
    print("PORT %d" % port, flush=True)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    if args.stdin_lifetime:
        def watch_stdin():
            sys.stdin.buffer.read()
            stop.set()
        threading.Thread(target=watch_stdin, daemon=True).start()
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
