"""Writes a one-page PDF file protected by the standard security handler with RC4, built here
from the published algorithms, so that any revision, key length and /P value can be tried.

    make_rc4_file.py OUT REVISION LENGTH P USER OWNER

LENGTH is the key length in bits (40 to 128); 0 leaves /Length out of the dictionary (the key
then has 40 bits). The page shows "Hello", the document information has a title.
"""
import hashlib
import struct
import sys

PAD = bytes.fromhex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A")
FILE_ID = bytes.fromhex("0123456789abcdeffedcba9876543210")


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    out = bytearray()
    i = j = 0
    for byte in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


def padded(password):
    return (password.encode("latin-1") + PAD)[:32]


def owner_value(owner, user, revision, n):
    digest = hashlib.md5(padded(owner)).digest()
    if revision >= 3:
        for _ in range(50):
            digest = hashlib.md5(digest[:n]).digest()
    key = digest[:n]
    value = rc4(key, padded(user))
    if revision >= 3:
        for i in range(1, 20):
            value = rc4(bytes(b ^ i for b in key), value)
    return value


def file_key(user, o, p, revision, n):
    digest = hashlib.md5(padded(user) + o + struct.pack("<i", p) + FILE_ID).digest()
    if revision >= 3:
        for _ in range(50):
            digest = hashlib.md5(digest[:n]).digest()
    return digest[:n]


def user_value(key, revision):
    if revision == 2:
        return rc4(key, PAD)
    value = rc4(key, hashlib.md5(PAD + FILE_ID).digest())
    for i in range(1, 20):
        value = rc4(bytes(b ^ i for b in key), value)
    return value + bytes(16)


def object_key(key, number):
    digest = hashlib.md5(key + struct.pack("<i", number)[:3] + b"\0\0").digest()
    return digest[: min(len(key) + 5, 16)]


def main():
    out, revision, length, p, user, owner = sys.argv[1:7]
    revision, length, p = int(revision), int(length), int(p)
    n = 5 if revision == 2 or length == 0 else length // 8
    o = owner_value(owner, user, revision, n)
    key = file_key(user, o, p, revision, n)
    u = user_value(key, revision)
    content = b"BT /F1 36 Tf 72 700 Td (Hello) Tj ET"
    title = b"Encrypted title"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        b" /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>",
        None,  # the content stream
        b"<< /Title <" + rc4(object_key(key, 5), title).hex().encode() + b"> >>",
        b"<< /Filter /Standard /V " + (b"1" if revision == 2 else b"2")
        + (b" /Length " + str(length).encode() if length else b"")
        + b" /R " + str(revision).encode() + b" /P " + str(p).encode()
        + b" /O <" + o.hex().encode() + b"> /U <" + u.hex().encode() + b"> >>",
    ]
    data = rc4(object_key(key, 4), content)
    objects[3] = b"<< /Length " + str(len(data)).encode() + b" >>\nstream\n" + data + b"\nendstream"
    pdf = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects):
        offsets.append(len(pdf))
        pdf += str(i + 1).encode() + b" 0 obj\n" + body + b"\nendobj\n"
    xref = len(pdf)
    pdf += b"xref\n0 " + str(len(objects) + 1).encode() + b"\n0000000000 65535 f \n"
    for off in offsets:
        pdf += b"%010d 00000 n \n" % off
    pdf += (b"trailer\n<< /Size " + str(len(objects) + 1).encode()
            + b" /Root 1 0 R /Info 5 0 R /Encrypt 6 0 R /ID [<" + FILE_ID.hex().encode()
            + b"> <" + FILE_ID.hex().encode() + b">] >>\nstartxref\n" + str(xref).encode()
            + b"\n%%EOF\n")
    with open(out, "wb") as f:
        f.write(pdf)


main()
