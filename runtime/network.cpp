#include "runtime/network.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "runtime/clock.h"
#include "runtime/containers.h"
#include "runtime/log.h"

namespace rt {
namespace {

constexpr int kBacklog = 100;
// A peer whose datagrams are not read in time loses the oldest ones: a newer position supersedes
// an older one anyway.
constexpr size_t kPeerQueueLimit = 16;
// A sender beyond this many takes the place of the peer heard from longest ago, so a flood of
// spoofed source addresses can neither grow memory without end nor lock a real sender out.
constexpr size_t kMaxPeersPerServer = 1024;
// Datagrams taken from one UDP server per pass, so that a flood cannot hold up the frame.
constexpr int kDrainPerPass = 256;
// Descriptors asked of the system at start, when its hard limit allows.
constexpr rlim_t kDescriptorsWanted = 8192;
// Room for datagrams that arrive while a frame is drawn.
constexpr int kDatagramBuffer = 1 << 20;
// Connections accepted from one listener per pass: a queue of waiting connections is worked off
// in bulk, without starving the connections already there.
constexpr int kAcceptPerPass = 64;

enum class Kind { kTcpClient, kUdpLink, kAccepted, kUdpPeer };

struct Connection {
  Connection(Kind k, int socket, const sockaddr_in& peer) : kind(k), fd(socket), address(peer) {}
  ~Connection() {
    if (fd >= 0) ::close(fd);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Kind kind;
  int fd = -1;  // a UDP peer has none: it sends through its server's socket
  sockaddr_in address{};  // the other end
  Handle server = 0;      // the server that accepted or created it
  uint64_t lastHeard = 0;  // UDP peer: microseconds() of its latest datagram
  // UDP: whole datagrams waiting, the first one read up to `consumed`.
  std::deque<std::vector<uint8_t>> datagrams;
  size_t consumed = 0;
};

struct Server {
  Server(int m, int socket, int p) : mode(m), fd(socket), port(p) {}
  ~Server() {
    if (fd >= 0) ::close(fd);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int mode;
  int fd;
  int port;
  std::vector<Handle> clients;                  // accepted connections or UDP peers
  std::unordered_map<uint64_t, Handle> peers;  // UDP sender address -> peer
  DatagramFilter filter;  // for datagrams of strangers
};

enum class Source { kListener, kUdpServer, kClient, kPeer };

// A socket pollServers looks at, and after a pass, one that may have an event.
struct Watched {
  Source source;
  Handle server;
  Handle connection;
  int fd;
  short events = 0;
};

// Lock order: `mutex` before either table's own lock, never the other way round.
struct NetState {
  ObjectTable<Server> servers;
  ObjectTable<Connection> connections;
  // Guards every server's client list and peer map, and the datagram queues of UDP peers, which
  // the main thread fills while search threads work on connections of their own, and `ready`.
  std::mutex mutex;
  // What the last pass over every socket found, handed out one event at a time: one poll serves
  // all of them, and every ready connection comes up once before any comes up again.
  std::deque<Watched> ready;
  // A pass's working lists, kept from pass to pass so that serving allocates nothing.
  std::vector<std::pair<Handle, Server*>> serverList;
  std::vector<Watched> watched;
  std::vector<pollfd> pollFds;
  std::vector<size_t> pollIndex;
};

NetState& net() {
  static NetState state;
  return state;
}

std::string errorText() { return strerror(errno); }

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

std::string dotted(const sockaddr_in& address) {
  if (address.sin_family != AF_INET) return "";
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) return "";
  return text;
}

uint64_t addressKey(const sockaddr_in& address) {
  return (static_cast<uint64_t>(ntohl(address.sin_addr.s_addr)) << 16) | ntohs(address.sin_port);
}

// IPv4 addresses of host ("localhost", dotted or a name), in the resolver's order.
std::vector<sockaddr_in> resolve(const std::string& host, int port, int socketType) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = socketType;
  addrinfo* found = nullptr;
  std::vector<sockaddr_in> result;
  // "localhost" is always the loopback address, also on a machine without a hosts file: it
  // must never be looked up elsewhere.
  const char* name = equalNoCase(host, "localhost") ? "127.0.0.1" : host.c_str();
  if (getaddrinfo(name, nullptr, &hints, &found) != 0) return result;
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
    sockaddr_in address;
    memcpy(&address, a->ai_addr, sizeof address);
    address.sin_port = htons(static_cast<uint16_t>(port));
    result.push_back(address);
  }
  freeaddrinfo(found);
  return result;
}

bool bindAddressFor(const std::string& bindAddress, int port, sockaddr_in* out) {
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = htons(static_cast<uint16_t>(port));
  if (bindAddress.empty()) {
    out->sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  std::vector<sockaddr_in> found = resolve(bindAddress, port, SOCK_STREAM);
  if (found.empty()) return false;
  *out = found.front();
  return true;
}

void setNoDelay(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

const char* modeName(int mode) { return mode == kTcp ? "tcp" : "udp"; }

std::unique_ptr<Server> openServerSocket(int mode, const sockaddr_in& address) {
  int type = mode == kTcp ? SOCK_STREAM : SOCK_DGRAM;
  bool shared = mode == kUdpShared;
  if (shared) mode = kUdp;
  int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    logLine("NET", "cannot create %s socket: %s", modeName(mode), errorText().c_str());
    return nullptr;
  }
  auto server = std::make_unique<Server>(mode, fd, 0);
  // On UDP the option would let a second server share the port instead of failing: only where
  // sharing is the point.
  int on = 1;
  if (mode == kTcp || shared) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (mode != kTcp) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kDatagramBuffer, sizeof kDatagramBuffer);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      (mode == kTcp && listen(fd, kBacklog) != 0)) {
    logLine("NET", "cannot bind %s port %d on %s: %s", modeName(mode), ntohs(address.sin_port),
            dotted(address).c_str(), errorText().c_str());
    return nullptr;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
    server->port = ntohs(bound.sin_port);
  }
  return server;
}

