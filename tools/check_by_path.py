#!/usr/bin/env python3
"""Lists every call of setup.exe and uninst.exe that opens, makes, renames,
deletes or starts something by its path (or loads a library by name), and
fails on any that the allowlist below does not name with its reason.

Elevated file work goes through the confined file layer (runtime/win/
confined.h): folders held as themselves, every item opened relative to a
held folder, programs started from a held file. A path given to Windows
again after its check is what an attacker swaps; this check keeps such calls
out of the tree, but for the few whose reason is written here.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The rooms whose code is in the shipped programs. Files that build only
# outside Windows (*_posix.cpp) are not.
ROOMS = ("installer", "runtime", "ui", "app")
SOURCE = re.compile(r"\.(h|hpp|c|cpp)$")

# Windows calls that take a path (or a library name), and their kin through
# COM interfaces.
CALLS = re.compile(
    r"\b(DeleteFile[AW]?|MoveFile(?:Ex|WithProgress|Transacted)?[AW]?|RemoveDirectory(?:Ex)?[AW]?|"
    r"CopyFile(?:Ex|2|Transacted)?[AW]?|CreateFile(?:2|Transacted)?[AW]?|CreateDirectory(?:Ex|Transacted)?[AW]?|"
    r"SetFileAttributes[AW]?|GetFileAttributes(?:Ex)?[AW]?|FindFirstFile(?:Ex|Name)?[AW]?|ReplaceFile[AW]?|"
    r"CreateHardLink[AW]?|CreateSymbolicLink[AW]?|CreateProcess(?:AsUser|WithLogon|WithToken)?[AW]?|"
    r"ShellExecute(?:Ex)?[AW]?|WinExec|LoadLibrary(?:Ex)?[AW]?|LoadPackagedLibrary|BeginUpdateResource[AW]?|"
    r"GetFileVersionInfo(?:Size)?(?:Ex)?[AW]?|GetLongPathName[AW]?|GetShortPathName[AW]?|_w?fopen|_w?open|"
    r"SHFileOperation[AW]?|SHCreateDirectory(?:Ex)?[AW]?|NtOpenFile)\s*\("
    r"|->\s*(Save|ShellExecute)\s*\(")

# (file, call, reason): each listed call in that file is allowed, for that reason.
ALLOWLIST = [
    ("runtime/win/confined_win.cpp", "CreateFileW",
     "the layer's one open that follows a link: a shell folder the person may have moved (the desktop, the Start "
     "menu), held afterwards from its drive down and checked to be the very folder the link led to"),
    ("runtime/win/confined_win.cpp", "ShellExecuteExW",
     "start_held_program: the program file is held with no write or delete sharing and every folder above it is "
     "held, so the path can name nothing else"),
    ("runtime/win/confined_win.cpp", "CreateProcessW", "start_held_program, as above"),
    ("installer/platform/resources_win.cpp", "BeginUpdateResourceW",
     "Windows rewrites a program's resources by its name: only ever a copy in the run's own working folder, which "
     "only administrators (or the person running it) can write"),
    ("installer/platform/resources_win.cpp", "LoadLibraryExW", "the same copy, read as data to keep its other resources"),
    ("ui/window_frame.cpp", "LoadLibraryExW", "a library by its full system-folder path"),
    ("ui/png_control.cpp", "LoadLibraryW",
     "comctl32 by name after the first statement restricted the search to the system folder: by name, so that the "
     "manifest's side-by-side version is the one found"),
    ("installer/platform/launch_win.cpp", "ShellExecuteW",
     "launch_file: starts a program with the person's own rights; an elevated program never calls it "
     "(start_as_person asks the desktop shell, and starts nothing itself when none answers)"),
    ("installer/platform/person_start_win.cpp", "ShellExecute",
     "the desktop shell starts the program, with the person's rights, not this program's"),
    ("runtime/units/units_link_win.cpp", "ShellExecuteW",
     "an address opened with the program's own rights; an elevated installer sets an opener that asks the desktop "
     "shell instead"),
    ("runtime/units/units_link_win.cpp", "CreateProcessW", "the browser for an address, as above, by its full path"),
    ("installer/uninstaller/uninstall_win.cpp", "ShellExecuteExW",
     "asks Windows to run this very program elevated: the consent prompt names the program"),
    ("installer/uninstaller/self_removal_win.cpp", "MoveFileExW",
     "the self-removal copy's own file and folder, removed at the next start of Windows: only an administrator may "
     "ask that, and only administrators can write the folder an elevated uninstaller made for it"),
    ("installer/steps/shortcuts_win.cpp", "Save",
     "the shell link is saved by its name into the run's own working folder, then put in place through held handles"),
    ("runtime/services/file_services_win.cpp", "*",
     "the runtime's general file services, which no room of the programs includes (checked below)"),
]

# Headers the programs' rooms must not include: what they offer works by path.
QUARANTINED = {"runtime/services/file_services.h": ("installer", "ui", "app", "runtime/units", "runtime/zip",
                                                    "runtime/win")}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    return "\n".join(re.sub(r"//.*$", "", line) for line in text.split("\n"))


# A library loaded by its full system-folder path (installer/platform/
# library_search.h's system_file) is never looked for elsewhere.
SYSTEM_FILE = re.compile(r"LoadLibrary(?:Ex)?W\s*\(\s*(?:installer::)?system_file\(")


def calls_in(text):
    for number, line in enumerate(strip_comments(text).split("\n"), 1):
        for match in CALLS.finditer(line):
            if SYSTEM_FILE.match(line, match.start()):
                continue
            yield number, match.group(1) or match.group(2), line.strip()


def allowed(path, call):
    return any(f == path and (c == call or c == "*") for f, c, _ in ALLOWLIST)


def sources(root):
    for room in ROOMS:
        for folder, _, files in os.walk(os.path.join(root, room)):
            for name in sorted(files):
                if SOURCE.search(name) and not name.endswith("_posix.cpp"):
                    full = os.path.join(folder, name)
                    yield os.path.relpath(full, root).replace(os.sep, "/"), full


def check(root):
    problems, used = [], set()
    for path, full in sources(root):
        with open(full, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for number, call, line in calls_in(text):
            if allowed(path, call):
                used.add((path, call if any(f == path and c == call for f, c, _ in ALLOWLIST) else "*"))
            else:
                problems.append(f"{path}:{number}: {call} by path: {line}")
        for header, rooms in QUARANTINED.items():
            if header in INCLUDE.findall(text) and any(path.startswith(r + "/") for r in rooms):
                problems.append(f"{path}: includes {header}, whose services work by path")
    for f, c, _ in ALLOWLIST:
        if (f, c) not in used:
            problems.append(f"allowlist: {f} no longer calls {c}; take its entry out")
    return problems


def self_test():
    planted = ('void f() {\n  // DeleteFileW(L"comment") is not a call\n  DeleteFileW(L"x");\n  link->Save(p, TRUE);\n'
               '  LoadLibraryW(system_file(L"a.dll").c_str());\n  LoadLibraryW(L"a.dll");\n}\n')
    found = [call for _, call, _ in calls_in(planted)]
    assert found == ["DeleteFileW", "Save", "LoadLibraryW"], found
    assert allowed("installer/steps/shortcuts_win.cpp", "Save")
    assert not allowed("installer/steps/shortcuts_win.cpp", "DeleteFileW")
    assert allowed("runtime/services/file_services_win.cpp", "CreateFileW")
    print("check_by_path self-test passed")
    return 0


def main():
    if "--self-test" in sys.argv:
        return self_test()
    problems = check(sys.argv[1] if len(sys.argv) > 1 and not sys.argv[1].startswith("-") else ROOT)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} by-path call(s) outside the confined file layer's allowlist (tools/check_by_path.py)")
        return 1
    print(f"by-path calls: only the {len(ALLOWLIST)} allowed ones")
    return 0


if __name__ == "__main__":
    sys.exit(main())
