#!/usr/bin/env python3
"""An independent control application for the remote-control protocol,
written from its message tables alone. It connects to a station on
127.0.0.1:PORT and runs one scripted session; every mismatch is printed and
makes the exit status non-zero.

Usage: rip_client.py PORT
"""
import socket
import struct
import sys
import time

PROTOCOL_ERROR, IDENTITY = 1, 2
MAKE_CONNECTION, STOP_CONNECTION = 0x100, 0x101
SET_ENCODER, ANSWER_SETTINGS = 0x10010, 0x10020
STATE, CONNECTION_INFO, BANDWIDTH_INFO, REMOTE_IDENTITY = 0x20010, 0x20020, 0x20021, 0x20022
ENCODER_FORMAT, DECODER_FORMAT = 0x20030, 0x20031
CONNECTION_ERROR, MESSAGE_ERROR = 0x30010, 0x30020
NETWORK, ISDN, MULTICAST = 0x11, 0x20, 0x80

failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


class Station:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def send(self, command, body=b""):
        self.sock.sendall(struct.pack("<II", command, len(body)) + body)

    def read_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError("station closed the connection")
            data += chunk
        return data

    def read(self):
        command, size = struct.unpack("<II", self.read_exact(8))
        return command, self.read_exact(size)

    def expect(self, command):
        got, body = self.read()
        check("reply", hex(got), hex(command))
        return body


def text(raw):
    return raw.split(b"\0", 1)[0].decode("latin-1")


def main():
    station = Station(int(sys.argv[1]))
    (state,) = struct.unpack("<I", station.expect(STATE))
    check("state on connect", state, 16)

    station.send(IDENTITY)
    body = station.expect(IDENTITY)
    check("identity size", len(body), 74)
    a, b = struct.unpack_from("<HH", body)
    check("identity words", (a, b), (1, 1))
    check("product", text(body[4:24]), "Velmora")
    check("edition", text(body[24:49]), "Transvoria")
    check("version", text(body[49:59]), "V1.5b")
    check("build date", text(body[59:74]), "20-Jan-2010")

    # Layer II at 200 kbit/s and 24 kHz mono: snapped to 224 kbit/s, 48 kHz, joint stereo.
    station.send(SET_ENCODER, struct.pack("<4I", 32, 200000, 24000, 10))
    request = struct.pack("<I80sIIIII", NETWORK, b"127.0.0.1", 5003, 0, 10, 0, 0)
    station.send(MAKE_CONNECTION, request)
    (state,) = struct.unpack("<I", station.expect(STATE))
    check("state after connect", state, 32)
    body = station.expect(CONNECTION_INFO)
    check("connection size", len(body), 104)
    media, address, port = struct.unpack_from("<I80sI", body)
    check("connection", (media, text(address), port), (NETWORK, "127.0.0.1", 5003))
    body = station.expect(ENCODER_FORMAT)
    check("encoder format", struct.unpack("<4I", body), (32, 224000, 48000, 21))
    (state,) = struct.unpack("<I", station.expect(STATE))
    check("state connected", state, 50)
    body = station.expect(REMOTE_IDENTITY)
    check("remote identity size", len(body), 110)
    check("remote station", text(body[0:40]), "Far Studio")
    check("remote version cut to six", body[85:95], b"V1.5b \0\0\0\0")
    body = station.expect(DECODER_FORMAT)
    check("decoder format reported", struct.unpack("<4I", body), (32, 224000, 48000, 21))

    for command in (DECODER_FORMAT, STATE):
        station.send(command)
    body = station.expect(DECODER_FORMAT)
    check("decoder format asked", struct.unpack("<4I", body), (32, 224000, 48000, 21))
    (state,) = struct.unpack("<I", station.expect(STATE))
    check("state asked", state, 50)

    station.send(ANSWER_SETTINGS, struct.pack("<II", NETWORK, 0))
    station.send(ANSWER_SETTINGS)
    allowed, accept = struct.unpack("<II", station.expect(ANSWER_SETTINGS))
    check("answer settings", (allowed, accept), (NETWORK, 0))

    station.send(SET_ENCODER, struct.pack("<4I", 256, 0, 48000, 10))
    check("apt-X refused", struct.unpack("<II", station.expect(MESSAGE_ERROR)), (SET_ENCODER, 32))
    station.send(MAKE_CONNECTION, struct.pack("<I80s", ISDN, b"123"))
    check("ISDN not offered", struct.unpack("<II", station.expect(MESSAGE_ERROR)), (MAKE_CONNECTION, 16))
    station.send(0x4711)
    check("unknown command", struct.unpack("<II", station.expect(PROTOCOL_ERROR)), (0x4711, 16))
    station.send(SET_ENCODER, b"\1\0")
    check("short body", struct.unpack("<II", station.expect(PROTOCOL_ERROR)), (SET_ENCODER, 32))

    # A header in two pieces within the second is taken whole.
    raw = struct.pack("<II", STATE, 0)
    station.sock.sendall(raw[:3])
    time.sleep(0.3)
    station.sock.sendall(raw[3:])
    station.expect(STATE)

    station.send(STOP_CONNECTION)
    (state,) = struct.unpack("<I", station.expect(STATE))
    check("state after stop", state, 16)
    kind, code, message = struct.unpack("<II80s", station.expect(CONNECTION_ERROR))
    check("connection error", (kind, code, text(message)), (16, 10054, "Connection reset by peer"))

    for failure in failures:
        print("FAIL", failure)
    print("rip_client:", "ok" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
