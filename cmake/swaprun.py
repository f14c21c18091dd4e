#!/usr/bin/env python3
# Marks a linked PE file to run from the swap file when started from removable or network media
# (ld has no option for it) and writes the file's checksum again. Run after each deliverable's link.
import struct
import sys

REMOVABLE_RUN_FROM_SWAP = 0x0400
NET_RUN_FROM_SWAP = 0x0800


def checksum(data, field):
    total = 0
    for offset in range(0, len(data) - len(data) % 2, 2):
        if field <= offset < field + 4:
            continue
        total += struct.unpack_from("<H", data, offset)[0]
        total = (total & 0xFFFF) + (total >> 16)
    if len(data) % 2:
        total += data[-1]
        total = (total & 0xFFFF) + (total >> 16)
    return (total & 0xFFFF) + len(data)


def main(path):
    with open(path, "rb") as file:
        data = bytearray(file.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("%s: not a PE file" % path)
    characteristics = pe + 22
    field = pe + 24 + 64
    flags = struct.unpack_from("<H", data, characteristics)[0]
    struct.pack_into("<H", data, characteristics, flags | REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP)
    struct.pack_into("<I", data, field, checksum(data, field))
    with open(path, "wb") as file:
        file.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: swaprun.py <file>")
    main(sys.argv[1])
