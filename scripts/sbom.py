#!/usr/bin/env python3
"""Writes the release's bill of materials (SPDX 2.3 JSON) from what the build
used: the link lines of the Windows tree (build.ninja), the compiler's own
view of the libraries it adds, the cached OpenSSL's Debian source description,
the Linux program's dynamic dependencies, and dpkg for package versions.
Run by scripts/release.

    sbom.py --bundle DIR --windows-tree DIR --linux-tree DIR --commit SHA
            --version VERSION --output FILE
"""
import argparse
import hashlib
import json
import re
import shlex
import subprocess
import sys
import uuid
from datetime import datetime, timezone
from pathlib import Path
from urllib.parse import quote

WINDOWS_PROGRAMS = ("vostrane-updater.exe", "vostrane-sign.exe", "vostrane_update_client.dll")
LINUX_PROGRAM = "vostrane-sign"


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def spdx_id(*parts):
    return "SPDXRef-" + "-".join(re.sub(r"[^A-Za-z0-9.]+", "-", part) for part in parts)


def os_release():
    fields = dict(line.split("=", 1) for line in Path("/etc/os-release").read_text().splitlines() if "=" in line)
    return (fields["ID"].strip('"'), fields.get("VERSION_ID", "").strip('"'),
            fields.get("PRETTY_NAME", fields["ID"]).strip('"'))


DISTRO, DISTRO_VERSION, DISTRO_NAME = os_release()


def purl(name, version, arch):
    # Package URL: the version's "+" and ":" are percent-encoded, "~" is not.
    return (f"pkg:deb/{DISTRO}/{quote(name, safe='')}@{quote(version, safe='.-_~')}"
            f"?arch={arch}&distro={DISTRO}-{DISTRO_VERSION}")


def path_variants(path):
    # With a merged /usr, dpkg may know a file under /lib or /usr/lib only.
    variants = [str(path), str(Path(path).resolve())]
    for variant in list(variants):
        variants.append(variant[4:] if variant.startswith("/usr/") else "/usr" + variant)
    return variants


owners, asked = {}, set()


def learn_owners(paths):
    """Asks dpkg once which packages own PATHS (each under any of its names)."""
    variants = sorted({variant for path in paths for variant in path_variants(path)} - asked)
    if not variants:
        return
    asked.update(variants)
    answer = subprocess.run(["dpkg", "-S", *variants], capture_output=True, text=True).stdout
    for line in answer.splitlines():
        packages, _, owned = line.partition(": ")
        owners[owned] = packages.split(", ")[0]


def owning_package(path):
    """The Debian binary package (name:arch or name) that installed PATH."""
    learn_owners([path])
    for variant in path_variants(path):
        if variant in owners:
            return owners[variant]
    sys.exit(f"sbom: no Debian package owns {path}")


def debian_package(package, purpose, note):
    """An SPDX package for an installed Debian binary package, from dpkg."""
    name, version, arch, source, source_version = run(
        "dpkg-query", "-W", "-f=${Package}\t${Version}\t${Architecture}\t${source:Package}\t${source:Version}",
        package).split("\t")
    return {
        "SPDXID": spdx_id("deb", name, arch),
        "name": name,
        "versionInfo": version,
        "supplier": "NOASSERTION",
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "primaryPackagePurpose": purpose,
        "sourceInfo": f"{DISTRO_NAME} binary package {name} {version} ({arch}), "
                      f"built from the source package {source} {source_version}; {note}",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                          "referenceLocator": purl(name, version, arch)}],
    }


def link_step(windows_tree, program):
    """The LINK_FLAGS and LINK_LIBRARIES of PROGRAM's link in build.ninja."""
    lines = (Path(windows_tree) / "build.ninja").read_text().splitlines()
    # A DLL's build line names its import library beside it.
    start = next(i for i, line in enumerate(lines)
                 if line.startswith(f"build {program}:") or line.startswith(f"build {program} "))
    variables = {}
    for line in lines[start + 1:]:
        if not line.startswith("  "):
            break
        key, _, value = line.strip().partition(" = ")
        variables[key] = value
    return shlex.split(variables.get("LINK_FLAGS", "")), shlex.split(variables.get("LINK_LIBRARIES", ""))


