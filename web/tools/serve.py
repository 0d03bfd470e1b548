#!/usr/bin/env python3
"""Serves the built page on this machine only and prints its address.

usage: serve.py SITE_DIR [PORT]   (PORT 0, the default, takes a free one)
"""
import errno
import functools
import http.server
import sys


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=argv[1])
    port = int(argv[2]) if len(argv) == 3 else 0
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    except OSError as error:
        why = "is taken" if error.errno == errno.EADDRINUSE else f"cannot be opened ({error.strerror})"
        print(f"serve.py: port {port} {why}; choose another with CLIPNOTE_WEB_PORT (0 takes a free one)",
              file=sys.stderr)
        return 1
    with server:
        address = f"http://127.0.0.1:{server.server_address[1]}"
        print(f"The message plays at {address}/index.html; record one at {address}/recorder.html (Ctrl-C ends)",
              flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
