// IP addresses in the 32-bit address fields of the packet and stream tables: an IPv4
// address as itself (first octet most significant), an IPv6 address as a handle into a
// process-wide table. Handles lie in 240.0.0.0/4, the range IPv4 reserves and never
// routes, so tables, keys and layouts stay as they are for IPv4 captures.
#pragma once

#include <cstdint>

namespace fennik {

constexpr uint32_t kIpv6HandleBase = 0xF0000000u;
constexpr uint32_t kNoIpHandle = 0xFFFFFFFFu;  // the table is full: the packet is not listed

// The handle of an IPv6 address (the same address always gets the same handle).
uint32_t InternIpv6(const uint8_t address[16]);
bool IsIpv6Handle(uint32_t address);
// The 16 octets behind a handle; false for an IPv4 address or an unknown handle.
bool Ipv6Octets(uint32_t handle, uint8_t out[16]);

// "a.b.c.d", or for a handle the IPv6 text of RFC 5952 ("fd00::10", "::1").
struct IpText {
  char text[48];
};
IpText FormatIpAddress(uint32_t address);

}  // namespace fennik
