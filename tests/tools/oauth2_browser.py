#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""The person's browser in the OAuth2 code-flow tests: opens the sign-in
address (HTTPS, trusting the test CA). By default it follows the provider's
redirect to the client's loopback address, as a browser on the same machine
does; with --paste it stops there and prints the address it was sent to, as a
person on another machine would copy it from the address bar."""

import http.client
import ssl
import sys
import urllib.parse
import urllib.request

address, cafile = sys.argv[1], sys.argv[2]
context = ssl.create_default_context(cafile=cafile)
url = urllib.parse.urlparse(address)
connection = http.client.HTTPSConnection(url.hostname, url.port, context=context)
connection.request("GET", url.path + "?" + url.query)
reply = connection.getresponse()
location = reply.getheader("Location")
if reply.status != 302 or not location:
    sys.exit("no redirect: %d %s" % (reply.status, reply.read()))
if "--paste" in sys.argv:
    print(location)
else:
    print(urllib.request.urlopen(location).read().decode().strip())
