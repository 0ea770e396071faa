#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_archive into the folder named (default:
archive/ beside this script).  Each input is the target's 7-byte header
(options, disk answers, other answers, two volume lengths) followed by the
volume files' bytes; the archives are built here byte by byte with Python's
zlib, independently of the project's writer."""
import os
import struct
import sys
import zlib

USE_DIR, OVERWRITE, OWN_NAMES, PASSWORD, NO_PATH_PROMPT, MARK_SPANNED = 4, 8, 16, 32, 64, 128


def deflate(data, level=6):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


class Cipher:
    """The traditional key schedule of the format's encryption."""

    def __init__(self, password):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for ch in password.encode():
            self.update(ch)

    @staticmethod
    def crc_byte(crc, b):
        return ~zlib.crc32(bytes([b]), ~crc & 0xFFFFFFFF) & 0xFFFFFFFF

    def update(self, b):
        k0, k1, k2 = self.k
        k0 = self.crc_byte(k0, b)
        k1 = ((k1 + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = self.crc_byte(k2, k1 >> 24)
        self.k = [k0, k1, k2]

    def encrypt(self, data):
        out = bytearray()
        for b in data:
            t = (self.k[2] | 2) & 0xFFFF
            out.append(b ^ (((t * (t ^ 1)) & 0xFFFF) >> 8))
            self.update(b)
        return bytes(out)


def entry(name, data, directory=b"", method=2, level=6, password=None, crc=None,
          version=16, continued=False, attributes=0x20, packed_override=None):
    stored = deflate(data, level) if method == 2 else b""
    crc = zlib.crc32(data) if crc is None else crc
    if password is not None:
        attributes |= 0x4000
        head = bytes(range(11)) + bytes([crc >> 24])
        c = Cipher(password)
        stored = c.encrypt(head) + Cipher(password).encrypt(stored)
    packed = len(stored) if packed_override is None else packed_override
    record = b"QG\x03" + (b"\x05" if continued else b"\x04")
    record += struct.pack("<HHHHHIII", version, attributes, method, 0x6000, 0x5421, crc,
                          packed, len(data))
    record += bytes(10) + struct.pack("<HH", len(name), len(directory)) + name + directory
    return record, stored


def whole(*entries):
    return b"".join(r + s for r, s in entries)


def seed(options, volumes, disk=0xFF, other=0x00):
    lengths = [len(v) for v in volumes[:-1]] + [0, 0]
    count = len(volumes)
    options = (options & ~3) | (count - 1)
    return bytes([options, disk, other]) + struct.pack("<HH", lengths[0], lengths[1]) + \
        b"".join(volumes)


def text(n, salt=0):
    words = [b"alpha ", b"beta ", b"gamma\n", b"delta ", b"\t"]
    return b"".join(words[(i * 7 + salt) % 5] for i in range(n))


def seeds():
    a = entry(b"readme.txt", text(200))
    b = entry(b"data.bin", bytes(range(256)) * 4, b"\\docs\\deep")
    e = entry(b"empty", b"", method=0)
    yield "plain", seed(USE_DIR | OVERWRITE | OWN_NAMES | NO_PATH_PROMPT, [whole(a, b, e)])
    yield "plain-prompts", seed(USE_DIR | OWN_NAMES, [whole(a, b)], other=0b01100100)
    yield "stored-level0", seed(OWN_NAMES | OVERWRITE,
                                [whole(entry(b"s.bin", text(50, 3), level=0))])
    pw = [entry(b"secret.txt", text(300, 1), password="pw"),
          entry(b"e", b"", password="pw")]
    yield "encrypted", seed(PASSWORD | OWN_NAMES | OVERWRITE, [whole(*pw)])
    yield "encrypted-wrong-password", seed(OWN_NAMES | OVERWRITE, [whole(*pw)])
    # An entry whose data runs on into the second volume.
    r1, s1 = entry(b"one.txt", text(100, 2))
    r2, s2 = entry(b"two.txt", text(400, 4), b"\\s", continued=True)
    r3, s3 = entry(b"three.txt", text(30, 1))
    cut = len(s2) // 2
    vol1 = r1 + s1 + r2 + s2[:cut]
    vol2 = s2[cut:] + r3 + s3
    yield "spanned", seed(USE_DIR | OWN_NAMES | OVERWRITE | NO_PATH_PROMPT, [vol1, vol2])
    yield "spanned-missing-volume", seed(OWN_NAMES | OVERWRITE, [vol1], disk=0b10)
    # Three volumes, encrypted, the middle one holding data only.
    r4, s4 = entry(b"long.txt", text(900, 3), continued=True, password="pw")
    third = len(s4) // 3
    yield "three-volumes", seed(PASSWORD | OWN_NAMES | OVERWRITE | MARK_SPANNED,
                                [r4 + s4[:third], s4[third:2 * third],
                                 s4[2 * third:] + whole(e)])
    yield "bad-crc", seed(OWN_NAMES | OVERWRITE,
                          [whole(entry(b"c.txt", text(80), crc=1234), a)])
    yield "version-17", seed(OWN_NAMES | OVERWRITE, [whole(entry(b"v.txt", b"x", version=17), a)])
    yield "hostile-names", seed(USE_DIR | OWN_NAMES | OVERWRITE | NO_PATH_PROMPT,
                                [whole(entry(b"../up.txt", b"x"),
                                       entry(b"ok.txt", b"y", b"\\..\\..\\up"),
                                       entry(b"sub\\f.txt", b"z"),
                                       entry(b"\x1b[2Jesc", b"w"))])
    yield "duplicate-names", seed(OWN_NAMES, [whole(a, a, a)], other=0b100100)
    yield "truncated", seed(OWN_NAMES | OVERWRITE, [whole(a, b)[:150]])
    yield "size-too-large", seed(OWN_NAMES | OVERWRITE,
                                 [whole(entry(b"big", text(20), packed_override=5000))])
    yield "stop-signature", seed(OWN_NAMES | OVERWRITE, [whole(a) + b"QG\x03\x06"])
    yield "read-only-twice", seed(OWN_NAMES | OVERWRITE,
                                  [whole(entry(b"ro", b"r", attributes=0x21),
                                         entry(b"ro", b"s"))])


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "archive")
    os.makedirs(out, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(out, name + ".bin"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
