"""Ctrl+C as a stop request, with real processes: SIGINT to the launcher's
Unix process reaches its console control handler as CTRL_C_EVENT. The press
sets the flag that the runtime's StopCheck reads; it never ends the process,
and the run closes as any other run does."""
import time

from conftest import (SUCCESS_LINE, VERIFYING_LINE, launcher_copy, loaded_lines, read_work_file,
                      serve_runtime, work_dir_files)
from fixtures.processes import background  # noqa: F401

WAITING = "Sample runtime waiting for a stop request"
STOPPED = "Sample runtime stopped on request, stop requested: 1"


def test_ctrl_c_while_the_runtime_waits_stops_it(background, server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    run = background(launcher_copy(), ["-u", url, "--wait-stop", "60"])
    assert run.wait_for_line(WAITING), run
    assert read_work_file("odrelruntime.pid") is not None
    run.press_ctrl_c()
    assert run.finish() == 0, run
    assert run.lines == loaded_lines(url) + [
        "Sample runtime started, stop requested: 0", WAITING, STOPPED, SUCCESS_LINE], run
    assert run.stderr == ""
    assert work_dir_files() == ["odrelruntime.dll"]


def test_without_a_press_the_stop_check_stays_0(background, server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    run = background(launcher_copy(), ["-u", url, "--wait-stop", "2", "--stop-threads", "2"])
    assert run.finish() == 1, run
    assert run.lines[-4:] == [
        "Sample runtime started, stop requested: 0", WAITING,
        "Sample runtime gave up waiting for a stop request",
        "Problem running scan. result message: Fail: no stop request arrived"], run


def test_presses_during_a_slow_download_do_not_cut_it_short(background, server,
                                                            signed_runtime):
    # About 6 s of transfer; the presses come early in it.
    chunk_size = 16384
    chunks = -(-len(signed_runtime) // chunk_size)
    server.route("/download/odrelruntime.dll", body=signed_runtime, chunk_size=chunk_size,
                 chunk_delay=6.0 / chunks)
    url = server.url
    fetching = "Fetching latest Odrel Online App from " + url + "/download/odrelruntime.dll"
    run = background(launcher_copy(), ["-u", url, "--wait-stop", "60"])
    assert run.wait_for_line(fetching), run
    time.sleep(0.5)
    run.press_ctrl_c()
    time.sleep(0.3)
    run.press_ctrl_c()  # a second press is answered as well: the process lives on
    assert VERIFYING_LINE not in run.lines_so_far(), \
        "the download ended before the presses; make it slower"

    assert run.finish() == 0, run
    # The download and the signature check went through, and the runtime's
    # very first StopCheck already reports the request.
    assert run.lines == loaded_lines(url) + [
        "Sample runtime started, stop requested: 1", WAITING, STOPPED, SUCCESS_LINE], run
    assert read_work_file("odrelruntime.dll") == signed_runtime
    assert len(server.requests) == 1


def test_many_presses_while_threads_poll_the_stop_check(background, server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    for attempt in range(2):
        run = background(launcher_copy(), ["-u", url, "--wait-stop", "60",
                                           "--stop-threads", "4"])
        assert run.wait_for_line(WAITING), run
        for _ in range(6):
            run.press_ctrl_c()
            time.sleep(0.02)
        assert run.finish(timeout=60) == 0, run
        assert run.lines[-3:] == [WAITING, STOPPED, SUCCESS_LINE], run
        assert run.stderr == ""
        assert work_dir_files() == ["odrelruntime.dll"]
