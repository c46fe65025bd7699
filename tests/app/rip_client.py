"""The remote-control protocol as a control application speaks it: the
command codes, and framed messages (u32 command, u32 body size, body) over a
TCP connection to a station. Written from the protocol tables alone."""
import socket
import struct
import time

PROTOCOL_ERROR, IDENTITY = 1, 2
MAKE_CONNECTION, STOP_CONNECTION, SET_ENCODER = 0x100, 0x101, 0x10010
STATE, CONNECTION_INFO, REMOTE_IDENTITY = 0x20010, 0x20020, 0x20022
ENCODER_FORMAT, DECODER_FORMAT, CONNECTION_ERROR, MESSAGE_ERROR = 0x20030, 0x20031, 0x30010, 0x30020
NETWORK, MULTICAST = 0x11, 0x80


def connect(port, host="127.0.0.1", patience=90, timeout=30):
    """A connection to the port, tried until the station listens or the patience runs out."""
    deadline = time.time() + patience
    while True:
        try:
            sock = socket.create_connection((host, port), timeout=timeout)
            # Before the station listens, a try whose own port happens to be
            # the station's meets itself (TCP's simultaneous open): it would
            # wait for reports from itself and hold the port the station is
            # about to listen on. It is reset, so no TIME_WAIT holds the port.
            if sock.getsockname() != sock.getpeername():
                return sock
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
            raise ConnectionRefusedError(f"connected to itself on port {port}")
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
