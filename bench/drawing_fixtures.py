#!/usr/bin/env python3
"""Writes the A4 fixture pages of bench/drawing.sh: a text page, a vector-art page with
transparency and a photo page, each a one-page PDF, into the folder given as argument."""
import math
import os
import random
import sys
import zlib

A4 = (595.2756, 841.8898)


def write_pdf(path, content, resources, extra_objects=()):
    """One A4 page; extra_objects are (number, bytes) pairs referenced from resources."""
    objects = {
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        2: b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        3: ("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.4f %.4f] /Resources %s "
            "/Contents 4 0 R >>" % (A4[0], A4[1], resources)).encode(),
    }
    data = zlib.compress(content.encode())
    objects[4] = b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) + data + \
        b"\nendstream"
    for number, body in extra_objects:
        objects[number] = body
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for number in sorted(objects):
        offsets[number] = len(out)
        out += b"%d 0 obj\n" % number + objects[number] + b"\nendobj\n"
    xref = len(out)
    count = max(objects) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % count
    for number in range(1, count):
        out += b"%010d 00000 n \n" % offsets.get(number, 0)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (count, xref)
    with open(path, "wb") as f:
        f.write(out)


def text_page(path):
    random.seed(1)
    words = "the quick brown fox jumps over lazy dog print exact size colour paper margin".split()
    lines = ["BT /F1 9 Tf 11 TL 50 800 Td"]
    for _ in range(68):
        line = " ".join(random.choice(words) for _ in range(16))
        lines.append("(%s) '" % line)
    lines.append("ET")
    font = b"<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"
    write_pdf(path, "\n".join(lines), "<< /Font << /F1 5 0 R >> >>", [(5, font)])


def vector_page(path):
    random.seed(2)
    ops = []
    for i in range(400):
        x, y = random.uniform(0, A4[0]), random.uniform(0, A4[1])
        r = random.uniform(10, 60)
        k = 0.5523 * r
        ops.append("/GS%d gs %.3f %.3f %.3f rg" % (i % 3, random.random(), random.random(),
                                                  random.random()))
        ops.append("%.2f %.2f m %.2f %.2f %.2f %.2f %.2f %.2f c %.2f %.2f %.2f %.2f %.2f %.2f c "
                   "%.2f %.2f %.2f %.2f %.2f %.2f c %.2f %.2f %.2f %.2f %.2f %.2f c f" % (
                       x + r, y, x + r, y + k, x + k, y + r, x, y + r, x - k, y + r, x - r,
                       y + k, x - r, y, x - r, y - k, x - k, y - r, x, y - r, x + k, y - r,
                       x + r, y - k, x + r, y))
    states = ("<< /ExtGState << /GS0 << /ca 0.5 >> /GS1 << /ca 0.3 /BM /Multiply >> "
              "/GS2 << /ca 0.8 >> >> >>")
    write_pdf(path, "\n".join(ops), states)


def photo_page(path):
    width, height = 1240, 1754  # 150 DPI over the sheet
    rows = bytearray()
    random.seed(3)
    noise = bytes(random.getrandbits(8) for _ in range(4096))
    for y in range(height):
        row = bytearray(width * 3)
        for x in range(0, width * 3, 3):
            n = noise[(x * 7 + y * 13) & 4095] >> 5
            row[x] = (x // 3 * 255 // width + n) & 0xff
            row[x + 1] = (y * 255 // height + n) & 0xff
            row[x + 2] = int(127 + 127 * math.sin((x + y) / 90.0)) & 0xff
        rows += row
    data = zlib.compress(bytes(rows), 6)
    image = (b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB "
             b"/BitsPerComponent 8 /Filter /FlateDecode /Length %d >>\nstream\n" %
             (width, height, len(data)) + data + b"\nendstream")
    write_pdf(path, "q %.4f 0 0 %.4f 0 0 cm /Im1 Do Q" % A4, "<< /XObject << /Im1 5 0 R >> >>",
              [(5, image)])


def book(path, page_count=200):
    """Distinct pages of text in one embedded TrueType font, with vector graphics."""
    random.seed(4)
    fonts = ["/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"] + sorted(
        os.path.join(d, f) for d, _, files in os.walk("/usr/share/fonts") for f in files
        if f.endswith(".ttf"))
    font_file = open(next(f for f in fonts if os.path.exists(f)), "rb").read()
    packed = zlib.compress(font_file)
    objects = {
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        3: b"<< /Type /Font /Subtype /TrueType /BaseFont /DejaVuSans /FirstChar 32 "
           b"/LastChar 126 /Widths [" + b" ".join([b"600"] * 95) + b"] "
           b"/Encoding /WinAnsiEncoding /FontDescriptor 4 0 R >>",
        4: b"<< /Type /FontDescriptor /FontName /DejaVuSans /Flags 32 "
           b"/FontBBox [-1021 -463 1793 1232] /ItalicAngle 0 /Ascent 928 /Descent -236 "
           b"/CapHeight 729 /StemV 80 /FontFile2 5 0 R >>",
        5: b"<< /Length %d /Length1 %d /Filter /FlateDecode >>\nstream\n" % (
            len(packed), len(font_file)) + packed + b"\nendstream",
        6: b"<< /Font << /F1 3 0 R >> >>",
    }
    words = ("exact size colour paper margin printer profile sheet preview scale offset "
             "document artwork thumbnail rendering placement geometry").split()
    kids = []
    number = 7
    for p in range(page_count):
        ops = ["BT /F1 10 Tf 12 TL 56 780 Td"]
        for _ in range(52):
            ops.append("(%s) '" % " ".join(random.choice(words) for _ in range(11)))
        ops.append("ET")
        for _ in range(12):
            ops.append("%.3f %.3f %.3f RG %.2f w %.1f %.1f m %.1f %.1f %.1f %.1f %.1f %.1f c S" % (
                random.random(), random.random(), random.random(), random.uniform(0.5, 3),
                *(random.uniform(40, 560) for _ in range(2)),
                *(random.uniform(40, 560) for _ in range(6))))
            ops.append("%.3f %.3f %.3f rg %.1f %.1f %.1f %.1f re f" % (
                random.random(), random.random(), random.random(), random.uniform(40, 500),
                random.uniform(40, 140), random.uniform(10, 60), random.uniform(10, 60)))
        data = zlib.compress("\n".join(ops).encode())
        objects[number] = b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) + \
            data + b"\nendstream"
        objects[number + 1] = (
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.2756 841.8898] "
            "/Resources 6 0 R /Contents %d 0 R >>" % number).encode()
        kids.append(number + 1)
        number += 2
    objects[2] = ("<< /Type /Pages /Count %d /Kids [%s] >>" % (
        page_count, " ".join("%d 0 R" % k for k in kids))).encode()
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for n in sorted(objects):
        offsets[n] = len(out)
        out += b"%d 0 obj\n" % n + objects[n] + b"\nendobj\n"
    xref = len(out)
    count = max(objects) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % count
    for n in range(1, count):
        out += b"%010d 00000 n \n" % offsets[n]
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (count, xref)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    folder = sys.argv[1]
    if len(sys.argv) > 2 and sys.argv[2] == "book":
        book(os.path.join(folder, "book.pdf"))
        sys.exit(0)
    text_page(os.path.join(folder, "text.pdf"))
    vector_page(os.path.join(folder, "vector.pdf"))
    photo_page(os.path.join(folder, "photo.pdf"))
