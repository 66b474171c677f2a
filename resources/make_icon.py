#!/usr/bin/env python3
"""Draws quillmoor.ico: a calm teal tile with a switch in its "on" position.

Standard library only; each size is drawn with 4x4 supersampling and stored
as a PNG image inside the icon file. Run: python3 resources/make_icon.py
"""
import struct
import zlib
from pathlib import Path

TEAL = (22, 94, 99)
TEAL_DARK = (14, 66, 70)
WHITE = (250, 250, 247)
GREEN = (125, 211, 170)


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1


def colour_at(u, v):
    """Colour at (u, v) in a 0..1 square, or None for transparent."""
    if not inside_round_rect(u, v, 0.03, 0.03, 0.97, 0.97, 0.2):
        return None
    # The switch track, a pill across the middle.
    if inside_round_rect(u, v, 0.17, 0.34, 0.83, 0.66, 0.16):
        if (u - 0.66) ** 2 + (v - 0.5) ** 2 <= 0.125 ** 2:
            return WHITE
        return GREEN
    # A thin quill stroke under the switch.
    if 0.74 <= v <= 0.79 and 0.25 <= u <= 0.75:
        return WHITE
    shade = 1.0 - 0.25 * v
    return tuple(int(TEAL[i] * shade + TEAL_DARK[i] * (1 - shade)) for i in range(3))


def draw(size):
    samples = 4
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((x + (sx + 0.5) / samples) / size, (y + (sy + 0.5) / samples) / size)
                    if c is not None:
                        acc[0] += c[0]; acc[1] += c[1]; acc[2] += c[2]; acc[3] += 255
            n = samples * samples
            alpha = acc[3] // n
            if alpha:
                row += bytes([acc[0] * 255 // acc[3], acc[1] * 255 // acc[3], acc[2] * 255 // acc[3], alpha])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    sizes = [16, 24, 32, 48, 64, 256]
    images = [draw(s) for s in sizes]
    header = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    entries = b""
    for s, png in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    out = Path(__file__).with_name("quillmoor.ico")
    out.write_bytes(header + entries + b"".join(images))
    # A preview for people reviewing the icon.
    Path(__file__).with_name("quillmoor-256.png").write_bytes(images[-1])


if __name__ == "__main__":
    main()
