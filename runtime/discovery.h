// Finding hosts on the local network: the broadcast addresses of this machine's interfaces and
// one round of a broadcast probe with its answers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rt {

// The IPv4 broadcast address of every interface that is up, in dotted form, each once. The
// loopback interface counts too (127.255.255.255): hosts on this machine answer there.
std::vector<std::string> broadcastAddresses();

// The broadcast address of the interface that holds this local address, or "".
std::string broadcastAddressOf(const std::string& localAddress);

struct Datagram {
  std::string from;  // the sender's address, dotted
  std::vector<uint8_t> bytes;
};

constexpr size_t kMaxProbeAnswers = 1024;

// Sends the probe once to port on every broadcast address and gathers the datagrams that come
// back to it for waitMs (at most kMaxProbeAnswers of them). stopped is asked every 10 ms and
// ends the wait early.
std::vector<Datagram> broadcastProbe(const void* probe, int length, int port, int waitMs,
                                     const std::function<bool()>& stopped);

}  // namespace rt
