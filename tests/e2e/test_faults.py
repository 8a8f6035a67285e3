"""Odd file states a user's machine has: read-only, hidden, held, linked and
planted files, scanners, deep folders, launches killed part way. Nothing is
lost and the simulator always runs."""

import contextlib
import os
import signal
import time
from random import Random

import pytest

from conftest import (EXISTING_SECTIONS, EXISTING_SETTINGS, FRESH_SETTINGS, READ_ONLY, SAVE_FAILED,
                      SETTINGS,
                      assert_names_file_and_reason, is_read_only, many_settings, sections_of,
                      with_vr_forced)


@pytest.mark.parametrize("hold", ["read-only", "held open"])
def test_a_read_only_or_held_backup_stays_and_the_file_is_still_rewritten(case, hold):
    case.install()
    old_backup = b"[Loading]\r\nForceVRMode = 0\r\nFromLongAgo = 1\r\n\r\n"
    case.write_settings({SETTINGS: EXISTING_SETTINGS, SETTINGS + ".bak": old_backup})
    backup = case.settings_file(".bak")
    if hold == "read-only":
        case.set_read_only(backup)
    with case.holding(backup) if hold == "held open" else contextlib.nullcontext():
        run = case.launch()
    written = case.settings_file().read_bytes()
    assert not run.dialogs
    assert sections_of(written) == with_vr_forced(EXISTING_SECTIONS)
    assert run.settings_seen() == written
    assert backup.read_bytes() == old_backup
    assert case.leftovers() == []


def test_a_read_only_file_is_left_as_it_is_until_the_mark_is_cleared(case):
    case.install()
    settings = case.write_settings({SETTINGS: EXISTING_SETTINGS})[SETTINGS]
    case.launch()
    marked = b"[Loading]\r\nForceVRMode = 0\r\nMarkedByTheUser = 1\r\n\r\n"
    settings.write_bytes(marked)
    case.set_read_only(settings)
    run = case.launch(answers=["ok"])
    assert run.started
    assert len(run.dialogs) == 1
    assert_names_file_and_reason(run.dialogs[0], SAVE_FAILED, READ_ONLY, case.windows(settings))
    assert settings.read_bytes() == marked and is_read_only(settings)
    backup = case.settings_file(".bak")
    assert backup.read_bytes() == EXISTING_SETTINGS, "no rotation"
    assert not is_read_only(backup)

    case.attrib(settings, "-r")
    case.launch()
    assert backup.read_bytes() == marked, "with the mark cleared the backup rotates again"
    assert sections_of(settings.read_bytes()) == {
        "Loading": {"ForceVRMode": "1", "MarkedByTheUser": "1"}}
    assert case.leftovers() == []


def test_hidden_and_system_attributes_survive_a_rewrite(case):
    case.install()
    settings = case.write_settings({SETTINGS: EXISTING_SETTINGS})[SETTINGS]
    case.attrib(settings, "+h")
    assert {"H", "S"} <= case.attrib(settings, "+s")
    run = case.launch()
    assert run.settings_seen() == settings.read_bytes()
    assert sections_of(settings.read_bytes()) == with_vr_forced(EXISTING_SECTIONS)
    assert {"H", "S"} <= case.attrib(settings)
    assert case.leftovers() == []


def test_a_file_held_open_for_a_moment_is_replaced_once_it_is_let_go(case):
    case.install()
    settings = case.write_settings({SETTINGS: EXISTING_SETTINGS})[SETTINGS]
    identity = settings.stat().st_ino
    with case.holding(settings, let_go_ms=200) as saving_when_let_go:
        run = case.launch()
    assert saving_when_let_go(), "the save waited for the holder"
    assert not run.dialogs
    written = settings.read_bytes()
    assert sections_of(written) == with_vr_forced(EXISTING_SECTIONS)
    assert run.settings_seen() == written
    assert settings.stat().st_ino != identity, "replaced, not rewritten"
    assert case.settings_file(".bak").read_bytes() == EXISTING_SETTINGS
    assert case.leftovers() == []


def test_a_zeroed_file_gets_its_settings_back_from_a_good_backup(case):
    case.install()
    zeroed = bytes(4096)
    case.write_settings({SETTINGS: zeroed, SETTINGS + ".bak": EXISTING_SETTINGS})
    run = case.launch()
    written = case.settings_file().read_bytes()
    assert not run.dialogs
    assert sections_of(written) == with_vr_forced(EXISTING_SECTIONS)
    assert run.settings_seen() == written
    assert case.settings_file(".bak").read_bytes() == EXISTING_SETTINGS
    assert case.leftovers() == []


def test_a_linked_settings_file_and_backup_stay_links_and_their_targets_are_written(case):
    case.install()
    synced = case.folder / "Synced"
    synced.mkdir()
    target, backup = synced / SETTINGS, synced / "backup"
    target.write_bytes(EXISTING_SETTINGS)
    backup.write_bytes(b"older")
    case.settings_folder.mkdir(parents=True)
    case.settings_file().symlink_to(target)
    case.settings_file(".bak").symlink_to(backup)
    run = case.launch()
    assert case.settings_file().is_symlink() and case.settings_file(".bak").is_symlink()
    assert sections_of(target.read_bytes()) == with_vr_forced(EXISTING_SECTIONS)
    assert run.settings_seen() == target.read_bytes()
    assert backup.read_bytes() == EXISTING_SETTINGS
    assert sorted(os.listdir(synced)) == ["backup", SETTINGS]
    assert case.leftovers() == []


