#!/usr/bin/env python3
"""Writes cipher_vectors.txt, the known-answer vectors of the branch cipher tests.

Everything is computed here, independently of the C++ code: MD5 is implemented below from
RFC 1321 (not taken from hashlib) and checked against the RFC's own test suite; the cipher,
the key chain with its cut at the first zero byte, and the password check value are written
out from their definitions. Run it from anywhere; it rewrites the file beside itself.

Line format (fields separated by one space, byte strings in lower-case hex, "-" for empty):
  md5 INPUT DIGEST
  digest PASSWORD CHECK_VALUE
  base64 BYTES TEXT
  encrypt NAME PASSWORD SALT PLAIN ENCIPHERED
  chain NAME TEXT KEY0 KEY1 KEY2 KEY3   (KEY0 after setting the key from TEXT, KEYn after n steps)
"""

import base64
import math
import os
import struct

# ---------------------------------------------------------------- MD5 (RFC 1321)

_T = [int(abs(math.sin(i + 1)) * 2**32) & 0xFFFFFFFF for i in range(64)]
_S = [7, 12, 17, 22] * 4 + [5, 9, 14, 20] * 4 + [4, 11, 16, 23] * 4 + [6, 10, 15, 21] * 4


def _rotl(x, n):
    x &= 0xFFFFFFFF
    return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF


def md5(message: bytes) -> bytes:
    length_bits = (8 * len(message)) & 0xFFFFFFFFFFFFFFFF
    padded = message + b"\x80"
    padded += b"\x00" * ((56 - len(padded)) % 64)
    padded += struct.pack("<Q", length_bits)
    a0, b0, c0, d0 = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for offset in range(0, len(padded), 64):
        x = struct.unpack("<16I", padded[offset:offset + 64])
        a, b, c, d = a0, b0, c0, d0
        for i in range(64):
            if i < 16:
                f, g = (b & c) | (~b & d), i
            elif i < 32:
                f, g = (b & d) | (c & ~d), (5 * i + 1) % 16
            elif i < 48:
                f, g = b ^ c ^ d, (3 * i + 5) % 16
            else:
                f, g = c ^ (b | (~d & 0xFFFFFFFF)), (7 * i) % 16
            f = (f + a + _T[i] + x[g]) & 0xFFFFFFFF
            a, d, c = d, c, b
            b = (b + _rotl(f, _S[i])) & 0xFFFFFFFF
        a0 = (a0 + a) & 0xFFFFFFFF
        b0 = (b0 + b) & 0xFFFFFFFF
        c0 = (c0 + c) & 0xFFFFFFFF
        d0 = (d0 + d) & 0xFFFFFFFF
    return struct.pack("<4I", a0, b0, c0, d0)


# The test suite of RFC 1321, appendix A.5.
_RFC_SUITE = {
    b"": "d41d8cd98f00b204e9800998ecf8427e",
    b"a": "0cc175b9c0f1b6a831c399e269772661",
    b"abc": "900150983cd24fb0d6963f7d28e17f72",
    b"message digest": "f96b697d7cb7938d525a2f31aaf161d0",
    b"abcdefghijklmnopqrstuvwxyz": "c3fcd3d76192e4007dfb496cca67e13b",
    b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789": "d174ab98d277d9f5a5611c2c9f419d9f",
    b"1234567890" * 8: "57edf4a22be3c955ac49da2e2107b67a",
}
for _text, _hex in _RFC_SUITE.items():
    assert md5(_text).hex() == _hex, _text

# ---------------------------------------------------------------- the cipher


def next_key(key: bytes, cut_at_zero: bool = True) -> bytes:
    if cut_at_zero and 0 in key:
        key = key[:key.index(0)]
    return md5(key)


def key_chain(text: bytes, steps: int, cut_at_zero: bool = True):
    keys = [md5(text)]
    for _ in range(steps):
        keys.append(next_key(keys[-1], cut_at_zero))
    return keys


