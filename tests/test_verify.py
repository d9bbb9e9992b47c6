"""The runtime library's signature, signer and loading, with real files: each
is signed at test time with the test PKI (whose root nobody trusts), served
over HTTPS and judged by the real launcher under Wine."""
import os
import shutil
import subprocess

import pytest

from conftest import (LAUNCH_DIR, PROBLEM_LINE, RUNTIME_URL_PATH, STARTED, SUCCESS_LINE, WINEPREFIX,
                      Run, build_path, fetch_lines, launcher_copy, loaded_lines, read_work_file,
                      run_launcher, serve_runtime, windows_path, work_dir_files)
from fixtures import verify
from fixtures.pki import LOOK_ALIKES, OTHER_PUBLISHER, PUBLISHER

SAMPLE = "odrelruntime.dll"
# Prints when it is loaded and unloaded; exports no NewRuntime.
NO_FACTORY = "no_factory_runtime.dll"
# Imports from a DLL that does not exist.
UNLOADABLE = "unloadable_runtime.dll"

TAMPERED = ("Problem verifying runtime's digital signature.  This indicates someone has "
            "potentially tampered with the binary.")
WRONG_PUBLISHER = "Problem verifying publisher No error"
NOT_LOADED = "Failed to load Odrel Runtime Library"
MISMATCH = "Failed to initialize Odrel Runtime library.  Possible Library version mismatch"
LOADED = "no-factory library loaded"
FREED = "no-factory library unloaded by FreeLibrary"
REFUSED = ["Problem, code: -1", PROBLEM_LINE]


@pytest.fixture(scope="session")
def files(pki, tmp_path_factory):
    return verify.RuntimeFiles(pki, build_path, str(tmp_path_factory.mktemp("runtimes")))


def signed_by(library, *signers):
    return lambda files: files.signed(library, *signers)


def spoilt(change, library=NO_FACTORY):
    return lambda files: change(files.signed(library, PUBLISHER))


