#!/usr/bin/env python3
"""Independent INI peer for the profile tests, built on Python's configparser.

  ini_peer.py check FILE SECTION KEY VALUE [SECTION KEY VALUE ...]
      exit 0 when configparser reads every VALUE back from FILE, else print
      the differences and exit 1.
  ini_peer.py write FILE SECTION KEY VALUE [SECTION KEY VALUE ...]
      write the pairs with configparser (keys keep their case).
"""
import configparser
import sys


def parser():
    p = configparser.ConfigParser(interpolation=None, strict=True)
    p.optionxform = str  # keep key case as written
    return p


def triples(args):
    if len(args) % 3:
        sys.exit("arguments must come in SECTION KEY VALUE triples")
    return [args[i:i + 3] for i in range(0, len(args), 3)]


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    mode, path, rest = sys.argv[1], sys.argv[2], triples(sys.argv[3:])
    p = parser()
    if mode == "check":
        with open(path, encoding="utf-8") as f:
            p.read_file(f)
        bad = 0
        for section, key, value in rest:
            got = p.get(section, key, fallback=None)
            if got != value:
                print(f"[{section}] {key}: expected {value!r}, got {got!r}")
                bad += 1
        sys.exit(1 if bad else 0)
    if mode == "write":
        for section, key, value in rest:
            if not p.has_section(section):
                p.add_section(section)
            p.set(section, key, value)
        with open(path, "w", encoding="utf-8") as f:
            p.write(f)
        return
    sys.exit(__doc__)


main()
