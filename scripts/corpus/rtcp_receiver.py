#!/usr/bin/env python3
"""The receiving end of an RTP session that reports back over RTCP, as a phone would.

  rtcp_receiver.py --rtp IP:PORT --seconds N [--drop K] [--cname TEXT]

Binds the RTP port and the RTCP port above it. Keeps RFC 3550 receiver statistics of the
one source it hears (A.1 extended highest sequence number, A.3 expected and lost with the
fraction since the last report, A.8 interarrival jitter with the 8000 Hz clock of PCMU)
and remembers the arrival of each sender report (its NTP middle 32 bits for LSR). Once a
second it sends to the address the sender's RTCP came from (the sender's port + 1 before
that) a compound packet: RR with one report block (LSR/DLSR from the last SR heard), SDES
with CNAME, and XR (RFC 3611) with a Receiver Reference Time block and a VoIP Metrics
block (loss and discard rate, burst/gap density and durations from the same statistics,
fixed end-system and level figures, R factor and MOS unavailable: 127). At the end it sends
RR, SDES and BYE.

--drop K treats every packet whose sequence number is 7 modulo K as lost on the way from
the capture point to this receiver (it is captured, then ignored), so that the reports
carry losses the capture itself does not show.
"""

import argparse
import select
import socket
import struct
import time

NTP_EPOCH = 2208988800


def ntp_now():
    t = time.time() + NTP_EPOCH
    return int(t), int((t - int(t)) * (1 << 32))


