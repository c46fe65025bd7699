#!/usr/bin/env python3
"""A narrow TCP link for tests: accepts one connection on LISTEN_PORT at a
time, connects it to TARGET_PORT on 127.0.0.1 and carries at most RATE bytes
per second each way, in 10 ms slices with no burst allowance. Writes its
port to stdout once it listens. Runs until killed."""
import socket
import sys
import threading
import time

listen_port, target_port, rate = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
slice_bytes = max(1, rate // 100)


def pump(src, dst):
    next_slot = time.monotonic()
    try:
        while True:
            data = src.recv(slice_bytes)
            if not data:
                break
            now = time.monotonic()
            if next_slot > now:
                time.sleep(next_slot - now)
            next_slot = max(next_slot, now) + len(data) / rate
            dst.sendall(data)
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def carry(client):
    try:
        server = socket.create_connection(("127.0.0.1", target_port))
    except OSError:
        client.close()
        return
    for s in (client, server):
        # Small kernel buffers: the narrow part is here, not in a queue behind it.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    threading.Thread(target=pump, args=(client, server), daemon=True).start()
    threading.Thread(target=pump, args=(server, client), daemon=True).start()


listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", listen_port))
listener.listen(4)
print(listen_port, flush=True)
while True:
    conn, _ = listener.accept()
    carry(conn)
