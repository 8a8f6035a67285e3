#!/usr/bin/env python3
"""How long a launch keeps the simulator suspended (the store's work), under
Wine: the stand-in simulator reports the time between its process's creation
and its first instruction. Scenarios, each over an existing file and backup:
plain (at 100 and 10,000 keys), held-backup (another program holds the backup
open with read and write sharing, no delete sharing) and slow-scanner (a
scanner holds every new temporary file for 4 s); the last two at 10,000 keys.
A benchmark: it prints figures and never passes or fails.

    scripts/with-wine32 /usr/bin/python3 bench/wine_suspension.py [launches]
        [--scenarios NAME...] [--launcher EXE] [--tools DIR] [--prefix DIR]

A copied build measured in a prefix of its own (created on first use) leaves
the build's prefix to the tests.
"""

import argparse
import contextlib
import os
import signal
import sys
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from conftest import LAUNCH_TIMEOUT, SETTINGS, SOURCE, Case, Wine, read_report  # noqa: E402

SCENARIOS = ("plain", "held-backup", "slow-scanner")


def settings_text(keys):
    return b"[Loading]\r\nForceVRMode = 0\r\n\r\n" + b"".join(
        (f"[Section{n // 100}]\r\n" if n % 100 == 0 else "").encode()
        + f"Key{n:05d} = value {n}\r\n".encode() for n in range(keys - 1)) + b"\r\n"


def beside_launch(case, scenario):
    """What runs while one launch of the scenario does."""
    if scenario == "held-backup":
        return case.holding(case.settings_file(".bak"), sharing="rw")
    if scenario == "slow-scanner":
        return case.scanning(hold_ms=4000)
    return contextlib.nullcontext()


@contextlib.contextmanager
def boxes_answered(case):
    """Presses OK on a box the launcher may show (a save that failed), so that
    the launch ends and is measured; yields a function telling whether it did.
    Runs in every scenario, so that each launch shares the machine alike."""
    output = case.folder / "boxes.txt"
    output.unlink(missing_ok=True)
    helper = case.wine.start([case.windows(case.wine.tools / "dialog_helper.exe"),
                              case.windows(output), str(LAUNCH_TIMEOUT * 1000), "ok"],
                             case.folder, case.folder / "boxes.log")
    try:
        yield lambda: "text.1" in (read_report(output) or {})
    finally:
        if helper.poll() is None:  # no box came: it waits still
            os.killpg(helper.pid, signal.SIGKILL)
        helper.wait(timeout=30)


def measure(case, scenario, keys, launches):
    times, boxes, leaving = [], 0, 0
    text = settings_text(keys)
    for _ in range(launches):
        case.clear_settings()
        case.write_settings({SETTINGS: text, SETTINGS + ".bak": text})
        with beside_launch(case, scenario), boxes_answered(case) as box_shown:
            times.append(int(case.launch().report["suspended_100ns"]) / 10_000)
        # Read once the scanner or holder has ended: what the launch itself left.
        boxes += box_shown()
        leaving += bool(case.leftovers())
    times.sort()
    print(f"{scenario:<12} {keys:>6} keys: suspended for median {times[len(times) // 2]:.1f} ms, "
          f"min {times[0]:.1f} ms, max {times[-1]:.1f} ms over {len(times)} launches; "
          f"{boxes} showed a box, {leaving} left temporary files", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("launches", nargs="?", type=int, default=15)
    parser.add_argument("--scenarios", nargs="+", choices=SCENARIOS, default=list(SCENARIOS))
    parser.add_argument("--launcher", default=SOURCE / "dist" / "CirrovaneXR.exe")
    parser.add_argument("--tools", default=SOURCE / "build" / "windows" / "tests" / "e2e" / "tools")
    parser.add_argument("--prefix", default=SOURCE / "build" / "wine-prefix")
    args = parser.parse_args()
    wine = Wine(args.launcher, args.tools, args.prefix, "win32")
    wine.begin()
    try:
        case = Case(wine, "suspension")
        case.install()
        for scenario in args.scenarios:
            for keys in (100, 10_000) if scenario == "plain" else (10_000,):
                measure(case, scenario, keys, args.launches)
        case.clear_settings()
    finally:
        wine.end()


if __name__ == "__main__":
    main()
