#!/usr/bin/env python3
"""Makes the 7z archives the extraction tests read, with the host's 7zz.

usage: make_archives.py <output folder> [set]
  set "all" (default): every archive of the extraction tests;
  set "payload": payload.7z and payload_blocks.7z only (the script API tests).
The archives are rebuilt from scratch each time; file times are fixed so that
the tests can check them on disk.
"""
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import zlib

SEVENZIP = shutil.which("7zz") or shutil.which("7z")

# Fixed last-write times (seconds since 1970, UTC) checked by the tests.
T_RO = 981173106      # 2001-02-03 04:05:06
T_RW = 1275898150     # 2010-06-07 08:09:10
T_ZERO = 1104537600   # 2005-01-01 00:00:00
T_NESTED = 1577934245  # 2020-01-02 03:04:05


def run7z(cwd, *args):
    subprocess.run([SEVENZIP, *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def write(path, data, mtime=T_RW, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if mode is not None:
        os.chmod(path, mode)
    os.utime(path, (mtime, mtime))


def fake_code(rng, size):
    """Bytes that look like x86 code: plenty of CALL/JMP rel32 for the BCJ filters."""
    out = bytearray()
    while len(out) < size:
        r = rng.random()
        if r < 0.15:
            out += bytes([0xE8]) + struct.pack("<i", rng.randint(-4096, 4096))
        elif r < 0.2:
            out += bytes([0x0F, 0x85]) + struct.pack("<i", rng.randint(-512, 512))
        else:
            out += bytes(rng.choice([0x8B, 0x89, 0x55, 0x5D, 0xC3, 0x90, 0x33, 0xC0]) for _ in range(4))
    return bytes(out[:size])


def text(rng, size):
    words = ["安装", "payload", "folder", "entry", "archive", "数据", "window", "script", "0123456789"]
    s = []
    n = 0
    while n <= size:
        w = rng.choice(words)
        s.append(w)
        n += len(w.encode()) + 1
    return (" ".join(s)).encode()[:size]


def fresh(path):
    if os.path.exists(path):
        os.remove(path)


def make_methods(out, work, rng):
    src = os.path.join(work, "methods")
    write(os.path.join(src, "prog.exe"), fake_code(rng, 96 * 1024))
    write(os.path.join(src, "readme.txt"), text(rng, 20000))
    write(os.path.join(src, "sub", "lib.dll"), fake_code(rng, 40 * 1024))
    files = ["prog.exe", "readme.txt", "sub/lib.dll"]
    variants = {
        "lzma.7z": ["-m0=LZMA"],
        "lzma2.7z": ["-m0=LZMA2"],
        "bcj.7z": ["-mf=BCJ", "-m0=LZMA"],
        "bcj2.7z": ["-mf=BCJ2", "-m0=LZMA"],
        "arm.7z": ["-mf=ARM", "-m0=LZMA2"],
        "copy.7z": ["-m0=Copy"],
        "ppmd.7z": ["-m0=PPMd"],
        "encrypted.7z": ["-m0=LZMA2", "-pqvr-secret", "-mhe=off"],
        "encrypted_names.7z": ["-m0=LZMA2", "-pqvr-secret", "-mhe=on"],
    }
    for name, opts in variants.items():
        fresh(os.path.join(out, name))
        run7z(src, "a", "-t7z", "-bd", "-mmt=1", *opts, os.path.join(out, name), *files)


def make_solid(out, work, rng):
    """Many files in several folders, one solid block of incompressible data,
    so that a second decode of the block would show in the bytes read."""
    src = os.path.join(work, "solid")
    files = []
    for d in range(6):
        for f in range(12):
            rel = f"dir{d}/file{f:02d}.bin"
            write(os.path.join(src, rel), rng.randbytes(3000 + 97 * f), T_RW + d * 60 + f)
            files.append(rel)
    name = os.path.join(out, "solid.7z")
    fresh(name)
    run7z(src, "a", "-t7z", "-bd", "-mmt=1", "-ms=on", "-m0=LZMA2", name, *files)


def make_tree(out, work, rng):
    """Times, attributes, a zero-length file and nested names without
    directory entries; and an archive with directory entries."""
    src = os.path.join(work, "tree")
    write(os.path.join(src, "ro.txt"), b"read-only entry\r\n", T_RO, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    write(os.path.join(src, "rw.txt"), b"writable entry\r\n", T_RW)
    write(os.path.join(src, "zero.bin"), b"", T_ZERO)
    write(os.path.join(src, "a", "b", "c.txt"), "嵌套的文件\r\n".encode(), T_NESTED)
    name = os.path.join(out, "tree.7z")
    fresh(name)
    run7z(src, "a", "-t7z", "-bd", "-mmt=1", name, "ro.txt", "rw.txt", "zero.bin", "a/b/c.txt")

    dsrc = os.path.join(work, "dirs")
    write(os.path.join(dsrc, "top", "inner", "x.txt"), b"x", T_RW)
    os.makedirs(os.path.join(dsrc, "top", "emptydir"), exist_ok=True)
    name = os.path.join(out, "dirs.7z")
    fresh(name)
    run7z(dsrc, "a", "-t7z", "-bd", "-mmt=1", name, "top")


def make_empty(out, work):
    src = os.path.join(work, "empty")
    write(os.path.join(src, "gone.txt"), b"gone")
    name = os.path.join(out, "empty.7z")
    fresh(name)
    run7z(src, "a", "-t7z", "-bd", name, "gone.txt")
    run7z(src, "d", "-bd", name, "gone.txt")


def patch_name(data, marker, replacement):
    """Replaces an entry name fragment in an archive whose header is stored
    uncompressed, and fixes the header checksums."""
    m = marker.encode("utf-16-le")
    r = replacement.encode("utf-16-le")
    assert len(m) == len(r)
    assert data.count(m) == 1, "marker must appear once in the plain header"
    data = bytearray(data.replace(m, r))
    next_off, next_size = struct.unpack_from("<QQ", data, 12)
    start = 32 + next_off
    header = bytes(data[start:start + next_size])
    struct.pack_into("<I", data, 28, zlib.crc32(header) & 0xFFFFFFFF)
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])) & 0xFFFFFFFF)
    return bytes(data)