# Each case: how to make the file, the lines after the announce line, the
# exit status. The refused files are the noisy no-factory library, so a
# refusal that still loads the file shows its "loaded" line. WinVerifyTrust
# gives, under Wine 8: TRUST_E_NOSIGNATURE for no signature, half a file and
# a non-PE file; TRUST_E_BAD_DIGEST for a changed code byte; 0x80096004 for a
# changed signature byte; 0x7A (a positive value) for a cut signature.
CASES = {
    "not signed": (lambda files: files.built(NO_FACTORY), [TAMPERED] + REFUSED, 1),
    "code changed after signing": (spoilt(verify.change_code_byte), [TAMPERED] + REFUSED, 1),
    "signature changed": (spoilt(verify.change_signature_byte), [TAMPERED] + REFUSED, 1),
    "signature cut short": (spoilt(verify.cut_signature), [TAMPERED] + REFUSED, 1),
    "truncated to half": (spoilt(lambda data: data[:len(data) // 2]), [TAMPERED] + REFUSED, 1),
    "not a PE file": (lambda files: b"MZ, or so it says.\r\n" * 200, [TAMPERED] + REFUSED, 1),
    # The test root, made for this session, is in no certificate store: the
    # platform accepts a chain to an unknown root.
    "publisher": (signed_by(SAMPLE, PUBLISHER), [STARTED, SUCCESS_LINE], 0),
    "other publisher": (signed_by(NO_FACTORY, OTHER_PUBLISHER), [WRONG_PUBLISHER] + REFUSED, 1),
    "publisher nested under another": (signed_by(NO_FACTORY, OTHER_PUBLISHER, PUBLISHER),
                                       [WRONG_PUBLISHER] + REFUSED, 1),
    "another nested under publisher": (signed_by(SAMPLE, PUBLISHER, OTHER_PUBLISHER),
                                       [STARTED, SUCCESS_LINE], 0),
    # The module stays loaded after the refusal and is freed by the launcher
    # after "Problem, code" and before the closing line.
    "no NewRuntime": (signed_by(NO_FACTORY, PUBLISHER),
                      [LOADED, MISMATCH, "Problem, code: -1", FREED, PROBLEM_LINE], 1),
    "cannot be loaded": (signed_by(UNLOADABLE, PUBLISHER), [NOT_LOADED] + REFUSED, 1),
}
for _kind, _name in LOOK_ALIKES.items():
    CASES["look-alike publisher, " + _kind] = (signed_by(NO_FACTORY, _name),
                                              [WRONG_PUBLISHER] + REFUSED, 1)


@pytest.mark.parametrize("case", list(CASES))
def test_runtime_file_is_judged(server, files, case):
    make, expected, status = CASES[case]
    body = make(files)
    url = serve_runtime(server, body)
    run = run_launcher(["-u", url])
    assert run.lines == loaded_lines(url) + expected, run
    assert run.returncode == status
    assert run.stderr == ""
    # Refused or not, the file stays as downloaded; the PID file is gone.
    assert work_dir_files() == ["odrelruntime.dll"]
    assert read_work_file("odrelruntime.dll") == body


@pytest.fixture
def drive_c_dir():
    """Makes directories under C:\\odrelverify; removes them all afterwards."""
    top = os.path.join(WINEPREFIX, "drive_c", "odrelverify")
    shutil.rmtree(top, ignore_errors=True)

    def make(*parts):
        path = os.path.join(top, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    yield make
    shutil.rmtree(top, ignore_errors=True)


def run_in(cwd, windows_temp, args):
    """Runs the launcher from |cwd| (Linux path) with the temporary directory
    |windows_temp|."""
    exe = windows_path(launcher_copy())
    command = verify.cmd_line(windows_temp, windows_path(cwd), " ".join([exe] + args))
    completed = subprocess.run(["wine", "cmd", "/c", command], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return Run(completed)


# The runtime path is the temporary directory followed by this.
RUNTIME_IN_TEMP = "odrel\\odrelruntime.dll"


@pytest.mark.parametrize("path_length, expected, status", [
    # The longest path that the publisher inspection's 260-character buffer
    # holds with its terminating null.
    (259, [STARTED, SUCCESS_LINE], 0),
    # One more would leave the buffer unterminated: refused like a path that
    # cannot be converted, before the signature is opened.
    (260, ["Unable to convert to unicode.", "Problem verifying publisher "] + REFUSED, 1),
])
def test_long_runtime_path(server, files, drive_c_dir, path_length, expected, status):
    body = files.signed(SAMPLE, PUBLISHER)
    url = serve_runtime(server, body)
    temp_length = path_length - len(RUNTIME_IN_TEMP)
    # C:\odrelverify\ttt...\ (one long directory, under NAME_MAX)
    name_length = temp_length - len("C:\\odrelverify\\") - 1
    temp = drive_c_dir("t" * name_length)
    windows_temp = windows_path(temp) + "\\"
    assert len(windows_temp) == temp_length
    run = run_in(LAUNCH_DIR, windows_temp, ["-u", url])
    runtime_path = windows_temp + RUNTIME_IN_TEMP
    assert len(runtime_path) == path_length
    assert run.lines == fetch_lines(url + RUNTIME_URL_PATH) + [
        "Verifying digital signature of " + runtime_path] + expected, run
    assert run.returncode == status
    assert sorted(os.listdir(os.path.join(temp, "odrel"))) == ["odrelruntime.dll"]


def test_without_temp_dir_runtime_path_is_relative_to_current_dir(server, files, drive_c_dir):
    # A temporary directory too long for GetTempPathA's buffer leaves the
    # working directory as just odrel\, in the current directory.
    body = files.signed(SAMPLE, PUBLISHER)
    url = serve_runtime(server, body)
    cwd = drive_c_dir("cwd")
    run = run_in(cwd, "C:\\" + "t" * 300, ["-u", url])
    assert run.lines == fetch_lines(url + RUNTIME_URL_PATH) + [
        "Verifying digital signature of " + RUNTIME_IN_TEMP, STARTED, SUCCESS_LINE], run
    assert run.returncode == 0
    with open(os.path.join(cwd, "odrel", "odrelruntime.dll"), "rb") as f:
        assert f.read() == body
    assert os.listdir(os.path.join(cwd, "odrel")) == ["odrelruntime.dll"]
