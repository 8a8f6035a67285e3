#!/usr/bin/env python3
"""End-to-end checks of the real launcher (dist/CirrovaneXR.exe) under Wine.

    e2e.py [paths] check-executable   # the .exe's own properties; no Wine
    e2e.py [paths] start              # Xvfb, wineserver and wineboot
    e2e.py [paths] run SCENARIO       # one scenario in the running session
    e2e.py [paths] stop               # wineserver -k, then Xvfb
    e2e.py [paths] all                # start, every scenario, stop
    e2e.py [paths] measure            # how long a launch keeps the simulator suspended
    e2e.py list                       # the scenario names, one a line

ctest runs start and stop as fixtures around the scenarios (tests/e2e/
CMakeLists.txt). Every scenario works in its own folder under the prefix's
C:\\e2e\\cases, with the launcher and, as "X-Plane.exe", the stand-in
simulator (tools/stand_in_simulator.cpp), which reports what it saw at its
first instruction. The launcher's dialogs are answered by
tools/dialog_helper.cpp; tools/file_holder.cpp keeps a settings file open.
Every Wine process runs with a timeout and is killed when it overruns.

wine_session.py manages Xvfb and the prefix, launcher_case.py runs the
launcher and holds the checks, executable_check.py reads the PE image; the
scenarios themselves are below.
"""

import argparse
import contextlib
import hashlib
import os
import re
import shutil
import sys
import time
from pathlib import Path, PureWindowsPath

# The helper modules beside this file are imported from the source tree,
# which must stay free of compiled caches.
sys.dont_write_bytecode = True

from executable_check import check_executable
from launcher_case import (SETTINGS, Case, Checks, FileHolder, describe_difference,
                           describe_snapshot, is_read_only, parse_written_settings, preview,
                           snapshot)
from wine_session import CheckFailed, Session, log

WINDOW_POSITIONS = "settings_pro_Cirrovane XR_window_positions.ini"
FRESH_SETTINGS = b"[Loading]\r\nForceVRMode = 1\r\n\r\n"
STEAM_APP_ID = "487310"

UNABLE_TO_LAUNCH = ("Cirrovane was unable to launch X-Plane.\nPlease ensure that X-Plane.exe is "
                    "located in your flight simulator directory.")
RESET_QUESTION = "Are you sure that you want to clear all Cirrovane settings?"
RESET_NOTICE = "Cirrovane's settings have been cleared.  Cirrovane will now launch."
CLEAR_FAILED = "Cirrovane could not clear its settings, so X-Plane was not started.\n"
SAVE_FAILED = ("Cirrovane could not save its settings, so X-Plane was started without forcing "
               "VR mode.\n")

IDOK, IDYES, IDNO = 1, 6, 7


# --- Scenarios ---------------------------------------------------------------

SCENARIOS = {}


def scenario(function):
    SCENARIOS[function.__name__] = function
    return function


# An existing settings file as a user's simulator might have left it: a
# comment, several sections, keys with and without spaces around "=", a value
# that holds " = ", an empty section, and an LF-only line end.
EXISTING_SETTINGS = (b"# Cirrovane XR settings, written by hand\r\n"
                     b"[Loading]\r\n"
                     b"ForceVRMode = 0\r\n"
                     b"LastAircraft = Cessna 172 SP\r\n"
                     b"\r\n"
                     b"[Display]\r\n"
                     b"Width=1920\r\n"
                     b"  Height =\t1080  \n"
                     b"Formula = a = b\r\n"
                     b"# not a key = really\r\n"
                     b"[Empty]\r\n"
                     b"[Audio]\r\n"
                     b"Volume = 0.8\r\n")
EXISTING_SECTIONS = {
    "Loading": {"ForceVRMode": "0", "LastAircraft": "Cessna 172 SP"},
    "Display": {"Width": "1920", "Height": "1080", "Formula": "a = b"},
    "Empty": {},
    "Audio": {"Volume": "0.8"},
}


