"""-ResetConfig: the question, the deletion of exactly two stores' files, and
a reset that cannot delete stopping before the launch."""

import pytest

from conftest import (CLEAR_FAILED, EXISTING_SECTIONS, EXISTING_SETTINGS, FOUR_SETTINGS_FILES,
                      FRESH_SETTINGS, HELD, IDNO, IDOK, IDYES, READ_ONLY, RESET_NOTICE,
                      RESET_QUESTION, SETTINGS, assert_dialog, assert_names_file_and_reason,
                      sections_of, with_vr_forced)


def test_reset_answered_no_touches_nothing_and_starts_nothing(case):
    case.install()
    case.write_settings(FOUR_SETTINGS_FILES)
    run = case.launch(arguments=["-ResetConfig"], answers=["no"], expect_start=False)
    assert len(run.dialogs) == 1
    assert_dialog(run.dialogs[0], RESET_QUESTION, [IDYES, IDNO])
    assert not run.started
    assert case.snapshot() == FOUR_SETTINGS_FILES


@pytest.mark.win64
def test_reset_answered_yes_deletes_both_stores_then_launches(case):
    case.install()
    others = {
        "settings_pro_Cirrovane XR_other.ini": b"[Other]\r\nKept = yes\r\n\r\n",
        "settings_pro_Cirrovane XR_other.ini.bak": b"[Other]\r\nKept = before\r\n\r\n",
        "notes.txt": b"not a settings file\n",
    }
    case.write_settings({**FOUR_SETTINGS_FILES, **others})
    run = case.launch(arguments=["-ResetConfig"], answers=["yes", "ok"])
    assert len(run.dialogs) == 2
    assert_dialog(run.dialogs[0], RESET_QUESTION, [IDYES, IDNO])
    assert_dialog(run.dialogs[1], RESET_NOTICE, [IDOK])
    assert run.report["steam_app_id"] == "487310"
    assert run.settings_seen() == FRESH_SETTINGS
    assert case.snapshot() == {SETTINGS: FRESH_SETTINGS, **others}


# The launcher's own path holds the switch too: only its arguments count, even
# when the unquoted path holds a character outside ASCII.
@pytest.mark.parametrize("folder_name", ["Cirrovane-ResetConfig", "Démo-ResetConfig"])
def test_only_the_exact_switch_in_the_arguments_asks(case, folder_name):
    folder = case.install(case.folder / folder_name)
    executable = case.windows(folder / "CirrovaneXR.exe")
    case.write_settings({SETTINGS: EXISTING_SETTINGS})
    # Nobody answers here: a question would hold the launcher until it is killed.
    case.launch(arguments=["-resetconfig", "/ResetConfig"], executable=executable, cwd=folder)
    assert sections_of(case.settings_file().read_bytes()) == with_vr_forced(EXISTING_SECTIONS)

    run = case.launch(arguments=["--fast", "x-ResetConfigs"], answers=["no"],
                      executable=executable, cwd=folder, expect_start=False)
    assert len(run.dialogs) == 1
    assert_dialog(run.dialogs[0], RESET_QUESTION, [IDYES, IDNO])
    assert not run.started


@pytest.mark.parametrize("blocking", ["held", "read-only"])
def test_reset_that_cannot_delete_names_the_file_and_starts_nothing(case, wine, blocking):
    case.install()
    paths = case.write_settings(FOUR_SETTINGS_FILES)
    if blocking == "read-only":
        case.set_read_only(paths[SETTINGS])
        run = case.launch(arguments=["-ResetConfig"], answers=["yes", "ok"], expect_start=False)
    else:
        with case.holding(paths[SETTINGS]):
            run = case.launch(arguments=["-ResetConfig"], answers=["yes", "ok"],
                              expect_start=False)
    assert len(run.dialogs) == 2
    assert_dialog(run.dialogs[0], RESET_QUESTION, [IDYES, IDNO])
    assert_names_file_and_reason(run.dialogs[1], CLEAR_FAILED,
                                 READ_ONLY if blocking == "read-only" else HELD,
                                 wine.appdata_windows + "\\Cirrovane\\" + SETTINGS)
    assert not run.started
    # The first deletion failed, so nothing after it was tried.
    assert case.snapshot() == FOUR_SETTINGS_FILES
