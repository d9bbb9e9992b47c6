"""The single-instance guard with real processes: a launcher whose sample
runtime waits for a stop holds the PID file; a second launcher started
meanwhile is refused or not by the instance-name rule; stale, foreign and
unwritable PID files; the file is gone after every run that got past the
check."""
import os

import pytest

from conftest import (PROBLEM_LINE, SUCCESS_LINE, WINDOWS_PID_PATH,
                      acquisition_lines, build_path, launcher_copy, read_work_file, run_launcher,
                      run_with_argv0, serve_runtime, work_dir, work_dir_files)
from fixtures.processes import background, windows_pids_of, windows_processes  # noqa: F401

REFUSAL = ("The Tarrow process is already running. Please check the lock file "
           + WINDOWS_PID_PATH + " if you believe this is an error.")
WAITING = "Sample runtime waiting for a stop request"
STOPPED = "Sample runtime stopped on request, stop requested: 1"


def pid_file_path():
    return os.path.join(work_dir(), "odrelruntime.pid")


def write_pid_file(content):
    os.makedirs(work_dir(), exist_ok=True)
    with open(pid_file_path(), "wb") as f:
        f.write(content)


def start_waiting(background, url, name="odrel.exe"):
    """A launcher called |name| whose runtime waits for a stop request."""
    first = background(launcher_copy(name), ["-u", url, "--wait-stop", "60"])
    assert first.wait_for_line(WAITING), first
    first.unix_pid()  # found now, while it is the only new process of its name
    return first


def stop(first):
    first.press_ctrl_c()
    assert first.finish() == 0, first
    assert first.lines[-2:] == [STOPPED, SUCCESS_LINE], first


def test_running_launcher_holds_its_pid_and_refuses_a_second(background, server,
                                                               signed_runtime):
    url = serve_runtime(server, signed_runtime)
    first = start_waiting(background, url)

    held = read_work_file("odrelruntime.pid")
    assert windows_pids_of("odrel.exe") == [int(held)]
    assert held == str(int(held)).encode()  # plain decimal, no line end
    files = work_dir_files()
    requests = len(server.requests)

    second = run_launcher(["-u", url])
    assert second.lines == [REFUSAL], second
    assert second.returncode == 1
    assert second.stderr == ""
    assert read_work_file("odrelruntime.pid") == held
    assert work_dir_files() == files
    assert len(server.requests) == requests  # the refused one fetched nothing

    assert first.alive()
    stop(first)
    assert "odrelruntime.pid" not in work_dir_files()


# (running launcher's file name, second launcher's file name, refused).
# The second one's instance name (its file name up to the first underscore,
# upper-cased) must be contained in the running one's upper-cased module name.
CROSS_NAMES = [
    ("odrel_ABCDEFG_.exe", "odrel_XYZ.exe", True),      # ODREL in ODREL_ABCDEFG_.EXE
    ("odrel_ABCDEFG_.exe", "odrel.exe", False),         # ODREL.EXE is not
    ("odrel.exe", "ODREL.EXE", True),                   # letter case does not count
    ("odrel.exe", "odrel_ABCDEFG_.exe", True),          # ODREL in ODREL.EXE
    ("myodrel.exe", "odrel.exe", True),                 # containment, not equality
    ("odrel.exe", "other.exe", False),
]


@pytest.mark.parametrize("running, second_name, refused", CROSS_NAMES)
def test_instance_names_across_file_names(background, server, signed_runtime, running,
                                          second_name, refused):
    url = serve_runtime(server, signed_runtime)
    # A second launcher that is let through fetches from a route that
    # delivers no file, so that it never touches the library the first one
    # has loaded.
    server.route("/second/download/odrelruntime.dll", status=204)
    first = start_waiting(background, url, name=running)
    held = read_work_file("odrelruntime.pid")

    second = run_launcher(["-u", url + "/second"], name=second_name)
    if refused:
        assert second.lines == [REFUSAL], second
        assert read_work_file("odrelruntime.pid") == held
    else:
        assert REFUSAL not in second.lines, second
        assert second.lines[-3:] == ["Download failed.", "Problem, code: 0", PROBLEM_LINE], second
        # The file is advisory: the second one wrote its own and removed it.
        assert "odrelruntime.pid" not in work_dir_files()
    assert second.returncode == 1
    stop(first)


