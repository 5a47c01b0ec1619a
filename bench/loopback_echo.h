// What the echo benchmarks share: latency percentiles as counters, and the raw TCP echo over
// loopback that is the floor every framed echo is compared against.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "runtime/network.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The median and the 99th percentile of the samples, in microseconds.
inline void report(benchmark::State& state, std::vector<double>& samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  state.counters["median_us"] = samples[samples.size() / 2] * 1e6;
  state.counters["p99_us"] =
      samples[std::min(samples.size() - 1, samples.size() * 99 / 100)] * 1e6;
}

// Times one echo per iteration, the senders taking turns; echoOnce(sender) gives the seconds until
// every player had it, or a negative value when one never arrived.
template <typename EchoOnce>
void timeEchoes(benchmark::State& state, size_t senders, EchoOnce echoOnce) {
  std::vector<double> samples;
  size_t sender = 0;
  for (auto _ : state) {
    double seconds = echoOnce(sender++ % senders);
    if (seconds < 0) {
      state.SkipWithError("an echo never arrived");
      break;
    }
    state.SetIterationTime(seconds);
    samples.push_back(seconds);
  }
  report(state, samples);
}

// Reads exactly count bytes, pumping until they come; false after two seconds.
inline bool readAll(rt::Handle connection, uint8_t* into, int count) {
  auto deadline = Clock::now() + std::chrono::seconds(2);
  int done = 0;
  while (done < count && Clock::now() < deadline) {
    int n = rt::receiveBytes(connection, into + done, count - done);
    if (n < 0) return false;
    done += n;
  }
  return done == count;
}

// 24 bytes (a barrel message's size) there and back over one loopback connection, unframed.
inline void RawTcpEcho(benchmark::State& state) {
  rt::initNetwork();
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  rt::Handle client =
      server ? rt::openConnection(rt::kAnyNumber, "127.0.0.1", rt::serverPort(server), rt::kTcp)
             : 0;
  rt::Handle accepted = 0;
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (client && !accepted && Clock::now() < deadline) {
    rt::ServerEvent event;
    if (rt::pollServers(&event) == rt::kNetConnected) accepted = event.connection;
  }
  if (!accepted) {
    state.SkipWithError("cannot open a loopback connection");
    rt::shutdownNetwork();
    return;
  }
  uint8_t bytes[24] = {17};
  uint8_t echo[24];
  std::vector<double> samples;
  for (auto _ : state) {
    auto start = Clock::now();
    bool ok = rt::sendBytes(client, bytes, 24) == 24 && readAll(accepted, echo, 24) &&
              rt::sendBytes(accepted, echo, 24) == 24 && readAll(client, echo, 24);
    if (!ok) {
      state.SkipWithError("the raw echo failed");
      break;
    }
    double seconds = secondsSince(start);
    state.SetIterationTime(seconds);
    samples.push_back(seconds);
  }
  report(state, samples);
  rt::shutdownNetwork();
}

}  // namespace bench
