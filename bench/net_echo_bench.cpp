// Echo latency over loopback: a client sends a barrel message (type 17, 24 bytes), a server
// relays it framed to every connected client, the sender included, and the time runs until the
// last client has it. The raw TCP echo in the same run is the floor; a framed echo near 40 ms
// would mean Nagle's algorithm holds the payload back behind its header.
//
// Everything runs on one thread, as in the game: the server and the clients are pumped in turn.
// Reported per player count: the median and the 99th percentile in microseconds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bench/loopback_echo.h"
#include "net/message_buffer.h"
#include "net/transport.h"
#include "runtime/network.h"

namespace {

using bench::Clock;

struct Session {
  rt::Handle server = 0;
  std::vector<rt::Handle> clients;   // client ends
  std::vector<rt::Handle> accepted;  // the server's ends
};

bool openSession(Session& s, int players) {
  rt::initNetwork();
  s.server = rt::createServer(-1, 0, rt::kTcp, "127.0.0.1");
  if (!s.server) return false;
  for (int i = 0; i < players; ++i) {
    rt::Handle c = rt::openConnection(-1, "127.0.0.1", rt::serverPort(s.server), rt::kTcp);
    if (!c) return false;
    s.clients.push_back(c);
  }
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (static_cast<int>(s.accepted.size()) < players && Clock::now() < deadline) {
    rt::ServerEvent event;
    if (rt::pollServers(&event) == rt::kNetConnected) s.accepted.push_back(event.connection);
  }
  return static_cast<int>(s.accepted.size()) == players;
}

void closeSession(Session& s) {
  rt::shutdownNetwork();
  flushConnections();
  s = Session{};
}

// The server's share of a frame: relay every complete message to every client.
void pumpServer(Session& s) {
  rt::ServerEvent event;
  while (rt::pollServers(&event) == rt::kNetData) {
    MessageBuffer* m = receiveMessage(event.connection, 0);
    if (!m) continue;
    for (rt::Handle to : s.accepted) sendMessage(m, to, 0);
    freeBuffer(m);
  }
  flushConnections();
}

MessageBuffer* barrelMessage(rt::Handle owner) {
  MessageBuffer* b = createBuffer(1, 2048, 0);
  putLong(b, 17);
  putLong(b, static_cast<int32_t>(owner));
  putLong(b, 2);
  putFloat(b, 150.0f);
  putFloat(b, 250.0f);
  putLong(b, 3000);
  return b;
}

// Seconds from the send until every client holds the echo; negative when it never came.
double echoOnce(Session& s, size_t sender) {
  std::vector<bool> got(s.clients.size(), false);
  size_t missing = s.clients.size();
  auto start = Clock::now();
  sendMessage(barrelMessage(s.clients[sender]), s.clients[sender], 1);
  auto deadline = start + std::chrono::seconds(2);
  while (missing > 0 && Clock::now() < deadline) {
    pumpServer(s);
    for (size_t i = 0; i < s.clients.size(); ++i) {
      if (got[i]) continue;
      MessageBuffer* m = receiveMessage(s.clients[i], 0);
      if (!m) continue;
      freeBuffer(m);
      got[i] = true;
      --missing;
    }
  }
  if (missing > 0) return -1;
  return bench::secondsSince(start);
}

void BM_FramedEcho(benchmark::State& state) {
  Session s;
  if (!openSession(s, static_cast<int>(state.range(0)))) {
    state.SkipWithError("cannot open a loopback session");
    closeSession(s);
    return;
  }
  bench::timeEchoes(state, s.clients.size(), [&](size_t sender) { return echoOnce(s, sender); });
  closeSession(s);
}
BENCHMARK(BM_FramedEcho)->Arg(2)->Arg(8)->Arg(16)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_RawTcpEcho(benchmark::State& state) { bench::RawTcpEcho(state); }
BENCHMARK(BM_RawTcpEcho)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
