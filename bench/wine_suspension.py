#!/usr/bin/env python3
"""How long a launch keeps the simulator suspended (the store's work), under
Wine, at 100 and 10,000 keys: the stand-in simulator reports the time between
its process's creation and its first instruction. A benchmark: it prints
figures and never passes or fails.

    scripts/with-wine32 /usr/bin/python3 bench/wine_suspension.py [launches] [--launcher EXE]
"""

import argparse
import sys
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from conftest import SETTINGS, SOURCE, Case, Wine  # noqa: E402


def settings_text(keys):
    return b"[Loading]\r\nForceVRMode = 0\r\n\r\n" + b"".join(
        (f"[Section{n // 100}]\r\n" if n % 100 == 0 else "").encode()
        + f"Key{n:05d} = value {n}\r\n".encode() for n in range(keys - 1)) + b"\r\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("launches", nargs="?", type=int, default=15)
    parser.add_argument("--launcher", default=SOURCE / "dist" / "CirrovaneXR.exe")
    args = parser.parse_args()
    wine = Wine(args.launcher, SOURCE / "build" / "windows" / "tests" / "e2e" / "tools",
                SOURCE / "build" / "wine-prefix", "win32")
    wine.begin()
    try:
        case = Case(wine, "suspension")
        case.install()
        for keys in (100, 10_000):
            times = []
            for _ in range(args.launches):
                case.write_settings({SETTINGS: settings_text(keys)})
                times.append(int(case.launch().report["suspended_100ns"]) / 10_000)
            times.sort()
            print(f"{keys:>6} keys: suspended for median {times[len(times) // 2]:.1f} ms, "
                  f"min {times[0]:.1f} ms, max {times[-1]:.1f} ms over {len(times)} launches")
        case.clear_settings()
    finally:
        wine.end()


if __name__ == "__main__":
    main()
