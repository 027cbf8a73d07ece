#!/usr/bin/env python3
"""Draws the program's icons (a blue tile with a white download arrow) as PNG files, stdlib only.

draw_icons.py [DIR]           the icons and chimes linked into the program
draw_icons.py --hicolor DIR   the desktop icon in every size of the hicolor theme
"""
import struct
import sys
import zlib
from pathlib import Path


def png(width, height, pixels):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)
    chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def inside_rounded(x, y, size, radius):
    cx = min(max(x, radius), size - 1 - radius)
    cy = min(max(y, radius), size - 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def on_arrow(x, y, size):
    u, v = x / size, y / size
    shaft = 0.42 <= u <= 0.58 and 0.18 <= v <= 0.55
    head = 0.52 <= v <= 0.74 and abs(u - 0.5) <= (0.74 - v) * 1.2
    tray = 0.78 <= v <= 0.86 and 0.22 <= u <= 0.78
    return shaft or head or tray


def tile(size):
    radius = max(2, size // 6)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if not inside_rounded(x, y, size, radius):
                row.append((0, 0, 0, 0))
            elif on_arrow(x + 0.5, y + 0.5, size):
                row.append((255, 255, 255, 255))
            else:
                shade = int(40 * y / size)
                row.append((30 + shade, 120 + shade, 215, 255))
        rows.append(row)
    return png(size, size, rows)


def wav_chime(seconds=0.5, rate=22050, tones=(880.0, 1318.5)):
    """A soft two-tone chime, 16-bit mono, fading out."""
    import math
    frames = int(seconds * rate)
    samples = bytearray()
    for i in range(frames):
        t = i / rate
        tone = tones[0] if t < seconds * 0.4 else tones[1]
        envelope = math.exp(-6.0 * t) * min(1.0, i / 200)
        value = int(12000 * envelope * math.sin(2 * math.pi * tone * t))
        samples += struct.pack("<h", value)
    header = b"RIFF" + struct.pack("<I", 36 + len(samples)) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16) + b"data" + struct.pack("<I", len(samples))
    return header + bytes(samples)


BADGE_COLOURS = [(46, 160, 67), (230, 140, 30), (40, 120, 220), (150, 80, 200)]


def badge(colour, size=16):
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            d = (x - 7.5) ** 2 + (y - 7.5) ** 2
            row.append(colour + (255,) if d <= 36 else (0, 0, 0, 0))
        rows.append(row)
    return png(size, size, rows)


def main(out_dir):
    out = Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    (out / "tray.png").write_bytes(tile(16))
    (out / "program.png").write_bytes(tile(64))
    for index, colour in enumerate(BADGE_COLOURS):
        (out / f"state{index}.png").write_bytes(badge(colour))
    (out.parent / "sounds").mkdir(exist_ok=True)
    (out.parent / "sounds" / "message.wav").write_bytes(wav_chime())
    (out.parent / "sounds" / "done.wav").write_bytes(wav_chime(2.0, 22050, (1046.5, 1568.0)))


HICOLOR_SIZES = (16, 24, 32, 48, 64, 128, 256)


def hicolor(out_dir):
    """The program icon for the desktop's icon theme: OUT/<n>x<n>/apps/kavo.png."""
    for size in HICOLOR_SIZES:
        folder = Path(out_dir) / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "kavo.png").write_bytes(tile(size))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--hicolor":
        hicolor(sys.argv[2])
    else:
        main(sys.argv[1] if len(sys.argv) > 1 else "src/resources/images")
