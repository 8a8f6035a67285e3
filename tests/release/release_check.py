#!/usr/bin/env python3
"""Checks of the release as packagers get it, each from fresh clones of the
current commit (uncommitted changes are not part of a release, so they are
not tested here):

    release_check.py SOURCE WORK reproducible   # two clones, two builds, same bytes
    release_check.py SOURCE WORK sign           # scripts/sign in the first clone

The Boost source package already fetched into SOURCE is copied into each
clone without its completion mark, so that apt checks every file against the
package's checksums instead of downloading it again.
"""

import hashlib
import os
import shutil
import subprocess
import sys
from pathlib import Path

RELEASE_FILES = ("CirrovaneXR.exe", "CirrovaneXR-{version}-win32.zip", "SHA256SUMS")
# Different names and depths, so that no path of the checkout can hide in
# both builds alike.
CLONES = ("one", "second-clone/at-another-depth")
PASSWORD = "throwaway-test-password"


def log(text):
    print(text, flush=True)


def run(command, **options):
    log("$ " + " ".join(str(part) for part in command))
    subprocess.run(command, check=True, **options)


def clone(source, target):
    commit = subprocess.run(["git", "-C", source, "rev-parse", "HEAD"], capture_output=True,
                            text=True, check=True).stdout.strip()
    if subprocess.run(["git", "-C", source, "status", "--porcelain", "--untracked-files=no"],
                      capture_output=True, text=True, check=True).stdout:
        log(f"note: {source} has uncommitted changes; this checks commit {commit} only")
    if target.exists():
        shutil.rmtree(target)
    target.parent.mkdir(parents=True, exist_ok=True)
    run(["git", "clone", "--quiet", "--no-checkout", source, target])
    run(["git", "-C", target, "checkout", "--quiet", "--detach", commit])
    download = Path(source) / "build" / "boost-download"
    if download.is_dir():
        shutil.copytree(download, target / "build" / "boost-download",
                        ignore=shutil.ignore_patterns("complete"))


def release_files(clone_dir):
    dist = clone_dir / "dist"
    archives = sorted(dist.glob("CirrovaneXR-*-win32.zip"))
    if len(archives) != 1:
        raise SystemExit(f"FAILED: expected one release archive in {dist}, found {archives}")
    return [dist / "CirrovaneXR.exe", archives[0], dist / "SHA256SUMS"]


def check_sums(clone_dir):
    exe, archive, sums = release_files(clone_dir)
    expected = "".join(f"{hashlib.sha256(f.read_bytes()).hexdigest()}  {f.name}\n"
                       for f in (exe, archive))
    if sums.read_text() != expected:
        raise SystemExit(f"FAILED: {sums} does not list the program and archive as they are:\n"
                         f"{sums.read_text()}expected:\n{expected}")
    log(f"ok: {sums} lists the program and the archive")


def reproducible(source, work):
    clones = [work / name for name in CLONES]
    for clone_dir in clones:
        clone(source, clone_dir)
        run([clone_dir / "scripts" / "build"], stdout=subprocess.DEVNULL)
        check_sums(clone_dir)
    different = [a.name for a, b in zip(*map(release_files, clones))
                 if a.read_bytes() != b.read_bytes()]
    if different:
        raise SystemExit(f"FAILED: the two builds differ in {different}")
    log(f"ok: both builds give the same {[f.name for f in release_files(clones[0])]}")


def make_certificate(folder):
    """A throwaway self-signed code-signing certificate and its key, as .pfx."""
    folder.mkdir(parents=True, exist_ok=True)
    key, certificate, bundle = (folder / n for n in ("key.pem", "certificate.pem", "test.pfx"))
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
         "-subj", "/CN=Cirrovane XR test signer", "-keyout", key, "-out", certificate,
         "-addext", "keyUsage=critical,digitalSignature",
         "-addext", "extendedKeyUsage=codeSigning"], stderr=subprocess.DEVNULL)
    run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", certificate, "-out", bundle,
         "-passout", f"pass:{PASSWORD}"])
    return certificate, bundle


def sign(source, work):
    clone_dir = work / CLONES[0]
    unsigned = release_files(clone_dir)[0].read_bytes()
    certificate, bundle = make_certificate(work / "certificate")
    env = dict(os.environ, CIRROVANE_SIGN_PASSWORD=PASSWORD)
    env.pop("CIRROVANE_TIMESTAMP_URL", None)
    run([clone_dir / "scripts" / "sign", bundle], env=env, stdout=subprocess.DEVNULL)
    exe = release_files(clone_dir)[0]
    if exe.read_bytes() == unsigned:
        raise SystemExit(f"FAILED: {exe} is unchanged after signing")
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", exe],
                              capture_output=True, text=True)
    log(verified.stdout + verified.stderr)
    if verified.returncode != 0 or "Signature verification: ok" not in verified.stdout:
        raise SystemExit(f"FAILED: the signature of {exe} does not verify against the "
                         "test certificate")
    log("ok: the signature verifies against the test certificate")
    check_sums(clone_dir)


if __name__ == "__main__":
    source_dir, work_dir, command = sys.argv[1:]
    {"reproducible": reproducible, "sign": sign}[command](source_dir, Path(work_dir).resolve())
