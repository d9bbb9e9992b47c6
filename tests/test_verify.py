"""The runtime library's signature, signer and loading, with real files: each
is signed at test time with the test PKI (whose root nobody trusts), served
over HTTPS and judged by the real launcher under Wine."""
import pytest

from conftest import (PROBLEM_LINE, SUCCESS_LINE, WINDOWS_RUNTIME_PATH, acquisition_lines,
                      build_path, read_work_file, run_launcher, serve_runtime, work_dir_files)
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
STARTED = "Sample runtime started, stop requested: 0"


@pytest.fixture(scope="session")
def files(pki, tmp_path_factory):
    return verify.RuntimeFiles(pki, build_path, str(tmp_path_factory.mktemp("runtimes")))


def not_signed(files):
    return files.built(SAMPLE)


def signed_by(library, *signers):
    return lambda files: files.signed(library, *signers)


def spoilt(change, library=NO_FACTORY):
    return lambda files: change(files.signed(library, PUBLISHER))


# Each case: how to make the file, the lines after the announce line, the
# exit status. The refused files are the noisy no-factory library, so a
# refusal that still loads the file shows its "loaded" line.
CASES = {
    "not signed": (not_signed, [TAMPERED] + REFUSED, 1),
    "code changed after signing": (spoilt(verify.change_code_byte), [TAMPERED] + REFUSED, 1),
    "signature changed": (spoilt(verify.change_signature_byte), [TAMPERED] + REFUSED, 1),
    "signature cut short": (spoilt(verify.cut_signature), [TAMPERED] + REFUSED, 1),
    "truncated to half": (spoilt(lambda data: data[:len(data) // 2]), [TAMPERED] + REFUSED, 1),
    "not a PE file": (lambda files: b"MZ, or so it says.\r\n" * 200, [TAMPERED] + REFUSED, 1),
    # The test root is in no store: a chain to an unknown root is accepted.
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
    download_url = url + "/download/odrelruntime.dll"
    assert run.lines == acquisition_lines(download_url) + [
        "Fetching latest Odrel Online App from " + download_url,
        "Verifying digital signature of " + WINDOWS_RUNTIME_PATH,
    ] + expected, run
    assert run.returncode == status
    assert run.stderr == ""
    # Refused or not, the file stays as downloaded; the PID file is gone.
    assert work_dir_files() == ["odrelruntime.dll"]
    assert read_work_file("odrelruntime.dll") == body
