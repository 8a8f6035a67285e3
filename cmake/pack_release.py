#!/usr/bin/env python3
"""Packs the release archive and the checksum list, byte for byte the same on
every build of one commit.

    pack_release.py SOURCE_DIR ZIP NAME=FILE...

The entries come in the order given, each stamped with the time of the
source's last commit (SOURCE_DATE_EPOCH when set; a fixed date outside a git
checkout) and nothing of the machine: no owner, no permissions, no local time
zone. SHA256SUMS beside the archive lists the archive and the packed program.
"""

import hashlib
import os
import subprocess
import sys
import time
import zipfile
from pathlib import Path

# Zip's earliest representable time, 1980-01-01 00:00 UTC.
FALLBACK_EPOCH = 315532800


def source_epoch(source_dir):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        commit_time = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                                     capture_output=True, text=True, check=True).stdout.strip()
        return int(commit_time)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return FALLBACK_EPOCH


def pack(archive, entries, epoch):
    stamp = time.gmtime(max(epoch, FALLBACK_EPOCH))[:6]
    partial = archive.with_name(archive.name + ".partial")
    with zipfile.ZipFile(partial, "w") as out:
        for name, file in entries:
            info = zipfile.ZipInfo(name, stamp)
            info.create_system = 0  # MS-DOS: no Unix owner or mode
            info.compress_type = zipfile.ZIP_DEFLATED
            out.writestr(info, Path(file).read_bytes(), compresslevel=9)
    partial.replace(archive)


def write_sums(archive, files):
    lines = [f"{hashlib.sha256(f.read_bytes()).hexdigest()}  {f.name}\n" for f in files]
    (archive.parent / "SHA256SUMS").write_text("".join(lines), newline="\n")


def main(source_dir, archive, *pairs):
    archive = Path(archive)
    entries = [pair.split("=", 1) for pair in pairs]
    pack(archive, entries, source_epoch(source_dir))
    programs = [Path(file) for name, file in entries if name.lower().endswith(".exe")]
    write_sums(archive, programs + [archive])


if __name__ == "__main__":
    main(*sys.argv[1:])
