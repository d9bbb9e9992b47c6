"""The runtime download: the real launcher under Wine fetching from a real
HTTPS server on 127.0.0.1 (its certificate chains to a root nobody trusts),
directly or through a local proxy. Each case checks the console lines in
order, the exit status, the request the server saw and what is left in the
working directory."""
import os
import subprocess

import pytest

from conftest import (DEPS_PREFIX, LAUNCH_DIR, PROBLEM_LINE, STARTED, SUCCESS_LINE, VERIFYING_LINE,
                      acquisition_lines, fetch_lines, read_work_file, run_launcher, serve_runtime,
                      work_dir, work_dir_files)
from fixtures.proxy import Proxy, closed_port

RUNTIME_PATH = "/download/odrelruntime.dll"
USER_AGENT = "Odrel Runtime Bootloader"
# curl.exe of the dependency prefix needs the toolchain's libwinpthread-1.dll.
MINGW_DLL_DIR = "Z:\\usr\\i686-w64-mingw32\\lib"

# What follows the download's own lines, by its result.
AFTER_NO_FILE = ["Download failed.", "Problem, code: 0", PROBLEM_LINE]
AFTER_FAILURE = ["Loading Library Failed.", "Problem, code: -1", PROBLEM_LINE]
AFTER_UNSIGNED = [
    VERIFYING_LINE,
    "Problem verifying runtime's digital signature.  This indicates someone has "
    "potentially tampered with the binary.",
    "Problem, code: -1", PROBLEM_LINE]
AFTER_SIGNED = [VERIFYING_LINE, STARTED, SUCCESS_LINE]


def problem_line(status):
    return "Problem Downloading Odrel Online App, HTTP response %d received from server." % status


def unsigned_body(size):
    """Bytes that are no signed library: the launcher downloads and refuses them."""
    return os.urandom(size)


def leave_earlier_copy(content=b"copy an earlier start left behind"):
    os.makedirs(work_dir(), exist_ok=True)
    with open(os.path.join(work_dir(), "odrelruntime.dll"), "wb") as f:
        f.write(content)


def assert_launcher_request(request, path=RUNTIME_PATH):
    """The launcher's GET: the user agent and libcurl's default headers, no
    header of its own beyond that (no range, no condition)."""
    got_path, headers = request
    assert got_path == path
    assert headers.get("User-Agent") == USER_AGENT
    assert sorted(h.lower() for h in headers) == ["accept", "host", "user-agent"], headers


@pytest.fixture
def proxy():
    p = Proxy().start()
    yield p
    p.stop()


# --- Statuses -------------------------------------------------------------

def test_200_delivers_the_signed_runtime_byte_for_byte(server, signed_runtime):
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url, "-k", "ABCDEFG"])
    assert run.lines == fetch_lines(url + RUNTIME_PATH, "ABCDEFG") + AFTER_SIGNED, run
    assert run.returncode == 0
    assert work_dir_files() == ["odrelruntime.dll"]
    assert read_work_file("odrelruntime.dll") == signed_runtime
    assert len(server.requests) == 1
    assert_launcher_request(server.requests[0])


def test_200_body_larger_than_the_file_buffer_arrives_whole(server):
    # Several MiB in small chunks: every chunk reaches the file, in order.
    body = unsigned_body(3 * 1024 * 1024 + 12345)
    server.route(RUNTIME_PATH, body=body, chunk_size=7000)
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_PATH) + AFTER_UNSIGNED, run
    assert run.returncode == 1
    assert read_work_file("odrelruntime.dll") == body


# The file afterwards: the body as received, or None for no file at all.
@pytest.mark.parametrize("status, headers, body, after, left", [
    (201, {}, b"created", AFTER_NO_FILE, b"created"),
    (204, {}, b"", AFTER_NO_FILE, b""),
    (206, {"Content-Range": "bytes 0-6/100"}, b"partial", AFTER_NO_FILE, b"partial"),
    (299, {}, b"odd 2xx", AFTER_NO_FILE, b"odd 2xx"),
    (304, {}, b"", AFTER_NO_FILE, b""),
    (301, {}, b"moved, but where?", [problem_line(301)] + AFTER_FAILURE, None),
    (403, {}, b"forbidden", [problem_line(403)] + AFTER_FAILURE, None),
    (404, {}, b"not here", [problem_line(404)] + AFTER_FAILURE, None),
    (500, {}, b"broken", [problem_line(500)] + AFTER_FAILURE, None),
    (503, {"Retry-After": "1"}, b"busy", [problem_line(503)] + AFTER_FAILURE, None),
])
def test_status_decides_lines_and_file(server, status, headers, body, after, left):
    server.route(RUNTIME_PATH, status=status, headers=headers, body=body)
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_PATH) + after, run
    assert run.returncode == 1
    assert read_work_file("odrelruntime.dll") == left
    assert work_dir_files() == ([] if left is None else ["odrelruntime.dll"])
    assert len(server.requests) == 1, "nothing is retried"
    assert_launcher_request(server.requests[0])


