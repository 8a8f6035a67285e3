"""A launch as the user sees it: X-Plane starts with VR forced and every
setting kept."""

import contextlib
import hashlib
import re
import shutil
import threading
from pathlib import Path, PureWindowsPath

import pytest

from conftest import (EXISTING_SECTIONS, EXISTING_SETTINGS, FRESH_SETTINGS, SETTINGS,
                      assert_unable_to_launch, many_settings, sections_of, with_vr_forced)


@pytest.mark.win64
def test_clean_profile_gets_a_fresh_file_and_the_simulator_its_environment(case):
    case.install()
    run = case.launch()
    report = run.report
    assert report["steam_app_id"] == "487310"
    # With no command line Windows gives the child just its program name.
    name, rest = re.match(r'\s*("[^"]*"|\S+)(.*)', report["command_line"]).groups()
    assert report["argument_count"] == "1" and rest.strip() == ""
    assert PureWindowsPath(report["argument.0"]).name.lower() == "x-plane.exe"
    assert report["current_directory"].rstrip("\\").lower() == case.windows(case.folder).lower()
    assert run.settings_seen() == FRESH_SETTINGS
    assert case.snapshot() == {SETTINGS: FRESH_SETTINGS}


@pytest.mark.win64
def test_existing_settings_are_kept_and_backed_up(case):
    case.install()
    case.write_settings({SETTINGS: EXISTING_SETTINGS})
    run = case.launch()
    written = case.settings_file().read_bytes()
    assert sections_of(written) == with_vr_forced(EXISTING_SECTIONS)
    assert b"#" not in written
    assert run.settings_seen() == written
    assert case.settings_file(".bak").read_bytes() == EXISTING_SETTINGS
    assert case.leftovers() == []


def test_a_launch_changes_only_the_vr_line_and_the_next_changes_no_byte(case):
    case.install()
    ordered = (b"[Display]\r\nWidth = 1920\r\nHeight = 1080\r\n\r\n[Loading]\r\nForceVRMode = 0\r\n"
               b"Aircraft = C172\r\n\r\n[Audio]\r\nVolume = 80\r\nMuted = 0\r\n\r\n"
               b"[Controls]\r\nYoke = 1\r\n\r\n[Window]\r\nLeft = 10\r\nTop = 20\r\n\r\n")
    case.write_settings({SETTINGS: ordered})
    case.launch()
    forced = case.settings_file().read_bytes()
    assert forced == ordered.replace(b"ForceVRMode = 0", b"ForceVRMode = 1")
    case.launch()
    assert case.snapshot() == {SETTINGS: forced, SETTINGS + ".bak": forced}


def test_each_launch_backs_up_the_file_as_it_found_it(case):
    case.install()
    case.launch()
    assert case.snapshot() == {SETTINGS: FRESH_SETTINGS}
    # Between launches the simulator changes its settings; each launch must
    # back up what it finds, not what it wrote last time.
    for aircraft in (b"Cessna 172 SP", b"Baron 58"):
        before = b"[Loading]\r\nForceVRMode = 0\r\n\r\n[Flight]\r\nAircraft = " + aircraft + b"\r\n\r\n"
        case.settings_file().write_bytes(before)
        run = case.launch()
        assert case.settings_file(".bak").read_bytes() == before
        written = case.settings_file().read_bytes()
        assert sections_of(written) == {"Loading": {"ForceVRMode": "1"},
                                        "Flight": {"Aircraft": aircraft.decode()}}
        assert run.settings_seen() == written


def test_simulator_is_looked_for_in_the_working_directory_only(case):
    beside = case.install(case.folder / "Simulator")
    elsewhere = case.folder / "Elsewhere"
    elsewhere.mkdir()
    run = case.launch(answers=["ok"], executable=case.windows(beside / "CirrovaneXR.exe"),
                      cwd=elsewhere, expect_start=False)
    assert not run.started
    assert len(run.dialogs) == 1
    assert_unable_to_launch(run.dialogs[0], case.windows(elsewhere))
    assert case.snapshot() is None


