#!/usr/bin/env python3
"""Writes the document test files of this folder.

The encrypted file is built with the branch cipher of ../branch_cipher.py, written from its
definition, independent of the program's own, so that reading it back checks the program against
it. Salts are fixed so that the output is reproducible. Run from this folder.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from branch_cipher import digest, enc_b64  # noqa: E402

CODE_PAGE = "cp1251"  # the tests set windows-1251 as the current code page


def write(name, text, encoding="utf-8", bom=b""):
    with open(name, "wb") as f:
        f.write(bom + text.encode(encoding))


CRLF = "\r\n"

write("cp1251.ldx",
      '<?xml version="1.0" encoding="windows-1251"?>' + CRLF +
      '<ludex version="2.1.0 " title="Заметки" memo="Первая строка&#xA;вторая">' + CRLF +
      '<note title="Ветка №1" memo="тест"/>' + CRLF + '</ludex>', "cp1251")

utf16 = ('<?xml version="1.0" encoding="UTF-16"?>' + CRLF +
         '<ludex title="Ünïcode ✓ 16" memo="a&#xA;b">' + CRLF + '<note title="日本語"/>' + CRLF + '</ludex>')
write("utf16le.ldx", utf16, "utf-16-le", b"\xff\xfe")
write("utf16be.ldx", utf16, "utf-16-be", b"\xfe\xff")

write("comment.ldx",
      '<?xml version="1.0" encoding="utf-8"?>' + CRLF +
      '<ludex version="2.1.0 " title="With comment" memo="">' + CRLF + '<note title="first"/>' + CRLF +
      '<!-- a remark between branches -->' + CRLF + '<note title="second"/>' + CRLF + '</ludex>')

# An encrypted branch "Secret" (password "пароль1") holding a plain branch and an encrypted
# branch "Inner" (password "inner") that holds one leaf.
outer_pw = "пароль1".encode(CODE_PAGE)
inner_pw = b"inner"
inner_payload = ('<note title="Leaf ✓" memo="deep&#xA;text"/>' + CRLF).encode("utf-8")
inner = ('<note title="Inner" memo="%s" encryption="%s">%s</note>' %
         (enc_b64("Внутри".encode(CODE_PAGE), inner_pw, b"\x01\x02\x03\x04"), digest(inner_pw),
          enc_b64(inner_payload, inner_pw, b"\x05\x06\x07\x08")))
outer_payload = ('<note title="Plain child" memo="tab&#x9;here"/>' + CRLF + inner + CRLF).encode("utf-8")
write("encrypted.ldx",
      '<?xml version="1.0" encoding="utf-8"?>' + CRLF +
      '<ludex version="2.1.0 " title="Encrypted inside" memo="">' + CRLF +
      '<note title="Secret" memo="%s" encryption="%s">' % (
          enc_b64("Тайна: 17 &lt; 42\n2-я строка".replace("&lt;", "<").encode(CODE_PAGE), outer_pw,
                  b"\xAA\x00\xBB\x00"), digest(outer_pw)) + CRLF +
      enc_b64(outer_payload, outer_pw, b"\x10\x20\x30\x40") + CRLF + '</note>' + CRLF +
      '<note title="Open" memo="visible"/>' + CRLF + '</ludex>')