def encrypt(plain: bytes, password: bytes, salt: bytes, cut_at_zero: bool = True) -> bytes:
    blocks = (len(plain) + 15) // 16
    keys = key_chain(password + salt + str(len(plain)).encode("ascii"), blocks, cut_at_zero)
    out = bytearray(plain)
    for i in range(len(out)):
        out[i] = (out[i] + keys[1 + i // 16][i % 16]) % 256
    return salt + bytes(out)


def decrypt(enciphered: bytes, password: bytes, salt_length: int = 4) -> bytes:
    salt, body = enciphered[:salt_length], enciphered[salt_length:]
    blocks = (len(body) + 15) // 16
    keys = key_chain(password + salt + str(len(body)).encode("ascii"), blocks)
    return bytes((body[i] - keys[1 + i // 16][i % 16]) % 256 for i in range(len(body)))


def password_digest(password: bytes) -> str:
    return base64.b64encode(md5(password + md5(password))).decode("ascii")


# ---------------------------------------------------------------- searches for zero bytes


def zero_at(key: bytes, position: int) -> bool:
    """True when the first zero byte of the key is at the position."""
    return 0 in key and key.index(0) == position


def find_text_with_zero(position: int) -> bytes:
    """A short text whose MD5 has its first zero byte at the position."""
    for i in range(1_000_000):
        text = b"key-" + str(i).encode("ascii")
        if zero_at(md5(text), position):
            return text
    raise RuntimeError("no text found")


def find_salt_with_zero(password: bytes, length: int, position: int) -> bytes:
    """A salt for which a key that is stepped on while enciphering length bytes (the key set
    from password, salt and length, or one of the block keys but the last) has its first zero
    byte at the position, so that the cut changes the cipher text."""
    blocks = (length + 15) // 16
    for i in range(1_000_000):
        salt = struct.pack("<I", i * 2654435761 & 0xFFFFFFFF)
        keys = key_chain(password + salt + str(length).encode("ascii"), blocks)
        if any(zero_at(k, position) for k in keys[:blocks]):
            return salt
    raise RuntimeError("no salt found")


# ---------------------------------------------------------------- output


def hx(data: bytes) -> str:
    return data.hex() if data else "-"


def pattern(length: int, seed: int) -> bytes:
    return bytes((seed + 31 * i + (i * i) % 7) % 256 for i in range(length))


def main():
    lines = ["# Known answers for the branch cipher tests; written by make_vectors.py, do not edit."]

    for text in list(_RFC_SUITE) + [pattern(n, n) for n in (15, 16, 55, 56, 63, 64, 65, 119, 120, 1000)]:
        lines.append(f"md5 {hx(text)} {md5(text).hex()}")

    passwords = [b"", b"a", b"secret", b"\xcf\xe0\xf0\xee\xeb\xfc", b"nul\x00inside", b"x" * 100]
    for password in passwords:
        value = password_digest(password)
        assert len(value) == 24 and value.endswith("==")
        lines.append(f"digest {hx(password)} {value}")

    for n in list(range(0, 8)) + [16, 17, 45, 46, 47, 48]:
        data = pattern(n, 200 + n)
        lines.append(f"base64 {hx(data)} {base64.b64encode(data).decode('ascii') or '-'}")

    cases = [
        ("empty", b"secret", b"\x01\x02\x03\x04", b""),
        ("one_byte", b"secret", b"\xff\x00\x7f\x80", b"A"),
        ("sixteen", b"secret", b"salt", pattern(16, 1)),
        ("seventeen", b"secret", b"salt", pattern(17, 2)),
        ("hundred", b"secret", b"\x00\x00\x00\x00", pattern(100, 3)),
        ("empty_password", b"", b"abcd", pattern(33, 4)),
        ("code_page_password", b"\xcf\xe0\xf0\xee\xeb\xfc", b"\x10\x20\x30\x40", pattern(40, 5)),
        ("nul_in_password", b"nul\x00inside", b"WXYZ", pattern(20, 6)),
    ]
    for position, name in ((0, "zero_at_0"), (5, "zero_at_5")):
        password, length = b"secret", 64
        salt = find_salt_with_zero(password, length, position)
        plain = pattern(length, 7 + position)
        # The vector is only worth its name if hashing all 16 bytes gives something else.
        assert encrypt(plain, password, salt) != encrypt(plain, password, salt, cut_at_zero=False)
        cases.append((name, password, salt, plain))
    for name, password, salt, plain in cases:
        enciphered = encrypt(plain, password, salt)
        assert decrypt(enciphered, password) == plain
        lines.append(f"encrypt {name} {hx(password)} {hx(salt)} {hx(plain)} {hx(enciphered)}")

    for position in (0, 5):
        text = find_text_with_zero(position)
        keys = key_chain(text, 3)
        assert keys[1] == md5(keys[0][:position])
        lines.append(f"chain zero_at_{position} {hx(text)} " + " ".join(k.hex() for k in keys))
    text = b"no zero byte here"
    keys = key_chain(text, 3)
    assert all(0 not in k for k in keys[:3])
    lines.append(f"chain plain {hx(text)} " + " ".join(k.hex() for k in keys))

    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cipher_vectors.txt")
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
