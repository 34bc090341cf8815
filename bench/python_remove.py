#!/usr/bin/env python3
"""The plain-Python baseline for UTF-16 files: what parvello-cli --rule remove-double does
to a file with a UTF-16 LE mark (lines end at CR LF, LF or CR; the three double quotes go;
every line ends with CR LF; UTF-16 LE with its mark). Usage: python_remove.py OUTDIR FILE..."""
import os
import re
import sys

BREAK = re.compile("\r\n|\n|\r")
QUOTES = re.compile("[\"\u201c\u201d]")

out_dir = sys.argv[1]
for path in sys.argv[2:]:
    with open(path, "rb") as f:
        text = f.read()[2:].decode("utf-16-le")
    lines = BREAK.split(text)
    if len(lines) > 1 and lines[-1] == "":
        lines.pop()
    result = "".join(QUOTES.sub("", line) + "\r\n" for line in lines)
    with open(os.path.join(out_dir, os.path.basename(path)), "wb") as f:
        f.write(b"\xff\xfe" + result.encode("utf-16-le"))
