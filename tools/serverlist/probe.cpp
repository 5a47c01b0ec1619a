#include "tools/serverlist/probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace serverlist {
namespace {

using Steady = std::chrono::steady_clock;

// Decimal digits only, at most `high`.
bool whole(const std::string& text, uint64_t high, uint64_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > high) return false;
  *out = value;
  return true;
}

// Control bytes would only garble the page and the log.
std::string printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

struct Attempt {
  size_t index = 0;
  int fd = -1;
  bool connected = false;
  Steady::time_point start;
  int latencyMs = 0;
  std::string data;
};

// Starts a non-blocking connect; false when it failed at once.
bool startConnect(const std::string& address, int port, Attempt* a) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_INET;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    family = AF_INET6;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v6;
  } else {
    return false;
  }
  a->fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (a->fd < 0) return false;
  a->start = Steady::now();
  if (connect(a->fd, reinterpret_cast<sockaddr*>(&storage), length) == 0) {
    a->connected = true;
  } else if (errno != EINPROGRESS) {
    close(a->fd);
    a->fd = -1;
    return false;
  }
  return true;
}

// Advances one attempt after poll reported it; true once it is over either way.
bool advance(Attempt* a, CheckResult* result) {
  if (!a->connected) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(a->fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return true;
    a->connected = true;
    auto took = std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - a->start);
    a->latencyMs = static_cast<int>((took.count() + 500) / 1000);
    return false;
  }
  char buffer[kMaxInfoAnswer + 1];
  ssize_t n = recv(a->fd, buffer, sizeof buffer - a->data.size(), 0);
  if (n < 0) return errno != EAGAIN && errno != EINTR;
  a->data.append(buffer, static_cast<size_t>(n));
  if (a->data.size() > kMaxInfoAnswer) return true;
  // The game closes after its line; a line break ends the answer just as well.
  if (n == 0 || a->data.find('\n') != std::string::npos) {
    result->answered = parseServerInfo(a->data, &result->info);
    result->latencyMs = a->latencyMs;
    return true;
  }
  return false;
}

}  // namespace

bool parseServerInfo(const std::string& text, ServerInfo* info) {
  std::string line = text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxInfoAnswer) return false;
  std::vector<std::string> fields;
  size_t at = 0;
  for (;;) {
    size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab - at));
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  if (fields.size() != 6) return false;
  size_t slash = fields[2].find('/');
  uint64_t players, limit, rounds, roundTime, crc;
  if (slash == std::string::npos || !whole(fields[2].substr(0, slash), 9999, &players) ||
      !whole(fields[2].substr(slash + 1), 9999, &limit) || !whole(fields[3], 999999, &rounds) ||
      !whole(fields[4], 99999999, &roundTime) || !whole(fields[5], 0xFFFFFFFFu, &crc)) {
    return false;
  }
  info->name = printable(fields[0]);
  info->map = printable(fields[1]);
  info->players = static_cast<int>(players);
  info->playerLimit = static_cast<int>(limit);
  info->rounds = static_cast<int>(rounds);
  info->roundTime = static_cast<int>(roundTime);
  info->mapCrc = static_cast<uint32_t>(crc);
  return true;
}

std::vector<CheckResult> TcpProber::check(const std::vector<std::string>& addresses) {
  std::vector<CheckResult> results(addresses.size());
  std::vector<Attempt> open;
  size_t next = 0;
  auto timeout = std::chrono::milliseconds(timeoutMs_);
  while (next < addresses.size() || !open.empty()) {
    while (next < addresses.size() && open.size() < window_) {
      results[next].address = addresses[next];
      Attempt a;
      a.index = next++;
      if (startConnect(addresses[a.index], port_, &a)) open.push_back(std::move(a));
    }
    if (open.empty()) continue;
    std::vector<pollfd> polls;
    Steady::time_point soonest = open.front().start + timeout;
    for (const Attempt& a : open) {
      polls.push_back({a.fd, static_cast<short>(a.connected ? POLLIN : POLLOUT), 0});
      soonest = std::min(soonest, a.start + timeout);
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(soonest - Steady::now());
    poll(polls.data(), polls.size(), static_cast<int>(std::max<int64_t>(0, wait.count()) + 1));
    Steady::time_point now = Steady::now();
    for (size_t i = open.size(); i-- > 0;) {
      Attempt& a = open[i];
      bool over = polls[i].revents != 0 && advance(&a, &results[a.index]);
      if (over || now - a.start >= timeout) {
        close(a.fd);
        open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  return results;
}

}  // namespace serverlist
