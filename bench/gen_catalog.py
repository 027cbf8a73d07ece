#!/usr/bin/env python3
"""Writes a large GBK category list file: gen_catalog.py OUT_FILE RECORDS [CATEGORY_WORD] [RARE_EVERY].

With RARE_EVERY, the word Zebrafish ends one name in the middle of every RARE_EVERY records."""
import random
import sys

WORDS = ["浏览器", "播放器", "编辑器", "压缩工具", "下载工具", "截图工具", "驱动", "字体", "游戏", "模块", "源码", "教程"]
LATIN = ["Fire", "Note", "Media", "Zip", "Shot", "Code", "Net", "Disk", "Photo", "Sound", "Text", "Web"]


def main():
    out, count = sys.argv[1], int(sys.argv[2])
    word = sys.argv[3] if len(sys.argv) > 3 else "软件"
    rare_every = int(sys.argv[4]) if len(sys.argv) > 4 else 0
    rng = random.Random(count)
    lines = [f"KAVO 列表 版本1.0\r\n"]
    for i in range(count):
        name = f"{rng.choice(LATIN)}{rng.choice(LATIN)} {rng.choice(WORDS)} {i}"
        if rare_every and i % rare_every == rare_every // 2:
            name += " Zebrafish"
        lines.append(
            f"({word}名称：{name}-{word}大小：{rng.randint(1, 900)}.{rng.randint(0, 9)}MB-"
            f"分享时间：{rng.randint(2010, 2025)}.{rng.randint(1, 12)}.{rng.randint(1, 28)}-"
            f"下载地址：http://127.0.0.1:18080/share/link?shareid={100000 + i}&uk={rng.randint(1000, 9999)}-)\r\n")
    with open(out, "wb") as f:
        f.write("".join(lines).encode("gbk"))


if __name__ == "__main__":
    main()
