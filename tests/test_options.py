"""The launcher's own options as the console shows them: the proxy line, the
download URL line and the short code line, taken from -u, -x, -k and the
program name, and the download that follows from them.

The rules themselves are tabled in acquire/options_test.cc; these runs check
the real exe's lines and where its transfer really went. No run reaches the
network: a download from a built-in server goes through a local proxy that
records the tunnel it was asked for and refuses it."""
import os
import re

import pytest

from conftest import (BUILD_DIR, PROBLEM_LINE, acquisition_lines, fetch_lines, run_launcher,
                      run_with_argv0, work_dir_files)
from fixtures.proxy import Proxy, closed_port

RUNTIME_PATH = "/download/odrelruntime.dll"


def built_in_server_urls():
    """The server URLs this build was configured with."""
    values = {}
    with open(os.path.join(BUILD_DIR, "CMakeCache.txt")) as f:
        for line in f:
            match = re.match(r"ODREL_(DEFAULT|EU)_SERVER_URL:STRING=(.*)$", line.rstrip("\n"))
            if match:
                values[match.group(1)] = match.group(2)
    return values["DEFAULT"], values["EU"]


DEFAULT_URL, EU_URL = built_in_server_urls()

AFTER_FAILURE = ["Loading Library Failed.", "Problem, code: -1", PROBLEM_LINE]
BAD_URL = "URL using bad/illegal format or missing URL"
TUNNEL_REFUSED = "Failure when receiving data from the peer"
NOT_LISTENING = "Couldn't connect to server"


@pytest.fixture
def proxy():
    """Refuses every tunnel with 403, so a transfer through it fails at once."""
    p = Proxy(refuse_with=403).start()
    yield p
    p.stop()


def host_port(url):
    return re.match(r"https://([^/]+)", url).group(1) + ":443"


# In args and the expected values: {P} is the refusing proxy's URL, {C} a
# server URL nobody listens on, {D} and {E} the built-in default and EU server.
# Columns: program name, args, download URL, short code (None: invalid),
# proxy line value (None: no proxy line), the transfer's error line.
CASES = {
    "code from the program name":
        ("odrel_ABCDEFG_.exe", ["-x", "{P}"], "{D}", "ABCDEFG", "{P}", TUNNEL_REFUSED),
    "code between the first two underscores":
        ("setup_ABCDEFG_x_y.exe", ["-x", "{P}"], "{D}", "ABCDEFG", "{P}", TUNNEL_REFUSED),
    "EU code in the program name":
        ("odrel_EUABCDEFG_.exe", ["-x", "{P}"], "{E}", "EUABCDEFG", "{P}", TUNNEL_REFUSED),
    "no options, no code":
        ("odrel.exe", [], "", None, None, BAD_URL),
    "one underscore only":
        ("odrel_ABCDEFG.exe", [], "", None, None, BAD_URL),
    "-k EU code":
        ("odrel.exe", ["-k", "EUABCDEFG", "-x", "{P}"], "{E}", "EUABCDEFG", "{P}",
         TUNNEL_REFUSED),
    "-k 7 letters starting with EU":
        ("odrel.exe", ["-x", "{P}", "-k", "EUABCDE"], "{D}", "EUABCDE", "{P}", TUNNEL_REFUSED),
    "-k lower-case eu":
        ("odrel.exe", ["-k", "euABCDEFG"], "", None, None, BAD_URL),
    "-k with a digit":
        ("odrel.exe", ["-k", "ABC1EFG"], "", None, None, BAD_URL),
    "-k 8 letters":
        ("odrel.exe", ["-k", "ABCDEFGH"], "", None, None, BAD_URL),
    "-k 10 letters starting with EU":
        ("odrel.exe", ["-k", "EUABCDEFGH"], "", None, None, BAD_URL),
    "-k empty":
        ("odrel_ABCDEFG_.exe", ["-k", ""], "", None, None, BAD_URL),
    "-k invalid replaces a valid name code":
        ("odrel_ABCDEFG_.exe", ["-k", "ABC1EFG"], "", None, None, BAD_URL),
    "-k valid replaces the name code":
        ("odrel_ABCDEFG_.exe", ["-k", "EUZYXWVUT", "-x", "{P}"], "{E}", "EUZYXWVUT", "{P}",
         TUNNEL_REFUSED),
    "-k as last argument":
        ("odrel_ABCDEFG_.exe", ["-x", "{P}", "-k"], "{D}", "ABCDEFG", "{P}", TUNNEL_REFUSED),
    "-u with -k":
        ("odrel.exe", ["-u", "{C}", "-k", "ABCDEFG"], "{C}", "ABCDEFG", None, NOT_LISTENING),
    "-u empty despite a valid code":
        ("odrel_ABCDEFG_.exe", ["-u", ""], "", "ABCDEFG", None, BAD_URL),
    "-u as last argument":
        ("odrel_ABCDEFG_.exe", ["-x", "{P}", "-u"], "{D}", "ABCDEFG", "{P}", TUNNEL_REFUSED),
    "-u twice":
        ("odrel.exe", ["-u", "{C}", "-u", "https://127.0.0.1:1"], "{C}", None, None,
         NOT_LISTENING),
    "-x twice":
        ("odrel.exe", ["-k", "ABCDEFG", "-x", "{P}", "-x", "http://127.0.0.1:1"], "{D}",
         "ABCDEFG", "{P}", TUNNEL_REFUSED),
    "upper-case option letters":
        ("odrel_ABCDEFG_.exe", ["-K", "EUABCDEFG", "-U", "{C}", "-X", "http://127.0.0.1:1",
                                "-x", "{P}"], "{D}", "ABCDEFG", "{P}", TUNNEL_REFUSED),
    "options glued to their values":
        ("odrel.exe", ["-kABCDEFG", "-u{C}", "--u", "{C}"], "", None, None, BAD_URL),
    # Options are read, never consumed: the -u value "-k" is also the -k option.
    "-u value that is another option":
        ("odrel.exe", ["-x", "{P}", "-u", "-k", "ABCDEFG"], "-k", "ABCDEFG", "{P}",
         "Problem Downloading Odrel Online App, HTTP response 403 received from server."),
}


