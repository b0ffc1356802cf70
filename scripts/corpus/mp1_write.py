#!/usr/bin/env python3
"""Writes a hand-made MPEG-1 Layer I stream (no Layer I encoder is at hand).

  mp1_write.py OUT.mp1 [--frames N]

48 kHz, 384 kbit/s, joint stereo with mode_extension 0 (sub-bands 4 and up coded jointly),
no CRC: 384-byte frames of 384 samples. Sub-band samples are made directly (no analysis
filter bank): slow sinusoids of different frequencies in the lowest 12 sub-bands, 6-bit
samples (allocation 5) under scalefactors that change from frame to frame, the left and
right channels different below the bound. ISO/IEC 11172-3 2.4.1.5 (syntax) and 2.4.2.5
(semantics); what this stream decodes to is ffmpeg's mp1float decode, kept as the reference.
"""

import argparse
import math


class BitWriter:
    def __init__(self):
        self.bits = []

    def put(self, value, n):
        for i in range(n - 1, -1, -1):
            self.bits.append((value >> i) & 1)

    def bytes(self, size):
        bits = self.bits + [0] * (size * 8 - len(self.bits))
        return bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, size * 8, 8))


def frame(index):
    w = BitWriter()
    # syncword, ID=1 (MPEG-1), layer 11 (I), protection_bit 1, bitrate_index 12 (384 kbit/s),
    # sampling_frequency 01 (48 kHz), padding 0, private 0, mode 01 (joint stereo),
    # mode_extension 00 (bound 4), copyright 0, original 1, emphasis 00.
    w.put(0xFFF, 12); w.put(1, 1); w.put(3, 2); w.put(1, 1)
    w.put(12, 4); w.put(1, 2); w.put(0, 1); w.put(0, 1)
    w.put(1, 2); w.put(0, 2); w.put(0, 1); w.put(1, 1); w.put(0, 2)
    bound, used = 4, 12
    alloc = [[5 if sb < used else 0 for sb in range(32)] for _ in range(2)]
    for sb in range(32):
        if sb < bound:
            w.put(alloc[0][sb], 4); w.put(alloc[1][sb], 4)
        else:
            w.put(alloc[0][sb], 4)
    scf = [[0] * 32 for _ in range(2)]
    for sb in range(32):
        for ch in range(2):
            if alloc[ch][sb]:
                scf[ch][sb] = (6 + sb + 3 * ch + index % 5) % 60
                w.put(scf[ch][sb], 6)
    levels = 63
    for s in range(12):
        t = index * 12 + s
        for sb in range(32):
            chans = 2 if sb < bound else 1
            for ch in range(chans):
                if not alloc[ch][sb]:
                    continue
                phase = 2 * math.pi * t * (0.011 * (sb + 1) + 0.004 * ch)
                v = int(round((levels - 1) / 2 * (1 + 0.9 * math.sin(phase))))
                w.put(min(max(v, 0), levels - 1), 6)
    return w.bytes(384)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("--frames", type=int, default=63)
    a = p.parse_args()
    with open(a.out, "wb") as f:
        for i in range(a.frames):
            f.write(frame(i))


if __name__ == "__main__":
    main()
