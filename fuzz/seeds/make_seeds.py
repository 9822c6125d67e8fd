#!/usr/bin/env python3
"""Writes the small seed files of the reader fuzzer into reader/ (run from this folder:
python3 make_seeds.py)."""
import os


def pdf(objects, trailer, version=b"1.4"):
    out = b"%PDF-" + version + b"\n%\xe2\xe3\xcf\xd3\n"
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n" + trailer + b"\nstartxref\n%d\n%%%%EOF\n" % xref
    return out


content = b"BT /F1 12 Tf 72 712 Td (Hello \\(world\\) \\101\\n) Tj ET"
plain = pdf(
    [
        b"<< /Type /Catalog /Pages 2 0 R /Names << /Dests 6 0 R >> >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612.0 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> /Rotate -0 >>",
        b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        b"<< /Names [(A) [3 0 R /XYZ null null 1.5] <42> [3 0 R /Fit]] >>",
    ],
    b"<< /Size 7 /Root 1 0 R /ID [<00112233445566778899AABBCCDDEEFF>(literal id)] >>",
)

encrypted = pdf(
    [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [] /Count 0 /T <8A3F02> /S (\\223\\001x) >>",
        b"<< /Length 4 >>\nstream\n\x9c\x11\xfe\x00\nendstream",
        b"<< /Filter /Standard /V 2 /R 3 /Length 128 /P -3904 "
        b"/O <2a2f0a1990192c60114730bdcd39f37828a53c89a340dd473c85299dc5258e1c> "
        b"/U (\\245n\\022\\303\\\\\\260\\007\\234^P\\377\\343\\347z\\201\\001Ej\\221\\272"
        b"\\345\\023Bs\\246\\333\\023L\\207\\304\\(\\)01234) >>",
    ],
    b"<< /Size 5 /Root 1 0 R /Encrypt 4 0 R /ID [<00112233445566778899aabbccddeeff><01>] >>",
)

xref_stream = (
    b"%PDF-1.5\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
    b"2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
    b"3 0 obj << /Type /XRef /Size 4 /W [1 2 1] /Index [0 4] /Root 1 0 R /Length 16 >>\n"
    b"stream\n\x00\x00\x00\xff\x01\x00\x09\x00\x01\x00\x37\x00\x01\x00\x62\x00\nendstream\nendobj\n"
    b"startxref\n98\n%%EOF\n"
)

damaged = (
    b"%PDF-1.3\n1 0 obj << /Length 2147483647 >> stream\nabc\nendstream endobj\n"
    b"2 0 obj [1 2 (unterminated\n"
    b"3 0 obj << /A [<< /B [[[ ] >> endobj\n"
    b"4 0 obj << /Length 9 >> stream\r\nno end here"
    b"\nstartxref 99999999999999999999\n"
)

os.makedirs("reader", exist_ok=True)
for name, data in [("plain.pdf", plain), ("encrypted.pdf", encrypted),
                   ("xrefstream.pdf", xref_stream), ("damaged.pdf", damaged)]:
    with open(os.path.join("reader", name), "wb") as f:
        f.write(data)
