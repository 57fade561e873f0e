#!/usr/bin/env python3
"""A hostile install server for the attack tests, and a release signer.

  kwhostile.py serve --root DIR [--mode MODE] [--bytes-from DIR] [--keys K,K,...]
      Answers the install server API on 127.0.0.1 (a free port; prints
      "listening on URL") from the package folder DIR (list.json,
      release.json and its volumes), the way a server in an attacker's hands
      would:
        honest    serves DIR as it is (rollback and freeze: DIR holds an older
                  or an expired release)
        mix       lists DIR's release but sends the volume bytes of the
                  release in --bytes-from (mix-and-match)
        endless   answers every volume read with an endless stream
        trickle   sends volume bytes at a few bytes a second
        names     lists the volumes under the keys given with --keys (files
                  of the install folder, the same key twice)
      Every request is logged on standard error.

  kwhostile.py sign DIR KEY --expires SECONDS [--buildtime TEXT]
      Signs DIR/release.json with the private key file KEY (through the
      openssl command), with any expiry time, even one already past.
"""
import base64
import hashlib
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse


def load_release(root):
    with open(os.path.join(root, "release.json"), encoding="utf-8") as f:
        return json.load(f)


def escape(text):
    out = []
    for ch in text.encode("utf-8"):
        if ch < 0x20 or ch == 0x5C or ch == 0x7F:
            out.append("\\x%02x" % ch)
        else:
            out.append(chr(ch))
    return "".join(out)


def release_message(release, expires):
    volumes = release["volumes"]
    text = "tarnwick release 1\n"
    text += "version " + escape(release["version"]) + "\n"
    text += "buildtime " + escape(release["buildtime"]) + "\n"
    text += "expires %d\n" % expires
    text += "volumes %d\n" % len(volumes)
    for i, v in enumerate(volumes):
        text += "%d %d %s %s\n" % (i, int(v["length"]), escape(v["checksum"].upper()),
                                   escape(v["sha256"].lower()))
    if "manifest" in release:
        m = release["manifest"]
        text += "manifest %d %s\n" % (int(m["length"]), escape(m["sha256"].lower()))
    return text.encode("utf-8")


def public_key_hex(private_key_file):
    der = subprocess.run(["openssl", "pkey", "-in", private_key_file, "-pubout", "-outform", "DER"],
                         check=True, capture_output=True).stdout
    return der[-32:].hex()


def sign(root, key_file, expires, buildtime):
    release = load_release(root)
    if buildtime is not None:
        release["buildtime"] = buildtime
    message = release_message(release, expires)
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(message)
        name = f.name
    try:
        signature = subprocess.run(["openssl", "pkeyutl", "-sign", "-inkey", key_file, "-rawin",
                                    "-in", name], check=True, capture_output=True).stdout
    finally:
        os.unlink(name)
    raw = bytes.fromhex(public_key_hex(key_file))
    release["signature"] = {"expires": str(expires),
                            "key": hashlib.sha256(raw).hexdigest()[:16],
                            "ed25519": signature.hex()}
    with open(os.path.join(root, "release.json"), "w", encoding="utf-8") as f:
        json.dump(release, f, indent=2)


