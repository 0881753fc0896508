#!/usr/bin/env python3
"""Writes the ludex-cli test documents of this folder. Run from this folder.

The encrypted documents are built with the cipher of ../branch_cipher.py, written from its definition and independent of
the program's own, with fixed salts so that the files are reproducible. Memos and passwords enter
the cipher as windows-1252 bytes (windows-1251 for locked1251.ldx), payloads as UTF-8.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from branch_cipher import digest, enc_b64 as enc  # noqa: E402

CRLF = "\r\n"
DECL = '<?xml version="1.0" encoding="utf-8"?>'


def write(name, text):
    with open(name, "wb") as f:
        f.write(text.encode("utf-8"))


def document(*lines):
    return DECL + CRLF + CRLF.join(lines)


# A plain document in the writer's own form, so that writing it again gives the same bytes.
write("notes.ldx", document(
    '<ludex version="2.1.0 " title="Notebook" memo="Root memo">',
    '<note title="Projects" memo="Plans for the year&#xA;Budget: 12*3.5">',
    '<note title="Alpha" memo="a cat sat&#xA;Cat. CAT concatenate cat"/>',
    '<note title="Beta/Gamma" memo="slash &amp; &lt;title&gt;"/>',
    '</note>',
    '<note title="Projects" memo="second with the same title"/>',
    '<item title="Пример ✓" memo="Ёлка: cat&#xA;ёж cat" extra="kept"/>',
    '<note title="Mixed" memo="">',
    'loose text',
    '<note title="Under text" memo="# not a heading&#xA;&#xA;1. not a list&#x9;tab"/>',
    '</note>',
    '<note title="aardvark"/>',
    '</ludex>'))

# Locked branches under "s3cret": "Vault" with two sub-branches, one of them encrypted under
# "other"; "Diary", a locked leaf without payload.
s3 = b"s3cret"
other = b"other"
nested_payload = ('<note title="Deep" memo="deep memo"/>' + CRLF).encode()
vault_payload = ('<note title="Inside" memo="inner cat"/>' + CRLF +
                 '<note title="Nested" memo="%s" encryption="%s">%s</note>' % (
                     enc("nested memo".encode("cp1252"), other, b"\x01\x02\x03\x04"), digest(other),
                     enc(nested_payload, other, b"\x05\x06\x07\x08")) + CRLF).encode()
write("locked.ldx", document(
    '<ludex version="2.1.0 " title="Safe" memo="">',
    '<note title="Vault" memo="%s" encryption="%s">' % (
        enc("Secret memo\nline 2 café".encode("cp1252"), s3, b"\x10\x00\x20\x00"), digest(s3)),
    enc(vault_payload, s3, b"\x30\x40\x50\x60"),
    '</note>',
    '<note title="Diary" memo="%s" encryption="%s"/>' % (
        enc("dear diary".encode("cp1252"), s3, b"\x70\x71\x72\x73"), digest(s3)),
    '<note title="Public" memo="hello cat"/>',
    '</ludex>'))

# The whole document locked, under a Cyrillic password in windows-1251.
ru = "пароль".encode("cp1251")
write("locked1251.ldx", document(
    '<ludex version="2.1.0 " title="Корень" memo="%s" encryption="%s">' % (
        enc("Секрет".encode("cp1251"), ru, b"\x01\x01\x01\x01"), digest(ru)),
    enc(('<note title="Лист" memo="%s"/>' % "текст").encode() + CRLF.encode(), ru, b"\x02\x02\x02\x02"),
    '</ludex>'))

# A payload whose Base64 text has a length that is not a multiple of 4.
write("damaged.ldx", document(
    '<ludex version="2.1.0 " title="Damaged" memo="">',
    '<note title="Broken" memo="%s" encryption="%s">' % (
        enc(b"memo", s3, b"\x00\x00\x00\x00"), digest(s3)),
    'QUJD' + 'RA',
    '</note>',
    '</ludex>'))

write("comment.ldx", document(
    '<ludex version="2.1.0 " title="With comment" memo="">',
    '<note title="first" memo="one"/>',
    '<!-- a remark -->',
    '<note title="second"/>',
    '</ludex>'))

write("malformed.ldx", document('<ludex title="Cut short">', '<note title="open"'))
