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
import struct
import subprocess
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
    # The decoder messages: a flags byte (bit 0 a decode request answered, bit 1 a small shared
    # memory), the shared memory's length, then one reply or request (see
    # fuzz/fuzz_decoder_reply.cpp and overlay/decode/decoder_protocol.cpp).
    def u32(*values):
        return b"".join(struct.pack("<I", v) for v in values)

    def reply(status, w, h, n, o=0, d=0, spacing=(0.0, 0.0), frames=0, uid=b"", source=0,
              lossy=0, patient=(b"", b"", b"")):
        texts = (uid,) + patient
        return (u32(0x31525354, status, w, h) + struct.pack("<Q", n) + u32(o)
                + struct.pack("<Q", d) + struct.pack("<dd", *spacing)
                + u32(frames, source, lossy, *(len(t) for t in texts)) + b"".join(texts))
    request_head = lambda kind, threads, length: u32(0x31515354, kind, threads, length)
    decoder = {
        "reply-picture": b"\x01" + struct.pack("<Q", 16) + reply(0, 2, 2, 16),
        "reply-picture-turned": b"\x01" + struct.pack("<Q", 16) + reply(0, 2, 2, 16, 6),
        "reply-picture-dated": b"\x01" + struct.pack("<Q", 16)
        + reply(0, 2, 2, 16, 1, 20250812140305),
        "reply-picture-dicom": b"\x01" + struct.pack("<Q", 16)
        + reply(0, 2, 2, 16, 0, 0, (0.05, 0.04), 3, b"1.2.840.10008.1", 1, 1,
                (b"M\xc3\xbcller^J\xc3\xbcrgen", b"P-4711", b"19640812")),
        "reply-picture-detector": b"\x01" + struct.pack("<Q", 16)
        + reply(0, 2, 2, 16, 0, 0, (0.0, 0.0), 1, b"", 3),
        "reply-jpeg": b"\x00" + struct.pack("<Q", 100) + reply(0, 0, 0, 50),
        "reply-too-large": b"\x01" + struct.pack("<Q", 0) + reply(2, 65536, 65536, 0),
        "reply-cannot-decode": b"\x03" + struct.pack("<Q", 0) + reply(1, 0, 0, 0),
        "request-decode": b"\x01" + struct.pack("<Q", 0) + request_head(1, 1, 5) + b"a.jpg",
        "request-encode": b"\x00" + struct.pack("<Q", 0) + request_head(2, 2, 32)
        + u32(2, 2, 6, 3780, 3780, 2, 0, 0),
    }
    dest = os.path.join(out, "decoder_reply")
    os.makedirs(dest, exist_ok=True)
    for seed_name, data in decoder.items():
        with open(os.path.join(dest, seed_name), "wb") as f:
            f.write(data)

    # DICOM files made by DCMTK's tools from the test data's BMPs: uncompressed, JPEG baseline
    # and JPEG-LS (none when the tools are missing).
    dest = os.path.join(out, "dicom")
    os.makedirs(dest, exist_ok=True)
    for bmp in sorted(glob.glob(os.path.join(testdata, "formats", "bmp", "*24*.bmp")))[:2]:
        base = os.path.join(dest, os.path.splitext(os.path.basename(bmp))[0])
        runs = [["img2dcm", "-i", "BMP", bmp, base + ".dcm"],
                ["dcmodify", "-nb", "-i", "(0028,0030)=0.05\\0.04", base + ".dcm"],
                ["dcmcjpeg", "+eb", base + ".dcm", base + "-jpeg.dcm"],
                ["dcmcjpls", base + ".dcm", base + "-jpls.dcm"]]
        for command in runs:
            try:
                subprocess.run(command, check=True, capture_output=True)
            except (OSError, subprocess.CalledProcessError):
                break
        # The JPEG with a TEM marker (0xFF01) after its APP0 segment: the toolkit's scan for the
        # bit depth never ended on it, so the import refuses it before the toolkit decodes.
        jpeg = base + "-jpeg.dcm"
        if os.path.exists(jpeg):
            with open(jpeg, "rb") as f:
                data = bytearray(f.read())
            soi = data.find(b"\xff\xd8\xff\xe0")
            if soi >= 0:
                following = soi + 4 + (data[soi + 4] << 8 | data[soi + 5])
                data[following + 1] = 0x01
                with open(base + "-jpeg-tem.dcm", "wb") as f:
                    f.write(data)

    dest = os.path.join(out, "exif_reader")
    os.makedirs(dest, exist_ok=True)
    copy_all(glob.glob(os.path.join(testdata, "photos-exif", "*.jpg")), dest)
    copy_all(glob.glob(os.path.join(testdata, "malformed", "*.jpg")), dest)
    copy_all(glob.glob(os.path.join(testdata, "formats", "jpeg", "*")), dest)


if __name__ == "__main__":
    main()
