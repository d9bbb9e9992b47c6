"""Crash reporting: minidumps of crashes in the launcher's process, the
launcher's server on \\\\.\\pipe\\BreakpadCrashServices\\Odrel serving other
Breakpad clients, a server of another process taking the launcher's dumps,
and upload requests. Every minidump is read with Breakpad's own readers."""
import os
import re
import shutil

import pytest

from conftest import (DEPS_PREFIX, PROBLEM_LINE, STARTED, SUCCESS_LINE, WINEPREFIX, build_path,
                      launcher_copy, loaded_lines, run_exe, run_launcher, serve_runtime,
                      windows_path, work_dir, work_dir_files)
from fixtures import crash
from fixtures.crash import CRASH_PIPE, Minidump, dumps_in, wait_for
from fixtures.processes import Background

WAITING = "Sample runtime waiting for a stop request"


@pytest.fixture(scope="module", autouse=True)
def no_crash_debugger():
    crash.disable_crash_debugger()
    yield
    crash.restore_crash_debugger()


def runtime_lines(url):
    return loaded_lines(url) + [STARTED]


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

    def wait_for_dump(self, timeout=30):
        """True once the server has reported a written dump."""
        def reported():
            self.run.wait_for_line(None, timeout=0.2)  # takes in what has arrived
            return any(l.startswith("dump written: ") for l in self.run.lines)
        return wait_for(reported, timeout)

    def stop(self):
        open(self.stop_file, "w").close()
        assert self.run.wait_for_line("stopped", timeout=60), self.run
        self.run.finish()
        os.remove(self.stop_file)


# A pure virtual call in a mingw-w64 library with a static libstdc++: the
# vtable slot refers to __cxa_pure_virtual only weakly, which pulls nothing
# out of the archive, so the slot stays null and the call is an access
# violation executing address 0.
# Under qemu's software emulation, the dump of an access violation in the
# runtime lacks its exception, or the other process's server faults reading
# it; the landed launcher behaves the same there.
EMULATED_DUMPS = pytest.mark.fails_under_emulation(
    "dumps of the runtime's crash lack the exception under software emulation")


@EMULATED_DUMPS
@pytest.mark.parametrize("kind, reason, frame", [
    ("access-violation", "EXCEPTION_ACCESS_VIOLATION_WRITE", "odrelruntime.dll"),
    ("pure-virtual", "EXCEPTION_ACCESS_VIOLATION_EXEC", None),
])
def test_crash_in_the_runtime_leaves_a_dump_of_it(server, signed_runtime, kind, reason, frame):
    # The crash happens on the main thread, the thread that set up crash
    # reporting: the launcher's own server writes the dump of its own
    # process while the crashing thread waits.
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url, "--crash", kind])
    assert run.lines == runtime_lines(url) + ["Sample runtime crashing: " + kind], run
    assert run.returncode not in (0, 1), run
    dump = only_dump(work_dir())
    assert dump.exception_code == 0xC0000005, dump
    assert dump.crash_reason == reason, dump
    if frame:
        assert dump.crashing_frame.startswith(frame), dump
    assert "odrel.exe" in dump.modules and "odrelruntime.dll" in dump.modules, dump
    # An abnormal end skips the closing steps: the PID file stays.
    assert "odrelruntime.pid" in work_dir_files()


# What reaches Breakpad from the runtime's other ways of failing, with this
# toolchain and msvcrt.dll (measured):
# - invalid-parameter: msvcrt.dll's strcpy_s returns ERANGE (34). Breakpad's
#   invalid-parameter hook exists only when built with Microsoft's compiler,
#   and mingw's _set_invalid_parameter_handler for msvcrt.dll keeps the
#   handler in a variable that msvcrt.dll never reads.
# - pure-virtual-crt: msvcrt.dll's _purecall finds no handler (mingw's
#   _set_purecall_handler, like the above, is a stand-in that msvcrt.dll never
#   reads) and ends the process with _amsg_exit, status 255.
# - abort: no exception; the launcher's SIGABRT handler closes the run.
@pytest.mark.parametrize("kind, tail, status", [
    ("invalid-parameter", ["Sample runtime strcpy_s returned 34", SUCCESS_LINE], 0),
    ("pure-virtual-crt", [], 255),
    ("abort", [PROBLEM_LINE + "the runtime library ended abnormally"], 1),
])
def test_failures_that_raise_no_exception_leave_no_dump(server, signed_runtime, kind, tail,
                                                        status):
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url, "--crash", kind])
    assert run.lines == runtime_lines(url) + ["Sample runtime crashing: " + kind] + tail, run
    assert run.returncode == status, run
    assert dumps_in(work_dir()) == []


