// powderbox-impair: a poor network between players and a host, on loopback. It listens on the
// three ports of a session (information, game, positions) and forwards everything to a host's
// ports, holding each piece back by a delay with jitter in both directions; datagrams are also
// lost at random, and since each is held back on its own, they overtake each other. TCP streams
// keep their order (a piece never leaves before the one in front of it).
//
//   powderbox-impair --listen-base N --target-base M [--delay-ms 200] [--jitter-ms 50]
//                    [--loss 0.05] [--seed S]
//
// Players connect to the listen ports; the host sees every player coming from 127.0.0.1, one
// port per player and direction, as behind a router. Loopback only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int listenBase = 0, targetBase = 0;
  int delayMs = 200, jitterMs = 50;
  double loss = 0.05;
  unsigned seed = 1;
};

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int listenOn(int port, int type) {
  int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = loopback(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      (type == SOCK_STREAM && listen(fd, 64) != 0)) {
    perror("powderbox-impair: bind");
    exit(1);
  }
  return fd;
}

// A piece of data waiting for its time: a TCP chunk for a socket, or a datagram for an address.
struct Held {
  Clock::time_point due;
  uint64_t order;  // ties keep their order
  int fd;
  bool datagram;
  sockaddr_in to;
  std::vector<uint8_t> bytes;
  bool operator>(const Held& o) const { return due != o.due ? due > o.due : order > o.order; }
};

class Impairment {
 public:
  explicit Impairment(const Options& o) : o_(o), random_(o.seed) {
    info_ = listenOn(o.listenBase, SOCK_STREAM);
    game_ = listenOn(o.listenBase + 1, SOCK_STREAM);
    udp_ = listenOn(o.listenBase + 2, SOCK_DGRAM);
  }

  void run() {
    for (;;) {
      std::vector<pollfd> fds = {{info_, POLLIN, 0}, {game_, POLLIN, 0}, {udp_, POLLIN, 0}};
      for (const auto& [fd, other] : pairs_) fds.push_back({fd, POLLIN, 0});
      for (const auto& [client, upstream] : flows_) fds.push_back({upstream, POLLIN, 0});
      int wait = 50;
      if (!held_.empty()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(held_.top().due -
                                                                          Clock::now());
        wait = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(wait, left.count())));
      }
      poll(fds.data(), fds.size(), wait);
      for (const pollfd& p : fds) {
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (p.fd == info_ || p.fd == game_) {
          accept(p.fd, p.fd == info_ ? o_.targetBase : o_.targetBase + 1);
        } else if (p.fd == udp_) {
          fromPlayer();
        } else if (pairs_.count(p.fd)) {
          stream(p.fd);
        } else {
          fromHost(p.fd);
        }
      }
      deliver();
    }
  }

 private:
  Clock::time_point dueTime(bool keepOrder, int towards) {
    int jitter = o_.jitterMs > 0 ? static_cast<int>(random_() % (2 * o_.jitterMs + 1)) - o_.jitterMs : 0;
    auto due = Clock::now() + std::chrono::milliseconds(o_.delayMs + jitter);
    if (keepOrder) {
      auto& last = lastDue_[towards];
      if (due < last) due = last;
      last = due;
    }
    return due;
  }

  void hold(int fd, bool datagram, const sockaddr_in& to, const uint8_t* bytes, size_t n) {
    if (datagram && std::uniform_real_distribution<>(0, 1)(random_) < o_.loss) return;
    held_.push({dueTime(!datagram, fd), order_++, fd, datagram, to,
                std::vector<uint8_t>(bytes, bytes + n)});
  }

  void accept(int listener, int targetPort) {
    int client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return;
    int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in target = loopback(targetPort);
    if (connect(upstream, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
      close(client);
      close(upstream);
      return;
    }
    int on = 1;
    for (int fd : {client, upstream}) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    pairs_[client] = upstream;
    pairs_[upstream] = client;
  }

  // A closed end closes the other one once what is held for it has gone out.
  void stream(int fd) {
    uint8_t bytes[65536];
    ssize_t n = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
    int other = pairs_[fd];
    if (n > 0) {
      hold(other, false, sockaddr_in{}, bytes, static_cast<size_t>(n));
      return;
    }
    if (n < 0 && errno == EAGAIN) return;
    pairs_.erase(fd);
    pairs_.erase(other);
    close(fd);
    held_.push({dueTime(true, other), order_++, other, false, sockaddr_in{}, {}});  // then close
  }

  void fromPlayer() {
    uint8_t bytes[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = recvfrom(udp_, bytes, sizeof bytes, MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&from), &length);
    if (n <= 0) return;
    uint64_t key = uint64_t{from.sin_addr.s_addr} << 16 | from.sin_port;
    auto flow = flows_.find(key);
    if (flow == flows_.end()) {
      int upstream = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      flow = flows_.emplace(key, upstream).first;
      players_[upstream] = from;
    }
    hold(flow->second, true, loopback(o_.targetBase + 2), bytes, static_cast<size_t>(n));
  }

  void fromHost(int upstream) {
    uint8_t bytes[65536];
    ssize_t n = recv(upstream, bytes, sizeof bytes, MSG_DONTWAIT);
    if (n > 0) hold(udp_, true, players_[upstream], bytes, static_cast<size_t>(n));
  }

  void deliver() {
    auto now = Clock::now();
    while (!held_.empty() && held_.top().due <= now) {
      const Held& h = held_.top();
      if (h.datagram) {
        sendto(h.fd, h.bytes.data(), h.bytes.size(), MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&h.to), sizeof h.to);
      } else if (h.bytes.empty()) {
        close(h.fd);
      } else {
        // Loopback takes what a game sends; a blocking write keeps the stream whole.
        size_t done = 0;
        while (done < h.bytes.size()) {
          ssize_t n = send(h.fd, h.bytes.data() + done, h.bytes.size() - done, MSG_NOSIGNAL);
          if (n <= 0) break;
          done += static_cast<size_t>(n);
        }
      }
      held_.pop();
    }
  }

  Options o_;
  std::mt19937 random_;
  int info_ = -1, game_ = -1, udp_ = -1;
  std::map<int, int> pairs_;                 // TCP: each end -> the other
  std::map<uint64_t, int> flows_;            // UDP: player address -> socket towards the host
  std::map<int, sockaddr_in> players_;       // that socket -> the player
  std::map<int, Clock::time_point> lastDue_;  // TCP: when the last held piece leaves
  std::priority_queue<Held, std::vector<Held>, std::greater<Held>> held_;
  uint64_t order_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--listen-base") o.listenBase = atoi(value);
    else if (option == "--target-base") o.targetBase = atoi(value);
    else if (option == "--delay-ms") o.delayMs = atoi(value);
    else if (option == "--jitter-ms") o.jitterMs = atoi(value);
    else if (option == "--loss") o.loss = atof(value);
    else if (option == "--seed") o.seed = static_cast<unsigned>(atoi(value));
    else {
      fprintf(stderr, "powderbox-impair: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  if (o.listenBase <= 0 || o.targetBase <= 0 || o.delayMs < o.jitterMs) {
    fprintf(stderr,
            "usage: powderbox-impair --listen-base N --target-base M [--delay-ms 200]\n"
            "                        [--jitter-ms 50] [--loss 0.05] [--seed S]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  Impairment(o).run();
}
