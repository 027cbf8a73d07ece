#!/usr/bin/env python3
"""Loopback HTTP server for the answers a real server will not give. Prints its port, then serves until killed.

Usage: scripted_server.py FILE [LOG]. With LOG, every request appends one line "ROUTE FROM IF-RANGE" to it
(FROM is the Range offset or "-", IF-RANGE the If-Range value or "-"), before the answer is sent.

Paths (the file served is FILE, given on the command line):
  /404               404 with an HTML body          /nolength         the file, no Content-Length, closes
  /redirect          302 to /nolength               /loop             302 to itself, forever
  /norange           the file, 200, Range ignored   /reset            first answer breaks off midway, then ranges
  /stall             headers, some bytes, silence   /flaky            503 first, then the file with ranges
  /liar              Content-Length larger than the body, then closes
  /auth              echoes the Authorization header
  /page              a UTF-8 page with markers      /file             the file with Range support
  /slow?rate=N       the file with ranges, N bytes per second per connection (default 262144)
  /tagged            the file with ranges, ETag and Last-Modified, honouring If-Range
  /busy?n=N          503 to the first N requests, then the file with ranges
  /status?code=N     status N with a short body
  /empty             200 with Content-Length 0      /empty416         416 "bytes */0" to any Range
  /wrongstart        the first answer for each offset starts 1000 bytes later than asked, then right ones
  /overrun?len=N     206 naming N bytes from the offset, then N more bytes of zeros (no Content-Length)
  /badlength?len=N   206 naming N bytes from the offset with a Content-Length of 2N, then 2N bytes
  /changing?mode=M   version A to the first request, version B (other bytes) from then on; M=etag: new ETag,
                     If-Range honoured; M=total: no validators, B is 1000 bytes longer; M=always: a new version
                     for every request
  /starrange?len=N   206 "bytes A-B/*" with at most N bytes from the offset: the total is never told
  /trickle?n=N       the file with ranges; the first N bytes of each answer go one byte per write
  /silent            reads the request and never answers    /midheader   half a status line, then closes
  /hugeheader?kb=N   the file with ranges after N KiB of extra header lines
  /wrong416?n=N      416 "bytes */<size>" to the first N ranged requests that do not start at 0, then ranges
  /away?to=URL       a 302 to URL for requests from a nonzero offset; the file itself from 0 (with the ETag and
                     Last-Modified of /tagged when tagged=1) and to any request with sig=...
  /late?ms=N         the first answer sends its header, after N ms 4096 bytes, then nothing for 30 s; then ranges
  /drip?ms=N         a UTF-8 page named 1 MB long, one byte every N ms (default 20) for as long as it is read
  /peer              a server that changes between two runs of a download, as FILE.peer says at each request
                     (key=value lines; any other query is ignored, so a new token names the same file):
                       version=a|b|bigger  the file, another one of the same size, or a 1000 bytes longer one
                       etag=V, modified=V  validators sent (none when absent); etag=flap: "e1", "e2", ... per answer
                       ranges=0            Range ignored: 200 with the whole file
                       ifrange=0           If-Range ignored (by default a mismatch gives the whole file)
                       length=0            no Content-Length on a 200; the answer ends when the connection closes
                       status=N            answer N with a short body (retryafter=S adds Retry-After: S)
                       failfirst=K         answer status N only to the first K requests, then the file
                       rate=N              N bytes per second per connection
                       expireafter=N       requests with the same tok=... get 403 once N bytes were sent for it
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
LOG = None
PEER_FILE = None
TAGGED_MODIFIED = "Tue, 01 Aug 2023 10:00:00 GMT"


def log(route, request):
    if LOG is None:
        return
    start = re.search(r"(?im)^Range:\s*bytes=(\d+)-", request)
    if_range = re.search(r"(?im)^If-Range:\s*(.*?)\s*$", request)
    with LOCK, open(LOG, "a") as f:
        f.write(f"{route} {start.group(1) if start else '-'} {if_range.group(1) if if_range else '-'}\n")


SENT = {}


def peer_settings():
    try:
        with open(PEER_FILE) as f:
            return dict(line.strip().split("=", 1) for line in f if "=" in line)
    except OSError:
        return {}


def count(key):
    with LOCK:
        COUNTS[key] = COUNTS.get(key, 0) + 1
        return COUNTS[key]


def version_b():
    return bytes(b ^ 0x5A for b in DATA)


def first_time(key):
    with LOCK:
        COUNTS[key] = COUNTS.get(key, 0) + 1
        return COUNTS[key] == 1


class Handler(socketserver.StreamRequestHandler):
    def send(self, status, headers, body=b""):
        head = f"HTTP/1.1 {status}\r\n" + "".join(f"{k}: {v}\r\n" for k, v in headers) + "\r\n"
        self.wfile.write(head.encode() + body)

    def file_answer(self, request, data=None, extra=(), rate=0):
        data = DATA if data is None else data
        match = re.search(r"(?im)^Range:\s*bytes=(\d+)-(\d*)", request)
        if not match:
            self.send_paced("200 OK", [("Content-Length", len(data))] + list(extra), data, rate)
            return
        start = int(match.group(1))
        if start >= len(data):
            self.send("416 Range Not Satisfiable", [("Content-Range", f"bytes */{len(data)}"), ("Content-Length", 0)])
            return
        end = int(match.group(2)) if match.group(2) else len(data) - 1
        part = data[start:end + 1]
        self.send_paced("206 Partial Content", [("Content-Range", f"bytes {start}-{start + len(part) - 1}/{len(data)}"),
                                                ("Content-Length", len(part))] + list(extra), part, rate)

    def send_paced(self, status, headers, body, rate):
        if rate <= 0:
            self.send(status, headers, body)
            return
        self.send(status, headers)
        began = time.monotonic()
        for at in range(0, len(body), 16384):
            self.wfile.write(body[at:at + 16384])
            self.wfile.flush()
            ahead = (at + 16384) / rate - (time.monotonic() - began)
            if ahead > 0:
                time.sleep(ahead)

    def trickle(self, request, slow):
        match = re.search(r"(?im)^Range:\s*bytes=(\d+)-", request)
        start = int(match.group(1)) if match else 0
        part = DATA[start:]
        if match:
            self.send("206 Partial Content", [("Content-Range", f"bytes {start}-{len(DATA) - 1}/{len(DATA)}"),
                                              ("Content-Length", len(part))])
        else:
            self.send("200 OK", [("Content-Length", len(part))])
        for at in range(min(slow, len(part))):
            self.wfile.write(part[at:at + 1])
            self.wfile.flush()
        self.wfile.write(part[slow:])

    def late(self, request, ms):
        match = re.search(r"(?im)^Range:\s*bytes=(\d+)-", request)
        start = int(match.group(1)) if match else 0
        self.send("206 Partial Content", [("Content-Range", f"bytes {start}-{len(DATA) - 1}/{len(DATA)}"),
                                          ("Content-Length", len(DATA) - start)])
        time.sleep(ms / 1000)
        self.wfile.write(DATA[start:start + 4096])
        time.sleep(30)
        self.wfile.write(DATA[start + 4096:])

    def drip(self, ms):
        body = "<p>常用软件：是- 常用软件版本：2.0-</p>".encode("utf-8")
        self.send("200 OK", [("Content-Type", "text/html; charset=utf-8"), ("Content-Length", 1 << 20)])
        for at in range(1 << 20):
            self.wfile.write(body[at % len(body):at % len(body) + 1])
            self.wfile.flush()
            time.sleep(ms / 1000)

    def changing_answer(self, request, mode):
        seen = count("changing")
        if mode == "always":
            data = DATA if seen % 2 else version_b()
            self.file_answer(request, data, [("ETag", f'"v{seen}"')])
            return
        data = DATA if seen == 1 else version_b()
        if mode == "total":
            self.file_answer(request, data if seen == 1 else data + b"x" * 1000)
            return
        tag = '"a"' if seen == 1 else '"b"'
        if_range = re.search(r"(?im)^If-Range:\s*(.*?)\s*$", request)
        if if_range and if_range.group(1) != tag:
            request = re.sub(r"(?im)^Range:.*$", "", request)
        self.file_answer(request, data, [("ETag", tag)])

    def peer(self, request, query):
        settings = peer_settings()
        status = settings.get("status")
        if status and count("peer-refused" + status) <= int(settings.get("failfirst", 1 << 30)):
            extra = [("Retry-After", settings["retryafter"])] if "retryafter" in settings else []
            self.send(f"{status} Scripted", [("Content-Length", 6)] + extra, b"status")
            return
        token = query.get("tok", "")
        limit = int(settings.get("expireafter", 0))
        if limit and SENT.get(token, 0) >= limit:
            self.send("403 Forbidden", [("Content-Length", 7)], b"expired")
            return
        version = settings.get("version", "a")
        data = DATA if version == "a" else version_b() if version == "b" else DATA + b"x" * 1000
        extra = []
        etag = settings.get("etag")
        if etag == "flap":
            etag = f'"e{count("peer-etag")}"'
        if etag:
            extra.append(("ETag", etag))
        if settings.get("modified"):
            extra.append(("Last-Modified", settings["modified"]))
        if_range = re.search(r"(?im)^If-Range:\s*(.*?)\s*$", request)
        if if_range and settings.get("ifrange") != "0" and if_range.group(1) not in (etag, settings.get("modified")):
            request = re.sub(r"(?im)^Range:.*$", "", request)
        if settings.get("ranges") == "0":
            request = re.sub(r"(?im)^Range:.*$", "", request)
        if settings.get("length") == "0" and not re.search(r"(?im)^Range:", request):
            self.wfile.write(b"HTTP/1.0 200 OK\r\n" + b"".join(f"{k}: {v}\r\n".encode() for k, v in extra)
                             + b"\r\n" + data)
            return
        if limit:
            self.send_counted(request, data, extra, token, limit)
            return
        self.file_answer(request, data, extra, int(settings.get("rate", 0)))

    def send_counted(self, request, data, extra, token, limit):
        """The file with ranges; the connection closes once `limit` bytes were sent for `token` in all."""
        match = re.search(r"(?im)^Range:\s*bytes=(\d+)-", request)
        start = int(match.group(1)) if match else 0
        head = [("Content-Length", len(data) - start)] + extra
        if match:
            head.append(("Content-Range", f"bytes {start}-{len(data) - 1}/{len(data)}"))
        self.send("206 Partial Content" if match else "200 OK", head)
        for at in range(start, len(data), 16384):
            with LOCK:
                room = limit - SENT.get(token, 0)
                piece = data[at:at + min(16384, max(room, 0))]
                SENT[token] = SENT.get(token, 0) + len(piece)
            if not piece:
                return
            self.wfile.write(piece)
            self.wfile.flush()
            time.sleep(0.002)

    def partial_lie(self, request, length, declared_length):
        match = re.search(r"(?im)^Range:\s*bytes=(\d+)-", request)
        start = int(match.group(1)) if match else 0
        part = DATA[start:start + length]
        head = [("Content-Range", f"bytes {start}-{start + len(part) - 1}/{len(DATA)}")]
        if declared_length:
            head.append(("Content-Length", 2 * len(part)))
            self.send("206 Partial Content", head, part + DATA[start + len(part):start + 2 * len(part)])
        else:
            self.send("206 Partial Content", head, part + bytes(len(part)))

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
        query = dict(p.split("=", 1) for p in path.split("?", 1)[1].split("&") if "=" in p) if "?" in path else {}
        log(route, text)
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
        elif route == "/slow":
            self.file_answer(text, rate=int(query.get("rate", 262144)))
        elif route == "/tagged":
            tag = '"t1"'
            modified = TAGGED_MODIFIED
            if_range = re.search(r"(?im)^If-Range:\s*(.*?)\s*$", text)
            if if_range and if_range.group(1) not in (tag, modified):
                text = re.sub(r"(?im)^Range:.*$", "", text)
            self.file_answer(text, extra=[("ETag", tag), ("Last-Modified", modified)])
        elif route == "/busy":
            if count("busy" + query.get("n", "1")) <= int(query.get("n", 1)):
                self.send("503 Service Unavailable", [("Content-Length", 5)], b"busy!")
            else:
                self.file_answer(text)
        elif route == "/status":
            self.send(f"{query.get('code', '404')} Scripted", [("Content-Length", 6)], b"status")
        elif route == "/empty":
            self.send("200 OK", [("Content-Length", 0)])
        elif route == "/empty416":
            self.send("416 Range Not Satisfiable", [("Content-Range", "bytes */0"), ("Content-Length", 0)])
        elif route == "/wrongstart":
            match = re.search(r"(?im)^Range:\s*bytes=(\d+)-", text)
            start = int(match.group(1)) if match else 0
            if first_time(f"wrongstart{start}") and start + 1000 < len(DATA):
                self.file_answer(f"Range: bytes={start + 1000}-\r\n")
            else:
                self.file_answer(text)
        elif route == "/overrun":
            self.partial_lie(text, int(query.get("len", 524288)), False)
        elif route == "/badlength":
            self.partial_lie(text, int(query.get("len", 524288)), True)
        elif route == "/changing":
            self.changing_answer(text, query.get("mode", "etag"))
        elif route == "/starrange":
            match = re.search(r"(?im)^Range:\s*bytes=(\d+)-", text)
            start = int(match.group(1)) if match else 0
            part = DATA[start:start + int(query.get("len", 65536))]
            self.send("206 Partial Content", [("Content-Range", f"bytes {start}-{start + len(part) - 1}/*"),
                                              ("Content-Length", len(part))], part)
        elif route == "/trickle":
            self.trickle(text, int(query.get("n", 64)))
        elif route == "/silent":
            time.sleep(60)
        elif route == "/midheader":
            self.wfile.write(b"HTTP/1.1 20")
        elif route == "/hugeheader":
            extra = [(f"X-Filler-{i}", "f" * 1000) for i in range(int(query.get("kb", 1024)))]
            self.file_answer(text, extra=extra)
        elif route == "/wrong416":
            match = re.search(r"(?im)^Range:\s*bytes=(\d+)-", text)
            if match and int(match.group(1)) > 0 and count("wrong416") <= int(query.get("n", 1)):
                self.send("416 Range Not Satisfiable", [("Content-Range", f"bytes */{len(DATA)}"),
                                                        ("Content-Length", 0)])
            else:
                self.file_answer(text)
        elif route == "/away":
            match = re.search(r"(?im)^Range:\s*bytes=(\d+)-", text)
            if match and int(match.group(1)) > 0 and "sig" not in query:
                self.send("302 Found", [("Location", query.get("to", "/")), ("Content-Length", 0)])
            else:
                tags = [("ETag", '"t1"'), ("Last-Modified", TAGGED_MODIFIED)] if query.get("tagged") else []
                self.file_answer(text, extra=tags)
        elif route == "/late":
            if first_time("late"):
                self.late(text, int(query.get("ms", 2500)))
            else:
                self.file_answer(text)
        elif route == "/drip":
            self.drip(int(query.get("ms", 20)))
        elif route == "/peer":
            self.peer(text, query)
        elif route == "/request":
            body = request
            self.send("200 OK", [("Content-Length", len(body))], body)
        else:
            self.file_answer(text)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global DATA, LOG, PEER_FILE
    with open(sys.argv[1], "rb") as f:
        DATA = f.read()
    PEER_FILE = sys.argv[1] + ".peer"
    LOG = sys.argv[2] if len(sys.argv) > 2 else None
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
