"""The launcher as run from a Downloads folder: its import table, DLLs
planted beside it, and the runtime file held between its checks and its load.

What the planting tests prove under Wine 8: with Wine's default load order a
planted crypt32.dll, wintrust.dll, version.dll, dbghelp.dll, ws2_32.dll or
bcrypt.dll is never used at all (Wine takes its builtin), whatever the exe
does, so those runs guard only against names Wine leaves native (msasn1.dll
and the like). The "native first" runs set WINEDLLOVERRIDES so that Wine
loads a DLL it finds in the exe's directory, as Windows does for a DLL that
is not a KnownDLL; the control (load_library.exe) shows that every planted
DLL is then picked up, unless the search is restricted as the launcher
restricts it."""
import os
import re
import shutil
import subprocess

import pytest

from conftest import (STARTED, SUCCESS_LINE, WINDOWS_RUNTIME_PATH, WINEPREFIX, build_path,
                      loaded_lines, read_work_file, run_exe, serve_runtime, windows_path)
from fixtures import pki as pki_module
from fixtures.pe import PeFile

# KnownDLLs of Windows 7 to 11: the loader takes these from System32 whatever
# lies beside the exe. Anything else imported at load time could be planted.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll",
              "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll",
              "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll",
              "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll"}

# System DLLs the launcher, its libraries and the system libraries they use
# load, at start or later.
PLANTED = ["version.dll", "dbghelp.dll", "wintrust.dll", "crypt32.dll", "ws2_32.dll",
           "bcrypt.dll", "msasn1.dll", "cryptnet.dll", "cryptsp.dll", "rsaenh.dll",
           "imagehlp.dll", "iphlpapi.dll", "psapi.dll", "secur32.dll", "userenv.dll",
           "mssign32.dll", "softpub.dll", "dssenh.dll", "ncrypt.dll", "rpcrt4.dll"]
# DLLs that Wine's own builtins load in ways the launcher cannot restrict:
# Wine's user32.dll imports version.dll while the process starts, before main
# (Windows' user32 does not), and Wine resolves its builtins' delay-loaded
# imports (wintrust.dll's imagehlp.dll, dbghelp.dll's version.dll) with the
# exe's directory first, ignoring SetDefaultDllDirectories, and the same
# for their imports (imagehlp.dll imports dbghelp.dll); on Windows
# imagehlp.dll is a KnownDLL, and a KnownDLL's imports come from System32.
# The launcher's own load of dbghelp.dll (Breakpad's) is the control's case. Forced native, these would show Wine loading
# the planted file, not the launcher, so the "native first" runs leave them
# to Wine's default.
WINE_LOADS_ITSELF = {"version.dll", "imagehlp.dll", "dbghelp.dll"}
NATIVE_FIRST = {"WINEDLLOVERRIDES": ",".join(
    os.path.splitext(name)[0] for name in PLANTED if name not in WINE_LOADS_ITSELF) + "=n,b"}
LOAD_ORDERS = {"wine default": {}, "native first": NATIVE_FIRST}

PLANT_DIR = os.path.join(WINEPREFIX, "drive_c", "Downloads")


@pytest.mark.host_only
def test_import_table_holds_only_known_dlls():
    objdump = subprocess.run(["i686-w64-mingw32-objdump", "-p", build_path("odrel.exe")],
                             stdout=subprocess.PIPE, check=True, timeout=60).stdout.decode()
    listed = re.findall(r"DLL Name: (\S+)", objdump)
    pe = PeFile(build_path("odrel.exe"))
    assert sorted(listed) == sorted(pe.imported_dlls())
    assert {name.lower() for name in listed} <= KNOWN_DLLS, listed
    assert "kernel32.dll" in {name.lower() for name in listed}
    assert pe.delay_imported_dlls() == []


def plant(exe_source, exe_name):
    """A fresh folder C:\\Downloads with the planted DLLs and a copy of
    |exe_source| named |exe_name|; returns the copy's Linux path."""
    shutil.rmtree(PLANT_DIR, ignore_errors=True)
    os.makedirs(PLANT_DIR)
    for name in PLANTED:
        shutil.copyfile(build_path("planted_dll.dll"), os.path.join(PLANT_DIR, name))
    exe = os.path.join(PLANT_DIR, exe_name)
    shutil.copyfile(exe_source, exe)
    return exe


def markers():
    return sorted(name[:-len(".loaded")] for name in os.listdir(PLANT_DIR)
                  if name.endswith(".loaded"))


@pytest.mark.parametrize("load_order", LOAD_ORDERS)
def test_planted_dlls_are_not_loaded_in_a_full_run(server, signed_runtime, load_order):
    url = serve_runtime(server, signed_runtime)
    exe = plant(build_path("odrel.exe"), "setup_ABCDEFG_x.exe")
    run = run_exe(exe, ["-u", url], env=LOAD_ORDERS[load_order])
    assert run.lines == loaded_lines(url, "ABCDEFG") + [STARTED, SUCCESS_LINE], run
    assert run.returncode == 0
    assert markers() == []


@pytest.mark.parametrize("load_order, restrict, expected", [
    # Wine prefers its builtin for most system DLL names by default...
    ("wine default", False, ["msasn1.dll", "mssign32.dll", "ncrypt.dll", "userenv.dll"]),
    # ...but loads every planted DLL once told to prefer native ones.
    ("native first", False, sorted(name for name in PLANTED if name not in WINE_LOADS_ITSELF)),
    ("wine default", True, []),
    ("native first", True, []),
])
def test_control_planted_dlls_are_loaded_unless_the_search_is_restricted(load_order, restrict,
                                                                          expected):
    exe = plant(build_path("load_library.exe"), "load_library.exe")
    names = [name for name in PLANTED if name not in WINE_LOADS_ITSELF]
    run = run_exe(exe, (["--restrict"] if restrict else []) + names, env=LOAD_ORDERS[load_order])
    assert run.returncode == 0, run
    assert markers() == [name for name in expected], run
    from_downloads = sorted(line.split()[0] for line in run.lines if "\\Downloads\\" in line)
    if load_order == "native first":
        assert from_downloads == expected, run


def test_runtime_file_cannot_be_changed_between_check_and_load(server, pki, tmp_path):
    probe = os.path.join(str(tmp_path), "odrelruntime.dll")
    pki.sign(build_path("hold_probe_runtime.dll"), probe, pki_module.PUBLISHER)
    with open(probe, "rb") as f:
        signed_probe = f.read()
    url = serve_runtime(server, signed_probe)
    exe = plant(build_path("odrel.exe"), "odrel.exe")
    decoy = os.path.join(PLANT_DIR, "decoy.dll")
    shutil.copyfile(build_path("odrelruntime.dll"), decoy)

    run = run_exe(build_path("replace_runtime.exe"), [
        WINDOWS_RUNTIME_PATH, windows_path(decoy), windows_path(exe),
        'odrel.exe -u %s -k ABCDEFG' % url], timeout=120)
    tries = dict(line.split(": ", 1) for line in run.stderr.replace("\r\n", "\n").split("\n")
                 if ": " in line)
    assert sorted(tries) == ["delete", "open for writing", "rename", "replace"], run
    assert all(outcome.startswith("refused ") for outcome in tries.values()), run
    assert run.lines[-2:] == [STARTED, SUCCESS_LINE], run
    assert run.returncode == 0
    assert read_work_file("odrelruntime.dll") == signed_probe