// Binds a client socket to a local address (any port) when one is given.
bool bindLocal(int fd, const sockaddr_in* local, std::string* error) {
  if (!local) return true;
  if (bind(fd, reinterpret_cast<const sockaddr*>(local), sizeof *local) == 0) return true;
  *error = "cannot bind to " + dotted(*local) + ": " + errorText();
  return false;
}

// A non-blocking connect that waits at most timeoutMs; the socket stays non-blocking.
int connectWithin(const sockaddr_in& address, const sockaddr_in* local, int timeoutMs,
                  std::string* error) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = errorText();
    return -1;
  }
  setNoDelay(fd);
  if (!bindLocal(fd, local, error)) {
    ::close(fd);
    return -1;
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  if (errno != EINPROGRESS) {
    *error = errorText();
    ::close(fd);
    return -1;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLOUT, 0};
    int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    int failure = 0;
    socklen_t length = sizeof failure;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
    if (failure == 0) return fd;
    *error = strerror(failure);
    ::close(fd);
    return -1;
  }
  *error = "timed out";
  ::close(fd);
  return -1;
}

std::unique_ptr<Connection> openTcp(const std::string& host, int port, int timeoutMs,
                                    const sockaddr_in* local) {
  std::vector<sockaddr_in> addresses = resolve(host, port, SOCK_STREAM);
  if (addresses.empty()) {
    logLine("NET", "cannot resolve %s", host.c_str());
    return nullptr;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string error;
  for (const sockaddr_in& address : addresses) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    int fd = connectWithin(address, local, static_cast<int>(left), &error);
    if (fd >= 0) return std::make_unique<Connection>(Kind::kTcpClient, fd, address);
  }
  logLine("NET", "cannot connect to %s:%d: %s", host.c_str(), port, error.c_str());
  return nullptr;
}

std::unique_ptr<Connection> openUdp(const std::string& host, int port,
                                    const sockaddr_in* local) {
  std::vector<sockaddr_in> addresses = resolve(host, port, SOCK_DGRAM);
  if (addresses.empty()) {
    logLine("NET", "cannot resolve %s", host.c_str());
    return nullptr;
  }
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    logLine("NET", "cannot create udp socket: %s", errorText().c_str());
    return nullptr;
  }
  std::string error;
  if (!bindLocal(fd, local, &error)) {
    logLine("NET", "udp socket to %s:%d: %s", host.c_str(), port, error.c_str());
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<Connection>(Kind::kUdpLink, fd, addresses.front());
}

