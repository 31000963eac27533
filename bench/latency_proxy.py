#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""A TCP proxy on 127.0.0.1 that delays every byte by a fixed time each way.

usage: latency_proxy.py --target PORT [--delay-ms MS] [--port PORT] [--stdin-lifetime]

It listens on a free loopback port (or --port), prints "PORT <n>" on standard
output once it listens, and forwards each accepted connection to the target
port on 127.0.0.1. Each direction is a delay line: what is read at time t is
written at t + delay, in order and in the pieces it was read in, so that
several pieces can be on the way at once, as on a long link. A half close is
passed on after the same delay. Only the bytes are delayed: the connection
itself is set up at once, so a client's connect returns before the server
has written its greeting, which then takes half a round trip to arrive.
It runs until it is killed (SIGTERM or SIGINT) or, with --stdin-lifetime,
until its standard input closes.
"""

import argparse
import collections
import signal
import socket
import sys
import threading
import time

PIECE = 1 << 16


class DelayLine:
    """Copies one direction of a connection, each piece written `delay` seconds after it was read."""

    def __init__(self, source, sink, delay, done):
        self.source = source
        self.sink = sink
        self.delay = delay
        self.done = done
        self.pieces = collections.deque()
        self.ready = threading.Condition()
        threading.Thread(target=self.read, daemon=True).start()
        threading.Thread(target=self.write, daemon=True).start()

    def read(self):
        while True:
            try:
                data = self.source.recv(PIECE)
            except OSError:
                data = b""
            with self.ready:
                self.pieces.append((time.monotonic() + self.delay, data))
                self.ready.notify()
            if not data:
                return

    def write(self):
        while True:
            with self.ready:
                while not self.pieces:
                    self.ready.wait()
                due, data = self.pieces.popleft()
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            try:
                if not data:
                    self.sink.shutdown(socket.SHUT_WR)
                    break
                self.sink.sendall(data)
            except OSError:
                break
        self.done()


def forward(client, target_port, delay):
    """Connects to the target and runs a delay line each way until both have ended."""
    try:
        server = socket.create_connection(("127.0.0.1", target_port))
    except OSError:
        client.close()
        return
    for s in (client, server):
        # Every piece goes out when it is due, not held back for more.
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    remaining = [2]
    lock = threading.Lock()

    def done():
        with lock:
            remaining[0] -= 1
            if remaining[0]:
                return
        client.close()
        server.close()

    DelayLine(client, server, delay, done)
    DelayLine(server, client, delay, done)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--target", type=int, required=True, help="port on 127.0.0.1 to forward to")
    parser.add_argument("--delay-ms", type=float, default=25.0, help="delay of each direction (default 25)")
    parser.add_argument("--port", type=int, default=0, help="port to listen on; 0 picks a free one")
    parser.add_argument("--stdin-lifetime", action="store_true", help="stop when standard input closes")
    args = parser.parse_args()

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(64)
    print("PORT %d" % listener.getsockname()[1], flush=True)

    def accept():
        while True:
            client, _ = listener.accept()
            forward(client, args.target, args.delay_ms / 1000.0)

    threading.Thread(target=accept, daemon=True).start()
    if args.stdin_lifetime:
        sys.stdin.buffer.read()
    else:
        # Ended by the signal's default action, without a trace-back.
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        signal.pause()


if __name__ == "__main__":
    main()
