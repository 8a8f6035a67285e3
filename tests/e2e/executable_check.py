"""The shipped executable's own properties, read from its PE image: no Wine
needed."""

import re
import struct

from wine_session import CheckFailed


class PeFile:
    """Just enough of a PE32 file to read its headers, imports and resources."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise CheckFailed("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise CheckFailed("no PE signature")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directory_count = struct.unpack_from("<I", data, optional + 92)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(directory_count)]
        self.sections = []
        for i in range(sections):
            _, size, address, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", data, optional + optional_size + 40 * i)
            self.sections.append((address, max(size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw_offset in self.sections:
            if address <= rva < address + size:
                return rva - address + raw_offset
        raise CheckFailed(f"address {rva:#x} lies in no section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        """DLL names of the import table and of the delay-load import table."""
        # (directory, descriptor size, index of the name's address in it)
        tables = ((1, 20, 3), (13, 32, 1))
        names = []
        for directory, size, name_field in tables:
            address, length = (self.directories[directory] if len(self.directories) > directory
                               else (0, 0))
            position = self.offset(address) if length else None
            while position is not None:
                descriptor = struct.unpack_from(f"<{size // 4}I", self.data, position)
                if not any(descriptor):
                    break
                names.append(self.c_string(descriptor[name_field]))
                position += size
        return names

    def resources(self):
        """{type id: {name id: bytes}} of the first language of each."""
        address, size = self.directories[2]
        if not size:
            return {}
        base = self.offset(address)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield name, target

        found = {}
        for type_id, type_target in entries(0):
            for name_id, name_target in entries(type_target & 0x7FFFFFFF):
                for _, leaf in entries(name_target & 0x7FFFFFFF):
                    rva, length = struct.unpack_from("<II", self.data, base + leaf)
                    found.setdefault(type_id, {})[name_id] = \
                        self.data[self.offset(rva):self.offset(rva) + length]
                    break
        return found


def version_strings(block):
    """The StringFileInfo values of a VS_VERSIONINFO resource."""
    strings = {}

    def walk(position, end, depth):
        while position + 6 <= end:
            length, value_length, value_type = struct.unpack_from("<HHH", block, position)
            if length == 0:
                break
            key_end = position + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = block[position + 6:key_end].decode("utf-16-le")
            value_start = (key_end + 2 + 3) & ~3
            value_size = value_length * 2 if value_type == 1 else value_length
            if depth == 3 and value_type == 1:
                strings[key] = block[value_start:value_start + value_size].decode(
                    "utf-16-le").rstrip("\0")
            children = (value_start + value_size + 3) & ~3
            if key in ("VS_VERSION_INFO", "StringFileInfo") or depth == 2:
                walk(children, position + length, depth + 1)
            position = (position + length + 3) & ~3

    walk(0, len(block), 0)
    return strings


SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "shell32.dll", "advapi32.dll", "msvcrt.dll", "gdi32.dll",
    "ole32.dll", "oleaut32.dll", "shlwapi.dll", "comctl32.dll", "ntdll.dll", "bcrypt.dll",
    "version.dll", "userenv.dll", "ws2_32.dll", "rpcrt4.dll", "crypt32.dll", "secur32.dll",
}
SUPPORTED_OS = {
    "Windows Vista": "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def check_executable(checks, path):
    if not checks.check(path.exists(), f"{path} exists"):
        return
    pe = PeFile(path.read_bytes())
    checks.check(pe.machine == 0x14C and pe.magic == 0x10B, "a PE32 image for i386",
               f"machine {pe.machine:#x}, optional header magic {pe.magic:#x}")
    checks.check(pe.subsystem == 2, "GUI subsystem (no console)", f"subsystem {pe.subsystem}")
    checks.check(pe.dll_characteristics & 0x40, "DYNAMIC_BASE (ASLR)",
               f"DllCharacteristics {pe.dll_characteristics:#x}")
    checks.check(pe.dll_characteristics & 0x100, "NX_COMPAT (DEP)",
               f"DllCharacteristics {pe.dll_characteristics:#x}")

    dlls = pe.imported_dlls()
    foreign = [d for d in dlls
               if d.lower() not in SYSTEM_DLLS and not d.lower().startswith("api-ms-win-")]
    checks.check(dlls and not foreign, "imports only Windows' own DLLs",
               f"imports {dlls}; not Windows': {foreign}")

    resources = pe.resources()
    manifests = list(resources.get(RT_MANIFEST, {}).values())
    if checks.check(len(manifests) == 1, "one manifest resource", f"found {len(manifests)}"):
        manifest = manifests[0].decode("utf-8", "replace")
        checks.check(re.search(r'<requestedExecutionLevel\b[^>]*\blevel="asInvoker"', manifest),
                   "the manifest asks for the invoker's execution level")
        present = {g.lower() for g in re.findall(r'<supportedOS\s+Id="([^"]+)"', manifest)}
        missing = [name for name, guid in SUPPORTED_OS.items() if guid not in present]
        checks.check(not missing, "the manifest declares Vista to 10 as supported",
                   f"missing {missing}")

    groups = resources.get(RT_GROUP_ICON, {})
    if checks.check(groups, "an application icon (RT_GROUP_ICON)"):
        group = next(iter(groups.values()))
        count = struct.unpack_from("<H", group, 4)[0]
        checks.check(count > 0, "the icon group holds images")
        icons = resources.get(RT_ICON, {})
        for i in range(count):
            size, icon_id = struct.unpack_from("<IH", group, 6 + 14 * i + 8)
            checks.check(len(icons.get(icon_id, b"")) == size,
                       f"icon image {icon_id} of the group is present ({size} bytes)")

    versions = list(resources.get(RT_VERSION, {}).values())
    if checks.check(versions, "a version resource"):
        strings = version_strings(versions[0])
        checks.check(strings.get("ProductName") == "Cirrovane XR",
                   "its ProductName is 'Cirrovane XR'", f"strings {strings}")
