#!/usr/bin/env python3
"""Control-frame checksum vectors, computed apart from the C++ code.

checksum = sum over every byte of the frame (checksum field zeroed) of
           index + byte taken as signed 8-bit, modulo 2^32.
Prints each frame as hex; ControlFrameTest.cpp holds the output.
"""
import struct


def frame(kind, payload):
    head = b"Qiv\x00" + struct.pack("<iiI", kind, len(payload), 0)
    data = head + payload
    total = 0
    for i, b in enumerate(data):
        total += i + (b - 256 if b >= 128 else b)
    total &= 0xFFFFFFFF
    return head[:12] + struct.pack("<I", total) + payload, total


vectors = [
    ("keepalive", 1, b""),
    ("buffering", 40, struct.pack("<iii", 20, 10, 300)),
    ("high_bytes", 30, bytes([0x80, 0xFF, 0x7F, 0x00, 0xFE])),
    ("negative_type", -1, b""),
]
for name, kind, payload in vectors:
    data, total = frame(kind, payload)
    print(f"{name}: checksum=0x{total:08X} frame={data.hex()}")
