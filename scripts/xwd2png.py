#!/usr/bin/env python3
# Turns a true-colour window dump of xwd (-id <window>) into an RGB .png, with the standard library only.
# Used by scripts/run.sh for its tray screenshots:  xwd2png.py <in.xwd> <out.png> [scale]
# (scale: each pixel becomes a square of that many pixels, so a tray's few pixels can be seen);
# xwd2png.py --colours <in.xwd> prints how many colours the dump has (1: nothing drawn yet).
import struct
import sys

from bmp2png import write_png

HEADER_WORDS = 25
Z_PIXMAP = 2
TRUE_COLOUR_CLASSES = (4, 5)  # TrueColor, DirectColor
COLOUR_ENTRY_SIZE = 12


def shift_of(mask):
    return (mask & -mask).bit_length() - 1


def channel(pixel, mask):
    return ((pixel & mask) >> shift_of(mask)) * 255 // (mask >> shift_of(mask))


def read_xwd(path):
    with open(path, "rb") as source:
        data = source.read()
    if len(data) < HEADER_WORDS * 4:
        sys.exit(f"{path}: too short for a window dump")
    (header_size, version, pixmap_format, _depth, width, height, _xoffset, byte_order, _unit, _bit_order,
     _pad, bits, bytes_per_line, visual_class, red_mask, green_mask, blue_mask, _bits_per_rgb,
     _entries, colour_count) = struct.unpack_from(">20I", data)
    if version != 7 or pixmap_format != Z_PIXMAP or visual_class not in TRUE_COLOUR_CLASSES:
        sys.exit(f"{path}: only true-colour Z-pixmap dumps of xwd version 7 are handled")
    step = bits // 8
    if bits not in (24, 32) or not (red_mask and green_mask and blue_mask):
        sys.exit(f"{path}: only 24- and 32-bit pixels are handled")
    start = header_size + colour_count * COLOUR_ENTRY_SIZE
    if len(data) < start + bytes_per_line * height:
        sys.exit(f"{path}: the pixel data is cut short")
    order = "little" if byte_order == 0 else "big"
    rows = []
    for row in range(height):
        line = bytearray()
        at = start + row * bytes_per_line
        for x in range(width):
            pixel = int.from_bytes(data[at + x * step:at + x * step + step], order)
            line += bytes((channel(pixel, red_mask), channel(pixel, green_mask), channel(pixel, blue_mask)))
        rows.append(bytes(line))
    return width, height, rows


def enlarge(rows, scale):
    wider = [b"".join(row[x:x + 3] * scale for x in range(0, len(row), 3)) for row in rows]
    return [row for row in wider for _ in range(scale)]


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--colours":
        _, _, rows = read_xwd(sys.argv[2])
        print(len({row[x:x + 3] for row in rows for x in range(0, len(row), 3)}))
        return
    if len(sys.argv) not in (3, 4) or (len(sys.argv) == 4 and not sys.argv[3].isdigit()):
        sys.exit("usage: xwd2png.py <in.xwd> <out.png> [scale]")
    scale = max(1, int(sys.argv[3])) if len(sys.argv) == 4 else 1
    width, height, rows = read_xwd(sys.argv[1])
    write_png(sys.argv[2], width * scale, height * scale, enlarge(rows, scale))


if __name__ == "__main__":
    main()