def make_unsafe(out, work):
    """Entries whose names would leave the output folder; a harmless entry
    comes first so that the tests can see that nothing at all is written."""
    src = os.path.join(work, "unsafe")
    marker = "zzzz"
    write(os.path.join(src, "good.txt"), b"good")
    write(os.path.join(src, marker + "evil.txt"), b"evil")
    plain = os.path.join(work, "unsafe_plain.7z")
    fresh(plain)
    run7z(src, "a", "-t7z", "-bd", "-mhc=off", plain, "good.txt", marker + "evil.txt")
    with open(plain, "rb") as f:
        data = f.read()
    cases = {
        "unsafe_dotdot.7z": "../.",         # "../.evil.txt"
        "unsafe_dotdot_bs.7z": "..\\_",     # "..\_evil.txt"
        "unsafe_deep.7z": "a/..",           # "a/..evil.txt" is fine; see below
        "unsafe_rooted.7z": "/tmp",         # "/tmpevil.txt"
        "unsafe_rooted_bs.7z": "\\\\x\\",   # "\\x\evil.txt"
        "unsafe_drive.7z": "C:/_",          # "C:/_evil.txt"
        "unsafe_drive_rel.7z": "C:__",      # "C:__evil.txt"
        "unsafe_dots.7z": ".. /",           # ".. /evil.txt"
        "unsafe_device.7z": "NUL.",         # "NUL.evil.txt", the NUL device
    }
    for name, repl in cases.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(patch_name(data, marker, repl))
    # "a/..evil.txt" stays inside: a control case that must extract.
    os.rename(os.path.join(out, "unsafe_deep.7z"), os.path.join(out, "safe_dots_in_name.7z"))
    # A ".." in the middle of the path.
    marker2 = "zzzzzzzz"
    src2 = os.path.join(work, "unsafe2")
    write(os.path.join(src2, "good.txt"), b"good")
    write(os.path.join(src2, marker2 + "evil.txt"), b"evil")
    plain2 = os.path.join(work, "unsafe_plain2.7z")
    fresh(plain2)
    run7z(src2, "a", "-t7z", "-bd", "-mhc=off", plain2, "good.txt", marker2 + "evil.txt")
    with open(plain2, "rb") as f:
        data2 = f.read()
    with open(os.path.join(out, "unsafe_middle.7z"), "wb") as f:
        f.write(patch_name(data2, marker2, "a/../../"))