def cmake_compiler_setting(tree, name):
    """A setting CMake found for the C++ compiler of TREE (the compiler, the linker)."""
    for found in Path(tree).glob("CMakeFiles/*/CMakeCXXCompiler.cmake"):
        match = re.search(rf'^set\({name} "([^"]+)"\)$', found.read_text(), re.M)
        if match:
            return match.group(1)
    sys.exit(f"sbom: CMake did not record {name} in {tree}")


def windows_link_inputs(windows_tree, program):
    """The files the link of PROGRAM takes from outside the tree: the driver's
    start files and libraries (as it would add them for these flags) and the
    libraries named on the link line."""
    compiler = cmake_compiler_setting(windows_tree, "CMAKE_CXX_COMPILER")
    flags, libraries = link_step(windows_tree, program)
    # The driver prints the linker's command line for these flags without linking.
    driver = subprocess.run([compiler, *flags, "-###", "placeholder.o", "-o", "placeholder.exe",
                             *[item for item in libraries if item.startswith("-l")]],
                            capture_output=True, text=True, check=True).stderr
    link_line = next(line for line in driver.splitlines() if "collect2" in line or line.lstrip().startswith('"/'))
    inputs = set()
    for word in shlex.split(link_line):
        if word.startswith("-l"):
            found = run(compiler, *flags, f"-print-file-name=lib{word[2:]}.a").strip()
            if found != f"lib{word[2:]}.a":  # the driver names the file when it finds it
                inputs.add(str(Path(found).resolve()))
        elif word.endswith(".o") and word.startswith("/"):
            inputs.add(str(Path(word).resolve()))
    external = [Path(item).resolve() for item in libraries
                if item.startswith("/") and not Path(item).resolve().is_relative_to(Path(windows_tree).resolve())]
    return compiler, inputs, external


def openssl_package(libcrypto):
    """The OpenSSL built by scripts/setup, named by the Debian source it came from."""
    build = libcrypto.parent.parent
    descriptions = sorted((build / "debian-source").glob("openssl_*.dsc"))
    if not descriptions:
        sys.exit(f"sbom: {build} does not record its Debian source; run scripts/setup")
    dsc = descriptions[0]
    text = dsc.read_text()
    version = re.search(r"^Version: (.+)$", text, re.M).group(1)
    sums = re.search(r"^Checksums-Sha256:\n((?: .+\n)+)", text, re.M).group(1).split("\n")
    files = [line.split() for line in sums if line.strip()]
    upstream = re.search(r'define OPENSSL_VERSION_STR "([^"]+)"',
                         (build / "include/openssl/opensslv.h").read_text()).group(1)
    return {
        "SPDXID": spdx_id("openssl", "mingw64"),
        "name": "openssl",
        "versionInfo": version,
        "supplier": "NOASSERTION",
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "primaryPackagePurpose": "LIBRARY",
        "packageFileName": dsc.name,
        "checksums": [{"algorithm": "SHA256", "checksumValue": sha256(dsc)}],
        "sourceInfo": f"OpenSSL {upstream}, a static libcrypto for x86_64-w64-mingw32 built by scripts/setup "
                      f"({build.name}) from the {DISTRO_NAME} source package openssl {version}: "
                      + ", ".join(f"{name} SHA-256 {digest}" for digest, _, name in files),
        "externalRefs": [
            {"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
             "referenceLocator": purl("openssl", version, "source")},
            {"referenceCategory": "SECURITY", "referenceType": "cpe23Type",
             "referenceLocator": f"cpe:2.3:a:openssl:openssl:{upstream}:*:*:*:*:*:*:*"},
        ],
    }


