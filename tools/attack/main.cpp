// powderbox-attack: plays a hostile crowd against a host on this machine, to show that the host
// keeps serving its players. Loopback only: it refuses any target outside 127.0.0.0/8.
//
// Over the given seconds it opens hostile connections to the game port (garbage then gone, a byte
// now and then, nothing at all, a header announcing the largest frame, well-formed frames with
// made-up players), floods the position port with datagrams from a new port each, and queries the
// information port. At the end it prints one line of counts:
//   ATTACK connections=... closed_by_host=... refused=... datagrams=... queries=...
//          answered=... answered_15s=... answer_p50_ms=... answer_p99_ms=... held_max_ms=...

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "net/transport.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string target = "127.0.0.1";
  int portBase = 6500;
  double seconds = 10;
  int connections = 1000;
  int datagramsPerSecond = 1000;
  int queries = 3000;
};

enum class Kind { kGarbage, kTrickle, kSilent, kHugeHeader, kForged, kQuery };

struct Hostile {
  int fd = -1;
  Kind kind;
  bool connected = false;
  bool closedByHost = false;
  Clock::time_point opened;
  Clock::time_point nextByte;
};

const char kUsage[] =
    "usage: powderbox-attack --port-base N [--target 127.x.y.z] [--seconds S]\n"
    "                        [--connections N] [--datagrams-per-second N] [--queries N]\n";

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--target") {
      o->target = value;
    } else if (option == "--port-base") {
      o->portBase = atoi(value);
    } else if (option == "--seconds") {
      o->seconds = atof(value);
    } else if (option == "--connections") {
      o->connections = atoi(value);
    } else if (option == "--datagrams-per-second") {
      o->datagramsPerSecond = atoi(value);
    } else if (option == "--queries") {
      o->queries = atoi(value);
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && o->portBase > 0 && o->portBase < 65534 && o->seconds > 0;
}

sockaddr_in addressOf(const std::string& host, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  return a;
}

// Source addresses spread over 127.0.16.0/20, so that most hostile connections come from an
// address of their own; every tenth comes from one address, which the host must limit.
std::string sourceFor(int i) {
  if (i % 10 == 0) return "127.0.15.1";
  int n = i % 4000;
  return "127.0." + std::to_string(16 + n / 250) + "." + std::to_string(1 + n % 250);
}

int openTcp(const sockaddr_in& to, const std::string& from) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in local = addressOf(from, 0);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
       errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

std::vector<uint8_t> frameOf(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> bytes(kFrameHeaderSize + payload.size());
  buildFrameHeader(payload.data(), static_cast<uint32_t>(payload.size()), bytes.data());
  std::copy(payload.begin(), payload.end(), bytes.begin() + kFrameHeaderSize);
  return bytes;
}

