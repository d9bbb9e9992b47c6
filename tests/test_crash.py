"""Crash reporting: minidumps of crashes in the launcher's process, the
launcher's server on \\\\.\\pipe\\BreakpadCrashServices\\Odrel serving other
Breakpad clients, a server of another process taking the launcher's dumps,
and upload requests. Every minidump is read with Breakpad's own readers."""
import os
import shutil

import pytest

from conftest import (DEPS_PREFIX, PROBLEM_LINE, SUCCESS_LINE, WINDOWS_RUNTIME_PATH, WINEPREFIX,
                      build_path, launcher_copy, run_launcher, serve_runtime, windows_path,
                      work_dir, work_dir_files)
from fixtures import crash
from fixtures.crash import CRASH_PIPE, Minidump, dumps_in, wait_for
from fixtures.processes import Background

STARTED = "Sample runtime started, stop requested: 0"
WAITING = "Sample runtime waiting for a stop request"


@pytest.fixture(scope="module", autouse=True)
def no_crash_debugger():
    crash.disable_crash_debugger()
    yield
    crash.restore_crash_debugger()


def runtime_lines(url):
    download_url = url + "/download/odrelruntime.dll"
    return [" Download URL is " + download_url,
            " Using short code **INVALID FORMAT**",
            "Fetching latest Odrel Online App from " + download_url,
            "Verifying digital signature of " + WINDOWS_RUNTIME_PATH,
            STARTED]


def only_dump(directory):
    dumps = dumps_in(directory)
    assert len(dumps) == 1, (directory, os.listdir(directory) if os.path.isdir(directory) else None)
    return Minidump(dumps[0], DEPS_PREFIX)


@pytest.fixture
def other_server_dir():
    """A dump directory of the test's own crash server, C:\\odrelcrashsrv."""
    path = os.path.join(WINEPREFIX, "drive_c", "odrelcrashsrv")
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    yield path
    shutil.rmtree(path, ignore_errors=True)


class CrashServer:
    """tests/helpers/crash_server.exe serving the launcher's pipe into
    |directory| until stop() (or 120 s)."""

    def __init__(self, directory):
        self.directory = directory
        self.stop_file = os.path.join(directory, "stop")
        self.run = Background(build_path("crash_server.exe"),
                              [CRASH_PIPE, windows_path(directory), "120",
                               windows_path(self.stop_file)])
        assert self.run.wait_for_line("listening: 1", timeout=60), self.run

    def stop(self):
        open(self.stop_file, "w").close()
        assert self.run.wait_for_line("stopped", timeout=60), self.run
        self.run.finish()
        os.remove(self.stop_file)


def test_crash_in_the_runtime_leaves_a_dump_of_the_access_violation(server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url, "--crash", "access-violation"])
    assert run.lines == runtime_lines(url) + ["Sample runtime crashing: access-violation"], run
    assert run.returncode not in (0, 1), run
    dump = only_dump(work_dir())
    assert dump.exception_code == 0xC0000005, dump
    assert dump.crash_reason == "EXCEPTION_ACCESS_VIOLATION_WRITE", dump
    assert dump.crashing_frame.startswith("odrelruntime.dll"), dump
    assert "odrel.exe" in dump.modules and "odrelruntime.dll" in dump.modules, dump
    # An abnormal end skips the closing steps: the PID file stays.
    assert "odrelruntime.pid" in work_dir_files()
