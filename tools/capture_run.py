#!/usr/bin/env python3
"""Runs the adjustment program once behind a scripted front end and records every frame.

usage: capture_run.py PROGRAM INPUT OUTPUT TRANSCRIPT [--cancel]

The transcript holds, in order, each frame the program sent on either endpoint (message number,
wParam, payload bytes) as hex lines. Polls are answered 0, report pieces 1, the class query
RICHEDIT and the warning box OK (Cancel with --cancel). It decodes the link independently of the
project's own code, so that two builds can be compared frame by frame.
"""
import os
import re
import select
import socket
import struct
import subprocess
import sys

# A ctime-style date such as "Mon Dec 07 11:32:48 2026".
CLOCK = re.compile(rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}")
ABORT_POLL, EXIT_NOTE, REPORT_PIECE, CLASS_QUERY, MESSAGE_BOX = 1033, 1028, 74, 65536, 65537


def read_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def main():
    program, src, dst, transcript = sys.argv[1:5]
    cancel = "--cancel" in sys.argv[5:]
    prog_parent, prog_child = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
    rep_parent, rep_child = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
    for s in (prog_child, rep_child):
        os.set_inheritable(s.fileno(), True)
    child = subprocess.Popen(
        [program, src, dst, str(prog_child.fileno()), str(rep_child.fileno())],
        pass_fds=(prog_child.fileno(), rep_child.fileno()), stdin=subprocess.DEVNULL)
    prog_child.close()
    rep_child.close()
    lines = []
    open_socks = {prog_parent: "P", rep_parent: "R"}
    while open_socks:
        ready, _, _ = select.select(list(open_socks), [], [], 120)
        if not ready:
            break
        for sock in ready:
            head = read_exact(sock, 16)
            if head is None:
                del open_socks[sock]
                continue
            msg, wparam, lparam, length = struct.unpack("<IIII", head)
            payload = read_exact(sock, length) if length else b""
            if msg == REPORT_PIECE and CLOCK.search(payload):
                # The banner's date and time differ from run to run; keep the piece's shape only.
                payload = CLOCK.sub(b"<clock>", payload)
            lines.append("%s %d %d %d %s" % (open_socks[sock], msg, wparam, lparam, payload.hex()))
            if msg == CLASS_QUERY:
                sock.sendall(struct.pack("<i", 8) + b"RICHEDIT")
            elif msg == MESSAGE_BOX:
                sock.sendall(struct.pack("<i", 2 if cancel else 1))
            elif msg == REPORT_PIECE:
                sock.sendall(struct.pack("<i", 1))
            else:
                sock.sendall(struct.pack("<i", 0))
    code = child.wait()
    lines.append("exit %d" % code)
    with open(transcript, "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
