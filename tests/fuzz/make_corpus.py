#!/usr/bin/env python3
"""Writes the seed corpus of the engine's fuzz target into tests/fuzz/corpus/.

Each seed is: a flags byte (rule in bits 0-2, in place in bit 3, an existing output in
bit 4), the length of the replacement text, its characters as indexes into the target's
alphabet, then the bytes of the file. See fuzz_engine.cpp.
"""
import os
import struct

NONE, REMOVE_DOUBLE, REMOVE_SINGLE, DOUBLE_TO_SINGLE, SINGLE_TO_DOUBLE, DOUBLE_TEXT, SINGLE_TEXT = range(7)
IN_PLACE, EXISTING = 8, 16
# Indexes into the alphabet of replacement characters.
A = {"'": 0, '"': 1, "lsq": 2, "rsq": 3, "ldq": 4, "rdq": 5, "x": 6, "e-acute": 7, "euro": 8,
     "cjk": 9, "u0081": 10, "bom": 11, "cr": 12, "lf": 13, "high": 14, "low": 15, "emoji": 16,
     "nul": 17}

BOM8 = b"\xef\xbb\xbf"
BOM16LE = b"\xff\xfe"
BOM16BE = b"\xfe\xff"
BOM32LE = b"\xff\xfe\x00\x00"
BOM32BE = b"\x00\x00\xfe\xff"


def u16le(text):
    return BOM16LE + text.encode("utf-16-le", "surrogatepass")


def u16be(text):
    return BOM16BE + text.encode("utf-16-be", "surrogatepass")


def u32le(text):
    return BOM32LE + text.encode("utf-32-le", "surrogatepass")


def u32be(text):
    return BOM32BE + text.encode("utf-32-be", "surrogatepass")


QUOTES = "He said \"hi\" and 'bye', \u201cleft\u201d \u2018right\u2019\r\nnext\nline\rend"
LONG = "x" * 65535 + "\U0001F600" + " \"tail\" 'q'"  # a pair across the encoder's slices

