#!/usr/bin/env python3
"""One launch of dist/CirrovaneXR.exe under Wine, told as it happens.

Uses the end-to-end suite's Wine session (its own Xvfb and prefix under
build/) and stand-in simulator; prints the settings file before and after,
and what the simulator saw when it started. Run it through
scripts/with-wine32, as scripts/demo does.
"""

import sys

sys.dont_write_bytecode = True

from conftest import SETTINGS, SOURCE, Case, Wine  # noqa: E402

EARLIER_SETTINGS = (b"# written by hand\r\n[Loading]\r\nForceVRMode = 0\r\n\r\n"
                    b"[Display]\r\nWidth = 1920\r\n\r\n")


def show(title, data):
    print(f"\n--- {title}")
    print(data.decode("latin-1").replace("\r\n", "\u21b5\n") if data is not None else "(absent)")


def main():
    wine = Wine(SOURCE / "dist" / "CirrovaneXR.exe",
                SOURCE / "build" / "windows" / "tests" / "e2e" / "tools",
                SOURCE / "build" / "wine-prefix", "win32")
    print("Starting Xvfb and Wine (the first run creates the prefix: about a minute)...")
    wine.begin()
    try:
        case = Case(wine, "demo")
        folder = case.install()
        case.write_settings({SETTINGS: EARLIER_SETTINGS})
        print(f"\nScratch folder: {folder}")
        print("  holds CirrovaneXR.exe and a stand-in X-Plane.exe; working directory there")
        print("  (\u21b5 marks a CR LF line end below)")
        show(f"settings file before ({case.windows(case.settings_file())})", EARLIER_SETTINGS)
        run = case.launch()
        print(f"\nCirrovaneXR.exe exited with status {run.status}")
        report = run.report
        print("\nWhat X-Plane.exe (the stand-in) saw at its first instruction:")
        print(f"  command line:      {report.get('command_line')}")
        print(f"  SteamAppId:        {report.get('steam_app_id')}")
        print(f"  working directory: {report.get('current_directory')}")
        show("settings file as the simulator found it", run.settings_seen())
        show("settings file after the launch", case.settings_file().read_bytes())
        backup = case.settings_file(".bak")
        show("backup beside it (.bak)", backup.read_bytes() if backup.exists() else None)
        return 0
    except Exception as error:  # noqa: BLE001 - the demo tells, never traces
        print(f"demo failed: {error}")
        return 1
    finally:
        wine.end()


if __name__ == "__main__":
    sys.exit(main())
