"""The end-to-end suite's fixtures: the real launcher under Wine.

`wine` (one per run) starts Xvfb, creates or reuses the prefix under the build
folder, installs the stand-in tools and undoes its registry changes at the
end. `case` (one per test) gives a scratch folder with the launcher and, as
"X-Plane.exe", the stand-in simulator (tools/stand_in_simulator.cpp), which
reports what it saw at its first instruction; the dialogs are answered by
tools/dialog_helper.cpp and tools/file_holder.cpp keeps a file open. Every
Wine process has a timeout and is killed when it overruns.
"""

import contextlib
import json
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path, PureWindowsPath

import pytest

SOURCE = Path(__file__).resolve().parents[2]
SETTINGS = "settings_pro_Cirrovane XR_settings.ini"
WINDOW_POSITIONS = "settings_pro_Cirrovane XR_window_positions.ini"
CAPTION = "Cirrovane XR"
FRESH_SETTINGS = b"[Loading]\r\nForceVRMode = 1\r\n\r\n"
UNABLE_TO_LAUNCH = ("Cirrovane was unable to launch X-Plane.\nPlease ensure that X-Plane.exe is "
                    "located in your flight simulator directory.")
RESET_QUESTION = "Are you sure that you want to clear all Cirrovane settings?"
RESET_NOTICE = "Cirrovane's settings have been cleared.  Cirrovane will now launch."
CLEAR_FAILED = "Cirrovane could not clear its settings, so X-Plane was not started.\n"
SAVE_FAILED = ("Cirrovane could not save its settings, so X-Plane was started without forcing "
               "VR mode.\n")
FOLDER_IS_A_FILE = "A file named Cirrovane stands where the settings folder belongs"
HELD = "A program keeps it open: close that program"
READ_ONLY = "The file is marked read-only"
IDOK, IDYES, IDNO = 1, 6, 7
MB_TOPMOST = 0x40000

# An existing settings file as a user's simulator might have left it: a
# comment, several sections, keys with and without spaces around "=", a value
# that holds " = ", an empty section, and an LF-only line end.
EXISTING_SETTINGS = (b"# Cirrovane XR settings, written by hand\r\n"
                     b"[Loading]\r\nForceVRMode = 0\r\nLastAircraft = Cessna 172 SP\r\n\r\n"
                     b"[Display]\r\nWidth=1920\r\n  Height =\t1080  \nFormula = a = b\r\n"
                     b"# not a key = really\r\n[Empty]\r\n[Audio]\r\nVolume = 0.8\r\n")
EXISTING_SECTIONS = {
    "Loading": {"ForceVRMode": "0", "LastAircraft": "Cessna 172 SP"},
    "Display": {"Width": "1920", "Height": "1080", "Formula": "a = b"},
    "Empty": {},
    "Audio": {"Volume": "0.8"},
}
# The two stores' files and backups, each with distinct content.
FOUR_SETTINGS_FILES = {
    SETTINGS: b"[Loading]\r\nForceVRMode = 0\r\nLastAircraft = Baron 58\r\n\r\n",
    SETTINGS + ".bak": b"[Loading]\r\nForceVRMode = 0\r\n\r\n",
    WINDOW_POSITIONS: b"[MainWindow]\r\nLeft = 10\r\nTop = 20\r\n\r\n",
    WINDOW_POSITIONS + ".bak": b"[MainWindow]\r\nLeft = 0\r\nTop = 0\r\n\r\n",
}

SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer"
LAUNCH_TIMEOUT = 60  # seconds; a launcher waiting at an unanswered box is killed then
DIALOG_TIMEOUT = 30
# A simulator that was (wrongly) started reports within a fraction of a
# second after the launcher exits; this is how long its absence is awaited.
NO_START_GRACE = 2.0


