#!/usr/bin/env python3
"""An IMA-ADPCM encoder that sends RTP "DVI4" packets (RFC 3551 4.5.1) at real time.

  dvi4_send.py --input S16LE --rate HZ --from IP:PORT --to IP:PORT --pt N --ssrc X \
               [--gain G] [--frame-samples 160] --recon OUT.s16le

Reads 16-bit little-endian mono samples, scales them by --gain, cuts them into frames of
--frame-samples samples (20 ms at 8000 Hz by default) and sends one RTP packet per frame
every frame duration from a bound UDP socket. Each payload is the DVI4 block header
(predicted value, 16 bits big-endian; step index; a zero byte), the encoder state at the
start of the block, followed by one 4-bit code per sample, the first sample in the high
nibble. The encoder is the IMA/DVI ADPCM algorithm (IMA "Recommended Practices for
Enhancing Digital Audio Compatibility", 1992); --recon receives what a decoder following
the encoder's state reconstructs, the reference a decoder must match.
"""

import argparse
import socket
import struct
import time

INDEX_TABLE = [-1, -1, -1, -1, 2, 4, 6, 8] * 2
STEP_TABLE = [
    7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60,
    66, 73, 80, 88, 97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371,
    408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707,
    1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894, 6484, 7132,
    7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623,
    27086, 29794, 32767]


class Encoder:
    def __init__(self):
        self.predicted = 0
        self.index = 0

    def encode(self, sample):
        step = STEP_TABLE[self.index]
        diff = sample - self.predicted
        code = 0
        if diff < 0:
            code = 8
            diff = -diff
        delta = step >> 3
        if diff >= step:
            code |= 4
            diff -= step
            delta += step
        if diff >= step >> 1:
            code |= 2
            diff -= step >> 1
            delta += step >> 1
        if diff >= step >> 2:
            code |= 1
            delta += step >> 2
        self.predicted += -delta if code & 8 else delta
        self.predicted = max(-32768, min(32767, self.predicted))
        self.index = max(0, min(88, self.index + INDEX_TABLE[code]))
        return code


def endpoint(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--input", required=True)
    p.add_argument("--rate", type=int, default=8000)
    p.add_argument("--from", dest="src", required=True)
    p.add_argument("--to", required=True)
    p.add_argument("--pt", type=int, default=5)
    p.add_argument("--ssrc", type=lambda s: int(s, 0), default=0x0d1f0004)
    p.add_argument("--gain", type=float, default=1.0)
    p.add_argument("--frame-samples", type=int, default=160)
    p.add_argument("--recon", required=True)
    a = p.parse_args()

    raw = open(a.input, "rb").read()
    samples = [max(-32768, min(32767, int(round(v * a.gain))))
               for (v,) in struct.iter_unpack("<h", raw[:len(raw) // 2 * 2])]
    n = a.frame_samples
    enc = Encoder()
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(endpoint(a.src))
    recon = []
    start = time.monotonic()
    seq, ts = 1000, 0
    for k, first in enumerate(range(0, len(samples) - n + 1, n)):
        header = struct.pack(">HBB", enc.predicted & 0xFFFF, enc.index, 0)
        codes = []
        for s in samples[first:first + n]:
            codes.append(enc.encode(s))
            recon.append(enc.predicted)
        body = bytes((codes[i] << 4) | codes[i + 1] for i in range(0, n, 2))
        rtp = struct.pack(">BBHII", 0x80, a.pt, seq & 0xFFFF, ts & 0xFFFFFFFF, a.ssrc)
        delay = start + k * n / a.rate - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        sock.sendto(rtp + header + body, endpoint(a.to))
        seq += 1
        ts += n
    sock.close()
    with open(a.recon, "wb") as f:
        f.write(b"".join(struct.pack("<h", v) for v in recon))


if __name__ == "__main__":
    main()