def program_package(bundle, program, version, commit, purpose_note):
    return {
        "SPDXID": spdx_id("program", program),
        "name": program,
        "versionInfo": version,
        "supplier": "NOASSERTION",
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "primaryPackagePurpose": "APPLICATION",
        "packageFileName": program,
        "checksums": [{"algorithm": "SHA256", "checksumValue": sha256(Path(bundle) / program)}],
        "sourceInfo": f"built from commit {commit}; {purpose_note}",
    }


def main():
    parser = argparse.ArgumentParser()
    for option in ("bundle", "windows-tree", "linux-tree", "commit", "version", "output"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()

    packages, relationships = {}, []

    def add(package):
        packages.setdefault(package["SPDXID"], package)
        return package["SPDXID"]

    def relate(element, kind, related):
        relationship = {"spdxElementId": element, "relationshipType": kind, "relatedSpdxElement": related}
        if relationship not in relationships:
            relationships.append(relationship)

    programs = []
    for program in WINDOWS_PROGRAMS:
        me = add(program_package(args.bundle, program, args.version, args.commit,
                                 "Windows x86-64, statically linked, Authenticode-signed"))
        programs.append(me)
        compiler, inputs, external = windows_link_inputs(args.windows_tree, program)
        for library in external:
            if library.name == "libcrypto.a":
                relate(me, "STATIC_LINK", add(openssl_package(library)))
            else:
                sys.exit(f"sbom: {program} links {library}, which the bill of materials does not know")
        learn_owners([*inputs, compiler])
        for item in sorted(inputs):
            relate(me, "STATIC_LINK", add(debian_package(
                owning_package(item), "LIBRARY", "its static runtime and import libraries are linked in")))
        relate(add(debian_package(owning_package(compiler), "APPLICATION", "the compiler")), "BUILD_TOOL_OF", me)
        linker = cmake_compiler_setting(args.windows_tree, "CMAKE_LINKER")
        relate(add(debian_package(owning_package(linker), "APPLICATION", "the linker")), "BUILD_TOOL_OF", me)

    linux = add(program_package(args.bundle, LINUX_PROGRAM, args.version, args.commit,
                                "Linux x86-64, dynamically linked"))
    programs.append(linux)
    # ldd names every shared library the loader maps (the vDSO has no file).
    shared = re.findall(r"(?:=> )?(/\S+) \(0x", run("ldd", str(Path(args.linux_tree) / LINUX_PROGRAM)))
    learn_owners(shared)
    for library in shared:
        relate(linux, "DYNAMIC_LINK", add(debian_package(
            owning_package(library), "LIBRARY",
            "a shared library the program loads: the build machine's, where the user's system supplies its own")))
    compiler = cmake_compiler_setting(args.linux_tree, "CMAKE_CXX_COMPILER")
    relate(add(debian_package(owning_package(compiler), "APPLICATION", "the compiler")), "BUILD_TOOL_OF", linux)

    for program in programs:
        relate("SPDXRef-DOCUMENT", "DESCRIBES", program)
    name = f"vostrane-updater-{args.version}-{args.commit[:12]}"
    signed = ",".join(packages[p]["checksums"][0]["checksumValue"] for p in programs)
    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": name,
        # Unique for each release: the signed programs differ from release to release.
        "documentNamespace": f"urn:uuid:{uuid.uuid5(uuid.NAMESPACE_URL, f'vostrane:{args.commit}:{signed}')}",
        "creationInfo": {
            "created": datetime.now(timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
            "creators": ["Tool: vostrane-scripts-release", "Organization: Vostrane"],
        },
        "documentDescribes": programs,
        "packages": list(packages.values()),
        "relationships": relationships,
    }
    Path(args.output).write_text(json.dumps(document, indent=2) + "\n")


if __name__ == "__main__":
    main()
