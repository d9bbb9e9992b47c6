"""TLS against real servers: the launcher fetches the signed runtime from
openssl s_server on 127.0.0.1, each server restricted to one setting, and
either completes the run or fails with libcurl's text and the usual lines.
The launcher's OpenSSL is built as a TLS 1.2/1.3 client only; this table is
what it must still reach, and two things it must not."""
import os

import pytest

from conftest import (PROBLEM_LINE, RUNTIME_URL_PATH, STARTED, SUCCESS_LINE, VERIFYING_LINE,
                      fetch_lines, read_work_file, run_launcher, work_dir_files)
from fixtures.tls_server import TlsServer

RSA_2048, RSA_4096, P_256, P_384 = "rsa:2048", "rsa:4096", "ec:P-256", "ec:P-384"

REACHED = [
    # TLS 1.3: each cipher suite, each key exchange group, each certificate key.
    ("1.3 AES-128-GCM X25519 RSA-2048", RSA_2048,
     ["-tls1_3", "-ciphersuites", "TLS_AES_128_GCM_SHA256", "-groups", "X25519"]),
    ("1.3 AES-256-GCM P-256 RSA-4096", RSA_4096,
     ["-tls1_3", "-ciphersuites", "TLS_AES_256_GCM_SHA384", "-groups", "P-256"]),
    ("1.3 ChaCha20-Poly1305 P-384 ECDSA-P-384", P_384,
     ["-tls1_3", "-ciphersuites", "TLS_CHACHA20_POLY1305_SHA256", "-groups", "P-384"]),
    ("1.3 AES-128-GCM X25519 ECDSA-P-256", P_256,
     ["-tls1_3", "-ciphersuites", "TLS_AES_128_GCM_SHA256", "-groups", "X25519"]),
    # TLS 1.2: AEAD suites, the AES-CBC-SHA suites older servers still
    # offer, RSA and DH key exchange.
    ("1.2 ECDHE-RSA-AES128-GCM P-256 RSA-4096", RSA_4096,
     ["-tls1_2", "-cipher", "ECDHE-RSA-AES128-GCM-SHA256", "-groups", "P-256"]),
    ("1.2 ECDHE-ECDSA-AES256-GCM P-384 ECDSA-P-384", P_384,
     ["-tls1_2", "-cipher", "ECDHE-ECDSA-AES256-GCM-SHA384", "-groups", "P-384"]),
    ("1.2 ECDHE-RSA-CHACHA20-POLY1305 X25519", RSA_2048,
     ["-tls1_2", "-cipher", "ECDHE-RSA-CHACHA20-POLY1305", "-groups", "X25519"]),
    ("1.2 ECDHE-RSA-AES128-SHA", RSA_2048, ["-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA"]),
    ("1.2 ECDHE-ECDSA-AES256-SHA ECDSA-P-256", P_256,
     ["-tls1_2", "-cipher", "ECDHE-ECDSA-AES256-SHA"]),
    ("1.2 AES256-SHA, RSA key exchange", RSA_2048, ["-tls1_2", "-cipher", "AES256-SHA"]),
]

# Removed from the launcher's OpenSSL: TLS 1.0, Camellia, and finite field
# Diffie-Hellman, which no server offers without ECDHE or RSA key exchange.
REFUSED = [
    ("TLS 1.0 only", RSA_2048, ["-tls1", "-cipher", "DEFAULT@SECLEVEL=0"]),
    ("Camellia only", RSA_2048, ["-tls1_2", "-cipher", "ECDHE-RSA-CAMELLIA128-SHA256"]),
    ("DHE only", RSA_2048, ["-tls1_2", "-cipher", "DHE-RSA-AES128-GCM-SHA256"]),
]


@pytest.fixture
def tls_server(pki, signed_runtime, tmp_path):
    """start(key type, s_server options) serves the signed runtime."""
    directory = tmp_path / "www"
    os.makedirs(str(directory / "download"))
    with open(str(directory) + RUNTIME_URL_PATH, "wb") as f:
        f.write(signed_runtime)
    servers = []

    def start(key_type, options):
        cert, key = pki.server(key_type)
        servers.append(TlsServer(str(directory), cert, key, options))
        return servers[-1]

    try:
        yield start
    finally:
        for server in servers:
            server.stop()


@pytest.mark.parametrize("key_type, options", [c[1:] for c in REACHED],
                         ids=[c[0] for c in REACHED])
def test_tls_settings_the_launcher_reaches(tls_server, signed_runtime, key_type, options):
    server = tls_server(key_type, options)
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_URL_PATH) + [
        VERIFYING_LINE, STARTED, SUCCESS_LINE], run
    assert run.returncode == 0
    assert read_work_file("odrelruntime.dll") == signed_runtime


@pytest.mark.parametrize("key_type, options", [c[1:] for c in REFUSED],
                         ids=[c[0] for c in REFUSED])
def test_tls_settings_the_launcher_refuses(tls_server, key_type, options):
    server = tls_server(key_type, options)
    run = run_launcher(["-u", server.url])
    assert run.lines == fetch_lines(server.url + RUNTIME_URL_PATH) + [
        "SSL connect error", "Loading Library Failed.", "Problem, code: -1", PROBLEM_LINE], run
    assert run.returncode == 1
    assert work_dir_files() == []