void putU32(std::vector<uint8_t>& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

class Attack {
 public:
  explicit Attack(const Options& o)
      : o_(o), game_(addressOf(o.target, o.portBase + 1)),
        positions_(addressOf(o.target, o.portBase + 2)),
        info_(addressOf(o.target, o.portBase)) {}

  void run() {
    auto start = Clock::now();
    auto end = start + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(o_.seconds));
    // Connections and queries come over the first half, datagrams all along.
    double half = o_.seconds / 2;
    while (Clock::now() < end) {
      double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
      int connectionsDue = std::min(o_.connections, static_cast<int>(o_.connections * elapsed / half));
      while (opened_ < connectionsDue) openHostile(opened_++ % 5);
      int queriesDue = std::min(o_.queries, static_cast<int>(o_.queries * elapsed / half));
      while (queried_ < queriesDue && inFlight() < 256) openQuery(queried_++);
      long datagramsDue = static_cast<long>(o_.datagramsPerSecond * elapsed);
      while (datagrams_ < datagramsDue) sendDatagram(datagrams_++);
      serve(10);
    }
    // The queries still open get their 15 s, and the host as long to let the others go.
    auto drainUntil = Clock::now() + std::chrono::seconds(15);
    while (stillOpen() > 0 && Clock::now() < drainUntil) serve(10);
    report();
    for (Hostile& h : hostiles_) {
      if (h.fd >= 0) close(h.fd);
    }
  }

 private:
  int stillOpen() const {
    int n = 0;
    for (const Hostile& h : hostiles_) n += h.fd >= 0;
    return n;
  }

  int inFlight() const {
    int n = 0;
    for (const Hostile& h : hostiles_) n += h.kind == Kind::kQuery && h.fd >= 0;
    return n;
  }

  void openHostile(int kind) {
    Hostile h;
    h.kind = static_cast<Kind>(kind);
    h.fd = openTcp(game_, sourceFor(opened_));
    h.opened = h.nextByte = Clock::now();
    if (h.fd < 0) ++failed_;
    hostiles_.push_back(h);
  }

  void openQuery(int i) {
    Hostile h;
    h.kind = Kind::kQuery;
    h.fd = openTcp(info_, sourceFor(i + 7));
    h.opened = Clock::now();
    if (h.fd < 0) ++failed_;
    hostiles_.push_back(h);
  }

  std::vector<uint8_t> randomBytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_());
    return bytes;
  }

  // What a hostile connection sends once it is connected.
  std::vector<uint8_t> opening(Kind kind) {
    switch (kind) {
      case Kind::kGarbage:
        return randomBytes(64 << 10);
      case Kind::kHugeHeader: {
        // A header that checks and announces the largest frame, whose bytes then trickle.
        std::vector<uint8_t> header;
        putU32(header, kMaxMessageLength);
        uint8_t full[kFrameHeaderSize];
        buildFrameHeader(header.data(), 4, full);  // the CRC of those 4 bytes is its second field
        putU32(header, static_cast<uint32_t>(full[8] | full[9] << 8 | full[10] << 16 |
                                             static_cast<uint32_t>(full[11]) << 24));
        putU32(header, random_());
        return header;
      }
      case Kind::kForged: {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 20; ++i) {
          std::vector<uint8_t> payload;
          // Any message type but the join request: joining is open to anybody, not an attack.
          uint32_t type = 1 + random_() % 30;
          putU32(payload, type == 2 ? 17 : type);
          putU32(payload, random_());           // a made-up player
          std::vector<uint8_t> rest = randomBytes(random_() % 64);
          payload.insert(payload.end(), rest.begin(), rest.end());
          std::vector<uint8_t> frame = frameOf(payload);
          bytes.insert(bytes.end(), frame.begin(), frame.end());
        }
        return bytes;
      }
      default:
        return {};
    }
  }

  void sendDatagram(long i) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);  // a new port every time
    if (fd < 0) return;
    sockaddr_in local = addressOf(sourceFor(static_cast<int>(i)), 0);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    std::vector<uint8_t> bytes;
    if (i % 2) {
      bytes = randomBytes(i % 4 ? 2000 : 1);
    } else {
      std::vector<uint8_t> payload;
      putU32(payload, random_());  // a position of a made-up player
      std::vector<uint8_t> rest = randomBytes(22);
      payload.insert(payload.end(), rest.begin(), rest.end());
      bytes = frameOf(payload);
    }
    sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
           reinterpret_cast<const sockaddr*>(&positions_), sizeof positions_);
    close(fd);
  }

  void serve(int waitMs) {
    std::vector<pollfd> fds;
    std::vector<size_t> index;
    for (size_t i = 0; i < hostiles_.size(); ++i) {
      const Hostile& h = hostiles_[i];
      if (h.fd < 0) continue;
      fds.push_back({h.fd, static_cast<short>(h.connected ? POLLIN : POLLOUT), 0});
      index.push_back(i);
    }
    poll(fds.data(), fds.size(), waitMs);
    auto now = Clock::now();
    for (size_t k = 0; k < fds.size(); ++k) {
      Hostile& h = hostiles_[index[k]];
      if (!h.connected && (fds[k].revents & (POLLOUT | POLLERR | POLLHUP))) connected(h);
      if (h.fd >= 0 && h.connected && (fds[k].revents & (POLLIN | POLLHUP | POLLERR))) readFrom(h, now);
      if (h.fd >= 0 && h.connected && now >= h.nextByte &&
          (h.kind == Kind::kTrickle || h.kind == Kind::kHugeHeader)) {
        uint8_t byte = static_cast<uint8_t>(random_());
        send(h.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        h.nextByte = now + std::chrono::milliseconds(500);
      }
    }
  }

  void connected(Hostile& h) {
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(h.fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
      ++refused_;
      close(h.fd);
      h.fd = -1;
      return;
    }
    h.connected = true;
    std::vector<uint8_t> bytes = opening(h.kind);
    if (!bytes.empty()) send(h.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (h.kind == Kind::kGarbage) {
      close(h.fd);
      h.fd = -1;
    }
  }

  void readFrom(Hostile& h, Clock::time_point now) {
    uint8_t bytes[4096];
    ssize_t n = recv(h.fd, bytes, sizeof bytes, MSG_DONTWAIT);
    if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR))) return;
    // The other end closed: an answered query, or a hostile connection let go.
    if (h.kind == Kind::kQuery) {
      answerMs_.push_back(std::chrono::duration<double, std::milli>(now - h.opened).count());
    } else {
      h.closedByHost = true;
      ++closedByHost_;
      heldMs_.push_back(std::chrono::duration<double, std::milli>(now - h.opened).count());
    }
    close(h.fd);
    h.fd = -1;
  }

  static double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
  }

  void report() {
    auto at = [this](double p) { return percentile(answerMs_, p); };
    long within = std::count_if(answerMs_.begin(), answerMs_.end(),
                                [](double ms) { return ms <= 15000; });
    printf("ATTACK connections=%d closed_by_host=%d refused=%d failed=%d datagrams=%ld "
           "queries=%d answered=%zu answered_15s=%ld answer_p50_ms=%.1f answer_p99_ms=%.1f "
           "held_max_ms=%.0f\n",
           opened_, closedByHost_, refused_, failed_, datagrams_, queried_, answerMs_.size(),
           within, at(0.5), at(0.99), percentile(heldMs_, 1.0));
    fflush(stdout);
  }

  Options o_;
  sockaddr_in game_, positions_, info_;
  std::vector<Hostile> hostiles_;
  std::mt19937 random_{20261209};
  int opened_ = 0, queried_ = 0, closedByHost_ = 0, refused_ = 0, failed_ = 0;
  long datagrams_ = 0;
  std::vector<double> answerMs_;
  std::vector<double> heldMs_;  // how long the host let a hostile connection stay
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    fputs(kUsage, stderr);
    return 2;
  }
  in_addr target{};
  if (inet_pton(AF_INET, options.target.c_str(), &target) != 1 ||
      (ntohl(target.s_addr) >> 24) != 127) {
    fprintf(stderr, "powderbox-attack: the target must be a loopback address, not %s\n",
            options.target.c_str());
    return 2;
  }
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  Attack(options).run();
  return 0;
}
