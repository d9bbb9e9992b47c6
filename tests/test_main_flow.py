"""The launcher's sequence from start to exit status, with the signed sample
runtime served over HTTPS: the closing lines, the exit status, the result
message rule and what the runtime library receives."""
import subprocess

import pytest

from conftest import (PROBLEM_LINE, RUNTIME_URL_PATH, STARTED, SUCCESS_LINE, build_path,
                      fetch_lines, loaded_lines, read_work_file, run_launcher, serve_runtime,
                      work_dir_files)


def test_successful_run_prints_the_sequence_and_cleans_up(server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url, "-k", "ABCDEFG"])
    assert run.lines == loaded_lines(url, "ABCDEFG") + [STARTED, SUCCESS_LINE], run
    assert run.returncode == 0
    assert run.stderr == ""
    assert work_dir_files() == ["odrelruntime.dll"]
    assert read_work_file("odrelruntime.dll") == signed_runtime
    assert server.requests[0][1].get("User-Agent") == "Odrel Runtime Bootloader"


@pytest.mark.parametrize("message, closing, status", [
    ("Scan complete", SUCCESS_LINE, 0),
    ("Errors: 0", PROBLEM_LINE + "Errors: 0", 1),
    ("error", SUCCESS_LINE, 0),
    ("FAILED", SUCCESS_LINE, 0),
    ("Failover complete", PROBLEM_LINE + "Failover complete", 1),
    ("", SUCCESS_LINE, 0),
    ("3 files, Error in one", PROBLEM_LINE + "3 files, Error in one", 1),
])
def test_result_message_decides_closing_line_and_status(server, signed_runtime, message,
                                                        closing, status):
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url, "--message", message])
    assert run.lines == loaded_lines(url) + [STARTED, closing], run
    assert run.returncode == status
    assert "odrelruntime.pid" not in work_dir_files()


def test_download_delivering_no_file_is_status_0(server):
    server.route("/download/odrelruntime.dll", status=204)
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_URL_PATH) + [
        "Download failed.", "Problem, code: 0", PROBLEM_LINE], run
    assert run.returncode == 1
    assert work_dir_files() == ["odrelruntime.dll"]


def test_refused_library_is_status_minus_1(server):
    with open(build_path("odrelruntime.dll"), "rb") as f:
        unsigned = f.read()
    url = serve_runtime(server, unsigned)
    run = run_launcher(["-u", url])
    assert run.lines == loaded_lines(url) + [
        "Problem verifying runtime's digital signature.  This indicates someone has "
        "potentially tampered with the binary.",
        "Problem, code: -1", PROBLEM_LINE], run
    assert run.returncode == 1
    assert work_dir_files() == ["odrelruntime.dll"]


def test_runtime_misbehaviour_ends_as_a_problem(server, signed_runtime):
    url = serve_runtime(server, signed_runtime)

    # A null result message counts as an empty one.
    run = run_launcher(["-u", url, "--null-message"])
    assert run.lines == loaded_lines(url) + [STARTED, SUCCESS_LINE], run
    assert run.returncode == 0

    # A null object is never called into.
    run = run_launcher(["-u", url, "--null-object"])
    assert run.lines == loaded_lines(url) + [
        "Odrel Runtime library returned no runtime object.", PROBLEM_LINE], run
    assert run.returncode == 1
    assert work_dir_files() == ["odrelruntime.dll"]

    # An exception cannot cross from the library into the launcher; the run
    # still closes with a problem line, status 1 and no PID file.
    run = run_launcher(["-u", url, "--throw"])
    assert run.lines == loaded_lines(url) + [
        STARTED, PROBLEM_LINE + "the runtime library ended abnormally"], run
    assert run.returncode == 1
    assert work_dir_files() == ["odrelruntime.dll"]


def test_runtime_receives_the_unchanged_command_line(server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    args = ["-u", url, "--print-args", "", "two words", 'a"quote', "-x", "", "-k", "ABCDEFG"]
    run = run_launcher(args, name="odrel.exe")
    received = [line[len("Sample runtime argv: ["):-1] for line in run.lines
                if line.startswith("Sample runtime argv: [")]
    assert "Sample runtime argc %d" % (len(args) + 1) in run.lines
    assert received == ["C:\\odreltest\\odrel.exe"] + args
    assert run.returncode == 0


def test_launcher_is_a_static_console_pe32():
    exe = build_path("odrel.exe")
    assert "PE32 executable (console) Intel 80386" in subprocess.run(
        ["file", exe], stdout=subprocess.PIPE, check=True).stdout.decode()
    imports = [line.split()[-1].lower() for line in subprocess.run(
        ["i686-w64-mingw32-objdump", "-p", exe], stdout=subprocess.PIPE,
        check=True).stdout.decode().splitlines() if "DLL Name:" in line]
    system_dlls = {"advapi32.dll", "bcrypt.dll", "crypt32.dll", "dbghelp.dll", "iphlpapi.dll",
                   "kernel32.dll", "msvcrt.dll", "ole32.dll", "psapi.dll", "rpcrt4.dll",
                   "shell32.dll", "user32.dll", "wintrust.dll", "ws2_32.dll", "gdi32.dll"}
    assert imports and set(imports) <= system_dlls, imports
