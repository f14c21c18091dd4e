# Turns one pixel-art text source into a Windows .ico file of 16-colour images.
# Used by the build (resources/CMakeLists.txt): python3 mkico.py SRC.txt OUT.ico
#
# Source format
#   The file holds one or more images. Each image starts with a header line
#       size N         (N one of 16, 20, 24, 28, 32, 40, 48, 56, 64)
#   followed by exactly N rows of exactly N characters, one character per
#   pixel, top row first, left pixel first. Trailing blanks and the line ending
#   are ignored. Outside an image, blank lines and lines whose first character
#   is '#' are skipped, so they can separate and annotate the images. A file may
#   hold each size at most once. A header
#       size N from M
#   has no rows: the image is the earlier image of size M with every pixel
#   repeated N/M times across and down (N a whole multiple of M).
#
#   One character per colour of the standard Windows 16-colour palette; the
#   lower-case letter is the dark shade, the upper-case letter the bright one:
#       k black         K dark grey     w light grey    W white
#       r dark red      R red           g dark green    G green
#       y dark yellow   Y yellow        b dark blue     B blue
#       m dark magenta  M magenta       c dark cyan     C cyan
#       . transparent
#
# Output
#   An ICONDIR with one ICONDIRENTRY per image, in source order, each image a
#   4-bit BITMAPINFOHEADER DIB (height doubled, 16-entry palette, colour bits,
#   then the 1-bit AND mask with transparent pixels set), rows bottom-up and
#   padded to 32 bits.

import struct
import sys

SIZES = ('16', '20', '24', '28', '32', '40', '48', '56', '64')

# Source character and RGB value of each palette entry, in palette order.
PALETTE = (
    ('k', 0x00, 0x00, 0x00),
    ('r', 0x80, 0x00, 0x00),
    ('g', 0x00, 0x80, 0x00),
    ('y', 0x80, 0x80, 0x00),
    ('b', 0x00, 0x00, 0x80),
    ('m', 0x80, 0x00, 0x80),
    ('c', 0x00, 0x80, 0x80),
    ('w', 0xC0, 0xC0, 0xC0),
    ('K', 0x80, 0x80, 0x80),
    ('R', 0xFF, 0x00, 0x00),
    ('G', 0x00, 0xFF, 0x00),
    ('Y', 0xFF, 0xFF, 0x00),
    ('B', 0x00, 0x00, 0xFF),
    ('M', 0xFF, 0x00, 0xFF),
    ('C', 0x00, 0xFF, 0xFF),
    ('W', 0xFF, 0xFF, 0xFF),
)
TRANSPARENT = '.'
COLOUR_INDEX = {entry[0]: index for index, entry in enumerate(PALETTE)}


class SourceError(Exception):
    pass


def parse_header(text, line_number):
    words = text.split()
    if (len(words) not in (2, 4) or words[0] != 'size' or words[1] not in SIZES
            or (len(words) == 4 and (words[2] != 'from' or words[3] not in SIZES))):
        raise SourceError('line %d: expected an image header "size N" or "size N from M" (N and M one of %s),'
                          ' found "%s"' % (line_number, ', '.join(SIZES), text))
    size = int(words[1])
    source = int(words[3]) if len(words) == 4 else 0
    if source and size % source:
        raise SourceError('line %d: %d is not a whole multiple of %d' % (line_number, size, source))
    return size, source


def scaled(rows, factor):
    return [''.join(char * factor for char in text) for text in rows for _ in range(factor)]


def check_row(text, line_number, size):
    if len(text) != size:
        raise SourceError('line %d: row has %d pixels, the image is %d wide'
                          % (line_number, len(text), size))
    for column, char in enumerate(text):
        if char != TRANSPARENT and char not in COLOUR_INDEX:
            raise SourceError('line %d, column %d: unknown pixel character "%s"'
                              % (line_number, column + 1, char))


def parse_source(lines):
    images = []
    size = 0
    header_line = 0
    rows = []
    for line_number, line in enumerate(lines, 1):
        text = line.rstrip()
        if len(rows) < size:
            if text.startswith('size'):
                raise SourceError('line %d: image of line %d has %d rows, expected %d'
                                  % (line_number, header_line, len(rows), size))
            check_row(text, line_number, size)
            rows.append(text)
            continue
        if not text or text.startswith('#'):
            continue
        if images and not text.startswith('size'):
            raise SourceError('line %d: a row too many, the image of line %d already has %d rows'
                              % (line_number, header_line, size))
        size, source = parse_header(text, line_number)
        if any(len(image) == size for image in images):
            raise SourceError('line %d: a second %dx%d image' % (line_number, size, size))
        header_line = line_number
        rows = []
        if source:
            original = [image for image in images if len(image) == source]
            if not original:
                raise SourceError('line %d: no %dx%d image before it' % (line_number, source, source))
            rows = scaled(original[0], size // source)
        images.append(rows)
    if len(rows) < size:
        raise SourceError('end of file: image of line %d has %d rows, expected %d'
                          % (header_line, len(rows), size))
    if not images:
        raise SourceError('no image in the file')
    return images


def row_bytes(bits_per_pixel, size):
    return (bits_per_pixel * size + 31) // 32 * 4


def colour_bits(rows):
    size = len(rows)
    data = bytearray()
    for text in reversed(rows):
        line = bytearray(row_bytes(4, size))
        for column, char in enumerate(text):
            index = COLOUR_INDEX.get(char, 0)
            line[column // 2] |= index << (4 if column % 2 == 0 else 0)
        data += line
    return bytes(data)


def mask_bits(rows):
    size = len(rows)
    data = bytearray()
    for text in reversed(rows):
        line = bytearray(row_bytes(1, size))
        for column, char in enumerate(text):
            if char == TRANSPARENT:
                line[column // 8] |= 0x80 >> (column % 8)
        data += line
    return bytes(data)


def image_data(rows):
    size = len(rows)
    xor = colour_bits(rows)
    mask = mask_bits(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    palette = b''.join(struct.pack('<BBBB', blue, green, red, 0)
                       for _, red, green, blue in PALETTE)
    return header + palette + xor + mask


def ico_file(images):
    blobs = [image_data(rows) for rows in images]
    directory = struct.pack('<HHH', 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for rows, blob in zip(images, blobs):
        directory += struct.pack('<BBBBHHII', len(rows), len(rows), 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return directory + b''.join(blobs)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write('usage: python3 mkico.py SRC.txt OUT.ico\n')
        return 1
    source, target = argv[1], argv[2]
    try:
        with open(source, encoding='ascii') as handle:
            images = parse_source(handle.read().splitlines())
    except SourceError as error:
        sys.stderr.write('%s: %s\n' % (source, error))
        return 1
    except (OSError, UnicodeDecodeError) as error:
        sys.stderr.write('%s: cannot read: %s\n' % (source, error))
        return 1
    try:
        with open(target, 'wb') as handle:
            handle.write(ico_file(images))
    except OSError as error:
        sys.stderr.write('%s: cannot write: %s\n' % (target, error))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
