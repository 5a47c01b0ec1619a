#include "tools/serverlist/service.h"

#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

#include "runtime/containers.h"
#include "runtime/log.h"
#include "tools/serverlist/addresses.h"
#include "tools/serverlist/pages.h"

namespace serverlist {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kWriteTimeoutSeconds = 5;
constexpr int kKeepAliveSeconds = 2;
constexpr size_t kKeepAliveRequests = 20;
constexpr int kListenBacklog = 1024;

std::string numericAddress(const sockaddr_storage& address, socklen_t length, int* port) {
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host,
                  service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "";
  }
  *port = atoi(service);
  return host;
}

// A socket stream that holds every request to a byte budget and a deadline. The library's own
// stream grows a header line without end and waits anew for every byte, so one client could
// make it allocate without limit or keep a thread for ever.
class BoundedStream : public httplib::Stream {
 public:
  BoundedStream(socket_t sock, int readTimeoutSeconds)
      : sock_(sock), readTimeout_(std::chrono::seconds(readTimeoutSeconds)) {}

  void beginRequest(size_t budget) {
    budget_ = budget;
    deadline_ = Steady::now() + readTimeout_;
  }
  bool buffered() const { return at_ < size_; }

  bool is_readable() const override { return buffered() || waitFor(POLLIN, remainingMs()); }
  bool is_writable() const override { return waitFor(POLLOUT, kWriteTimeoutSeconds * 1000); }

  ssize_t read(char* ptr, size_t size) override {
    if (!buffered()) {
      if (budget_ == 0 || !waitFor(POLLIN, remainingMs())) return -1;
      ssize_t n = recv(sock_, buffer_, std::min(sizeof buffer_, budget_), 0);
      if (n <= 0) return n;
      budget_ -= static_cast<size_t>(n);
      at_ = 0;
      size_ = static_cast<size_t>(n);
    }
    size_t n = std::min(size, size_ - at_);
    memcpy(ptr, buffer_ + at_, n);
    at_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    return send(sock_, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ip = getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0
             ? numericAddress(address, length, &port)
             : "";
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ip = getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0
             ? numericAddress(address, length, &port)
             : "";
  }
  socket_t socket() const override { return sock_; }

  bool waitFor(short events, int ms) const {
    if (ms <= 0) return false;
    pollfd p{sock_, events, 0};
    int n;
    do {
      n = poll(&p, 1, ms);
    } while (n < 0 && errno == EINTR);
    return n > 0;
  }

 private:
  int remainingMs() const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Steady::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
  }

  socket_t sock_;
  Steady::duration readTimeout_;
  Steady::time_point deadline_;
  size_t budget_ = 0;
  char buffer_[4096];
  size_t at_ = 0;
  size_t size_ = 0;
};

// The library's server with its connections served through a BoundedStream, and a cap on the
// connections one address holds at once so that one client cannot take every thread.
class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const serverlist::Options& options) : options_(options) {
    new_task_queue = [n = options.threads] { return new httplib::ThreadPool(n); };
    set_keep_alive_max_count(kKeepAliveRequests);
    set_keep_alive_timeout(kKeepAliveSeconds);
    set_read_timeout(options.readTimeoutSeconds);
    set_write_timeout(kWriteTimeoutSeconds);
    set_payload_max_length(static_cast<size_t>(options.maxRequestBytes));
  }

  // The library listens with a backlog of 5; a burst of connections would wait for SYN retries.
  void widenBacklog() { ::listen(svr_sock_, kListenBacklog); }

 private:
  bool process_and_close_socket(socket_t sock) override {
    timeval sendTimeout{kWriteTimeoutSeconds, 0};
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    BoundedStream stream(sock, options_.readTimeoutSeconds);
    int port = 0;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    std::string peer;
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      peer = normalizeAddress(numericAddress(address, length, &port));
    }
    bool served = false;
    if (!peer.empty() && enter(peer)) {
      int wait = options_.readTimeoutSeconds * 1000;
      for (size_t left = keep_alive_max_count_; left > 0; --left) {
        if (svr_sock_ == INVALID_SOCKET) break;
        if (!stream.buffered() && !stream.waitFor(POLLIN, wait)) break;
        stream.beginRequest(static_cast<size_t>(options_.maxRequestBytes));
        bool closed = false;
        served = process_request(stream, left == 1, closed, nullptr);
        if (!served || closed) break;
        wait = static_cast<int>(keep_alive_timeout_sec_) * 1000;
      }
      leave(peer);
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return served;
  }

  bool enter(const std::string& peer) {
    if (std::find(options_.proxies.begin(), options_.proxies.end(), peer) !=
        options_.proxies.end()) {
      return true;
    }
    std::lock_guard lock(mutex_);
    int& count = connections_[peer];
    if (count >= options_.maxConnectionsPerAddress) return false;
    ++count;
    return true;
  }

  void leave(const std::string& peer) {
    std::lock_guard lock(mutex_);
    auto found = connections_.find(peer);
    if (found != connections_.end() && --found->second <= 0) connections_.erase(found);
  }

  const serverlist::Options& options_;
  std::mutex mutex_;
  std::map<std::string, int> connections_;
};

