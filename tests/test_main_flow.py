"""The launcher's sequence from start to exit status, with a signed sample
runtime served over HTTPS."""
import pytest

from conftest import (PROBLEM_LINE, SUCCESS_LINE, WINDOWS_RUNTIME_PATH, acquisition_lines,
                      read_work_file, run_launcher, serve_runtime, work_dir_files)


def test_successful_run_prints_the_sequence_and_cleans_up(server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url, "-k", "ABCDEFG"])
    download_url = url + "/download/odrelruntime.dll"
    assert run.lines == acquisition_lines(download_url, "ABCDEFG") + [
        "Fetching latest Odrel Online App from " + download_url,
        "Verifying digital signature of " + WINDOWS_RUNTIME_PATH,
        "Sample runtime started, stop requested: 0",
        SUCCESS_LINE,
    ], run
    assert run.returncode == 0
    assert work_dir_files() == ["odrelruntime.dll"]
    assert read_work_file("odrelruntime.dll") == signed_runtime
    assert server.requests[0][1].get("User-Agent") == "Odrel Runtime Bootloader"