def block_tree(src, rng, dirs, per_dir, size):
    """Files for archives of many solid blocks: text and incompressible data,
    empty files between them, read-only ones, distinct times; returns the
    names in the order they are given to 7zz."""
    names = []
    for d in range(dirs):
        for f in range(per_dir):
            kind = (d * per_dir + f) % 4
            rel = f"d{d}/f{f:02d}" + (".txt" if kind != 1 else ".bin")
            if kind == 3 and f % 3 == 0:
                data = b""
            elif kind == 1:
                data = rng.randbytes(size + 131 * f)
            else:
                data = text(rng, size + 257 * f)
            mode = stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH if kind == 2 else None
            write(os.path.join(src, rel), data, T_RW + d * 3600 + f * 7, mode)
            names.append(rel)
    os.makedirs(os.path.join(src, "d0", "empty"), exist_ok=True)
    names.append("d0/empty")
    return names


def flip_in_the_middle(data):
    """The archive with 16 bytes of its packed data (the part before the
    header) changed halfway through; the header and its checksums stay."""
    next_off = struct.unpack_from("<Q", data, 12)[0]
    at = 32 + next_off // 2
    out = bytearray(data)
    for k in range(16):
        out[at + k] ^= 0x55
    return bytes(out)


def make_blocks(out, work, rng):
    """Archives of many solid blocks (at most five files each) for the
    parallel extraction, one with a corrupt block, one with BCJ2 folders
    (four packed streams each)."""
    src = os.path.join(work, "blocks")
    names = block_tree(src, rng, 8, 9, 20000)
    name = os.path.join(out, "blocks.7z")
    fresh(name)
    run7z(src, "a", "-t7z", "-bd", "-mmt=1", "-m0=LZMA2", "-ms=5f", name, *names)
    with open(name, "rb") as f:
        data = f.read()
    with open(os.path.join(out, "blocks_corrupt.7z"), "wb") as f:
        f.write(flip_in_the_middle(data))

    csrc = os.path.join(work, "blocks_code")
    code = []
    for k in range(12):
        rel = f"bin/m{k:02d}.exe"
        write(os.path.join(csrc, rel), fake_code(rng, 30000 + 1000 * k), T_RO + k)
        code.append(rel)
    name = os.path.join(out, "blocks_bcj2.7z")
    fresh(name)
    run7z(csrc, "a", "-t7z", "-bd", "-mmt=1", "-mf=BCJ2", "-m0=LZMA", "-ms=2f", name, *code)


def make_stream(out, rng):
    """Solid blocks of x86-filtered code several decoded pieces long, one of
    each main coder, with a big file in the middle; the sources stay beside
    them for comparison, and a copy of the LZMA2 one is corrupt halfway
    through, inside the big file."""
    src = os.path.join(out, "stream_src")
    if os.path.exists(src):
        shutil.rmtree(src)
    sizes = [("bin/a.exe", 300000), ("bin/big.dll", 2500000), ("bin/c.exe", 200000), ("bin/d.sys", 600000)]
    for k, (rel, size) in enumerate(sizes):
        write(os.path.join(src, rel), fake_code(rng, size), T_RW + k)
    names = [rel for rel, _ in sizes]
    for coder in ("LZMA2", "LZMA"):
        name = os.path.join(out, f"stream_{coder.lower()}_x86.7z")
        fresh(name)
        run7z(src, "a", "-t7z", "-bd", "-mmt=1", "-mf=BCJ", f"-m0={coder}", "-ms=on", name, *names)
    with open(os.path.join(out, "stream_lzma2_x86.7z"), "rb") as f:
        data = f.read()
    with open(os.path.join(out, "stream_corrupt.7z"), "wb") as f:
        f.write(flip_in_the_middle(data))