def pytest_addoption(parser):
    parser.addoption("--launcher", default=str(SOURCE / "dist" / "CirrovaneXR.exe"))
    parser.addoption("--tools", default=str(SOURCE / "build" / "windows" / "tests" / "e2e" / "tools"))
    parser.addoption("--prefix", default=str(SOURCE / "build" / "wine-prefix"))
    parser.addoption("--arch", choices=["win32", "win64"], default="win32",
                     help="the prefix's architecture; win64 runs a 32-bit launcher under WoW64")
    parser.addoption("--wine", default="wine",
                     help="Wine's loader: Debian's 'wine' prefers the 32-bit one; "
                          "/usr/lib/wine/wine64 starts no 32-bit code")


def pytest_configure(config):
    config.addinivalue_line("markers", "win64: also run in the 64-bit prefix")


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    setattr(item, "outcome_" + call.when, outcome.get_result())


def read_report(file):
    """A tool's report (key=HEX lines) as a dict of str; None when absent."""
    if not file.exists():
        return None
    values = {}
    for line in file.read_text(encoding="ascii").splitlines():
        key, _, value = line.partition("=")
        # surrogateescape keeps the raw bytes of a settings file that is not UTF-8.
        values[key] = bytes.fromhex(value).decode("utf-8", "surrogateescape")
    return values


def sections_of(data):
    """The sections of a file in the writer's reference form; asserts the form
    (CR LF lines, "Key = Value", an empty line closing each section)."""
    assert data == b"" or data.endswith(b"\r\n\r\n"), f"not closed by an empty line: {data[-40:]}"
    sections = {}
    for block in data.decode("latin-1").split("\r\n\r\n")[:-1]:
        header, *lines = block.split("\r\n")
        assert re.fullmatch(r"\[[^\r\n]*\]", header), f"not a section header: {header!r}"
        assert header[1:-1] not in sections, f"section {header} written twice"
        pairs = [line.partition(" = ") for line in lines]
        assert all(sep and "\n" not in line for line, (_, sep, _) in zip(lines, pairs)), lines
        sections[header[1:-1]] = {key: value for key, _, value in pairs}
        assert len(sections[header[1:-1]]) == len(lines), f"a key written twice in {header}"
    return sections


def many_settings(keys, section_count):
    """A profile's worth of settings: `keys` keys over that many sections,
    ForceVRMode = 0 among them; its sections and the file in the writer's form."""
    sections = {"Loading": {"ForceVRMode": "0"}}
    for index in range(keys - 1):
        sections.setdefault(f"Section{index % section_count:02d}", {})[
            f"Key{index:05d}"] = f"value {index}"
    data = b"".join(f"[{name}]\r\n".encode() + b"".join(
        f"{key} = {value}\r\n".encode() for key, value in keys.items()) + b"\r\n"
        for name, keys in sections.items())
    return sections, data


def with_vr_forced(sections):
    result = {name: dict(keys) for name, keys in sections.items()}
    result.setdefault("Loading", {})["ForceVRMode"] = "1"
    return result


def is_read_only(file):
    # Wine keeps the read-only attribute as the absence of the owner's write bit.
    return not file.stat().st_mode & 0o200