# --- Redirects ------------------------------------------------------------

def test_redirect_chain_ending_in_200_is_followed(server, signed_runtime):
    base = server.url
    server.route(RUNTIME_PATH, status=302, location="/hop/1")
    server.route("/hop/1", status=301, location=base + "/hop/2")
    server.route("/hop/2", status=307, location="https://localhost:%d/hop/3" % server.port)
    server.route("/hop/3", status=308, location="/final/odrelruntime.dll")
    server.route("/final/odrelruntime.dll", body=signed_runtime)
    run = run_launcher(["-u", base])
    # The lines name the URL that was asked for, not where it ended.
    assert run.lines == fetch_lines(base + RUNTIME_PATH) + AFTER_SIGNED, run
    assert run.returncode == 0
    assert read_work_file("odrelruntime.dll") == signed_runtime
    assert [r[0] for r in server.requests] == [
        RUNTIME_PATH, "/hop/1", "/hop/2", "/hop/3", "/final/odrelruntime.dll"]
    for request in server.requests:
        assert request[1].get("User-Agent") == USER_AGENT


@pytest.mark.parametrize("final_status", [404, 500])
def test_redirect_ending_in_an_error_reports_the_last_status(server, final_status):
    server.route(RUNTIME_PATH, status=302, location="/gone")
    server.route("/gone", status=final_status, body=b"error page")
    leave_earlier_copy()
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_PATH) + [
        problem_line(final_status)] + AFTER_FAILURE, run
    assert run.returncode == 1
    assert work_dir_files() == []
    assert [r[0] for r in server.requests] == [RUNTIME_PATH, "/gone"]


def test_redirect_ending_in_304_delivers_no_file(server):
    server.route(RUNTIME_PATH, status=303, location="/not-modified")
    server.route("/not-modified", status=304)
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_PATH) + AFTER_NO_FILE, run
    assert read_work_file("odrelruntime.dll") == b""


# A redirect chain of |hops| redirects (None: a loop that redirects to itself),
# and what it ends in. libcurl follows at most 30 redirects for the launcher.
@pytest.mark.parametrize("hops, requests, after", [
    (None, 31, ["Number of redirects hit maximum amount"] + AFTER_FAILURE),
    (30, 31, AFTER_SIGNED),
    (31, 31, ["Number of redirects hit maximum amount"] + AFTER_FAILURE),
], ids=["loop", "30 hops", "31 hops"])
def test_redirects_are_limited_to_30(server, signed_runtime, hops, requests, after):
    if hops is None:
        server.route(RUNTIME_PATH, status=302, location=RUNTIME_PATH)
    else:
        paths = [RUNTIME_PATH] + ["/hop/%d" % i for i in range(1, hops + 1)]
        for here, there in zip(paths, paths[1:]):
            server.route(here, status=302, location=there)
        server.route(paths[-1], body=signed_runtime)
    leave_earlier_copy()
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_PATH) + after, run
    assert len(server.requests) == requests
    if after == AFTER_SIGNED:
        assert run.returncode == 0
        assert read_work_file("odrelruntime.dll") == signed_runtime
    else:
        assert run.returncode == 1
        assert work_dir_files() == []


# --- Transfer failures ----------------------------------------------------

def test_connection_closed_mid_body_leaves_no_file(server):
    body = unsigned_body(300000)
    server.route(RUNTIME_PATH, body=body, truncate_at=100000)
    leave_earlier_copy()
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_PATH) + [
        "Transferred a partial file"] + AFTER_FAILURE, run
    assert run.returncode == 1
    assert work_dir_files() == []


def test_refused_connection(server):
    url = "https://127.0.0.1:%d" % closed_port()
    run = run_launcher(["-u", url])
    assert run.lines == fetch_lines(url + RUNTIME_PATH) + [
        "Couldn't connect to server"] + AFTER_FAILURE, run
    assert run.returncode == 1
    assert work_dir_files() == []


def test_url_without_scheme_and_host_is_refused_by_libcurl():
    # An empty -u leaves the bare runtime path, even with a valid short code.
    leave_earlier_copy()
    run = run_launcher(["-u", "", "-k", "ABCDEFG"])
    assert run.lines == fetch_lines(RUNTIME_PATH, "ABCDEFG") + [
        "URL using bad/illegal format or missing URL"] + AFTER_FAILURE, run
    assert run.returncode == 1
    assert work_dir_files() == []


