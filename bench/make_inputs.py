#!/usr/bin/env python3
"""Writes the benchmark inputs: a 1,000-page PDF (each page its own content stream, one shared
font) and a 100-megapixel greyscale PNG of noise in 8 KiB IDAT chunks, as libpng writes them."""
import os
import struct
import sys
import zlib


def pdf(path, pages=1000):
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None,
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    kids = []
    for n in range(pages):
        content = b"BT /F1 24 Tf 72 720 Td (Page %d) Tj ET 0.2 0.4 0.8 rg 72 72 300 300 re f" % (n + 1)
        objects.append(b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content))
        content_id = len(objects)
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.28 841.89] "
                       b"/Resources << /Font << /F1 3 0 R >> >> /Contents %d 0 R >>" % content_id)
        kids.append(b"%d 0 R" % len(objects))
    objects[1] = b"<< /Type /Pages /Kids [" + b" ".join(kids) + b"] /Count %d >>" % pages
    out = bytearray(b"%PDF-1.7\n")
    offsets = []
    for i, body in enumerate(objects):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (i + 1, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    open(path, "wb").write(out)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(path, width=10000, height=10000):
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)))
        f.write(chunk(b"pHYs", struct.pack(">IIB", 11811, 11811, 1)))
        compressor = zlib.compressobj(1)
        pending = b""
        noise = os.urandom(width * 64)
        for y in range(height):
            start = (y * 7919) % (len(noise) - width)
            pending += compressor.compress(b"\0" + noise[start:start + width])
            while len(pending) >= 8192:
                f.write(chunk(b"IDAT", pending[:8192]))
                pending = pending[8192:]
        pending += compressor.flush()
        for i in range(0, len(pending), 8192):
            f.write(chunk(b"IDAT", pending[i:i + 8192]))
        f.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    pdf(os.path.join(sys.argv[1], "pages1000.pdf"))
    png(os.path.join(sys.argv[1], "megapixels100.png"))
