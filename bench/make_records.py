#!/usr/bin/env python3
"""Writes a records file for the benchmarks: COUNT records of realistic length (about 187
bytes a line), with unique product names in random order, CR LF line ends.

usage: make_records.py COUNT OUTPUT [--one-line BYTES]

With --one-line, writes instead a single line of BYTES letters without any "~~".
"""
import random
import string
import sys


def word(rng, length):
    return "".join(rng.choice(string.ascii_lowercase) for _ in range(length))


def main():
    count, output = int(sys.argv[1]), sys.argv[2]
    if "--one-line" in sys.argv:
        size = int(sys.argv[sys.argv.index("--one-line") + 1])
        with open(output, "wb") as out:
            out.write(b"a" * size)
        return
    rng = random.Random(42)
    with open(output, "wb") as out:
        lines = []
        for i in range(count):
            name = f"{word(rng, 6 + rng.randrange(14)).capitalize()} {i}"
            site = name.split()[0].lower()
            fields = [
                name,
                f"https://www.{site}.com/",
                f"https://www.{site}.com/ref?id={word(rng, 12)}",
                word(rng, 8),
                word(rng, 12),
                str(rng.randrange(50)),
                f"2024-0{1 + rng.randrange(9)}-1{rng.randrange(10)}",
                word(rng, 10 + rng.randrange(60)),
            ]
            lines.append("~~".join(fields).encode("ascii") + b"\r\n")
            if len(lines) >= 100000:
                out.writelines(lines)
                lines = []
        out.writelines(lines)


if __name__ == "__main__":
    main()
