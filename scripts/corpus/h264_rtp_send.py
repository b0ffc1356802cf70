#!/usr/bin/env python3
"""Sends an H.264 Annex B stream as RTP (RFC 6184, packetization-mode 1) to a UDP port in
real time, for the captures whose parameter sets travel in ways ffmpeg's RTP muxer does not
send them.

  h264_rtp_send.py --input X.264 --from IP:PORT --to IP:PORT --pt 96 --ssrc N
                   [--fps 25] [--mtu 1200] --mode stapa|sprop|plain
  h264_rtp_send.py --input X.264 --print-sprop

What it writes:
  * The stream is cut into access units: a coded picture begins at a slice NAL unit whose
    first_mb_in_slice is 0 (first RBSP bit 1); the non-slice units before it (SPS, PPS, SEI,
    access unit delimiter) belong to it. Each picture gets its own RTP timestamp, 90000/fps
    after the previous one; the last packet of a picture has the marker bit.
  * --mode stapa: all SPS and PPS units of a picture travel in one STAP-A packet (RFC 6184
    5.7.1: header byte F|NRI|24, then 16-bit size and unit for each), never alone.
  * --mode sprop: SPS and PPS units are not sent at all; their base64 forms, joined by a
    comma as sprop-parameter-sets wants them (RFC 6184 8.1), are what --print-sprop prints
    (from the first SPS and PPS of the stream).
  * --mode plain: SPS and PPS as single NAL unit packets.
  * Every other unit goes as a single NAL unit packet when it fits into --mtu bytes of
    payload, else as FU-A fragments (5.8) of at most --mtu bytes each (indicator F|NRI|28,
    FU header S|E|0|type).
Sequence numbers start at 1000 and step by one per packet.
"""

import argparse
import base64
import socket
import struct
import time


def split_annexb(data):
    units, i, start = [], 0, None
    n = len(data)
    while i + 3 <= n:
        if data[i] == 0 and data[i + 1] == 0 and data[i + 2] == 1:
            if start is not None:
                end = i
                while end > start and data[end - 1] == 0:
                    end -= 1
                units.append(data[start:end])
            i += 3
            start = i
        else:
            i += 1
    if start is not None:
        units.append(data[start:])
    return [u for u in units if u]


def access_units(units):
    aus, current, has_slice = [], [], False
    for u in units:
        t = u[0] & 0x1F
        new_picture = t in (1, 5) and len(u) > 1 and (u[1] & 0x80)
        if has_slice and (new_picture or t in (6, 7, 8, 9)):
            aus.append(current)
            current, has_slice = [], False
        current.append(u)
        has_slice = has_slice or t in (1, 5)
    if current:
        aus.append(current)
    return aus


def payloads(au, mode, mtu):
    out, params = [], [u for u in au if (u[0] & 0x1F) in (7, 8)]
    if mode == "stapa" and params:
        nri = max(u[0] & 0x60 for u in params)
        body = bytes([nri | 24]) + b"".join(struct.pack(">H", len(u)) + u for u in params)
        out.append(body)
    for u in au:
        t = u[0] & 0x1F
        if t in (7, 8) and mode != "plain":
            continue
        if len(u) <= mtu:
            out.append(u)
            continue
        body, pos, first = u[1:], 0, True
        while pos < len(body):
            chunk = body[pos:pos + mtu - 2]
            pos += len(chunk)
            header = t | (0x80 if first else 0) | (0x40 if pos >= len(body) else 0)
            out.append(bytes([(u[0] & 0xE0) | 28, header]) + chunk)
            first = False
    return out


def endpoint(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--input", required=True)
    ap.add_argument("--from", dest="src", type=endpoint)
    ap.add_argument("--to", type=endpoint)
    ap.add_argument("--pt", type=int, default=96)
    ap.add_argument("--ssrc", type=lambda s: int(s, 0), default=0x264)
    ap.add_argument("--fps", type=float, default=25.0)
    ap.add_argument("--mtu", type=int, default=1200)
    ap.add_argument("--mode", choices=("stapa", "sprop", "plain"))
    ap.add_argument("--print-sprop", action="store_true")
    a = ap.parse_args()
    units = split_annexb(open(a.input, "rb").read())
    if a.print_sprop:
        sps = next(u for u in units if (u[0] & 0x1F) == 7)
        pps = next(u for u in units if (u[0] & 0x1F) == 8)
        print(base64.b64encode(sps).decode() + "," + base64.b64encode(pps).decode())
        return
    if not (a.src and a.to and a.mode):
        ap.error("--from, --to and --mode are needed to send")
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(a.src)
    seq, step = 1000, int(round(90000 / a.fps))
    t0 = time.monotonic()
    for i, au in enumerate(access_units(units)):
        delay = t0 + i / a.fps - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        packets = payloads(au, a.mode, a.mtu)
        for k, body in enumerate(packets):
            marker = 0x80 if k == len(packets) - 1 else 0
            header = struct.pack(">BBHII", 0x80, marker | a.pt, seq & 0xFFFF, (90000 + i * step) & 0xFFFFFFFF, a.ssrc)
            sock.sendto(header + body, a.to)
            seq += 1


if __name__ == "__main__":
    main()
