#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""A one-connection TLS server on 127.0.0.1 for the socket tests.

Usage: tls_peer.py CERT KEY MODE [CLIENT_CA]. With CLIENT_CA the client must
show a certificate signed by a CA of that file. Prints "PORT <n>", accepts one client,
completes the handshake, sends "hello\\r\\n", and then, by MODE:
  silent  reads until the client closes and prints "READ <bytes>";
  reset   reads one byte, then resets the connection (no closing alert, RST);
  close   sends its closing alert and waits for the client to close;
  sni     prints "SNI <name>" (or "SNI -" when the client sent none) and
          waits for the client to close.
"""

import socket
import ssl
import struct
import sys


def main():
    cert, key, mode = sys.argv[1:4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    if len(sys.argv) > 4:
        context.verify_mode = ssl.CERT_REQUIRED
        context.load_verify_locations(sys.argv[4])
    names = []
    context.sni_callback = lambda _socket, name, _context: names.append(name)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(30)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    raw, _ = listener.accept()
    raw.settimeout(30)
    conn = context.wrap_socket(raw, server_side=True)
    conn.sendall(b"hello\r\n")
    if mode == "silent":
        total = 0
        try:
            while True:
                data = conn.recv(65536)
                if not data:
                    break
                total += len(data)
        except (ssl.SSLError, OSError):
            pass
        print("READ %d" % total, flush=True)
    elif mode == "reset":
        conn.recv(1)
        # wrap_socket took over the descriptor: the TLS socket closes it.
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()
    elif mode == "sni":
        print("SNI %s" % (names[0] if names and names[0] else "-"), flush=True)
        try:
            conn.recv(1)
        except (ssl.SSLError, OSError):
            pass
    elif mode == "close":
        raw = conn.unwrap()
        try:
            raw.recv(1)
        except OSError:
            pass


if __name__ == "__main__":
    main()