@EMULATED_DUMPS
def test_a_server_of_another_process_takes_the_launchers_dump(server, signed_runtime,
                                                              other_server_dir):
    other = CrashServer(other_server_dir)
    try:
        url = serve_runtime(server, signed_runtime)
        run = run_launcher(["-u", url, "--crash", "access-violation"])
        assert run.lines == runtime_lines(url) + ["Sample runtime crashing: access-violation"], run
        assert other.wait_for_dump(), other.run
    finally:
        other.stop()
    # The launcher registered there and held no server of its own.
    assert [l.split(":")[0] for l in other.run.lines] == [
        "listening", "client connected", "dump written", "stopped"], other.run
    assert dumps_in(work_dir()) == []
    dump = only_dump(other_server_dir)
    assert other.run.lines[2] == "dump written: " + windows_path(dump.path), other.run
    assert dump.exception_code == 0xC0000005, dump
    assert dump.crashing_frame.startswith("odrelruntime.dll"), dump
    assert "odrel.exe" in dump.modules, dump


def start_waiting_launcher(server, signed_runtime, env=None):
    url = serve_runtime(server, signed_runtime)
    launcher = Background(launcher_copy(), ["-u", url, "--wait-stop", "90"], env=env)
    assert launcher.wait_for_line(WAITING, timeout=60), launcher
    return url, launcher


def stop_launcher(launcher, url):
    launcher.press_ctrl_c()
    assert launcher.finish(timeout=60) == 0, launcher
    assert launcher.lines == runtime_lines(url) + [
        WAITING, "Sample runtime stopped on request, stop requested: 1", SUCCESS_LINE], launcher


def test_the_launchers_server_writes_the_dump_of_a_crashing_client(server, signed_runtime):
    url, launcher = start_waiting_launcher(server, signed_runtime)
    try:
        client = run_exe_lines("crash_client.exe", [CRASH_PIPE, "C:\\nowhere"])
        assert client.lines == ["registered: 1", "dump written: 1"], client
    finally:
        stop_launcher(launcher, url)
    dump = only_dump(work_dir())
    assert dump.exception_code == 0xC0000005, dump
    assert dump.crashing_frame.startswith("crash_client.exe"), dump
    assert "odrel.exe" not in dump.modules, dump


def test_an_upload_request_reaches_the_message_box(server, signed_runtime):
    # Wine's relay trace of user32.MessageBoxW, on the launcher's stderr, is
    # the observable: without a display the box returns at once.
    crash.trace_message_boxes(True)
    try:
        url, launcher = start_waiting_launcher(server, signed_runtime,
                                               env={"WINEDEBUG": "-all,+relay"})
        try:
            request = run_exe_lines("upload_request.exe", [CRASH_PIPE, "42"])
            assert request.lines == ["upload request sent: 1"], request
            assert request.returncode == 0
        finally:
            stop_launcher(launcher, url)
    finally:
        crash.trace_message_boxes(False)
    calls = [l for l in launcher.stderr.splitlines() if "Call user32.MessageBoxW(" in l]
    # No owner window, the text, the caption, MB_OK.
    assert len(calls) == 1 and re.search(
        r'MessageBoxW\(00000000,[0-9a-f]+ L"Client Request Crash Upload",'
        r'[0-9a-f]+ L"Dumper",00000000\)', calls[0]), launcher.stderr[-3000:]
    assert dumps_in(work_dir()) == []


def run_exe_lines(helper, args):
    return run_exe(build_path(helper), args, timeout=60)