// Takes up to length bytes of the first waiting datagram; 0 when none waits.
int takeDatagram(Connection& c, void* buffer, int length) {
  if (c.datagrams.empty()) return 0;
  std::vector<uint8_t>& front = c.datagrams.front();
  size_t count = std::min(static_cast<size_t>(length), front.size() - c.consumed);
  memcpy(buffer, front.data() + c.consumed, count);
  c.consumed += count;
  if (c.consumed == front.size()) {
    c.datagrams.pop_front();
    c.consumed = 0;
  }
  return static_cast<int>(count);
}

// Takes the rest of the first waiting datagram, what does not fit into length dropped.
int takeWholeDatagram(Connection& c, void* buffer, int length) {
  if (c.datagrams.empty()) return 0;
  std::vector<uint8_t>& front = c.datagrams.front();
  size_t count = std::min(static_cast<size_t>(length), front.size() - c.consumed);
  memcpy(buffer, front.data() + c.consumed, count);
  c.datagrams.pop_front();
  c.consumed = 0;
  return static_cast<int>(count);
}

void queueDatagram(Connection& c, std::vector<uint8_t> datagram) {
  c.lastHeard = microseconds();
  c.datagrams.push_back(std::move(datagram));
  if (c.datagrams.size() <= kPeerQueueLimit) return;
  c.datagrams.pop_front();
  c.consumed = 0;
}

// Reads one datagram onto a UDP link; empty datagrams carry nothing and are skipped.
void readLinkDatagram(Connection& c) {
  uint8_t buffer[kMaxDatagram];
  for (int attempt = 0; attempt < 16; ++attempt) {
    ssize_t n = recvfrom(c.fd, buffer, sizeof buffer, MSG_DONTWAIT, nullptr, nullptr);
    if (n < 0) return;
    if (n == 0) continue;
    c.datagrams.emplace_back(buffer, buffer + n);
    return;
  }
}

int receiveTcp(Connection& c, void* buffer, int length) {
  for (;;) {
    ssize_t n = recv(c.fd, buffer, static_cast<size_t>(length), MSG_DONTWAIT);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    return wouldBlock(errno) ? 0 : -1;
  }
}

int sendTcp(Connection& c, const void* data, int length) {
  ssize_t n = send(c.fd, data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n >= 0) return static_cast<int>(n);
  return wouldBlock(errno) ? 0 : -1;
}

