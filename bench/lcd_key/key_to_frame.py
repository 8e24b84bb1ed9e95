#!/usr/bin/env python3
"""Time from one front-panel key, sent as a VNC key event, to the VNC frame that shows its
effect: what a user at a VNC viewer of a host run waits for. A viewer is imitated: it holds an
incremental update request open while the LCD is idle, then presses and releases the key.

usage: key_to_frame.py PORT [IDLE_SECONDS] [KEY]   (default 6 s idle, key "r": right)
Prints "key to frame: S s"; exit status 1 when no changed frame came within 30 s."""
import select
import socket
import struct
import sys
import time


def read(sock, n):
    data = b""
    while len(data) < n:
        part = sock.recv(n - len(data))
        if not part:
            raise EOFError("the VNC server closed the connection")
        data += part
    return data


def message(sock, bpp):
    """One server message; for an update the list of (x, y, w, h, pixels)."""
    kind = read(sock, 1)[0]
    if kind == 0:
        count = struct.unpack(">xH", read(sock, 3))[0]
        rects = []
        for _ in range(count):
            x, y, w, h, enc = struct.unpack(">HHHHi", read(sock, 12))
            if enc != 0:
                raise ValueError("encoding %d was not asked for" % enc)
            rects.append((x, y, w, h, read(sock, w * h * bpp)))
        return rects
    if kind == 1:
        count = struct.unpack(">xHH", read(sock, 5))[1]
        read(sock, count * 6)
    elif kind == 3:
        read(sock, struct.unpack(">xxxI", read(sock, 7))[0])
    return None


def main():
    port = int(sys.argv[1])
    idle = float(sys.argv[2]) if len(sys.argv) > 2 else 6.0
    key = ord(sys.argv[3]) if len(sys.argv) > 3 else ord("r")
    sock = socket.create_connection(("127.0.0.1", port), timeout=30)
    read(sock, 12)
    sock.sendall(b"RFB 003.008\n")
    types = read(sock, read(sock, 1)[0])
    if 1 not in types:
        raise ValueError("the VNC server asks for a password")
    sock.sendall(b"\x01")
    read(sock, 4)
    sock.sendall(b"\x01")
    width, height, bits = struct.unpack(">HHB", read(sock, 5))
    read(sock, 15)
    read(sock, struct.unpack(">I", read(sock, 4))[0])
    bpp = bits // 8
    sock.sendall(struct.pack(">BxHi", 2, 1, 0))
    screen = bytearray(width * height * bpp)

    def request(incremental):
        sock.sendall(struct.pack(">BBHHHH", 3, incremental, 0, 0, width, height))

    def apply(rects):
        changed = False
        for x, y, w, h, pixels in rects:
            for row in range(h):
                at = ((y + row) * width + x) * bpp
                line = pixels[row * w * bpp:(row + 1) * w * bpp]
                changed |= screen[at:at + len(line)] != line
                screen[at:at + len(line)] = line
        return changed

    request(0)
    while (rects := message(sock, bpp)) is None:
        pass
    apply(rects)
    # Idle, as a viewer is: one incremental request open, answered only when something moved.
    request(1)
    end = time.monotonic() + idle
    while time.monotonic() < end:
        if not select.select([sock], [], [], 0.1)[0]:
            continue
        rects = message(sock, bpp)
        if rects is not None:
            apply(rects)
            request(1)
    pressed = time.monotonic()
    sock.sendall(struct.pack(">BBxxI", 4, 1, key) + struct.pack(">BBxxI", 4, 0, key))
    try:
        while time.monotonic() - pressed < 30:
            rects = message(sock, bpp)
            if rects is None:
                continue
            if apply(rects):
                print("key to frame: %.3f s" % (time.monotonic() - pressed))
                return 0
            request(1)
    except socket.timeout:
        pass
    print("key to frame: no changed frame within 30 s")
    return 1


if __name__ == "__main__":
    sys.exit(main())
