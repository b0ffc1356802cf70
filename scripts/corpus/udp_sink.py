#!/usr/bin/env python3
"""Binds UDP ports and discards what arrives, until terminated.

  udp_sink.py IP:PORT [IP:PORT ...]

Stands in for the receiving side of RTP senders on loopback: with the destination ports
bound, no ICMP port-unreachable replies come back, so connected senders (ffmpeg) are not
refused sends and every packet reaches the capture. Prints "ready" once all are bound.
"""

import select
import signal
import socket
import sys


def main():
    socks = []
    for text in sys.argv[1:]:
        host, port = text.rsplit(":", 1)
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((host, int(port)))
        socks.append(s)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("ready", flush=True)
    while True:
        ready, _, _ = select.select(socks, [], [], 1.0)
        for s in ready:
            s.recv(65536)


if __name__ == "__main__":
    main()
