#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Smoke test of bench/latency: the delaying proxy and one run of the driver.

The build folder comes from TARVENKEL_BUILD_DIR (default build/release).
Exits 77 (skipped) without Postfix's smtp-sink.
"""

import os
import re
import socket
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get("TARVENKEL_BUILD_DIR", os.path.join(os.path.dirname(HERE), "build", "release"))


def echo_server():
    """A loopback server that sends every connection's bytes back, then closes; its port."""
    listener = socket.create_server(("127.0.0.1", 0))

    def serve():
        with listener:
            connection, _ = listener.accept()
        # Each piece goes back at once, not held for the proxy's acknowledgement.
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with connection:
            while data := connection.recv(1 << 16):
                connection.sendall(data)
    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


class ProxyTest(unittest.TestCase):
    DELAY_MS = 100

    def setUp(self):
        self.proxy = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(HERE, "latency_proxy.py"), "--target", str(echo_server()),
             "--delay-ms", str(self.DELAY_MS), "--stdin-lifetime"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = self.proxy.stdout.readline().decode()
        self.assertTrue(line.startswith("PORT "), line)
        self.port = int(line.split()[1])

    def tearDown(self):
        self.proxy.stdin.close()
        self.proxy.stdout.close()
        self.proxy.wait(timeout=10)

    def test_bytes_come_back_whole_after_the_delay_both_ways(self):
        pieces = [os.urandom(size) for size in (1, 1000, 70000, 3, 200000)]
        with socket.create_connection(("127.0.0.1", self.port)) as client:
            start = time.monotonic()
            client.sendall(pieces[0])
            self.assertEqual(client.recv(1), pieces[0])
            round_trip = time.monotonic() - start
            for piece in pieces[1:]:
                client.sendall(piece)
            # The half close travels through the proxy to the server, whose
            # close travels back: the reads below end only when both did.
            client.shutdown(socket.SHUT_WR)
            received = b"".join(iter(lambda: client.recv(1 << 16), b""))
        self.assertGreaterEqual(round_trip, 2 * self.DELAY_MS / 1000)
        self.assertEqual(received, b"".join(pieces[1:]))

    def test_each_piece_is_delayed_by_the_round_trip_alone(self):
        # Pieces sent while earlier ones are on the way: each must come back
        # one round trip after it was sent. A proxy that slept after each
        # read would hold what arrives during the sleep for longer, on
        # average half a round trip more.
        count, gap = 10, 0.026
        round_trip = 2 * self.DELAY_MS / 1000
        sent, arrived = [], []
        with socket.create_connection(("127.0.0.1", self.port)) as client:
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

            def receive():
                received = b""
                while len(arrived) < count:
                    data = client.recv(100)
                    if not data:
                        return
                    received += data
                    arrived.extend([time.monotonic()] * (len(received) // 2 - len(arrived)))
            reader = threading.Thread(target=receive)
            reader.start()
            for i in range(count):
                sent.append(time.monotonic())
                client.sendall(b"%02d" % i)
                time.sleep(gap)
            reader.join(timeout=10)
        self.assertEqual(len(arrived), count)
        delays = sorted(a - s for s, a in zip(sent, arrived))
        self.assertGreaterEqual(delays[0], round_trip)
        # The median, so that a busy machine's odd late wake-up does not count.
        self.assertLess(delays[count // 2], 1.15 * round_trip, delays)


class DriverTest(unittest.TestCase):
    def test_smoke_run_prints_our_row_no_faster_than_the_protocol_allows(self):
        result = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "latency"), "--smoke", "--build", BUILD],
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        print(result.stdout)
        rows = {}
        for line in result.stdout.splitlines():
            match = re.match(r"(ours[^0-9]*|protocol floor)\s+([0-9. ]+)$", line)
            if match:
                rows[match.group(1).strip()] = [float(v) for v in match.group(2).split()]
        ours = [values for name, values in rows.items() if name.startswith("ours")]
        self.assertTrue(ours, result.stdout)
        floor = rows["protocol floor"]
        for values in ours:
            self.assertEqual(len(values), len(floor), result.stdout)
            for value, least in zip(values, floor):
                self.assertGreaterEqual(value, least, result.stdout)


if __name__ == "__main__":
    if not os.path.exists("/usr/sbin/smtp-sink"):
        print("skipped: no /usr/sbin/smtp-sink (Debian's postfix package)")
        sys.exit(77)
    unittest.main()
