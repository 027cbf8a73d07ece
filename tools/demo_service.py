#!/usr/bin/env python3
"""The loopback demo service: everything the program talks to over the network, without the internet.

  /share/link?shareid=N&uk=M          a netdisk-style share page with the file's description element
  /share/link?shareid=N&uk=M&third=0  its twin carrying the escaped direct link
  /file/N                             the file behind share N, with Range support, throttled per connection
  /manifest.html                      the update manifest: flags, versions and list addresses, notice, advertisement
  /list/CATEGORY                      a newer category list file (GBK), the file behind that category's list share

One share per record of the sample catalog (src/resources/catalog). Listens on 127.0.0.1 only.
Usage: demo_service.py [--port 18080] [--catalog DIR] [--rate BYTES_PER_SECOND] [--max-file-bytes N]
With --port 0 it picks a free port and prints it alone on the first line.
"""
import argparse
import html
import random
import re
import socketserver
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, urlsplit

HERE = Path(__file__).resolve().parent
RECORD = re.compile(r"\((.*?)\)", re.S)
SIZE = re.compile(r"([\d.]+)\s*(KB|MB|GB)", re.I)
PATTERN_BYTES = 1 << 20
LIST_SHARES = {900001: "软件下载", 900002: "源码下载", 900003: "模块下载", 900004: "电脑技术", 900005: "常用软件"}
# The update the demo offers: 模块下载 has a newer list with two more records.
UPDATED_CATEGORY = "模块下载"
UPDATED_VERSION = "1.1"
NEW_RECORDS = ("(模块名称：压缩解压模块-模块大小：120KB-分享时间：2026.12.1-"
               "下载地址：http://127.0.0.1:18080/share/link?shareid=130101&uk=3500101-)\r\n"
               "(模块名称：图表绘制模块-模块大小：260KB-分享时间：2026.12.2-"
               "下载地址：http://127.0.0.1:18080/share/link?shareid=130102&uk=3500102-)\r\n")


def manifest_page(port):
    lines = []
    for share_id, category in LIST_SHARES.items():
        updated = category == UPDATED_CATEGORY
        lines.append(f"<li>{category}：{'是' if updated else '否'}-</li>")
        lines.append(f"<li>{category}版本：{UPDATED_VERSION if updated else '1.0'}-</li>")
        lines.append(f"<li>{category}地址：http://127.0.0.1:{port}/share/link?shareid={share_id}&amp;uk=1-</li>")
    notice = "欢迎使用 KAVO 软件一键下载！本机演示服务提供全部五个分类的示例条目，右键条目即可下载。-"
    advert = "KAVO 软件一键下载：绿色、安全、免费，所有分类一键搜索。-"
    return ('<html><head><meta charset="utf-8"/><title>KAVO 更新</title></head><body><ul>'
            + "".join(lines) + f"</ul><p>公告：{notice}</p><p>广告：{advert}</p></body></html>")


def category_list(catalog_dir, category):
    text = (Path(catalog_dir) / f"{category}.txt").read_text(encoding="utf-8")
    if category == UPDATED_CATEGORY:
        text += NEW_RECORDS
    return text.encode("gbk")


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


def load_shares(catalog_dir):
    shares = {}
    for path in sorted(Path(catalog_dir).glob("*.txt")):
        text = path.read_text(encoding="utf-8")
        for body in RECORD.findall(text):
            address = field(body, "下载地址：")
            match = re.search(r"shareid=(\d+)", address)
            if not match:
                continue
            share_id = int(match.group(1))
            name = next((field(body, k) for k in ("软件名称：", "源码名称：", "模块名称：", "文本名称：") if field(body, k)), "")
            size = next((field(body, k) for k in ("软件大小：", "源码大小：", "模块大小：", "文本大小：") if field(body, k)), "")
            shares[share_id] = Share(share_id, name, size, field(body, "分享时间："), path.stem)
    return shares


