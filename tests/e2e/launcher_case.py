"""One scenario's workplace: a folder in the prefix with the launcher and the
stand-in simulator, runs of the launcher with its dialogs answered, and the
checks that scenarios make on what it left."""

import re
import shutil
import stat
import subprocess
import time
from pathlib import Path

from wine_session import CheckFailed, Session, log, read_report

SETTINGS = "settings_pro_Cirrovane XR_settings.ini"
CAPTION = "Cirrovane XR"

LAUNCH_TIMEOUT = 60  # seconds; a launcher waiting at an unanswered box is killed then
DIALOG_TIMEOUT = 30
REPORT_TIMEOUT = 30
# A simulator that was (wrongly) started reports within a fraction of a
# second after the launcher exits; this is how long its absence is awaited.
NO_START_GRACE = 2.0


def preview(data, limit=400):
    """The bytes as Python shows them, cut after a few hundred."""
    shown = repr(data[:limit])
    return shown + (f" ... ({len(data)} bytes in all)" if len(data) > limit else "")


def report_bytes(report, key):
    """A report value holding raw bytes (the settings file), as bytes."""
    return report[key].encode("utf-8", "surrogateescape") if key in report else None


def parse_written_settings(data):
    """The sections of a file in the writer's reference form, as dicts.

    Strict: every line must end in CR LF, each section is a header, its key
    lines ("Key = Value") and one empty line, and nothing else may appear.
    Raises CheckFailed otherwise, so a format slip is a failure, not a shrug.
    """
    text = data.decode("latin-1")
    if text and not text.endswith("\r\n"):
        raise CheckFailed(f"settings file does not end in CR LF: {preview(data[-40:])}")
    lines = text.split("\r\n")[:-1] if text else []
    if any("\n" in line or "\r" in line for line in lines):
        raise CheckFailed("settings file has a line end other than CR LF")
    sections = {}
    index = 0
    while index < len(lines):
        header = re.fullmatch(r"\[(.*)\]", lines[index])
        if not header:
            raise CheckFailed(f"expected a section header, found {lines[index]!r}")
        name = header.group(1)
        if name in sections:
            raise CheckFailed(f"section [{name}] written twice")
        keys = sections[name] = {}
        index += 1
        while index < len(lines) and lines[index] != "":
            key, separator, value = lines[index].partition(" = ")
            if not separator:
                raise CheckFailed(f"expected 'Key = Value' in [{name}], found {lines[index]!r}")
            if key in keys:
                raise CheckFailed(f"key {key!r} written twice in [{name}]")
            keys[key] = value
            index += 1
        if index == len(lines):
            raise CheckFailed(f"section [{name}] is not closed by an empty line")
        index += 1
    return sections


def snapshot(folder):
    """Every file below the folder, by relative path, with its bytes."""
    if not folder.exists():
        return None
    if not folder.is_dir():
        return {".": folder.read_bytes()}
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
            if p.is_file()}


def describe_snapshot(files):
    if files is None:
        return "    (absent)"
    if not files:
        return "    (empty)"
    return "\n".join(f"    {name}: {preview(data, 160)}" for name, data in files.items())


def is_read_only(file):
    # Wine keeps the read-only attribute as the absence of the owner's write bit.
    return not (file.stat().st_mode & stat.S_IWUSR)


class Checks:
    """Checks that log as they go; check() goes on after a failure, require()
    stops the scenario."""

    def __init__(self):
        self.failures = []

    def check(self, condition, what, detail=""):
        if condition:
            log(f"  ok: {what}")
        else:
            self.failures.append(f"{what}" + (f"\n      {detail}" if detail else ""))
            log(f"  FAILED: {what}" + (f"\n      {detail}" if detail else ""))
        return condition

    def require(self, condition, what, detail=""):
        if not self.check(condition, what, detail):
            raise CheckFailed(self.failures[-1])


class Launch:
    """What one run of the launcher left: exit status, dialogs, the report."""

    def __init__(self, status, dialogs, report):
        self.status = status
        self.dialogs = dialogs
        self.report = report


