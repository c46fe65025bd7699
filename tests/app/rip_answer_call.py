#!/usr/bin/env python3
"""A control application watches how a call is answered: it asks station A
(its remote-control port) to call station B over TCP in one format, and
reads the format B sends in from both ends: A's decoder report and B's
encoder report. Written from the protocol tables alone.
Usage: rip_answer_call.py RIP_A FAR_TCP_PORT RIP_B CODING BIT_RATE RATE MODE EXPECTED_CODING EXPECTED_RATE"""
import socket
import struct
import sys
import time

MAKE_CONNECTION, STOP_CONNECTION, SET_ENCODER = 0x100, 0x101, 0x10010
STATE, ENCODER_FORMAT, DECODER_FORMAT, CONNECTION_ERROR = 0x20010, 0x20030, 0x20031, 0x30010
NETWORK = 0x11


def connect(port):
    deadline = time.time() + 30
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=30)
        except OSError:
            if time.time() > deadline:
                raise
            time.sleep(0.2)


def read_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise EOFError("station closed the connection")
        data += chunk
    return data


def read(sock):
    command, size = struct.unpack("<II", read_exact(sock, 8))
    return command, read_exact(sock, size)


def send(sock, command, body=b""):
    sock.sendall(struct.pack("<II", command, len(body)) + body)


def main():
    rip_a, far_port, rip_b = (int(v) for v in sys.argv[1:4])
    coding, bit_rate, rate, mode, expected_coding, expected_rate = (int(v) for v in sys.argv[4:10])
    a = connect(rip_a)
    b = connect(rip_b)
    failures = []
    send(a, SET_ENCODER, struct.pack("<4I", coding, bit_rate, rate, mode))
    send(a, MAKE_CONNECTION, struct.pack("<I80sIIIII", NETWORK, b"127.0.0.1", far_port, 0, 10, 0, 0))
    seen, states = {}, []
    deadline = time.time() + 40
    while time.time() < deadline and not (50 in states and DECODER_FORMAT in seen):
        command, body = read(a)
        if command == STATE:
            states.append(struct.unpack("<I", body)[0])
        else:
            seen[command] = body
    far = {}
    deadline = time.time() + 20
    while time.time() < deadline and ENCODER_FORMAT not in far:
        command, body = read(b)
        far[command] = body
    heard = struct.unpack("<4I", seen[DECODER_FORMAT])[:3] if DECODER_FORMAT in seen else None
    sent = struct.unpack("<4I", far[ENCODER_FORMAT])[:3] if ENCODER_FORMAT in far else None
    print("states", states, "A decodes", heard, "B encodes", sent)
    if 50 not in states:
        failures.append(f"states {states}")
    if heard is None or heard[0] != expected_coding or heard[2] != expected_rate:
        failures.append(f"A's decoder report {heard}")
    if sent is None or sent[0] != expected_coding or sent[2] != expected_rate:
        failures.append(f"B's encoder report {sent}")
    send(a, STOP_CONNECTION)
    deadline = time.time() + 20
    final = None
    while time.time() < deadline and final != 16:
        command, body = read(a)
        if command == STATE:
            final = struct.unpack("<I", body)[0]
    if final != 16:
        failures.append(f"state after stop {final}")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