class Wine:
    """Xvfb, the prefix and its persistent wineserver, and programs run there."""

    def __init__(self, launcher, tools, prefix, arch, loader="wine"):
        self.launcher, self.tool_sources = Path(launcher).resolve(), Path(tools).resolve()
        self.prefix, self.arch, self.loader = Path(prefix).resolve(), arch, loader
        self.drive_c = self.prefix / "drive_c"
        self.root = self.drive_c / "e2e"
        self.tools = self.root / "tools"
        self.logs = self.prefix.parent / f"{self.prefix.name}-logs"
        self.registry_saved = self.prefix / "e2e-shell-folders.json"
        self.display = self.xvfb = None

    def env(self, **extra):
        env = {key: value for key, value in os.environ.items() if key != "SteamAppId"}
        # Wine's own errors stay in each log; no offer to install Mono and Gecko;
        # no crash debugger, which would wait at its dialog for nobody; UTF-8 file
        # names whatever the locale.
        env.update(WINEPREFIX=str(self.prefix), WINEARCH=self.arch, WINEDEBUG="-all,err+all",
                   WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d", LC_ALL="C.UTF-8")
        env.update(extra)
        if self.display:
            env["DISPLAY"] = self.display
        return env

    def start(self, command, cwd, log_file, **extra_env):
        """Starts a Wine program, its output going to log_file (never a pipe)."""
        with open(log_file, "ab") as out:
            return subprocess.Popen([self.loader, *command], cwd=cwd, env=self.env(**extra_env),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                    start_new_session=True)

    @staticmethod
    def finish(process, timeout, what):
        """The exit status; a process still running after timeout is killed."""
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=30)
            pytest.fail(f"{what} still ran after {timeout} s and was killed")

    def run(self, command, cwd, log_file, timeout=60, **extra_env):
        return self.finish(self.start(command, cwd, log_file, **extra_env), timeout, command[0])

    def windows_path(self, unix_path):
        relative = Path(unix_path).resolve().relative_to(self.drive_c.resolve())
        return str(PureWindowsPath("C:\\", *relative.parts))

    def begin(self):
        self.logs.mkdir(parents=True, exist_ok=True)
        # A wineserver left from an earlier run would talk to a display that is gone.
        subprocess.run(["wineserver", "-k"], env=self.env(), capture_output=True, timeout=60)
        read, write = os.pipe()
        with open(self.logs / "xvfb.log", "ab") as log:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten",
                 "tcp"], pass_fds=[write], stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
        os.close(write)
        with os.fdopen(read) as display:
            self.display = ":" + display.readline().strip()
        if not (self.prefix / "system.reg").exists():
            # Right after its creation Wine keeps restarting its services for a
            # while; a prefix is made ready before the session proper starts.
            assert self.run(["wineboot", "-i"], self.logs, self.logs / "wineboot.log", 480) == 0
            subprocess.run(["wineserver", "-w"], env=self.env(), capture_output=True, timeout=300)
        # Persistent, so that Wine's own services stay up between programs.
        subprocess.run(["wineserver", "-p"], env=self.env(), check=True, timeout=60,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        assert self.run(["wineboot"], self.logs, self.logs / "wineboot.log", 480) == 0
        # Without a window manager Wine waits two seconds for every managed
        # window it hides; unmanaged ones close at once.
        self.reg("add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f")
        self.reg("add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d",
                 "user32.MessageBoxW", "/f")
        self.restore_appdata()
        self.tools.mkdir(parents=True, exist_ok=True)
        for tool in ("stand_in_simulator", "dialog_helper", "file_holder", "scanner"):
            shutil.copy2(self.tool_sources / f"{tool}.exe", self.tools)
        self.appdata_windows = self.ask_appdata()
        self.appdata = self.unix_path(self.appdata_windows)

    def end(self):
        self.restore_appdata()
        subprocess.run(["wineserver", "-k"], env=self.env(), capture_output=True, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env(), capture_output=True, timeout=60)
        self.xvfb.terminate()
        self.xvfb.wait(timeout=30)

    def unix_path(self, windows_path):
        found = subprocess.run([self.loader, "winepath", "-u", windows_path], env=self.env(),
                               check=True, capture_output=True,
                               timeout=60).stdout.decode("utf-8").strip()
        return Path(os.path.realpath(found))

    def ask_appdata(self):
        """The roaming AppData folder as the shell names it, asked of the stand-in."""
        probe = self.root / "appdata-probe.txt"
        probe.unlink(missing_ok=True)
        self.run([self.windows_path(self.tools / "stand_in_simulator.exe")], self.root,
                 self.logs / "appdata-probe.log", CIRROVANE_E2E_REPORT=self.windows_path(probe))
        report = read_report(probe)
        assert report and report["appdata_result"] == "0", f"no AppData folder: {report}"
        return report["appdata"]

    def reg(self, *arguments):
        return subprocess.run([self.loader, "reg", *arguments], env=self.env(),
                              capture_output=True, timeout=60, check=True).stdout.decode("utf-8")

    def set_appdata(self, folders):
        for key, (value_type, data) in folders.items():
            self.reg("add", rf"{SHELL_FOLDERS}\{key}", "/v", "AppData", "/t", value_type, "/d",
                     data, "/f")

    @contextlib.contextmanager
    def moved_appdata(self, windows_folder):
        """The roaming AppData folder moved for a while. The original values
        are kept in a file first, so that a run killed meanwhile is undone by
        the next one."""
        original = {}
        for key in ("User Shell Folders", "Shell Folders"):
            output = self.reg("query", rf"{SHELL_FOLDERS}\{key}", "/v", "AppData")
            original[key] = re.search(r"AppData\s+(REG_\w+)\s+(.*?)\s*$", output, re.M).groups()
        self.registry_saved.write_text(json.dumps(original))
        self.set_appdata({"User Shell Folders": ("REG_EXPAND_SZ", windows_folder),
                          "Shell Folders": ("REG_SZ", windows_folder)})
        try:
            yield
        finally:
            self.restore_appdata()

    def restore_appdata(self):
        if self.registry_saved.exists():
            self.set_appdata(json.loads(self.registry_saved.read_text()))
            self.registry_saved.unlink()


class Launch:
    """What one run of the launcher left: exit status, dialogs, the report."""

    def __init__(self, status, dialogs, report):
        self.status, self.dialogs, self.report = status, dialogs, report

    @property
    def started(self):
        return self.report is not None

    def settings_seen(self):
        """The settings file's bytes as the simulator found them at its start."""
        assert self.report is not None, "the simulator was not started"
        return self.report.get("settings", "").encode("utf-8", "surrogateescape")


class Case:
    """One test's folder in the prefix and the launches made from it."""

    def __init__(self, wine, name):
        self.wine = wine
        self.folder = wine.root / "cases" / name
        self.settings_folder = wine.appdata / "Cirrovane"
        self.runs = 0
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        self.clear_settings()

    def clear_settings(self):
        if self.settings_folder.is_dir() and not self.settings_folder.is_symlink():
            shutil.rmtree(self.settings_folder)
        elif self.settings_folder.exists() or self.settings_folder.is_symlink():
            self.settings_folder.unlink()

    def install(self, folder=None, simulator=True):
        """Puts the launcher, and the stand-in as X-Plane.exe, into a folder."""
        folder = folder or self.folder
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.wine.launcher, folder / "CirrovaneXR.exe")
        if simulator:
            shutil.copy2(self.wine.tools / "stand_in_simulator.exe", folder / "X-Plane.exe")
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
        return self.wine.windows_path(unix_path)

    def snapshot(self):
        """Every file of the settings folder with its bytes; None when absent."""
        folder = self.settings_folder
        if not folder.is_dir():
            return folder.read_bytes() if folder.exists() else None
        return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
                if p.is_file()}

    def leftovers(self):
        return sorted(p.name for p in self.settings_folder.glob("*.tmp"))

    def attrib(self, file, change=None):
        """Runs Windows' attrib (one change a call: Wine's takes only the last);
        returns the attribute letters it then shows."""
        if change:
            assert self.wine.run(["cmd", "/c", "attrib", change, self.windows(file)],
                                 self.folder, self.folder / "attrib.log") == 0
        listing = self.folder / "attrib-listing.txt"
        listing.unlink(missing_ok=True)
        self.wine.run(["cmd", "/c", "attrib", self.windows(file)], self.folder, listing)
        shown = listing.read_text(errors="replace")
        return set(shown[:shown.find(":\\") - 1]) & set("ARHS")

    def set_read_only(self, file):
        # Through Windows' own tool rather than chmod: Wine must turn the
        # attribute into something that holds even for root.
        self.attrib(file, "+r")
        assert is_read_only(file)

    def launch(self, arguments=(), answers=(), executable="CirrovaneXR.exe", cwd=None,
               expect_start=True):
        """Runs the launcher to its end, answering its dialogs, and collects the
        stand-in's report: awaited when expect_start, else given NO_START_GRACE
        seconds to (wrongly) appear."""
        self.runs += 1
        tag = f"run{self.runs}"
        report_file, dialog_file = (self.folder / f"{tag}-{kind}.txt" for kind in ("simulator",
                                                                                   "dialogs"))
        helper = answers and self.wine.start(
            [self.windows(self.wine.tools / "dialog_helper.exe"), self.windows(dialog_file),
             str(DIALOG_TIMEOUT * 1000), *answers], self.folder, self.folder / f"{tag}-dialogs.log")
        log = self.folder / f"{tag}-launcher.log"
        launcher = self.wine.start([executable, *arguments], cwd or self.folder, log,
                                   CIRROVANE_E2E_REPORT=self.windows(report_file),
                                   WINEDEBUG="-all,err+all,+relay")
        status = self.wine.finish(launcher, LAUNCH_TIMEOUT, f"the launcher (a dialog nobody "
                                  f"answered? answers {list(answers)})")
        if helper:
            helper_status = self.wine.finish(helper, DIALOG_TIMEOUT + 30, "the dialog helper")
            assert helper_status == 0, f"could not answer {answers}: {read_report(dialog_file)}"
        self.await_files([report_file] if expect_start else [])
        assert_exited_well(status, log)
        return Launch(status, self.dialogs(dialog_file, log), read_report(report_file))

    def launch_together(self, count):
        """Starts `count` launchers at once; once each exited with 0, their reports."""
        self.runs += 1
        reports = [self.folder / f"run{self.runs}-simulator-{n}.txt" for n in range(count)]
        logs = [self.folder / f"run{self.runs}-launcher-{n}.log" for n in range(count)]
        launchers = [self.wine.start(["CirrovaneXR.exe"], self.folder, log,
                                     CIRROVANE_E2E_REPORT=self.windows(report))
                     for log, report in zip(logs, reports)]
        statuses = [self.wine.finish(launcher, LAUNCH_TIMEOUT, "a launcher")
                    for launcher in launchers]
        for status, log in zip(statuses, logs):
            assert_exited_well(status, log)
        self.await_files(reports)
        return [read_report(report) for report in reports]

    @staticmethod
    def await_files(files):
        deadline = time.monotonic() + (30 if files else NO_START_GRACE)
        while time.monotonic() < deadline and not (files and all(f.exists() for f in files)):
            time.sleep(0.05)

    @staticmethod
    def dialogs(dialog_file, launcher_log):
        """What the helper saw of each box; Wine ignores MB_TOPMOST, so its trace tells that."""
        values = read_report(dialog_file) or {}
        styles = re.findall(r"^\w+:Call user32\.MessageBoxW\(.*,([0-9a-f]{8})\) ret=",
                            launcher_log.read_text(errors="replace"), re.M)
        return [{"text": values[f"text.{n}"], "caption": values[f"caption.{n}"],
                 "buttons": sorted(int(b) for b in values[f"buttons.{n}"].split(",") if b),
                 "icon": values[f"icon.{n}"] == "1", "owner": values[f"owner.{n}"] == "1",
                 "topmost": n <= len(styles) and int(styles[n - 1], 16) & MB_TOPMOST != 0}
                for n in range(1, int(values.get("requested", "0")) + 1) if f"text.{n}" in values]

    @contextlib.contextmanager
    def tool_running(self, tool, target, *extra):
        """tools/<tool>.exe TARGET READY STOP EXTRA... running until the block
        ends; yields its READY and STOP files once READY appeared."""
        ready, stop = self.folder / f"{tool}-ready.txt", self.folder / f"{tool}-stop.txt"
        for marker in (ready, stop, stop.with_name(stop.name + ".report")):
            marker.unlink(missing_ok=True)
        process = self.wine.start(
            [self.windows(self.wine.tools / f"{tool}.exe"), self.windows(target),
             self.windows(ready), self.windows(stop), *extra],
            self.folder, self.folder / f"{tool}.log")
        try:
            self.await_files([ready])
            assert ready.exists(), f"{tool} did not start"
            yield ready, stop
        finally:
            stop.write_text("stop")
            self.wine.finish(process, 30, tool)

    @contextlib.contextmanager
    def holding(self, file, sharing="rw", let_go_ms=None):
        """tools/file_holder.exe keeping the file open with the given sharing
        ("rw": read and write, no delete; "r"; "w"; "none"); with let_go_ms,
        only until that long after a save's new file appeared. Yields a
        function telling, after the block, whether the save was still under
        way when the holder let go."""
        extra = [] if let_go_ms is None else [str(let_go_ms)]
        with self.tool_running("file_holder", file, str(LAUNCH_TIMEOUT * 2000), sharing,
                               *extra) as (ready, stop):
            assert ready.read_text() == "ok", f"could not hold {file.name}"
            report = stop.with_name(stop.name + ".report")
            yield lambda: (read_report(report) or {}).get("saving") == "1"

    @contextlib.contextmanager
    def scanning(self, hold_ms):
        """tools/scanner.exe holding each new temporary file of the settings
        folder for a while; yields a function telling, after the block, how
        many it held."""
        self.settings_folder.mkdir(parents=True, exist_ok=True)
        with self.tool_running("scanner", self.settings_folder, str(hold_ms)) as (_, stop):
            report = stop.with_name(stop.name + ".report")
            yield lambda: int((read_report(report) or {}).get("held", "0"))

    def start_launcher(self):
        """A launcher started and left running; the caller finishes or kills it."""
        self.runs += 1
        return self.wine.start(["CirrovaneXR.exe"], self.folder,
                               self.folder / f"run{self.runs}-launcher.log")

    def diagnostics(self):
        lines = [f"settings folder {self.settings_folder}: {self.snapshot()}"]
        for log_file in sorted(self.folder.glob("*.log")):
            lines.append(f"{log_file.name}: {log_file.read_text(errors='replace')[-2000:]}")
        return "\n".join(lines)