class Case(Checks):
    def __init__(self, session, name):
        super().__init__()
        self.session = session
        self.name = name
        self.folder = session.root / "cases" / name
        self.appdata = Path(session.state["appdata_unix"])
        self.settings_folder = self.appdata / "Cirrovane"
        self.launches = []
        self.runs = 0

    # Set-up ----------------------------------------------------------------------

    def prepare(self):
        if self.folder.exists():
            shutil.rmtree(self.folder)
        self.folder.mkdir(parents=True)
        self.clear_settings()

    def clear_settings(self):
        target = self.settings_folder
        if target.is_dir() and not target.is_symlink():
            shutil.rmtree(target)
        elif target.exists() or target.is_symlink():
            target.unlink()

    def install(self, folder=None, simulator=True):
        """Puts the launcher (and the stand-in as X-Plane.exe) into a folder."""
        folder = folder or self.folder
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.session.launcher, folder / "CirrovaneXR.exe")
        if simulator:
            shutil.copy2(self.session.tools / "stand_in_simulator.exe", folder / "X-Plane.exe")
        return folder

    def write_settings(self, files):
        """Files of the settings folder, by name; returns their paths."""
        self.settings_folder.mkdir(parents=True, exist_ok=True)
        for name, data in files.items():
            (self.settings_folder / name).write_bytes(data)
        return {name: self.settings_folder / name for name in files}

    def settings_file(self, suffix=""):
        return self.settings_folder / (SETTINGS + suffix)

    def windows(self, unix_path):
        return self.session.windows_path(unix_path)

    def set_read_only(self, file):
        # Through Windows' own tool rather than chmod: the check is that Wine
        # turns the attribute into something that holds even for root.
        self.attrib(file, "+r")
        self.require(is_read_only(file), f"{file.name} carries the read-only attribute")

    def attrib(self, file, *changes):
        """Runs Windows' attrib on the file; returns the attribute letters it
        then shows (e.g. "HS")."""
        log_file = self.folder / "attrib.log"
        if changes:
            status = self.session.run(["cmd", "/c", "attrib", *changes, self.windows(file)],
                                      self.folder, log_file)
            self.require(status == 0, f"attrib {' '.join(changes)} {file.name}",
                         f"exited with {status}")
        listing = self.folder / "attrib-listing.txt"
        listing.unlink(missing_ok=True)
        self.session.run(["cmd", "/c", "attrib", self.windows(file)], self.folder, listing)
        shown = listing.read_bytes().decode("utf-8", "replace")
        return "".join(sorted(set(shown[:shown.find(":\\") - 1]) & set("ARHS")))

    def launch_together(self, count):
        """Starts `count` launchers at once, waits for all of them, and returns
        their exit statuses and the simulators' reports."""
        self.runs += 1
        tag = f"run{self.runs}"
        reports = [self.folder / f"{tag}-simulator-{n}.txt" for n in range(count)]
        launchers = [
            self.session.start(["CirrovaneXR.exe"], self.folder,
                               self.folder / f"{tag}-launcher-{n}.log",
                               CIRROVANE_E2E_REPORT=self.windows(report))
            for n, report in enumerate(reports)]
        statuses = [self.session.finish(launcher, LAUNCH_TIMEOUT, "a launcher")
                    for launcher in launchers]
        deadline = time.monotonic() + REPORT_TIMEOUT
        while not all(r.exists() for r in reports) and time.monotonic() < deadline:
            time.sleep(0.05)
        return statuses, [read_report(report) for report in reports]

    # Running -----------------------------------------------------------------------

    def launch(self, arguments=(), answers=(), executable=None, cwd=None, expect_start=True):
        """Runs the launcher, answers its dialogs and collects the stand-in's report.

        Waits for the report when expect_start, else gives a wrongly started
        simulator NO_START_GRACE seconds to show up.
        """
        self.runs += 1
        tag = f"run{self.runs}"
        cwd = cwd or self.folder
        executable = executable or "CirrovaneXR.exe"
        report_file = self.folder / f"{tag}-simulator.txt"
        dialog_file = self.folder / f"{tag}-dialogs.txt"
        report_file.unlink(missing_ok=True)
        helper = None
        if answers:
            helper = self.session.start(
                [self.windows(self.session.tools / "dialog_helper.exe"), self.windows(dialog_file),
                 str(DIALOG_TIMEOUT * 1000), *answers],
                self.folder, self.folder / f"{tag}-dialog-helper.log")
        launcher = self.session.start([executable, *arguments], cwd,
                                      self.folder / f"{tag}-launcher.log",
                                      CIRROVANE_E2E_REPORT=self.windows(report_file))
        try:
            status = launcher.wait(timeout=LAUNCH_TIMEOUT)
        except subprocess.TimeoutExpired:
            seen = self.peek_dialogs(helper, dialog_file)
            for process in (launcher, helper):
                if process:
                    Session.kill(process)
            raise CheckFailed(f"the launcher still ran after {LAUNCH_TIMEOUT} s and was killed; "
                              f"a dialog nobody answered? {seen}") from None
        helper_status = 0
        if helper:
            helper_status = self.session.finish(helper, DIALOG_TIMEOUT + 30, "the dialog helper")
        if expect_start:
            deadline = time.monotonic() + REPORT_TIMEOUT
            while not report_file.exists() and time.monotonic() < deadline:
                time.sleep(0.05)
        else:
            time.sleep(NO_START_GRACE)
        result = Launch(status, self.read_dialogs(dialog_file), read_report(report_file))
        self.launches.append(result)
        if helper_status != 0:
            raise CheckFailed(f"the dialog helper could not answer {list(answers)} "
                              f"(status {helper_status}): {read_report(dialog_file)}")
        self.check(status == 0, f"launcher exit status 0 (run {self.runs})", f"got {status}")
        return result

    def peek_dialogs(self, helper, dialog_file):
        """Whatever dialogs are open, for the diagnostics of a hung launcher."""
        if helper and helper.poll() is None:
            return "(the dialog helper was still waiting for its dialogs)"
        peek_file = self.folder / "peek-dialogs.txt"
        try:
            self.session.run([self.windows(self.session.tools / "dialog_helper.exe"),
                              self.windows(peek_file), "3000", "ok"],
                             self.folder, self.folder / "peek.log", timeout=30)
        except CheckFailed:
            pass
        return f"answered: {read_report(dialog_file)}; still open: {read_report(peek_file)}"

    @staticmethod
    def read_dialogs(dialog_file):
        values = read_report(dialog_file) or {}
        dialogs = []
        for n in range(1, int(values.get("requested", "0")) + 1):
            if f"text.{n}" not in values:
                break
            dialogs.append({
                "text": values[f"text.{n}"],
                "caption": values[f"caption.{n}"],
                "buttons": sorted(int(b) for b in values[f"buttons.{n}"].split(",") if b),
                "icon": values[f"icon.{n}"] == "1",
                "owner": values[f"owner.{n}"] == "1",
            })
        return dialogs

    # Checks ------------------------------------------------------------------------

    def check_dialog(self, dialog, text, buttons, what):
        self.check(dialog["text"] == text, f"{what}: text", f"got {dialog['text']!r}")
        self.check_dialog_frame(dialog, buttons, what)

    def check_dialog_frame(self, dialog, buttons, what):
        self.check(dialog["caption"] == CAPTION, f"{what}: caption {CAPTION!r}",
                   f"got {dialog['caption']!r}")
        self.check(dialog["buttons"] == sorted(buttons), f"{what}: buttons {sorted(buttons)}",
                   f"got {dialog['buttons']}")
        self.check(not dialog["icon"], f"{what}: no icon")
        self.check(not dialog["owner"], f"{what}: no owner window")

    def check_dialog_count(self, run, count):
        self.require(len(run.dialogs) == count, f"{count} dialog(s) shown",
                     f"got {run.dialogs}")

    def check_simulator_started(self, run):
        self.require(run.report is not None, "the simulator was started (its report appeared)")

    def check_simulator_not_started(self, run):
        self.check(run.report is None, "the simulator was not started", f"it reported {run.report}")

    def check_settings_seen_by_simulator(self, run, expected):
        seen = report_bytes(run.report, "settings")
        self.check(seen == expected, "the simulator found the new settings file at its start",
                   f"saw {preview(seen) if seen is not None else 'no file'}"
                   f" (error {run.report.get('settings_error')})")

    def check_file(self, file, expected, what):
        actual = file.read_bytes() if file.exists() else None
        self.check(actual == expected, what,
                   f"{file.name}: expected {preview(expected)}, found "
                   f"{preview(actual) if actual is not None else 'no file'}")

    def check_settings(self, expected_sections, what):
        file = self.settings_file()
        if not self.check(file.exists(), f"{what}: the settings file exists"):
            return None
        data = file.read_bytes()
        try:
            sections = parse_written_settings(data)
        except CheckFailed as error:
            self.check(False, f"{what}: written in the reference form", str(error))
            return data
        self.check(sections == expected_sections, f"{what}: every section and key",
                   describe_difference(expected_sections, sections))
        return data

    def check_no_leftovers(self):
        left = sorted(p.name for p in self.settings_folder.glob("*.tmp"))
        self.check(not left, "no temporary file is left behind", f"found {left}")

    def diagnostics(self):
        lines = [f"--- diagnostics for {self.name} (folder {self.folder})"]
        for n, run in enumerate(self.launches, 1):
            lines.append(f"run {n}: exit status {run.status}")
            for dialog in run.dialogs:
                lines.append(f"  dialog: {dialog}")
            if run.report is None:
                lines.append("  simulator: no report")
            else:
                shown = {k: (preview(report_bytes(run.report, k)) if k == "settings"
                             else v) for k, v in run.report.items()}
                lines.append(f"  simulator report: {shown}")
        lines.append(f"settings folder {self.settings_folder}:")
        lines.append(describe_snapshot(snapshot(self.settings_folder)))
        for log_file in sorted(self.folder.glob("*.log")):
            text = log_file.read_text(errors="replace").strip()
            if text:
                lines.append(f"{log_file.name}:\n{text[-2000:]}")
        return "\n".join(lines)


