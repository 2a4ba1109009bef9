#!/usr/bin/env python3
"""Checks a release's bill of materials (dist/sbom.spdx.json).

Its form, field by field against what SPDX 2.3 requires of a JSON document
(no package of the registries this project reaches ships the SPDX JSON
schema, so the rules are written out here); and its content against the
bundle and the machine that built it: the programs' digests, every Debian
package's version as dpkg-query reports it, the OpenSSL source description
that scripts/setup kept, and what each program must be made of.

    sbom_check.py BUNDLE_DIR OPENSSL_BUILD_DIR

Prints one line per failed check and exits 1 if there is any.
"""
import hashlib
import json
import re
import subprocess
import sys
from pathlib import Path
from urllib.parse import unquote

bundle, openssl_build = Path(sys.argv[1]), Path(sys.argv[2]).resolve()
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


# --- SPDX 2.3's rules for a JSON document ---------------------------------------
DOCUMENT_FIELDS = {"spdxVersion", "dataLicense", "SPDXID", "name", "documentNamespace", "creationInfo",
                   "documentDescribes", "packages", "files", "snippets", "relationships", "annotations",
                   "comment", "externalDocumentRefs", "hasExtractedLicensingInfos"}
PACKAGE_FIELDS = {"SPDXID", "name", "versionInfo", "packageFileName", "supplier", "originator",
                  "downloadLocation", "filesAnalyzed", "packageVerificationCode", "checksums", "homepage",
                  "sourceInfo", "licenseConcluded", "licenseInfoFromFiles", "licenseDeclared",
                  "licenseComments", "copyrightText", "summary", "description", "comment", "externalRefs",
                  "attributionTexts", "primaryPackagePurpose", "releaseDate", "builtDate", "validUntilDate",
                  "hasFiles", "annotations"}
DIGEST_LENGTHS = {"SHA1": 40, "SHA224": 56, "SHA256": 64, "SHA384": 96, "SHA512": 128, "MD2": 32, "MD4": 32,
                  "MD5": 32, "MD6": None, "SHA3-256": 64, "SHA3-384": 96, "SHA3-512": 128,
                  "BLAKE2b-256": 64, "BLAKE2b-384": 96, "BLAKE2b-512": 128, "BLAKE3": None, "ADLER32": 8}
PURPOSES = {"APPLICATION", "FRAMEWORK", "LIBRARY", "CONTAINER", "OPERATING-SYSTEM", "DEVICE", "FIRMWARE",
            "SOURCE", "ARCHIVE", "FILE", "INSTALL", "OTHER"}
REFERENCE_CATEGORIES = {"SECURITY", "PACKAGE-MANAGER", "PACKAGE_MANAGER", "PERSISTENT-ID", "OTHER"}
RELATIONSHIP_TYPES = {
    "DESCRIBES", "DESCRIBED_BY", "CONTAINS", "CONTAINED_BY", "DEPENDS_ON", "DEPENDENCY_OF",
    "DEPENDENCY_MANIFEST_OF", "BUILD_DEPENDENCY_OF", "DEV_DEPENDENCY_OF", "OPTIONAL_DEPENDENCY_OF",
    "PROVIDED_DEPENDENCY_OF", "TEST_DEPENDENCY_OF", "RUNTIME_DEPENDENCY_OF", "EXAMPLE_OF", "GENERATES",
    "GENERATED_FROM", "ANCESTOR_OF", "DESCENDANT_OF", "VARIANT_OF", "DISTRIBUTION_ARTIFACT", "PATCH_FOR",
    "PATCH_APPLIED", "COPY_OF", "FILE_ADDED", "FILE_DELETED", "FILE_MODIFIED", "EXPANDED_FROM_ARCHIVE",
    "DYNAMIC_LINK", "STATIC_LINK", "DATA_FILE_OF", "TEST_CASE_OF", "BUILD_TOOL_OF", "DEV_TOOL_OF", "TEST_OF",
    "TEST_TOOL_OF", "DOCUMENTATION_OF", "OPTIONAL_COMPONENT_OF", "METAFILE_OF", "PACKAGE_OF", "AMENDS",
    "PREREQUISITE_FOR", "HAS_PREREQUISITE", "REQUIREMENT_DESCRIPTION_FOR", "SPECIFICATION_FOR", "OTHER"}
ID = re.compile(r"^SPDXRef-[A-Za-z0-9.-]+$")


