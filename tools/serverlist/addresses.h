// Numeric IP addresses as the service keys its registrations: one spelling per address, so
// that "::ffff:1.2.3.4" and "1.2.3.4" are the same host.
#pragma once

#include <string>
#include <vector>

namespace serverlist {

// The canonical text of a numeric IPv4 or IPv6 address, "" for anything else (names too).
std::string normalizeAddress(const std::string& text);

// The network an address is counted in for the per-network cap: its /24 for IPv4, its /64 for
// IPv6 (where one customer usually holds a whole /64).
std::string networkOf(const std::string& address);

// The client a request stands for. The TCP peer unless it is a trusted proxy that passed
// X-Forwarded-For: then the rightmost address that is not a trusted proxy itself. "" when a
// trusted proxy sent something that is not a list of addresses.
std::string clientAddress(const std::string& peer, const std::vector<std::string>& forwarded,
                          const std::vector<std::string>& proxies);

}  // namespace serverlist