@pytest.fixture
def file_url_tree():
    """C:\\odreltest\\files\\download\\odrelruntime.dll, served by file://."""
    directory = os.path.join(LAUNCH_DIR, "files", "download")
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "odrelruntime.dll"), "wb") as f:
        f.write(b"a runtime read from disk")
    return "file:///C:/odreltest/files"


@pytest.mark.parametrize("sub, second_line", [
    # The file is read, but a file:// transfer has no HTTP status: 0 is refused.
    ("", problem_line(0)),
    ("/missing", "Couldn't read a file:// file"),
])
def test_file_url_has_no_http_status(file_url_tree, sub, second_line):
    url = file_url_tree + sub
    leave_earlier_copy()
    run = run_launcher(["-u", url])
    assert run.lines == fetch_lines(url + RUNTIME_PATH) + [second_line] + AFTER_FAILURE, run
    assert run.returncode == 1
    assert work_dir_files() == []


def test_output_file_that_cannot_be_opened_is_no_download(server, signed_runtime):
    # A directory where the file belongs: fopen fails, nothing is fetched and
    # the download prints nothing of its own.
    url = serve_runtime(server, signed_runtime)
    os.makedirs(os.path.join(work_dir(), "odrelruntime.dll"))
    run = run_launcher(["-u", url])
    assert run.lines == acquisition_lines(url + RUNTIME_PATH) + AFTER_NO_FILE, run
    assert run.returncode == 1
    assert server.requests == []


# --- The copy an earlier start left ---------------------------------------

@pytest.mark.parametrize("route, left", [
    (dict(status=404, body=b"missing"), None),
    (dict(status=500), None),
    (dict(status=204), b""),
    (dict(status=304), b""),
    (dict(status=206, body=b"part"), b"part"),
    (dict(body=b"x" * 50000, truncate_at=20000), None),
])
def test_earlier_copy_is_gone_after_a_failed_start(server, signed_runtime, route, left):
    # A good copy from an earlier successful start...
    server.route(RUNTIME_PATH, body=signed_runtime)
    assert run_launcher(["-u", server.url]).returncode == 0
    assert read_work_file("odrelruntime.dll") == signed_runtime
    # ...is truncated when the next start opens the file, whatever follows.
    server.route(RUNTIME_PATH, **route)
    run = run_launcher(["-u", server.url])
    assert run.returncode == 1
    assert read_work_file("odrelruntime.dll") == left
    assert not any("Sample runtime" in line for line in run.lines), run


def test_earlier_copy_is_gone_after_a_failed_connection(signed_runtime):
    leave_earlier_copy(signed_runtime)
    run = run_launcher(["-u", "https://127.0.0.1:%d" % closed_port()])
    assert run.returncode == 1
    assert work_dir_files() == []


# --- Proxies --------------------------------------------------------------

def test_https_through_the_proxy_tunnels_to_the_server(server, signed_runtime, proxy):
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url, "-x", proxy.url])
    assert run.lines == fetch_lines(url + RUNTIME_PATH, proxy=proxy.url) + AFTER_SIGNED, run
    assert run.returncode == 0
    assert read_work_file("odrelruntime.dll") == signed_runtime
    assert [(m, t) for m, t, _ in proxy.requests] == [("CONNECT", "127.0.0.1:%d" % server.port)]
    assert len(server.requests) == 1
    assert_launcher_request(server.requests[0])


def test_plain_http_through_the_proxy_is_forwarded(pki, signed_runtime, proxy):
    from fixtures.https_server import HttpsServer
    plain = HttpsServer(None, None, tls=False)
    plain.start()
    try:
        url = serve_runtime(plain, signed_runtime)
        run = run_launcher(["-u", url, "-x", proxy.url])
        assert run.lines == fetch_lines(url + RUNTIME_PATH, proxy=proxy.url) + AFTER_SIGNED, run
        assert [(m, t) for m, t, _ in proxy.requests] == [("GET", url + RUNTIME_PATH)]
        assert proxy.requests[0][2].get("User-Agent") == USER_AGENT
        assert plain.requests[0][1].get("User-Agent") == USER_AGENT
    finally:
        plain.stop()


@pytest.mark.parametrize("proxy_value, error", [
    ("http://127.0.0.1:%d" % closed_port(), "Couldn't connect to server"),
    ("127.0.0.1:%d" % closed_port(), "Couldn't connect to server"),
])
def test_unreachable_proxy_fails_the_transfer(server, signed_runtime, proxy_value, error):
    url = serve_runtime(server, signed_runtime)
    leave_earlier_copy()
    run = run_launcher(["-u", url, "-x", proxy_value])
    assert run.lines == fetch_lines(url + RUNTIME_PATH, proxy=proxy_value) + [
        error] + AFTER_FAILURE, run
    assert run.returncode == 1
    assert work_dir_files() == []
    assert server.requests == []