void plain(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(text, "text/plain; charset=utf-8");
}

// IPv6 customers get a whole /64, so they are counted by it.
std::string rateKey(const std::string& address) {
  return address.find(':') == std::string::npos ? address : networkOf(address);
}

std::string hostPort(const std::string& host, int port) {
  bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

struct Service::Http {
  explicit Http(const Options& options) : server(options) {}
  GuardedServer server;
};

Service::Service(const Options& options, const Clock& clock, Prober& prober)
    : options_(options),
      clock_(clock),
      prober_(prober),
      registry_(store_, clock, {options.expireSeconds, options.maxEntries, options.maxPerNetwork}),
      limiter_(clock, options.ratePerMinute) {}

Service::~Service() { stop(); }

bool Service::start(std::string* error, bool runChecker) {
  if (!store_.open(options_.db, error)) {
    *error = options_.db + ": " + *error;
    return false;
  }
  size_t loaded = registry_.load();
  rt::logLine("DATABASE", "%s: %zu registrations", options_.db.c_str(), loaded);

  http_ = std::make_unique<Http>(options_);
  httplib::Server& server = http_->server;
  route(server);

  bool bound;
  if (options_.port == 0) {
    port_ = server.bind_to_any_port(options_.bind);
    bound = port_ > 0;
  } else {
    port_ = options_.port;
    bound = server.bind_to_port(options_.bind, options_.port);
  }
  if (!bound) {
    *error = "cannot listen on " + hostPort(options_.bind, options_.port) + ": " +
             strerror(errno) +
             (options_.port < 1024 ? " (ports below 1024 need root or CAP_NET_BIND_SERVICE)" : "");
    http_.reset();
    store_.close();
    return false;
  }
  http_->server.widenBacklog();
  rt::logLine("LISTEN", "%s path %s", hostPort(options_.bind, port_).c_str(),
              options_.path.c_str());
  httpThread_ = std::thread([this] { http_->server.listen_after_bind(); });
  if (runChecker) checker_ = std::thread([this] { checkerLoop(); });
  return true;
}

void Service::route(httplib::Server& server) {
  auto serve = [this](const httplib::Request& req, httplib::Response& res) {
    if (req.path == options_.path) {
      serveGame(req, res);
    } else if (req.path == "/" || req.path == "/index.html") {
      res.set_header("Cache-Control", "no-cache");
      // Nothing on the page runs; a script that slipped through the escaping could not either.
      res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_content(kept(page_, statusPage), "text/html; charset=utf-8");
    } else if (req.path == "/servers.json") {
      res.set_header("Cache-Control", "no-cache");
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_content(kept(json_, statusJson), "application/json");
    } else {
      plain(res, 404, "not found\n");
    }
  };
  server.Get(".*", serve);
  auto refuse = [](const httplib::Request&, httplib::Response& res) {
    plain(res, 405, "only GET\n");
  };
  server.Post(".*", refuse).Put(".*", refuse).Delete(".*", refuse).Patch(".*", refuse);
  server.Options(".*", refuse);
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    plain(res, res.status, res.status == 413   ? "request too large\n"
                           : res.status == 414 ? "request target too long\n"
                           : res.status == 404 ? "not found\n"
                                               : "bad request\n");
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        rt::logLine("ERROR", "a request failed inside the service");
        plain(res, 500, "internal error\n");
      });
}

