"""Black-box test harness: the real odrel.exe under Wine, real HTTPS servers on
127.0.0.1 and real Authenticode signatures made with openssl and osslsigncode.

Environment (set by tools/test.sh through tools/env.sh): BUILD_DIR, WINEPREFIX,
DEPS_PREFIX. Every wait here is bounded.
"""
import getpass
import os
import shutil
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from fixtures import pki as pki_module  # noqa: E402
from fixtures.https_server import HttpsServer  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD_DIR = os.environ.get("BUILD_DIR", os.path.join(ROOT, "build"))
WINEPREFIX = os.environ.get("WINEPREFIX", os.path.expanduser("~/.cache/odrel/wineprefix"))
DEPS_PREFIX = os.environ.get("DEPS_PREFIX", "")

os.environ["WINEPREFIX"] = WINEPREFIX
os.environ["WINEDEBUG"] = "-all"
os.environ["WINEARCH"] = "win32"
os.environ.pop("DISPLAY", None)

DEVNULL = subprocess.DEVNULL


def build_path(name):
    return os.path.join(BUILD_DIR, name)


def windows_temp_dir():
    """The Linux side of what GetTempPathA reports inside the prefix."""
    return os.path.join(WINEPREFIX, "drive_c", "users", getpass.getuser(), "Temp")


def work_dir():
    """The launcher's working directory, Linux side."""
    return os.path.join(windows_temp_dir(), "odrel")


WINDOWS_WORK_DIR = "C:\\users\\%s\\Temp\\odrel\\" % getpass.getuser()
WINDOWS_RUNTIME_PATH = WINDOWS_WORK_DIR + "odrelruntime.dll"
WINDOWS_PID_PATH = WINDOWS_WORK_DIR + "odrelruntime.pid"
# Where a server serves the runtime library.
RUNTIME_URL_PATH = "/download/odrelruntime.dll"

# Launchers are copied here (C:\odreltest) so that no underscore of a Linux
# directory name leaks into argv[0] and with it into the short code.
LAUNCH_DIR = os.path.join(WINEPREFIX, "drive_c", "odreltest")


def _native_i386():
    """(True, "") when this machine runs 32-bit x86 programs natively, which
    Wine needs for every PE32 program; else (False, the reason)."""
    completed = subprocess.run([os.path.join(ROOT, "tools", "can-run-i386.sh")], stdin=DEVNULL,
                               stdout=subprocess.PIPE, stderr=DEVNULL, timeout=60)
    return completed.returncode == 0, completed.stdout.decode("latin-1").strip()


NATIVE_I386, NO_I386_REASON = _native_i386()
# Set by tools/run-in-vm.sh: Wine runs in a virtual machine under qemu's
# software emulation.
UNDER_EMULATION = os.environ.get("ODREL_VM") == "1"


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "host_only: runs nothing under Wine (builds, signs, inspects files)")
    config.addinivalue_line(
        "markers", "fails_under_emulation(reason): known to fail when Wine runs under qemu's "
        "software emulation (tools/run-in-vm.sh); expected to fail there, not skipped")


def pytest_collection_modifyitems(config, items):
    """Where Wine cannot run, every test that starts a Windows program is
    skipped, with the reason; the host-only tests still run."""
    if NATIVE_I386:
        if UNDER_EMULATION:
            for item in items:
                for marker in item.iter_markers("fails_under_emulation"):
                    item.add_marker(pytest.mark.xfail(reason=marker.args[0], strict=False))
        return
    skip = pytest.mark.skip(reason="needs Wine, which cannot run here: " + NO_I386_REASON)
    for item in items:
        if "host_only" not in item.keywords:
            item.add_marker(skip)


def _wine_quiet(*args, timeout=120):
    subprocess.run(["wine", *args], stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL,
                   timeout=timeout, check=False)


@pytest.fixture(scope="session", autouse=True)
def wine_session():
    """Keeps one wineserver and Wine's services running for the whole session,
    started with their stdio on /dev/null so that captured runs return at once.
    Also turns off Wine's crash debugger, which would print on the crashed
    process's stdout."""
    if not NATIVE_I386:
        yield
        return
    fresh = not os.path.isdir(os.path.join(WINEPREFIX, "drive_c"))
    subprocess.run(["wineserver", "-p"], stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL,
                   timeout=60, check=False)
    _wine_quiet("wineboot", timeout=300 if fresh else 120)
    _wine_quiet("reg", "delete", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug",
                "/v", "Debugger", "/f")
    os.makedirs(LAUNCH_DIR, exist_ok=True)
    yield
    subprocess.run(["wineserver", "-k"], stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL,
                   timeout=60, check=False)


@pytest.fixture(autouse=True)
def clean_work_dir():
    """Every test starts with an empty working directory."""
    shutil.rmtree(work_dir(), ignore_errors=True)
    yield


