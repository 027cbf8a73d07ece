#!/usr/bin/env python3
"""The loopback demo service: everything the program talks to over the network, without the internet.

  /share/link?shareid=N&uk=M          a netdisk-style share page with the file's description element
  /share/link?shareid=N&uk=M&third=0  its twin carrying the escaped direct link
  /file/N?tok=T                       the file behind share N, with Range, If-Range and a strong ETag, throttled
                                      per connection; with --expire-after, a link (its token T, new on every
                                      resolution) answers 403 once that many bytes were sent through it
  /manifest.html                      the published manifest page, TREE/manifest.html, and its .minisig
  /share/CATEGORY.html                the static share page that `publish --base` writes (TREE/share/)
  /lists/NAME.txt                     a published list under its hashed name (TREE/lists/)
  /share/link?list=CATEGORY           the share page of a published category list (and its &third=0 twin)
  /list/CATEGORY                      the published list file, TREE/自动更新/CATEGORY.txt (GBK)

It serves a catalog as `kavo-cli publish` writes it (TREE, by default build/published, which the build publishes
from src/resources/catalog), with one share per record of the published lists. The tree is read anew for every
request, so a second publish into it shows at once. Listens on 127.0.0.1 only.
Usage: demo_service.py [--port 18080] [--tree DIR] [--rate BYTES_PER_SECOND] [--max-file-bytes N]
                       [--expire-after BYTES]
With --port 0 it picks a free port and prints it alone on the first line.
"""
import argparse
import hashlib
import html
import itertools
import random
import re
import socketserver
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, quote, unquote, urlsplit

HERE = Path(__file__).resolve().parent
RECORD = re.compile(r"\((.*?)\)", re.S)
SIZE = re.compile(r"([\d.]+)\s*(KB|MB|GB)", re.I)
PATTERN_BYTES = 1 << 20
CATEGORIES = ("软件下载", "源码下载", "模块下载", "电脑技术", "常用软件")
NAME_KEYS = ("软件名称：", "源码名称：", "模块名称：", "文本名称：")
SIZE_KEYS = ("软件大小：", "源码大小：", "模块大小：", "文本大小：")


def list_file(tree, category):
    """The published list of a category as bytes, or None when the tree has none."""
    if category not in CATEGORIES:
        return None
    path = Path(tree) / "自动更新" / f"{category}.txt"
    return path.read_bytes() if path.is_file() else None


class Share:
    def __init__(self, share_id, name, size_text, time_text, category):
        self.share_id = share_id
        self.name = name
        self.size_text = size_text
        self.time_text = time_text
        self.extension = ".txt" if category == "电脑技术" else ".zip"
        self.downloads = 100 + share_id % 997

    def file_name(self):
        return self.name + self.extension

    def byte_count(self, cap):
        match = SIZE.search(self.size_text)
        if not match:
            return min(cap, 1 << 20)
        unit = {"KB": 1 << 10, "MB": 1 << 20, "GB": 1 << 30}[match.group(2).upper()]
        return max(1, min(cap, int(float(match.group(1)) * unit)))


def field(body, key):
    match = re.search(re.escape(key) + r"([^-]*)-", body)
    return match.group(1) if match else ""


def load_shares(tree):
    shares = {}
    for category in CATEGORIES:
        data = list_file(tree, category)
        for body in RECORD.findall(data.decode("gbk", errors="replace") if data else ""):
            match = re.search(r"shareid=(\d+)", field(body, "下载地址："))
            if not match:
                continue
            share_id = int(match.group(1))
            name = next((field(body, k) for k in NAME_KEYS if field(body, k)), "")
            size = next((field(body, k) for k in SIZE_KEYS if field(body, k)), "")
            shares[share_id] = Share(share_id, name, size, field(body, "分享时间："), category)
    return shares