class Demo(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, shares, rate, cap, catalog_dir):
        super().__init__(address, Handler)
        self.catalog_dir = catalog_dir
        self.shares = shares
        self.rate = rate
        self.cap = cap
        self.pattern = random.Random(20261208).randbytes(PATTERN_BYTES)

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
        elif parts.path == "/manifest.html":
            self.send_body(200, manifest_page(self.server.server_address[1]).encode("utf-8"), "text/html; charset=utf-8")
        elif parts.path.startswith("/list/") and parts.path[len("/list/"):].isdigit() \
                and int(parts.path[len("/list/"):]) in LIST_SHARES:
            category = LIST_SHARES[int(parts.path[len("/list/"):])]
            self.send_body(200, category_list(self.server.catalog_dir, category), "text/plain; charset=gbk")
        elif parts.path.startswith("/file/"):
            self.file(parts.path[len("/file/"):])
        else:
            self.send_body(404, b"<html><body><h1>404 Not Found</h1></body></html>", "text/html; charset=utf-8")

    def share_page(self, query):
        share_id = int(query.get("shareid", ["0"])[0] or 0)
        if share_id in LIST_SHARES:
            self.list_share_page(share_id, query)
            return
        share = self.server.shares.get(share_id)
        if share is None:
            self.send_body(404, "<html><body>分享的文件已经被删除了</body></html>".encode(), "text/html; charset=utf-8")
            return
        if query.get("third") == ["0"]:
            host = self.headers.get("Host", "127.0.0.1")
            link = f"http://{host}/file/{share.share_id}".replace("/", "\\\\/")
            page = ('<html><head><script>var yunData = {"file_list":"[{\\"server_filename\\":\\"'
                    + share.file_name() + '\\",\\"dlink\\":\\"' + link + '\\"}]"};</script></head><body></body></html>')
        else:
            description = (f"文件名:{share.file_name()} 文件大小:{share.size_text} 分享者:kavo "
                           f"分享时间:{share.time_text} 下载次数:{share.downloads}")
            page = (f'<html><head><meta charset="utf-8"/><meta content="{html.escape(description, quote=False)}" '
                    f'name="description"/><title>{share.file_name()} 免费高速下载</title></head>'
                    f"<body><h1>{share.file_name()}</h1></body></html>")
        self.send_body(200, page.encode("utf-8"), "text/html; charset=utf-8")

    def list_share_page(self, share_id, query):
        category = LIST_SHARES[share_id]
        if query.get("third") == ["0"]:
            host = self.headers.get("Host", "127.0.0.1")
            link = f"http://{host}/list/{share_id}".replace("/", "\\\\/")
            page = '<html><head><script>var yunData = {"file_list":"[{\\"dlink\\":\\"' + link + '\\"}]"};</script></head></html>'
        else:
            size = len(category_list(self.server.catalog_dir, category))
            description = f"文件名:{category}.txt 文件大小:{size}B 分享者:kavo 分享时间:2026.12.1 下载次数:1"
            page = f'<html><head><meta content="{description}" name="description"/></head></html>'
        self.send_body(200, page.encode("utf-8"), "text/html; charset=utf-8")

    def file(self, share_text):
        share = self.server.shares.get(int(share_text) if share_text.isdigit() else 0)
        if share is None:
            self.send_body(404, b"no such file", "text/plain")
            return
        total = share.byte_count(self.server.cap)
        start, end, status = 0, total, 200
        match = re.match(r"bytes=(\d+)-(\d*)$", self.headers.get("Range", ""))
        if match and int(match.group(1)) < total:
            start = int(match.group(1))
            end = min(total, int(match.group(2)) + 1) if match.group(2) else total
            status = 206
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(end - start))
        self.send_header("Accept-Ranges", "bytes")
        if status == 206:
            self.send_header("Content-Range", f"bytes {start}-{end - 1}/{total}")
        self.send_header("Connection", "close")
        self.end_headers()
        self.stream(share, start, end)

    def stream(self, share, start, end):
        chunk = 64 * 1024
        began = time.monotonic()
        sent = 0
        position = start
        try:
            while position < end:
                size = min(chunk, end - position)
                self.wfile.write(self.server.file_bytes(share, position, position + size))
                position += size
                sent += size
                if self.server.rate > 0:
                    ahead = sent / self.server.rate - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)
        except (BrokenPipeError, ConnectionResetError):
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=18080)
    parser.add_argument("--catalog", default=str(HERE.parent / "src" / "resources" / "catalog"))
    parser.add_argument("--rate", type=int, default=1 << 20, help="bytes per second per connection, 0: no limit")
    parser.add_argument("--max-file-bytes", type=int, default=24 << 20)
    args = parser.parse_args()
    shares = load_shares(args.catalog)
    server = Demo(("127.0.0.1", args.port), shares, args.rate, args.max_file_bytes, args.catalog)
    port = server.server_address[1]
    if args.port == 0:
        print(port, flush=True)
    print(f"demo service on http://127.0.0.1:{port}/ with {len(shares)} shares", file=sys.stderr, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
