"""What the user is told when the simulator cannot start, or starts without
VR forced."""

import shutil
from pathlib import Path, PureWindowsPath

import pytest

from conftest import (EXISTING_SETTINGS, FOLDER_IS_A_FILE, FOUR_SETTINGS_FILES, HELD, SAVE_FAILED,
                      SETTINGS, assert_names_file_and_reason, assert_unable_to_launch)


@pytest.mark.win64
def test_missing_simulator_is_reported_and_no_setting_changes(case):
    case.install(simulator=False)
    case.write_settings(FOUR_SETTINGS_FILES)
    run = case.launch(answers=["ok"], expect_start=False)
    assert len(run.dialogs) == 1
    assert_unable_to_launch(run.dialogs[0], case.windows(case.folder))
    assert not run.started
    assert case.snapshot() == FOUR_SETTINGS_FILES


def test_a_file_where_the_settings_folder_belongs_is_named(case, wine):
    case.install()
    case.settings_folder.write_bytes(b"a file, not a folder")
    run = case.launch(answers=["ok"])
    assert "settings_error" in run.report, "the simulator found no settings file"
    assert len(run.dialogs) == 1
    assert_names_file_and_reason(run.dialogs[0], SAVE_FAILED, FOLDER_IS_A_FILE,
                                 wine.appdata_windows + "\\Cirrovane")
    assert case.snapshot() == b"a file, not a folder"


def test_the_message_shows_a_cjk_folder_name_as_it_is(case, wine):
    case.install()
    windows_folder = str(PureWindowsPath(wine.appdata_windows).parent.parent / "漢字データ")
    unix_folder = Path(wine.appdata).parent.parent / "漢字データ"
    shutil.rmtree(unix_folder, ignore_errors=True)
    unix_folder.mkdir()
    (unix_folder / "Cirrovane").write_bytes(b"a file, not a folder")
    with wine.moved_appdata(windows_folder):
        run = case.launch(answers=["ok"])
    shutil.rmtree(unix_folder)
    assert len(run.dialogs) == 1
    assert_names_file_and_reason(run.dialogs[0], SAVE_FAILED, FOLDER_IS_A_FILE,
                                 windows_folder + "\\Cirrovane")


@pytest.mark.parametrize("sharing", ["w", "none"])
def test_a_file_held_without_read_sharing_keeps_its_content_and_backup(case, sharing):
    case.install()
    old_backup = b"[Loading]\r\nForceVRMode = 0\r\nFromLongAgo = 1\r\n\r\n"
    paths = case.write_settings({SETTINGS: EXISTING_SETTINGS, SETTINGS + ".bak": old_backup})
    with case.holding(paths[SETTINGS], sharing):
        run = case.launch(answers=["ok"])
    assert run.started
    assert len(run.dialogs) == 1
    assert_names_file_and_reason(run.dialogs[0], SAVE_FAILED, HELD,
                                 case.windows(case.settings_file()))
    assert case.snapshot() == {SETTINGS: EXISTING_SETTINGS, SETTINGS + ".bak": old_backup}
