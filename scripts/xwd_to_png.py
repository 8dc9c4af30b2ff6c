#!/usr/bin/env python3
"""An X window dump (XWD, as Xvfb keeps its screen with -fbdir) as a PNG,
with nothing but the standard library: 24 or 32 bits a pixel, TrueColor,
as Xvfb -screen 0 WxHx24 gives.

Usage: xwd_to_png.py SCREEN.xwd OUT.png
"""
import struct
import sys
import zlib


def main():
    data = open(sys.argv[1], "rb").read()
    header = struct.unpack(">25I", data[:100])
    header_size, version = header[0], header[1]
    width, height = header[4], header[5]
    byte_order, bits_per_pixel, bytes_per_line = header[7], header[11], header[12]
    red_mask, green_mask, blue_mask = header[15], header[16], header[17]
    colours = header[19]
    if version != 7 or bits_per_pixel not in (24, 32):
        sys.exit("not a 24 or 32-bit XWD (version %d, %d bits a pixel)" % (version, bits_per_pixel))
    pixels = data[header_size + 12 * colours:]
    step = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * step]
        out = bytearray(b"\x00")
        for x in range(0, width * step, step):
            value = int.from_bytes(line[x:x + step], order)
            out += bytes((value >> s) & 0xFF for s in shifts)
        rows.append(bytes(out))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    open(sys.argv[2], "wb").write(png)


if __name__ == "__main__":
    main()
