#!/usr/bin/env python3
"""Serves the built page on this machine only and prints its address.

usage: serve.py SITE_DIR [PORT]   (PORT 0, the default, takes a free one)
"""
import functools
import http.server
import sys


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=argv[1])
    with http.server.ThreadingHTTPServer(("127.0.0.1", int(argv[2]) if len(argv) == 3 else 0), handler) as server:
        print(f"The message plays at http://127.0.0.1:{server.server_address[1]}/index.html (Ctrl-C ends)", flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
