"""The branch cipher written from its definition, independent of the program's own, for the
scripts that generate encrypted test documents. Every string here is bytes."""
import base64
import hashlib


def next_key(key):
    """The next key: MD5 of the key's bytes up to, not including, its first zero byte."""
    z = key.find(b"\0")
    return hashlib.md5(key if z < 0 else key[:z]).digest()


def encrypt(plain, password, salt):
    """Salt followed by the plain text with the key stream added byte by byte."""
    key = hashlib.md5(password + salt + str(len(plain)).encode()).digest()
    out = bytearray()
    for i in range(0, len(plain), 16):
        key = next_key(key)
        out += bytes((b + k) % 256 for b, k in zip(plain[i:i + 16], key))
    return salt + bytes(out)


def digest(password):
    """The password check value: Base64 of MD5(password || MD5(password))."""
    d1 = hashlib.md5(password).digest()
    return base64.b64encode(hashlib.md5(password + d1).digest()).decode()


def enc_b64(plain, password, salt):
    """Base64 of the enciphered text, as a document stores it."""
    return base64.b64encode(encrypt(plain, password, salt)).decode()
