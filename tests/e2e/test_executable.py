"""The shipped program's own properties, read from its PE image with Debian's
python3-pefile, and the release archive beside it. No Wine needed."""

import re
import xml.etree.ElementTree as ElementTree
import zipfile
from pathlib import Path

import pefile
import pytest

ALLOWED_IMPORTS = Path(__file__).with_name("vista_imports.txt")
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}  # Vista, 7, 8, 8.1, 10 and 11
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x40, 0x100, 0x8000
# The manifest schema's namespaces, which Windows matches literally.
NAMESPACES = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "dpi": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
              "dpi2": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}


@pytest.fixture(scope="module")
def program(request):
    return Path(request.config.getoption("--launcher"))


@pytest.fixture(scope="module")
def pe(program):
    return pefile.PE(data=program.read_bytes())


@pytest.fixture(scope="module")
def resources(pe):
    """{type id: {name id: bytes of its first language}}."""
    return {kind.id: {name.id: pe.get_data(name.directory.entries[0].data.struct.OffsetToData,
                                           name.directory.entries[0].data.struct.Size)
                      for name in kind.directory.entries}
            for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries}


def allowed_imports():
    """{dll in lower case: function names} of the allow-list of Vista SP2's DLLs."""
    allowed, dll = {}, None
    for line in ALLOWED_IMPORTS.read_text(encoding="ascii").splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            dll = allowed.setdefault(line[1:-1].lower(), set())
        elif line and not line.startswith("#"):
            dll.add(line)
    return allowed


def test_headers_say_32_bit_gui_for_vista_with_aslr_dep_and_no_time_stamp(pe):
    header = pe.OPTIONAL_HEADER
    assert (pe.FILE_HEADER.Machine, header.Magic, header.Subsystem) == (0x14C, 0x10B, 2)
    assert (header.MajorSubsystemVersion, header.MinorSubsystemVersion) == (6, 0)
    assert (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion) == (6, 0)
    for flag in (DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE):
        assert header.DllCharacteristics & flag, hex(flag)
    stamps = [pe.FILE_HEADER.TimeDateStamp, pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp]
    stamps += [d.struct.TimeDateStamp for d in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])]
    assert not any(stamps)


def test_every_imported_function_is_in_vista_sp2(pe):
    tables = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT",
                                                                 [])
    imports = [(entry.dll.decode("ascii").lower(),
                imported.name.decode("ascii") if imported.name else f"#{imported.ordinal}")
               for entry in tables for imported in entry.imports]
    assert imports
    assert not [dll for dll, _ in imports if dll.startswith("api-ms-win-crt-")
                or dll == "ucrtbase.dll"], "no Universal CRT"
    allowed = allowed_imports()
    assert [f"{dll}!{name}" for dll, name in imports if name not in allowed.get(dll, ())] == []


def test_manifest_asks_for_invoker_themes_and_dpi_awareness(pe, resources):
    manifests = list(resources.get(RT_MANIFEST, {}).values())
    assert len(manifests) == 1
    text = manifests[0].decode("utf-8")
    root = ElementTree.fromstring(text)
    level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/"
                      "v3:requestedExecutionLevel", NAMESPACES)
    assert level.get("level") == "asInvoker"
    assert {g.lower() for g in re.findall(r'<supportedOS\s+Id="([^"]+)"', text)} >= SUPPORTED_OS
    controls = root.find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", NAMESPACES)
    assert (controls.get("name"), controls.get("version"), controls.get("publicKeyToken")) == (
        "Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df")
    settings = "v3:application/v3:windowsSettings/"
    assert root.find(settings + "dpi:dpiAware", NAMESPACES).text.strip() == "true/pm"
    awareness = root.find(settings + "dpi2:dpiAwareness", NAMESPACES).text
    assert [v.strip() for v in awareness.split(",")] == ["PerMonitorV2", "PerMonitor"]
    strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
               for k, v in info.StringTable[0].entries.items()}
    assert strings["ProductName"] == "Cirrovane XR"
    assert root.find("v1:assemblyIdentity", NAMESPACES).get("version") == (
        strings["FileVersion"] + ".0")


def test_icon_has_every_size_windows_asks_for(resources):
    group = next(iter(resources[RT_GROUP_ICON].values()))
    entries = [group[6 + 14 * i:20 + 14 * i] for i in range(int.from_bytes(group[4:6], "little"))]
    assert sorted(entry[0] or 256 for entry in entries) == [16, 24, 32, 48, 256]
    # Each image of the group is there, of the size the group gives.
    assert {int.from_bytes(e[12:], "little"): int.from_bytes(e[8:12], "little")
            for e in entries} == {key: len(image) for key, image in resources[RT_ICON].items()}


def test_release_archive_holds_this_program_and_a_crlf_guide(program):
    archives = sorted(program.parent.glob("CirrovaneXR-*-win32.zip"))
    assert len(archives) == 1
    with zipfile.ZipFile(archives[0]) as archive:
        assert archive.namelist() == ["CirrovaneXR.exe", "README.txt"]
        assert archive.read("CirrovaneXR.exe") == program.read_bytes()
        guide = archive.read("README.txt")
    assert guide.endswith(b"\r\n") and guide.count(b"\r\n") == guide.count(b"\n") == guide.count(
        b"\r")