def with_vr_forced(sections):
    result = {name: dict(keys) for name, keys in sections.items()}
    result.setdefault("Loading", {})["ForceVRMode"] = "1"
    return result


def four_settings_files():
    """The two stores' files and backups, each with distinct content."""
    return {
        SETTINGS: b"[Loading]\r\nForceVRMode = 0\r\nLastAircraft = Baron 58\r\n\r\n",
        SETTINGS + ".bak": b"[Loading]\r\nForceVRMode = 0\r\n\r\n",
        WINDOW_POSITIONS: b"[MainWindow]\r\nLeft = 10\r\nTop = 20\r\n\r\n",
        WINDOW_POSITIONS + ".bak": b"[MainWindow]\r\nLeft = 0\r\nTop = 0\r\n\r\n",
    }


@scenario
def clean_profile_launch(case):
    """No settings yet: the simulator starts with VR forced in a fresh file."""
    case.install()
    run = case.launch()
    case.check_simulator_started(run)
    report = run.report
    case.check(report.get("steam_app_id") == STEAM_APP_ID, f"SteamAppId is {STEAM_APP_ID}",
               f"got {report.get('steam_app_id')!r}")
    # With no command line Windows gives the child just its program name.
    command_line = report["command_line"]
    first = re.match(r'\s*("[^"]*"|\S+)', command_line)
    rest = command_line[first.end():] if first else command_line
    case.check(report["argument_count"] == "1" and rest.strip() == "",
               "the simulator got no arguments", f"command line {command_line!r}")
    case.check(PureWindowsPath(report.get("argument.0", "")).name.lower() == "x-plane.exe",
               "the simulator's command line names X-Plane.exe", f"{command_line!r}")
    case.check(report["current_directory"].rstrip("\\").lower()
               == case.windows(case.folder).lower(),
               "the simulator runs in the launcher's working directory",
               f"got {report['current_directory']!r}")
    case.check_settings_seen_by_simulator(run, FRESH_SETTINGS)
    case.check_file(case.settings_file(), FRESH_SETTINGS, "the settings file is exactly "
                    "[Loading] ForceVRMode = 1 in CR LF lines")
    case.check(sorted(os.listdir(case.settings_folder)) == [SETTINGS],
               "no backup (or any other file) beside it",
               f"found {sorted(os.listdir(case.settings_folder))}")


@scenario
def existing_settings_are_kept(case):
    """Every recognised section and key survives; comments go; a backup stays."""
    case.install()
    case.write_settings({SETTINGS: EXISTING_SETTINGS})
    run = case.launch()
    case.check_simulator_started(run)
    written = case.check_settings(with_vr_forced(EXISTING_SECTIONS), "after the launch")
    case.check(written is not None and b"#" not in written, "comment lines are dropped")
    case.check_settings_seen_by_simulator(run, written)
    case.check_file(case.settings_file(".bak"), EXISTING_SETTINGS,
                    "the backup holds the previous file byte for byte")
    case.check_no_leftovers()


@scenario
def repeated_launches_rotate_backup(case):
    """Each launch first copies the file as it then is over the backup."""
    case.install()
    case.launch()
    case.check_file(case.settings_file(), FRESH_SETTINGS, "run 1 writes a fresh file")
    case.check(not case.settings_file(".bak").exists(), "run 1 leaves no backup")

    # Between launches the simulator changes its settings; each launch must
    # back up what it finds, not what it wrote last time.
    before_second = FRESH_SETTINGS + b"[Flight]\r\nAircraft = Cessna 172 SP\r\n\r\n"
    case.settings_file().write_bytes(before_second)
    run = case.launch()
    case.check_file(case.settings_file(".bak"), before_second,
                    "run 2: the backup is the file as run 2 found it")
    after_second = case.check_settings(
        {"Loading": {"ForceVRMode": "1"}, "Flight": {"Aircraft": "Cessna 172 SP"}}, "run 2")
    case.check_settings_seen_by_simulator(run, after_second)

    before_third = (b"[Loading]\r\nForceVRMode = 0\r\n\r\n"
                    b"[Flight]\r\nAircraft = Baron 58\r\nFuel = 0.5\r\n\r\n")
    case.settings_file().write_bytes(before_third)
    run = case.launch()
    case.check_file(case.settings_file(".bak"), before_third,
                    "run 3: the backup is the file as run 3 found it")
    after_third = case.check_settings(
        {"Loading": {"ForceVRMode": "1"}, "Flight": {"Aircraft": "Baron 58", "Fuel": "0.5"}},
        "run 3")
    case.check_settings_seen_by_simulator(run, after_third)
    case.check_no_leftovers()


