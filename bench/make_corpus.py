#!/usr/bin/env python3
"""Writes the benchmark corpus: English-like text with straight and curly quotes of both
families, in four encodings, as large files and as many small files in nested folders."""
import argparse
import os
import random

WORDS = ("the of and to in is was that for it with as his on be at by had not are but from "
         "or have an they which one you were her all she there would their we him been has "
         "when who will more no if out so said what up its about into than them can only "
         "other new some could time these two may then do first any my now such like our over "
         "man me even most made after also did many before must through back years where much "
         "your way well down should because each just those people how too little state good "
         "very make world still own see men work long get here between both life being under "
         "never day same another know while last might us great old year off come since "
         "against go came right used take three café naïve résumé").split()


def sentence(rng):
    words = [rng.choice(WORDS) for _ in range(rng.randint(4, 14))]
    words[0] = words[0].capitalize()
    text = " ".join(words)
    kind = rng.random()
    if kind < 0.25:
        return 'He said "%s."' % text
    if kind < 0.45:
        return "She wrote \u201c%s.\u201d" % text
    if kind < 0.60:
        return "\u2018%s,\u2019 they\u2019d say." % text
    if kind < 0.70:
        return "It's %s." % text
    return text + "."


def block(rng, size):
    """About size characters of lines, without line ends."""
    lines, total = [], 0
    while total < size:
        line = " ".join(sentence(rng) for _ in range(rng.randint(1, 4)))
        lines.append(line)
        total += len(line) + 1
    return lines


ROADS = {
    # name: (encoding, mark, line end)
    "utf8": ("utf-8", b"", "\n"),
    "utf8bom": ("utf-8", b"\xef\xbb\xbf", "\r\n"),
    "utf16le": ("utf-16-le", b"\xff\xfe", "\r\n"),
    "cp1252": ("cp1252", b"", "\n"),
}


def write_file(path, rng, blocks, size, road):
    encoding, mark, end = ROADS[road]
    with open(path, "wb") as out:
        out.write(mark)
        written = len(mark)
        while written < size:
            lines = rng.choice(blocks)
            data = (end.join(lines) + end).encode(encoding)
            out.write(data)
            written += len(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder")
    parser.add_argument("--big-mib", type=int, default=32, help="size of each large file")
    parser.add_argument("--big-count", type=int, default=4, help="large files per encoding")
    parser.add_argument("--huge-mib", type=int, default=256, help="size of the memory test file")
    parser.add_argument("--small-count", type=int, default=10000)
    args = parser.parse_args()

    rng = random.Random(20210831)
    blocks = [block(rng, 1 << 20) for _ in range(8)]
    for road in ROADS:
        folder = os.path.join(args.folder, "big", road)
        os.makedirs(folder, exist_ok=True)
        for i in range(args.big_count):
            write_file(os.path.join(folder, "%s-%d.txt" % (road, i)), rng, blocks,
                       args.big_mib << 20, road)
    folder = os.path.join(args.folder, "huge")
    os.makedirs(folder, exist_ok=True)
    write_file(os.path.join(folder, "huge.txt"), rng, blocks, args.huge_mib << 20, "utf8")

    small_lines = [line for b in blocks[:2] for line in b]
    for i in range(args.small_count):
        folder = os.path.join(args.folder, "small", "d%02d" % (i // 1000), "e%02d" % (i // 100 % 10))
        os.makedirs(folder, exist_ok=True)
        start = rng.randrange(len(small_lines) - 60)
        lines = small_lines[start:start + rng.randint(5, 60)]
        with open(os.path.join(folder, "f%05d.txt" % i), "wb") as out:
            out.write(("\n".join(lines) + "\n").encode("utf-8"))


if __name__ == "__main__":
    main()
