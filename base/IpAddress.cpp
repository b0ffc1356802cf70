#include "base/IpAddress.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace fennik {
namespace {

constexpr uint32_t kMaxHandles = 0x0FFFFFFFu;

struct Table {
  std::mutex mutex;
  std::map<std::array<uint8_t, 16>, uint32_t> handles;
  std::vector<std::array<uint8_t, 16>> addresses;
};

Table& TheTable() {
  static Table table;
  return table;
}

}  // namespace

uint32_t InternIpv6(const uint8_t address[16]) {
  std::array<uint8_t, 16> key;
  std::memcpy(key.data(), address, 16);
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.handles.find(key);
  if (it != t.handles.end()) return it->second;
  if (t.addresses.size() >= kMaxHandles) return kNoIpHandle;
  const uint32_t handle = kIpv6HandleBase | static_cast<uint32_t>(t.addresses.size());
  t.addresses.push_back(key);
  t.handles.emplace(key, handle);
  return handle;
}

bool IsIpv6Handle(uint32_t address) {
  return (address & 0xF0000000u) == kIpv6HandleBase && address != kNoIpHandle;
}

bool Ipv6Octets(uint32_t handle, uint8_t out[16]) {
  if (!IsIpv6Handle(handle)) return false;
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  const uint32_t index = handle & kMaxHandles;
  if (index >= t.addresses.size()) return false;
  std::memcpy(out, t.addresses[index].data(), 16);
  return true;
}

IpText FormatIpAddress(uint32_t a) {
  IpText t{};
  uint8_t octets[16];
  if (Ipv6Octets(a, octets) && inet_ntop(AF_INET6, octets, t.text, sizeof t.text) != nullptr) return t;
  std::snprintf(t.text, sizeof t.text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return t;
}

}  // namespace fennik