@scenario
def missing_simulator_is_reported(case):
    """No X-Plane.exe in the working directory: a message, and no settings change."""
    case.install(simulator=False)
    case.write_settings(four_settings_files())
    before = snapshot(case.settings_folder)
    run = case.launch(answers=["ok"], expect_start=False)
    case.check_dialog_count(run, 1)
    case.check_dialog(run.dialogs[0], UNABLE_TO_LAUNCH, [IDOK], "the failure message")
    case.check_simulator_not_started(run)
    case.check(snapshot(case.settings_folder) == before, "the settings folder is unchanged",
               describe_snapshot(snapshot(case.settings_folder)))


@scenario
def simulator_beside_launcher_only(case):
    """The simulator is looked for in the working directory, not the launcher's folder."""
    beside = case.install(case.folder / "Simulator")
    elsewhere = case.folder / "Elsewhere"
    elsewhere.mkdir()
    run = case.launch(answers=["ok"], executable=case.windows(beside / "CirrovaneXR.exe"),
                      cwd=elsewhere, expect_start=False)
    case.check_dialog_count(run, 1)
    case.check_dialog(run.dialogs[0], UNABLE_TO_LAUNCH, [IDOK], "the failure message")
    case.check_simulator_not_started(run)
    case.check(not case.settings_folder.exists(), "no settings folder is created",
               describe_snapshot(snapshot(case.settings_folder)))


@scenario
def reset_declined(case):
    """-ResetConfig answered No: nothing is deleted and nothing starts."""
    case.install()
    case.write_settings(four_settings_files())
    before = snapshot(case.settings_folder)
    run = case.launch(arguments=["-ResetConfig"], answers=["no"], expect_start=False)
    case.check_dialog_count(run, 1)
    case.check_dialog(run.dialogs[0], RESET_QUESTION, [IDYES, IDNO], "the question")
    case.check_simulator_not_started(run)
    case.check(snapshot(case.settings_folder) == before, "every settings file is untouched",
               describe_snapshot(snapshot(case.settings_folder)))


@scenario
def reset_accepted(case):
    """-ResetConfig answered Yes: the two stores' files go, the rest stays, then a launch."""
    case.install()
    others = {
        "settings_pro_Cirrovane XR_other.ini": b"[Other]\r\nKept = yes\r\n\r\n",
        "settings_pro_Cirrovane XR_other.ini.bak": b"[Other]\r\nKept = before\r\n\r\n",
        "notes.txt": b"not a settings file\n",
    }
    case.write_settings({**four_settings_files(), **others})
    run = case.launch(arguments=["-ResetConfig"], answers=["yes", "ok"])
    case.check_dialog_count(run, 2)
    case.check_dialog(run.dialogs[0], RESET_QUESTION, [IDYES, IDNO], "the question")
    case.check_dialog(run.dialogs[1], RESET_NOTICE, [IDOK], "the notice")
    case.check_simulator_started(run)
    case.check(run.report.get("steam_app_id") == STEAM_APP_ID, f"SteamAppId is {STEAM_APP_ID}")
    case.check_settings_seen_by_simulator(run, FRESH_SETTINGS)
    case.check(snapshot(case.settings_folder) == {SETTINGS: FRESH_SETTINGS, **others},
               "only a fresh settings file (no backup) and the other files remain, unchanged",
               describe_snapshot(snapshot(case.settings_folder)))