SEEDS = {
    # flags, replacement characters, file bytes
    "ascii-both-families": (REMOVE_DOUBLE, [], QUOTES.encode("ascii", "ignore")),
    "ascii-no-rule": (NONE, [], b"a \"b\" 'c'\r\nd\ne\rf\r\n"),
    "ascii-in-place-unchanged": (NONE | IN_PLACE, [], b"a\r\nb\r\n"),
    "ascii-in-place-changed": (REMOVE_SINGLE | IN_PLACE, [], b"it's\r\n"),
    "existing-output": (DOUBLE_TO_SINGLE | EXISTING, [], b"\"x\""),
    "existing-output-holds-result": (NONE | EXISTING, [], b"previous"),
    "empty": (REMOVE_DOUBLE, [], b""),
    "only-line-breaks": (NONE, [], b"\r\n\n\r\r\n\n\n\r"),
    "lone-cr-lf": (SINGLE_TO_DOUBLE, [], b"a\rb\nc\r\nd\n\r'e'\r"),
    "cp1252-quotes": (DOUBLE_TO_SINGLE, [], b"\x93quoted\x94 \x91single\x92 caf\xe9 \x80 \"s\"\n"),
    "cp1252-undefined-bytes": (DOUBLE_TEXT, [A["u0081"]], b"\x81\x8d\x8f\x90\x9d \"x\" \xff"),
    "cp1252-cannot-hold": (DOUBLE_TEXT, [A["cjk"]], b"\"a\" caf\xe9"),
    "cp1252-can-hold": (SINGLE_TEXT, [A["euro"], A["e-acute"]], b"'a' caf\xe9"),
    "cp1252-partial-utf8-at-end": (REMOVE_DOUBLE, [], b"\"caf\xc3"),
    "cp1252-looks-like-bom-start": (REMOVE_DOUBLE, [], b"\xef\xbb\"x\""),
    "nul-marked-less": (REMOVE_DOUBLE, [], b"\"a\"\x00b"),
    "nul-valid-utf8": (REMOVE_DOUBLE, [], "\u201ca\u201d\x00".encode()),
    "utf8-markless": (DOUBLE_TEXT, [A["ldq"], A["x"]], "\u201ca\u201d \u2018b\u2019 caf\u00e9\n".encode()),
    "utf8-markless-emoji": (SINGLE_TEXT, [A["emoji"]], "'\U0001F600' \"x\"".encode()),
    "utf8-markless-replacement-bom": (DOUBLE_TEXT, [A["bom"]], "\"\u00e9\"".encode()),
    "utf8-markless-lone-surrogate-text": (DOUBLE_TEXT, [A["high"]], "\"\u00e9\"".encode()),
    "utf8-mark": (DOUBLE_TO_SINGLE, [], BOM8 + QUOTES.encode()),
    "utf8-mark-no-rule": (NONE, [], BOM8 + b"a\r\nb\nc\r\r\n"),
    "utf8-mark-only": (REMOVE_DOUBLE, [], BOM8),
    "utf8-mark-twice": (NONE, [], BOM8 + BOM8 + b"a"),
    "utf8-mark-twice-rule": (REMOVE_DOUBLE, [], BOM8 + BOM8 + b"#\x00\""),
    "utf8-mark-then-nul": (REMOVE_DOUBLE, [], BOM8 + b"\"\x00\""),
    "utf8-mark-truncated-2": (REMOVE_DOUBLE, [], BOM8 + b"ab\xc3"),
    "utf8-mark-truncated-3": (REMOVE_DOUBLE, [], BOM8 + b"ab\xe2\x80"),
    "utf8-mark-truncated-4": (REMOVE_DOUBLE, [], BOM8 + b"ab\xf0\x9f\x98"),
    "utf8-mark-truncated-middle": (REMOVE_DOUBLE, [], BOM8 + b"a\xe2\x80b"),
    "utf8-mark-overlong-2": (REMOVE_DOUBLE, [], BOM8 + b"\xc0\xaf"),
    "utf8-mark-overlong-3": (REMOVE_DOUBLE, [], BOM8 + b"\xe0\x80\xaf"),
    "utf8-mark-overlong-4": (REMOVE_DOUBLE, [], BOM8 + b"\xf0\x80\x80\xaf"),
    "utf8-mark-surrogate": (REMOVE_DOUBLE, [], BOM8 + b"\xed\xa0\x80"),
    "utf8-mark-surrogate-pair": (REMOVE_DOUBLE, [], BOM8 + b"\xed\xa0\xbd\xed\xb8\x80"),
    "utf8-mark-above-max": (REMOVE_DOUBLE, [], BOM8 + b"\xf4\x90\x80\x80"),
    "utf8-mark-five-byte": (REMOVE_DOUBLE, [], BOM8 + b"\xf8\x88\x80\x80\x80"),
    "utf8-mark-stray-continuation": (REMOVE_DOUBLE, [], BOM8 + b"a\x80b"),
    "utf8-mark-ff": (REMOVE_DOUBLE, [], BOM8 + b"\xfe\xff"),
    "utf8-mark-noncharacter": (REMOVE_DOUBLE, [], BOM8 + "\ufffe\uffff\U0010ffff".encode()),
    "utf16le": (SINGLE_TO_DOUBLE, [], u16le(QUOTES)),
    "utf16le-in-place": (REMOVE_SINGLE | IN_PLACE, [], u16le("'a'\r\n")),
    "utf16le-mark-only": (REMOVE_DOUBLE, [], BOM16LE),
    "utf16le-odd": (REMOVE_DOUBLE, [], u16le("ab") + b"c"),
    "utf16le-unpaired-high": (REMOVE_DOUBLE, [], u16le("a\ud83db")),
    "utf16le-unpaired-high-at-end": (REMOVE_DOUBLE, [], u16le("a\ud83d")),
    "utf16le-unpaired-low": (REMOVE_DOUBLE, [], u16le("a\ude00b")),
    "utf16le-pair": (DOUBLE_TEXT, [A["emoji"]], u16le("\"\U0001F600\"")),
    "utf16le-nul": (REMOVE_DOUBLE, [], u16le("a\x00\"b\"")),
    "utf16le-text-lone-surrogate": (DOUBLE_TEXT, [A["low"]], u16le("\"a\"")),
    "utf16be": (DOUBLE_TEXT, [A["lsq"], A["cr"], A["lf"]], u16be(QUOTES)),
    "utf16be-odd": (REMOVE_DOUBLE, [], u16be("ab") + b"c"),
    "utf16be-unpaired": (REMOVE_DOUBLE, [], u16be("a\udc00")),
    "utf32le": (REMOVE_SINGLE, [], u32le(QUOTES + "\U0001F600")),
    "utf32le-mark-only": (REMOVE_SINGLE, [], BOM32LE),
    "utf32le-out-of-range": (REMOVE_DOUBLE, [], BOM32LE + struct.pack("<I", 0x110000)),
    "utf32le-surrogate": (REMOVE_DOUBLE, [], BOM32LE + struct.pack("<I", 0xD800)),
    "utf32le-short": (REMOVE_DOUBLE, [], BOM32LE + b"a\x00\x00"),
    "utf32be": (SINGLE_TEXT, [A['"'], A["x"]], u32be(QUOTES)),
    "utf32be-out-of-range": (REMOVE_DOUBLE, [], BOM32BE + struct.pack(">I", 0xFFFFFFFF)),
    "utf32be-short": (REMOVE_DOUBLE, [], BOM32BE + b"\x00\x00\x00\x61\x00"),
    "one-byte-ff": (REMOVE_DOUBLE, [], b"\xff"),
    "two-bytes-ef-bb": (REMOVE_DOUBLE, [], b"\xef\xbb"),
    "text-with-same-family": (DOUBLE_TEXT, [A["ldq"], A['"'], A["rdq"]], b"\"a\" \x93b\x94"),
    "text-with-nul": (SINGLE_TEXT, [A["nul"]], b"'a'"),
    "long-line-cp1252": (REMOVE_DOUBLE, [], b"\"" + b"y" * 70000 + b"\x93\"\n"),
    "long-line-utf8-mark-pair-across-slices": (REMOVE_DOUBLE, [], BOM8 + LONG.encode()),
    "long-line-utf8-markless-pair-across-slices": (REMOVE_DOUBLE, [], LONG.encode()),
    "long-line-utf16-pair-across-slices": (REMOVE_DOUBLE, [], u16le(LONG)),
    "many-short-lines": (SINGLE_TO_DOUBLE, [], b"'a'\n" * 2000),
}


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, (flags, text, content) in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(bytes([flags, len(text)] + text) + content)


if __name__ == "__main__":
    main()
