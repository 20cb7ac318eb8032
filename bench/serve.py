#!/usr/bin/env python3
"""Serves one directory over HTTP on loopback for the benchmarks, accepting absolute-form request lines
("GET http://host/path"). Prints its port, ends after the given lifetime. serve.py DIR LIFETIME_S"""
import http.server
import os
import sys
import threading
import urllib.parse


class Handler(http.server.SimpleHTTPRequestHandler):
    def translate_path(self, path):
        if path.startswith("http://"):
            path = urllib.parse.urlsplit(path).path
        return super().translate_path(path)

    def log_message(self, *args):
        pass


def main():
    directory, lifetime = sys.argv[1], float(sys.argv[2])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                             lambda *a: Handler(*a, directory=directory))
    print(server.server_address[1], flush=True)
    threading.Timer(lifetime, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
