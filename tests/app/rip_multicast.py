#!/usr/bin/env python3
"""A control application drives two real stations through their
remote-control ports: station A sends to a multicast group in the format given,
station B receives it. B must report A's identity and A's format; both
are then stopped. Written from the protocol tables alone.
Usage: rip_multicast.py SENDER_IP RECEIVER_IP RIP_PORT GROUP PORT CODING BITRATE RATE MODE"""
import socket
import struct
import sys
import time

from rip_client import (CONNECTION_ERROR, CONNECTION_INFO, DECODER_FORMAT, ENCODER_FORMAT, MAKE_CONNECTION, MULTICAST,
                        REMOTE_IDENTITY, SET_ENCODER, STATE, STOP_CONNECTION, connect, read, send, text)

SENDER, RECEIVER = 16, 32



def request(group, port, role):
    return struct.pack("<I80sIIII", MULTICAST, group.encode(), port, 0, 10, role)


def follow(sock, done, seconds, states, seen, failures):
    """Reads reports until done() holds or the time is up."""
    deadline = time.time() + seconds
    sock.settimeout(1.0)
    while time.time() < deadline and not done():
        try:
            command, body = read(sock)
        except socket.timeout:
            continue
        if command == STATE:
            states.append(struct.unpack("<I", body)[0])
        elif command == CONNECTION_ERROR:
            failures.append(f"connection error {struct.unpack_from('<II', body)} {text(body[8:])!r}")
        else:
            seen[command] = body


def main():
    sender_ip, receiver_ip, rip_port, group, port = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], int(sys.argv[5])
    coding = tuple(int(v) for v in sys.argv[6:10])
    a = connect(rip_port, sender_ip)
    b = connect(rip_port, receiver_ip)
    failures = []
    states_a, states_b, seen_a, seen_b = [], [], {}, {}
    follow(a, lambda: states_a, 20, states_a, seen_a, failures)
    follow(b, lambda: states_b, 20, states_b, seen_b, failures)

    send(b, MAKE_CONNECTION, request(group, port, RECEIVER))
    follow(b, lambda: 50 in states_b and CONNECTION_INFO in seen_b, 20, states_b, seen_b, failures)
    send(a, SET_ENCODER, struct.pack("<4I", *coding))
    send(a, MAKE_CONNECTION, request(group, port, SENDER))
    follow(a, lambda: 50 in states_a and ENCODER_FORMAT in seen_a and CONNECTION_INFO in seen_a, 20, states_a, seen_a, failures)
    follow(b, lambda: REMOTE_IDENTITY in seen_b and DECODER_FORMAT in seen_b and
           struct.unpack("<4I", seen_b[DECODER_FORMAT])[0] != 0, 30, states_b, seen_b, failures)
    print("sender states", states_a, "receiver states", states_b)

    if 50 not in states_a or 50 not in states_b:
        failures.append(f"states {states_a} {states_b}")
    info_a, info_b = seen_a.get(CONNECTION_INFO, b""), seen_b.get(CONNECTION_INFO, b"")
    if len(info_a) != 100 or struct.unpack_from("<I", info_a, 96)[0] != SENDER or text(info_a[4:84]) != group:
        failures.append(f"sender's connection report {info_a!r}")
    if len(info_b) != 100 or struct.unpack_from("<I", info_b, 96)[0] != RECEIVER:
        failures.append(f"receiver's connection report {info_b!r}")
    if ENCODER_FORMAT not in seen_a or struct.unpack("<4I", seen_a[ENCODER_FORMAT]) != coding:
        failures.append(f"sender's encoder report {seen_a.get(ENCODER_FORMAT)!r}")
    if DECODER_FORMAT not in seen_b or struct.unpack("<4I", seen_b[DECODER_FORMAT]) != coding:
        failures.append(f"receiver's decoder report {seen_b.get(DECODER_FORMAT)!r}")
    identity = seen_b.get(REMOTE_IDENTITY, b"")
    if len(identity) != 110 or text(identity[0:40]) != "Studio A" or text(identity[40:60]) != "Velmora":
        failures.append(f"remote identity {identity!r}")
    else:
        print("receiver reports the sender", text(identity[0:40]), text(identity[40:60]), text(identity[60:85]),
              text(identity[85:95]), text(identity[95:110]))
    print("receiver reports the format", struct.unpack("<4I", seen_b.get(DECODER_FORMAT, bytes(16))))

    time.sleep(2.0)  # the receiver plays what the test judges afterwards
    for sock, states in ((a, states_a), (b, states_b)):
        send(sock, STOP_CONNECTION)
        follow(sock, lambda: states and states[-1] == 16, 20, states, {}, failures)
        if not states or states[-1] != 16:
            failures.append(f"state after stop {states}")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
