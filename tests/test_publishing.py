"""The runtime publisher's kit: the SDK that tools/runtime-sdk.sh writes, a
runtime library built from it alone, and tools/check-runtime.sh, judged on a
table of real files made at test time (built, signed with the test PKI,
timestamped by a timestamp authority on 127.0.0.1, spoilt). Under Wine, the
real launcher then gets each file and prints the line that the check
predicted."""
import os
import re
import shutil
import subprocess

import pytest

from conftest import (ROOT, STARTED, SUCCESS_LINE, build_path, loaded_lines, run_launcher,
                      serve_runtime)
from fixtures import verify
from fixtures.pki import LOOK_ALIKES, OTHER_PUBLISHER, PUBLISHER
from fixtures.timestamp_authority import TimestampAuthority

TAMPERED = ("Problem verifying runtime's digital signature.  This indicates someone has "
            "potentially tampered with the binary.")
WRONG_PUBLISHER = "Problem verifying publisher No error"
NOT_LOADED = "Failed to load Odrel Runtime Library"
MISMATCH = "Failed to initialize Odrel Runtime library.  Possible Library version mismatch"

SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"
SIGN = ("osslsigncode sign -certs CERT -key KEY -ac CHAIN -h sha256 -ts TIMESTAMP_URL "
        "-in BUILT.dll -out odrelruntime.dll")
FACTORY = 'extern "C" __declspec(dllexport) RuntimeObject* NewRuntime();'
PUBLISHER_CERT = ('sign it with the publisher\'s certificate, whose subject common name is '
                  'exactly "Odrel Online, Inc."')
ACCEPTED = "verdict: accepted"

# A runtime's own project: a few lines against the SDK's package.
SDK_PROJECT = """\
cmake_minimum_required(VERSION 3.16)
project(sdk_runtime CXX)
find_package(OdrelRuntime {version} CONFIG REQUIRED)
add_library(odrelruntime SHARED sdk_runtime.cc)
set_target_properties(odrelruntime PROPERTIES PREFIX "")
target_link_libraries(odrelruntime PRIVATE Odrel::Runtime)
"""


def refused(what, line, change):
    return 'refused: %s; the launcher prints "%s"; %s' % (what, line, change)


def refused_verdict(line):
    return 'verdict: refused; users see "%s"' % line


def run(args):
    completed = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=600)
    return completed.returncode, completed.stdout.decode("latin-1")


def check(path, ca):
    """(exit status, output lines) of the check of |path|."""
    status, output = run([os.path.join(ROOT, "tools", "check-runtime.sh"), "--ca", ca, path])
    return status, output.splitlines()


def cmake_build(source, build, *configure_args):
    """(status, output) of configuring and building |source| into |build|."""
    status, output = run(["cmake", "-S", source, "-B", build, *configure_args])
    if status == 0:
        status, more = run(["cmake", "--build", build])
        output += more
    return status, output


@pytest.fixture(scope="session")
def sdk(tmp_path_factory):
    """The SDK, written and then moved, as a runtime author's copy would be."""
    written = str(tmp_path_factory.mktemp("sdk-written") / "sdk")
    status, output = run([os.path.join(ROOT, "tools", "runtime-sdk.sh"), written])
    assert status == 0, output
    moved = str(tmp_path_factory.mktemp("sdk-moved") / "odrel-sdk")
    shutil.move(written, moved)
    return moved


@pytest.fixture(scope="session")
def tsa(pki, tmp_path_factory):
    authority = TimestampAuthority(pki, str(tmp_path_factory.mktemp("tsa")))
    authority.start()
    yield authority
    authority.stop()


@pytest.fixture(scope="session")
def sdk_runtime(sdk, tmp_path_factory):
    """(project folder, built DLL) of a runtime written against the SDK alone,
    in a folder outside the repository, built for release."""
    project = str(tmp_path_factory.mktemp("sdk-runtime"))
    shutil.copy(os.path.join(ROOT, "tests", "helpers", "sdk_runtime.cc"), project)
    with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
        f.write(SDK_PROJECT.format(version="1.0"))
    build = os.path.join(project, "build")
    status, output = cmake_build(project, build, "-DCMAKE_BUILD_TYPE=Release",
                                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(sdk, "toolchain.cmake"),
                                 "-DCMAKE_PREFIX_PATH=" + sdk)
    assert status == 0, output
    return project, os.path.join(build, "odrelruntime.dll")


