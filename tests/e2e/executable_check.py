"""The shipped executable's own properties, read from its PE image with
Debian's python3-pefile, and the release archive beside it: no Wine needed."""

import re
import zipfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pefile

from wine_session import CheckFailed

ALLOWED_IMPORTS = Path(__file__).with_name("vista_imports.txt")
SUPPORTED_OS = {
    "Windows Vista": "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
ICON_SIZES = [16, 24, 32, 48, 256]
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
IMAGE_FILE_MACHINE_I386, IMAGE_SUBSYSTEM_WINDOWS_GUI = 0x14C, 2
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x40, 0x100, 0x8000
# The manifest schema's namespace names, which Windows matches literally.
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
DPI_AWARE = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
DPI_AWARENESS = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"


def allowed_imports(file=ALLOWED_IMPORTS):
    """{dll name in lower case: set of function names} of the allow-list."""
    allowed, dll = {}, None
    for number, line in enumerate(file.read_text(encoding="ascii").splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("[") and line.endswith("]"):
            dll = allowed.setdefault(line[1:-1].lower(), set())
        elif dll is None:
            raise CheckFailed(f"{file.name}:{number}: a function before any [dll]")
        else:
            dll.add(line)
    return allowed


def imported_functions(pe):
    """(dll, function) for every import, delay-loaded ones included; an import
    by ordinal appears as '#N'."""
    tables = (getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
              + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []))
    return [(entry.dll.decode("ascii"),
             imported.name.decode("ascii") if imported.name else f"#{imported.ordinal}")
            for entry in tables for imported in entry.imports]


def check_imports(checks, pe):
    imports = imported_functions(pe)
    checks.check(imports, "imports some functions")
    dlls = sorted({dll.lower() for dll, _ in imports})
    universal_crt = [d for d in dlls if d.startswith("api-ms-win-crt-") or d == "ucrtbase.dll"]
    checks.check(not universal_crt, "no Universal CRT (Vista has none)", f"imports {universal_crt}")
    allowed = allowed_imports()
    unlisted = [f"{dll}!{name}" for dll, name in imports if name not in allowed.get(dll.lower(), ())]
    checks.check(not unlisted, f"every one of the {len(imports)} imported functions is in "
                 f"Vista SP2's DLLs ({ALLOWED_IMPORTS.name})", f"not listed: {unlisted}")


def check_headers(checks, pe):
    header = pe.OPTIONAL_HEADER
    checks.check(pe.FILE_HEADER.Machine == IMAGE_FILE_MACHINE_I386 and header.Magic == 0x10B,
                 "a PE32 image for i386",
                 f"machine {pe.FILE_HEADER.Machine:#x}, optional header magic {header.Magic:#x}")
    checks.check(header.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "GUI subsystem (no console)",
                 f"subsystem {header.Subsystem}")
    versions = {"subsystem": (header.MajorSubsystemVersion, header.MinorSubsystemVersion),
                "operating system": (header.MajorOperatingSystemVersion,
                                     header.MinorOperatingSystemVersion)}
    checks.check(all(v == (6, 0) for v in versions.values()),
                 "subsystem and operating system version 6.0 (Vista)", f"{versions}")
    flags = header.DllCharacteristics
    for flag, what in ((DYNAMIC_BASE, "DYNAMIC_BASE (ASLR)"), (NX_COMPAT, "NX_COMPAT (DEP)"),
                       (TERMINAL_SERVER_AWARE, "TERMINAL_SERVER_AWARE")):
        checks.check(flags & flag, what, f"DllCharacteristics {flags:#x}")
    stamps = [pe.FILE_HEADER.TimeDateStamp]
    stamps += [d.struct.TimeDateStamp for d in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])]
    if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        stamps.append(pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp)
    checks.check(not any(stamps), "no build time stamp in the headers",
                 f"time stamps {[hex(s) for s in stamps]}")