def test_proxy_refusing_the_tunnel_fails_the_transfer(server, signed_runtime):
    refusing = Proxy(refuse_with=403).start()
    try:
        url = serve_runtime(server, signed_runtime)
        run = run_launcher(["-u", url, "-x", refusing.url])
        assert run.lines[:4] == fetch_lines(url + RUNTIME_PATH, proxy=refusing.url), run
        assert run.lines[5:] == AFTER_FAILURE, run
        assert run.lines[4] == "Failure when receiving data from the peer", run
        assert [(m, h.get("User-Agent")) for m, _, h in refusing.requests] == [
            ("CONNECT", USER_AGENT)]
        assert server.requests == []
        assert work_dir_files() == []
    finally:
        refusing.stop()


def proxy_environment(proxy_url):
    return {name: proxy_url for name in (
        "http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY")}


def test_environment_proxy_reaches_windows_programs(server, proxy):
    # The premise of the next test: under Wine, libcurl in a Windows program
    # does see these variables (the curl tool built from the same sources
    # goes through the proxy when the launcher's rule is not applied).
    curl_exe = os.path.join(DEPS_PREFIX, "bin", "curl.exe")
    if not os.path.exists(curl_exe):
        pytest.skip("no curl.exe in the dependency prefix")
    server.route(RUNTIME_PATH, body=b"via proxy")
    env = dict(os.environ, WINEPATH=MINGW_DLL_DIR, **proxy_environment(proxy.url))
    completed = subprocess.run(["wine", curl_exe, "-k", "-s", server.url + RUNTIME_PATH],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=env, timeout=60)
    assert completed.stdout == b"via proxy"
    assert [m for m, _, _ in proxy.requests] == ["CONNECT"]


@pytest.mark.parametrize("proxy_args", [["-x", ""], []], ids=["empty -x", "no -x"])
def test_environment_proxy_is_ignored(server, signed_runtime, proxy, proxy_args):
    url = serve_runtime(server, signed_runtime)
    run = run_launcher(["-u", url] + proxy_args, env=proxy_environment(proxy.url))
    # An empty proxy prints no proxy line and the transfer goes direct.
    assert run.lines == fetch_lines(url + RUNTIME_PATH) + AFTER_SIGNED, run
    assert run.returncode == 0
    assert proxy.requests == []
    assert len(server.requests) == 1
    assert_launcher_request(server.requests[0])


# --- A full disk ------------------------------------------------------------

@pytest.fixture
def small_disk():
    """mount(size) puts a tmpfs of |size| over the working directory; it is
    unmounted on every path."""
    if os.geteuid() != 0:
        pytest.skip("mounting a small disk over the working directory needs root")
    target = work_dir()
    os.makedirs(target, exist_ok=True)
    mounted = []

    def mount(size):
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", target],
                       check=True, stdin=subprocess.DEVNULL, timeout=30)
        mounted.append(target)
        return target

    try:
        yield mount
    finally:
        for path in mounted:
            if subprocess.run(["umount", path], timeout=30).returncode != 0:
                subprocess.run(["umount", "-l", path], timeout=30)


def fill(directory):
    """Writes a file into |directory| until its disk is full. Unbuffered, so
    that closing it has nothing left to write."""
    with open(os.path.join(directory, "filler"), "wb", buffering=0) as f:
        try:
            for _ in range(1 << 16):
                f.write(b"\0" * 4096)
        except OSError:
            pass


# A body larger than the launcher's 1 MiB file buffer fails inside libcurl's
# writer; one that fits the buffer but not the disk fails when the file is
# closed; on a disk already full the PID file gets no content and the body
# no room. Each time the download is lost, nothing is left behind, and the
# run ends as a failed download.
@pytest.mark.parametrize("size, body_size, full_before", [
    ("1m", 3 * 1024 * 1024, False),
    ("256k", 600 * 1024, False),
    ("256k", 64 * 1024, True),
], ids=["past the file buffer", "within the file buffer", "full before the start"])
def test_full_disk_loses_the_download_and_leaves_nothing(server, small_disk, size, body_size,
                                                         full_before):
    directory = small_disk(size)
    if full_before:
        fill(directory)
    server.route(RUNTIME_PATH, body=unsigned_body(body_size))
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_PATH) + [
        "Failed writing received data to disk/application"] + AFTER_FAILURE, run
    assert run.returncode == 1
    assert work_dir_files() == (["filler"] if full_before else [])
