#include "net/discovery.h"

#include <arpa/inet.h>

#include <cstring>
#include <unordered_map>

#include "net/protocol_local.h"
#include "net/session.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/network.h"

namespace {

constexpr char kProbeMagic[8] = {'P', 'B', 'O', 'X', 'S', 'E', 'E', 'K'};
constexpr char kAnswerMagic[8] = {'P', 'B', 'O', 'X', 'H', 'O', 'S', 'T'};
// Addresses remembered by the limiter; past this, forgotten windows make room first.
constexpr size_t kLimiterAddresses = 1024;

void putU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getU32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// Answers per address and in total within the current second. Only the thread that polls the
// servers uses it.
struct Limiter {
  struct Window {
    uint32_t start = 0;
    int count = 0;
  };
  std::unordered_map<std::string, Window> byAddress;
  Window total;

  static bool take(Window& w, uint32_t now, int limit) {
    if (now - w.start >= 1000) w = Window{now, 0};
    if (w.count >= limit) return false;
    ++w.count;
    return true;
  }

  bool allow(const std::string& from, uint32_t now) {
    if (byAddress.size() >= kLimiterAddresses && !byAddress.contains(from)) {
      std::erase_if(byAddress, [now](const auto& e) { return now - e.second.start >= 1000; });
      if (byAddress.size() >= kLimiterAddresses) return false;
    }
    Window probe = total;
    if (!take(probe, now, kProbeAnswersPerSecond)) return false;
    if (!take(byAddress[from], now, kProbeAnswersPerAddress)) return false;
    total = probe;
    return true;
  }
};

Limiter limiter;

}  // namespace

std::vector<uint8_t> buildProbe(uint32_t nonce) {
  std::vector<uint8_t> probe(kProbeLength, 0);
  memcpy(probe.data(), kProbeMagic, sizeof kProbeMagic);
  putU32(probe.data() + 8, nonce);
  return probe;
}

bool readProbeAnswer(const rt::Datagram& datagram, uint32_t nonce, ProbeAnswer* out) {
  const std::vector<uint8_t>& b = datagram.bytes;
  if (b.size() != kProbeAnswerLength || memcmp(b.data(), kAnswerMagic, 8) != 0) return false;
  if (getU32(b.data() + 8) != nonce) return false;
  int port = b[12] | (b[13] << 8);
  if (port == 0) return false;
  in_addr address;
  memcpy(&address, b.data() + 14, 4);
  char text[INET_ADDRSTRLEN] = {};
  if (address.s_addr == 0) {
    out->address = datagram.from;
  } else if (inet_ntop(AF_INET, &address, text, sizeof text)) {
    out->address = text;
  } else {
    return false;
  }
  out->icpPort = port;
  return !out->address.empty();
}

bool isProbe(const uint8_t* data, int length) {
  if (length != kProbeLength || memcmp(data, kProbeMagic, 8) != 0) return false;
  for (int i = 12; i < kProbeLength; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

int answerProbe(const uint8_t* data, int length, const std::string& from, uint32_t nowMs,
                const std::string& boundAddress, int icpPort, uint8_t* answer) {
  if (!isProbe(data, length)) return 0;
  in_addr address{};
  if (!boundAddress.empty() && inet_pton(AF_INET, boundAddress.c_str(), &address) != 1) return 0;
  if (!limiter.allow(from, nowMs)) return 0;
  memcpy(answer, kAnswerMagic, 8);
  memcpy(answer + 8, data + 8, 4);  // the nonce
  answer[12] = static_cast<uint8_t>(icpPort);
  answer[13] = static_cast<uint8_t>(icpPort >> 8);
  memcpy(answer + 14, &address, 4);
  return kProbeAnswerLength;
}

void startProbeAnswers() {
  std::string bound = session.ports.bindAddress;
  int icpPort = session.ports.icp;
  // A wildcard position server hears the broadcasts itself; everything but a probe goes on to
  // it. One bound to an address never hears them, so a socket on the broadcast address of that
  // address's network listens beside it, shared with other hosts on the same network.
  rt::Handle server = session.positionServer;
  bool beside = !bound.empty();
  if (beside) {
    rt::setDatagramFilter(server, [](const uint8_t* data, int length, const std::string& from,
                                     uint8_t*) {
      return admitPositionDatagram(data, length, from);
    });
    std::string broadcast = rt::broadcastAddressOf(bound);
    server = broadcast.empty() ? 0
                               : rt::createServer(rt::kAnyNumber, session.ports.udp,
                                                  rt::kUdpShared, broadcast);
    session.probeServer = server;
    if (!server) {
      rt::logLine("NET", "no answers to local searches on %s:%d", bound.c_str(),
                  session.ports.udp);
      return;
    }
  }
  rt::setDatagramFilter(server, [bound, icpPort, beside](const uint8_t* data, int length,
                                                          const std::string& from,
                                                          uint8_t* answer) {
    if (!isProbe(data, length)) return beside ? 0 : admitPositionDatagram(data, length, from);
    return answerProbe(data, length, from, rt::milliseconds(), bound, icpPort, answer);
  });
}
