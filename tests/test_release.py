"""The release script: the launcher built, its debug information split off
into odrel.exe.debug, signed with Authenticode (the development certificate
by default, or a publisher's certificate and key given by path) and summed
with SHA-256; the signature checked with osslsigncode verify against the
signer's root; the size budget; the same image from another copy of the
sources built elsewhere."""
import hashlib
import os
import re
import shutil
import subprocess

import pytest

from conftest import BUILD_DIR, ROOT, run_exe

CACHE = os.environ.get("ODREL_CACHE", os.path.expanduser("~/.cache/odrel"))
DEV_ROOT = os.path.join(CACHE, "devcert", "root.crt")


# What a user downloads may weigh this much at most.
SIZE_BUDGET = 3 * 1024 * 1024
OBJDUMP = "i686-w64-mingw32-objdump"


def release(out_dir, *args, root=ROOT, build_dir=None):
    env = dict(os.environ)
    if build_dir:
        env["BUILD_DIR"] = build_dir
    completed = subprocess.run([os.path.join(root, "tools", "release.sh"),
                                "--out", out_dir, *args],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, env=env, timeout=900)
    output = completed.stdout.decode("latin-1")
    assert completed.returncode == 0, output[-3000:]
    return os.path.join(out_dir, "odrel.exe")


def run_tool(*args):
    completed = subprocess.run(list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=120)
    assert completed.returncode == 0, completed.stdout.decode("latin-1")[-3000:]
    return completed.stdout.decode("latin-1")


def authenticode_digest(exe):
    _, text = verify(exe, DEV_ROOT)
    match = re.search(r"^Current message digest\s*:\s*([0-9A-Fa-f]+)", text, re.M)
    assert match, text
    return match.group(1)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def verify(exe, root):
    completed = subprocess.run(["osslsigncode", "verify", "-CAfile", root, "-in", exe],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=120)
    return completed.returncode, completed.stdout.decode("latin-1")


def signer_subject(exe):
    _, text = verify(exe, DEV_ROOT)
    return [line.strip() for line in text.splitlines() if "Subject:" in line]


@pytest.fixture(scope="module")
def dev_release(tmp_path_factory):
    return release(str(tmp_path_factory.mktemp("release")))


@pytest.mark.host_only
def test_default_release_is_signed_with_the_development_certificate(dev_release):
    status, text = verify(dev_release, DEV_ROOT)
    assert status == 0, text
    assert "Signature verification: ok" in text
    assert any("CN=Odrel Online, Inc." in line for line in signer_subject(dev_release)), text


@pytest.mark.host_only
def test_sha256_sums_name_the_signed_file(dev_release):
    out_dir = os.path.dirname(dev_release)
    with open(os.path.join(out_dir, "SHA256SUMS")) as f:
        sums = f.read()
    with open(dev_release, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    assert sums == "%s  odrel.exe\n" % digest
    checked = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=out_dir,
                             stdout=subprocess.PIPE, timeout=60)
    assert checked.returncode == 0


def test_signed_launcher_still_runs(dev_release):
    run = run_exe(dev_release, ["-u", "https://127.0.0.1:1", "-k", "ABCDEFG"])
    assert run.lines[:3] == [
        " Download URL is https://127.0.0.1:1/download/odrelruntime.dll",
        " Using short code ABCDEFG",
        "Fetching latest Odrel Online App from https://127.0.0.1:1/download/odrelruntime.dll",
    ], run
    assert run.returncode == 1