int sendDatagram(int fd, const sockaddr_in& to, const void* data, int length) {
  ssize_t n = sendto(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return n == length ? length : -1;
}

// Caller holds the mutex. Forgets the connection in its server's lists.
void detach(NetState& n, Handle handle, const Connection& c) {
  Server* server = c.server ? n.servers.find(c.server) : nullptr;
  if (!server) return;
  std::erase(server->clients, handle);
  if (c.kind == Kind::kUdpPeer) server->peers.erase(addressKey(c.address));
}

// Caller holds the mutex.
Handle addClient(NetState& n, Handle serverHandle, Server& server,
                 std::unique_ptr<Connection> c) {
  c->server = serverHandle;
  Handle handle = n.connections.create(kAnyNumber, [&] { return std::move(c); });
  if (handle) server.clients.push_back(handle);
  return handle;
}

// Caller holds the mutex.
Handle acceptClient(NetState& n, Handle serverHandle) {
  Server* server = n.servers.find(serverHandle);
  if (!server) return 0;
  sockaddr_in from{};
  socklen_t length = sizeof from;
  int fd = accept4(server->fd, reinterpret_cast<sockaddr*>(&from), &length,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return 0;
  setNoDelay(fd);
  auto client = std::make_unique<Connection>(Kind::kAccepted, fd, from);
  return addClient(n, serverHandle, *server, std::move(client));
}

// Caller holds the mutex. Lets go of the peer heard from longest ago, to make room.
void evictQuietestPeer(NetState& n, Server& server) {
  Handle quietest = 0;
  uint64_t oldest = UINT64_MAX;
  for (const auto& [key, peer] : server.peers) {
    Connection* c = n.connections.find(peer);
    if (c && c->lastHeard < oldest) {
      oldest = c->lastHeard;
      quietest = peer;
    }
  }
  if (Connection* c = n.connections.find(quietest)) {
    detach(n, quietest, *c);
    n.connections.free(quietest);
  }
}

// Caller holds the mutex. Queues the datagrams waiting on a UDP server on their senders' peers.
void drainDatagrams(NetState& n, Handle serverHandle) {
  Server* server = n.servers.find(serverHandle);
  if (!server) return;
  uint8_t buffer[kMaxDatagram];
  for (int count = 0; count < kDrainPerPass; ++count) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t got = recvfrom(server->fd, buffer, sizeof buffer, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (got == 0 || from.sin_family != AF_INET) continue;
    uint64_t key = addressKey(from);
    auto known = server->peers.find(key);
    Handle peer = known == server->peers.end() ? 0 : known->second;
    if (!peer && server->filter) {
      uint8_t answer[kMaxDatagram];
      int verdict = server->filter(buffer, static_cast<int>(got), dotted(from), answer);
      if (verdict > 0 && verdict <= got) sendDatagram(server->fd, from, answer, verdict);
      if (verdict >= 0) continue;
    }
    if (!peer) {
      if (server->peers.size() >= kMaxPeersPerServer) evictQuietestPeer(n, *server);
      peer = addClient(n, serverHandle, *server,
                       std::make_unique<Connection>(Kind::kUdpPeer, -1, from));
      if (!peer) continue;
      server->peers[key] = peer;
    }
    if (Connection* c = n.connections.find(peer)) {
      queueDatagram(*c, std::vector<uint8_t>(buffer, buffer + got));
    }
  }
}

// Caller holds the mutex. Collected first, so that the servers' table is not locked while the
// connections' table is looked at.
const std::vector<std::pair<Handle, Server*>>& allServers(NetState& n) {
  n.serverList.clear();
  n.servers.forEach([&](Handle h, Server& s) { n.serverList.emplace_back(h, &s); });
  return n.serverList;
}

// Caller holds the mutex: every socket that pollServers looks at (UDP peers have none).
void watchList(NetState& n) {
  std::vector<Watched>& list = n.watched;
  list.clear();
  for (auto& [h, s] : allServers(n)) {
    list.push_back({s->mode == kTcp ? Source::kListener : Source::kUdpServer, h, h, s->fd});
    if (s->mode != kTcp) continue;
    for (Handle client : s->clients) {
      Connection* c = n.connections.find(client);
      if (c) list.push_back({Source::kClient, h, client, c->fd});
    }
  }
}

void pollSockets(NetState& n) {
  std::vector<Watched>& list = n.watched;
  std::vector<pollfd>& fds = n.pollFds;
  std::vector<size_t>& index = n.pollIndex;
  fds.clear();
  index.clear();
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].fd < 0) continue;
    fds.push_back({list[i].fd, POLLIN, 0});
    index.push_back(i);
  }
  if (fds.empty()) return;
  int ready;
  do {
    ready = poll(fds.data(), fds.size(), 0);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return;
  for (size_t i = 0; i < fds.size(); ++i) list[index[i]].events = fds[i].revents;
}

// Caller holds the mutex. The event a ready source gives, or kNetNone when it has none after all.
int reportSource(NetState& n, const Watched& w, ServerEvent* event) {
  event->server = w.server;
  event->connection = w.connection;
  if (w.source == Source::kPeer) {
    Connection* c = n.connections.find(w.connection);
    return c && !c->datagrams.empty() ? kNetData : kNetNone;
  }
  if (w.source == Source::kListener) {
    return n.connections.exists(w.connection) ? kNetConnected : kNetNone;
  }
  if (w.source != Source::kClient || !n.connections.exists(w.connection)) return kNetNone;
  char byte;
  ssize_t peeked = recv(w.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (peeked > 0) return kNetData;
  if (peeked < 0 && wouldBlock(errno)) return kNetNone;
  // The peer closed or the connection failed: it goes now, the event still names it.
  if (Connection* c = n.connections.find(w.connection)) detach(n, w.connection, *c);
  n.connections.free(w.connection);
  return kNetDisconnected;
}

// Caller holds the mutex. One poll over every socket: the waiting datagrams go onto their peers,
// waiting connections are accepted, and whatever may have an event is queued in `ready`.
void passOverSockets(NetState& n) {
  watchList(n);
  pollSockets(n);
  for (const Watched& w : n.watched) {
    if (w.source == Source::kUdpServer && (w.events & POLLIN)) drainDatagrams(n, w.server);
  }
  for (const Watched& w : n.watched) {
    if (w.source == Source::kListener && (w.events & POLLIN)) {
      for (int i = 0; i < kAcceptPerPass; ++i) {
        Handle accepted = acceptClient(n, w.server);
        if (!accepted) break;
        n.ready.push_back({Source::kListener, w.server, accepted, -1});
      }
    } else if (w.source == Source::kClient && (w.events & (POLLIN | POLLHUP | POLLERR))) {
      n.ready.push_back(w);
    }
  }
  // Peers last: the datagrams drained above are on them now, including those of new senders.
  // Draining and accepting add connections, never servers, so the pass's server list still holds.
  for (auto& [h, s] : n.serverList) {
    if (s->mode == kTcp) continue;
    for (Handle client : s->clients) {
      Connection* c = n.connections.find(client);
      if (c && !c->datagrams.empty()) n.ready.push_back({Source::kPeer, h, client, -1});
    }
  }
}

}  // namespace

