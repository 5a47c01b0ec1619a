// The server list under load: 1,000 registered hosts that all answered their check, and clients
// fetching the list as the game does (HTTP/1.0, a new connection per request, read until the
// service closes) over loopback. Reported: requests per second (items_per_second) and, per
// client thread, the median and 99th percentile of one request in microseconds.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tools/serverlist/service.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr int kHosts = 1000;

// Every host answers at once, so that the list holds all of them.
class AnsweringProber : public serverlist::Prober {
 public:
  std::vector<serverlist::CheckResult> check(const std::vector<std::string>& addresses) override {
    std::vector<serverlist::CheckResult> results;
    for (const std::string& address : addresses) {
      serverlist::CheckResult r;
      r.address = address;
      r.answered = true;
      r.latencyMs = 12;
      r.info = {"Bench host", "Arena", 3, 8, 5, 300, 12345};
      results.push_back(r);
    }
    return results;
  }
};

// One request on a connection of its own; the whole answer, "" on failure.
std::string fetch(int port, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[16384];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  }
  close(fd);
  return answer;
}

struct Running {
  char folder[32] = "/tmp/serverlist-bench-XXXXXX";
  serverlist::SystemClock clock;
  AnsweringProber prober;
  std::unique_ptr<serverlist::Service> service;
  bool ok = false;

  Running() {
    if (!mkdtemp(folder)) return;
    serverlist::Options options;
    options.bind = "127.0.0.1";
    options.port = 0;
    options.db = std::string(folder) + "/list.db";
    options.proxies = {"127.0.0.1"};
    options.ratePerMinute = 100000;
    options.maxPerNetwork = 100000;
    options.maxEntries = 100000;
    service = std::make_unique<serverlist::Service>(options, clock, prober);
    std::string error;
    if (!service->start(&error, false)) return;
    for (int i = 0; i < kHosts; ++i) {
      std::string from = "127.2." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
      fetch(service->port(), std::string("GET ") + serverlist::kDefaultPath +
                                 "?Flag=add HTTP/1.0\r\nX-Forwarded-For: " + from + "\r\n\r\n");
    }
    service->tick();
    ok = service->registry().live().size() == kHosts;
  }
  ~Running() {
    service.reset();
    std::system(("rm -rf " + std::string(folder)).c_str());
  }
};

Running& running() {
  static Running r;
  return r;
}

void BM_ListRequest(benchmark::State& state) {
  Running& r = running();
  if (!r.ok) {
    state.SkipWithError("the service did not start with 1,000 live hosts");
    return;
  }
  std::string request = std::string("GET ") + serverlist::kDefaultPath +
                        " HTTP/1.0\r\nHost: list\r\nConnection: close\r\n\r\n";
  std::vector<double> micros;
  size_t bytes = 0;
  for (auto _ : state) {
    auto start = Steady::now();
    std::string answer = fetch(r.service->port(), request);
    micros.push_back(std::chrono::duration<double, std::micro>(Steady::now() - start).count());
    if (answer.compare(0, 12, "HTTP/1.1 200") != 0) {
      state.SkipWithError("a request failed");
      break;
    }
    bytes += answer.size();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  auto avg = benchmark::Counter::kAvgThreads;
  state.counters["median_us"] = benchmark::Counter(micros[micros.size() / 2], avg);
  state.counters["p99_us"] =
      benchmark::Counter(micros[std::min(micros.size() - 1, micros.size() * 99 / 100)], avg);
}
BENCHMARK(BM_ListRequest)->Threads(1)->Threads(4)->UseRealTime()->MinTime(2.0);

}  // namespace
