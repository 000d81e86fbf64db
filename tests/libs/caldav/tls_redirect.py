#!/usr/bin/python3
"""An https server on 127.0.0.1 that answers every request with a redirect to one URL.

Usage: tls_redirect.py PORT CERTIFICATE KEY LOCATION
"""
import http.server
import ssl
import sys

port, certificate, key, location = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]


class Redirect(http.server.BaseHTTPRequestHandler):
    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(min(length, 1 << 20))
        self.send_response(301)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    do_GET = do_PROPFIND = do_REPORT = do_PUT = do_DELETE = answer

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", port), Redirect)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(certificate, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