class Run:
    """A finished launcher run: its stdout lines (CR LF removed) and exit status."""

    def __init__(self, completed):
        self.returncode = completed.returncode
        self.stdout = completed.stdout.decode("latin-1")
        self.stderr = completed.stderr.decode("latin-1")
        self.lines = self.stdout.replace("\r\n", "\n").split("\n")
        if self.lines and self.lines[-1] == "":
            self.lines.pop()

    def __repr__(self):
        return "Run(returncode=%r, lines=%r, stderr=%r)" % (self.returncode, self.lines,
                                                            self.stderr[-2000:])


def launcher_copy(name="odrel.exe"):
    """Copies the built launcher to C:\\odreltest\\<name>; returns the Linux path."""
    os.makedirs(LAUNCH_DIR, exist_ok=True)
    path = os.path.join(LAUNCH_DIR, name)
    # A fresh inode each time: a copy still running from |path| keeps its
    # mapped image intact.
    scratch = path + ".new"
    shutil.copyfile(build_path("odrel.exe"), scratch)
    os.replace(scratch, path)
    return path


def windows_path(linux_path):
    """The Windows path of a file inside the prefix's drive C, or under Z:."""
    drive_c = os.path.join(WINEPREFIX, "drive_c")
    if linux_path.startswith(drive_c + os.sep):
        return "C:" + linux_path[len(drive_c):].replace("/", "\\")
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


def run_exe(exe, args, env=None, timeout=60):
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    completed = subprocess.run(["wine", exe, *args], stdin=DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=full_env, timeout=timeout)
    return Run(completed)


def run_launcher(args=(), name="odrel.exe", env=None, timeout=60):
    """Runs a copy of the launcher called |name| with |args|."""
    return run_exe(launcher_copy(name), list(args), env=env, timeout=timeout)


def run_with_argv0(argv0, args=(), name="odrel.exe", timeout=60):
    """Runs a copy of the launcher with a command line of our own: argv[0] is
    |argv0| exactly. Arguments are quoted for the C runtime's parser."""
    exe = launcher_copy(name)

    def quote(arg):
        if arg and not any(c in arg for c in ' \t"'):
            return arg
        return '"' + arg.replace('"', '\\"') + '"'

    command_line = " ".join(quote(a) for a in [argv0, *args])
    return run_exe(build_path("spawn.exe"), [windows_path(exe), command_line], timeout=timeout)


def read_work_file(name):
    path = os.path.join(work_dir(), name)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def work_dir_files():
    try:
        return sorted(os.listdir(work_dir()))
    except FileNotFoundError:
        return []


@pytest.fixture(scope="session")
def pki(tmp_path_factory):
    """A test PKI (root and code-signing leaves) made with openssl."""
    return pki_module.Pki(str(tmp_path_factory.mktemp("pki")))


@pytest.fixture(scope="session")
def signed_runtime(pki, tmp_path_factory):
    """The sample runtime library signed by "Odrel Online, Inc."."""
    out = os.path.join(str(tmp_path_factory.mktemp("signed")), "odrelruntime.dll")
    pki.sign(build_path("odrelruntime.dll"), out, pki_module.PUBLISHER)
    with open(out, "rb") as f:
        return f.read()


@pytest.fixture
def server(pki):
    """An HTTPS server on 127.0.0.1 whose certificate names 127.0.0.1 and
    localhost, signed by the test root (which nobody trusts)."""
    srv = HttpsServer(pki.server_cert, pki.server_key)
    srv.start()
    yield srv
    srv.stop()


def serve_runtime(server, body):
    """Serves |body| as the runtime library; returns the -u value to use."""
    server.route(RUNTIME_URL_PATH, body=body)
    return server.url


# Expected lines, as the launcher prints them.
VERIFYING_LINE = "Verifying digital signature of " + WINDOWS_RUNTIME_PATH
STARTED = "Sample runtime started, stop requested: 0"


def acquisition_lines(download_url, short_code=None, proxy=None):
    lines = []
    if proxy:
        lines.append(" Proxy URL is " + proxy)
    lines.append(" Download URL is " + download_url)
    lines.append(" Using short code " + (short_code or "**INVALID FORMAT**"))
    return lines


def fetch_lines(download_url, short_code=None, proxy=None):
    """The option lines and the "Fetching" line of a download of |download_url|."""
    return acquisition_lines(download_url, short_code, proxy) + [
        "Fetching latest Odrel Online App from " + download_url]


def loaded_lines(url, short_code=None):
    """The lines up to the signature check of the runtime served by |url|."""
    return fetch_lines(url + RUNTIME_URL_PATH, short_code) + [VERIFYING_LINE]


PROBLEM_LINE = "Problem running scan. result message: "
SUCCESS_LINE = "Exited successfully."