@scenario
def reset_switch_matching(case):
    """The switch is found inside a longer word, and only in its exact case."""
    # The launcher's own path holds the switch too: only its arguments count.
    folder = case.install(case.folder / "Cirrovane-ResetConfig")
    case.write_settings({SETTINGS: EXISTING_SETTINGS})
    # Nobody answers here: a question would hold the launcher until it is
    # killed, which fails the run.
    run = case.launch(arguments=["-resetconfig", "/ResetConfig"],
                      executable=case.windows(folder / "CirrovaneXR.exe"), cwd=folder)
    case.check_simulator_started(run)
    case.check_settings(with_vr_forced(EXISTING_SECTIONS), "other spellings keep the settings")

    run = case.launch(arguments=["--fast", "x-ResetConfigs"], answers=["no"],
                      executable=case.windows(folder / "CirrovaneXR.exe"), cwd=folder,
                      expect_start=False)
    case.check_dialog_count(run, 1)
    case.check_dialog(run.dialogs[0], RESET_QUESTION, [IDYES, IDNO],
                      "the switch inside a longer word asks")
    case.check_simulator_not_started(run)


@scenario
def read_only_backup(case):
    """A backup that cannot be replaced stays as it was; the file is still rewritten."""
    case.install()
    old_backup = b"[Loading]\r\nForceVRMode = 0\r\nFromLongAgo = 1\r\n\r\n"
    case.write_settings({SETTINGS: EXISTING_SETTINGS, SETTINGS + ".bak": old_backup})
    case.set_read_only(case.settings_file(".bak"))
    run = case.launch()
    case.check_simulator_started(run)
    written = case.check_settings(with_vr_forced(EXISTING_SECTIONS), "after the launch")
    case.check_settings_seen_by_simulator(run, written)
    case.check_file(case.settings_file(".bak"), old_backup, "the read-only backup is untouched")
    case.check_no_leftovers()


@scenario
def read_only_settings_file(case):
    """A read-only settings file is left as it is, the user is told, and once the
    mark is cleared the backup rotates again."""
    case.install()
    settings = case.write_settings({SETTINGS: EXISTING_SETTINGS})[SETTINGS]
    case.launch()
    case.check_settings(with_vr_forced(EXISTING_SECTIONS), "the first launch")
    case.check_file(case.settings_file(".bak"), EXISTING_SETTINGS, "the first backup")

    marked = b"[Loading]\r\nForceVRMode = 0\r\nMarkedByTheUser = 1\r\n\r\n"
    settings.write_bytes(marked)
    case.set_read_only(settings)
    run = case.launch(answers=["ok"])
    case.check_simulator_started(run)
    check_save_failed(case, run, case.settings_file())
    case.check_file(settings, marked, "the read-only file is left as it was")
    case.check(is_read_only(settings), "the file stays read-only")
    case.check_file(case.settings_file(".bak"), EXISTING_SETTINGS,
                    "no rotation: the backup is as it was")
    case.check(not is_read_only(case.settings_file(".bak")), "the backup carries no read-only mark")

    case.attrib(settings, "-r")
    run = case.launch()
    case.check_simulator_started(run)
    case.check_file(case.settings_file(".bak"), marked, "with the mark cleared the backup rotates")
    case.check_settings({"Loading": {"ForceVRMode": "1", "MarkedByTheUser": "1"}}, "and VR is forced")
    case.check_no_leftovers()


@scenario
def hidden_and_system_attributes_survive(case):
    """A rewrite keeps the settings file's hidden and system attributes."""
    case.install()
    settings = case.write_settings({SETTINGS: EXISTING_SETTINGS})[SETTINGS]
    case.attrib(settings, "+h")  # One change a call: Wine's attrib takes only the last.
    before = case.attrib(settings, "+s")
    case.require("H" in before and "S" in before, "the file is hidden and system", f"{before!r}")
    run = case.launch()
    case.check_simulator_started(run)
    written = case.check_settings(with_vr_forced(EXISTING_SECTIONS), "after the launch")
    case.check_settings_seen_by_simulator(run, written)
    after = case.attrib(settings)
    case.check("H" in after and "S" in after, "the rewritten file is still hidden and system",
               f"attributes {after!r}")
    case.check_no_leftovers()


