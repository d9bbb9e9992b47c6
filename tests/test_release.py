"""The release script: the launcher built, signed with Authenticode (the
development certificate by default, or a publisher's certificate and key
given by path) and summed with SHA-256; the signature checked with
osslsigncode verify against the signer's root."""
import hashlib
import os
import subprocess

import pytest

from conftest import ROOT, run_exe

CACHE = os.environ.get("ODREL_CACHE", os.path.expanduser("~/.cache/odrel"))
DEV_ROOT = os.path.join(CACHE, "devcert", "root.crt")


def release(out_dir, *args):
    completed = subprocess.run([os.path.join(ROOT, "tools", "release.sh"),
                                "--out", out_dir, *args],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=900)
    assert completed.returncode == 0, completed.stdout.decode("latin-1")[-3000:]
    return os.path.join(out_dir, "odrel.exe")


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


def test_default_release_is_signed_with_the_development_certificate(dev_release):
    status, text = verify(dev_release, DEV_ROOT)
    assert status == 0, text
    assert "Signature verification: ok" in text
    assert any("CN=Odrel Online, Inc." in line for line in signer_subject(dev_release)), text


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


def test_a_changed_byte_fails_verification(dev_release, tmp_path):
    with open(dev_release, "rb") as f:
        data = bytearray(f.read())
    data[len(data) // 3] ^= 0xFF
    spoilt = os.path.join(str(tmp_path), "odrel.exe")
    with open(spoilt, "wb") as f:
        f.write(data)
    status, text = verify(spoilt, DEV_ROOT)
    assert status != 0, text


def test_release_with_a_publishers_certificate_given_by_path(pki, tmp_path):
    cert, key = pki.signer("Example Publisher Ltd")
    exe = release(str(tmp_path), "--cert", cert, "--key", key, "--chain", pki.root_cert)
    status, text = verify(exe, pki.root_cert)
    assert status == 0, text
    assert "CN=Example Publisher Ltd" in text
    # Not the development certificate: the development root does not vouch for it.
    status, text = verify(exe, DEV_ROOT)
    assert status != 0, text
