"""The FolderInfo, FileVersion and ACLHandling natives called by real Java
code under Wine, each answer checked from outside:

* special folders against Wine's known folders (the "Shell Folders" keys and
  the profile list in the registry, and the folders on disk);
* a path value, the Windows and system directories against `wine reg` and
  the prefix;
* drive types of C: and of a letter without a drive, and the universal name
  of a local path (Wine can show no network drive: see
  test_universal_name_on_a_network_drive);
* the short name of a folder whose name the ANSI code page cannot hold,
  resolved back by tests/tools file_probe.exe;
* the file version comparison both ways and equal on the version-resource
  libraries of tests/tools, whose versions file_probe.exe reads;
* access entries added to a registry key and a directory, read back with the
  security API by file_probe.exe.
"""

from __future__ import annotations

import re
import uuid
from pathlib import Path, PureWindowsPath

import pytest

import harness
import native_run
from java_runtime import call
from native_run import wine

TAG = "tovrix-e2e-files-" + uuid.uuid4().hex[:8]
ACL_KEY = "CURRENT_USER\\Software\\" + TAG
USER_FOLDERS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
COMMON_FOLDERS = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
DOWNLOADS = "{374DE290-123F-4565-9164-39C4925E467B}"
CURRENT_VERSION = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"
DOSDEVICES = harness.WINEPREFIX / "dosdevices"


def reg_value(key: str, name: str) -> str | None:
    done = wine(["reg", "query", key, "/v", name, "/reg:64"], check=False)
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        parts = re.split(r"\s{4}", line.strip())
        if done.returncode == 0 and len(parts) == 3 and parts[0] == name:
            return parts[2]
    return None


def probe(*args: str) -> list:
    done = wine([native_run.tool("file_probe.exe"), *args], check=False)
    return done.stdout.decode("utf-8", "replace").splitlines()


def unix_path(windows: str) -> Path:
    """Where a C: path of the prefix lies on the Linux side."""
    drive, rest = windows[:2].lower(), PureWindowsPath(windows).parts[1:]
    return (DOSDEVICES / drive).resolve().joinpath(*rest)


def free_letters() -> list:
    used = {p.name[0] for p in DOSDEVICES.iterdir() if re.fullmatch(r"[a-z]:", p.name)}
    return [c for c in "qponmlkjih" if c not in used]


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    native_run.require("file_probe.exe", "version_low.dll", "version_high.dll", "version_same.dll")
    work = tmp_path_factory.mktemp("files")
    wide = work / ("tovrix \u4e2d\u6587 " + TAG)
    wide.mkdir()
    acl_dir = work / "acl"
    acl_dir.mkdir()
    missing_letter = free_letters()[0]
    libraries = {name: harness.windows_path(native_run.tool("version_%s.dll" % name)) for name in
                 ("low", "high", "same")}
    no_version = harness.windows_path(harness.stub_path(native_run.TARGET))
    run = None
    try:
        wine(["reg", "add", "HKCU\\Software\\" + TAG, "/f"])
        calls = {
            "folder.documents": call("FolderInfo.getSpecialFolder0", 8, False),
            "folder.common_documents": call("FolderInfo.getSpecialFolder0", 8, True),
            "folder.desktop_code12": call("FolderInfo.getSpecialFolder0", 12, False),
            "folder.common_desktop": call("FolderInfo.getSpecialFolder0", 1, True),
            "folder.appdata": call("FolderInfo.getSpecialFolder0", 7, False),
            "folder.downloads": call("FolderInfo.getSpecialFolder0", 1001, False),
            "folder.downloads_common": call("FolderInfo.getSpecialFolder0", 1001, True),
            "folder.profile": call("FolderInfo.getSpecialFolder0", 1500, False),
            "registry.program_files": call("FolderInfo.getPathFromRegistry0", "ProgramFilesDir"),
            "registry.missing": call("FolderInfo.getPathFromRegistry0", TAG),
            "windows": call("FolderInfo.getWindowsDirectory0"),
            "system": call("FolderInfo.getSystemDirectory0"),
            "drive.c": call("FolderInfo.getDriveType0", "C:\\"),
            "drive.missing": call("FolderInfo.getDriveType0", missing_letter.upper() + ":\\"),
            "short.wide": call("FolderInfo.getShortPathName0", harness.windows_path(wide)),
            "short.missing": call("FolderInfo.getShortPathName0", harness.windows_path(work / "not here")),
            "universal.local": call("FolderInfo.getUniversalPathName0", "C:\\windows"),
            "compare.low_high": call("FileVersion.compare0", libraries["low"], libraries["high"]),
            "compare.high_low": call("FileVersion.compare0", libraries["high"], libraries["low"]),
            "compare.low_same": call("FileVersion.compare0", libraries["low"], libraries["same"]),
            "compare.no_version": call("FileVersion.compare0", libraries["low"], no_version),
            "acl.key_sid": call("ACLHandling.addACE", ACL_KEY, True, True, False, True, False, 3, "S-1-5-19"),
            "acl.key_authenticated": call("ACLHandling.addACE", ACL_KEY, True, False, True, False, False, 1, None),
            "acl.key_power_users": call("ACLHandling.addACE", ACL_KEY, True, False, False, False, True, 5, None),
            "acl.key_everyone": call("ACLHandling.addACE", ACL_KEY, True, True, False, False, False, 0, None),
            "acl.key_no_account": call("ACLHandling.addACE", ACL_KEY, True, True, False, False, False, 3,
                                       "tovrix no such account"),
            "acl.dir": call("ACLHandling.addACE", harness.windows_path(acl_dir), False, True, False, False, False,
                            3, "S-1-5-19"),
            "acl.missing": call("ACLHandling.addACE", harness.windows_path(work / "gone"), False, True, False,
                                False, False, 0, None),
        }
        run = native_run.run_calls(work / "run", calls)
        yield {"run": run, "work": work, "wide": wide, "acl_dir": acl_dir, "libraries": libraries,
               "no_version": no_version}
    finally:
        native_run.remove_start_up_marker(run)
        wine(["reg", "delete", "HKCU\\Software\\" + TAG, "/f"], check=False)


