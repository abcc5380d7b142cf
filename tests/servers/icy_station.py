# SPDX-License-Identifier: MIT
"""A one-listener ICY station on loopback for the install test.

Writes its port to the file named by argv[1], serves one client a header, two
titles and some audio (metadata every 16 bytes), then holds the connection until
the client leaves."""
import socket
import sys

METAINT = 16


def block(title: bytes) -> bytes:
    text = b"StreamTitle='" + title + b"';"
    length = -(-len(text) // 16)
    return bytes([length]) + text.ljust(length * 16, b"\0")


def main() -> None:
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    with open(sys.argv[1], "w") as port_file:
        port_file.write(str(listener.getsockname()[1]))
    listener.settimeout(30)
    client, _ = listener.accept()
    client.recv(4096)
    body = b"A" * METAINT + block(b"First Song") + b"B" * METAINT + block(b"Second Song")
    body += b"C" * METAINT
    client.sendall(b"ICY 200 OK\r\nicy-name:Install Test FM\r\nicy-metaint:16\r\n\r\n" + body)
    client.settimeout(30)
    while client.recv(4096):
        pass


main()
