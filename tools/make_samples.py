#!/usr/bin/env python3
"""Writes Parvello's example files into resources/Samples/, one per encoding the program
keeps: UTF-8 with and without a byte-order mark, UTF-16 LE with its mark, windows-1252 and
plain ASCII. Each short text holds quotes of both families, straight and curly."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, os.pardir, "resources", "Samples")

GARDEN = (
    "The Night Garden\n"
    "\n"
    "\u201cDo the moonflowers open tonight?\u201d asked Mira.\n"
    "Her grandfather smiled. \u201cOnly if you whisper \u2018please\u2019 to them.\u201d\n"
    "She knelt by the bed and said \"please\" three times, to be sure.\n"
    "By ten o'clock the first white trumpet had unfurled, and Mira\u2019s\n"
    "notebook read: \u2018Tuesday \u2013 one flower, very shy.\u2019\n"
)

LIGHTHOUSE = (
    "Letters from the Lighthouse\n"
    "\n"
    "Dear Tomas,\n"
    "The keeper says the fog is \u201cthe sea\u2019s own blanket\u201d and that\n"
    "it isn't worth cursing. I\u2019ve started calling the foghorn \"Old Bertha\";\n"
    "she answers every ship with the same \u2018hello\u2019, twice a minute.\n"
    "Yours, from the top of 114 steps,\n"
    "Elin\n"
)

RECIPE = (
    "Grandma's \u201cNo-Fail\u201d Scones\n"
    "\n"
    "Rub the butter into the flour until it feels like \u2018fine sand\u2019.\n"
    "Add the milk all at once \u2013 \"don't fuss with it,\" she always said.\n"
    "Bake at 220 \u00b0C for 12 minutes. Serve warm, with jam and a \u201cthank you\u201d.\n"
)

CAFE = (
    "Caf\u00e9 Notes\n"
    "\n"
    "The barista wrote \u201cna\u00efve latte\u201d on my cup \u2013 I think she meant \u2018vanilla\u2019.\n"
    "The menu promises \"the best cr\u00e8me br\u00fbl\u00e9e in town\"; it isn\u2019t wrong.\n"
    "Tip jar label: \u2018Fear change? Leave it here.\u2019\n"
)

PLAIN = (
    "Plain Quotes\n"
    "\n"
    "\"Straight quotes are the ones on your keyboard,\" said the typesetter.\n"
    "'Curly ones are for print,' replied the editor, 'but files are full of both.'\n"
    "Parvello treats \"these\" and 'these' like their curly cousins.\n"
)


def crlf(text):
    return text.replace("\n", "\r\n")


FILES = {
    "Night Garden - UTF-8 with mark.txt": b"\xef\xbb\xbf" + crlf(GARDEN).encode("utf-8"),
    "Lighthouse Letter - UTF-8.txt": LIGHTHOUSE.encode("utf-8"),
    "Scones - UTF-16 LE.txt": b"\xff\xfe" + crlf(RECIPE).encode("utf-16-le"),
    "Cafe Notes - Windows-1252.txt": crlf(CAFE).encode("cp1252"),
    "Plain Quotes - ASCII.txt": crlf(PLAIN).encode("ascii"),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in FILES.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