void Service::stop() {
  if (http_) {
    http_->server.stop();
    if (httpThread_.joinable()) httpThread_.join();
  }
  {
    std::lock_guard lock(wakeMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (checker_.joinable()) checker_.join();
  http_.reset();
  store_.close();
}

std::string Service::kept(Kept& answer, Render render) {
  // Read before rendering: a change in between makes the next request render again.
  uint64_t generation = registry_.generation();
  int64_t second = clock_.now();
  std::lock_guard lock(answer.mutex);
  if (answer.generation != generation || answer.second != second) {
    answer.text = render(registry_.live(), second);
    answer.generation = generation;
    answer.second = second;
  }
  return answer.text;
}

void Service::serveGame(const httplib::Request& req, httplib::Response& res) {
  size_t flags = req.get_param_value_count("Flag");
  if (flags == 0) {
    plain(res, 200, kept(list_, [](const std::vector<Entry>& live, int64_t) {
      return listText(live);
    }));
    return;
  }
  std::string flag = req.get_param_value("Flag");
  if (flags > 1 || (flag != "add" && flag != "del")) {
    plain(res, 400, "unknown flag\n");
    return;
  }
  if (req.method != "GET") {
    plain(res, 405, "only GET\n");
    return;
  }
  std::vector<std::string> forwarded;
  for (size_t i = 0; i < req.get_header_value_count("X-Forwarded-For"); ++i) {
    forwarded.push_back(req.get_header_value("X-Forwarded-For", i));
  }
  std::string client =
      clientAddress(normalizeAddress(req.remote_addr), forwarded, options_.proxies);
  if (client.empty()) {
    plain(res, 400, "bad X-Forwarded-For\n");
    return;
  }
  bool firstRefusal = false;
  if (!limiter_.allow(rateKey(client), &firstRefusal)) {
    if (firstRefusal) rt::logLine("REFUSE", "%s: too many registrations", client.c_str());
    plain(res, 429, "too many requests, try again in a minute\n");
    return;
  }
  if (flag == "del") {
    if (registry_.remove(client)) rt::logLine("DEL", "%s", client.c_str());
    plain(res, 200, "");
    return;
  }
  switch (registry_.add(client)) {
    case AddResult::kAdded:
      rt::logLine("ADD", "%s", client.c_str());
      wakeChecker();
      plain(res, 200, "");
      break;
    case AddResult::kRefreshed:
      wakeChecker();
      plain(res, 200, "");
      break;
    case AddResult::kNetworkFull:
      rt::logLine("REFUSE", "%s: its network has too many servers", client.c_str());
      plain(res, 403, "too many servers from this network\n");
      break;
    case AddResult::kListFull:
      rt::logLine("REFUSE", "%s: the list is full", client.c_str());
      plain(res, 503, "the list is full\n");
      break;
  }
}

void Service::tick() {
  for (const std::string& address : registry_.expire()) {
    rt::logLine("EXPIRE", "%s", address.c_str());
  }
  int64_t now = clock_.now();
  bool round = now >= nextRound_;
  if (round) nextRound_ = now + options_.checkSeconds;
  std::vector<std::string> targets = registry_.addresses(!round);
  if (targets.empty()) return;
  CheckChanges changes = registry_.record(prober_.check(targets));
  for (const Entry& e : registry_.live()) {
    if (std::find(changes.up.begin(), changes.up.end(), e.address) == changes.up.end()) continue;
    rt::logLine("UP", "%s \"%s\" on %s", e.address.c_str(), rt::cp1252ToUtf8(e.info.name).c_str(),
                rt::cp1252ToUtf8(e.info.map).c_str());
  }
  for (const std::string& address : changes.down) {
    rt::logLine("DOWN", "%s stopped answering", address.c_str());
  }
}

void Service::wakeChecker() {
  {
    std::lock_guard lock(wakeMutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

void Service::checkerLoop() {
  std::unique_lock lock(wakeMutex_);
  while (!stopping_) {
    lock.unlock();
    tick();
    lock.lock();
    // Rounds and expiry fall due by the clock, not by any event, so it is read again soon.
    wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stopping_ || woken_; });
    woken_ = false;
  }
}

}  // namespace serverlist
