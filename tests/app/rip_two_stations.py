#!/usr/bin/env python3
"""A control application drives a real station: it asks station A (its
remote-control port) to call station B over TCP, follows the reports until
the call is up, checks them, lets the call run, and hangs up. With B's
remote-control port it also checks B's report of A's identity. Written from
the protocol tables alone.
Usage: rip_two_stations.py RIP_PORT FAR_TCP_PORT [CODING BIT_RATE RATE MODE HOLD_S [FAR_RIP_PORT]]"""
import socket
import struct
import sys
import time

from rip_client import (CONNECTION_ERROR, CONNECTION_INFO, DECODER_FORMAT, ENCODER_FORMAT, IDENTITY, MAKE_CONNECTION,
                        NETWORK, REMOTE_IDENTITY, SET_ENCODER, STATE, STOP_CONNECTION, connect, read, send, text)




def main():
    rip_port, far_port = int(sys.argv[1]), int(sys.argv[2])
    coding, bit_rate, rate, mode, hold = 1, 768000, 48000, 10, 0.0
    if len(sys.argv) > 7:
        coding, bit_rate, rate, mode = (int(v) for v in sys.argv[3:7])
        hold = float(sys.argv[7])
    far_rip = connect(int(sys.argv[8])) if len(sys.argv) > 8 else None
    sock = connect(rip_port)
    failures = []
    # The first report comes with the station's first poll, once its window
    # runs: a slow start-up (a checked build on a busy machine) is not a failure.
    sock.settimeout(90)
    command, body = read(sock)
    sock.settimeout(30)
    if command != STATE:
        failures.append(f"first message {command:#x}")

    send(sock, IDENTITY)
    command, body = read(sock)
    if command != IDENTITY or text(body[4:24]) != "Velmora":
        failures.append("identity reply")

    send(sock, SET_ENCODER, struct.pack("<4I", coding, bit_rate, rate, mode))
    send(sock, MAKE_CONNECTION, struct.pack("<I80sIIIII", NETWORK, b"127.0.0.1", far_port, 0, 10, 0, 0))
    seen = {}
    states = []
    deadline = time.time() + 40
    while time.time() < deadline and not (50 in states and REMOTE_IDENTITY in seen and DECODER_FORMAT in seen):
        command, body = read(sock)
        if command == STATE:
            states.append(struct.unpack("<I", body)[0])
        else:
            seen[command] = body
    print("states", states)
    if states[:1] != [32] or 48 not in states or 50 not in states:
        failures.append(f"states {states}")
    if CONNECTION_INFO not in seen or struct.unpack_from("<I", seen[CONNECTION_INFO])[0] != NETWORK:
        failures.append("connection report")
    if ENCODER_FORMAT not in seen or struct.unpack("<4I", seen[ENCODER_FORMAT])[:3] != (coding, bit_rate, rate):
        failures.append(f"encoder report {seen.get(ENCODER_FORMAT)!r}")
    if DECODER_FORMAT not in seen or struct.unpack("<4I", seen[DECODER_FORMAT])[0] != coding:
        failures.append(f"decoder report {seen.get(DECODER_FORMAT)!r}")
    if REMOTE_IDENTITY not in seen or text(seen[REMOTE_IDENTITY][0:40]) != "Studio B":
        failures.append(f"remote identity {seen.get(REMOTE_IDENTITY)!r}")

    if far_rip is not None:
        far_seen = {}
        deadline = time.time() + 20
        while time.time() < deadline and text(far_seen.get(REMOTE_IDENTITY, b"")[0:40]) != "Studio A":
            command, body = read(far_rip)
            far_seen[command] = body
        if text(far_seen.get(REMOTE_IDENTITY, b"")[0:40]) != "Studio A":
            failures.append(f"far remote identity {far_seen.get(REMOTE_IDENTITY)!r}")
    time.sleep(hold)
    send(sock, STOP_CONNECTION)
    deadline = time.time() + 20
    final = None
    while time.time() < deadline and final != 16:
        command, body = read(sock)
        if command == STATE:
            final = struct.unpack("<I", body)[0]
        elif command == CONNECTION_ERROR:
            failures.append(f"connection error {struct.unpack_from('<II', body)}")
    if final != 16:
        failures.append(f"state after stop {final}")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
