#!/usr/bin/env python3
"""A small HTTP server for tests, on 127.0.0.1 with an ephemeral port.

Usage: http_server.py ROOT [FOLDER]  -- prints the port on the first line, serves
until stdin closes (FOLDER: see channel.py). Paths:
  /files/NAME      the file ROOT/NAME with Content-Length
  /nolength/NAME   the file without Content-Length
  /slow/NAME       the file in small pieces with pauses
  /drop/NAME       half of the file, then the connection is dropped
  /status/CODE     an answer with that status (302 carries a Location)
  /html/NAME       an HTML page in place of the file
  /stall/ANY       accepts the request and never answers
  /stopmid/NAME    headers and half of the file, then silence on an open connection
  /endless/NAME    a 200 answer whose body never ends (NAME picks the type)
  /trickle/NAME    the file one byte per 200 ms, then silence
  /sized/N/NAME    a 200 answer that declares N bytes and sends them (zeros)
  /nolengthsized/N/NAME  the same without Content-Length
  POST /echo       the request body back
  POST /echoagent  the User-Agent and the body back
"""
import http.server
import mimetypes
import os
import sys
import threading
import time

from channel import Channel

ROOT = sys.argv[1]
# Misbehaving answers end by themselves after this long, so no test server
# outlives its test by much.
LIMIT_SECONDS = 90
STOP = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s\n" % (fmt % args))

    def body_of(self, name):
        path = os.path.join(ROOT, os.path.basename(name))
        with open(path, "rb") as f:
            return f.read()

    def send_body(self, body, length=True, ctype=None):
        if ctype is None:
            ctype = mimetypes.guess_type(self.path)[0] or "application/octet-stream"
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        if not length:
            self.close_connection = True

    def do_GET(self):
        parts = self.path.split("/", 2)
        kind = parts[1] if len(parts) > 1 else ""
        rest = parts[2] if len(parts) > 2 else ""
        try:
            if kind == "files":
                self.send_body(self.body_of(rest))
            elif kind == "nolength":
                self.send_body(self.body_of(rest), length=False)
            elif kind == "slow":
                body = self.body_of(rest)
                self.send_response(200)
                self.send_header("Content-Type", mimetypes.guess_type(self.path)[0] or "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                for i in range(0, len(body), 1000):
                    self.wfile.write(body[i:i + 1000])
                    self.wfile.flush()
                    time.sleep(0.01)
            elif kind == "drop":
                body = self.body_of(rest)
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                self.close_connection = True
                self.connection.shutdown(2)
            elif kind == "status":
                code = int(rest or "500")
                self.send_response(code)
                if code in (301, 302, 303, 307):
                    self.send_header("Location", "/files/elsewhere")
                body = b"status %d" % code
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
            elif kind == "stall":
                STOP.wait(LIMIT_SECONDS)
                self.close_connection = True
            elif kind == "stopmid":
                body = self.body_of(rest)
                self.send_response(200)
                self.send_header("Content-Type", mimetypes.guess_type(self.path)[0] or "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                STOP.wait(LIMIT_SECONDS)
                self.close_connection = True
            elif kind == "endless":
                self.send_response(200)
                self.send_header("Content-Type", mimetypes.guess_type(self.path)[0] or "application/octet-stream")
                self.send_header("Connection", "close")
                self.end_headers()
                chunk = b"GIF89a" + b"\0" * 65530
                until = time.monotonic() + LIMIT_SECONDS
                while not STOP.is_set() and time.monotonic() < until:
                    self.wfile.write(chunk)
                self.close_connection = True
            elif kind == "trickle":
                body = self.body_of(rest)
                self.send_response(200)
                self.send_header("Content-Type", mimetypes.guess_type(self.path)[0] or "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                for i in range(len(body)):
                    if STOP.wait(0.2):
                        break
                    self.wfile.write(body[i:i + 1])
                    self.wfile.flush()
                STOP.wait(LIMIT_SECONDS)
                self.close_connection = True
            elif kind in ("sized", "nolengthsized"):
                size = int(rest.split("/", 1)[0])
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                if kind == "sized":
                    self.send_header("Content-Length", str(size))
                else:
                    self.send_header("Connection", "close")
                self.end_headers()
                chunk = b"\0" * 65536
                sent = 0
                while sent < size and not STOP.is_set():
                    part = chunk[: min(len(chunk), size - sent)]
                    self.wfile.write(part)
                    sent += len(part)
                self.close_connection = True
            elif kind == "html":
                self.send_body(b"<html><body>Sign in to the network</body></html>", ctype="text/html")
            else:
                self.send_error(404)
        except FileNotFoundError:
            self.send_error(404)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if self.path == "/echo":
            self.send_body(b"got:" + body, ctype="text/plain")
        elif self.path == "/echoagent":
            agent = self.headers.get("User-Agent", "").encode()
            self.send_body(b"agent:" + agent + b" body:" + body, ctype="text/plain")
        else:
            self.send_error(404)


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    channel = Channel(sys.argv)
    channel.say(str(server.server_address[1]))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    channel.wait()  # ends when the test closes our stdin or goes away
    STOP.set()
    server.shutdown()


if __name__ == "__main__":
    main()
