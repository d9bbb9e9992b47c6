"""Runs the launcher's main job against a local stand-in for its default
server: the sample runtime, signed with the development certificate of
"Odrel Online, Inc.", served over HTTPS on 127.0.0.1, and the launcher, built
with that server as its default, started under a name carrying the short code
ABCDEFG. Arguments go to the launcher. Exits with the launcher's status."""
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from fixtures.https_server import HttpsServer  # noqa: E402
from fixtures.pki import PUBLISHER, Pki  # noqa: E402


def main():
    build_dir = os.environ["BUILD_DIR"]
    demo_dir = os.path.join(build_dir, "demo")
    cert_dir = os.path.join(os.environ["ODREL_CACHE"], "devcert")
    os.makedirs(cert_dir, exist_ok=True)
    pki = Pki(cert_dir)

    signed = os.path.join(demo_dir, "odrelruntime.dll")
    pki.sign(os.path.join(build_dir, "odrelruntime.dll"), signed, PUBLISHER)
    with open(signed, "rb") as f:
        body = f.read()

    port = int(os.environ["ODREL_DEMO_PORT"])
    server = HttpsServer(pki.server_cert, pki.server_key, port=port)
    server.route("/download/odrelruntime.dll", body=body)
    server.start()

    launch_dir = os.path.join(os.environ["WINEPREFIX"], "drive_c", "odreldemo")
    os.makedirs(launch_dir, exist_ok=True)
    exe = os.path.join(launch_dir, "odrel_ABCDEFG_.exe")
    shutil.copyfile(os.path.join(demo_dir, "odrel.exe"), exe)
    print("==> Running C:\\odreldemo\\odrel_ABCDEFG_.exe %s" % " ".join(sys.argv[1:]), flush=True)
    try:
        status = subprocess.run(["wine", exe, *sys.argv[1:]], stdin=subprocess.DEVNULL).returncode
    finally:
        server.stop()
    print("==> Exit status %d" % status)
    return status


if __name__ == "__main__":
    sys.exit(main())