class Demo(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, tree, rate, cap, expire_after=0):
        super().__init__(address, Handler)
        self.tree = tree
        self.rate = rate
        self.cap = cap
        self.expire_after = expire_after
        self.tokens = itertools.count(1)
        self.sent = {}  # bytes sent through each token
        self.lock = threading.Lock()
        self.pattern = random.Random(20261208).randbytes(PATTERN_BYTES)

    def share(self, share_id):
        return load_shares(self.tree).get(share_id)

    def file_bytes(self, share, start, end):
        """Bytes start..end (exclusive) of share's file: a fixed pattern, rotated per share."""
        offset = share.share_id * 7919
        out = bytearray()
        position = start
        while position < end:
            at = (position + offset) % PATTERN_BYTES
            take = min(end - position, PATTERN_BYTES - at)
            out += self.pattern[at:at + take]
            position += take
        return bytes(out)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KavoDemo/1.0"

    def log_message(self, fmt, *args):
        sys.stderr.write("demo: " + (fmt % args) + "\n")

    def send_body(self, status, body, content_type, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = urlsplit(self.path)
        query = parse_qs(parts.query)
        if parts.path == "/share/link":
            self.share_page(query)
        elif parts.path in ("/manifest.html", "/manifest.html.minisig") or re.fullmatch(
                r"/(share/[^/]+\.html|lists/[^/]+\.txt)", unquote(parts.path)):
            self.static(unquote(parts.path))
        elif parts.path.startswith("/list/"):
            data = list_file(self.server.tree, unquote(parts.path[len("/list/"):]))
            if data is None:
                self.not_found()
            else:
                self.send_body(200, data, "text/plain; charset=gbk")
        elif parts.path.startswith("/file/"):
            self.file(parts.path[len("/file/"):], query.get("tok", [""])[0])
        else:
            self.not_found()

    def static(self, path):
        """A file of the published tree as a static host serves it: the page, its signature, share pages, lists."""
        file = Path(self.server.tree) / path.lstrip("/")
        if ".." in Path(path).parts or not file.is_file():
            self.not_found()
            return
        kind = "text/html; charset=utf-8" if path.endswith(".html") else "text/plain; charset=utf-8"
        body = file.read_bytes()
        etag = '"' + hashlib.sha256(body).hexdigest()[:16] + '"'
        if etag in [tag.strip() for tag in self.headers.get("If-None-Match", "").split(",")]:
            self.send_response(304)
            self.send_header("ETag", etag)
            self.send_header("Connection", "close")
            self.end_headers()
            return
        self.send_body(200, body, kind, [("ETag", etag)])

    def not_found(self):
        self.send_body(404, b"<html><body><h1>404 Not Found</h1></body></html>", "text/html; charset=utf-8")

    def share_page(self, query):
        if "list" in query:
            self.list_share_page(query["list"][0], query)
            return
        share_text = query.get("shareid", ["0"])[0]
        share = self.server.share(int(share_text) if share_text.isdigit() else 0)
        if share is None:
            self.send_body(404, "<html><body>分享的文件已经被删除了</body></html>".encode(), "text/html; charset=utf-8")
            return
        if query.get("third") == ["0"]:
            host = self.headers.get("Host", "127.0.0.1")
            link = f"http://{host}/file/{share.share_id}?tok={next(self.server.tokens)}".replace("/", "\\\\/")
            page = ('<html><head><script>var yunData = {"file_list":"[{\\"server_filename\\":\\"'
                    + share.file_name() + '\\",\\"dlink\\":\\"' + link + '\\"}]"};</script></head><body></body></html>')
        else:
            description = (f"文件名:{share.file_name()} 文件大小:{share.size_text} 分享者:kavo "
                           f"分享时间:{share.time_text} 下载次数:{share.downloads}")
            page = (f'<html><head><meta charset="utf-8"/><meta content="{html.escape(description, quote=False)}" '
                    f'name="description"/><title>{share.file_name()} 免费高速下载</title></head>'
                    f"<body><h1>{share.file_name()}</h1></body></html>")
        self.send_body(200, page.encode("utf-8"), "text/html; charset=utf-8")

    def list_share_page(self, category, query):
        data = list_file(self.server.tree, category)
        if data is None:
            self.send_body(404, "<html><body>分享的文件已经被删除了</body></html>".encode(), "text/html; charset=utf-8")
            return
        if query.get("third") == ["0"]:
            host = self.headers.get("Host", "127.0.0.1")
            link = f"http://{host}/list/{quote(category)}".replace("/", "\\\\/")
            page = '<html><head><script>var yunData = {"file_list":"[{\\"dlink\\":\\"' + link + '\\"}]"};</script></head></html>'
        else:
            description = f"文件名:{category}.txt 文件大小:{len(data)}B 分享者:kavo 分享时间:2026.12.1 下载次数:1"
            page = f'<html><head><meta content="{description}" name="description"/></head></html>'
        self.send_body(200, page.encode("utf-8"), "text/html; charset=utf-8")

    def file(self, share_text, token):
        share = self.server.share(int(share_text) if share_text.isdigit() else 0)
        if share is None:
            self.send_body(404, b"no such file", "text/plain")
            return
        if self.server.expire_after and self.server.sent.get(token, 0) >= self.server.expire_after:
            self.send_body(403, b"this link has expired", "text/plain")
            return
        total = share.byte_count(self.server.cap)
        etag = f'"share-{share.share_id}-{total}"'
        start, end, status = 0, total, 200
        match = re.match(r"bytes=(\d+)-(\d*)$", self.headers.get("Range", ""))
        if self.headers.get("If-Range") not in (None, etag):
            match = None
        if match and int(match.group(1)) < total:
            start = int(match.group(1))
            end = min(total, int(match.group(2)) + 1) if match.group(2) else total
            status = 206
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(end - start))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("ETag", etag)
        if status == 206:
            self.send_header("Content-Range", f"bytes {start}-{end - 1}/{total}")
        self.send_header("Connection", "close")
        self.end_headers()
        sent = self.stream(share, start, end, token)
        # Tests read which bytes went out: a resumed download must not fetch again what it has.
        sys.stderr.write(f"demo: range {share.share_id} {start} {start + sent}\n")
        sys.stderr.flush()

    def stream(self, share, start, end, token):
        chunk = 64 * 1024
        began = time.monotonic()
        sent = 0
        position = start
        try:
            while position < end:
                size = min(chunk, end - position)
                if self.server.expire_after:
                    with self.server.lock:
                        size = min(size, self.server.expire_after - self.server.sent.get(token, 0))
                        self.server.sent[token] = self.server.sent.get(token, 0) + max(size, 0)
                    if size <= 0:
                        return sent  # the link expired while it was in use: the connection ends
                self.wfile.write(self.server.file_bytes(share, position, position + size))
                position += size
                sent += size
                if self.server.rate > 0:
                    ahead = sent / self.server.rate - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)
        except (BrokenPipeError, ConnectionResetError):
            pass
        return sent


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=18080)
    parser.add_argument("--tree", default=str(HERE.parent / "build" / "published"),
                        help="the published catalog: manifest.html and 自动更新/*.txt")
    parser.add_argument("--rate", type=int, default=1 << 20, help="bytes per second per connection, 0: no limit")
    parser.add_argument("--max-file-bytes", type=int, default=24 << 20)
    parser.add_argument("--expire-after", type=int, default=0,
                        help="a direct link answers 403 once this many bytes were sent through it; 0: never")
    args = parser.parse_args()
    try:
        server = Demo(("127.0.0.1", args.port), args.tree, args.rate, args.max_file_bytes, args.expire_after)
    except OSError as error:
        sys.exit(f"demo_service: cannot listen on 127.0.0.1:{args.port}: {error.strerror}")
    port = server.server_address[1]
    if args.port == 0:
        print(port, flush=True)
    print(f"demo service on http://127.0.0.1:{port}/ serving {args.tree} with {len(load_shares(args.tree))} shares",
          file=sys.stderr, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