# The instance name comes from argv[0] as written, not from the module.
@pytest.mark.parametrize("argv0, refused", [
    ("odrel", True),                              # ODREL, no extension
    ("C:\\odreltest\\ODREL.exe", True),
    ("C:\\some_dir\\odrel.exe", True),            # only the file name is cut
    ("\\odrel.exe", False),                       # keeps its leading separator
    ("_odrel.exe", False),                        # a leading underscore is no cut
])
def test_instance_name_comes_from_argv0(background, server, signed_runtime, argv0, refused):
    url = serve_runtime(server, signed_runtime)
    server.route("/second/download/odrelruntime.dll", status=204)
    first = start_waiting(background, url)
    held = read_work_file("odrelruntime.pid")

    second = run_with_argv0(argv0, ["-u", url + "/second"], name="odrel_spawned.exe")
    if refused:
        assert second.lines == [REFUSAL], second
        assert read_work_file("odrelruntime.pid") == held
    else:
        assert second.lines[-3:] == ["Download failed.", "Problem, code: 0", PROBLEM_LINE], second
    assert second.returncode == 1
    stop(first)


def test_pid_file_of_a_killed_launcher_does_not_block(background, server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    first = start_waiting(background, url)
    held = read_work_file("odrelruntime.pid")
    first.kill()
    # An abnormal end leaves the file behind with the dead process's PID.
    assert read_work_file("odrelruntime.pid") == held
    assert int(held) not in windows_pids_of("odrel.exe")

    run = run_launcher(["-u", url])
    assert run.lines[-1] == SUCCESS_LINE, run
    assert run.returncode == 0
    assert "odrelruntime.pid" not in work_dir_files()


def test_pid_file_naming_a_live_unrelated_program_does_not_block(server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    services = [pid for pid, name in windows_processes() if name.lower() == "services.exe"]
    assert len(services) == 1
    write_pid_file(str(services[0]).encode())

    run = run_launcher(["-u", url])
    assert run.lines[-1] == SUCCESS_LINE, run
    assert run.returncode == 0
    assert "odrelruntime.pid" not in work_dir_files()


@pytest.mark.parametrize("old", [
    b"123456789",      # a longer PID of an ended process: no digit may be left over
    b"4294967295\r\n",
    b"  77xyz",
    b"abc",
    b"",
])
def test_old_content_is_replaced_by_the_new_pid(background, server, signed_runtime, old):
    url = serve_runtime(server, signed_runtime)
    write_pid_file(old)
    first = start_waiting(background, url)
    assert read_work_file("odrelruntime.pid") == str(windows_pids_of("odrel.exe")[0]).encode()
    stop(first)
    assert "odrelruntime.pid" not in work_dir_files()


def unsigned_runtime():
    with open(build_path("odrelruntime.dll"), "rb") as f:
        return f.read()


# Every path past the instance check removes the file at the end; a stale
# file from an earlier run is there at the start, so each path also shows
# that the write replaced it (the launcher does not refuse on a dead PID).
@pytest.mark.parametrize("route, args, closing", [
    ("signed", [], [SUCCESS_LINE]),
    ("signed", ["--message", "Errors: 3"], [PROBLEM_LINE + "Errors: 3"]),
    ("signed", ["--null-object"], ["Odrel Runtime library returned no runtime object.",
                                   PROBLEM_LINE]),
    ("no file", [], ["Download failed.", "Problem, code: 0", PROBLEM_LINE]),
    ("unreachable", [], ["Loading Library Failed.", "Problem, code: -1", PROBLEM_LINE]),
    ("unsigned", [], ["Problem, code: -1", PROBLEM_LINE]),
])
def test_pid_file_is_gone_after_every_run(server, signed_runtime, route, args, closing):
    if route == "signed":
        url = serve_runtime(server, signed_runtime)
    elif route == "unsigned":
        url = serve_runtime(server, unsigned_runtime())
    elif route == "no file":
        server.route("/download/odrelruntime.dll", status=204)
        url = server.url
    else:
        url = "https://127.0.0.1:1"
    write_pid_file(b"123456789")
    run = run_launcher(["-u", url, *args])
    assert REFUSAL not in run.lines
    assert run.lines[-len(closing):] == closing, run
    assert "odrelruntime.pid" not in work_dir_files()


def test_unwritable_pid_file_warns_and_the_run_goes_on(server, signed_runtime):
    # A directory in the file's place: the check finds no number in it, the
    # write cannot open it, and the removal at the end leaves it alone.
    url = serve_runtime(server, signed_runtime)
    os.makedirs(pid_file_path())
    run = run_launcher(["-u", url])
    download_url = url + "/download/odrelruntime.dll"
    assert run.lines[0] == "WARNING: Failed to write to pid file " + WINDOWS_PID_PATH, run
    assert run.lines[1:3] == acquisition_lines(download_url), run
    assert run.lines[-1] == SUCCESS_LINE, run
    assert run.returncode == 0
    assert os.path.isdir(pid_file_path())
