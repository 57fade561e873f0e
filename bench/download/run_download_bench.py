#!/usr/bin/env python3
"""Download benchmark: kwinstall against aria2c and single-stream curl.

Every tool fetches the same package volumes from the same kwserve in the same
run, once with a per-connection rate limit and once without.  Results are
ratios of download speed (higher is better for kwinstall) and the peak
resident size of the whole kwinstall run (download, verify, unpack, finish).

On both links kwinstall also runs against the same volumes served without
release.json (so no "sha256" reaches it): the difference is what the SHA-256
in the verify pass costs, shown against the whole install time together with
the time one SHA-256 of every volume takes on this machine.  On the unlimited
loopback link the server and the installer share this machine's cores, so the
digest competes with the transfer for processor time; on the rate-limited link
it runs in time the transfer leaves idle.

Every timed step starts from the same state: bench/settle.sh syncs and waits
until the kernel holds no dirty or writeback pages worth counting, and the
1-minute load average at that moment is kept with the figure.  Each figure is
the median of --runs runs (5 by default) with the fastest and slowest beside
it; a ratio divides two medians, and the range beside it is that of the
ratios of the runs taken one by one.

The multi-volume case (--multi-volumes N, default 5) installs a package of N
volumes, where unpacking takes a noticeable share: kwinstall's whole install
(the volumes are unpacked while later ones still download) against the
download-only time of aria2c over the same volumes and link, and against the
time kwinstall takes to install the same volumes from disk (--volume).  The
goal: the whole install takes at most the download-only time plus the unpack
time of the last volume, plus 10 %.

usage: run_download_bench.py [--build DIR] [--work DIR] [--megabytes N]
                             [--rate BYTES_PER_SECOND] [--runs N] [--sha-pairs N]
                             [--multi-megabytes N] [--multi-volumes N] [--only-multi]
"""
import argparse
import os
import shutil
import subprocess
import sys
import time


def start_server(kwserve, package, extra):
    proc = subprocess.Popen([kwserve, "--root", package, "--port", "0"] + extra,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline().strip()
    if not line.startswith("listening on "):
        proc.kill()
        sys.exit("kwserve did not start: " + line)
    return proc, line[len("listening on "):]


SETTLE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "settle.sh")


def settle():
    """Waits until earlier writes are on disk (bench/settle.sh); returns the
    1-minute load average at that moment."""
    out = subprocess.run([SETTLE], capture_output=True, text=True, check=True)
    if out.stderr:
        sys.stderr.write(out.stderr)
    return float(out.stdout.strip() or 0)


def timed(cmd, res=None, key=None, **kw):
    """Runs cmd from the settled state; returns (seconds, peak RSS in MiB,
    stdout) and keeps the load average under res["load_" + key]."""
    # Dirty pages of the tool before must not slow down the next one.
    load = settle()
    if res is not None:
        res["load_" + key] = load
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (proc.returncode, " ".join(cmd), out))
    return seconds, usage.ru_maxrss / 1024.0, out


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def fetch_urls(bins, url):
    listing = subprocess.run([bins["kwbenchdl"], "urls", url], capture_output=True, text=True,
                             check=True).stdout.split("\n")
    return [l.split(" ", 2) for l in listing if l.strip()]


def user_env(work):
    """A user of the bench's own: kwinstall registers the product and puts a
    desktop entry for it, and none of that may reach the real home folder or
    the machine's key store."""
    # Absolute: relative XDG folders are invalid and would be passed over.
    home = os.path.abspath(os.path.join(work, "home"))
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"),
               XDG_DESKTOP_DIR=os.path.join(home, "Desktop"),
               KW_REGISTRY_DIR=os.path.abspath(os.path.join(work, "registry")))
    os.makedirs(env["XDG_DESKTOP_DIR"], exist_ok=True)
    return env


def run_kwinstall(bins, url, work, res):
    target = os.path.join(work, "kwinstall")
    fresh(target)
    ini = os.path.join(work, "bench.ini")
    with open(ini, "w") as f:
        f.write("[INSTALL]\nREQUIREDSPACE=1048576\n")
    _, rss, out = timed([bins["kwinstall"], "--server", url, "--dir", target, "--agree",
                         "--ini", ini, "--quiet", "--timing"], res, "kwinstall",
                        env=user_env(work))
    timing = dict(l.rsplit(" ", 1) for l in out.splitlines() if l.endswith(tuple("0123456789")))
    res["kwinstall"] = float(timing["download seconds"])
    res["install"] = float(timing["install seconds"])
    res["tail"] = float(timing["verify tail seconds"])
    res["overlap"] = float(timing.get("overlap seconds", "0"))
    res["rss"] = rss
    shutil.rmtree(target, ignore_errors=True)


