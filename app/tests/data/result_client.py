#!/usr/bin/env python3
"""A result-server client written with the standard library only, driven by a small script.

usage: result_client.py PORT SCRIPT_FILE

Each script line is one step (fields separated by a TAB; "\\n", "\\r" and "\\t" in texts are
escapes):
  connect NAME              open connection NAME to 127.0.0.1:PORT
  send NAME TEXT            send TEXT as it is (UTF-8)
  line NAME                 read one CR LF line         -> "LINE NAME <text>"
  image NAME FILE           read "IMAGE:[...]n" and n bytes; the bytes go to FILE, and when
                            n > 0 the picture decoded here (BMP, 24 bit) goes to FILE.rgb as
                            rows top to bottom of blue, green, red bytes
                                                        -> "IMAGE NAME <line> <n> <w> <h>"
  silent NAME SECONDS       nothing may arrive for that long -> "SILENT NAME ok" or "... <bytes>"
  until NAME TEXT SECONDS   send TEXT every 0.2 s until a line comes back
                                                        -> "UNTIL NAME <line>" or "UNTIL NAME timeout"
  close NAME                close NAME
  sleep SECONDS
Every read gives up after 20 seconds (an error, exit code 2).
"""
import socket
import struct
import sys
import time

TIMEOUT = 20.0


def unescape(text):
    return text.replace("\\n", "\n").replace("\\r", "\r").replace("\\t", "\t")


def show(text):
    return text.replace("\t", "\\t")


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""

    def fill(self):
        chunk = self.sock.recv(1 << 20)
        if not chunk:
            raise EOFError("the server closed the connection")
        self.buffer += chunk

    def line(self):
        while b"\r\n" not in self.buffer:
            self.fill()
        head, self.buffer = self.buffer.split(b"\r\n", 1)
        return head.decode("utf-8")

    def exactly(self, n):
        while len(self.buffer) < n:
            self.fill()
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data


def decode_bmp(data):
    """Pixels of a 24-bit uncompressed bitmap file, rows top to bottom, BGR."""
    if data[:2] != b"BM":
        raise ValueError("not a bitmap file")
    offset, = struct.unpack_from("<I", data, 10)
    header, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if bits != 24 or compression != 0:
        raise ValueError("not a 24-bit uncompressed bitmap")
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for r in range(abs(height)):
        stored = abs(height) - 1 - r if height > 0 else r
        start = offset + stored * stride
        rows.append(data[start:start + width * 3])
    return width, abs(height), b"".join(rows)


def main():
    port = int(sys.argv[1])
    with open(sys.argv[2], encoding="utf-8") as f:
        steps = [l.rstrip("\n").split("\t") for l in f if l.strip()]
    clients = {}
    for step in steps:
        op = step[0]
        if op == "connect":
            clients[step[1]] = Client(port)
        elif op == "send":
            clients[step[1]].sock.sendall(unescape(step[2]).encode("utf-8"))
        elif op == "line":
            print("LINE", step[1], show(clients[step[1]].line()), flush=True)
        elif op == "image":
            c = clients[step[1]]
            head = c.line()
            if not head.startswith("IMAGE:[") or "]" not in head:
                raise ValueError("not a picture reply: " + head)
            n = int(head[head.rindex("]") + 1:])
            data = c.exactly(n)
            with open(step[2], "wb") as out:
                out.write(data)
            w = h = 0
            if n > 0:
                w, h, pixels = decode_bmp(data)
                with open(step[2] + ".rgb", "wb") as out:
                    out.write(pixels)
            print("IMAGE", step[1], show(head[:head.rindex("]") + 1]), n, w, h, flush=True)
        elif op == "silent":
            c = clients[step[1]]
            c.sock.settimeout(float(step[2]))
            try:
                c.fill()
                print("SILENT", step[1], repr(c.buffer), flush=True)
            except socket.timeout:
                print("SILENT", step[1], "ok", flush=True)
            finally:
                c.sock.settimeout(TIMEOUT)
        elif op == "until":
            c = clients[step[1]]
            deadline = time.monotonic() + float(step[3])
            answer = None
            c.sock.settimeout(0.2)
            while answer is None and time.monotonic() < deadline:
                c.sock.sendall(unescape(step[2]).encode("utf-8"))
                try:
                    answer = c.line()
                except socket.timeout:
                    pass
            c.sock.settimeout(TIMEOUT)
            print("UNTIL", step[1], show(answer) if answer is not None else "timeout", flush=True)
        elif op == "close":
            clients.pop(step[1]).sock.close()
        elif op == "sleep":
            time.sleep(float(step[1]))
        else:
            raise ValueError("unknown step " + op)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Exception as e:  # the test prints what went wrong
        print("ERROR", type(e).__name__, e, flush=True)
        sys.exit(2)
