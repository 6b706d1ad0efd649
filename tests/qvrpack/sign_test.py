#!/usr/bin/env python3
"""qvrpack --sign under Wine, checked with osslsigncode on Linux.

    sign_test.py <wine-run> <qvrpack.exe>

A certificate and key made with openssl sign the installer (PEM pair and
PKCS#12 with a password); osslsigncode verifies the signature, refuses a
tampered copy, and two signed packs with SOURCE_DATE_EPOCH are identical. A
wrong password fails with the signing exit code and leaves no installer. A
ready payload compressed with PPMd (which the installer cannot decode) is
refused with the payload exit code.
"""
import os
import shutil
import subprocess
import sys
import tempfile

wine_run, qvrpack = sys.argv[1], sys.argv[2]
failures = []


def check(cond, what):
    print(("ok    " if cond else "FAIL  ") + what, flush=True)
    if not cond:
        failures.append(what)


def win(path):
    return "Z:" + path


def pack(work, args, env=None):
    p = subprocess.run([wine_run, qvrpack] + args, cwd=work, capture_output=True, text=True, errors="replace",
                       env=dict(os.environ, WINEDEBUG="-all", **(env or {})))
    return p.returncode, p.stdout + p.stderr


def verify(cert, exe):
    p = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", exe], capture_output=True, text=True,
                       errors="replace")
    return p.returncode == 0 and "Signature verification: ok" in p.stdout, p.stdout + p.stderr


def main():
    work = tempfile.mkdtemp(prefix="qvrpack-sign-")
    try:
        os.makedirs(os.path.join(work, "files"))
        with open(os.path.join(work, "files", "notes.txt"), "w") as f:
            f.write("notes")
        with open(os.path.join(work, "install.lua"), "w") as f:
            f.write('function QVRSE_OnInstall() Lua_UnCompress7z("App.7z", global_install_path, false) end\n')
        cert, key, pfx = (os.path.join(work, n) for n in ("cert.pem", "key.pem", "cert.pfx"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "30", "-subj", "/CN=Contoso Ltd. Test Signing", "-addext",
                        "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pfx,
                        "-passout", "pass:secret"], check=True, capture_output=True)
        base = ["--install", win(os.path.join(work, "install.lua")), "--payload", win(os.path.join(work, "files"))]
        epoch = {"SOURCE_DATE_EPOCH": "1735689600"}

        out1 = os.path.join(work, "pem", "Setup.exe")
        os.makedirs(os.path.dirname(out1))
        code, text = pack(work, base + ["--sign", win(cert), "--sign-key", win(key), "--output", win(out1)], epoch)
        check(code == 0, "signed with a PEM certificate and key: exit 0 (%d: %s)" % (code, text.strip()))
        ok, text = verify(cert, out1)
        check(ok, "osslsigncode verifies the PEM-signed installer\n" + text)

        out2 = os.path.join(work, "pfx", "Setup.exe")
        os.makedirs(os.path.dirname(out2))
        code, text = pack(work, base + ["--sign", win(pfx), "--sign-password", "secret", "--output", win(out2)],
                          epoch)
        check(code == 0, "signed with a .pfx and its password: exit 0 (%d: %s)" % (code, text.strip()))
        ok, text = verify(cert, out2)
        check(ok, "osslsigncode verifies the pfx-signed installer\n" + text)
        check(open(out1, "rb").read() == open(out2, "rb").read(),
              "same inputs, same key and SOURCE_DATE_EPOCH: byte-identical signed installers")

        tampered = os.path.join(work, "tampered.exe")
        data = bytearray(open(out1, "rb").read())
        data[len(data) // 3] ^= 0x01
        open(tampered, "wb").write(data)
        ok, _ = verify(cert, tampered)
        check(not ok, "a tampered copy fails verification")

        out3 = os.path.join(work, "wrong", "Setup.exe")
        os.makedirs(os.path.dirname(out3))
        code, text = pack(work, base + ["--sign", win(pfx), "--sign-password", "wrong", "--output", win(out3)])
        check(code == 7 and "could not sign" in text, "wrong password: exit 7 with a message (%d: %s)" % (code, text.strip()))
        check(os.listdir(os.path.dirname(out3)) == [], "wrong password: no installer and no temporary file left")

        ppmd = os.path.join(work, "ppmd.7z")
        subprocess.run(["7zz", "a", "-t7z", "-m0=PPMd", "-bd", "-bso0", ppmd, "notes.txt"],
                       cwd=os.path.join(work, "files"), check=True)
        code, text = pack(work, ["--install", win(os.path.join(work, "install.lua")), "--payload", win(ppmd),
                                 "--output", win(os.path.join(work, "ppmd.exe"))])
        check(code == 5 and "uses PPMd" in text, "PPMd payload refused: exit 5 (%d: %s)" % (code, text.strip()))
        check(not os.path.exists(os.path.join(work, "ppmd.exe")), "PPMd payload: no installer written")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)


main()
