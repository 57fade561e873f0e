#!/usr/bin/env python3
"""The install server's API under load, in one run, with ab (apache2-utils).

Four targets answer the same signed version request:
  kwserve     one kwserve instance alone;
  nginx+2     nginx from deploy/nginx/tarnwick-api.conf in front of two
              kwserve instances (its per-address limits raised, since all
              load comes from one address); it keeps each answer for a
              second, so the instances see about one request a second, as
              they would when many installers ask in the same second;
  uncached    the same without the kept answers: every request reaches an
              instance (what nginx's own hop costs);
  static      nginx with one worker serving the same answer as a file (the
              peer: what answering costs without any work).
For each: new connection per request and kept-alive connections at 1, 16,
64 and 256 clients; then the slow-client case: 200 clients that send one
header line every 2 s while a kept-alive load of 16 clients runs and a
single request is timed.

Usage: python3 bench/api/run_api_bench.py [--build build/default] [--requests N]
Reports requests per second, failures and the load average beside them.
"""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))


def sign_of(params):
    """The API signature: byte sums of the sorted "name=value" texts in 16 lanes."""
    lanes = [0] * 16
    pos = 0
    for text in sorted(f"{k}={v}" for k, v in params.items()):
        for b in text.encode():
            lanes[pos] = (lanes[pos] + b) & 0xFF
            pos = (pos + 1) % 16
    return "".join(f"{x:02X}" for x in lanes)


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port(port, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def ab(url, clients, requests, keepalive):
    args = ["ab", "-q", "-s", "30", "-n", str(requests), "-c", str(clients)]
    if keepalive:
        args.append("-k")
    out = subprocess.run(args + [url], capture_output=True, text=True).stdout
    rps = re.search(r"Requests per second:\s+([\d.]+)", out)
    failed = re.search(r"Failed requests:\s+(\d+)", out)
    non2xx = re.search(r"Non-2xx responses:\s+(\d+)", out)
    if rps is None:
        return None, None
    bad = int(failed.group(1)) + (int(non2xx.group(1)) if non2xx else 0)
    return float(rps.group(1)), bad


def time_one(port, path):
    start = time.time()
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=30)
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
        data = b""
        while True:
            piece = s.recv(65536)
            if not piece:
                break
            data += piece
        s.close()
        return time.time() - start if data.startswith(b"HTTP/1.1 200") else None
    except OSError:
        return None


class SlowClients:
    """Clients that send one header line every 2 s and never finish."""

    def __init__(self, port, count):
        self.socks = []
        for _ in range(count):
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=5)
                s.sendall(b"GET /app/install/info HTTP/1.1\r\n")
                self.socks.append(s)
            except OSError:
                break
        self.stop = False
        self.thread = threading.Thread(target=self.drip, daemon=True)
        self.thread.start()

    def drip(self):
        while not self.stop:
            for s in self.socks:
                try:
                    s.send(b"X-Drip: 1\r\n", socket.MSG_DONTWAIT)
                except OSError:
                    pass
            time.sleep(2)

    def close(self):
        self.stop = True
        self.thread.join()
        for s in self.socks:
            s.close()