@pytest.fixture(scope="session")
def sdk_sample(sdk, tmp_path_factory):
    """The SDK's sample, built with the command its README gives."""
    build = str(tmp_path_factory.mktemp("sdk-sample"))
    status, output = cmake_build(os.path.join(sdk, "sample"), build,
                                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(sdk, "toolchain.cmake"))
    assert status == 0, output
    return os.path.join(build, "odrelruntime.dll")


@pytest.fixture(scope="session")
def x86_64_runtime(tmp_path_factory):
    """A 64-bit DLL exporting NewRuntime, linked by the host's binutils."""
    out = str(tmp_path_factory.mktemp("x86-64"))
    obj, coff, dll = (os.path.join(out, name) for name in ("runtime.o", "runtime.obj",
                                                           "odrelruntime.dll"))
    for args in (["as", "--64", "-o", obj, os.path.join(ROOT, "tests", "helpers",
                                                        "x86_64_runtime.s")],
                 ["objcopy", "-O", "pe-x86-64", obj, coff],
                 ["ld", "-m", "i386pep", "--dll", "--export-all-symbols", "-e", "0", "-o", dll,
                  coff]):
        status, output = run(args)
        assert status == 0, output
    return dll


@pytest.fixture(scope="session")
def files(pki, sdk_sample, x86_64_runtime, tmp_path_factory):
    built = {"sdk sample": sdk_sample, "x86-64": x86_64_runtime}
    return verify.RuntimeFiles(pki, lambda name: built.get(name) or build_path(name),
                               str(tmp_path_factory.mktemp("publishing")))


def publisher_expiry(pki):
    """The publisher certificate's expiry, as the check prints it."""
    status, output = run(["openssl", "x509", "-in", pki.signer(PUBLISHER)[0], "-noout",
                          "-enddate", "-dateopt", "iso_8601"])
    assert status == 0, output
    return output.strip()[len("notAfter="):]


def timestamped(library, *signers):
    return lambda files, tsa: files.signed(library, *signers, timestamp_url=tsa.url)


def spoilt(change):
    return lambda files, tsa: change(timestamped("sdk sample", PUBLISHER)(files, tsa))


def tampered(what, change):
    return [refused(what, TAMPERED, change), refused_verdict(TAMPERED)]


