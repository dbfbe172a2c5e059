#!/usr/bin/env python3
"""A small HTTP proxy for tests: it tunnels CONNECT requests and refuses everything else.

    connect_proxy.py [--log FILE] [--map HOST=ADDRESS ...] [--host HOST] [--port N]

Once it listens it prints "port <n>" on a line of its own on stdout. A CONNECT to HOST:PORT is tunnelled
to ADDRESS:PORT when --map names HOST (so a test can use a name that no resolver knows, which proves the
client went through the proxy), else to HOST:PORT itself. A request of any other method is answered
502 without being forwarded. Every request line is appended to the --log file as one JSON line before
it is acted on: {"seq": n, "method": "CONNECT", "target": "zem.test:443", "headers": [[name, value], ...]}.
"""

import argparse
import json
import selectors
import socket
import socketserver
import sys
import threading


class Log:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.seq = 0

    def append(self, entry):
        with self.lock:
            self.seq += 1
            if self.path:
                with open(self.path, "a", encoding="utf-8") as out:
                    out.write(json.dumps(dict(seq=self.seq, **entry)) + "\n")


def read_head(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(4096)
        if not chunk:
            return None, b""
        data += chunk
        if len(data) > 65536:
            return None, b""
    head, _, rest = data.partition(b"\r\n\r\n")
    return head.decode("latin-1"), rest


def relay(a, b):
    selector = selectors.DefaultSelector()
    selector.register(a, selectors.EVENT_READ, b)
    selector.register(b, selectors.EVENT_READ, a)
    try:
        while True:
            for key, _ in selector.select():
                data = key.fileobj.recv(65536)
                if not data:
                    return
                key.data.sendall(data)
    except OSError:
        return
    finally:
        selector.close()


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        head, rest = read_head(self.request)
        if head is None:
            return
        lines = head.split("\r\n")
        parts = lines[0].split(" ")
        method = parts[0] if parts else ""
        target = parts[1] if len(parts) > 1 else ""
        headers = [[n.strip(), v.strip()] for n, _, v in (line.partition(":") for line in lines[1:])]
        self.server.log.append({"method": method, "target": target, "headers": headers})
        if method != "CONNECT":
            self.request.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        host, _, port = target.rpartition(":")
        host = host.strip("[]")
        try:
            upstream = socket.create_connection((self.server.mapping.get(host, host), int(port)), timeout=10)
        except (OSError, ValueError):
            self.request.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        upstream.settimeout(None)
        with upstream:
            self.request.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            if rest:
                upstream.sendall(rest)
            relay(self.request, upstream)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, log, mapping):
        self.log = log
        self.mapping = mapping
        super().__init__(address, Handler)

    def handle_error(self, request, client_address):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--log")
    parser.add_argument("--map", action="append", default=[])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    mapping = dict(entry.split("=", 1) for entry in args.map)
    server = Server((args.host, args.port), Log(args.log), mapping)
    print("port %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
