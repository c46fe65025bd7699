#!/usr/bin/env python3
"""Hostile input against a real station A, then a normal call to it.

First one of the inputs that used to take a station off the air:
  request    bad destinations through A's remote-control port,
  flood      calls to A's call port that announce absurd formats and hang up,
  flood_out  calls A places, through its remote control, to a peer that
             answers with an absurd format and hangs up,
  slow       a caller that sends one byte a second and never finishes its start.
Then station B, through its own remote-control port, calls A with PCM; the
call must come up with A's identity and formats both ways, run a few
seconds, and end on request (left out with --no-call, when more input
follows). Written from the protocol tables alone.

Usage: hostile_station.py MODE A_RIP_PORT A_CALL_PORT B_RIP_PORT [--no-call]
"""
import socket
import struct
import sys
import time

from rip_client import (CONNECTION_ERROR, DECODER_FORMAT, MAKE_CONNECTION, MESSAGE_ERROR, NETWORK, REMOTE_IDENTITY,
                        SET_ENCODER, STATE, STOP_CONNECTION, connect, read, send, text)

BAD_BODY = 32

failures = []


def fail(text):
    print("FAIL", text, flush=True)
    failures.append(text)



def network_request(address, port):
    return struct.pack("<I80sIIIII", NETWORK, address, port & 0xFFFFFFFF, 0, 10, 0, 0)


def control_frame(kind, payload):
    frame = bytearray(b"Qiv\0" + struct.pack("<III", kind, len(payload), 0) + payload)
    total = 0
    for i, b in enumerate(frame):
        signed = 0 if 12 <= i < 16 else (b - 256 if b > 127 else b)
        total = (total + i + signed) & 0xFFFFFFFF
    frame[12:16] = struct.pack("<I", total)
    return bytes(frame)


def format_frame(coding, bit_rate, sample_rate, mode):
    audio_format = struct.pack("<7i", coding, bit_rate, sample_rate, mode, 0, 0, 1) + bytes(44)
    return control_frame(10, audio_format + struct.pack("<4i", 1, 0, 0, 0))


def bad_requests(a_rip):
    sock = connect(a_rip)
    command, body = read(sock)
    if command != STATE or struct.unpack("<I", body)[0] != 16:
        fail(f"A's first report {command:#x} {body!r}")
    send(sock, SET_ENCODER, struct.pack("<4I", 1, 1536000, 48000, 20))
    requests = [network_request(b"127.0.0.1", port) for port in (0, 65536, 70000, 0x98816B8A)]
    requests.append(network_request(b"", 5003))
    requests.append(struct.pack("<I", NETWORK) + b"7" * 80 + struct.pack("<5I", 5003, 0, 10, 0, 0))
    for request in requests:
        send(sock, MAKE_CONNECTION, request)
        command, body = read(sock)
        if command != MESSAGE_ERROR or struct.unpack("<II", body) != (MAKE_CONNECTION, BAD_BODY):
            fail(f"refusal of {request[:12]!r}: {command:#x} {body!r}")
    send(sock, STATE)
    command, body = read(sock)
    if command != STATE or struct.unpack("<I", body)[0] != 16:
        fail(f"A after the refusals: {command:#x} {body!r}")
    # A name that does not resolve passes the checks and fails at once:
    # 16 -> 17 -> 16, the path that used to trip the toolkit.
    send(sock, SET_ENCODER, struct.pack("<4I", 1, 768000, 48000, 10))
    send(sock, MAKE_CONNECTION, network_request(b"no-such-host.invalid", 5003))
    states, code = [], None
    sock.settimeout(30)
    while not (states[-1:] == [16] and code is not None):
        command, body = read(sock)
        if command == STATE:
            states.append(struct.unpack("<I", body)[0])
        elif command == CONNECTION_ERROR:
            code = struct.unpack_from("<II", body)[1]
    print("unresolvable destination: states", states, "error", code, flush=True)
    if 17 not in states or not code:
        fail(f"unresolvable destination: states {states}, error {code}")
    sock.close()


def flood(a_call, calls=40):
    frames = [format_frame(1, 16000000, 1000000, 99), format_frame(64, 128000, 1000000, 99)]
    answered = 0
    for i in range(calls):
        sock = connect(a_call, patience=10)
        sock.settimeout(5)
        try:
            sock.sendall(frames[i % 2])
            # Until A hangs up; a station that keeps the call is left by us.
            if sock.recv(65536) is not None:
                answered += 1
        except OSError:
            answered += 1
        sock.close()
    print("flood: calls", calls, "answered", answered, flush=True)


def listener():
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(1)
    sock.settimeout(30)
    return sock, sock.getsockname()[1]


