#!/usr/bin/env python3
"""A network camera of the tests' own: JPEG frames as multipart/x-mixed-replace
over HTTP on 127.0.0.1, as IP cameras send them.

multipart_sender.py FPS DAMAGE_EVERY MODE FRAME.jpg...
  FPS           frames a second
  DAMAGE_EVERY  every Nth frame is sent cut short (0: none)
  MODE          "frames", or "endless": after three frames one part that never ends
Prints the port it listens on, then serves every viewer until it is killed;
SIGSTOP freezes it with its connections open, as a hung camera does.
"""
import socket
import sys
import threading
import time

BOUNDARY = b"vorskframe"


def part(data, length=True):
    head = b"--" + BOUNDARY + b"\r\nContent-Type: image/jpeg\r\n"
    if length:
        head += b"Content-Length: %d\r\n" % len(data)
    return head + b"\r\n" + data + b"\r\n"


def serve(conn, fps, damage_every, mode, frames):
    conn.recv(65536)
    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=" + BOUNDARY + b"\r\n\r\n")
    count = 0
    while True:
        data = frames[count % len(frames)]
        count += 1
        if damage_every and count % damage_every == 0:
            data = data[: len(data) * 3 // 5] + b"\xff\xd9"
        conn.sendall(part(data))
        if mode == "endless" and count == 3:
            conn.sendall(part(b"", length=False)[:-2])
            filler = b"\x55" * 65536
            while True:
                conn.sendall(filler)
        time.sleep(1.0 / fps)


def run(conn, *args):
    try:
        serve(conn, *args)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    fps, damage_every, mode = float(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    frames = [open(path, "rb").read() for path in sys.argv[4:]]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=run, args=(conn, fps, damage_every, mode, frames), daemon=True).start()


if __name__ == "__main__":
    main()
