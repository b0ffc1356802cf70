#!/usr/bin/env python3
"""Sends coded voice frames as RTP packets at real time (for codecs ffmpeg's RTP muxer does
not packetize: GSM, G.729).

  frames_send.py --frames FILE --frame-samples N --per-packet K --from IP:PORT --to IP:PORT \
                 --pt N --ssrc X [--rate 8000]

FILE holds the frames one after another, each preceded by one length byte (fixed-size
frames may also be given with --frame-bytes B and no length bytes). Up to K frames go into
one packet (RFC 3551 4.5.6 and 4.5.8: frames are simply concatenated); a frame of length 0
(G.729 Annex B: not transmitted) ends the packet and only advances the RTP timestamp, and a
2-byte frame (a G.729 Annex B SID frame) ends the packet it is put in. The RTP timestamp is
the first frame's sample position; the marker bit is set on the first packet after a gap.
"""

import argparse
import socket
import struct
import time


def endpoint(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def read_frames(path, frame_bytes):
    data = open(path, "rb").read()
    if frame_bytes:
        return [data[i:i + frame_bytes] for i in range(0, len(data) - frame_bytes + 1, frame_bytes)]
    frames, i = [], 0
    while i < len(data):
        n = data[i]
        frames.append(data[i + 1:i + 1 + n])
        i += 1 + n
    return frames


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--frames", required=True)
    p.add_argument("--frame-bytes", type=int, default=0)
    p.add_argument("--frame-samples", type=int, required=True)
    p.add_argument("--per-packet", type=int, default=1)
    p.add_argument("--from", dest="src", required=True)
    p.add_argument("--to", required=True)
    p.add_argument("--pt", type=int, required=True)
    p.add_argument("--ssrc", type=lambda s: int(s, 0), required=True)
    p.add_argument("--rate", type=int, default=8000)
    a = p.parse_args()

    frames = read_frames(a.frames, a.frame_bytes)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(endpoint(a.src))
    start = time.monotonic()
    seq = 2000
    packet, first, marker = b"", 0, True

    def send(body, position, mark):
        nonlocal seq
        delay = start + position * 1.0 / a.rate - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        rtp = struct.pack(">BBHII", 0x80, (0x80 if mark else 0) | a.pt, seq & 0xFFFF, position & 0xFFFFFFFF, a.ssrc)
        sock.sendto(rtp + body, endpoint(a.to))
        seq += 1

    count = 0
    for k, frame in enumerate(frames):
        position = k * a.frame_samples
        if not frame:
            if packet:
                send(packet, first, marker)
                marker = False
            packet, count = b"", 0
            marker = True
            continue
        if not packet:
            first = position
        packet += frame
        count += 1
        if count == a.per_packet or len(frame) == 2:
            send(packet, first, marker)
            packet, count, marker = b"", 0, False
    if packet:
        send(packet, first, marker)
    sock.close()


if __name__ == "__main__":
    main()