@scenario
def settings_file_link_stays(case):
    """A settings file that is a link into another folder stays a link, and the
    file it names gets the new content."""
    case.install()
    synced = case.folder / "Synced"
    synced.mkdir()
    target = synced / SETTINGS
    target.write_bytes(EXISTING_SETTINGS)
    case.settings_folder.mkdir(parents=True, exist_ok=True)
    case.settings_file().symlink_to(target)
    run = case.launch()
    case.check_simulator_started(run)
    case.check(case.settings_file().is_symlink(), "the settings file is still a link")
    written = target.read_bytes()
    case.check(parse_written_settings(written) == with_vr_forced(EXISTING_SECTIONS),
               "the linked file holds every setting with VR forced", preview(written))
    case.check_settings_seen_by_simulator(run, written)
    case.check_file(case.settings_file(".bak"), EXISTING_SETTINGS, "the backup is a plain copy")
    case.check(sorted(p.name for p in synced.iterdir()) == [SETTINGS],
               "nothing else is left beside the linked file")
    case.check_no_leftovers()


@scenario
def settings_file_held_unreadable(case):
    """A settings file another program holds without read sharing loses nothing."""
    case.install()
    old_backup = b"[Loading]\r\nForceVRMode = 0\r\nFromLongAgo = 1\r\n\r\n"
    for sharing in ("w", "none"):
        paths = case.write_settings({SETTINGS: EXISTING_SETTINGS, SETTINGS + ".bak": old_backup})
        with FileHolder(case, paths[SETTINGS], sharing=sharing):
            run = case.launch(answers=["ok"])
        case.check_simulator_started(run)
        check_save_failed(case, run, case.settings_file())
        case.check_file(case.settings_file(), EXISTING_SETTINGS,
                        f"held with sharing {sharing!r}: the file keeps its content")
        case.check_file(case.settings_file(".bak"), old_backup,
                        f"held with sharing {sharing!r}: the old backup stays")
        case.check_no_leftovers()


@scenario
def planted_links_are_not_followed(case):
    """Links planted at the names of temporary files are never written through."""
    case.install()
    case.write_settings({SETTINGS: EXISTING_SETTINGS})
    victim = case.folder / "victim.txt"
    victim.write_bytes(b"must stay")
    # The old fixed name, and every name a launcher's process id could give.
    planted = [case.settings_file(".tmp"), case.settings_file(".bak.tmp")]
    planted += [case.settings_file(f"{suffix}.{pid}-0.tmp")
                for pid in range(0, 0x2000, 4) for suffix in ("", ".bak")]
    for n, link in enumerate(planted):
        if n % 2:
            os.link(victim, link)
        else:
            os.symlink(victim, link)
    run = case.launch()
    case.check_simulator_started(run)
    written = case.check_settings(with_vr_forced(EXISTING_SECTIONS), "after the launch")
    case.check_settings_seen_by_simulator(run, written)
    case.check_file(case.settings_file(".bak"), EXISTING_SETTINGS, "the backup is a plain copy")
    case.check_file(victim, b"must stay", "the file the links point to is untouched")
    case.check(all(link.is_symlink() or link.stat().st_nlink > 1 for link in planted),
               "every planted link is still there")
    for link in planted:
        link.unlink()
    case.check_no_leftovers()