def wait_idle_after_call(control):
    """Reads A's state reports until a call has come and gone."""
    states = []
    while not (states and states[-1] == 16 and any(s != 16 for s in states)):
        command, body = read(control)
        if command == STATE:
            states.append(struct.unpack("<I", body)[0])
    return states


def flood_out(a_rip, calls=10):
    server, port = listener()
    control = connect(a_rip)
    read(control)
    control.settimeout(30)
    for i in range(calls):
        # A's remote control forgets the encoder format when a call ends.
        send(control, SET_ENCODER, struct.pack("<4I", 1, 768000, 48000, 10))
        send(control, MAKE_CONNECTION, network_request(b"127.0.0.1", port))
        peer, _ = server.accept()
        peer.settimeout(10)
        try:
            peer.sendall(format_frame(1, 16000000, 1000000, 99))
            while peer.recv(65536):
                pass
        except OSError:
            pass
        peer.close()
        states = wait_idle_after_call(control)
        if states[-1] != 16:
            fail(f"call {i} to an absurd format did not end: {states}")
    print("flood out: calls", calls, flush=True)
    control.close()
    server.close()


def trickle(sock, patience=120):
    """Sends a byte a second, reading all the station sends, until it hangs up; how long that took, or None."""
    start = last = time.time()
    sock.settimeout(0.2)
    sock.send(b"\x55")
    while time.time() - start < patience:
        try:
            if time.time() - last >= 1:
                sock.send(b"\x55")
                last = time.time()
            if sock.recv(65536) == b"":
                return time.time() - start
        except socket.timeout:
            continue
        except OSError:
            return time.time() - start
    return None


def slow_caller(a_call):
    caller = connect(a_call)
    ended = trickle(caller)
    caller.close()
    print("slow caller: ended after", ended, "s", flush=True)
    if ended is None or not 55 <= ended <= 100:
        fail(f"slow caller held the line for {ended} s")


def normal_call(b_rip, a_call, a_rip):
    sock = connect(b_rip)
    read(sock)
    send(sock, SET_ENCODER, struct.pack("<4I", 1, 768000, 48000, 10))
    send(sock, MAKE_CONNECTION, network_request(b"127.0.0.1", a_call))
    seen, states = {}, []
    deadline = time.time() + 40
    sock.settimeout(40)
    while time.time() < deadline and not (50 in states and REMOTE_IDENTITY in seen and DECODER_FORMAT in seen):
        command, body = read(sock)
        if command == STATE:
            states.append(struct.unpack("<I", body)[0])
        elif command != DECODER_FORMAT or struct.unpack_from("<I", body)[0] != 0:
            seen[command] = body  # the empty decoder format of the call's start is not the far end's
    print("normal call: states", states, flush=True)
    if 50 not in states:
        fail(f"call to A never connected: {states}")
    if REMOTE_IDENTITY not in seen or text(seen[REMOTE_IDENTITY][0:40]) != "Studio A":
        fail(f"A did not answer: {seen.get(REMOTE_IDENTITY)!r}")
    if DECODER_FORMAT not in seen or struct.unpack("<4I", seen[DECODER_FORMAT])[0] != 1:
        fail(f"B decodes nothing from A: {seen.get(DECODER_FORMAT)!r}")
    time.sleep(5)  # audio both ways; the sinks are checked when the stations close
    send(sock, STOP_CONNECTION)
    final = None
    while final != 16:
        command, body = read(sock)
        if command == STATE:
            final = struct.unpack("<I", body)[0]
    sock.close()
    # The far end hears of the hang-up a moment later; closed before that, A
    # would rightly ask whether to break a connection it still has.
    if not wait_idle(a_rip):
        fail("A still has the call 60 s after B hung up")


def wait_idle(rip_port, patience=60):
    """Asks the station for its call state until it is idle (16); False when it never was."""
    control = connect(rip_port)
    control.settimeout(patience)
    deadline = time.time() + patience
    try:
        while time.time() < deadline:
            send(control, STATE)
            command, body = read(control)
            while command != STATE:
                command, body = read(control)
            if struct.unpack("<I", body)[0] == 16:
                return True
            time.sleep(0.1)
        return False
    finally:
        control.close()


def main():
    mode = sys.argv[1]
    a_rip, a_call, b_rip = (int(v) for v in sys.argv[2:5])
    then_call = sys.argv[5:6] != ["--no-call"]
    if mode == "request":
        bad_requests(a_rip)
    elif mode == "flood":
        flood(a_call)
    elif mode == "flood_out":
        flood_out(a_rip)
    elif mode == "slow":
        slow_caller(a_call)
    else:
        fail(f"unknown mode {mode}")
    if then_call:
        normal_call(b_rip, a_call, a_rip)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
