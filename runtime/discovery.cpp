#include "runtime/discovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "runtime/log.h"

namespace rt {
namespace {

std::string dotted(in_addr address) {
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "";
}

in_addr addressOf(const sockaddr* address) {
  return reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
}

// The broadcast address of one interface, or "" when it has none.
std::string broadcastOf(const ifaddrs& entry) {
  if (entry.ifa_flags & IFF_BROADCAST) {
    if (!entry.ifa_broadaddr || entry.ifa_broadaddr->sa_family != AF_INET) return "";
    return dotted(addressOf(entry.ifa_broadaddr));
  }
  // The loopback interface has no broadcast flag, but its whole network is local and the kernel
  // delivers to its broadcast address.
  if ((entry.ifa_flags & IFF_LOOPBACK) && entry.ifa_netmask) {
    in_addr address = addressOf(entry.ifa_addr);
    address.s_addr |= ~addressOf(entry.ifa_netmask).s_addr;
    return dotted(address);
  }
  return "";
}

// Calls visit for every IPv4 address of an interface that is up.
template <class Visit>
void forEachInterface(Visit visit) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    logLine("NET", "cannot list the network interfaces");
    return;
  }
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (entry->ifa_flags & IFF_UP) visit(*entry);
  }
  freeifaddrs(list);
}

}  // namespace

std::vector<std::string> broadcastAddresses() {
  std::vector<std::string> found;
  forEachInterface([&found](const ifaddrs& entry) {
    std::string address = broadcastOf(entry);
    if (!address.empty() && std::find(found.begin(), found.end(), address) == found.end()) {
      found.push_back(address);
    }
  });
  return found;
}

std::string broadcastAddressOf(const std::string& localAddress) {
  in_addr local;
  if (inet_pton(AF_INET, localAddress.c_str(), &local) != 1) return "";
  std::string found;
  // By network, not by address: all of 127.0.0.0/8 is local, yet only 127.0.0.1 is listed.
  forEachInterface([&](const ifaddrs& entry) {
    if (!found.empty() || !entry.ifa_netmask) return;
    in_addr_t mask = addressOf(entry.ifa_netmask).s_addr;
    if ((addressOf(entry.ifa_addr).s_addr & mask) == (local.s_addr & mask)) {
      found = broadcastOf(entry);
    }
  });
  return found;
}

std::vector<Datagram> broadcastProbe(const void* probe, int length, int port, int waitMs,
                                     const std::function<bool()>& stopped) {
  std::vector<Datagram> answers;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return answers;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  for (const std::string& address : broadcastAddresses()) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) continue;
    if (sendto(fd, probe, static_cast<size_t>(length), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&to), sizeof to) != length) {
      logLine("NET", "probe to %s:%d not sent", address.c_str(), port);
    }
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  uint8_t buffer[2048];
  while (std::chrono::steady_clock::now() < deadline && !(stopped && stopped())) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    for (;;) {
      sockaddr_in from{};
      socklen_t size = sizeof from;
      ssize_t got = recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&from), &size);
      if (got < 0) break;
      if (answers.size() >= kMaxProbeAnswers || from.sin_family != AF_INET) continue;
      answers.push_back({dotted(from.sin_addr), std::vector<uint8_t>(buffer, buffer + got)});
    }
  }
  close(fd);
  return answers;
}

}  // namespace rt
