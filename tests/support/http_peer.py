# SPDX-License-Identifier: MIT
"""A loopback HTTP server for the download tests.

Prints the port it listens on (127.0.0.1 only), then serves until terminated:
  /sized/N          N bytes with a Content-Length
  /chunked/N        N bytes in chunked transfer coding, no size announced
  /slow/N           like /sized/N, in 16 KiB pieces with short pauses
  /stall/N          announces 2N bytes, sends N, then nothing until the client leaves
  /missing          404 with an HTML error page
  /redirect/N       302 to /sized/N
  /redirect-to-file 302 to file:///etc/hostname (must be refused)
  /redirect-to-closed 302 to a port where nothing listens
  /choices          300 with a body and no Location (not the resource)
  /cache-headers    the request's Cache-Control and Pragma fields, as the body
Byte i of every body is i % 251.
"""
import http.server
import sys
import time

PIECE = 16 * 1024


def body(n):
    pattern = bytes(range(251))
    return (pattern * (n // 251 + 1))[:n]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        kind, n = parts[0], int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        if kind in ("sized", "slow"):
            self.send_sized(body(n), pause=0.01 if kind == "slow" else 0)
        elif kind == "stall":
            self.send_stalled(body(2 * n)[:n], 2 * n)
        elif kind == "chunked":
            self.send_chunked(body(n))
        elif kind == "redirect":
            self.send_redirect("/sized/%d" % n)
        elif kind == "redirect-to-file":
            self.send_redirect("file:///etc/hostname")
        elif kind == "redirect-to-closed":
            self.send_redirect("http://127.0.0.1:1/gone")
        elif kind == "cache-headers":
            text = "Cache-Control=%s;Pragma=%s" % (self.headers.get("Cache-Control"), self.headers.get("Pragma"))
            self.send_sized(text.encode(), pause=0)
        elif kind == "choices":
            page = b"pick one"
            self.send_response(300)
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)
        else:
            page = b"<html><body>Not here</body></html>"
            self.send_response(404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)

    def send_sized(self, data, pause):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        for start in range(0, len(data), PIECE):
            self.wfile.write(data[start:start + PIECE])
            self.wfile.flush()
            if pause:
                time.sleep(pause)

    def send_stalled(self, data, announced):
        self.send_response(200)
        self.send_header("Content-Length", str(announced))
        self.end_headers()
        self.wfile.write(data)
        self.wfile.flush()
        # Holds the connection open, sending nothing, until the client closes it.
        self.connection.recv(1)

    def send_chunked(self, data):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for start in range(0, len(data), PIECE):
            piece = data[start:start + PIECE]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.flush()
        self.wfile.write(b"0\r\n\r\n")

    def send_redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
