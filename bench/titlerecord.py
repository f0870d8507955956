#!/usr/bin/env python3
"""Prints, as the X server sees them, every mouse button press and release and every window
title set (WM_NAME) that starts with PREFIX, each with the server's time in milliseconds:
    1234567 press 1
    1234579 release 1
    1234612 title KORMIDAX - Ombrelux - [Processing image: 1]
A RECORD client on the plain protocol: the server stamps each request when it runs it, so no
title is missed however fast they follow each other or however late this process reads them.
"ready" on its own line says recording has begun.
    titlerecord.py PREFIX [LAST]   on $DISPLAY, authorised through $XAUTHORITY; ends after a
                                   title that ends with LAST
"""
import os
import socket
import struct
import sys

CHANGE_PROPERTY = 18
BUTTON_PRESS, BUTTON_RELEASE = 4, 5
WM_NAME = 39
FROM_SERVER, FROM_CLIENT, START_OF_DATA = 0, 1, 4
ALL_CLIENTS = 3


def read_exact(sock, count):
    data = bytearray()
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            sys.exit(0)  # the server went away
        data += chunk
    return bytes(data)


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def cookie(display_number):
    path = os.environ.get("XAUTHORITY") or os.path.expanduser("~/.Xauthority")
    try:
        data = open(path, "rb").read()
    except OSError:
        return b"", b""
    offset = 0

    def field():
        nonlocal offset
        (size,) = struct.unpack_from(">H", data, offset)
        offset += 2 + size
        return data[offset - size:offset]

    while offset + 2 <= len(data):
        offset += 2  # family
        field()  # address
        number, name, secret = field(), field(), field()
        if number in (b"", display_number) and name == b"MIT-MAGIC-COOKIE-1":
            return name, secret
    return b"", b""


def connect():
    display = os.environ.get("DISPLAY", "")
    number = display.rpartition(":")[2].split(".")[0]
    if not display.startswith(":") or not number.isdigit():
        sys.exit("titlerecord: DISPLAY must name a local server, such as :99")
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.connect("/tmp/.X11-unix/X" + number)
    name, secret = cookie(number.encode())
    sock.sendall(struct.pack("<BxHHHHxx", ord("l"), 11, 0, len(name), len(secret)) + padded(name) + padded(secret))
    status, _, _, _, length = struct.unpack("<BBHHH", read_exact(sock, 8))
    setup = read_exact(sock, 4 * length)
    if status != 1:
        sys.exit("titlerecord: the X server refused the connection")
    (resource_base,) = struct.unpack_from("<I", setup, 4)
    return sock, resource_base


def reply(sock):
    header = read_exact(sock, 32)
    if header[0] == 0:
        sys.exit("titlerecord: X error %d" % header[1])
    (length,) = struct.unpack_from("<I", header, 4)
    return header, read_exact(sock, 4 * length)


def extension_opcode(sock, name):
    sock.sendall(struct.pack("<BxHHxx", 98, 2 + (len(name) + 3) // 4, len(name)) + padded(name))
    header, _ = reply(sock)
    if not header[8]:
        sys.exit("titlerecord: the X server has no %s extension" % name.decode())
    return header[9]


def elements(category, data):
    """Each element is preceded by the server time it was recorded at; yields that time, the
    element, and where a request's fields start after its opcode and length."""
    offset = 0
    while offset + 4 < len(data):
        (time,) = struct.unpack_from("<I", data, offset)
        offset += 4
        if category == FROM_SERVER:
            yield time, data[offset:offset + 32], 0
            offset += 32
            continue
        (size,) = struct.unpack_from("<H", data, offset + 2)
        start = 4
        if size == 0:  # BIG-REQUESTS: the length follows in a word of its own
            (size,) = struct.unpack_from("<I", data, offset + 4)
            start = 8
        yield time, data[offset:offset + 4 * size], start
        offset += 4 * size


def main():
    prefix = sys.argv[1].encode() if len(sys.argv) > 1 else b""
    last = sys.argv[2].encode() if len(sys.argv) > 2 else None
    sock, context = connect()
    record = extension_opcode(sock, b"RECORD")
    sock.sendall(struct.pack("<BBHHH", record, 0, 2, 1, 13))  # QueryVersion 1.13
    reply(sock)
    # One range: the core ChangeProperty request and the button device events.
    ranges = struct.pack("<BBBB6x6xBBBBBBxx", CHANGE_PROPERTY, CHANGE_PROPERTY, 0, 0, 0, 0, BUTTON_PRESS,
                         BUTTON_RELEASE, 0, 0)
    # Element headers 3: a server time before each element from the server and from clients.
    create = struct.pack("<IB3xII", context, 3, 1, 1) + struct.pack("<I", ALL_CLIENTS) + ranges
    sock.sendall(struct.pack("<BBH", record, 1, 1 + len(create) // 4) + create)
    sock.sendall(struct.pack("<BBHI", record, 5, 2, context))  # EnableContext
    out = sys.stdout
    while True:
        header, data = reply(sock)
        category = header[1]
        if category == START_OF_DATA:
            print("ready", file=out, flush=True)
        for time, element, start in elements(category, data):
            if category == FROM_SERVER and element[0] & 0x7F in (BUTTON_PRESS, BUTTON_RELEASE):
                kind = "press" if element[0] & 0x7F == BUTTON_PRESS else "release"
                print(time, kind, element[1], file=out, flush=True)
            elif category == FROM_CLIENT and element[0] == CHANGE_PROPERTY and len(element) >= start + 20:
                # window, property, type, format, 3 unused, length in format units, data
                prop, _, unit, count = struct.unpack_from("<IIB3xI", element, start + 4)
                text = element[start + 20:start + 20 + count * unit // 8]
                if prop == WM_NAME and text.startswith(prefix):
                    print(time, "title", text.decode("utf-8", "replace"), file=out, flush=True)
                    if last is not None and text.endswith(last):
                        return


if __name__ == "__main__":
    main()