@scenario
def concurrent_launches(case):
    """2, 3 and 8 launchers started together never lose or corrupt a setting."""
    case.install()
    sections = {"Loading": {"ForceVRMode": "0"}}
    for index in range(9_000):
        sections.setdefault(f"Section{index % 30:02d}", {})[f"Key{index:05d}"] = f"value {index}"
    original = b"".join(f"[{name}]\r\n".encode()
                        + b"".join(f"{key} = {value}\r\n".encode() for key, value in keys.items())
                        + b"\r\n" for name, keys in sections.items())
    complete = ({"ForceVRMode": "0"}, {"ForceVRMode": "1"})
    for count in (2, 3, 8):
        for round_number in range(1, 4):
            what = f"{count} at once, round {round_number}"
            case.write_settings({SETTINGS: original})
            case.settings_file(".bak").unlink(missing_ok=True)
            statuses, reports = case.launch_together(count)
            case.check(statuses == [0] * count, f"{what}: every launcher exits 0", f"{statuses}")
            case.check(all(reports), f"{what}: every simulator started",
                       f"{sum(1 for r in reports if r)} of {count} reported")
            for suffix, loading in (("", complete[1:]), (".bak", complete)):
                data = case.settings_file(suffix).read_bytes()
                case.check(b"\0" not in data, f"{what}: no NUL byte in {SETTINGS}{suffix}")
                try:
                    found = parse_written_settings(data)
                except CheckFailed as error:
                    case.check(False, f"{what}: {SETTINGS}{suffix} is whole", str(error))
                    continue
                rest = {name: keys for name, keys in found.items() if name != "Loading"}
                expected_rest = {n: k for n, k in sections.items() if n != "Loading"}
                case.check(found.get("Loading") in loading and rest == expected_rest,
                           f"{what}: {SETTINGS}{suffix} holds every key",
                           describe_difference(expected_rest, rest))
            case.check_no_leftovers()
            if case.failures:
                return


@scenario
def file_in_place_of_settings_folder(case):
    """A plain file named Cirrovane: the simulator runs anyway and the user is told."""
    case.install()
    blocker = b"a file, not a folder"
    case.settings_folder.write_bytes(blocker)
    run = case.launch(answers=["ok"])
    case.check_simulator_started(run)
    case.check(run.report.get("settings_error") is not None,
               "the simulator found no settings file", f"{run.report.get('settings')!r}")
    case.check_dialog_count(run, 1)
    dialog = run.dialogs[0]
    case.check(dialog["text"].startswith(SAVE_FAILED), "the message says VR mode was not forced",
               f"got {dialog['text']!r}")
    details = dialog["text"][len(SAVE_FAILED):].split("\n")
    folder = case.session.state["appdata_windows"] + "\\Cirrovane"
    case.check(details[0].lower() == folder.lower(), "the message names the settings folder",
               f"got {details!r}")
    case.check(len(details) >= 2 and details[1].strip() != "", "and the system's reason",
               f"got {details!r}")
    case.check_dialog_frame(dialog, [IDOK], "the message")
    case.check_file(case.settings_folder, blocker, "the file named Cirrovane is untouched")


@scenario
def settings_file_held_open(case):
    """A settings file held open without delete sharing is rewritten in place."""
    case.install()
    settings = case.write_settings({SETTINGS: EXISTING_SETTINGS})[SETTINGS]
    identity = settings.stat().st_ino
    with FileHolder(case, settings):
        run = case.launch()
        case.check_simulator_started(run)
        written = case.check_settings(with_vr_forced(EXISTING_SECTIONS), "while held open")
        case.check_settings_seen_by_simulator(run, written)
    # Replacing a file that is open without delete sharing is refused, so the
    # launcher falls back to rewriting the same file.
    case.check(settings.stat().st_ino == identity, "the held file was rewritten, not replaced")
    # Whether a file open for writing can be copied depends on the system's
    # copy; either way the backup never holds anything but the old version.
    backup = case.settings_file(".bak")
    case.check(not backup.exists() or backup.read_bytes() == EXISTING_SETTINGS,
               "the backup, if any, holds the old file")
    case.check_no_leftovers()


