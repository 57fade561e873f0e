#!/usr/bin/env python3
"""Writes the two releases of the update benchmark: OLD and NEW trees of
about MB megabytes that differ as releases do (a few files rewritten, added
and removed, an in-place overwrite inside a large incompressible file and an
insertion inside a large text file).

    gentree.py OLD NEW MB
"""
import os
import random
import sys

WORDS = [b"tarnwick ", b"installer ", b"piece ", b"volume ", b"range ", b"manifest\n",
         b"update ", b"release ", b"folder ", b"engine\n"]


def text(rng, n):
    out = bytearray()
    while len(out) < n:
        out += rng.choice(WORDS)
        if rng.random() < 0.03:
            out += str(rng.getrandbits(32)).encode() + b"\n"
    return bytes(out[:n])


def write(root, tree):
    for i, (name, data) in enumerate(sorted(tree.items())):
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        t = 1700000000 + 1000 * i
        os.utime(path, (t, t))


def main():
    old_root, new_root, mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
    rng = random.Random(26)
    total = mb * 1000 * 1000
    big = total * 2 // 5
    tree = {
        "Windows/Tarnwick.exe": b"\x7fELF" + rng.randbytes(total // 50),
        "ikwdriver/uninstall.exe": b"#!/bin/sh\nexit 0\n" + rng.randbytes(40000),
        "data/assets.pak": rng.randbytes(big),
        "doc/manual.txt": text(rng, big),
        "old/legacy.dat": rng.randbytes(total // 100),
    }
    for i in range(40):
        tree["plugins/p%02d.so" % i] = b"\x7fELF" + rng.randbytes((total // 10) // 40)
        tree["conf/c%02d.ini" % i] = text(rng, 2000)
    write(old_root, tree)
    new = dict(tree)
    new["Windows/Tarnwick.exe"] = b"\x7fELF" + rng.randbytes(total // 50)  # rewritten
    for i in (3, 17):
        new["plugins/p%02d.so" % i] = b"\x7fELF" + rng.randbytes((total // 10) // 40)
    new["conf/c05.ini"] = text(rng, 2100)
    del new["old/legacy.dat"]  # removed
    new["new/added.bin"] = rng.randbytes(total // 200)  # added
    pak = bytearray(new["data/assets.pak"])
    at = len(pak) // 2
    pak[at:at + 65536] = rng.randbytes(65536)  # overwritten in place
    new["data/assets.pak"] = bytes(pak)
    manual = new["doc/manual.txt"]
    cut = len(manual) // 3
    new["doc/manual.txt"] = manual[:cut] + b"A paragraph the new release inserts.\n" + manual[cut:]
    write(new_root, new)


if __name__ == "__main__":
    main()