def result(files, name: str) -> str:
    return files["run"].result(name)


@pytest.mark.parametrize("call_name, key, value", [
    ("folder.documents", USER_FOLDERS, "Personal"),
    ("folder.common_documents", COMMON_FOLDERS, "Common Documents"),
    ("folder.desktop_code12", USER_FOLDERS, "Desktop"),   # every other code up to 1000: the desktop
    ("folder.common_desktop", COMMON_FOLDERS, "Common Desktop"),
    ("folder.appdata", USER_FOLDERS, "AppData"),
    ("folder.downloads", USER_FOLDERS, DOWNLOADS),
    ("folder.downloads_common", USER_FOLDERS, DOWNLOADS),  # the common flag does not count above 1000
])
def test_special_folders_are_wine_s_known_folders(files, call_name, key, value):
    folder = result(files, call_name)
    assert folder == reg_value(key, value)
    assert unix_path(folder).is_dir()


def test_code_above_1003_is_the_user_profile(files):
    profile_list = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"
    done = wine(["reg", "query", profile_list, "/s", "/reg:64"])
    images = re.findall(r"ProfileImagePath\s+REG_\w+\s+(.+)", done.stdout.decode("utf-8", "replace"))
    assert result(files, "folder.profile") in [image.strip() for image in images]


def test_path_value_and_system_folders(files):
    assert result(files, "registry.program_files") == reg_value(CURRENT_VERSION, "ProgramFilesDir")
    assert result(files, "registry.missing") == "null"
    assert result(files, "windows").lower() == "c:\\windows"
    assert result(files, "system").lower() == "c:\\windows\\system32"
    assert unix_path(result(files, "system")).joinpath("kernel32.dll").exists()


def test_drive_types(files):
    assert result(files, "drive.c") == "3"        # fixed
    assert result(files, "drive.missing") == "1"  # no root directory


def test_short_name_of_a_folder_the_code_page_cannot_hold(files):
    short = result(files, "short.wide")
    last = PureWindowsPath(short).name
    assert short != harness.windows_path(files["wide"])
    assert "~" in last and len(last) <= 12 and last.isascii()
    # The short name names the same folder.
    assert probe("longname", short) == [harness.windows_path(files["wide"])]
    assert result(files, "short.missing") == harness.windows_path(files["work"] / "not here")


def test_universal_name_of_a_local_path(files):
    assert result(files, "universal.local") == ";2250"  # ERROR_NOT_CONNECTED: no network connection


def test_universal_name_on_a_network_drive():
    pytest.skip("Wine cannot map a drive letter to a network share here: its GetDriveTypeW follows the Unix file "
                "system of the drive's folder (a \"network\" type in HKLM\\Software\\Wine\\Drives does not "
                "change it), and its WNetGetUniversalNameW is a stub that copies the path for remote drives")


def test_file_versions_compared_both_ways_and_equal(files):
    versions = {name: probe("version", path) for name, path in files["libraries"].items()}
    assert versions == {"low": ["file 1.2.3.4 product 9.9.9.9"], "high": ["file 1.2.40000.0 product 1.0.0.0"],
                        "same": ["file 1.2.3.4 product 5.0.0.0"]}
    assert result(files, "compare.low_high") == "2"
    assert result(files, "compare.high_low") == "1"
    assert result(files, "compare.low_same") == "0"  # equal file versions, other product versions
    assert probe("version", files["no_version"])[0].startswith("error")
    assert result(files, "compare.no_version") == "3"


def test_access_entries_read_back_on_a_registry_key(files):
    for name in ("acl.key_sid", "acl.key_authenticated", "acl.key_power_users", "acl.key_everyone"):
        assert result(files, name) == "true", name
    assert result(files, "acl.key_no_account") == "false"
    entries = probe("acl", ACL_KEY, "registry")
    # Allowed entries (type 0), inherited by sub-keys (flags 3), the generic rights as asked.
    for expected in ("ace 0 3 a0000000 S-1-5-19", "ace 0 3 40000000 S-1-5-11", "ace 0 3 10000000 S-1-5-32-547",
                     "ace 0 3 80000000 S-1-1-0"):
        assert expected in entries, entries


def test_access_entry_on_a_directory(files):
    assert result(files, "acl.dir") == "true"
    assert result(files, "acl.missing") == "false"
    gone = harness.windows_path(files["work"] / "gone")
    assert "GetNamedSecurityInfo Error 2 %s" % gone in files["run"].stdout
    entries = probe("acl", harness.windows_path(files["acl_dir"]))
    if not any(entry.endswith(" S-1-5-19") for entry in entries):
        pytest.skip("Wine keeps no DACL on files: it turns it into Unix permission bits (read back: %s)"
                    % "; ".join(entries))