def sha256_seconds(package):
    """Seconds for one SHA-256 over every volume (the bytes are cached)."""
    import hashlib
    names = sorted(n for n in os.listdir(package) if n.endswith(".kwk"))
    for n in names:  # into the page cache first
        with open(os.path.join(package, n), "rb") as f:
            while f.read(1 << 20):
                pass
    start = time.monotonic()
    for n in names:
        h = hashlib.sha256()
        with open(os.path.join(package, n), "rb") as f:
            while True:
                b = f.read(1 << 20)
                if not b:
                    break
                h.update(b)
    return time.monotonic() - start


def unsigned_copy(package, work):
    """The package without release.json, its volumes hard-linked."""
    plain = os.path.join(work, "package-nosha")
    fresh(plain)
    for n in os.listdir(package):
        if n != "release.json":
            os.link(os.path.join(package, n), os.path.join(plain, n))
    return plain


def run_aria2c(bins, url, work, res):
    volumes = fetch_urls(bins, url)
    target = os.path.join(work, "aria2c")
    fresh(target)
    inputs = os.path.join(work, "aria2c.txt")
    with open(inputs, "w") as f:
        for name, _, u in volumes:
            f.write("%s\n  out=%s\n" % (u, name))
    res["aria2c"], _, _ = timed(["aria2c", "-x4", "-s4", "-k12M", "-j1", "-q", "-d", target,
                                 "-i", inputs, "--allow-overwrite=true"], res, "aria2c")
    shutil.rmtree(target, ignore_errors=True)


def run_curl(bins, url, work, res):
    volumes = fetch_urls(bins, url)
    target = os.path.join(work, "curl")
    fresh(target)
    res["load_curl"] = settle()
    start = time.monotonic()
    for name, _, u in volumes:
        subprocess.run(["curl", "-s", "-f", "-o", os.path.join(target, name), u], check=True)
    res["curl"] = time.monotonic() - start
    shutil.rmtree(target, ignore_errors=True)


def one_round(bins, package, work, extra, rotation):
    """One measurement of every tool; the order turns by `rotation`, so no
    tool always inherits the page cache state left by the same other."""
    server, url = start_server(bins["kwserve"], package, extra)
    try:
        res = {"bytes": sum(int(v[1]) for v in fetch_urls(bins, url))}
        tools = [run_kwinstall, run_aria2c, run_curl]
        k = rotation % len(tools)
        for tool in tools[k:] + tools[:k]:
            tool(bins, url, work, res)
    finally:
        server.terminate()
        server.wait()
    return res


def sha_pairs(bins, package, work, extra, pairs):
    """kwinstall `pairs` times against the package with release.json and as
    often without it, alternating, both servers up at once.  Returns for each
    ("sha", "nosha") the download-phase, whole-install and verify-tail seconds."""
    out = {"sha": ([], [], []), "nosha": ([], [], [])}
    with_sha, with_url = start_server(bins["kwserve"], package, extra)
    plain, plain_url = start_server(bins["kwserve"], unsigned_copy(package, work), extra)
    try:
        for _ in range(pairs):
            for key, url in (("sha", with_url), ("nosha", plain_url)):
                res = {}
                run_kwinstall(bins, url, work, res)
                out[key][0].append(res["kwinstall"])
                out[key][1].append(res["kwinstall"] + res["install"])
                out[key][2].append(res["tail"])
                out.setdefault("load", []).append(res["load_kwinstall"])
    finally:
        for server in (with_sha, plain):
            server.terminate()
            server.wait()
    return out


def install_from_disk(bins, package, work):
    """Seconds kwinstall takes to install the volumes straight from disk."""
    target = os.path.join(work, "kwinstall-disk")
    fresh(target)
    for n in os.listdir(package):  # into the page cache, as a download leaves them
        if n.endswith(".kwk"):
            with open(os.path.join(package, n), "rb") as f:
                while f.read(1 << 20):
                    pass
    seconds, _, _ = timed([bins["kwinstall"], "--volume", os.path.join(package, "V2.0.0_000.kwk"),
                           "--dir", target, "--agree", "--quiet"], env=user_env(work))
    shutil.rmtree(target, ignore_errors=True)
    return seconds


