#!/usr/bin/env python3
"""Cuts a rectangle out of an XWD screen dump (Xvfb's -fbdir file) into a PNG, with the
standard library only.
    xwd_to_png.py SCREEN.xwd OUT.png X Y WIDTH HEIGHT"""
import struct
import sys
import zlib


def main(src, dst, x, y, width, height):
    with open(src, "rb") as f:
        data = f.read()
    fields = struct.unpack(">25I", data[:100])
    header_size, _, _, _, screen_w, screen_h = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks, ncolors = fields[14:17], fields[19]
    if bits_per_pixel != 32:
        sys.exit("xwd_to_png: only 32-bit pixels are read")
    pixels = header_size + 12 * ncolors
    x, y = max(0, x), max(0, y)
    width, height = min(width, screen_w - x), min(height, screen_h - y)
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    fmt = "<I" if byte_order == 0 else ">I"
    rows = bytearray()
    for row in range(y, y + height):
        rows.append(0)
        base = pixels + row * bytes_per_line
        for col in range(x, x + width):
            (value,) = struct.unpack_from(fmt, data, base + 4 * col)
            rows += bytes(((value & m) >> s) & 0xFF for m, s in zip(masks, shifts))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    with open(dst, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], *map(int, sys.argv[3:]))