# Each case: how to make the file, the roots the check trusts, the lines the
# check prints ({expiry}: the publisher certificate's expiry), its exit
# status. Refused files are timestamped, so that each shows its one problem.
UNKNOWN_ROOT = "chain to an unknown root"
CASES = {
    "good, timestamped": (timestamped("sdk sample", PUBLISHER), "pki", [ACCEPTED], 0),
    "good, not timestamped": (lambda files, tsa: files.signed("sdk sample", PUBLISHER), "pki", [
        "warning: not timestamped: from {expiry}, when the signing certificate expires, the "
        "launcher prints \"%s\"; sign it with a timestamp (osslsigncode sign -ts TIMESTAMP_URL)"
        % TAMPERED,
        ACCEPTED], 0),
    "not signed": (lambda files, tsa: files.built("sdk sample"), "pki",
                   tampered("not signed", "sign it: " + SIGN), 1),
    "changed after signing": (
        spoilt(verify.change_code_byte), "pki",
        tampered("changed after signing (its digest differs from the signed one)",
                 "sign last, after every other change to the file, and publish the signed "
                 "file unchanged"), 1),
    "signature cut short": (spoilt(verify.cut_signature), "pki",
                            tampered("its signature cannot be read (cut short or damaged)",
                                     "sign the built file again: " + SIGN), 1),
    "not a PE file": (lambda files, tsa: b"MZ, or so it says.\r\n" * 200, "pki",
                      tampered("not a Windows PE file",
                               "publish the odrelruntime.dll that the build wrote"), 1),
    # The test root is not among the system's roots, and neither the
    # signature's chain nor the timestamp's reaches one of them.
    UNKNOWN_ROOT: (timestamped("sdk sample", PUBLISHER), SYSTEM_ROOTS, [
        refused("its certificate chain does not reach a root in %s (self-signed certificate in "
                "certificate chain)" % SYSTEM_ROOTS, TAMPERED,
                "sign with a certificate from a certification authority that Windows trusts, "
                "and pass its intermediate certificates with -ac"),
        "warning: its timestamp does not verify against %s: from {expiry}, when the signing "
        "certificate expires, the launcher may print \"%s\"; sign it with a timestamp from an "
        "authority that Windows trusts (osslsigncode sign -ts TIMESTAMP_URL)"
        % (SYSTEM_ROOTS, TAMPERED),
        refused_verdict(TAMPERED)], 1),
    "other publisher": (timestamped("sdk sample", OTHER_PUBLISHER), "pki", [
        refused('signed by "Other Software Ltd", not "Odrel Online, Inc."', WRONG_PUBLISHER,
                PUBLISHER_CERT),
        refused_verdict(WRONG_PUBLISHER)], 1),
    "publisher nested under another": (
        timestamped("sdk sample", OTHER_PUBLISHER, PUBLISHER), "pki", [
            refused('signed by "Other Software Ltd", not "Odrel Online, Inc."; the publisher\'s '
                    'signature is only nested under it (index 1), and launchers read the '
                    'primary signature only', WRONG_PUBLISHER,
                    "sign the built file with the publisher's certificate first; nest any other "
                    "signature under it (-nest)"),
            refused_verdict(WRONG_PUBLISHER)], 1),
    "linked against the toolchain's runtime DLLs": (
        timestamped("shared_cxx_runtime.dll", PUBLISHER), "pki", [
            refused("imports libgcc_s_dw2-1.dll, libstdc++-6.dll, which users' machines lack",
                    NOT_LOADED, "link the toolchain's runtime in: -static -static-libgcc "
                    "-static-libstdc++ (the SDK's toolchain.cmake and Odrel::Runtime do)"),
            refused_verdict(NOT_LOADED)], 1),
    "a 64-bit DLL": (timestamped("x86-64", PUBLISHER), "pki", [
        refused("a 64-bit DLL", NOT_LOADED,
                "build it with the SDK's toolchain.cmake (i686-w64-mingw32)"),
        refused_verdict(NOT_LOADED)], 1),
    "NewRuntime mangled": (timestamped("mangled_runtime.dll", PUBLISHER), "pki", [
        refused("NewRuntime exported C++-mangled, as _Z10NewRuntimev", MISMATCH,
                'declare it extern "C": ' + FACTORY),
        refused_verdict(MISMATCH)], 1),
    "NewRuntime stdcall-decorated": (timestamped("stdcall_runtime.dll", PUBLISHER), "pki", [
        refused("NewRuntime exported stdcall-decorated, as NewRuntime@0", MISMATCH,
                "declare it without __stdcall or WINAPI: " + FACTORY),
        refused_verdict(MISMATCH)], 1),
    "NewRuntime in other letters": (timestamped("no_factory_runtime.dll", PUBLISHER), "pki", [
        refused("exports newruntime, not NewRuntime (the name is case-sensitive)", MISMATCH,
                "export " + FACTORY),
        refused_verdict(MISMATCH)], 1),
    # Loaded like a DLL, without its imports or start-up code; it exports
    # nothing.
    "an EXE": (timestamped("spawn.exe", PUBLISHER), "pki", [
        refused("an EXE, not a DLL", MISMATCH, "build a DLL: add_library(odrelruntime SHARED ...)"),
        refused("exports no NewRuntime", MISMATCH, "export " + FACTORY),
        refused_verdict(MISMATCH)], 1),
}
for _kind, _name in LOOK_ALIKES.items():
    CASES["look-alike publisher, " + _kind] = (timestamped("sdk sample", _name), "pki", [
        refused('signed by "%s", not "Odrel Online, Inc." (differs by: %s)' % (_name, _kind),
                WRONG_PUBLISHER, PUBLISHER_CERT),
        refused_verdict(WRONG_PUBLISHER)], 1)


def case_file(case, files, tsa, directory):
    path = os.path.join(str(directory), "odrelruntime.dll")
    with open(path, "wb") as f:
        f.write(CASES[case][0](files, tsa))
    return path


def roots(pki, ca):
    return pki.root_cert if ca == "pki" else ca


@pytest.mark.host_only
@pytest.mark.parametrize("case", list(CASES))
def test_check_verdict(pki, tsa, files, tmp_path, case):
    _, ca, expected, expected_status = CASES[case]
    expiry = publisher_expiry(pki)
    expected = [line.replace("{expiry}", expiry) for line in expected]
    status, lines = check(case_file(case, files, tsa, tmp_path), roots(pki, ca))
    assert lines == expected
    assert status == expected_status


def predicted_line(lines):
    """The line that the check's verdict says users see, or None."""
    found = re.fullmatch(r'verdict: refused; users see "(.*)"', lines[-1])
    return found.group(1) if found else None


@pytest.mark.parametrize("case", [
    pytest.param(case, marks=pytest.mark.skip(
        reason="Wine's WinVerifyTrust accepts a chain to an unknown root"))
    if case == UNKNOWN_ROOT else case
    for case in CASES])