class Stats:
    def __init__(self):
        self.ssrc = None
        self.base = self.max = self.cycles = 0
        self.received = 0
        self.expected_prior = self.received_prior = 0
        self.jitter = 0.0
        self.transit = None
        self.lost_runs = []  # per packet: True lost, in sequence order (for burst figures)

    def add(self, ssrc, seq, ts, arrival):
        if self.ssrc is None:
            self.ssrc = ssrc
            self.base = self.max = seq
        else:
            delta = (seq - self.max) & 0xFFFF
            if 0 < delta < 3000:
                if seq < self.max:
                    self.cycles += 1 << 16
                self.lost_runs.extend([True] * (delta - 1))
                self.lost_runs.append(False)
                self.max = seq
        if not self.lost_runs:
            self.lost_runs.append(False)
        self.received += 1
        transit = arrival * 8000 - ts
        if self.transit is not None:
            d = abs(transit - self.transit)
            self.jitter += (d - self.jitter) / 16
        self.transit = transit

    def extended_max(self):
        return self.cycles + self.max

    def block(self, source, lsr, dlsr):
        expected = self.extended_max() - self.base + 1
        lost = expected - self.received
        expected_interval = expected - self.expected_prior
        received_interval = self.received - self.received_prior
        self.expected_prior, self.received_prior = expected, self.received
        lost_interval = expected_interval - received_interval
        fraction = 0 if expected_interval <= 0 or lost_interval <= 0 else (lost_interval << 8) // expected_interval
        lost = max(-(1 << 23), min(lost, (1 << 23) - 1)) & 0xFFFFFF
        return struct.pack(">IB3sIIII", source, fraction, lost.to_bytes(3, "big"),
                           self.extended_max() & 0xFFFFFFFF, int(self.jitter), lsr, dlsr)

    def voip_metrics(self, source):
        runs = self.lost_runs
        n = len(runs)
        losses = sum(runs)
        # RFC 3611 4.7.2 with Gmin 16: losses fewer than 16 received packets apart form a
        # burst (when there are two or more of them).
        bursts, cluster = [], []
        for i, lost in enumerate(runs):
            if lost:
                if cluster and i - cluster[-1] - 1 >= 16:
                    bursts.append(cluster)
                    cluster = []
                cluster.append(i)
        if cluster:
            bursts.append(cluster)
        bursts = [b for b in bursts if len(b) >= 2]
        burst_pos = sum(b[-1] - b[0] + 1 for b in bursts)
        burst_loss = sum(len(b) for b in bursts)
        gap_pos = n - burst_pos
        density = lambda a, b: 0 if b == 0 else min(255, (a * 256) // b)
        ms = 20
        return struct.pack(">BBHIBBBBHHHHbbBBBBBBBBHHH", 7, 0, 8, source,
                           density(losses, n), 0, density(burst_loss, burst_pos),
                           density(losses - burst_loss, gap_pos),
                           (burst_pos * ms // len(bursts)) if bursts else 0,
                           (gap_pos * ms // (len(bursts) + 1)) if n else 0,
                           0, 40, -20, -70, 127, 16, 127, 127, 127, 127, 0x80, 0, 60, 80, 120)


def compound(ssrc, cname, stats, source, lsr, dlsr, bye=False):
    blocks = stats.block(source, lsr, dlsr) if source is not None else b""
    rr = struct.pack(">BBHI", 0x80 | (1 if blocks else 0), 201, (8 + len(blocks)) // 4 - 1, ssrc) + blocks
    item = bytes([1, len(cname)]) + cname
    chunk = struct.pack(">I", ssrc) + item + b"\0"
    chunk += b"\0" * (-len(chunk) % 4)
    sdes = struct.pack(">BBHI", 0x81, 202, len(chunk) // 4, ssrc) + chunk[4:]
    out = rr + sdes
    if bye:
        return out + struct.pack(">BBHI", 0x81, 203, 1, ssrc)
    msw, lsw = ntp_now()
    body = struct.pack(">BBHII", 4, 0, 2, msw, lsw)
    if source is not None:
        body += stats.voip_metrics(source)
    return out + struct.pack(">BBHI", 0x80, 207, (8 + len(body)) // 4 - 1, ssrc) + body


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--rtp", required=True)
    p.add_argument("--seconds", type=float, required=True)
    p.add_argument("--drop", type=int, default=0)
    p.add_argument("--cname", default="receiver@fennik")
    p.add_argument("--ssrc", type=lambda s: int(s, 0), default=0x4ece1e00)
    a = p.parse_args()
    host, port = a.rtp.rsplit(":", 1)
    rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rtp.bind((host, int(port)))
    rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rtcp.bind((host, int(port) + 1))
    print("ready", flush=True)
    stats = Stats()
    peer = None       # where reports go
    last_sr = None    # (middle 32 bits, arrival)
    start = time.time()
    next_report = start + 1.0
    cname = a.cname.encode()
    while time.time() - start < a.seconds:
        ready, _, _ = select.select([rtp, rtcp], [], [], 0.05)
        now = time.time()
        for s in ready:
            data, addr = s.recvfrom(2048)
            if s is rtp and len(data) >= 12 and data[0] >> 6 == 2:
                seq, ts, ssrc = struct.unpack(">HII", data[2:12])
                if peer is None:
                    peer = (addr[0], addr[1] + 1)
                if a.drop and seq % a.drop == 7:
                    continue
                stats.add(ssrc, seq, ts, now)
            elif s is rtcp and len(data) >= 28 and data[1] == 200:
                peer = addr
                msw, lsw = struct.unpack(">II", data[8:16])
                last_sr = (((msw & 0xFFFF) << 16) | (lsw >> 16), now)
        if now >= next_report and peer is not None and stats.ssrc is not None:
            lsr, dlsr = (0, 0) if last_sr is None else (last_sr[0], int((now - last_sr[1]) * 65536))
            rtcp.sendto(compound(a.ssrc, cname, stats, stats.ssrc, lsr, dlsr), peer)
            next_report += 1.0
    if peer is not None and stats.ssrc is not None:
        lsr, dlsr = (0, 0) if last_sr is None else (last_sr[0], int((time.time() - last_sr[1]) * 65536))
        rtcp.sendto(compound(a.ssrc, cname, stats, stats.ssrc, lsr, dlsr, bye=True), peer)


if __name__ == "__main__":
    main()
