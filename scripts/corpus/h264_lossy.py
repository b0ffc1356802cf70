#!/usr/bin/env python3
"""Writes a lossy copy of an H.264 RTP capture: every Nth RTP packet of the video stream
(UDP from the caller to the callee's port, payload type 96) is left out; all other
packets (SIP, RTCP) stay.

  h264_lossy.py IN.pcap OUT.pcap N
"""

import sys

import pcaplib


def main():
    src, dst, every = sys.argv[1], sys.argv[2], int(sys.argv[3])
    cap = pcaplib.read(src)
    kept, rtp = [], 0
    for p in cap.packets:
        d = p.data
        # Ethernet II (14) + IPv4 (IHL) + UDP (8): an RTP version-2 header with PT 96.
        if len(d) > 14 + 20 + 8 + 12 and d[12:14] == b"\x08\x00" and d[23] == 17:
            ihl = (d[14] & 0x0F) * 4
            rtp_at = 14 + ihl + 8
            if len(d) > rtp_at + 12 and d[rtp_at] >> 6 == 2 and d[rtp_at + 1] & 0x7F == 96:
                rtp += 1
                if rtp % every == 0:
                    continue
        kept.append(p)
    cap.packets = kept
    pcaplib.write_classic(dst, cap)


if __name__ == "__main__":
    main()