def test_launcher_prints_the_predicted_line(server, pki, tsa, files, tmp_path, case):
    path = case_file(case, files, tsa, tmp_path)
    status, lines = check(path, roots(pki, CASES[case][1]))
    with open(path, "rb") as f:
        url = serve_runtime(server, f.read())
    run = run_launcher(["-u", url])
    # The no-factory fixture reports its own loading and unloading.
    launcher_lines = [line for line in run.lines if not line.startswith("no-factory library ")]
    expected = loaded_lines(url)
    if status == 0:
        assert launcher_lines == expected + [STARTED, SUCCESS_LINE], run
        assert run.returncode == 0
    else:
        assert launcher_lines[:len(expected) + 1] == expected + [predicted_line(lines)], run
        assert run.returncode == 1


@pytest.mark.host_only
def test_runtime_built_from_the_sdk_alone(pki, tsa, sdk, sdk_runtime):
    project, dll = sdk_runtime
    # Every header it was compiled with came from the SDK or the toolchain.
    depfile = os.path.join(project, "build", "CMakeFiles", "odrelruntime.dir",
                           "sdk_runtime.cc.obj.d")
    with open(depfile) as f:
        headers = [p for p in f.read().replace("\\\n", " ").split()[1:] if p.endswith(".h")
                   or p.endswith(".hpp")]
    assert any(p == os.path.join(sdk, "include", "odrel_runtime.h") for p in headers), headers
    assert [p for p in headers if not p.startswith((sdk + os.sep, "/usr/"))] == []
    # DWARF names the factory's source line; a release build keeps the frame
    # pointer (push %ebp; mov %esp,%ebp) for the crash dumps' stack walk.
    _, symbols = run(["i686-w64-mingw32-nm", dll])
    address = next(line.split()[0] for line in symbols.splitlines()
                   if line.endswith(" T _NewRuntime"))
    _, where = run(["i686-w64-mingw32-addr2line", "-f", "-e", dll, "0x" + address])
    function, source_line = where.splitlines()
    assert function == "NewRuntime"
    assert source_line.startswith(os.path.join(project, "sdk_runtime.cc") + ":"), where
    _, code = run(["i686-w64-mingw32-objdump", "-d", "--disassemble=_NewRuntime", dll])
    instructions = [line.split("\t")[-1].split() for line in code.splitlines() if "\t" in line]
    assert instructions[:2] == [["push", "%ebp"], ["mov", "%esp,%ebp"]], code
    # Signed with a timestamp, no launcher refuses it.
    signed = os.path.join(project, "build", "signed.dll")
    pki.sign(dll, signed, PUBLISHER, timestamp_url=tsa.url)
    assert check(signed, pki.root_cert) == (0, [ACCEPTED])


def test_launcher_runs_the_runtime_built_from_the_sdk(server, pki, tsa, sdk_runtime, tmp_path):
    signed = os.path.join(str(tmp_path), "odrelruntime.dll")
    pki.sign(sdk_runtime[1], signed, PUBLISHER, timestamp_url=tsa.url)
    with open(signed, "rb") as f:
        url = serve_runtime(server, f.read())
    run = run_launcher(["-u", url])
    assert run.lines == loaded_lines(url) + ["SDK runtime ran, stop requested: 0",
                                             SUCCESS_LINE], run
    assert run.returncode == 0


@pytest.mark.host_only
@pytest.mark.parametrize("version, for_windows, considered", [
    ("2.0", True, "version: 1.0"),
    ("1.1", True, "version: 1.0"),
    # A build for this 64-bit host, not with the SDK's toolchain.
    ("1.0", False, "version: 1.0 (32-bit only, this build is 64-bit)"),
])
def test_package_refuses_another_contract_at_configure_time(sdk, tmp_path, version, for_windows,
                                                            considered):
    project = str(tmp_path)
    with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
        f.write(SDK_PROJECT.format(version=version))
    args = ["-DCMAKE_PREFIX_PATH=" + sdk]
    if for_windows:
        args.append("-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(sdk, "toolchain.cmake"))
    status, output = run(["cmake", "-S", project, "-B", os.path.join(project, "build"), *args])
    assert status != 0, output
    assert 'compatible with requested version "%s"' % version in output, output
    config = os.path.join(sdk, "lib", "cmake", "OdrelRuntime", "OdrelRuntimeConfig.cmake")
    assert "%s, %s" % (config, considered) in " ".join(output.split()), output
