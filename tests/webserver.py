#!/usr/bin/env python3
"""Web server for the tests, on 127.0.0.1 at a port of the system's choice.

Usage: webserver.py FOLDER LOGFILE

Serves the files of FOLDER with Python's own http.server, and a few answers
that go wrong on purpose:

  /status/N            answers with HTTP status N and a small error page
  /redirect?to=URL     302 to URL
  /loop                302 to itself, for ever
  /drop/NAME           promises the whole of NAME, sends half, hangs up
  /dropchunked/NAME    the same with chunked transfer encoding
  /chunked/NAME        NAME in chunks of 100 bytes (with a chunk extension
                       and a trailer), after an interim "100 Continue"
  /nolength/NAME       NAME without a length: the body ends with the connection
  /garbage             something that is not HTTP at all
  /silent              reads the request and never answers
  /drip                promises a body of 1,000,000 bytes and sends one byte
                       every 20 ms, until the client hangs up (or ten minutes
                       have passed)
  /endless/interim     "100 Continue" answers, for ever
  /endless/trailer     a whole chunked body, then trailer lines for ever
  /endless/chunkend    a chunk's data, then bytes that never end the chunk
  /long/head           a whole answer whose header is over 64 KiB, in one piece
  /long/chunkline      a whole chunked answer with a size line over 1 KiB
  /viaproxy/NAME       NAME, but only to a request that came through a proxy
                       (one carrying a Via header); 403 otherwise

Each request is appended to LOGFILE before it is answered, as one line:
"REQUEST <path> UA=<user agent> VIA=<via header>". The port is printed as
"PORT <n>" once the server listens.
"""
import http.server
import os
import sys
import threading
import time
import urllib.parse

FOLDER, LOG = sys.argv[1], sys.argv[2]
LOCK = threading.Lock()


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=FOLDER, **kwargs)

    def log_message(self, format, *args):
        pass

    def answer(self, code, body=b"", headers=()):
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def file_bytes(self, name):
        with open(os.path.join(FOLDER, os.path.basename(name)), "rb") as f:
            return f.read()

    def do_GET(self):
        with LOCK, open(LOG, "a") as log:
            log.write("REQUEST %s UA=%s VIA=%s\n" % (self.path, self.headers.get("User-Agent", ""),
                                                    self.headers.get("Via", "")))
        parts = urllib.parse.urlsplit(self.path)
        path, query = parts.path, urllib.parse.parse_qs(parts.query)
        if path.startswith("/status/"):
            self.answer(int(path.split("/")[2]), b"{CPI10}An error page, no report\r\n")
        elif path == "/redirect":
            self.answer(302, headers=[("Location", query["to"][0])])
        elif path == "/loop":
            self.answer(302, headers=[("Location", "/loop")])
        elif path.startswith("/drop/"):
            data = self.file_bytes(path[len("/drop/"):])
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n"
                             b"Connection: close\r\n\r\n" % len(data) + data[: len(data) // 2])
            self.wfile.flush()
            self.close_connection = True
        elif path.startswith("/dropchunked/"):
            data = self.file_bytes(path[len("/dropchunked/"):])
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n"
                             b"Connection: close\r\n\r\n%x\r\n" % len(data) + data[: len(data) // 2])
            self.wfile.flush()
            self.close_connection = True
        elif path.startswith("/chunked/"):
            data = self.file_bytes(path[len("/chunked/"):])
            out = b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
            for at in range(0, len(data), 100):
                piece = data[at:at + 100]
                out += b"%X;name=value\r\n%s\r\n" % (len(piece), piece)
            self.wfile.write(out + b"0\r\nX-Trailer: yes\r\n\r\n")
            self.close_connection = True
        elif path.startswith("/nolength/"):
            data = self.file_bytes(path[len("/nolength/"):])
            self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + data)
            self.close_connection = True
        elif path == "/garbage":
            self.wfile.write(b"SSH-2.0-OpenSSH_9.2\r\n")
            self.close_connection = True
        elif path == "/silent":
            threading.Event().wait(600)
        elif path == "/drip":
            try:
                self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1000000\r\n\r\n")
                self.wfile.flush()
                for _ in range(30000):
                    time.sleep(0.02)
                    self.wfile.write(b"x")
                    self.wfile.flush()
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.close_connection = True
        elif path == "/long/head":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nX-Long: " + b"h" * 70000 + b"\r\nContent-Length: 5\r\n\r\nHello")
            self.close_connection = True
        elif path == "/long/chunkline":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;" + b"e" * 1100 +
                             b"\r\nHello\r\n0\r\n\r\n")
            self.close_connection = True
        elif path.startswith("/endless/"):
            start, again = {
                "interim": (b"", b"HTTP/1.1 100 Continue\r\n\r\n"),
                "trailer": (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nHello\r\n0\r\n",
                            b"X-More: " + b"m" * 200 + b"\r\n"),
                "chunkend": (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nHello",
                             b"x" * 1000),
            }[path.split("/")[2]]
            # Until the client hangs up (or 64 MB, should it never).
            try:
                self.wfile.write(start)
                for _ in range(64 * 1024 * 1024 // len(again)):
                    self.wfile.write(again)
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.close_connection = True
        elif path.startswith("/viaproxy/"):
            if not self.headers.get("Via"):
                self.answer(403, b"Only through the proxy\r\n")
            else:
                self.path = "/" + path[len("/viaproxy/"):]
                super().do_GET()
        else:
            super().do_GET()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
