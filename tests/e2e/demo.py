#!/usr/bin/env python3
"""One launch of dist/CirrovaneXR.exe under Wine, told as it happens.

Uses the end-to-end tests' Wine session (its own Xvfb and prefix under
build/) and stand-in simulator; prints the settings file before and after,
and what the simulator saw when it started.
"""

import sys
from pathlib import Path

sys.dont_write_bytecode = True

from launcher_case import Case, report_bytes
from wine_session import CheckFailed, Session

SOURCE = Path(__file__).resolve().parent.parent.parent
EARLIER_SETTINGS = (b"# written by hand\r\n[Loading]\r\nForceVRMode = 0\r\n\r\n"
                    b"[Display]\r\nWidth = 1920\r\n\r\n")


class Paths:
    launcher = SOURCE / "dist" / "CirrovaneXR.exe"
    tools = SOURCE / "build" / "windows" / "tests" / "e2e" / "tools"
    prefix = SOURCE / "build" / "wine-prefix"
    state = SOURCE / "build" / "demo" / "session.json"
    arch = "win32"


def show(title, data):
    print(f"\n--- {title}")
    print(data.decode("latin-1").replace("\r\n", "\u21b5\n") if data is not None else "(absent)")


def main():
    session = Session(Paths)
    print("Starting Xvfb and Wine (the first run creates the prefix: about a minute)...")
    session.begin()
    try:
        case = Case(session, "demo")
        case.prepare()
        folder = case.install()
        case.write_settings({"settings_pro_Cirrovane XR_settings.ini": EARLIER_SETTINGS})
        print(f"\nScratch folder: {folder}")
        print("  holds CirrovaneXR.exe and a stand-in X-Plane.exe; working directory there")
        print("  (\u21b5 marks a CR LF line end below)")
        show(f"settings file before ({case.windows(case.settings_file())})", EARLIER_SETTINGS)

        run = case.launch()
        print(f"\nCirrovaneXR.exe exited with status {run.status}")
        report = run.report
        if not report:
            print("The simulator did not start.")
            return 1
        print("\nWhat X-Plane.exe (the stand-in) saw at its first instruction:")
        print(f"  command line:      {report.get('command_line')}")
        print(f"  SteamAppId:        {report.get('steam_app_id')}")
        print(f"  working directory: {report.get('current_directory')}")
        show("settings file as the simulator found it", report_bytes(report, "settings"))
        show("settings file after the launch", case.settings_file().read_bytes())
        backup = case.settings_file(".bak")
        show("backup beside it (.bak)", backup.read_bytes() if backup.exists() else None)
        return 0 if run.status == 0 else 1
    except CheckFailed as error:
        print(f"demo failed: {error}")
        return 1
    finally:
        session.end()


if __name__ == "__main__":
    sys.exit(main())
