#!/usr/bin/env python3
"""Sends an MPEG audio elementary stream as RTP (RFC 2250, payload type 14) in real time.

  mpa_send.py FILE --from IP:PORT --to IP:PORT [--ssrc N] [--frames-per-packet N]

For streams ffmpeg's RTP muxer does not take (Layer I). Every payload starts with the 4-byte
MPEG audio-specific header (MBZ 0, Frag_offset 0) followed by whole frames; the timestamp
(90 kHz) is that of the packet's first frame. Frames are found by their headers, so only
MPEG-1 streams with a fixed frame size are expected (as mp1_write.py writes them).
"""

import argparse
import socket
import struct
import time

RATES = {0: 44100, 1: 48000, 2: 32000}


def frames(data):
    pos = 0
    while pos + 4 <= len(data):
        h = struct.unpack(">I", data[pos:pos + 4])[0]
        if h >> 21 != 0x7FF:
            raise SystemExit("no frame header at %d" % pos)
        layer = 4 - ((h >> 17) & 3)
        kbit = [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448][(h >> 12) & 15]
        rate = RATES[(h >> 10) & 3]
        pad = (h >> 9) & 1
        if layer != 1:
            raise SystemExit("only Layer I streams")
        size = (12 * kbit * 1000 // rate + pad) * 4
        yield data[pos:pos + size], 384 * 90000 // rate
        pos += size


def main():
    p = argparse.ArgumentParser()
    p.add_argument("file")
    p.add_argument("--from", dest="src", required=True)
    p.add_argument("--to", required=True)
    p.add_argument("--ssrc", type=lambda v: int(v, 0), default=0x0a010001)
    p.add_argument("--frames-per-packet", type=int, default=3)
    a = p.parse_args()
    host, port = a.src.rsplit(":", 1)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((host, int(port)))
    to_host, to_port = a.to.rsplit(":", 1)
    data = open(a.file, "rb").read()
    seq, ts = 1000, 90000
    start = time.monotonic()
    pending, pending_ts, elapsed = [], ts, 0.0
    for frame, ticks in frames(data):
        if not pending:
            pending_ts = ts
        pending.append(frame)
        ts += ticks
        if len(pending) == a.frames_per_packet:
            header = struct.pack(">BBHII", 0x80, 14, seq & 0xFFFF, pending_ts & 0xFFFFFFFF, a.ssrc)
            delay = start + (pending_ts - 90000) / 90000 - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            sock.sendto(header + b"\0\0\0\0" + b"".join(pending), (to_host, int(to_port)))
            seq += 1
            pending = []
    if pending:
        header = struct.pack(">BBHII", 0x80, 14, seq & 0xFFFF, pending_ts & 0xFFFFFFFF, a.ssrc)
        sock.sendto(header + b"\0\0\0\0" + b"".join(pending), (to_host, int(to_port)))


if __name__ == "__main__":
    main()