@pytest.mark.parametrize("name, args, server, code, proxy_shown, error", CASES.values(),
                         ids=list(CASES))
def test_option_lines_and_the_transfer_they_lead_to(proxy, name, args, server, code,
                                                   proxy_shown, error):
    closed = "https://127.0.0.1:%d" % closed_port()

    def fill(text):
        return (text.replace("{P}", proxy.url).replace("{C}", closed)
                .replace("{D}", DEFAULT_URL).replace("{E}", EU_URL))

    download_url = fill(server) + RUNTIME_PATH
    run = run_launcher([fill(a) for a in args], name=name)
    assert run.lines == fetch_lines(download_url, code, proxy_shown and fill(proxy_shown)) + [
        error] + AFTER_FAILURE, run
    assert run.returncode == 1
    assert work_dir_files() == []
    if error == TUNNEL_REFUSED:
        # The launcher really asked for the built-in server it named.
        assert [(m, t) for m, t, _ in proxy.requests] == [("CONNECT", host_port(download_url))]
    elif proxy_shown is None:
        assert proxy.requests == []


# argv[0] exactly as given by the starting program, with or without a
# directory (Wine otherwise always passes the full path).
ARGV0_CASES = [
    ("odrel_ABCDEFG_.exe", "ABCDEFG"),
    ("odrel_EUABCDEFG_", "EUABCDEFG"),
    (r"C:\odreltest\setup_ABCDEFG_x.exe", "ABCDEFG"),
    # The underscores of a directory count too.
    (r"C:\my_tools\setup_ABCDEFG_x.exe", None),
    (r"C:\tools_ABCDEFG_\odrel.exe", "ABCDEFG"),
    ("odrel__ABCDEFG_.exe", None),
    ("ABCDEFG", None),
]


@pytest.mark.parametrize("argv0, code", ARGV0_CASES)
def test_short_code_from_argv0(proxy, argv0, code):
    run = run_with_argv0(argv0, ["-x", proxy.url])
    download_url = (DEFAULT_URL if code and len(code) == 7 else EU_URL if code else "") + \
        RUNTIME_PATH
    assert run.lines[:3] == acquisition_lines(download_url, code, proxy.url), run
    assert run.lines[4] == (TUNNEL_REFUSED if code else BAD_URL), run
    assert run.returncode == 1


def test_proxy_and_server_values_reach_libcurl_unchanged(proxy):
    # A proxy given without a scheme is libcurl's business: host:port means
    # an HTTP proxy. The -u value is not trimmed: a trailing slash stays.
    bare_proxy = proxy.url[len("http://"):]
    run = run_launcher(["-x", bare_proxy, "-u", "https://runtime.example/"])
    download_url = "https://runtime.example//download/odrelruntime.dll"
    assert run.lines == fetch_lines(download_url, None, bare_proxy) + [
        TUNNEL_REFUSED] + AFTER_FAILURE, run
    assert [(m, t) for m, t, _ in proxy.requests] == [("CONNECT", "runtime.example:443")]
