#!/usr/bin/env python3
"""Writes setup/win32/ZorvekSetup.ico: the installer's shield (orange, white check mark) at 16, 32
and 48 pixels as 32-bit images. Standard library only, so it runs wherever the build does."""
import struct
import sys

FILL = (232, 139, 26)  # the "Установка" emblem colour


def inside_shield(fx, fy):
    if fy < 0.1 or fy > 0.95:
        return False
    if fy <= 0.5:
        return 0.12 <= fx <= 0.88
    # The lower half narrows to the point.
    half = 0.38 * (0.95 - fy) / 0.45
    return abs(fx - 0.5) <= half


def on_check(fx, fy, width):
    def near(ax, ay, bx, by):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((fx - ax) * dx + (fy - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (fx - px) ** 2 + (fy - py) ** 2 <= width * width
    return near(0.30, 0.48, 0.44, 0.62) or near(0.44, 0.62, 0.70, 0.32)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = b""
        for x in range(size):
            fx, fy = (x + 0.5) / size, (y + 0.5) / size
            if not inside_shield(fx, fy):
                row += bytes((0, 0, 0, 0))
            elif on_check(fx, fy, 0.07):
                row += bytes((255, 255, 255, 255))
            else:
                shade = 1.0 - 0.28 * fy
                r, g, b = (int(c * shade) for c in FILL)
                row += bytes((b, g, r, 255))
        rows.append(row)
    pixels = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels), 0, 0, 0, 0)
    return header + pixels + bytes(mask_row * size)


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "setup/win32/ZorvekSetup.ico")
