#!/usr/bin/env python3
"""Gives a Wine prefix Chinese text: installs a CJK font into the prefix and
maps the faces Chinese Windows programs ask for onto it.

Real Chinese Windows has 微软雅黑 (Microsoft YaHei), 宋体 (SimSun), 新宋体 and
黑体, and links its dialog faces (Tahoma, Microsoft Sans Serif, MS Shell Dlg,
Segoe UI) to them for CJK characters. A fresh Wine prefix has none of them:
dialogs, message boxes and skinned windows then draw Chinese text as empty
boxes. This script

  - copies the font into <prefix>/drive_c/windows/Fonts and registers it;
  - makes each of those Chinese face names a family of its own that is the
    font (Wine's font replacements), so programs that ask for them by name,
    enumerate them or hand them to GDI+ find them;
  - links the dialog faces to the font (font links), so Latin text keeps its
    face and CJK characters come from the font.

Wine rewrites the links of some dialog faces with its own defaults when a
program runs in the prefix under another code page than before; Chinese text
stays drawn then, through the face families above (Wine's defaults for code
page 936 name SimSun and Microsoft YaHei UI, and map MS Shell Dlg to SimSun).

    wine-fonts.py --wine-run <build>/wine-run --prefix <prefix> --font <file.ttc> --family <name>
"""
import argparse
import os
import shutil
import subprocess
import sys

# Chinese faces of real Windows, in the names programs use for them.
CHINESE_FACES = [
    "微软雅黑", "Microsoft YaHei", "Microsoft YaHei UI",
    "宋体", "SimSun", "新宋体", "NSimSun",
    "黑体", "SimHei",
]
# Faces of dialogs, message boxes and controls that fall back to the CJK font.
LINKED_FACES = [
    "Tahoma", "Microsoft Sans Serif", "MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2",
    "Segoe UI", "Arial", "MS UI Gothic",
]

KEY_FONTS = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Fonts"
KEY_LINKS = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
KEY_REPLACEMENTS = r"HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements"


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_multi_string(items):
    # REG_MULTI_SZ in a version 5 file: UTF-16LE bytes, each item and the list
    # terminated by a zero character.
    data = ("\0".join(items) + "\0\0").encode("utf-16-le")
    return "hex(7):" + ",".join(f"{b:02x}" for b in data)


def registry_text(font_file, family):
    lines = ["Windows Registry Editor Version 5.00", ""]
    lines += [f"[{KEY_FONTS}]", f"{reg_string(family + ' (TrueType)')}={reg_string(font_file)}", ""]
    lines += [f"[{KEY_REPLACEMENTS}]"]
    lines += [f"{reg_string(face)}={reg_string(family)}" for face in CHINESE_FACES]
    lines += ["", f"[{KEY_LINKS}]"]
    link = f"{font_file},{family}"
    lines += [f"{reg_string(face)}={reg_multi_string([link])}" for face in LINKED_FACES]
    return "\r\n".join(lines) + "\r\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--font", required=True)
    parser.add_argument("--family", required=True)
    parser.add_argument("--stamp", help="file touched when done")
    args = parser.parse_args()

    fonts_dir = os.path.join(args.prefix, "drive_c", "windows", "Fonts")
    if not os.path.isdir(fonts_dir):
        sys.exit(f"wine-fonts: {fonts_dir} does not exist (is the prefix created?)")
    font_file = os.path.basename(args.font)
    shutil.copyfile(args.font, os.path.join(fonts_dir, font_file))

    reg = os.path.join(args.prefix, "qvr-fonts.reg")
    with open(reg, "w", encoding="utf-16", newline="") as f:
        f.write(registry_text(font_file, args.family))
    # regedit reads the file through Wine's drive Z:, the host's root.
    subprocess.run([args.wine_run, "regedit", "/S", "Z:" + os.path.abspath(reg).replace("/", "\\")], check=True)
    subprocess.run([args.wine_run, "--wait"], check=True)
    if args.stamp:
        with open(args.stamp, "w") as f:
            f.write(registry_text(font_file, args.family))


if __name__ == "__main__":
    main()