def describe_difference(expected, actual):
    lines = []
    for name in sorted(set(expected) | set(actual)):
        if name not in actual:
            lines.append(f"section [{name}] missing")
        elif name not in expected:
            lines.append(f"unexpected section [{name}] = {actual[name]}")
        elif expected[name] != actual[name]:
            e, a = expected[name], actual[name]
            missing = sorted(set(e) - set(a))
            extra = sorted(set(a) - set(e))
            changed = sorted(k for k in set(e) & set(a) if e[k] != a[k])
            lines.append(f"[{name}]: missing keys {missing[:5]}, unexpected {extra[:5]}, changed "
                         + ", ".join(f"{k}: {e[k]!r} -> {a[k]!r}" for k in changed[:5]))
    return "; ".join(lines)


class FileHolder:
    """tools/file_holder.exe keeping a file open with read and write sharing only."""

    def __init__(self, case, file, sharing="rw"):
        self.case = case
        self.file = file
        self.sharing = sharing
        self.ready = case.folder / "holder-ready.txt"
        self.stop = case.folder / "holder-stop.txt"

    def __enter__(self):
        for marker in (self.ready, self.stop):
            marker.unlink(missing_ok=True)
        case = self.case
        self.process = case.session.start(
            [case.windows(case.session.tools / "file_holder.exe"), case.windows(self.file),
             case.windows(self.ready), case.windows(self.stop), str(LAUNCH_TIMEOUT * 2000),
             self.sharing], case.folder, case.folder / "file-holder.log")
        deadline = time.monotonic() + 30
        while not self.ready.exists() and time.monotonic() < deadline:
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        state = self.ready.read_text() if self.ready.exists() else "no answer"
        if state != "ok":
            self.__exit__()
            raise CheckFailed(f"the file holder could not open {self.file.name}: {state}")
        return self

    def __exit__(self, *exception):
        self.stop.write_text("stop")
        Session.finish(self.process, 30, "the file holder")
        return False
