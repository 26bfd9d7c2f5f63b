#!/usr/bin/env python3
"""Measures how `torvek-front serve` holds up under hostile local clients:

    python3 tools/serve_hostile_clients.py build/torvek-front build/torvek-fake-child

1. a header flood: one connection sends header lines without end (up to 64 MiB); prints the bytes
   the server took before closing and its resident memory before and after;
2. 100 stalled connections (a part of a head each), then the seconds an authenticated
   /api/state takes;
3. 30 event streams of one run, then the seconds an authenticated /api/state takes.
Every request waits 10 s at most; a server that does not answer shows "no answer".
"""
import os
import re
import socket
import subprocess
import sys
import time
import urllib.request

EXAMPLE = os.path.join(os.path.dirname(__file__), '..', 'examples', 'example-network.json')
FLOOD_BYTES = 64 << 20


def resident_kb(pid):
    with open(f'/proc/{pid}/status') as status:
        for line in status:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    return -1


def timed_state(port, token):
    request = urllib.request.Request(f'http://127.0.0.1:{port}/api/state',
                                     headers={'Authorization': f'Bearer {token}'})
    started = time.monotonic()
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            response.read()
        return f'{time.monotonic() - started:.3f} s'
    except Exception as error:  # a refusal, a reset or the timeout: the server did not answer
        return f'no answer ({error})'


def flood(port):
    connection = socket.create_connection(('127.0.0.1', port))
    connection.sendall(f'GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n'.encode())
    line = b'X-Flood: 0123456789abcdef\r\n' * 4096
    sent = 0
    connection.settimeout(10)
    try:
        while sent < FLOOD_BYTES:
            connection.sendall(line)
            sent += len(line)
    except OSError:
        pass
    connection.close()
    return sent


def main(front, fake_child):
    server = subprocess.Popen([front, 'serve', EXAMPLE, '--port', '0', '--program', fake_child],
                              stdout=subprocess.PIPE, text=True,
                              env={**os.environ, 'TORVEK_FAKE_MODE': 'slow'})
    address = re.search(r'open (\S+)', server.stdout.readline()).group(1)
    port, token = re.match(r'http://127\.0\.0\.1:(\d+)/\?token=(\w+)', address).groups()
    port = int(port)
    try:
        before = resident_kb(server.pid)
        taken = flood(port)
        time.sleep(0.5)
        print(f'header flood: {taken >> 10} KiB sent before the server closed; resident memory '
              f'{before} kB -> {resident_kb(server.pid)} kB')
        stalled = [socket.create_connection(('127.0.0.1', port)) for _ in range(100)]
        for connection in stalled:
            connection.sendall(b'GET /api/state HTTP/1.1\r\nX-Slow: ')
        print(f'100 stalled connections: /api/state in {timed_state(port, token)}')
        for connection in stalled:
            connection.close()
        time.sleep(0.5)
        run = urllib.request.Request(f'http://127.0.0.1:{port}/api/runs', data=b'{}', method='POST',
                                     headers={'Authorization': f'Bearer {token}'})
        with urllib.request.urlopen(run, timeout=10) as response:
            run_id = re.search(rb'"id":\s*(\d+)', response.read()).group(1).decode()
        streams = []
        for _ in range(30):
            stream = socket.create_connection(('127.0.0.1', port))
            stream.sendall(f'GET /api/runs/{run_id}/events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n'
                           f'Authorization: Bearer {token}\r\n\r\n'.encode())
            streams.append(stream)
        time.sleep(0.3)
        answer = timed_state(port, token)  # while the run (ten seconds) goes on
        streaming = 0
        for stream in streams:
            stream.settimeout(0.1)
            try:
                streaming += stream.recv(4096).startswith(b'HTTP/1.1 200')
            except OSError:
                pass
        print(f'30 event streams ({streaming} answered 200 at once): /api/state in {answer}')
        for stream in streams:
            stream.close()
    finally:
        server.send_signal(2)
        server.wait(timeout=30)


if __name__ == '__main__':
    main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