bool initNetwork() {
  // A peer that vanishes mid-send must cost an error code, not the process.
  signal(SIGPIPE, SIG_IGN);
  // A host holds a descriptor per connection: take what the system allows beyond the usual 1,024.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, kDescriptorsWanted);
    setrlimit(RLIMIT_NOFILE, &files);
  }
  return true;
}

void shutdownNetwork() {
  std::vector<Handle> servers;
  net().servers.forEach([&](Handle h, Server&) { servers.push_back(h); });
  for (Handle h : servers) closeServer(h);
  net().connections.clear();
}

Handle createServer(int32_t number, int port, int mode, const std::string& bindAddress) {
  if (number < kAnyNumber || number > kMaxNumber) return 0;
  if (mode != kTcp && mode != kUdp && mode != kUdpShared) return 0;
  if (port < 0 || port > 65535) {
    logLine("NET", "server port %d out of range", port);
    return 0;
  }
  sockaddr_in address;
  if (!bindAddressFor(bindAddress, port, &address)) {
    logLine("NET", "cannot resolve bind address %s", bindAddress.c_str());
    return 0;
  }
  // Its connections go with it, not just the listening socket.
  if (number >= 0) closeServer(static_cast<uint32_t>(number));
  NetState& n = net();
  Handle handle = n.servers.create(number, [&] { return openServerSocket(mode, address); });
  if (handle) logLine("NET", "%s server on port %d", modeName(mode), serverPort(handle));
  return handle;
}

// Everything is freed under the lock, so a poll on another thread never sees half of it.
void closeServer(uint32_t server) {
  NetState& n = net();
  std::lock_guard lock(n.mutex);
  Server* s = n.servers.find(server);
  if (!s) return;
  for (Handle c : s->clients) n.connections.free(c);
  n.servers.free(server);
}

void setDatagramFilter(uint32_t server, DatagramFilter filter) {
  NetState& n = net();
  std::lock_guard lock(n.mutex);
  if (Server* s = n.servers.find(server)) s->filter = std::move(filter);
}

int serverPort(uint32_t server) {
  Server* s = net().servers.find(server);
  return s ? s->port : 0;
}

Handle openConnection(int32_t number, const std::string& host, int port, int mode,
                      int timeoutMs, const std::string& localAddress) {
  if (number < kAnyNumber || number > kMaxNumber) return 0;
  if (mode != kTcp && mode != kUdp) return 0;
  if (port <= 0 || port > 65535) {
    logLine("NET", "cannot connect to %s: port %d out of range", host.c_str(), port);
    return 0;
  }
  if (timeoutMs <= 0) timeoutMs = kConnectTimeoutMs;  // an instant give-up is never wanted
  sockaddr_in storage;
  const sockaddr_in* local = nullptr;  // null: the system picks the address
  if (!localAddress.empty()) {
    if (!bindAddressFor(localAddress, 0, &storage)) {
      logLine("NET", "cannot resolve local address %s", localAddress.c_str());
      return 0;
    }
    local = &storage;
  }
  if (number >= 0) closeConnection(static_cast<uint32_t>(number));
  std::unique_ptr<Connection> c =
      mode == kTcp ? openTcp(host, port, timeoutMs, local) : openUdp(host, port, local);
  if (!c) return 0;
  return net().connections.create(number, [&] { return std::move(c); });
}

void closeConnection(uint32_t connection) {
  NetState& n = net();
  std::lock_guard lock(n.mutex);
  Connection* c = n.connections.find(connection);
  if (!c) return;
  detach(n, n.connections.handleOf(connection), *c);
  n.connections.free(connection);
}

bool connectionExists(uint32_t connection) { return net().connections.exists(connection); }

