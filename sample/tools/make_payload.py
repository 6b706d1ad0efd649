#!/usr/bin/env python3
"""Builds the payload APP.7z of Contoso 翻译 from the product's files.

    make_payload.py --7zz 7zz --stage DIR --out APP.7z --manifest manifest.txt
                    <path in install folder>=<source file> ...

The files are laid out in DIR as they will be in the install folder, each
with a fixed modification time (the release date plus one minute per file, so
the payload is the same for the same files), packed into a 7z archive whose
solid blocks and dictionary hold at most 4 MiB (extraction memory stays
bounded), and listed
in the manifest, one file a line:

    <path with backslashes>|<size>|<modification time as FILETIME>|<CRC-32 hex>

    make_payload.py --corrupt IN OUT

writes a copy of a 7z archive with one bit of its packed data flipped.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zlib

RELEASE = 1710667800  # 2024-03-17 09:30:00 UTC
FILETIME_EPOCH = 116444736000000000  # 100 ns units between 1601 and 1970


def build(args):
    stage = args.stage
    if os.path.exists(stage):
        shutil.rmtree(stage)
    os.makedirs(stage)
    entries = []
    for i, pair in enumerate(sorted(args.files)):
        rel, _, src = pair.partition("=")
        if not rel or not src:
            sys.exit("bad file argument: " + pair)
        dst = os.path.join(stage, rel)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copyfile(src, dst)
        # Whole seconds plus a fraction in 100 ns steps, as 7z stores it.
        ns = (RELEASE + 60 * i) * 10**9 + (1234567 + 1111 * i) * 100
        os.utime(dst, ns=(ns, ns))
        with open(dst, "rb") as f:
            data = f.read()
        entries.append((rel.replace("/", "\\"), len(data), ns // 100 + FILETIME_EPOCH, zlib.crc32(data) & 0xFFFFFFFF))
    # Folders get a time too (7z records them).
    for root, dirs, _ in os.walk(stage):
        for d in dirs:
            os.utime(os.path.join(root, d), ns=(RELEASE * 10**9, RELEASE * 10**9))

    out = os.path.abspath(args.out)
    if os.path.exists(out):
        os.remove(out)
    names = sorted(os.listdir(stage))
    subprocess.run([args.sevenzip, "a", "-t7z", "-mx=7", "-md=4m", "-ms=4m", "-mtc=off", "-mta=off", "-bd", "-bso0", "-bsp0",
                    out] + names, cwd=stage, check=True)
    with open(args.manifest, "w", encoding="utf-8", newline="\n") as f:
        for rel, size, filetime, crc in entries:
            f.write("%s|%d|%d|%08x\n" % (rel, size, filetime, crc))


def corrupt(src, dst):
    with open(src, "rb") as f:
        data = bytearray(f.read())
    if data[:6] != b"7z\xbc\xaf\x27\x1c":
        sys.exit(src + " is not a 7z archive")
    next_header_offset = struct.unpack_from("<Q", data, 12)[0]
    if next_header_offset < 2:
        sys.exit(src + " has no packed data to corrupt")
    at = 32 + next_header_offset // 2
    data[at] ^= 0x10
    with open(dst, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--corrupt":
        corrupt(sys.argv[2], sys.argv[3])
        return
    p = argparse.ArgumentParser()
    p.add_argument("--7zz", dest="sevenzip", required=True)
    p.add_argument("--stage", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--manifest", required=True)
    p.add_argument("files", nargs="+")
    build(p.parse_args())


if __name__ == "__main__":
    main()
