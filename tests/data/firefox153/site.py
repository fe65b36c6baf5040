#!/usr/bin/env python3
# A tiny site for make-sample.sh: fixed documents with fixed headers, some gzip-coded.
# Usage: site.py PORT LOG
import gzip, http.server, sys

PAGE = ('<!doctype html><html><head><meta charset="utf-8"><title>缓存测试</title>'
        '<link rel="stylesheet" href="/style.css"><script src="/app.js"></script></head>'
        '<body><h1>缓存测试页</h1><img src="/dot.png"><iframe src="/frame.html"></iframe></body></html>').encode()
DOCS = {
    '/index.html': ('text/html; charset=utf-8', PAGE, False, 'max-age=3600'),
    '/style.css': ('text/css', b'body { color: #123; }\nh1 { font-size: 20px; }\n' * 20, True, 'max-age=86400'),
    '/app.js': ('text/javascript', b'document.title += " ok";\n', False, 'max-age=600'),
    '/dot.png': ('image/png', bytes.fromhex(
        '89504e470d0a1a0a0000000d4948445200000001000000010806000000'
        '1f15c4890000000d49444154789c6360f8cfc0f01f0005000201e2b1b1a80000000049454e44ae426082'),
        False, 'max-age=86400'),
    '/frame.html': ('text/html; charset=utf-8', '<p>框架 frame</p>'.encode() * 10, True, 'no-cache'),
}

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def do_GET(self):
        with open(sys.argv[2], 'a') as log:
            log.write(self.path + '\n')
        doc = DOCS.get(self.path)
        if doc is None:
            self.send_response(404)
            self.send_header('Content-Length', '0')
            self.send_header('Cache-Control', 'max-age=60')
            self.end_headers()
            return
        ctype, body, gz, cc = doc
        if gz:
            body = gzip.compress(body, mtime=0)
        self.send_response(200)
        self.send_header('Content-Type', ctype)
        self.send_header('Cache-Control', cc)
        self.send_header('Last-Modified', 'Tue, 01 Dec 2026 08:00:00 GMT')
        if gz:
            self.send_header('Content-Encoding', 'gzip')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass

http.server.ThreadingHTTPServer(('127.0.0.1', int(sys.argv[1])), Handler).serve_forever()