class Package:
    def __init__(self, root):
        self.root = root
        self.release = load_release(root)
        with open(os.path.join(root, "list.json"), encoding="utf-8") as f:
            self.listed = json.load(f)

    def volume_path(self, index):
        return os.path.join(self.root, self.listed[index]["name"])


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "hostile"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.command, self.path))
        sys.stderr.flush()

    def answer_json(self, data):
        body = json.dumps({"code": 0, "msg": "ok", "data": data}).encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlparse(self.path)
        query = urllib.parse.parse_qs(url.query)
        cfg = self.server.cfg
        if url.path == "/app/install/info":
            release = cfg["package"].release
            packages = []
            for i, v in enumerate(release["volumes"]):
                packages.append({"fileServerId": 1, "length": str(v["length"]),
                                 "lastModified": "0", "key": cfg["keys"][i],
                                 "checksum": v["checksum"], "sha256": v["sha256"]})
            data = {"version": release["version"], "buildtime": release["buildtime"],
                    "packages": packages}
            if "manifest" in release:
                # The release manifest, served as it is in every mode.
                m = release["manifest"]
                data["manifest"] = {"length": str(m["length"]), "sha256": m["sha256"],
                                    "url": "http://%s/manifest" % self.headers.get("Host")}
            if "signature" in release:
                data["signature"] = release["signature"]
            return self.answer_json(data)
        if url.path == "/manifest":
            package = cfg["package"]
            with open(os.path.join(package.root, package.release["manifest"]["name"]), "rb") as f:
                return self.send_range(f.read())
        if url.path == "/app/file/download-url":
            key = query.get("key", [""])[0]
            # The first volume listed under the key: duplicate keys all
            # fetch that one.
            index = cfg["keys"].index(key) if key in cfg["keys"] else 0
            host = self.headers.get("Host")
            return self.answer_json("http://%s/files/%d" % (host, index))
        if url.path.startswith("/files/"):
            return self.send_volume(int(url.path[len("/files/"):]))
        self.send_error(404)

    def send_volume(self, index):
        cfg = self.server.cfg
        source = cfg["bytes"] if cfg["mode"] == "mix" else cfg["package"]
        with open(source.volume_path(min(index, len(source.listed) - 1)), "rb") as f:
            whole = f.read()
        if cfg["mode"] == "endless":
            # Whatever was asked for: more bytes than any volume has, for ever.
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            try:
                while True:
                    self.wfile.write(whole or b"x" * 65536)
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.close_connection = True
            return
        self.send_range(whole)

    def send_range(self, whole):
        cfg = self.server.cfg
        first, last = 0, len(whole) - 1
        # The engine asks for one range "bytes=FIRST-LAST"; any other request
        # gets the whole file from byte 0.
        asked = self.headers.get("Range", "")
        if asked.startswith("bytes="):
            a, _, b = asked[6:].partition("-")
            first = int(a)
            last = min(int(b), len(whole) - 1) if b else len(whole) - 1
        body = whole[first:last + 1]
        self.send_response(206)
        self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, len(whole)))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            if cfg["mode"] == "trickle":
                for i in range(0, len(body), 4):
                    self.wfile.write(body[i:i + 4])
                    self.wfile.flush()
                    time.sleep(0.2)
            else:
                self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True


def serve(args):
    cfg = {"mode": "honest", "keys": None, "bytes": None}
    root = None
    i = 0
    while i < len(args):
        if args[i] == "--root":
            root = args[i + 1]
        elif args[i] == "--mode":
            cfg["mode"] = args[i + 1]
        elif args[i] == "--bytes-from":
            cfg["bytes"] = Package(args[i + 1])
        elif args[i] == "--keys":
            cfg["keys"] = args[i + 1].split(",")
        else:
            sys.exit("kwhostile: unknown argument " + args[i])
        i += 2
    cfg["package"] = Package(root)
    count = len(cfg["package"].release["volumes"])
    if cfg["keys"] is None:
        cfg["keys"] = ["packages/%s_%03d.tmp" % (cfg["package"].release["version"], k)
                       for k in range(count)]
    while len(cfg["keys"]) < count:
        cfg["keys"].append(cfg["keys"][-1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.cfg = cfg
    print("listening on http://127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever()


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    if sys.argv[1] == "serve":
        serve(sys.argv[2:])
    elif sys.argv[1] == "sign":
        root, key = sys.argv[2], sys.argv[3]
        rest = sys.argv[4:]
        expires = int(rest[rest.index("--expires") + 1])
        buildtime = rest[rest.index("--buildtime") + 1] if "--buildtime" in rest else None
        sign(root, key, expires, buildtime)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
