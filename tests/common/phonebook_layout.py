#!/usr/bin/env python3
"""Builds a phonebook file from the record layout alone, for comparison with
what the program writes. Usage: phonebook_layout.py OUT"""
import struct
import sys


def audio_format(coding, bitrate, rate, mode, frame, direction, aptx):
    return struct.pack("<7i", coding, bitrate, rate, mode, frame, direction, aptx) + bytes(40) + struct.pack("<h", 0) + bytes(2)


def connection(kind, address, port, flag, hops, ctype, bmode, bms):
    return (struct.pack("<i", kind) + address.ljust(80, b"\0") + struct.pack("<3i", port, flag, hops)
            + bytes(148) + struct.pack("<3i", ctype, bmode, bms) + bytes(40))


def entry(index, name, conn, fmt, auto, rkind, rname):
    rec = (struct.pack("<i", index) + name.ljust(30, b"\0") + bytes(26) + struct.pack("<i", 488)
           + conn + fmt + struct.pack("<2i", auto, rkind) + rname.ljust(48, b"\0"))
    assert len(rec) == 488
    return rec


# The same three entries the test adds, in file order (newest first).
records = [
    (b"Multicast", connection(128, b"239.1.2.3", 5005, 1, 16, 0, 0, 0), audio_format(32, 256000, 48000, 20, 768, 0, 1), 0, 0, b""),
    (b"Studio B", connection(32, b"0301234567".ljust(40, b"\0") + b"0307654321", 0, 0, 0, 10, 0, 0), audio_format(8, 128000, 16000, 20, 0, 16, 1), 1, 32, b"Studio B"),
    (b"Studio A", connection(16, b"studio-a.example", 5003, 1, 0, 20, 20, 1500), audio_format(1, 768000, 48000, 10, 0, 0, 0), 0, 0, b""),
]
out = struct.pack("<4sI", b"Qiv\0", 0x00010001)
for i, r in enumerate(records):
    out += entry(i, *r)
open(sys.argv[1], "wb").write(out)