def make_pieces(out, rng):
    """Streamed blocks of three files whose sizes sit on either side of the
    256 KiB pieces the installer decodes in, with a dictionary smaller than a
    block (it wraps while the block is decoded): one LZMA2 archive of text and
    random bytes, one LZMA archive of x86 code through the filter. The
    sources stay beside them for comparison."""
    src = os.path.join(out, "pieces_src")
    if os.path.exists(src):
        shutil.rmtree(src)
    piece = 256 * 1024
    sizes = [piece - 1, 1, piece, piece + 1, 2 * piece + 1, 7, piece - 3]
    plain, code = [], []
    for k, size in enumerate(sizes):
        rel = f"data/p{k}.bin"
        write(os.path.join(src, rel), rng.randbytes(size) if k % 2 else text(rng, size), T_RW + k)
        plain.append(rel)
        rel = f"bin/x{k}.dll"
        write(os.path.join(src, rel), fake_code(rng, size), T_RO + k)
        code.append(rel)
    for name, args, names in (("pieces_lzma2.7z", ["-m0=LZMA2:d=64k"], plain),
                              ("pieces_lzma_x86.7z", ["-mf=BCJ", "-m0=LZMA:d=64k"], code)):
        name = os.path.join(out, name)
        fresh(name)
        run7z(src, "a", "-t7z", "-bd", "-mmt=1", *args, "-ms=3f", name, *names)
    # One file of random bytes, a block of its own (LZMA2 stores it as it is),
    # with one byte of it changed in the archive: only its checksum tells.
    write(os.path.join(src, "one.bin"), rng.randbytes(3 * piece), T_RW)
    name = os.path.join(out, "one_stored.7z")
    fresh(name)
    run7z(src, "a", "-t7z", "-bd", "-mmt=1", "-m0=LZMA2", name, "one.bin")
    with open(name, "rb") as f:
        data = bytearray(f.read())
    data[32 + 2 * piece] ^= 0x10
    with open(os.path.join(out, "one_stored_flip.7z"), "wb") as f:
        f.write(bytes(data))
    # Two such files, a block each.
    write(os.path.join(src, "two.bin"), rng.randbytes(piece + 5), T_RO)
    name = os.path.join(out, "stored_blocks.7z")
    fresh(name)
    run7z(src, "a", "-t7z", "-bd", "-mmt=1", "-m0=LZMA2", "-ms=1f", name, "one.bin", "two.bin")


def make_payload(out, work, rng):
    src = os.path.join(work, "payload")
    write(os.path.join(src, "app.exe"), fake_code(rng, 30000), T_RW)
    write(os.path.join(src, "数据", "config.txt"), "配置=1\r\n".encode(), T_NESTED)
    write(os.path.join(src, "数据", "sub", "deep.txt"), b"deep\r\n", T_NESTED)
    name = os.path.join(out, "payload.7z")
    fresh(name)
    run7z(src, "a", "-t7z", "-bd", "-mmt=1", "-mf=BCJ", name, "app.exe", "数据/config.txt", "数据/sub/deep.txt")

    # A payload of many blocks, about 1.5 MB unpacked, for the resource read from the
    # program's file.
    bsrc = os.path.join(work, "payload_blocks")
    names = block_tree(bsrc, rng, 6, 6, 40000)
    name = os.path.join(out, "payload_blocks.7z")
    fresh(name)
    run7z(bsrc, "a", "-t7z", "-bd", "-mmt=1", "-m0=LZMA2", "-ms=4f", name, *names)


def main():
    if not SEVENZIP:
        sys.exit("7zz is not installed")
    out = os.path.abspath(sys.argv[1])
    which = sys.argv[2] if len(sys.argv) > 2 else "all"
    os.makedirs(out, exist_ok=True)
    work = os.path.join(out, ".work")
    if os.path.exists(work):
        for root, dirs, files in os.walk(work):
            for n in dirs + files:
                os.chmod(os.path.join(root, n), 0o755)
        shutil.rmtree(work)
    os.makedirs(work)
    rng = random.Random(20240607)
    if which == "payload":
        make_payload(out, work, rng)
    else:
        make_methods(out, work, rng)
        make_solid(out, work, rng)
        make_tree(out, work, rng)
        make_empty(out, work)
        make_unsafe(out, work)
        make_blocks(out, work, rng)
        make_stream(out, rng)
        make_pieces(out, rng)
    for root, dirs, files in os.walk(work):
        for n in dirs + files:
            os.chmod(os.path.join(root, n), 0o755)
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
