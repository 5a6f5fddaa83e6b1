#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes a Windows icon file with 16-colour (4 bits per pixel) images.

Usage: make-ico.py OUT.ico SIZE:FILE.rgba [SIZE:FILE.rgba ...]

Each FILE.rgba holds SIZE x SIZE pixels as raw 8-bit RGBA, top row first (as written by
"convert ... -depth 8 rgba:FILE"). Every pixel with alpha of 128 or more must have one of the
16 colours of the classic palette below; the others become transparent through the icon's mask.
"""

import struct
import sys

# The classic 16-colour palette, in its usual order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
INDEX = {rgb: i for i, rgb in enumerate(PALETTE)}


def image_entry(size, rgba):
    """Returns the image's BITMAPINFOHEADER, palette, colour bits and mask as one block."""
    if len(rgba) != size * size * 4:
        raise ValueError(f"expected {size * size * 4} bytes for {size} x {size}, got {len(rgba)}")
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor_rows = []
    and_rows = []
    for y in range(size - 1, -1, -1):  # bottom row first
        xor_row = bytearray(xor_stride)
        and_row = bytearray(and_stride)
        for x in range(size):
            r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
            if a < 128:
                index = 0
                and_row[x // 8] |= 0x80 >> (x % 8)
            else:
                try:
                    index = INDEX[(r, g, b)]
                except KeyError:
                    raise ValueError(f"pixel {x},{y} of the {size} x {size} image has colour "
                                     f"#{r:02x}{g:02x}{b:02x}, which is not in the palette")
            if x % 2 == 0:
                xor_row[x // 2] |= index << 4
            else:
                xor_row[x // 2] |= index
        xor_rows.append(bytes(xor_row))
        and_rows.append(bytes(and_row))
    bits = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII",
                         40,            # header size
                         size,          # width
                         size * 2,      # height: colour bits and mask together
                         1,             # planes
                         4,             # bits per pixel
                         0,             # no compression
                         len(bits),     # size of the bits
                         0, 0,          # resolution, unused
                         16,            # colours used
                         0)             # all colours important
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bits


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    images = []
    for item in argv[2:]:
        size_text, path = item.split(":", 1)
        size = int(size_text)
        if not 1 <= size <= 255:
            raise ValueError(f"size {size} does not fit an icon directory entry")
        with open(path, "rb") as f:
            images.append((size, image_entry(size, f.read())))

    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, block in images:
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(block), offset)
        offset += len(block)
    with open(out, "wb") as f:
        f.write(directory + entries + b"".join(block for _, block in images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
