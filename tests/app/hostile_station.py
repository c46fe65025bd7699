#!/usr/bin/env python3
"""Hostile input against a real station A, then a normal call to it.

First one of three inputs that used to take a station off the air:
  request  bad destinations through A's remote-control port,
  flood    calls to A's call port that announce absurd formats and hang up,
  slow     a caller that sends one byte a second and never finishes its start.
Then station B, through its own remote-control port, calls A with PCM; the
call must come up with A's identity and formats both ways, run a few
seconds, and end on request. Written from the protocol tables alone.

Usage: hostile_station.py MODE A_RIP_PORT A_CALL_PORT B_RIP_PORT
"""
import socket
import struct
import sys
import time

PROTOCOL_ERROR, MAKE_CONNECTION, STOP_CONNECTION, SET_ENCODER = 1, 0x100, 0x101, 0x10010
STATE, CONNECTION_INFO, REMOTE_IDENTITY = 0x20010, 0x20020, 0x20022
ENCODER_FORMAT, DECODER_FORMAT, CONNECTION_ERROR, MESSAGE_ERROR = 0x20030, 0x20031, 0x30010, 0x30020
NETWORK = 0x11
BAD_BODY = 32

failures = []


def fail(text):
    print("FAIL", text, flush=True)
    failures.append(text)


def connect(port, patience=30):
    deadline = time.time() + patience
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=30)
        except OSError:
            if time.time() > deadline:
                raise
            time.sleep(0.1)


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


def text(raw):
    return raw.split(b"\0", 1)[0].decode("latin-1")


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


def flood(a_call, calls=100):
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


def slow_caller(a_rip, a_call):
    control = connect(a_rip)
    read(control)
    caller = connect(a_call)
    start = time.time()
    caller.settimeout(1)
    ended = None
    while time.time() - start < 120:
        try:
            caller.send(b"\x55")
            if caller.recv(4096) == b"":
                ended = time.time() - start
                break
        except socket.timeout:
            continue
        except OSError:
            ended = time.time() - start
            break
    caller.close()
    print("slow caller: ended after", ended, "s", flush=True)
    if ended is None or not 55 <= ended <= 100:
        fail(f"slow caller held the line for {ended} s")
    control.settimeout(30)
    code = None
    try:
        while code is None:
            command, body = read(control)
            if command == CONNECTION_ERROR:
                code = struct.unpack_from("<II", body)[1]
    except OSError as e:
        fail(f"no connection error from A: {e}")
    if code != 10060:
        fail(f"A reported {code} for the stalled start")
    control.close()


def normal_call(b_rip, a_call):
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


def main():
    mode = sys.argv[1]
    a_rip, a_call, b_rip = (int(v) for v in sys.argv[2:5])
    if mode == "request":
        bad_requests(a_rip)
    elif mode == "flood":
        flood(a_call)
    elif mode == "slow":
        slow_caller(a_rip, a_call)
    else:
        fail(f"unknown mode {mode}")
    normal_call(b_rip, a_call)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
