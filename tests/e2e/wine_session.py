"""The Wine session that the end-to-end runs share: one Xvfb, one prefix, one
persistent wineserver, and the tools' report format."""

import json
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path, PureWindowsPath

SHELL_FOLDERS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer"
TOOLS = ("stand_in_simulator", "dialog_helper", "file_holder")


class CheckFailed(Exception):
    pass


def log(text):
    print(text, flush=True)


def read_report(file):
    """A tools' report (key=HEX lines) as a dict of str; None when absent."""
    if not file.exists():
        return None
    values = {}
    for line in file.read_text(encoding="ascii").splitlines():
        key, _, value = line.partition("=")
        # Lossless for the raw file bytes that are not UTF-8 (launcher_case.report_bytes).
        values[key] = bytes.fromhex(value).decode("utf-8", "surrogateescape")
    return values


class Session:
    """Xvfb, the prefix and its wineserver, and the Wine processes run in them.

    start() keeps what it needs across the separate test processes in the
    state file: the display, Xvfb's pid and where the roaming AppData folder
    is. Programs and paths are those of the prefix's drive C.
    """

    def __init__(self, args):
        self.launcher = Path(args.launcher).resolve()
        self.tool_sources = Path(args.tools).resolve()
        self.prefix = Path(args.prefix).resolve()
        self.state_file = Path(args.state).resolve()
        # win64 runs the 32-bit launcher under WoW64, beside 64-bit tools.
        self.arch = args.arch
        self.drive_c = self.prefix / "drive_c"
        self.root = self.drive_c / "e2e"
        self.tools = self.root / "tools"
        self.registry_restore = self.prefix / "e2e-shell-folders-restore.json"
        self.state = {}

    # Environment -------------------------------------------------------------

    def env(self, **extra):
        env = dict(os.environ)
        # The simulator must get SteamAppId from the launcher, not from us.
        env.pop("SteamAppId", None)
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEARCH": self.arch,
            "WINEDEBUG": "-all",
            # Keeps wineboot from offering to install Mono and Gecko.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            # Unix file names and command lines in UTF-8, whatever CI's locale.
            "LC_ALL": "C.UTF-8",
        })
        if "display" in self.state:
            env["DISPLAY"] = self.state["display"]
        env.update(extra)
        return env

    def windows_path(self, unix_path):
        """The C: path of a file inside the prefix's drive_c."""
        relative = Path(unix_path).resolve().relative_to(self.drive_c.resolve())
        return str(PureWindowsPath("C:\\", *relative.parts))

    def unix_path(self, windows_path):
        resolved = subprocess.run(["winepath", "-u", windows_path], env=self.env(),
                                  capture_output=True, timeout=60, check=True)
        return Path(os.path.realpath(resolved.stdout.decode("utf-8").strip()))

    # Processes ---------------------------------------------------------------

    def start(self, command, cwd, log_file, **extra_env):
        """Starts a Wine program; its output goes to log_file (never to a pipe
        that ctest would wait on)."""
        with open(log_file, "ab") as out:
            return subprocess.Popen(["wine", *command], cwd=cwd, env=self.env(**extra_env),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                    start_new_session=True)

    @staticmethod
    def finish(process, timeout, what):
        """The exit status; a process still running after timeout is killed."""
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            Session.kill(process)
            raise CheckFailed(f"{what} still running after {timeout} s; killed it") from None

    @staticmethod
    def kill(process):
        """Ends a process started by start(), with what it started in its session."""
        if process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        process.wait(timeout=30)

    def run(self, command, cwd, log_file, timeout=60, **extra_env):
        return self.finish(self.start(command, cwd, log_file, **extra_env), timeout,
                           " ".join(command))

    # Lifecycle -----------------------------------------------------------------

    def load(self):
        if not self.state_file.exists():
            raise CheckFailed(f"no Wine session ({self.state_file} missing): run 'start' first")
        self.state = json.loads(self.state_file.read_text())
        if not Path(f"/proc/{self.state['xvfb_pid']}").exists():
            raise CheckFailed(f"the session's Xvfb (pid {self.state['xvfb_pid']}) is gone")

    def begin(self):
        started = time.monotonic()
        if self.state_file.exists():
            log("a previous session was not stopped; stopping it first")
            self.end()
        self.state_file.parent.mkdir(parents=True, exist_ok=True)
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        log_dir = self.state_file.parent
        # A wineserver left from an earlier run would still talk to a display
        # that is gone.
        subprocess.run(["wineserver", "-k"], env=self.env(), capture_output=True, timeout=60)
        self.state = self.start_xvfb(log_dir / "xvfb.log")
        self.state_file.write_text(json.dumps(self.state))
        if not (self.prefix / "system.reg").exists():
            # A prefix is created by a session of its own: right after its
            # creation Wine keeps restarting its services for a minute or so,
            # and each new window then waits ten seconds for the desktop.
            self.boot(["wineboot", "-i"], log_dir)
            subprocess.run(["wineserver", "-w"], env=self.env(), capture_output=True,
                           timeout=300)
        with open(log_dir / "wineserver.log", "ab") as out:
            # Persistent, so that the server and Wine's own services survive the
            # gaps between test processes.
            subprocess.run(["wineserver", "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                           stdout=out, stderr=out, timeout=60, check=True)
        self.boot(["wineboot"], log_dir)
        # Xvfb has no window manager, and Wine waits two seconds for one to
        # withdraw each managed window it hides: every answered dialog would
        # cost that much. Unmanaged windows close at once.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=self.env(), capture_output=True, timeout=60,
                       check=True)
        self.restore_registry()
        self.install_tools()
        appdata_windows, appdata_unix = self.find_appdata()
        self.state.update(appdata_windows=appdata_windows, appdata_unix=str(appdata_unix))
        self.state_file.write_text(json.dumps(self.state))
        log(f"Wine session ready on display {self.state['display']} in "
            f"{time.monotonic() - started:.1f} s; roaming AppData is {appdata_windows} "
            f"= {appdata_unix}")

    def boot(self, command, log_dir):
        status = self.run(command, log_dir, log_dir / "wineboot.log", timeout=480)
        if status != 0:
            raise CheckFailed(f"{' '.join(command)} exited with {status}; see "
                              f"{log_dir / 'wineboot.log'}")

    def start_xvfb(self, log_file):
        for number in range(90, 130):
            if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
                continue
            with open(log_file, "ab") as out:
                xvfb = subprocess.Popen(
                    ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                    stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline and xvfb.poll() is None:
                if Path(f"/tmp/.X11-unix/X{number}").exists():
                    return {"display": f":{number}", "xvfb_pid": xvfb.pid}
                time.sleep(0.05)
            if xvfb.poll() is None:
                xvfb.kill()
                xvfb.wait()
            # Lost a race for that display, or it failed to come up: try the next.
        raise CheckFailed(f"could not start Xvfb on any of :90 to :129; see {log_file}")

    def end(self):
        if self.state_file.exists():
            self.state = json.loads(self.state_file.read_text())
        if self.registry_restore.exists() and "display" in self.state:
            try:
                self.restore_registry()
            except Exception as error:  # noqa: BLE001 - stopping must go on
                log(f"could not restore the shell folders: {error}")
        subprocess.run(["wineserver", "-k"], env=self.env(), capture_output=True, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env(), capture_output=True, timeout=60)
        pid = self.state.get("xvfb_pid")
        if pid and self.is_our_xvfb(pid):
            os.kill(pid, signal.SIGTERM)
            deadline = time.monotonic() + 10
            while Path(f"/proc/{pid}").exists() and time.monotonic() < deadline:
                try:  # Reaps it when this process is its parent (the 'all' command).
                    os.waitpid(pid, os.WNOHANG)
                except ChildProcessError:
                    pass
                time.sleep(0.05)
            if Path(f"/proc/{pid}").exists():
                os.kill(pid, signal.SIGKILL)
        self.state_file.unlink(missing_ok=True)
        log("Wine session stopped")

    @staticmethod
    def is_our_xvfb(pid):
        try:
            return b"Xvfb" in Path(f"/proc/{pid}/cmdline").read_bytes()
        except OSError:
            return False

    def install_tools(self):
        self.tools.mkdir(parents=True, exist_ok=True)
        for tool in TOOLS:
            source = self.tool_sources / f"{tool}.exe"
            if not source.exists():
                raise CheckFailed(f"{source} is missing: build the 'windows' preset first")
            shutil.copy2(source, self.tools / source.name)

    def find_appdata(self):
        """The roaming AppData folder as the shell names it, and on the Unix side."""
        probe = self.root / "appdata-probe.txt"
        probe.unlink(missing_ok=True)
        status = self.run([self.windows_path(self.tools / "stand_in_simulator.exe")], self.root,
                          self.root / "appdata-probe.log",
                          CIRROVANE_E2E_REPORT=self.windows_path(probe))
        report = read_report(probe)
        if status != 0 or report is None or report.get("appdata_result") != "0":
            raise CheckFailed(f"could not ask the shell for the AppData folder: {report}")
        appdata = report["appdata"]
        unix = self.unix_path(appdata)
        if not unix.is_dir():
            raise CheckFailed(f"AppData folder {appdata} is not at {unix}")
        return appdata, unix

    # The roaming AppData folder can be moved for one scenario; the original
    # values are kept in a file first, so that a run killed halfway is undone
    # by the next start or stop.

    def shell_folder(self, key):
        output = subprocess.run(
            ["wine", "reg", "query", f"{SHELL_FOLDERS_KEY}\\{key}", "/v", "AppData"],
            env=self.env(), capture_output=True, timeout=60, check=True).stdout.decode("utf-8")
        found = re.search(r"^\s*AppData\s+(REG_\w+)\s+(.*?)\s*$", output, re.MULTILINE)
        if not found:
            raise CheckFailed(f"no AppData value under {key}: {output!r}")
        return {"type": found.group(1), "data": found.group(2)}

    def set_shell_folder(self, key, value_type, data):
        subprocess.run(["wine", "reg", "add", f"{SHELL_FOLDERS_KEY}\\{key}", "/v", "AppData",
                        "/t", value_type, "/d", data, "/f"],
                       env=self.env(), capture_output=True, timeout=60, check=True)

    def move_appdata(self, windows_folder):
        if not self.registry_restore.exists():
            original = {key: self.shell_folder(key)
                        for key in ("User Shell Folders", "Shell Folders")}
            self.registry_restore.write_text(json.dumps(original))
        self.set_shell_folder("User Shell Folders", "REG_EXPAND_SZ", windows_folder)
        self.set_shell_folder("Shell Folders", "REG_SZ", windows_folder)

    def restore_registry(self):
        if not self.registry_restore.exists():
            return
        original = json.loads(self.registry_restore.read_text())
        for key, value in original.items():
            self.set_shell_folder(key, value["type"], value["data"])
        self.registry_restore.unlink()
