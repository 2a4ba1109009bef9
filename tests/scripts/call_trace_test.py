#!/usr/bin/env python3
"""Checks, in a Wine call trace of one real run of the helper, two calls whose
effect nothing under Wine can observe.

Usage: call_trace_test.py WINE HELPER.exe

The helper runs once with a package that is missing, so it is rejected and the
result document is written; Wine traces every call into its builtin DLLs
(WINEDEBUG=+relay) to a file in a temporary folder. Then:

- SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) is the helper's first
  call of its own: the only calls its image makes before it are the C
  runtime's start-up and static initialisation (below). Wine searches for DLLs
  as it likes whatever the argument, so only the trace shows it.
- The temporary result document is flushed (FlushFileBuffers on the handle
  that created it, after its writes, before it is closed) before MoveFileExW
  puts it in place. Wine's file system gives no sign of an unflushed file.

Only calls whose return address lies in the helper's image count, so calls
the C runtime DLL or Wine's own DLLs make on its behalf are left out.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

# What the C runtime's start-up (mingw-w64's crtexe and the TLS and exception
# set-up) and the static initialisers (C++ objects, OpenSSL's CPU detection)
# call before wWinMain starts; none of them loads a DLL.
START_UP_CALLS = {
    "ntdll.RtlInitializeCriticalSection",
    "ntdll.RtlAddVectoredExceptionHandler",
    "KERNEL32.GetStartupInfoW",
    "KERNEL32.SetUnhandledExceptionFilter",
    "msvcrt.__set_app_type",
    "msvcrt.__wgetmainargs",
    "msvcrt._initterm",
    "msvcrt._onexit",
    "msvcrt.malloc",
    "msvcrt.memcpy",
}
OPENSSL_CPU_DETECTION = ("KERNEL32.GetEnvironmentVariableW", "OPENSSL_ia32cap")
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
ZERO_DIGEST = "0" * 64

# "0518:Call KERNEL32.CreateFileW(00c95900 L\"...\",40000000,...) ret=1400956d7"
# "0518:Ret  KERNEL32.CreateFileW() retval=00000030 ret=1400956d7"
LINE = re.compile(r"^([0-9a-f]+):(Call|Ret) +([\w.]+)\((.*)\) (?:retval=([0-9a-f]+) )?ret=([0-9a-f]+)$")
WIDE_STRING = re.compile(r'L"((?:[^"\\]|\\.)*)"')


class Call:
    def __init__(self, index, thread, name, arguments, caller):
        self.index, self.thread, self.name, self.arguments, self.caller = index, thread, name, arguments, caller
        self.retval = None

    def first_argument(self):
        return int(self.arguments.split(",", 1)[0].split(" ", 1)[0], 16)

    def strings(self):
        return [text.replace("\\\\", "\\") for text in WIDE_STRING.findall(self.arguments)]

    def __str__(self):
        return f"{self.name}({self.arguments})"


def image_range(helper):
    with open(helper, "rb") as image:
        data = image.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    if data[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", data, optional)[0] != 0x20B:
        raise SystemExit(f"{helper}: not a PE32+ image")
    base = struct.unpack_from("<Q", data, optional + 24)[0]
    size = struct.unpack_from("<I", data, optional + 56)[0]
    return base, base + size


def calls_from_image(trace, image, threads=None):
    """The calls made by code in the image (on these threads), in order, each with its return value."""
    calls, open_calls = [], {}
    for line in trace.splitlines():
        match = LINE.match(line)
        if not match:
            continue
        thread, kind, name, arguments, retval, caller = match.groups()
        if not image[0] <= int(caller, 16) < image[1] or (threads is not None and thread not in threads):
            continue
        key = (thread, name, caller)
        if kind == "Call":
            call = Call(len(calls), thread, name, arguments, caller)
            calls.append(call)
            open_calls[key] = call
        elif key in open_calls:
            open_calls.pop(key).retval = int(retval, 16)
    return calls


def check_dll_search_restricted_first(calls):
    restricting = [c for c in calls if c.name == "KERNEL32.SetDefaultDllDirectories"]
    if not restricting:
        return ["SetDefaultDllDirectories is never called"]
    first = restricting[0]
    if first.first_argument() != LOAD_LIBRARY_SEARCH_SYSTEM32:
        return [f"SetDefaultDllDirectories is called with {first.arguments}, not {LOAD_LIBRARY_SEARCH_SYSTEM32:08x}"]
    early = [c for c in calls[:first.index]
             if c.name not in START_UP_CALLS and (c.name, *c.strings()[:1]) != OPENSSL_CPU_DETECTION]
    if not early:
        return []
    more = f" and {len(early) - 1} more" if len(early) > 1 else ""
    return [f"the helper calls {early[0]}{more} before it restricts the DLL search"]


def check_result_flushed_before_move(calls, result_path):
    moves = [c for c in calls if c.name == "KERNEL32.MoveFileExW" and c.strings()[1:2] == [result_path]]
    if len(moves) != 1:
        return [f"expected one MoveFileExW onto {result_path}, found {len(moves)}"]
    move = moves[0]
    temporary = move.strings()[0]
    created = [c for c in calls[:move.index] if c.name == "KERNEL32.CreateFileW" and c.strings()[:1] == [temporary]]
    if not created or created[-1].retval in (None, 0xFFFFFFFFFFFFFFFF, 0xFFFFFFFF):
        return [f"the temporary document {temporary} is not created before it is moved"]
    handle = created[-1].retval
    on_handle = [c for c in calls[created[-1].index + 1:move.index]
                 if c.name in ("KERNEL32.WriteFile", "KERNEL32.FlushFileBuffers", "KERNEL32.CloseHandle")
                 and c.first_argument() == handle]
    names = [c.name.split(".")[1] for c in on_handle]
    # Written, flushed, closed, in that order, and nothing written after the flush.
    if "FlushFileBuffers" not in names:
        return [f"the temporary document's handle {handle:x} is not flushed before MoveFileExW: {names}"]
    flush = names.index("FlushFileBuffers")
    if "WriteFile" not in names[:flush] or "WriteFile" in names[flush:] or names[flush + 1:] != ["CloseHandle"]:
        return [f"calls on the temporary document's handle {handle:x} are not written, flushed, closed: {names}"]
    return []


def main():
    wine, helper = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="vostrane-call-trace-") as folder:
        windows_folder = "Z:" + folder.replace("/", "\\")
        result_path = windows_folder + "\\result.json"
        arguments = {
            "--parent-process-id": "0", "--msi-path": windows_folder + "\\missing.msi",
            "--install-dir": windows_folder + "\\app", "--app-path": windows_folder + "\\app\\app.exe",
            "--msi-log-path": windows_folder + "\\msi.log", "--helper-log-path": windows_folder + "\\helper.log",
            "--result-path": result_path, "--expected-sha256": ZERO_DIGEST, "--expected-version": "1.4.0",
            "--signature": "c2ln", "--key-id": "vostrane-update-2026-01", "--signature-algorithm": "ed25519",
        }
        command = [wine, helper] + [part for option in arguments.items() for part in option]
        # Wine's own background processes start with the first program of a
        # session and inherit its settings; an untraced program starts them
        # first, if need be, so that the trace holds the helper alone.
        subprocess.run([wine, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=dict(os.environ, WINEDEBUG="-all"), timeout=120, check=False)
        trace_path = os.path.join(folder, "trace.txt")
        with open(trace_path, "wb") as trace_file:
            # Wine writes its trace to the standard error it inherits.
            subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=trace_file,
                           env=dict(os.environ, WINEDEBUG="+relay"), timeout=120, check=False)
        with open(trace_path, encoding="utf-8", errors="replace") as trace_file:
            trace = trace_file.read()
        result_file = os.path.join(folder, "result.json")
        result = open(result_file, encoding="utf-8").read() if os.path.exists(result_file) else ""

    image = image_range(helper)
    # The helper's thread is the one that names this run's folder; any other
    # Windows program in the trace is left out.
    threads = {c.thread for c in calls_from_image(trace, image)
               if any(text.startswith(windows_folder) for text in c.strings())}
    calls = calls_from_image(trace, image, threads)
    print(f"{len(trace.splitlines())} trace lines, {len(calls)} calls from the helper's image")
    failures = []
    if not calls:
        failures.append("the trace holds no call from the helper's image (was the run traced?)")
    if '"status":"error"' not in result:
        failures.append(f"the rejected run wrote no error result: {result!r}")
    failures += check_dll_search_restricted_first(calls)
    failures += check_result_flushed_before_move(calls, result_path)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        kept = os.path.abspath("helper-call-trace.txt")
        with open(kept, "w", encoding="utf-8") as copy:
            copy.write(trace)
        print("the trace is kept in", kept)
    else:
        print("passed: DLL search restricted first; result document flushed before it is moved")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
