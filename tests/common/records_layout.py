#!/usr/bin/env python3
"""Independent check of the on-disk and on-wire record layouts.

  records_layout.py DIR

DIR holds AudioFormat.bin, ConnectionInfo.bin and PhonebookEntry.bin, written
by the program's Store functions from the sample values below (the C++ test
fills the same values). The expected bytes are built here with `struct` from
the published layout alone: little-endian 32-bit words and fixed text fields.
The script also writes py_PhonebookEntry.bin, which the C++ test loads back.
Exit 0 when every byte matches.
"""
import os
import struct
import sys


def text(s, width):
    b = s.encode("ascii")
    return b + b"\0" * (width - len(b))


def audio_format():
    # codingType, bitRate, sampleRate, deviceMode, frameBytes, direction, aptxOption
    words = (32, -1, 48000, 21, 0x01020304, 32, -2)
    reserved = bytes(0x40 + i for i in range(40))
    return struct.pack("<7i40sh2s", *words, reserved, -3, b"\xee\xef")


def connection_info():
    # kind, number1 (40), number2 (40), port, flag, hops, reserved (148),
    # connectionType, bufferingMode, bufferMs, reserved2 (40)
    return struct.pack("<i40s40s3i148s3i40s", 32, text("0301234567", 40), text("0409876543", 40),
                       5003, 1, 0x7F, bytes(i & 0xFF for i in range(148)), 20, 10, 1500,
                       bytes(0xA0 + i for i in range(40)))


def phonebook_entry():
    head = struct.pack("<i30s26si", 7, text("Studio B", 30), bytes(0x30 + i for i in range(26)), 488)
    tail = struct.pack("<ii48s", 1, 16, text("Backup line", 48))
    return head + connection_info() + audio_format() + tail


def main():
    d = sys.argv[1]
    expected = {
        "AudioFormat.bin": (audio_format(), 72),
        "ConnectionInfo.bin": (connection_info(), 296),
        "PhonebookEntry.bin": (phonebook_entry(), 488),
    }
    bad = 0
    for name, (want, size) in expected.items():
        assert len(want) == size, (name, len(want))
        with open(os.path.join(d, name), "rb") as f:
            got = f.read()
        if got != want:
            bad += 1
            diffs = [i for i in range(max(len(got), len(want)))
                     if i >= len(got) or i >= len(want) or got[i] != want[i]]
            print(f"{name}: {len(got)} bytes, first differences at offsets {diffs[:8]}")
    entry = bytearray(phonebook_entry())
    entry[0:4] = struct.pack("<i", -7)          # index
    entry[60:64] = struct.pack("<i", 1024)      # length
    entry[64 + 84:64 + 88] = struct.pack("<i", 65535)    # connection.port
    entry[360 + 4:360 + 8] = struct.pack("<i", 384000)   # format.bitRate
    entry[436:440] = struct.pack("<i", 128)     # reconnectKind
    with open(os.path.join(d, "py_PhonebookEntry.bin"), "wb") as f:
        f.write(entry)
    sys.exit(1 if bad else 0)


main()
