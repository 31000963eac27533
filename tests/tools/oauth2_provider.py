#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""An OAuth2 provider for the tests: HTTPS on 127.0.0.1 with the test CA's
server certificate. It issues access tokens from refresh tokens (rotating
them with --rotate), runs the device flow from a script of answers, and the
code flow with PKCE. Every token request is appended to a log file, one JSON
object a line, so that a test can tell whether the provider was asked.

Prints "PORT <n>" once it listens; stops at the end of its standard input.
"""

import argparse
import base64
import hashlib
import http.server
import json
import secrets
import ssl
import sys
import threading
import urllib.parse


class Provider:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.refresh_tokens = set(args.refresh_token)
        self.counter = 0
        self.device_script = [s for s in args.device_script.split(",") if s]
        self.codes = {}  # code -> (challenge, redirect_uri)

    def log(self, entry):
        with open(self.args.log, "a") as f:
            f.write(json.dumps(entry) + "\n")

    def tokens(self):
        self.counter += 1
        answer = {"access_token": "access-%d" % self.counter, "token_type": "Bearer",
                  "expires_in": self.args.expires_in}
        if self.args.rotate or not self.refresh_tokens:
            fresh = "refresh-%d" % self.counter
            if self.args.rotate:
                self.refresh_tokens.clear()
            self.refresh_tokens.add(fresh)
            answer["refresh_token"] = fresh
        return answer

    def token(self, form):
        grant = form.get("grant_type", "")
        self.log({"grant_type": grant, "client_id": form.get("client_id", ""),
                  "refresh_token": form.get("refresh_token", "")})
        if form.get("client_id") != self.args.client_id:
            return 401, {"error": "invalid_client", "error_description": "unknown client"}
        if grant == "refresh_token":
            if form.get("refresh_token") not in self.refresh_tokens:
                return 400, {"error": "invalid_grant", "error_description": "AADSTS700082: the refresh token has expired"}
            return 200, self.tokens()
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            step = self.device_script.pop(0) if self.device_script else "ok"
            if step == "ok":
                return 200, self.tokens()
            return 400, {"error": step}
        if grant == "authorization_code":
            entry = self.codes.pop(form.get("code", ""), None)
            if entry is None or entry[1] != form.get("redirect_uri"):
                return 400, {"error": "invalid_grant", "error_description": "unknown code"}
            digest = hashlib.sha256(form.get("code_verifier", "").encode()).digest()
            if base64.urlsafe_b64encode(digest).rstrip(b"=").decode() != entry[0]:
                return 400, {"error": "invalid_grant", "error_description": "PKCE verification failed"}
            return 200, self.tokens()
        return 400, {"error": "unsupported_grant_type"}


def make_handler(provider):
    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def answer(self, status, body, headers=()):
            data = json.dumps(body).encode()
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
            with provider.lock:
                if self.path == "/token":
                    self.answer(*provider.token(form))
                elif self.path == "/device":
                    provider.log({"device": form.get("scope", "")})
                    self.answer(200, {"device_code": "device-1", "user_code": "WDJB-MJHT",
                                      "verification_uri": "https://127.0.0.1/device",
                                      "expires_in": provider.args.device_expires_in, "interval": 1})
                else:
                    self.answer(404, {"error": "not_found"})

        def do_GET(self):
            # The person's browser: the sign-in is granted at once and the
            # browser sent on to the client's redirect address.
            url = urllib.parse.urlparse(self.path)
            query = dict(urllib.parse.parse_qsl(url.query))
            if url.path != "/authorize" or query.get("code_challenge_method") != "S256":
                self.answer(400, {"error": "invalid_request"})
                return
            code = secrets.token_urlsafe(12)
            with provider.lock:
                provider.codes[code] = (query.get("code_challenge"), query.get("redirect_uri"))
            target = query["redirect_uri"] + "?" + urllib.parse.urlencode({"code": code, "state": query.get("state", "")})
            self.answer(302, {}, [("Location", target)])

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--client-id", default="client-1")
    parser.add_argument("--refresh-token", action="append", default=[])
    parser.add_argument("--rotate", action="store_true")
    parser.add_argument("--expires-in", type=int, default=3600)
    parser.add_argument("--device-script", default="")
    parser.add_argument("--device-expires-in", type=int, default=60)
    args = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), make_handler(Provider(args)))
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
