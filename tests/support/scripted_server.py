#!/usr/bin/env python3
"""Loopback HTTP server for the answers a real server will not give. Prints its port, then serves until killed.

Paths (the file served is FILE, given on the command line):
  /404               404 with an HTML body          /nolength         the file, no Content-Length, closes
  /redirect          302 to /nolength               /loop             302 to itself, forever
  /norange           the file, 200, Range ignored   /reset            first answer breaks off midway, then ranges
  /stall             headers, some bytes, silence   /flaky            503 first, then the file with ranges
  /liar              Content-Length larger than the body, then closes
  /auth              echoes the Authorization header
  /page              a UTF-8 page with markers      /file             the file with Range support
"""
import base64
import re
import socket
import socketserver
import sys
import threading
import time

DATA = b""
COUNTS = {}
LOCK = threading.Lock()


def first_time(key):
    with LOCK:
        COUNTS[key] = COUNTS.get(key, 0) + 1
        return COUNTS[key] == 1


class Handler(socketserver.StreamRequestHandler):
    def send(self, status, headers, body=b""):
        head = f"HTTP/1.1 {status}\r\n" + "".join(f"{k}: {v}\r\n" for k, v in headers) + "\r\n"
        self.wfile.write(head.encode() + body)

    def file_answer(self, request):
        match = re.search(r"(?im)^Range:\s*bytes=(\d+)-(\d*)", request)
        if not match:
            self.send("200 OK", [("Content-Length", len(DATA)), ("Connection", "close")], DATA)
            return
        start = int(match.group(1))
        end = int(match.group(2)) if match.group(2) else len(DATA) - 1
        part = DATA[start:end + 1]
        self.send("206 Partial Content", [("Content-Range", f"bytes {start}-{start + len(part) - 1}/{len(DATA)}"),
                                          ("Content-Length", len(part)), ("Connection", "close")], part)

    def handle(self):
        request = b""
        while b"\r\n\r\n" not in request:
            chunk = self.rfile.readline()
            if not chunk:
                return
            request += chunk
        text = request.decode("latin-1")
        path = text.split(" ")[1] if " " in text else "/"
        route = path.split("?")[0]
        if route == "/404":
            self.send("404 Not Found", [("Content-Type", "text/html"), ("Content-Length", 33)],
                      b"<html><h1>404 Not Found</h1></html>"[:33])
        elif route == "/nolength":
            self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + DATA)
        elif route == "/redirect":
            self.send("302 Found", [("Location", "/nolength"), ("Content-Length", 0)])
        elif route == "/loop":
            self.send("302 Found", [("Location", "/loop"), ("Content-Length", 0)])
        elif route == "/norange":
            self.send("200 OK", [("Content-Length", len(DATA)), ("Connection", "close")], DATA)
        elif route == "/reset":
            query = dict(p.split("=", 1) for p in path.split("?", 1)[1].split("&") if "=" in p) if "?" in path else {}
            cut = int(query.get("at", len(DATA) // 3))
            if first_time("reset" + str(cut)):
                self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(DATA) + DATA[:cut])
                self.wfile.flush()
                self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
                self.request.close()
                return
            self.file_answer(text)
        elif route == "/stall":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(DATA) + DATA[:1000])
            self.wfile.flush()
            time.sleep(30)
        elif route == "/flaky":
            if first_time("flaky"):
                self.send("503 Service Unavailable", [("Content-Length", 5)], b"busy!")
            else:
                self.file_answer(text)
        elif route == "/liar":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % (len(DATA) + 1000) + DATA)
        elif route == "/auth":
            match = re.search(r"(?im)^Authorization:\s*Basic\s+(\S+)", text)
            body = base64.b64decode(match.group(1)) if match else b"none"
            self.send("200 OK", [("Content-Length", len(body))], body)
        elif route == "/page":
            body = "<p>广告：Hello-</p><p>公告：Line-</p>".encode("utf-8")
            self.send("200 OK", [("Content-Type", "text/html; charset=utf-8"), ("Content-Length", len(body))], body)
        elif route == "/request":
            body = request
            self.send("200 OK", [("Content-Length", len(body))], body)
        else:
            self.file_answer(text)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global DATA
    with open(sys.argv[1], "rb") as f:
        DATA = f.read()
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