def multi_volume_case(bins, args, work, label, extra):
    """kwinstall's whole install of a multi-volume package against aria2c's
    download of the same volumes and kwinstall's install from disk."""
    mwork = os.path.join(work, "multi")
    package = os.path.join(mwork, "package")
    if not os.path.exists(os.path.join(package, "list.json")):
        fresh(mwork)
        volume_mb = max(1, args.multi_megabytes // args.multi_volumes)
        print("making a %d MiB package of about %d MiB volumes ..." %
              (args.multi_megabytes, volume_mb), flush=True)
        subprocess.run([bins["kwbenchdl"], "make", mwork, str(args.multi_megabytes),
                        str(volume_mb)], check=True)
        shutil.rmtree(os.path.join(mwork, "source"), ignore_errors=True)
    sizes = sorted((n, os.path.getsize(os.path.join(package, n)))
                   for n in os.listdir(package) if n.endswith(".kwk"))
    if len(sizes) < 4:
        sys.exit("the multi-volume package has %d volumes; at least four are needed" % len(sizes))
    total = sum(s for _, s in sizes)
    # Each round in turn: aria2c's download, kwinstall's whole install, the
    # install from disk; a figure is the median of the rounds, so one slow
    # round (the disk busy with an earlier round's trees) does not decide it.
    rounds = []
    # Every step writes the package afresh (kwinstall twice over: the volumes
    # and the unpacked tree), so each starts on memory warmed for it (see
    # bench/settle.sh).
    os.environ["SETTLE_WARM_MB"] = str(int(2.2 * total / 2**20))
    server, url = start_server(bins["kwserve"], package, extra)
    try:
        for _ in range(args.runs):
            res, whole = {}, {}
            run_aria2c(bins, url, mwork, res)
            run_kwinstall(bins, url, mwork, whole)
            rounds.append({"aria2c": res["aria2c"], "download": whole["kwinstall"],
                           "after": whole["install"], "overlap": whole["overlap"],
                           "whole": whole["kwinstall"] + whole["install"],
                           "load": res.get("load_aria2c", 0.0)})
    finally:
        server.terminate()
        server.wait()
    for r in rounds:
        r["disk"] = install_from_disk(bins, package, mwork)
    del os.environ["SETTLE_WARM_MB"]
    for r in rounds:
        # Unpacking runs at about the same pace for every byte: the last
        # volume's share of the install from disk is its unpack time.
        r["last"] = r["disk"] * sizes[-1][1] / total
        r["goal"] = r["whole"] / (r["aria2c"] + r["last"])
        r["sequential"] = r["whole"] / (r["aria2c"] + r["disk"])
    m = {k: median([r[k] for r in rounds]) for k in rounds[0]}
    print("%s, %d volumes, %.0f MB, median of %d rounds: kwinstall whole install %s s "
          "(download phase %.2f s, unpacking overlapped it for %.2f s, %.2f s after); aria2c "
          "download only %s s; kwinstall from disk %s s, of it the last volume %.2f s" %
          (label, len(sizes), total / 1e6, len(rounds), spread([r["whole"] for r in rounds]),
           m["download"], m["overlap"], m["after"], spread([r["aria2c"] for r in rounds]),
           spread([r["disk"] for r in rounds]), m["last"]))
    print("%s, whole install / (download only + last volume unpack) = %s (goal <= 1.10); "
          "/ (download only + whole unpack) = %.2f; %s" %
          (label, spread([r["goal"] for r in rounds]), m["sequential"],
           loads([r["load"] for r in rounds])), flush=True)
    seconds = m["whole"]
    goal = (m["aria2c"] + m["last"]) * 1.10
    return seconds <= goal


def median(values):
    values = sorted(values)
    n = len(values)
    return values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2.0


def spread(values, fmt="%.2f"):
    """The median with the smallest and largest value: "M (min A, max B)"."""
    return (fmt + " (min " + fmt + ", max " + fmt + ")") % (median(values), min(values),
                                                             max(values))


def loads(values):
    return "load %.2f-%.2f" % (min(values), max(values))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(root, "build", "default"))
    p.add_argument("--work", default=None)
    p.add_argument("--megabytes", type=int, default=950)
    p.add_argument("--rate", type=int, default=20 * 1024 * 1024)
    p.add_argument("--runs", "--rounds", dest="runs", type=int, default=5,
                   help="runs of every tool per link; each figure is their median")
    p.add_argument("--sha-pairs", type=int, default=1,
                   help="installs with and without SHA-256 per run on the unlimited link")
    p.add_argument("--multi-megabytes", type=int, default=1200,
                   help="size of the multi-volume package")
    p.add_argument("--multi-volumes", type=int, default=5)
    p.add_argument("--only-multi", action="store_true", help="run only the multi-volume case")
    args = p.parse_args()
    if args.runs < 1:
        p.error("--runs takes a whole number from 1")
    bindir = os.path.join(args.build, "bin")
    bins = {n: os.path.join(bindir, n) for n in ("kwserve", "kwinstall", "kwbenchdl")}
    for n, path in bins.items():
        if not os.access(path, os.X_OK):
            sys.exit("missing %s (build the targets kwserve kwinstall kwbenchdl)" % path)
    for tool in ("aria2c", "curl"):
        if shutil.which(tool) is None:
            sys.exit("missing " + tool)
    work = args.work or os.path.join(args.build, "bench-download")
    os.makedirs(work, exist_ok=True)
    print("load average before: %s" % open("/proc/loadavg").read().strip(), flush=True)
    for label, extra in (("rate-limited %d B/s per connection" % args.rate,
                          ["--rate-limit", str(args.rate)]), ("unlimited", [])):
        multi_volume_case(bins, args, work, label, extra)
    if args.only_multi:
        return
    package = os.path.join(work, "package")
    if not os.path.exists(os.path.join(package, "list.json")):
        shutil.rmtree(package, ignore_errors=True)
        print("making a %d MiB package ..." % args.megabytes, flush=True)
        subprocess.run([bins["kwbenchdl"], "make", work, str(args.megabytes)], check=True)
        shutil.rmtree(os.path.join(work, "source"), ignore_errors=True)

    for label, extra in (("rate-limited %d B/s per connection" % args.rate,
                          ["--rate-limit", str(args.rate)]), ("unlimited", [])):
        rounds = []
        for r in range(args.runs):
            res = one_round(bins, package, work, extra, r)
            rounds.append(res)
            mb = res["bytes"] / 1e6
            print("%s, run %d of %d: %.0f MB; kwinstall %.2f s, aria2c %.2f s, curl %.2f s "
                  "(load %.2f, %.2f, %.2f)" %
                  (label, r + 1, args.runs, mb, res["kwinstall"], res["aria2c"], res["curl"],
                   res["load_kwinstall"], res["load_aria2c"], res["load_curl"]), flush=True)
            pairs = sha_pairs(bins, package, work, extra, args.sha_pairs if not extra else 1)
            for key in ("sha", "nosha"):
                res.setdefault(key + "_download", []).extend(pairs[key][0])
                res.setdefault(key + "_whole", []).extend(pairs[key][1])
                res.setdefault(key + "_tail", []).extend(pairs[key][2])
            res["sha_load"] = pairs["load"]
        mb = rounds[0]["bytes"] / 1e6
        print("%s, median of %d runs (fastest and slowest beside it):" % (label, len(rounds)))
        for tool in ("kwinstall", "aria2c", "curl"):
            secs = [r[tool] for r in rounds]
            print("  %-9s %s s, %.1f MB/s, %s" %
                  (tool, spread(secs), mb / median(secs), loads([r["load_" + tool] for r in rounds])))
        for peer in ("aria2c", "curl"):
            per_run = [r[peer] / r["kwinstall"] for r in rounds]
            print("  kwinstall speed / %-6s %.2f (runs %.2f to %.2f)" %
                  (peer, median([r[peer] for r in rounds]) / median([r["kwinstall"] for r in rounds]),
                   min(per_run), max(per_run)))
        print("  kwinstall install phase %s s; peak RSS of the whole run %s MiB" %
              (spread([r["install"] for r in rounds]), spread([r["rss"] for r in rounds], "%.1f")),
              flush=True)
        # The SHA-256 figure: medians over every install of every round, the
        # download phase (where the digest runs) and the whole install.
        def pooled(key):
            return median([v for r in rounds for v in r[key]])
        sha = sha256_seconds(package)
        count = sum(len(r["sha_whole"]) for r in rounds)
        pooled_load = [v for r in rounds for v in r["sha_load"]]

        def every(key):
            return [v for r in rounds for v in r[key]]
        print("%s, SHA-256 in the verify pass (median of %d installs each, %s):" %
              (label, count, loads(pooled_load)))
        print("  download %s s with it, %s s without (%+.1f %% by the medians)" %
              (spread(every("sha_download")), spread(every("nosha_download")),
               100.0 * (pooled("sha_download") - pooled("nosha_download")) / pooled("nosha_download")))
        print("  whole install %s s with, %s s without (%+.1f %% by the medians)" %
              (spread(every("sha_whole")), spread(every("nosha_whole")),
               100.0 * (pooled("sha_whole") - pooled("nosha_whole")) / pooled("nosha_whole")))
        print("  one SHA-256 of every volume %.2f s" % sha)
        print("  verify pass after the last segment (not hidden behind the transfer): %s s with "
              "SHA-256, %s s without" % (spread(every("sha_tail"), "%.3f"),
                                         spread(every("nosha_tail"), "%.3f")), flush=True)

if __name__ == "__main__":
    main()
