#!/usr/bin/python3
"""The test site the browser test serves inside its network namespace.

site.py SITE_DIR PORT LOG_FILE

SITE_DIR/routes.tsv names every response: address, method, request target, response file
stem. STEM.head holds the status line and headers (CRLF, no Content-Length), STEM.body the
bytes sent as they are (already content-coded). Listens on every address of the routes at
PORT, and writes one line per request to LOG_FILE: address, method, target, status.
SITE_DIR/ready appears once every address listens. Anything not in routes.tsv gets a 404
that may not be stored, logged like the rest so the test sees it.
"""
import http.server
import os
import sys
import threading

site, port, log_path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
routes = {}
with open(os.path.join(site, "routes.tsv"), encoding="utf-8") as f:
    for line in f:
        address, method, target, stem = line.rstrip("\n").split("\t")
        with open(os.path.join(site, stem + ".head"), "rb") as h, open(os.path.join(site, stem + ".body"), "rb") as b:
            routes[(address, method, target)] = (h.read(), b.read())
log = open(log_path, "a", encoding="utf-8")
log_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        address = self.server.server_address[0]
        head, body = routes.get((address, self.command, self.path),
                                (b"HTTP/1.1 404 Not Found\r\nCache-Control: no-store", b""))
        status = head.split(b" ", 2)[1].decode()
        with log_lock:
            log.write("%s\t%s\t%s\t%s\n" % (address, self.command, self.path, status))
            log.flush()
        self.wfile.write(head + b"\r\nContent-Length: %d\r\n\r\n" % len(body))
        if self.command != "HEAD":
            self.wfile.write(body)
        self.wfile.flush()

    do_GET = do_POST = do_HEAD = answer

    def log_message(self, *args):
        pass


servers = []
for address in sorted({a for a, _, _ in routes}):
    server = http.server.ThreadingHTTPServer((address, port), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    servers.append(server)
open(os.path.join(site, "ready"), "w").close()
threading.Event().wait()