def test_a_large_file_keeps_all_of_its_ten_thousand_keys(case):
    case.install()
    sections = {}
    for index in range(10_000):
        key = f"Key{index:05d}"
        # Values hold " = " too: only the first "=" of a line splits it.
        sections.setdefault(f"Section{index % 10:02d}", {})[key] = (
            hashlib.sha256(key.encode()).hexdigest() + " = " + key)
    original = b"[Loading]\r\nForceVRMode = 0\r\n" + b"".join(
        f"[{name}]\r\n".encode() + b"".join(f"{k} = {v}\r\n".encode() for k, v in keys.items())
        for name, keys in sections.items())
    case.write_settings({SETTINGS: original})
    run = case.launch()
    written = case.settings_file().read_bytes()
    assert sections_of(written) == with_vr_forced(sections)
    assert run.settings_seen() == written
    assert case.settings_file(".bak").read_bytes() == original


def test_a_cjk_named_appdata_folder_is_found_and_used(case, wine):
    case.install()
    folder_name = "漢字データ"
    windows_folder = str(PureWindowsPath(wine.appdata_windows).parent.parent / folder_name)
    unix_folder = Path(wine.appdata).parent.parent / folder_name
    shutil.rmtree(unix_folder, ignore_errors=True)
    unix_folder.mkdir()
    with wine.moved_appdata(windows_folder):
        run = case.launch()
    assert wine.ask_appdata() == wine.appdata_windows, "the shell folders are restored"
    assert run.report["appdata"] == windows_folder
    assert run.settings_seen() == FRESH_SETTINGS
    assert (unix_folder / "Cirrovane" / SETTINGS).read_bytes() == FRESH_SETTINGS
    assert case.snapshot() is None, "nothing was written to the usual folder"
    shutil.rmtree(unix_folder)


@contextlib.contextmanager
def reading_in_a_loop(file, is_whole):
    """Reads the file in a tight loop meanwhile, as a simulator starting then
    would; yields the counts of reads, and of those that found it missing or
    neither the old content nor a complete new one."""
    counts, judged, stopping = {"reads": 0, "missing": 0, "partial": 0}, {}, threading.Event()

    def read():
        while not stopping.is_set():
            try:
                data = file.read_bytes()
            except FileNotFoundError:
                counts["missing"] += 1
                continue
            counts["reads"] += 1
            if data not in judged:
                judged[data] = is_whole(data)
            counts["partial"] += not judged[data]

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    try:
        yield counts
    finally:
        stopping.set()
        reader.join()


@pytest.mark.parametrize("count", [2, 3, 8, 16])
def test_launchers_started_together_lose_nothing(case, count):
    case.install()
    sections, original = many_settings(9_001, 30)

    def is_whole(data):
        try:
            return data == original or sections_of(data) == with_vr_forced(sections)
        except AssertionError:
            return False

    for _ in range(3):
        case.write_settings({SETTINGS: original})
        case.settings_file(".bak").unlink(missing_ok=True)
        with reading_in_a_loop(case.settings_file(), is_whole) as reads:
            reports = case.launch_together(count)
        print(f"{count} launchers: {reads}")
        assert (reads["missing"], reads["partial"]) == (0, 0), reads
        assert all(reports), "every simulator started"
        assert all("settings" in report for report in reports), "and could open its settings"
        # The backup holds the original or another launcher's write.
        for suffix, forced in (("", ["1"]), (".bak", ["0", "1"])):
            data = case.settings_file(suffix).read_bytes()
            assert b"\0" not in data
            found = sections_of(data)
            assert found.pop("Loading") in [{"ForceVRMode": value} for value in forced]
            assert found == {n: k for n, k in sections.items() if n != "Loading"}
        assert case.leftovers() == []