def nginx_conf(folder, body, workers):
    tmp = os.path.join(folder, "tmp")
    os.makedirs(tmp, exist_ok=True)
    temps = "".join(f"  {k}_temp_path {tmp};\n" for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    text = (f"daemon off;\nworker_processes {workers};\npid {folder}/nginx.pid;\n"
            f"events {{ worker_connections 4096; }}\nworker_rlimit_nofile 16384;\n"
            f"http {{\n  access_log off;\n{temps}{body}}}\n")
    path = os.path.join(folder, "nginx.conf")
    with open(path, "w") as f:
        f.write(text)
    return path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(TOP, "build", "default"))
    parser.add_argument("--requests", type=int, default=20000)
    a = parser.parse_args()
    if shutil.which("ab") is None:
        sys.exit("ab is missing: apt-get install apache2-utils")
    bindir = os.path.join(a.build, "bin")
    work = tempfile.mkdtemp(prefix="kwbench-api.")
    # nginx's workers may run as another user: they must reach the files.
    os.chmod(work, 0o755)
    procs = []
    logs = {}
    try:
        product = os.path.join(work, "product")
        os.makedirs(os.path.join(product, "data"))
        with open(os.path.join(product, "data", "a.bin"), "wb") as f:
            f.write(os.urandom(100000))
        subprocess.run([os.path.join(bindir, "kwpack"), "make", product, os.path.join(work, "pk"), "V2.0.0"],
                       check=True, capture_output=True)

        def kwserve(port):
            log = open(os.path.join(work, f"kwserve{port}.log"), "w")
            logs[port] = log.name
            p = subprocess.Popen([os.path.join(bindir, "kwserve"), "--root", os.path.join(work, "pk"),
                                  "--port", str(port), "--max-skew", "86400"],
                                 stdout=subprocess.DEVNULL, stderr=log)
            procs.append(p)
            if not wait_port(port):
                sys.exit(f"kwserve on {port} did not start")

        alone, one, two, proxy, uncached, static = (free_port() for _ in range(6))
        for port in (alone, one, two):
            kwserve(port)
        stamp = str(int(time.time()))
        path = f"/app/install/info?timestamp={stamp}&sign={sign_of({'timestamp': stamp})}"
        answer = urllib.request.urlopen(f"http://127.0.0.1:{alone}{path}").read()

        # nginx in front of two instances: the deploy file with its marked
        # lines changed and the per-address limits lifted.
        with open(os.path.join(TOP, "deploy", "nginx", "tarnwick-api.conf")) as f:
            api = f.read()
        cache = os.path.join(work, "nginx-cache")
        api = (api.replace("listen 9090;", f"listen 127.0.0.1:{proxy};")
               .replace("/var/lib/nginx/tarnwick-api ", f"{cache} ")
               .replace("127.0.0.1:9091 ", f"127.0.0.1:{one} ").replace("127.0.0.1:9092 ", f"127.0.0.1:{two} ")
               .replace("rate=50r/s", "rate=10000000r/s").replace("burst=100", "burst=10000000")
               .replace("limit_conn tarnwick_api_conn 64;", "limit_conn tarnwick_api_conn 60000;"))
        if f"{cache} " not in api or "proxy_cache tarnwick_api_cache;" not in api:
            sys.exit("deploy/nginx/tarnwick-api.conf lost a line this bench changes")
        variants = (("nginx-proxy", api),
                    ("nginx-uncached", api.replace(f"listen 127.0.0.1:{proxy};", f"listen 127.0.0.1:{uncached};")
                     .replace("proxy_cache tarnwick_api_cache;", "proxy_cache off;")))
        for name, text in variants:
            pdir = os.path.join(work, name)
            os.makedirs(pdir)
            conf = nginx_conf(pdir, text.replace(f"{cache} ", f"{cache}-{name} "), "auto")
            procs.append(subprocess.Popen(["/usr/sbin/nginx", "-p", pdir, "-e", f"{pdir}/error.log", "-c", conf]))

        sdir = os.path.join(work, "nginx-static")
        os.makedirs(sdir, mode=0o755)
        with open(os.path.join(sdir, "info.json"), "wb") as f:
            f.write(answer)
        body = (f"  server {{\n    listen 127.0.0.1:{static};\n    location = /app/install/info {{\n"
                f"      default_type application/json;\n      alias {sdir}/info.json;\n    }}\n  }}\n")
        conf = nginx_conf(sdir, body, 1)
        procs.append(subprocess.Popen(["/usr/sbin/nginx", "-p", sdir, "-e", f"{sdir}/error.log", "-c", conf]))
        for port in (proxy, uncached, static):
            if not wait_port(port):
                sys.exit(f"nginx on {port} did not start")

        targets = [("kwserve", alone), ("nginx+2", proxy), ("uncached", uncached), ("static", static)]
        print(f"load average at start: {loadavg()}")
        print(f"{'case':<24}" + "".join(f"{name:>18}" for name, _ in targets) + "   load")
        results = {}
        for keepalive in (False, True):
            for clients in (1, 16, 64, 256):
                label = f"{'kept-alive' if keepalive else 'new conn'} c={clients}"
                row = f"{label:<24}"
                for name, port in targets:
                    n = a.requests if clients > 1 or keepalive else max(a.requests // 4, 1000)
                    rps, bad = ab(f"http://127.0.0.1:{port}{path}", clients, n, keepalive)
                    results[(label, name)] = (rps, bad)
                    row += f"{'-' if rps is None else f'{rps:,.0f}/s'}{'' if not bad else f' {bad}!':>0}".rjust(18)
                print(row + f"   {loadavg()}")
                sys.stdout.flush()

        print("\nslow clients: 200 connections dripping one header line every 2 s")
        for name, port in targets[:2]:
            slow = SlowClients(port, 200)
            time.sleep(1)
            one_request = time_one(port, path)
            rps, bad = ab(f"http://127.0.0.1:{port}{path}", 16, a.requests, True)
            slow.close()
            print(f"  {name:<10} one request {'failed' if one_request is None else f'{one_request * 1000:.1f} ms'}, "
                  f"kept-alive c=16 {'-' if rps is None else f'{rps:,.0f}/s'}, failed {bad}   load {loadavg()}")

        print("\ngoals (kwserve / static): kept-alive >= 1/3 at c=1 and c=16; new conn >= 1/2 at c=16 and c=64")
        for label, goal in (("kept-alive c=1", 1 / 3), ("kept-alive c=16", 1 / 3),
                            ("new conn c=16", 1 / 2), ("new conn c=64", 1 / 2)):
            k, s = results[(label, "kwserve")][0], results[(label, "static")][0]
            if k and s:
                print(f"  {label:<18} {k / s:.2f} (goal {goal:.2f}) {'met' if k / s >= goal else 'MISSED'}")
        print("goal: through nginx to two instances no worse than kwserve alone")
        for label in ("kept-alive c=16", "kept-alive c=64", "new conn c=16", "new conn c=64"):
            k = results[(label, "kwserve")][0]
            for name in ("nginx+2", "uncached"):
                p = results[(label, name)][0]
                if k and p:
                    # Runs of the same target differ by a few per cent, and at
                    # new connections every target meets ab's own ceiling
                    # (see static), so a share within 5 % is no loss.
                    verdict = (("met" if p >= k else "met (within 5 %)" if p >= 0.95 * k else "MISSED")
                               if name == "nginx+2" else "(the hop's cost)")
                    print(f"  {name:<8} / kwserve {label:<18} {p / k:.2f} {verdict}")
        fails = sum(bad or 0 for (label, name), (rps, bad) in results.items() if "256" in label)
        print(f"  failures at 256 clients: {fails}")
        print(f"peak resident size of kwserve alone: {peak_kib(procs[0].pid) / 1024:.1f} MiB")
    finally:
        for p in procs:
            p.send_signal(signal.SIGTERM)
        for p in procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
