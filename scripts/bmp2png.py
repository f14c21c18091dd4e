#!/usr/bin/env python3
# Turns an uncompressed 24- or 32-bit .bmp into a .png (with a palette when it has 256 colours or
# fewer), with nothing but the standard library.
# Used by scripts/screenshots.sh:  bmp2png.py <in.bmp> <out.png>
import struct
import sys
import zlib


def read_bmp(path):
    with open(path, "rb") as source:
        data = source.read()
    if data[:2] != b"BM":
        sys.exit(f"{path}: not a BMP file")
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits not in (24, 32) or compression != 0:
        sys.exit(f"{path}: only uncompressed 24- and 32-bit BMP files are handled")
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for row in range(abs(height)):
        stored = row if height < 0 else abs(height) - 1 - row
        start = offset + stored * stride
        line = bytearray()
        for x in range(width):
            blue, green, red = data[start + x * step:start + x * step + 3]
            line += bytes((red, green, blue))
        rows.append(bytes(line))
    return width, abs(height), rows


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


# With indexed, pictures of 256 colours or fewer (dialogs, menus, icons) are written with a palette,
# in the order of the colours' values so that the same picture always gives the same bytes; else
# as plain RGB (which scripts/check-run.sh reads back from scripts/run.sh's tray pictures).
def palette_of(rows):
    colours = sorted({row[x:x + 3] for row in rows for x in range(0, len(row), 3)})
    return colours if len(colours) <= 256 else None


def write_png(path, width, height, rows, indexed=False):
    palette = palette_of(rows) if indexed else None
    extra = b""
    if palette:
        index = {colour: number for number, colour in enumerate(palette)}
        rows = [bytes(index[row[x:x + 3]] for x in range(0, len(row), 3)) for row in rows]
        extra = chunk(b"PLTE", b"".join(palette))
    header = struct.pack(">IIBBBBB", width, height, 8, 3 if palette else 2, 0, 0, 0)
    pixels = zlib.compress(b"".join(b"\0" + row for row in rows), 9)
    with open(path, "wb") as target:
        target.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra + chunk(b"IDAT", pixels) +
                     chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: bmp2png.py <in.bmp> <out.png>")
    write_png(sys.argv[2], *read_bmp(sys.argv[1]), indexed=True)