@scenario
def large_settings_file(case):
    """A 1 MB file of 10,000 keys keeps every key."""
    case.install()
    sections = {}
    lines = [b"[Loading]\r\n", b"ForceVRMode = 0\r\n"]
    for index in range(10_000):
        section = f"Section{index % 10:02d}"
        key = f"Key{index:05d}"
        # Values hold " = " too: only the first "=" of a line splits it.
        value = (hashlib.sha256(key.encode()).hexdigest() + " = "
                 + hashlib.sha1(key.encode()).hexdigest()[:20])
        sections.setdefault(section, {})[key] = value
    for section, keys in sections.items():
        lines.append(f"[{section}]\r\n".encode())
        lines.extend(f"{key} = {value}\r\n".encode() for key, value in keys.items())
    original = b"".join(lines)  # 1,000,158 bytes
    case.write_settings({SETTINGS: original})
    sections["Loading"] = {"ForceVRMode": "0"}
    run = case.launch()
    case.check_simulator_started(run)
    written = case.check_settings(with_vr_forced(sections), "after the launch")
    case.check_settings_seen_by_simulator(run, written)
    case.check_file(case.settings_file(".bak"), original, "the backup holds the old file")


@scenario
def cjk_appdata_folder(case):
    """A roaming AppData folder named in CJK characters is found and used."""
    case.install()
    session = case.session
    folder_name = "漢字データ"
    profile = PureWindowsPath(session.state["appdata_windows"]).parent.parent
    windows_folder = str(profile / folder_name)
    unix_folder = Path(session.state["appdata_unix"]).parent.parent / folder_name
    if unix_folder.exists():
        shutil.rmtree(unix_folder)
    unix_folder.mkdir()
    session.move_appdata(windows_folder)
    try:
        run = case.launch()
    finally:
        session.restore_registry()
    case.check(session.find_appdata()[0] == session.state["appdata_windows"],
               "the shell folders are restored afterwards")
    case.check_simulator_started(run)
    case.check(run.report["appdata"] == windows_folder, "the shell names the CJK folder",
               f"got {run.report['appdata']!r}")
    case.check_settings_seen_by_simulator(run, FRESH_SETTINGS)
    case.check_file(unix_folder / "Cirrovane" / SETTINGS, FRESH_SETTINGS,
                    "the settings file landed in the CJK folder")
    case.check(not case.settings_folder.exists(), "nothing was written to the usual folder")
    shutil.rmtree(unix_folder)


@scenario
def reset_blocked_by_held_file(case):
    """A reset that cannot delete a held settings file stops before the launch."""
    check_blocked_reset(case, lambda settings: FileHolder(case, settings))


@scenario
def reset_blocked_by_read_only_file(case):
    """A reset that cannot delete a read-only settings file stops before the launch."""

    @contextlib.contextmanager
    def read_only(settings):
        case.set_read_only(settings)
        yield

    check_blocked_reset(case, read_only)


def check_save_failed(case, run, file):
    """The one message of a launch whose setting could not be saved: it names
    the file and the system's reason."""
    case.check_dialog_count(run, 1)
    dialog = run.dialogs[0]
    case.check(dialog["text"].startswith(SAVE_FAILED), "the message says VR mode was not forced",
               f"got {dialog['text']!r}")
    details = dialog["text"][len(SAVE_FAILED):].split("\n")
    expected = case.windows(file)
    case.check(details[0].lower() == expected.lower(), "the message names the file",
               f"got {details!r}, expected {expected!r}")
    case.check(len(details) >= 2 and details[1].strip() != "", "and the system's reason",
               f"got {details!r}")
    case.check_dialog_frame(dialog, [IDOK], "the message")


def check_blocked_reset(case, blocking):
    case.install()
    paths = case.write_settings(four_settings_files())
    before = snapshot(case.settings_folder)
    with blocking(paths[SETTINGS]):
        run = case.launch(arguments=["-ResetConfig"], answers=["yes", "ok"], expect_start=False)
    case.check_dialog_count(run, 2)
    case.check_dialog(run.dialogs[0], RESET_QUESTION, [IDYES, IDNO], "the question")
    dialog = run.dialogs[1]
    case.check(dialog["text"].startswith(CLEAR_FAILED), "the message says nothing was started",
               f"got {dialog['text']!r}")
    details = dialog["text"][len(CLEAR_FAILED):].split("\n")
    expected_path = case.session.state["appdata_windows"] + "\\Cirrovane\\" + SETTINGS
    case.check(details[0].lower() == expected_path.lower(), "the message names the file",
               f"got {details!r}")
    case.check(len(details) >= 2 and details[1].strip() != "", "and the system's reason",
               f"got {details!r}")
    case.check_dialog_frame(dialog, [IDOK], "the message")
    case.check_simulator_not_started(run)
    # The first deletion failed, so nothing after it was tried.
    case.check(snapshot(case.settings_folder) == before, "all four files are still there, intact",
               describe_snapshot(snapshot(case.settings_folder)))