def test_links_planted_at_temporary_names_are_never_written_through(case):
    case.install()
    case.write_settings({SETTINGS: EXISTING_SETTINGS})
    victim = case.folder / "victim.txt"
    victim.write_bytes(b"must stay")
    # The old fixed names, and every name a launcher's process id could give.
    planted = [case.settings_file(".tmp"), case.settings_file(".bak.tmp")] + [
        case.settings_file(f"{suffix}.{pid}-0.tmp")
        for pid in range(0, 0x2000, 4) for suffix in ("", ".bak")]
    for n, link in enumerate(planted):
        (os.link if n % 2 else os.symlink)(victim, link)
    run = case.launch()
    written = case.settings_file().read_bytes()
    assert sections_of(written) == with_vr_forced(EXISTING_SECTIONS)
    assert run.settings_seen() == written
    assert case.settings_file(".bak").read_bytes() == EXISTING_SETTINGS
    assert victim.read_bytes() == b"must stay"
    # A hard link is a plain file: one of the temporary naming is removed as
    # a leftover, which leaves the victim's own name and content alone.
    symbolic, hard = planted[::2], planted[1::2]
    assert all(link.is_symlink() for link in symbolic)
    assert hard[0].exists() and not any(link.exists() for link in hard[1:])
    for link in symbolic + hard[:1]:
        link.unlink()
    assert case.leftovers() == []


def test_a_launch_killed_during_its_save_leaves_whole_files_and_nothing_else(case):
    case.install()
    sections, original = many_settings(40_000, 50)
    old_backup = b"[Loading]\r\nForceVRMode = 0\r\n\r\n"
    random = Random(1234)
    started = time.monotonic()
    case.write_settings({SETTINGS: original, SETTINGS + ".bak": old_backup})
    assert case.launch().started
    whole_launch = time.monotonic() - started
    for round_ in range(8):
        case.write_settings({SETTINGS: original, SETTINGS + ".bak": old_backup})
        # Killed saves leave their new files to the next launch that saves.
        earlier = set(case.leftovers())
        launcher = case.start_launcher()
        # Half the kills at any moment of a launch, half as its save begins.
        deadline = time.monotonic() + random.uniform(0, whole_launch)
        while time.monotonic() < deadline and not (round_ % 2 and set(case.leftovers()) - earlier):
            time.sleep(0.001)
        os.killpg(launcher.pid, signal.SIGKILL)
        launcher.wait(timeout=30)
        written = case.settings_file().read_bytes()
        assert written == original or sections_of(written) == with_vr_forced(sections)
        assert case.settings_file(".bak").read_bytes() in (old_backup, original)
    run = case.launch()
    assert sections_of(run.settings_seen()) == with_vr_forced(sections)
    assert case.leftovers() == []


def test_a_scanner_cannot_get_hold_of_the_new_files_and_the_save_replaces_the_file(case):
    case.install()
    # Large enough for the scanner to see the new files before their rename.
    sections, original = many_settings(40_000, 50)
    case.write_settings({SETTINGS: original})
    before = case.settings_file().stat().st_ino
    with case.scanning(hold_ms=4000) as held:
        run = case.launch()
    assert held() == 0, "a new file is shared only with readers that allow deleting it"
    assert not run.dialogs
    assert sections_of(case.settings_file().read_bytes()) == with_vr_forced(sections)
    assert case.settings_file().stat().st_ino != before, "replaced, not rewritten in place"
    assert case.settings_file(".bak").read_bytes() == original
    assert case.leftovers() == []


def test_a_settings_path_of_300_characters_is_saved_with_its_backup(case, wine):
    case.install()
    unix_folder = case.folder / "deep"
    while len(case.windows(unix_folder)) < 251:
        unix_folder /= "p" * min(60, 250 - len(case.windows(unix_folder)))
    windows_folder = case.windows(unix_folder)
    assert len(windows_folder) == 251
    unix_folder.mkdir(parents=True)
    settings = unix_folder / "Cirrovane" / SETTINGS
    assert len(windows_folder + "\\Cirrovane\\" + SETTINGS) == 300
    with wine.moved_appdata(windows_folder):
        first = case.launch()
        settings.write_bytes(EXISTING_SETTINGS)
        second = case.launch()
    assert not first.dialogs and not second.dialogs
    assert first.settings_seen() == FRESH_SETTINGS
    assert sections_of(settings.read_bytes()) == with_vr_forced(EXISTING_SECTIONS)
    assert settings.with_name(SETTINGS + ".bak").read_bytes() == EXISTING_SETTINGS
    assert sorted(p.name for p in settings.parent.iterdir()) == [SETTINGS, SETTINGS + ".bak"]
