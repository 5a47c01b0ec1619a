// The time an internet search takes to fill the list from 50 live hosts. The list service and
// the hosts are servers on loopback addresses (127.0.1.1, 127.0.1.2, ...) answering from one
// polling loop as a host's frame loop would, without its frame pacing; the search runs as in the
// game, one query thread per host.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/loopback_echo.h"
#include "net/server_search.h"
#include "net/session.h"
#include "runtime/network.h"

namespace {

struct Hosts {
  rt::Handle list = 0;
  std::vector<rt::Handle> hosts;
  std::string listAnswer = "HTTP/1.0 200 OK\r\n\r\n";
  int port = 0;
};

bool openHosts(Hosts& h, int count) {
  rt::initNetwork();
  h.list = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  for (int i = 1; i <= count; ++i) {
    std::string address = "127.0.1." + std::to_string(i);
    rt::Handle host = rt::createServer(rt::kAnyNumber, h.port, rt::kTcp, address);
    if (!host) return false;
    h.port = rt::serverPort(host);
    h.hosts.push_back(host);
    h.listAnswer += (i > 1 ? " " : "") + address;
  }
  return h.list != 0;
}

// One round of the polling loop: every host answers at once and closes, the list once the request
// is in.
void serve(const Hosts& h) {
  rt::ServerEvent event;
  while (int type = rt::pollServers(&event)) {
    if (type == rt::kNetConnected && event.server != h.list) {
      static const std::string kInfo = "Bench\tPlains\t1/8\t3\t180\t12345";
      rt::sendBytes(event.connection, kInfo.data(), static_cast<int>(kInfo.size()));
      rt::closeConnection(event.connection);
    } else if (type == rt::kNetData && event.server == h.list) {
      char request[2048];
      rt::receiveBytes(event.connection, request, sizeof request);
      rt::sendBytes(event.connection, h.listAnswer.data(), static_cast<int>(h.listAnswer.size()));
      rt::closeConnection(event.connection);
    } else if (type == rt::kNetData) {
      rt::closeConnection(event.connection);
    }
  }
}

void BM_InternetSearchOverLiveHosts(benchmark::State& state) {
  Hosts h;
  if (!openHosts(h, static_cast<int>(state.range(0)))) {
    state.SkipWithError("cannot listen on 127.0.1.x");
    return;
  }
  SearchPlaces places{"127.0.0.1:" + std::to_string(rt::serverPort(h.list)) + "/list", h.port, 9};
  std::vector<double> samples;
  size_t rows = 0;
  for (auto _ : state) {
    auto start = bench::Clock::now();
    startServerSearch(kSearchInternet, places);
    do {
      serve(h);
    } while (serverSearchRunning());
    double seconds = bench::secondsSince(start);
    state.SetIterationTime(seconds);
    samples.push_back(seconds);
    std::lock_guard lock(lobbyLock());
    rows = searchResults.rows.size();
  }
  endServerSearches();
  state.counters["rows"] = static_cast<double>(rows);
  bench::report(state, samples);
  for (rt::Handle host : h.hosts) rt::closeServer(host);
  rt::closeServer(h.list);
}

BENCHMARK(BM_InternetSearchOverLiveHosts)->Arg(50)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
