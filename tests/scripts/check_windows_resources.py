#!/usr/bin/env python3
"""Checks a built Windows program's manifest, version resource and PE security flags.

Usage: check_windows_resources.py PROGRAM.exe VERSION
The manifest must run the program as the invoker, declare Windows 10 and 11 and
long-path awareness; the version resource must carry VERSION; the image must
keep dynamic base, high-entropy ASLR and NX compatibility.
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_VERSION = 16
RT_MANIFEST = 24
WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
REQUIRED_DLL_CHARACTERISTICS = {
    0x0020: "high-entropy ASLR",
    0x0040: "dynamic base",
    0x0100: "NX compatibility",
}


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x20B:
            raise ValueError("not PE32+")
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, optional + 112 + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} is in no section")

    def resources(self):
        """{(type, id): bytes} for resources with numeric type and id (first language)."""
        if self.resource_rva == 0:
            return {}
        base = self.offset(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<12xHH", self.data, base + directory)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield name, target

        found = {}
        for type_id, type_dir in entries(0):
            for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
                _, language = next(entries(name_dir & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", self.data, base + language)
                if not (type_id | name_id) & 0x80000000:
                    found[(type_id, name_id)] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


def check_manifest(text, problems):
    namespaces = {
        "asm1": "urn:schemas-microsoft-com:asm.v1",
        "asm3": "urn:schemas-microsoft-com:asm.v3",
        "compat": "urn:schemas-microsoft-com:compatibility.v1",
        "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
    }
    root = ElementTree.fromstring(text)
    level = root.find(".//asm3:requestedExecutionLevel", namespaces)
    if level is None or level.get("level") != "asInvoker":
        problems.append("the manifest does not run the program as the invoker")
    systems = {e.get("Id", "").lower() for e in root.findall(".//compat:supportedOS", namespaces)}
    if WINDOWS_10_AND_11 not in systems:
        problems.append("the manifest does not declare Windows 10 and 11")
    long_paths = root.find(".//ws2016:longPathAware", namespaces)
    if long_paths is None or (long_paths.text or "").strip().lower() != "true":
        problems.append("the manifest does not declare long-path awareness")


def check_version(resource, version, problems):
    at = resource.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        problems.append("the version resource has no fixed file information")
        return
    ms, ls = struct.unpack_from("<II", resource, at + 8)
    found = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"
    if found != version:
        problems.append(f"file version is {found}, the build's is {version}")
    for text in ("ProductName", "Vostrane", "FileVersion", version):
        if text.encode("utf-16-le") not in resource:
            problems.append(f"the version strings lack {text!r}")


def main(program, version):
    with open(program, "rb") as file:
        image = Image(file.read())
    problems = []
    for bit, name in REQUIRED_DLL_CHARACTERISTICS.items():
        if not image.dll_characteristics & bit:
            problems.append(f"the image lacks {name}")
    resources = image.resources()
    manifest = resources.get((RT_MANIFEST, 1))
    if manifest is None:
        problems.append("no application manifest (RT_MANIFEST 1)")
    else:
        check_manifest(manifest, problems)
    version_resource = next((data for (kind, _), data in resources.items() if kind == RT_VERSION), None)
    if version_resource is None:
        problems.append("no version resource")
    else:
        check_version(version_resource, version, problems)
    for problem in problems:
        print(f"{program}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
