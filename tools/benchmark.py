"""Download benchmark: the launcher, the curl tool built for Windows from the
same curl and OpenSSL sources (both under Wine, in the same prefix) and
Debian's native curl, fetching 1 MiB and 256 MiB runtimes from a local nginx
over TLS and over plain HTTP. Run through tools/benchmark.sh.

Peak memory of a Windows program is the VmHWM of its own Unix process (the
one whose first argument is the exe path), sampled every 10 ms until it
exits; the launcher's is also read when it prints its "Verifying" line, which
ends the download. Native curl's comes from wait4's ru_maxrss."""
import argparse
import getpass
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests"))
from fixtures.proxy import closed_port  # noqa: E402

MIB = 1024 * 1024
SIZES = [("1MiB", 1 * MIB), ("256MiB", 256 * MIB)]
RUNTIME_PATH = "/download/odrelruntime.dll"


def sh(*args, **kwargs):
    return subprocess.run(list(args), check=True, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=300, **kwargs)


class Nginx:
    def __init__(self, root):
        self.root = root
        self.html = os.path.join(root, "html")
        for label, size in SIZES:
            directory = os.path.join(self.html, label, "download")
            os.makedirs(directory)
            with open(os.path.join(directory, "odrelruntime.dll"), "wb") as f:
                for _ in range(size // MIB):
                    f.write(os.urandom(MIB))
        cert, key = os.path.join(root, "server.crt"), os.path.join(root, "server.key")
        sh("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2",
           "-keyout", key, "-out", cert, "-subj", "/CN=localhost",
           "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1")
        self.tls_port, self.plain_port = closed_port(), closed_port()
        for sub in ("logs", "tmp"):
            os.makedirs(os.path.join(root, sub))
        conf = os.path.join(root, "nginx.conf")
        with open(conf, "w") as f:
            f.write("""daemon off;
master_process off;
worker_processes 1;
pid %(root)s/nginx.pid;
error_log %(root)s/logs/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path %(root)s/tmp/body;
  proxy_temp_path %(root)s/tmp/proxy;
  fastcgi_temp_path %(root)s/tmp/fastcgi;
  uwsgi_temp_path %(root)s/tmp/uwsgi;
  scgi_temp_path %(root)s/tmp/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:%(tls)d ssl;
    listen 127.0.0.1:%(plain)d;
    ssl_certificate %(cert)s;
    ssl_certificate_key %(key)s;
    root %(html)s;
  }
}
""" % dict(root=root, tls=self.tls_port, plain=self.plain_port, cert=cert, key=key,
           html=self.html))
        self.process = subprocess.Popen(["nginx", "-p", root, "-c", conf],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if subprocess.run(["curl", "-ks", "-o", "/dev/null", self.url("http", "1MiB")],
                              timeout=10).returncode == 0:
                return
            time.sleep(0.1)
        raise RuntimeError("nginx did not start; see %s/logs/error.log" % root)

    def url(self, scheme, label):
        port = self.tls_port if scheme == "https" else self.plain_port
        return "%s://127.0.0.1:%d/%s" % (scheme, port, label)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)


def read_hwm_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def find_exe_process(exe_path, started_after):
    """The Unix PID whose first argument names |exe_path| (Wine's process for
    the Windows program), or None."""
    name = os.path.basename(exe_path).lower()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                argv0 = f.read().split(b"\0")[0].decode("latin-1").lower()
        except OSError:
            continue
        if argv0.endswith("\\" + name) or argv0.endswith("/" + name):
            if int(entry) not in started_after:
                return int(entry)
    return None


def run_wine(exe_path, args, timeout):
    """Runs a Windows program; returns (wall seconds, peak KiB, lines with
    their times, peak KiB when the 'Verifying' line arrived)."""
    before = set(int(p) for p in os.listdir("/proc") if p.isdigit())
    start = time.monotonic()
    process = subprocess.Popen(["wine", exe_path, *args], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = []
    state = {"pid": None, "hwm": 0, "hwm_at_verify": None}

    def reader():
        for raw in process.stdout:
            line = raw.decode("latin-1").rstrip("\r\n")
            lines.append((time.monotonic() - start, line))
            if line.startswith("Verifying digital signature") and state["pid"]:
                state["hwm_at_verify"] = read_hwm_kib(state["pid"]) or state["hwm"]

    thread = threading.Thread(target=reader, daemon=True)
    thread.start()
    deadline = start + timeout
    while process.poll() is None and time.monotonic() < deadline:
        if state["pid"] is None:
            state["pid"] = find_exe_process(exe_path, before)
        if state["pid"] is not None:
            hwm = read_hwm_kib(state["pid"])
            if hwm:
                state["hwm"] = max(state["hwm"], hwm)
        time.sleep(0.01)
    if process.poll() is None:
        process.kill()
        raise RuntimeError("%s did not finish within %d s" % (exe_path, timeout))
    wall = time.monotonic() - start
    thread.join(timeout=10)
    return wall, state["hwm"], lines, state["hwm_at_verify"]


def run_native(args, timeout):
    start = time.monotonic()
    process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    timer = threading.Timer(timeout, lambda: process.send_signal(signal.SIGKILL))
    timer.start()
    _, status, usage = os.wait4(process.pid, 0)
    timer.cancel()
    wall = time.monotonic() - start
    if status != 0:
        raise RuntimeError("%s failed: %d" % (args, status))
    return wall, usage.ru_maxrss


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True, help="odrel.exe to measure")
    parser.add_argument("--curl-exe", required=True)
    parser.add_argument("--wine-dll-dir", required=True, help="libwinpthread-1.dll for curl.exe")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--sizes", default="1MiB,256MiB")
    options = parser.parse_args()

    prefix = os.environ["WINEPREFIX"]
    bench_dir = os.path.join(prefix, "drive_c", "odrelbench")
    shutil.rmtree(bench_dir, ignore_errors=True)
    os.makedirs(bench_dir)
    launcher = os.path.join(bench_dir, "odrel.exe")
    shutil.copyfile(options.launcher, launcher)
    curl_exe = os.path.join(bench_dir, "curl.exe")
    shutil.copyfile(options.curl_exe, curl_exe)
    shutil.copyfile(os.path.join(options.wine_dll_dir, "libwinpthread-1.dll"),
                    os.path.join(bench_dir, "libwinpthread-1.dll"))
    curl_out_windows = r"C:\odrelbench\curl-out.bin"
    curl_out = os.path.join(bench_dir, "curl-out.bin")
    launcher_file = os.path.join(prefix, "drive_c", "users", getpass.getuser(),
                                 "Temp", "odrel", "odrelruntime.dll")

    root = tempfile.mkdtemp(prefix="odrel-bench-")
    wanted = options.sizes.split(",")
    sizes = [s for s in SIZES if s[0] in wanted]
    print("Preparing nginx and %s of files in %s ..." % ("+".join(l for l, _ in sizes), root),
          flush=True)
    server = Nginx(root)
    native_out = os.path.join(root, "native-out.bin")
    rows = []
    try:
        for scheme in ("https", "http"):
            for label, size in sizes:
                url = server.url(scheme, label)
                timeout = 120 + size // MIB
                results = {"launcher": [], "curl.exe": [], "native": []}
                for _ in range(options.runs):
                    wall, hwm, lines, hwm_verify = run_wine(launcher, ["-u", url], timeout)
                    fetch_at = next(t for t, l in lines if l.startswith("Fetching"))
                    verify_index = next(i for i, (t, l) in enumerate(lines)
                                        if l.startswith("Verifying"))
                    verify_at = lines[verify_index][0]
                    verdict_at = lines[verify_index + 1][0]
                    if os.path.getsize(launcher_file) != size:
                        raise RuntimeError("launcher file has the wrong size")
                    results["launcher"].append(dict(
                        wall=wall, hwm=hwm, hwm_download=hwm_verify, startup=fetch_at,
                        download=verify_at - fetch_at, verify=verdict_at - verify_at,
                        teardown=wall - lines[-1][0]))
                    wall, hwm, _, _ = run_wine(
                        curl_exe, ["-k", "-s", "-o", curl_out_windows, url + RUNTIME_PATH],
                        timeout)
                    if os.path.getsize(curl_out) != size:
                        raise RuntimeError("curl.exe file has the wrong size")
                    results["curl.exe"].append((wall, hwm))
                    wall, hwm = run_native(
                        ["curl", "-k", "-s", "-o", native_out, url + RUNTIME_PATH], timeout)
                    results["native"].append((wall, hwm))
                rows.append((scheme, label, size, results))
                report_row(scheme, label, size, results)
    finally:
        server.stop()
        shutil.rmtree(root, ignore_errors=True)
        for path in (curl_out, native_out):
            if os.path.exists(path):
                os.remove(path)
    summary(rows)


def report_row(scheme, label, size, results):
    mib = size / MIB
    launcher = results["launcher"]

    def med(key):
        return median([r[key] for r in launcher])

    l_wall, l_dl = med("wall"), med("download")
    l_hwm = max(r["hwm"] for r in launcher)
    l_hwm_dl = max((r["hwm_download"] or 0) for r in launcher)
    c_wall = median([r[0] for r in results["curl.exe"]])
    c_hwm = max(r[1] for r in results["curl.exe"])
    n_wall = median([r[0] for r in results["native"]])
    n_hwm = max(r[1] for r in results["native"])
    print("\n%s %s (median of %d runs; peak memory is the maximum)" % (
        scheme.upper(), label, len(launcher)))
    print("  %-34s %8s %10s %10s" % ("", "wall s", "MiB/s", "peak MiB"))
    row = "  %-34s %8.2f %10.1f %10.1f"
    print(row % ("launcher, whole run", l_wall, mib / l_wall, l_hwm / 1024))
    print(row % ("launcher, download (Fetching..)", l_dl, mib / l_dl, l_hwm_dl / 1024))
    print("  %-34s %8.2f" % ("launcher, start to Fetching line", med("startup")))
    print("  %-34s %8.2f" % ("launcher, signature check", med("verify")))
    print("  %-34s %8.2f" % ("launcher, last line to exit", med("teardown")))
    print(row % ("curl.exe under Wine, whole run", c_wall, mib / c_wall, c_hwm / 1024))
    print(row % ("native curl", n_wall, mib / n_wall, n_hwm / 1024))
    print("  throughput launcher/curl.exe: whole run %.2f, download only %.2f" % (
        c_wall / l_wall, c_wall / l_dl))
    sys.stdout.flush()


def summary(rows):
    by = dict(((s, l), r) for s, l, _, r in rows)
    print("\nPeak memory, 256MiB minus 1MiB (goal: within 8 MiB):")
    for scheme in ("https", "http"):
        small, big = by.get((scheme, "1MiB")), by.get((scheme, "256MiB"))
        if not small or not big:
            continue
        for tool, key in (("launcher whole run", "hwm"), ("launcher download", "hwm_download")):
            a = max((r[key] or 0) for r in small["launcher"]) / 1024
            b = max((r[key] or 0) for r in big["launcher"]) / 1024
            print("  %-5s %-26s %7.1f -> %7.1f MiB  (%+.1f)" % (scheme, tool, a, b, b - a))
        a = max(r[1] for r in small["curl.exe"]) / 1024
        b = max(r[1] for r in big["curl.exe"]) / 1024
        print("  %-5s %-26s %7.1f -> %7.1f MiB  (%+.1f)" % (scheme, "curl.exe", a, b, b - a))


if __name__ == "__main__":
    main()