int pollServers(ServerEvent* out) {
  ServerEvent event;
  NetState& n = net();
  std::lock_guard lock(n.mutex);
  if (n.ready.empty()) passOverSockets(n);
  int type = kNetNone;
  while (type == kNetNone && !n.ready.empty()) {
    Watched w = n.ready.front();
    n.ready.pop_front();
    if (n.servers.exists(w.server)) type = reportSource(n, w, &event);
  }
  if (type == kNetNone) event = ServerEvent{};
  if (out) *out = event;
  return type;
}

int pollConnection(uint32_t connection) {
  NetState& n = net();
  Connection* c = n.connections.find(connection);
  if (!c) return kNetNone;
  if (c->kind == Kind::kUdpPeer) {
    std::lock_guard lock(n.mutex);
    return c->datagrams.empty() ? kNetNone : kNetData;
  }
  if (c->kind == Kind::kUdpLink) {
    if (c->datagrams.empty()) readLinkDatagram(*c);
    return c->datagrams.empty() ? kNetNone : kNetData;
  }
  // A closed or failed connection also counts: the read that follows reports it.
  pollfd p{c->fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) ? kNetData : kNetNone;
}

bool waitForData(const uint32_t* connections, int count, uint64_t deadline) {
  NetState& n = net();
  std::vector<pollfd> fds;
  for (int i = 0; i < count; ++i) {
    Connection* c = n.connections.find(connections[i]);
    if (!c || c->fd < 0 || c->kind == Kind::kUdpPeer) continue;
    // A datagram read at the last poll and not yet taken waits already.
    if (c->kind == Kind::kUdpLink && !c->datagrams.empty()) return true;
    fds.push_back({c->fd, POLLIN, 0});
  }
  for (;;) {
    uint64_t now = microseconds();
    if (now >= deadline) return false;
    uint64_t left = deadline - now;
    timespec timeout{static_cast<time_t>(left / 1000000u),
                     static_cast<long>(left % 1000000u) * 1000};
    int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// A missing connection is a failure (-1), not "nothing yet": a caller waiting for bytes or for
// room in the send buffer would otherwise wait forever.
int receiveBytes(uint32_t connection, void* buffer, int length) {
  NetState& n = net();
  Connection* c = n.connections.find(connection);
  if (!c) return -1;
  if (!buffer || length <= 0) return 0;
  switch (c->kind) {
    case Kind::kTcpClient:
    case Kind::kAccepted:
      return receiveTcp(*c, buffer, length);
    case Kind::kUdpLink:
      if (c->datagrams.empty()) readLinkDatagram(*c);
      return takeDatagram(*c, buffer, length);
    case Kind::kUdpPeer: {
      std::lock_guard lock(n.mutex);
      return takeDatagram(*c, buffer, length);
    }
  }
  return -1;
}

int receiveDatagram(uint32_t connection, void* buffer, int length) {
  NetState& n = net();
  Connection* c = n.connections.find(connection);
  if (!c) return -1;
  if (!buffer || length <= 0) return 0;
  if (c->kind == Kind::kUdpLink) {
    if (c->datagrams.empty()) readLinkDatagram(*c);
    return takeWholeDatagram(*c, buffer, length);
  }
  if (c->kind == Kind::kUdpPeer) {
    std::lock_guard lock(n.mutex);
    return takeWholeDatagram(*c, buffer, length);
  }
  return -1;
}

bool isDatagramConnection(uint32_t connection) {
  Connection* c = net().connections.find(connection);
  return c && (c->kind == Kind::kUdpLink || c->kind == Kind::kUdpPeer);
}

int sendBytes(uint32_t connection, const void* data, int length) {
  NetState& n = net();
  Connection* c = n.connections.find(connection);
  if (!c || length < 0 || (!data && length > 0)) return -1;
  if (length == 0) return 0;
  switch (c->kind) {
    case Kind::kTcpClient:
    case Kind::kAccepted:
      return sendTcp(*c, data, length);
    case Kind::kUdpLink:
      return sendDatagram(c->fd, c->address, data, length);
    case Kind::kUdpPeer: {
      Server* server = n.servers.find(c->server);
      return server ? sendDatagram(server->fd, c->address, data, length) : -1;
    }
  }
  return -1;
}

std::string connectionAddress(uint32_t connection) {
  Connection* c = net().connections.find(connection);
  return c ? dotted(c->address) : "";
}

int connectionPort(uint32_t connection) {
  Connection* c = net().connections.find(connection);
  return c ? ntohs(c->address.sin_port) : 0;
}

}  // namespace rt