def check_form(document):
    check(set(document) <= DOCUMENT_FIELDS, f"document: fields SPDX does not define: {set(document) - DOCUMENT_FIELDS}")
    check(document.get("spdxVersion") == "SPDX-2.3", "spdxVersion is not SPDX-2.3")
    check(document.get("dataLicense") == "CC0-1.0", "dataLicense is not CC0-1.0")
    check(document.get("SPDXID") == "SPDXRef-DOCUMENT", "the document's SPDXID is not SPDXRef-DOCUMENT")
    check(isinstance(document.get("name"), str) and document["name"], "the document has no name")
    namespace = document.get("documentNamespace", "")
    check(re.match(r"^[a-z][a-z0-9+.-]*:\S+$", namespace) and "#" not in namespace,
          f"documentNamespace is not a URI without '#': {namespace!r}")
    creation = document.get("creationInfo", {})
    check(re.match(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$", creation.get("created", "")),
          f"creationInfo.created is not YYYY-MM-DDThh:mm:ssZ: {creation.get('created')!r}")
    check(creation.get("creators") and all(re.match(r"^(Person|Organization|Tool): \S", c)
                                           for c in creation["creators"]),
          f"creationInfo.creators: {creation.get('creators')!r}")

    ids = ["SPDXRef-DOCUMENT"]
    for package in document.get("packages", []):
        where = f"package {package.get('SPDXID')}"
        check(set(package) <= PACKAGE_FIELDS, f"{where}: fields SPDX does not define: {set(package) - PACKAGE_FIELDS}")
        check(ID.match(package.get("SPDXID", "")), f"{where}: not an SPDX identifier")
        ids.append(package.get("SPDXID"))
        check(isinstance(package.get("name"), str) and package["name"], f"{where}: no name")
        location = package.get("downloadLocation")
        check(location in ("NONE", "NOASSERTION") or re.match(r"^[a-z+]+://", str(location)),
              f"{where}: downloadLocation {location!r}")
        check(isinstance(package.get("filesAnalyzed", False), bool), f"{where}: filesAnalyzed is not a boolean")
        if package.get("filesAnalyzed") is False:
            check("packageVerificationCode" not in package and "hasFiles" not in package,
                  f"{where}: files listed though filesAnalyzed is false")
        supplier = package.get("supplier", "NOASSERTION")
        check(supplier == "NOASSERTION" or re.match(r"^(Person|Organization): \S", supplier),
              f"{where}: supplier {supplier!r}")
        for checksum in package.get("checksums", []):
            length = DIGEST_LENGTHS.get(checksum.get("algorithm"), -1)
            check(length != -1, f"{where}: checksum algorithm {checksum.get('algorithm')!r}")
            check(re.match(r"^[0-9a-f]+$", checksum.get("checksumValue", ""))
                  and (length is None or len(checksum["checksumValue"]) == length),
                  f"{where}: checksumValue {checksum.get('checksumValue')!r}")
        purpose = package.get("primaryPackagePurpose", "OTHER")
        check(purpose in PURPOSES, f"{where}: primaryPackagePurpose {purpose!r}")
        for reference in package.get("externalRefs", []):
            check(reference.get("referenceCategory") in REFERENCE_CATEGORIES,
                  f"{where}: referenceCategory {reference.get('referenceCategory')!r}")
            locator, kind = reference.get("referenceLocator", ""), reference.get("referenceType")
            check(re.match(r"^\S+$", locator), f"{where}: referenceLocator {locator!r}")
            if kind == "purl":
                check(re.match(r"^pkg:[a-z]+/[^@\s]+@[^?\s]+(\?\S+)?$", locator), f"{where}: purl {locator!r}")
            if kind == "cpe23Type":
                check(re.match(r"^cpe:2\.3:[aho](:[^:\s]+){10}$", locator), f"{where}: cpe {locator!r}")
    check(len(ids) == len(set(ids)), "SPDX identifiers are not unique")
    for relationship in document.get("relationships", []):
        check(relationship.get("relationshipType") in RELATIONSHIP_TYPES,
              f"relationshipType {relationship.get('relationshipType')!r}")
        for end in ("spdxElementId", "relatedSpdxElement"):
            check(relationship.get(end) in ids, f"a relationship names {relationship.get(end)!r}, which is not here")
    for described in document.get("documentDescribes", []):
        check(described in ids, f"documentDescribes names {described!r}, which is not here")


# --- what the build used ----------------------------------------------------------
def installed_version(name, arch):
    answer = subprocess.run(["dpkg-query", "-W", "-f=${Version}", name if arch == "all" else f"{name}:{arch}"],
                            capture_output=True, text=True)
    return answer.stdout if answer.returncode == 0 else None


def check_content(document):
    packages = {p["SPDXID"]: p for p in document.get("packages", [])}
    by_file = {p.get("packageFileName"): p for p in packages.values()}
    links = {(r["spdxElementId"], r["relationshipType"], packages.get(r["relatedSpdxElement"], {}).get("name"))
             for r in document.get("relationships", [])}
    tools = {(packages.get(r["spdxElementId"], {}).get("name"), r["relatedSpdxElement"])
             for r in document.get("relationships", []) if r["relationshipType"] == "BUILD_TOOL_OF"}

    # The programs: digests of the files shipped, each described by the document.
    for program in ("vostrane-updater.exe", "vostrane-sign.exe", "vostrane_update_client.dll", "vostrane-sign"):
        package = by_file.get(program)
        if not check(package, f"{program} is not in the bill of materials"):
            continue
        digests = {c["algorithm"]: c["checksumValue"] for c in package.get("checksums", [])}
        check(digests.get("SHA256") == sha256(bundle / program),
              f"{program}: SHA-256 {digests.get('SHA256')} is not the file's {sha256(bundle / program)}")
        check(package["SPDXID"] in document.get("documentDescribes", []), f"{program}: not described")

    # Every Debian package at the version this machine has.
    debian = 0
    for package in packages.values():
        for reference in package.get("externalRefs", []):
            match = re.match(r"^pkg:deb/[^/]+/([^@]+)@([^?]+)\?arch=([^&]+)", reference["referenceLocator"])
            if not match or match.group(3) == "source":
                continue
            debian += 1
            name, version, arch = unquote(match.group(1)), unquote(match.group(2)), match.group(3)
            have = installed_version(name, arch)
            check(package["name"] == name and package.get("versionInfo") == version == have,
                  f"{package['SPDXID']}: {package['name']} {package.get('versionInfo')} (purl {name} {version}); "
                  f"dpkg-query: {have}")
    check(debian >= 10, f"only {debian} Debian packages")

    # The OpenSSL inside the Windows programs: the source scripts/setup built it from.
    openssl = packages.get("SPDXRef-openssl-mingw64")
    descriptions = sorted((openssl_build / "debian-source").glob("openssl_*.dsc"))
    if check(openssl and descriptions, "no OpenSSL package, or no source description in the cache"):
        dsc = descriptions[0]
        text = dsc.read_text()
        check(openssl.get("versionInfo") == re.search(r"^Version: (.+)$", text, re.M).group(1),
              f"OpenSSL version {openssl.get('versionInfo')} is not the cached source's")
        check(openssl.get("packageFileName") == dsc.name
              and openssl.get("checksums") == [{"algorithm": "SHA256", "checksumValue": sha256(dsc)}],
              "OpenSSL: not the cached source description's name and digest")
        sources = re.search(r"^Checksums-Sha256:\n((?: .+\n)+)", text, re.M).group(1).split()
        check(all(digest in openssl.get("sourceInfo", "") for digest in sources[0::3]),
              "OpenSSL: sourceInfo lacks a source file's digest")
        upstream = re.search(r'define OPENSSL_VERSION_STR "([^"]+)"',
                             (openssl_build / "include/openssl/opensslv.h").read_text()).group(1)
        check(any(r["referenceLocator"] == f"cpe:2.3:a:openssl:openssl:{upstream}:*:*:*:*:*:*:*"
                  for r in openssl.get("externalRefs", [])), f"OpenSSL: no CPE for {upstream}")

    # What each program is made of and built with.
    for program in ("vostrane-updater.exe", "vostrane-sign.exe", "vostrane_update_client.dll"):
        me = by_file.get(program, {}).get("SPDXID")
        # The client library needs no cryptography: OpenSSL is not in it.
        libraries = ["mingw-w64-x86-64-dev", "g++-mingw-w64-x86-64-posix", "gcc-mingw-w64-x86-64-posix"]
        if program != "vostrane_update_client.dll":
            libraries.append("openssl")
        else:
            check((me, "STATIC_LINK", "openssl") not in links, f"{program} is said to link OpenSSL")
        for library in libraries:
            check((me, "STATIC_LINK", library) in links, f"{program} does not link {library} statically")
        for tool in ("g++-mingw-w64-x86-64-posix", "binutils-mingw-w64-x86-64"):
            check((tool, me) in tools, f"{program}: {tool} is not a build tool of it")
    for library in ("libssl3", "libmsi0", "libglib2.0-0", "libstdc++6", "libc6"):
        check(("SPDXRef-program-vostrane-sign", "DYNAMIC_LINK", library) in links,
              f"vostrane-sign does not link {library} dynamically")


try:
    document = json.loads((bundle / "sbom.spdx.json").read_text())
except (OSError, ValueError) as error:
    sys.exit(f"sbom.spdx.json does not parse: {error}")
check_form(document)
check_content(document)
for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
