#!/usr/bin/env python3
"""Mirrors benchmark: the same volumes on two nginx file servers (from
deploy/nginx/tarnwick-files.conf), one slow (a per-connection rate limit) and
one healthy, in one run:
  kwinstall  given both addresses by kwserve (--files-url twice, the slow one
             first, as the address every client is given);
  aria2c     given the same two signed addresses per volume (-x4 -s4);
  single     kwinstall with the healthy server alone.
Goals: kwinstall at least aria2c's speed, and within 1.2 of the single
healthy server's time.  Then the bandwidth cap: kwinstall --max-speed against
the healthy server alone, the rate it achieved over the whole download.

usage: run_mirrors_bench.py [--build DIR] [--megabytes N] [--slow BYTES_PER_SECOND]
                            [--cap BYTES_PER_SECOND] [--cap-seconds N]
"""
import argparse
import base64
import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from run_download_bench import fresh, start_server, timed, user_env

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
SECRET = "bench-mirror-secret"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def signed(base, name, expires):
    """The address kwserve hands out for `name` under `base`."""
    digest = hashlib.md5(f"{expires}/{name} {SECRET}".encode()).digest()
    token = base64.urlsafe_b64encode(digest).decode().rstrip("=")
    return f"{base}/{name}?md5={token}&expires={expires}"


def start_nginx(work, name, package, extra):
    folder = os.path.join(work, name)
    os.makedirs(os.path.join(folder, "tmp"), exist_ok=True)
    port = free_port()
    with open(os.path.join(TOP, "deploy", "nginx", "tarnwick-files.conf")) as f:
        conf = (f.read().replace("listen 8080;", f"listen 127.0.0.1:{port};")
                .replace("/srv/tarnwick/packages", package)
                .replace("CHANGE-THIS-SECRET", SECRET)
                .replace("max_ranges 1;", "max_ranges 1; " + extra))
    temps = "".join(f"  {k}_temp_path {folder}/tmp;\n" for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(os.path.join(folder, "nginx.conf"), "w") as f:
        f.write(f"daemon off;\nworker_processes 2;\npid {folder}/nginx.pid;\nevents {{}}\n"
                f"http {{\n  access_log off;\n{temps}{conf}}}\n")
    proc = subprocess.Popen(["/usr/sbin/nginx", "-p", folder, "-e", f"{folder}/error.log", "-c",
                             f"{folder}/nginx.conf"], stdout=subprocess.DEVNULL)
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return proc, f"http://127.0.0.1:{port}"
        except OSError:
            time.sleep(0.05)
    sys.exit(f"nginx {name} did not start")


def install(bins, api, work, more=()):
    target = os.path.join(work, "inst")
    fresh(target)
    ini = os.path.join(work, "bench.ini")
    with open(ini, "w") as f:
        f.write("[INSTALL]\nREQUIREDSPACE=1048576\n")
    _, _, out = timed([bins["kwinstall"], "--server", api, "--dir", target, "--agree", "--ini", ini,
                       "--quiet", "--timing", *more], env=user_env(work))
    shutil.rmtree(target, ignore_errors=True)
    timing = dict(l.rsplit(" ", 1) for l in out.splitlines() if l.endswith(tuple("0123456789")))
    return float(timing["download seconds"])


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(TOP, "build", "default"))
    p.add_argument("--megabytes", type=int, default=400)
    p.add_argument("--slow", type=int, default=1 << 20)
    p.add_argument("--cap", type=int, default=2 << 20)
    p.add_argument("--cap-seconds", type=int, default=30)
    a = p.parse_args()
    bindir = os.path.join(a.build, "bin")
    bins = {n: os.path.join(bindir, n) for n in ("kwserve", "kwinstall", "kwbenchdl")}
    if shutil.which("aria2c") is None:
        sys.exit("missing aria2c")
    work = tempfile.mkdtemp(prefix="kwbench-mirrors.")
    os.chmod(work, 0o755)
    procs = []
    try:
        subprocess.run([bins["kwbenchdl"], "make", work, str(a.megabytes)], check=True,
                       stdout=subprocess.DEVNULL)
        shutil.rmtree(os.path.join(work, "source"), ignore_errors=True)
        package = os.path.join(work, "package")
        os.chmod(package, 0o755)
        names = sorted(n for n in os.listdir(package) if n.endswith(".kwk"))
        total = sum(os.path.getsize(os.path.join(package, n)) for n in names)
        slow_proc, slow = start_nginx(work, "slow", package, f"limit_rate {a.slow};")
        fast_proc, fast = start_nginx(work, "fast", package, "")
        procs += [slow_proc, fast_proc]
        both_proc, both = start_server(bins["kwserve"], package, ["--files-url", slow, "--files-url", fast,
                                                                  "--link-secret", SECRET])
        one_proc, one = start_server(bins["kwserve"], package, ["--files-url", fast, "--link-secret", SECRET])
        procs += [both_proc, one_proc]
        print(f"{total / 1e6:.0f} MB in {len(names)} volumes; slow server {a.slow} B/s per connection; "
              f"load {loadavg()}")

        t_both = install(bins, both, work)
        expires = int(time.time()) + 3600
        target = os.path.join(work, "aria2c")
        fresh(target)
        with open(os.path.join(work, "aria2c.txt"), "w") as f:
            for n in names:
                f.write(f"{signed(slow, n, expires)}\t{signed(fast, n, expires)}\n  out={n}\n")
        t_aria, _, _ = timed(["aria2c", "-x4", "-s4", "-k12M", "-j1", "-q", "-d", target, "-i",
                              os.path.join(work, "aria2c.txt"), "--allow-overwrite=true"])
        shutil.rmtree(target, ignore_errors=True)
        t_one = install(bins, one, work)
        mb = total / 1e6
        print(f"  kwinstall, both servers  {t_both:7.2f} s {mb / t_both:8.1f} MB/s")
        print(f"  aria2c, both servers     {t_aria:7.2f} s {mb / t_aria:8.1f} MB/s")
        print(f"  kwinstall, healthy alone {t_one:7.2f} s {mb / t_one:8.1f} MB/s")
        print(f"  kwinstall speed / aria2c {t_aria / t_both:.2f} (goal >= 1.00); "
              f"time / healthy alone {t_both / t_one:.2f} (goal <= 1.20)   load {loadavg()}")

        # The cap: a package the cap needs about cap-seconds for.
        capped = os.path.join(work, "capped")
        subprocess.run([bins["kwbenchdl"], "make", capped, str(max(1, a.cap * a.cap_seconds >> 20))],
                       check=True, stdout=subprocess.DEVNULL)
        cpkg = os.path.join(capped, "package")
        ctotal = sum(os.path.getsize(os.path.join(cpkg, n)) for n in os.listdir(cpkg) if n.endswith(".kwk"))
        cap_proc, cap_api = start_server(bins["kwserve"], cpkg, [])
        procs.append(cap_proc)
        t_cap = install(bins, cap_api, work, ("--max-speed", str(a.cap)))
        rate = ctotal / t_cap
        print(f"  cap {a.cap} B/s: {ctotal / 1e6:.0f} MB in {t_cap:.1f} s = {rate:.0f} B/s "
              f"({100.0 * (rate - a.cap) / a.cap:+.1f} %, goal within 10 %)   load {loadavg()}")
    finally:
        for proc in procs:
            proc.terminate()
        for proc in procs:
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