def resources(pe):
    """{type id: {name id: bytes}} of the first language of each."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            data = name.directory.entries[0].data.struct
            found.setdefault(kind.id, {})[name.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def check_manifest(checks, text, file_version):
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        checks.check(False, "the manifest is well-formed XML", str(error))
        return

    def find(path):
        return root.find(path, {"v1": ASM_V1, "v3": ASM_V3, "dpi": DPI_AWARE,
                                "dpi2": DPI_AWARENESS})

    level = find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel")
    checks.check(level is not None and level.get("level") == "asInvoker",
                 "the manifest asks for the invoker's execution level")
    present = {g.lower() for g in re.findall(r'<supportedOS\s+Id="([^"]+)"', text)}
    missing = [name for name, guid in SUPPORTED_OS.items() if guid not in present]
    checks.check(not missing, "the manifest declares Vista to 10 as supported",
                 f"missing {missing}")
    controls = find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity")
    checks.check(controls is not None
                 and controls.get("name") == "Microsoft.Windows.Common-Controls"
                 and controls.get("version") == "6.0.0.0"
                 and controls.get("publicKeyToken") == "6595b64144ccf1df",
                 "the manifest depends on Common Controls 6.0",
                 f"{controls.attrib if controls is not None else 'no dependency'}")
    settings = "v3:application/v3:windowsSettings/"
    aware = find(settings + "dpi:dpiAware")
    awareness = find(settings + "dpi2:dpiAwareness")
    checks.check(aware is not None and aware.text.strip() == "true/pm"
                 and awareness is not None
                 and [v.strip() for v in awareness.text.split(",")] == ["PerMonitorV2",
                                                                          "PerMonitor"],
                 "DPI awareness per monitor (v2, then v1), else system-wide, in the schema's "
                 "namespaces")
    identity = find("v1:assemblyIdentity")
    version = identity.get("version") if identity is not None else None
    checks.check(version == f"{file_version}.0", "the assembly version is the program's",
                 f"assembly {version}, file version {file_version}")


def check_icon(checks, found):
    groups = found.get(RT_GROUP_ICON, {})
    if not checks.check(groups, "an application icon (RT_GROUP_ICON)"):
        return
    group = next(iter(groups.values()))
    count = int.from_bytes(group[4:6], "little")
    images = [group[6 + 14 * i:20 + 14 * i] for i in range(count)]
    sizes = sorted(image[0] or 256 for image in images)
    checks.check(sizes == ICON_SIZES, f"the icon has {ICON_SIZES} pixel images", f"got {sizes}")
    icons = found.get(RT_ICON, {})
    for image in images:
        size, icon_id = int.from_bytes(image[8:12], "little"), int.from_bytes(image[12:], "little")
        checks.check(len(icons.get(icon_id, b"")) == size,
                     f"icon image {icon_id} of the group is present ({size} bytes)")


def version_strings(pe):
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if info.Key == b"StringFileInfo":
            return {k.decode(): v.decode() for k, v in info.StringTable[0].entries.items()}
    return {}


def check_archive(checks, program, data):
    """The release archive beside the program: that program and the guide in CR LF."""
    archives = sorted(program.parent.glob("CirrovaneXR-*-win32.zip"))
    if not checks.check(len(archives) == 1, "one release archive beside the program",
                        f"found {archives}"):
        return
    with zipfile.ZipFile(archives[0]) as archive:
        names = archive.namelist()
        checks.check(names == ["CirrovaneXR.exe", "README.txt"],
                     "the archive holds the program and README.txt", f"holds {names}")
        if names != ["CirrovaneXR.exe", "README.txt"]:
            return
        checks.check(archive.read("CirrovaneXR.exe") == data, "the archived program is this one")
        guide = archive.read("README.txt")
    crlf, lf, cr = (guide.count(ending) for ending in (b"\r\n", b"\n", b"\r"))
    checks.check(guide.endswith(b"\r\n") and crlf == lf == cr,
                 "README.txt has CR LF line ends only", f"{crlf} CR LF, {lf} LF, {cr} CR")


def check_executable(checks, path):
    if not checks.check(path.exists(), f"{path} exists"):
        return
    data = path.read_bytes()
    try:
        pe = pefile.PE(data=data)
    except pefile.PEFormatError as error:
        raise CheckFailed(f"not a PE image: {error}") from None
    check_headers(checks, pe)
    check_imports(checks, pe)

    found = resources(pe)
    strings = version_strings(pe)
    checks.check(strings.get("ProductName") == "Cirrovane XR",
                 "its ProductName is 'Cirrovane XR'", f"strings {strings}")
    manifests = list(found.get(RT_MANIFEST, {}).values())
    if checks.check(len(manifests) == 1, "one manifest resource", f"found {len(manifests)}"):
        check_manifest(checks, manifests[0].decode("utf-8", "replace"),
                       strings.get("FileVersion"))
    check_icon(checks, found)
    check_archive(checks, path, data)
