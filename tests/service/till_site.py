#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""A till's own web site for the browser tests: serves the files of a folder on 127.0.0.1.

    till_site.py FOLDER [CERTIFICATE KEY]

Over HTTPS when a certificate and its key are given. Takes a free port and prints
"listening on PORT", then serves until it is stopped.
"""

import functools
import http.server
import ssl
import sys


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    handler = functools.partial(Quiet, directory=sys.argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    if len(sys.argv) == 4:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        # The handshake runs on the connection's own thread, not in the accepting one.
        server.socket = context.wrap_socket(
            server.socket, server_side=True, do_handshake_on_connect=False)
    print("listening on %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
