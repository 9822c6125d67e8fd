#!/usr/bin/env python3
"""Writes the small seed files of the picture fuzzer into pictures/ (run from this folder:
python3 make_picture_seeds.py; the JPEG seeds need cjpeg from libjpeg-turbo-progs)."""
import os
import struct
import subprocess
import tempfile


def dib(width, height, bits, header=40, top_down=False, icon=False, bitfields=False, used=0):
    """A bitmap header, its masks and palette, and the rows of a small pattern."""
    palette = b""
    if bits <= 8:
        n = used or 1 << bits
        entry = 3 if header == 12 else 4
        palette = b"".join(bytes([i * 37 % 256, 255 - i * 13 % 256, i * 7 % 256, 0][:entry])
                           for i in range(n))
    stride = (width * bits + 31) // 32 * 4
    rows = b""
    for r in range(height):
        y = r if top_down else height - 1 - r
        row = bytearray(stride)
        for x in range(width):
            if bits <= 8:
                index = (x * 3 + y) % (used or 1 << bits)
                bit = x * bits
                row[bit // 8] |= index << (8 - bits - bit % 8)
            else:
                size = bits // 8
                row[x * size:x * size + 3] = bytes([x * 40 % 256, y * 60 % 256, (x * y) % 256])
                if size == 4:
                    row[x * 4 + 3] = x * 50 % 256
        rows += bytes(row)
    h = height * 2 if icon else (-height if top_down else height)
    if header == 12:
        head = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        head = struct.pack("<IiiHHIIiiII", header, width, h, 1, bits, 3 if bitfields else 0, 0,
                           2835, 2835, used, 0)
        masks = struct.pack("<III", 0xFF0000, 0xFF00, 0xFF) if bitfields else b""
        head += (masks + b"\0" * 84)[:header - 40] if header > 40 else masks
    mask = b""
    if icon:
        mstride = (width + 31) // 32 * 4
        mask = b"".join(bytes([0x55] * mstride) for _ in range(height))
    return head + palette + rows + mask


def bmp(*args, **kw):
    body = dib(*args, **kw)
    header_end = 14 + struct.unpack_from("<I", body)[0]
    w, h, bits = (struct.unpack_from("<HHxxH", body, 4) if body[0] == 12
                  else struct.unpack_from("<iixxH", body, 4))
    rows = (abs(w) * bits + 31) // 32 * 4 * abs(h)
    offset = 14 + len(body) - rows
    return b"BM" + struct.pack("<III", 14 + len(body), 0, offset) + body


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for w, h, image in images:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 0, len(image),
                           offset + len(data))
        data += image
    return out + data


seeds = {
    "1bit.bmp": bmp(17, 3, 1),
    "4bit.bmp": bmp(5, 3, 4, used=6),
    "8bit-topdown.bmp": bmp(3, 4, 8, top_down=True),
    "8bit-core.bmp": bmp(6, 2, 8, header=12),
    "24bit-v5.bmp": bmp(4, 3, 24, header=124),
    "32bit-fields.bmp": bmp(3, 2, 32, bitfields=True),
    "4bit.ico": ico([(16, 16, dib(16, 16, 4, icon=True))]),
    "32bit-two.ico": ico([(8, 8, dib(8, 8, 32, icon=True)), (4, 4, dib(4, 4, 8, icon=True))]),
}

os.makedirs("pictures", exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join("pictures", name), "wb") as f:
        f.write(data)

with tempfile.TemporaryDirectory() as tmp:
    ppm = os.path.join(tmp, "in.ppm")
    with open(ppm, "wb") as f:
        f.write(b"P6\n24 16\n255\n" + bytes((x * 10 + y * 7 + c * 50) % 256
                                          for y in range(16) for x in range(24) for c in range(3)))
    for name, options in [("baseline.jpg", []), ("progressive.jpg", ["-progressive"]),
                          ("grey.jpg", ["-grayscale"]), ("restart.jpg", ["-restart", "1B"])]:
        subprocess.run(["cjpeg", *options, "-outfile", os.path.join("pictures", name), ppm],
                       check=True)
