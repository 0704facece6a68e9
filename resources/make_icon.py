#!/usr/bin/env python3
"""Writes aitemicon.ico: one 32 x 32 image, 16 colours (4 bits per pixel).

The picture is a green cross on a white tile with a dark blue frame. Run it again after
changing the drawing; the .ico is kept in the repository so builds need no Python.
"""
import struct
import sys

# The 16 colours of the standard VGA palette, as (blue, green, red, 0).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0),
    (0, 255, 255), (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]  # (red, green, blue)
DARK_BLUE, GREEN, LIGHT_GREEN, WHITE, GREY = 1, 2, 10, 15, 8
SIZE = 32


def pixel(x, y):
    """Colour index and transparency of the pixel at column x, row y (row 0 at the top)."""
    corner = min(x, SIZE - 1 - x) + min(y, SIZE - 1 - y)
    if corner < 3:
        return 0, True  # rounded corners are transparent
    if x in (1, SIZE - 2) or y in (1, SIZE - 2) or x in (0, SIZE - 1) or y in (0, SIZE - 1):
        return DARK_BLUE, False
    arm = 5 <= x <= 26 and 12 <= y <= 19 or 12 <= x <= 19 and 5 <= y <= 26
    if arm:
        edge = x in (5, 26) or y in (5, 26) or (x in (12, 19) and not 12 <= y <= 19) \
            or (y in (12, 19) and not 12 <= x <= 19)
        return (GREEN if edge else LIGHT_GREEN), False
    if x == SIZE - 3 or y == SIZE - 3:
        return GREY, False
    return WHITE, False


def main(path):
    xor_rows, and_rows = [], []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        xor_row, and_bits = bytearray(), 0
        for x in range(0, SIZE, 2):
            a, b = pixel(x, y)[0], pixel(x + 1, y)[0]
            xor_row.append((a << 4) | b)
        for x in range(SIZE):
            and_bits = (and_bits << 1) | (1 if pixel(x, y)[1] else 0)
        xor_rows.append(bytes(xor_row))
        and_rows.append(struct.pack(">I", and_bits))
    image = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                        len(xor_rows) * 16 + len(and_rows) * 4, 0, 0, 16, 0)
    image += b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)
    image += b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(header + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "aitemicon.ico")
