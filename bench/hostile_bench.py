#!/usr/bin/env python3
"""Times kavo-cli on crafted inputs at doubling sizes: hostile_bench.py KAVO_CLI [SIZE_KB ...].

Each input is built to make a text scan do as much work as it can: a record or a page whose keys all sit one byte
off the character boundaries, and a direct link made of backslashes. Linear code takes about twice as long for
twice the input (process start-up aside); the last column gives the growth from the size before.
Pages are served from a loopback HTTP server on a free port.
"""
import http.server
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

KEY = "软件名称：".encode("gbk")
LABEL = "常用软件：".encode("gbk")


def catalog_record(size):
    # A lone lead byte pairs with the first byte of the first key, so every copy after it starts mid-character.
    return b"(\x81" + KEY * (size // len(KEY)) + b"-)\r\n"


def shifted_labels(size):
    # The same shift in a page that stays valid GB18030, so it survives the UTF-8 round trip of a fetch.
    return (b"\x81" + LABEL * (size // len(LABEL)) + b"\xb3-").decode("gb18030").encode("utf-8")


def share_page(size):
    # A description of repeated count markers, and a direct link of backslashes before one slash.
    description = "文件名:f 文件大小:1KB 分享者:x 分享时间:t" + " 下载次数:1" * (size // 32)
    link = "\\" * (size // 2) + "/x"
    return (f'<meta content="{description}" name="description"/>' + 'dlink\\":\\"' + link + '\\"').encode("utf-8")


class Pages(http.server.BaseHTTPRequestHandler):
    body = b""

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Length", str(len(Pages.body)))
        self.end_headers()
        self.wfile.write(Pages.body)

    def log_message(self, *args):
        pass


def timed(command, env, runs):
    spent = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        spent.append(time.perf_counter() - start)
    return statistics.median(spent)


def main():
    cli = sys.argv[1]
    sizes = [int(kb) * 1024 for kb in sys.argv[2:]] or [100 * 1024, 200 * 1024, 400 * 1024, 800 * 1024]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Pages)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/share/link?shareid=1&uk=2"
    home = tempfile.mkdtemp(prefix="kavo-hostile-")
    os.makedirs(os.path.join(home, "自动更新"))
    env = dict(os.environ, KAVO_MANIFEST_URL=url)
    cases = [
        ("list: record of shifted keys", lambda s: ("file", catalog_record(s)), [cli, "--home", home, "list", "1"]),
        ("search: the same record", lambda s: ("file", catalog_record(s)), [cli, "--home", home, "search", "名称"]),
        ("manifest: shifted labels", lambda s: ("page", shifted_labels(s)), [cli, "manifest", "常用软件："]),
        ("resolve: facts, backslash link", lambda s: ("page", share_page(s)), [cli, "resolve", url]),
    ]
    try:
        print(f"{'case':<34}{'size':>9}{'time':>11}{'growth':>8}")
        for label, make, command in cases:
            previous = None
            for size in sizes:
                where, data = make(size)
                if where == "file":
                    with open(os.path.join(home, "自动更新", "软件下载.txt"), "wb") as f:
                        f.write(data)
                else:
                    Pages.body = data
                spent = timed(command, env, 3 if size <= 200 * 1024 else 1)
                growth = f"{spent / previous:.1f}x" if previous else ""
                print(f"{label:<34}{size // 1024:>7}KB{spent * 1000:>9.0f}ms{growth:>8}", flush=True)
                previous = spent
    finally:
        server.shutdown()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
