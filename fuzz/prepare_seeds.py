#!/usr/bin/env python3
"""Lays out the seed corpus of every fuzz target in OUT/<target>/ from the shared test data,
the INI reference cases (each case's file bytes become one seed) and the small hand-made seeds
in fuzz/seeds/. Nothing of it is kept in the repository; scripts/fuzz runs this before fuzzing.

usage: prepare_seeds.py SHARED_DIR REPO_DIR OUT_DIR
"""
import glob
import os
import re
import shutil
import sys

SEPARATOR = b"\n--8<--\n"  # fuzz::kPartSeparator


def parse_string(text):
    """The bytes of a reference-case STRING: quoted pieces joined by '+', each optionally
    repeated with '*COUNT'; escapes \\\\ \\" \\r \\n \\t \\xHH."""
    out = bytearray()
    i = 0
    escapes = {"\\": b"\\", '"': b'"', "r": b"\r", "n": b"\n", "t": b"\t"}
    while i < len(text):
        if text[i] in " +":
            i += 1
            continue
        if text[i] != '"':
            break
        j = i + 1
        piece = bytearray()
        while text[j] != '"':
            if text[j] == "\\":
                if text[j + 1] == "x":
                    piece.append(int(text[j + 2 : j + 4], 16))
                    j += 4
                else:
                    piece += escapes[text[j + 1]]
                    j += 2
            else:
                piece.append(ord(text[j]))
                j += 1
        j += 1
        count = 1
        m = re.match(r"\*(\d+)", text[j:])
        if m:
            count = int(m.group(1))
            j += len(m.group(0))
        out += bytes(piece) * count
        i = j
    return bytes(out)


def copy_all(paths, dest):
    for p in paths:
        if os.path.isfile(p):
            shutil.copy(p, os.path.join(dest, os.path.basename(p)))


def main():
    shared, repo, out = sys.argv[1:4]
    testdata = os.path.join(shared, "testdata")
    targets = {}

    ini_texts = []
    cases = os.path.join(shared, "ini-reference", "cases.txt")
    if os.path.isfile(cases):
        for line in open(cases, encoding="ascii", errors="replace"):
            if line.startswith("file "):
                ini_texts.append(parse_string(line[5:].rstrip("\n")))
    for p in [os.path.join(repo, "data", n) for n in ("Kestrin.ini", "camera.ini")]:
        ini_texts.append(open(p, "rb").read())
    sample = open(os.path.join(repo, "data", "sample", "patient.ini"), "rb").read()

    targets["ini_profile"] = [("case%03d" % i, t) for i, t in enumerate(ini_texts)]
    targets["interfaceba"] = [("sample", sample)] + [
        ("case%03d" % i, t) for i, t in enumerate(ini_texts[:20])
    ]
    camera = open(os.path.join(repo, "data", "camera.ini"), "rb").read()
    targets["calibration"] = [
        ("camera-96650", camera + SEPARATOR + b"96650" + SEPARATOR + b"3264" + SEPARATOR + b"47/10")
    ]
    targets["sprache"] = [
        ("lang-" + os.path.basename(os.path.dirname(p)), open(p, "rb").read())
        for p in glob.glob(os.path.join(repo, "data", "lang", "*", "TsLang.ini"))
    ]
    targets["print_page"] = [("output.html", open(os.path.join(repo, "data", "output.html"), "rb").read())]

    for name, seeds in targets.items():
        dest = os.path.join(out, name)
        os.makedirs(dest, exist_ok=True)
        for seed_name, data in seeds:
            with open(os.path.join(dest, seed_name), "wb") as f:
                f.write(data)
        copy_all(glob.glob(os.path.join(repo, "fuzz", "seeds", name, "*")), dest)

    for name in ("bmp",):
        dest = os.path.join(out, name)
        os.makedirs(dest, exist_ok=True)
        copy_all(glob.glob(os.path.join(testdata, "formats", "bmp", "*")), dest)
        copy_all(glob.glob(os.path.join(testdata, "malformed", "*.bmp")), dest)
    dest = os.path.join(out, "bitmap_data")
    os.makedirs(dest, exist_ok=True)
    with open(os.path.join(dest, "two-by-one"), "wb") as f:
        f.write(bytes([2, 0, 0, 0, 1, 0, 0, 0]) + bytes(range(8)))
    dest = os.path.join(out, "exif_reader")
    os.makedirs(dest, exist_ok=True)
    copy_all(glob.glob(os.path.join(testdata, "photos-exif", "*.jpg")), dest)
    copy_all(glob.glob(os.path.join(testdata, "malformed", "*.jpg")), dest)
    copy_all(glob.glob(os.path.join(testdata, "formats", "jpeg", "*")), dest)


if __name__ == "__main__":
    main()