@pytest.mark.host_only
def test_a_changed_byte_fails_verification(dev_release, tmp_path):
    with open(dev_release, "rb") as f:
        data = bytearray(f.read())
    data[len(data) // 3] ^= 0xFF
    spoilt = os.path.join(str(tmp_path), "odrel.exe")
    with open(spoilt, "wb") as f:
        f.write(data)
    status, text = verify(spoilt, DEV_ROOT)
    assert status != 0, text


@pytest.mark.host_only
def test_release_with_a_publishers_certificate_given_by_path(pki, tmp_path):
    cert, key = pki.signer("Example Publisher Ltd")
    exe = release(str(tmp_path), "--cert", cert, "--key", key, "--chain", pki.root_cert)
    status, text = verify(exe, pki.root_cert)
    assert status == 0, text
    assert "CN=Example Publisher Ltd" in text
    # Not the development certificate: the development root does not vouch for it.
    status, text = verify(exe, DEV_ROOT)
    assert status != 0, text


# --- Size, debug information, reproducibility -------------------------------

@pytest.mark.host_only
def test_signed_launcher_fits_the_size_budget(dev_release):
    assert os.path.getsize(dev_release) <= SIZE_BUDGET, os.path.getsize(dev_release)


@pytest.mark.host_only
def test_debug_information_is_kept_aside(dev_release, tmp_path):
    shipped = run_tool(OBJDUMP, "-h", dev_release)
    assert ".debug_" not in shipped, shipped
    # The shipped image names its debug file, which holds the DWARF.
    link = str(tmp_path / "debuglink")
    run_tool("i686-w64-mingw32-objcopy", "--dump-section", ".gnu_debuglink=" + link,
             dev_release, str(tmp_path / "scratch.exe"))
    assert read(link).split(b"\0")[0] == b"odrel.exe.debug"
    debug = os.path.join(os.path.dirname(dev_release), "odrel.exe.debug")
    assert ".debug_info" in run_tool(OBJDUMP, "-h", debug)


@pytest.mark.host_only
def test_debug_file_resolves_the_shipped_launchers_addresses(dev_release):
    debug = os.path.join(os.path.dirname(dev_release), "odrel.exe.debug")
    symbols = run_tool("i686-w64-mingw32-nm", debug)
    address = int(re.search(r"^([0-9a-f]+) T __Z11RunLauncheriPPc$", symbols, re.M).group(1), 16)
    # The shipped image holds the same code at that address as the build did.
    window = ["--start-address=0x%x" % address, "--stop-address=0x%x" % (address + 32)]

    def code(exe):
        text = run_tool(OBJDUMP, "-d", *window, exe)
        return re.findall(r"^\s*[0-9a-f]+:\s+((?:[0-9a-f]{2} )+)", text, re.M)

    assert code(dev_release) and code(dev_release) == code(os.path.join(BUILD_DIR, "odrel.exe"))
    resolved = run_tool("i686-w64-mingw32-addr2line", "-f", "-e", debug, "0x%x" % (address + 8))
    function, place = resolved.splitlines()[:2]
    assert function == "_Z11RunLauncheriPPc", resolved
    assert re.fullmatch(r"(\./)*cli/launcher\.cc:\d+", place), resolved


def source_copy(destination):
    """The project's files (tracked and new, not ignored) copied to |destination|."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=ROOT, stdout=subprocess.PIPE, check=True, timeout=60)
    for name in listed.stdout.decode().split("\0"):
        source = os.path.join(ROOT, name)
        if name and os.path.isfile(source):
            os.makedirs(os.path.dirname(os.path.join(destination, name)), exist_ok=True)
            shutil.copy2(source, os.path.join(destination, name))
    return destination


@pytest.mark.host_only
def test_another_copy_built_elsewhere_gives_the_same_image(dev_release, tmp_path):
    # Another directory name and depth, another build directory, a later
    # time; the dependency cache is shared.
    other_root = source_copy(str(tmp_path / "elsewhere" / "odrel-copy"))
    other_build = str(tmp_path / "another-build")
    other = release(str(tmp_path / "out"), root=other_root, build_dir=other_build)
    assert authenticode_digest(other) == authenticode_digest(dev_release)
    assert read(os.path.join(os.path.dirname(other), "odrel.exe.debug")) == read(
        os.path.join(os.path.dirname(dev_release), "odrel.exe.debug"))
    assert read(os.path.join(other_build, "odrel.exe")) == read(os.path.join(BUILD_DIR, "odrel.exe"))
    # No build path, user name or cache location in any byte.
    places = {ROOT, BUILD_DIR, other_root, other_build, os.path.expanduser("~"),
              os.environ.get("ODREL_CACHE", os.path.expanduser("~/.cache/odrel"))}
    for path in (other, os.path.join(os.path.dirname(other), "odrel.exe.debug")):
        data = read(path)
        for place in places:
            assert place.encode() not in data, (path, place)