def assert_exited_well(status, log):
    """The launcher returns 0 on every path: any other status is Wine's, told by its log."""
    told = log.read_text(errors="replace")[-4000:]
    assert status == 0, f"the launcher exited with {status}; its log:\n{told}"


def assert_dialog(dialog, text, buttons, topmost=False):
    """A box of the launcher's: the text (a str, or a prefix given as a tuple
    of one), its buttons, the caption, no icon, no owner, and whether it stays on top."""
    if isinstance(text, tuple):
        assert dialog["text"].startswith(text[0])
    else:
        assert dialog["text"] == text
    assert (dialog["caption"], dialog["buttons"], dialog["icon"], dialog["owner"],
            dialog["topmost"]) == (CAPTION, sorted(buttons), False, False, topmost)


def assert_names_file_and_reason(dialog, opening, cause, windows_path):
    """The failure message: the opening text, the cause and what to do, then the path
    and the system's reason, and nothing after them; on top once X-Plane runs."""
    assert_dialog(dialog, (opening,), [IDOK], topmost=opening == SAVE_FAILED)
    told, path, reason, *more = dialog["text"][len(opening):].split("\n") + [""]
    assert more == [""], "nothing after the reason"
    assert cause in told
    assert path.lower() == windows_path.lower()
    assert reason.strip()


def assert_unable_to_launch(dialog, windows_folder):
    """The start failure: its text, then the folder searched and the system's reason."""
    assert_dialog(dialog, (UNABLE_TO_LAUNCH,), [IDOK])
    searched = f"\nCirrovane looked for X-Plane.exe in {windows_folder}:"
    assert searched.lower() in dialog["text"].lower()


@pytest.fixture(scope="session")
def wine(request):
    option = request.config.getoption
    session = Wine(option("--launcher"), option("--tools"), option("--prefix"), option("--arch"),
                   option("--wine"))
    session.begin()
    yield session
    session.end()


@pytest.fixture
def case(wine, request):
    # A folder name free of the brackets and escapes of parametrised names.
    workplace = Case(wine, re.sub(r"[^\w.-]+", "_", request.node.name))
    yield workplace
    call = getattr(request.node, "outcome_call", None)
    if call is not None and call.failed:
        print(workplace.diagnostics())
    workplace.clear_settings()