# --- Measure -----------------------------------------------------------------


def measure(session, launches=15):
    """Prints how long the simulator stays suspended (the store's work) at 100
    and 10,000 keys: a benchmark, never a pass or fail."""
    session.load()
    case = Case(session, "measure")
    case.prepare()
    case.install()
    for keys in (100, 10_000):
        text = b"[Loading]\r\nForceVRMode = 0\r\n\r\n" + b"".join(
            (f"[Section{n // 100}]\r\n" if n % 100 == 0 else "").encode()
            + f"Key{n:05d} = value {n}\r\n".encode() for n in range(keys - 1)) + b"\r\n"
        times = []
        for _ in range(launches):
            case.write_settings({SETTINGS: text})
            run = case.launch()
            if run.report:
                times.append(int(run.report["suspended_100ns"]) / 10_000)
        times.sort()
        log(f"{keys:>6} keys: suspended for median {times[len(times) // 2]:.1f} ms, "
            f"min {times[0]:.1f} ms, max {times[-1]:.1f} ms over {len(times)} launches")
    case.clear_settings()


# --- Entry -------------------------------------------------------------------


def run_case(session, name):
    log(f"== {name}: {SCENARIOS[name].__doc__}")
    started = time.monotonic()
    session.load()
    case = Case(session, name)
    try:
        case.prepare()
        SCENARIOS[name](case)
    except CheckFailed as error:
        if not case.failures or case.failures[-1] != str(error):
            case.failures.append(str(error))
            log(f"  FAILED: {error}")
    finally:
        session.restore_registry()
    log(f"== {name}: {'PASSED' if not case.failures else 'FAILED'} in "
        f"{time.monotonic() - started:.1f} s")
    if case.failures:
        log(case.diagnostics())
        return False
    case.clear_settings()
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = Path(__file__).resolve().parent
    source = here.parent.parent
    parser.add_argument("--launcher", default=source / "dist" / "CirrovaneXR.exe")
    parser.add_argument("--tools", default=source / "build" / "windows" / "tests" / "e2e" / "tools")
    parser.add_argument("--prefix", default=source / "build" / "wine-prefix")
    parser.add_argument("--state", default=source / "build" / "e2e-session" / "session.json")
    parser.add_argument("--arch", choices=["win32", "win64"], default="win32",
                        help="the prefix's architecture (WINEARCH)")
    parser.add_argument("command", choices=["check-executable", "start", "run", "stop", "all",
                                            "list", "measure"])
    parser.add_argument("scenario", nargs="?")
    args = parser.parse_args()

    if args.command == "list":
        print("\n".join(SCENARIOS))
        return 0
    session = Session(args)
    try:
        if args.command == "check-executable":
            checks = Checks()
            log(f"== the executable {session.launcher}")
            check_executable(checks, session.launcher)
            return 1 if checks.failures else 0
        if args.command == "start":
            session.begin()
            return 0
        if args.command == "stop":
            session.end()
            return 0
        if args.command == "measure":
            session.begin()
            try:
                measure(session)
            finally:
                session.end()
            return 0
        if args.command == "run":
            if args.scenario not in SCENARIOS:
                parser.error(f"unknown scenario {args.scenario!r}; try 'list'")
            return 0 if run_case(session, args.scenario) else 1
        # all
        session.begin()
        try:
            failed = [name for name in SCENARIOS if not run_case(session, name)]
        finally:
            session.end()
        log(f"failed: {failed}" if failed else "all scenarios passed")
        return 1 if failed else 0
    except CheckFailed as error:
        log(f"FAILED: {error}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
