#include "capture/TelephoneEvents.h"

#include <algorithm>

namespace fennik {
namespace {

constexpr uint8_t kFirstDynamic = 96;
constexpr uint8_t kDynamicTypes = 32;
constexpr uint8_t kLastDtmfEvent = 16;  // RFC 4733 3.2: 0-9 * # A-D, 16 flash
constexpr size_t kLateSearch = 8;       // earlier events a late packet may still join

}  // namespace

std::string TelephoneEventName(uint8_t event) {
  static const char* const kNames[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "*",
                                       "#", "A", "B", "C", "D", "Flash"};
  if (event <= kLastDtmfEvent) return kNames[event];
  return std::to_string(event);
}

// RFC 4733 2.3: event(8) E(1) R(1) volume(6) duration(16).
bool ReadEventPayload(const uint8_t* data, uint32_t length, EventPayload& out) {
  if (length < 4) return false;
  out.event = data[0];
  out.end = (data[1] & 0x80) != 0;
  out.reserved = (data[1] & 0x40) != 0;
  out.volume = data[1] & 0x3F;
  out.duration = static_cast<uint16_t>((data[2] << 8) | data[3]);
  return true;
}

void TelephoneEventTable::Clear() {
  events_.clear();
  watches_.clear();
}

TelephoneEventTable::Watch* TelephoneEventTable::Find(uint32_t streamIndex, uint8_t payloadType) {
  if (payloadType < kFirstDynamic || payloadType >= kFirstDynamic + kDynamicTypes) return nullptr;
  if (streamIndex >= watches_.size()) watches_.resize(streamIndex + 1);
  std::vector<Watch>& w = watches_[streamIndex];
  if (w.empty()) w.resize(kDynamicTypes);
  return &w[payloadType - kFirstDynamic];
}

TelephoneEventTable::Mode TelephoneEventTable::ModeOf(uint32_t streamIndex, uint8_t payloadType) const {
  if (payloadType < kFirstDynamic || payloadType >= kFirstDynamic + kDynamicTypes) return Mode::kRejected;
  if (streamIndex >= watches_.size() || watches_[streamIndex].empty()) return Mode::kUnknown;
  return watches_[streamIndex][payloadType - kFirstDynamic].mode;
}

void TelephoneEventTable::SetMode(uint32_t streamIndex, uint8_t payloadType, Mode mode, uint32_t clockRate) {
  Watch* w = Find(streamIndex, payloadType);
  if (w == nullptr) return;
  w->mode = mode;
  w->clockRate = clockRate != 0 ? clockRate : 8000;
}

// The packets gathered under a watched payload type were not telephone events after all.
void TelephoneEventTable::Reject(uint32_t streamIndex, uint8_t payloadType, Watch& w) {
  w.mode = Mode::kRejected;
  w.current = -1;
  events_.erase(std::remove_if(events_.begin(), events_.end(),
                               [&](const TelephoneEvent& e) {
                                 return e.streamIndex == streamIndex && e.payloadType == payloadType;
                               }),
                events_.end());
}

void TelephoneEventTable::OnPacket(uint32_t streamIndex, uint8_t payloadType, uint32_t ssrc,
                                   uint32_t timestamp, uint32_t packetNumber, int64_t captureUs,
                                   const uint8_t* data, uint32_t length) {
  Watch* w = Find(streamIndex, payloadType);
  if (w == nullptr || (w->mode != Mode::kSdp && w->mode != Mode::kWatched)) return;
  const bool watched = w->mode == Mode::kWatched;
  EventPayload p;
  if (!ReadEventPayload(data, length, p)) {
    if (watched) Reject(streamIndex, payloadType, *w);
    return;
  }
  if (watched && (length != 4 || p.reserved || p.event > kLastDtmfEvent)) {
    Reject(streamIndex, payloadType, *w);
    return;
  }
  // The event this packet belongs to: the current one, or for a late packet one of the
  // few before it.
  int64_t at = -1;
  auto same = [&](const TelephoneEvent& e) {
    return e.streamIndex == streamIndex && e.payloadType == payloadType && e.ssrc == ssrc &&
           e.rtpTimestamp == timestamp;
  };
  if (w->current >= 0 && same(events_[static_cast<size_t>(w->current)])) {
    at = w->current;
  } else {
    const size_t n = events_.size();
    for (size_t k = 0; k < std::min(n, kLateSearch); ++k) {
      if (same(events_[n - 1 - k])) {
        at = static_cast<int64_t>(n - 1 - k);
        break;
      }
    }
  }
  if (at < 0) {
    TelephoneEvent e;
    e.streamIndex = streamIndex;
    e.ssrc = ssrc;
    e.payloadType = payloadType;
    e.event = p.event;
    e.volume = p.volume;
    e.end = p.end;
    e.fromSdp = !watched;
    e.rtpTimestamp = timestamp;
    e.firstPacketNumber = packetNumber;
    e.startUs = captureUs;
    e.duration = p.duration;
    e.clockRate = w->clockRate;
    e.packets = 1;
    e.endPackets = p.end ? 1 : 0;
    events_.push_back(e);
    w->current = static_cast<int64_t>(events_.size() - 1);
    return;
  }
  TelephoneEvent& e = events_[static_cast<size_t>(at)];
  if (watched) {
    // One event code per event; durations only grow; after the end packet only its
    // retransmissions, with the final duration.
    const bool consistent = p.event == e.event && p.duration >= e.duration &&
                            (!e.end || (p.end && p.duration == e.duration));
    if (!consistent) {
      Reject(streamIndex, payloadType, *w);
      return;
    }
  }
  ++e.packets;
  if (p.end) ++e.endPackets;
  e.end = e.end || p.end;
  e.duration = std::max<uint32_t>(e.duration, p.duration);
  e.volume = p.volume;
  w->current = at;
}

}  // namespace fennik
