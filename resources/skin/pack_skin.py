#!/usr/bin/env python3
"""Packs the installer skin into one ZIP file, byte for byte the same on every
build: entries in the order given, a fixed time stamp (1980-01-01 00:00),
FAT host with the archive attribute, PNG files stored (they are compressed
already), everything else deflated at level 9.

    pack_skin.py --out skin.zip ENTRY=FILE...
"""
import argparse
import os
import sys
import zipfile

FIXED_TIME = (1980, 1, 1, 0, 0, 0)
ARCHIVE_ATTRIBUTE = 0x20


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("entries", nargs="+", metavar="ENTRY=FILE")
    args = parser.parse_args()

    seen = set()
    with zipfile.ZipFile(args.out + ".tmp", "w") as package:
        for pair in args.entries:
            name, sep, path = pair.partition("=")
            if not sep or not name or not path:
                sys.exit(f"pack_skin: expected ENTRY=FILE, got {pair!r}")
            if name.lower() in seen:
                sys.exit(f"pack_skin: entry {name!r} given twice")
            seen.add(name.lower())
            with open(path, "rb") as f:
                data = f.read()
            if not data:
                sys.exit(f"pack_skin: {path} is empty (the engine treats empty entries as missing)")
            info = zipfile.ZipInfo(name, date_time=FIXED_TIME)
            info.create_system = 0
            info.external_attr = ARCHIVE_ATTRIBUTE
            if name.lower().endswith(".png"):
                info.compress_type = zipfile.ZIP_STORED
                package.writestr(info, data)
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                package.writestr(info, data, compresslevel=9)
    os.replace(args.out + ".tmp", args.out)


if __name__ == "__main__":
    main()
