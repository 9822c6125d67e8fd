#!/usr/bin/env python3
"""Writes the project's own example PDF files (plain PDF 1.4, classic cross-reference table).

    python3 examples/make-examples.py examples

plain.pdf    three pages of Helvetica text
outline.pdf  four pages with an outline (two top-level entries, one with a child)
info.pdf     two pages with a document information dictionary (Japanese title and author)
"""
import os
import sys


def pdf_string(text):
    """A PDF text string: literal ASCII when it can be, else UTF-16BE with the mark FE FF."""
    try:
        raw = text.encode("ascii")
        raw = raw.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)")
        return b"(" + raw + b")"
    except UnicodeEncodeError:
        return b"<FEFF" + text.encode("utf-16-be").hex().upper().encode() + b">"


class Pdf:
    def __init__(self):
        self.objects = []  # bytes of each object body, numbered from 1

    def reserve(self):
        self.objects.append(None)
        return len(self.objects)

    def set(self, num, body):
        self.objects[num - 1] = body

    def add(self, body):
        num = self.reserve()
        self.set(num, body)
        return num

    def stream(self, data):
        return self.add(b"<< /Length %d >>\nstream\n" % len(data) + data + b"\nendstream")

    def write(self, path, root, info=None):
        out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
        offsets = []
        for num, body in enumerate(self.objects, 1):
            offsets.append(len(out))
            out += b"%d 0 obj\n" % num + body + b"\nendobj\n"
        xref = len(out)
        out += b"xref\n0 %d\n" % (len(self.objects) + 1)
        out += b"0000000000 65535 f \n"
        for off in offsets:
            out += b"%010d 00000 n \n" % off
        trailer = b"<< /Size %d /Root %d 0 R" % (len(self.objects) + 1, root)
        if info:
            trailer += b" /Info %d 0 R" % info
        out += b"trailer\n" + trailer + b" >>\nstartxref\n%d\n%%%%EOF\n" % xref
        with open(path, "wb") as f:
            f.write(out)


def pages_document(pdf, texts):
    """Adds a catalog, a page tree and one page per list of lines; returns (catalog, pages)."""
    font = pdf.add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    pages = pdf.reserve()
    kids = []
    for lines in texts:
        content = bytearray(b"BT\n/F1 18 Tf\n72 720 Td\n22 TL\n")
        for line in lines:
            content += pdf_string(line) + b" Tj T*\n"
        content += b"ET\n"
        stream = pdf.stream(bytes(content))
        kids.append(pdf.add(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] "
                            b"/Resources << /Font << /F1 %d 0 R >> >> /Contents %d 0 R >>"
                            % (pages, font, stream)))
    pdf.set(pages, b"<< /Type /Pages /Kids [" + b" ".join(b"%d 0 R" % k for k in kids) +
            b"] /Count %d >>" % len(kids))
    return pages, kids


def make_plain(path):
    pdf = Pdf()
    pages, _ = pages_document(pdf, [
        ["Sorvane example", "Page 1 of 3", "Plain text in Helvetica."],
        ["Page 2 of 3", "The quick brown fox jumps over the lazy dog."],
        ["Page 3 of 3", "End of the example."],
    ])
    root = pdf.add(b"<< /Type /Catalog /Pages %d 0 R >>" % pages)
    pdf.write(path, root)


def make_outline(path):
    pdf = Pdf()
    pages, kids = pages_document(pdf, [["Chapter %d" % i, "Text of chapter %d." % i] for i in range(1, 5)])
    outlines = pdf.reserve()
    first, second, child = pdf.reserve(), pdf.reserve(), pdf.reserve()
    pdf.set(first, b"<< /Title (Chapter 1) /Parent %d 0 R /Next %d 0 R /Dest [%d 0 R /Fit] >>"
            % (outlines, second, kids[0]))
    pdf.set(second, b"<< /Title (Chapter 2) /Parent %d 0 R /Prev %d 0 R /First %d 0 R /Last %d 0 R "
            b"/Count 1 /Dest [%d 0 R /Fit] >>" % (outlines, first, child, child, kids[1]))
    pdf.set(child, b"<< /Title (Chapters 3 and 4) /Parent %d 0 R /Dest [%d 0 R /XYZ 0 792 0] >>"
            % (second, kids[2]))
    pdf.set(outlines, b"<< /Type /Outlines /First %d 0 R /Last %d 0 R /Count 3 >>" % (first, second))
    root = pdf.add(b"<< /Type /Catalog /Pages %d 0 R /Outlines %d 0 R /PageMode /UseOutlines >>"
                   % (pages, outlines))
    pdf.write(path, root)


def make_info(path):
    pdf = Pdf()
    pages, _ = pages_document(pdf, [["Document information example", "Page 1 of 2"],
                                    ["Page 2 of 2"]])
    root = pdf.add(b"<< /Type /Catalog /Pages %d 0 R >>" % pages)
    info = pdf.add(b"<< /Title " + pdf_string("\u6587\u66f8\u60c5\u5831\u306e\u4f8b") +
                   b" /Author " + pdf_string("\u5c71\u7530\u592a\u90ce") +
                   b" /Subject (Example with document information) /Keywords (example, info)"
                   b" /Creator (make-examples.py) /Producer (make-examples.py)"
                   b" /CreationDate (D:20240101120000Z) >>")
    pdf.write(path, root, info)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    make_plain(os.path.join(folder, "plain.pdf"))
    make_outline(os.path.join(folder, "outline.pdf"))
    make_info(os.path.join(folder, "info.pdf"))


if __name__ == "__main__":
    main()
