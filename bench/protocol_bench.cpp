// The game protocol under load, through the host's own code.
//
// BM_HostEcho: a session created in this process (createSession, as the game's host does; its own
// client watches) and 2, 8 or 16 players joined over loopback through the protocol. A player sends
// a barrel message (type 17); the time runs until every player holds the host's echo. The process
// pumps the host (pollNetwork) and the players in turn without sleeping, so this is the protocol's
// and the transport's cost; a real host adds up to one frame (12.5 ms) before it reads. Counters:
// median and 99th percentile in microseconds. BM_RawTcpEcho is the floor in the same run: the
// same 24 bytes over a bare loopback socket and back. A framed echo near 40 ms would mean Nagle's
// algorithm holds the payload back behind its header.
//
// BM_HostLoad16: a headless host process (the game executable) with 16 players: 15 powderbox-bot
// processes wandering and blowing up boxes, and this process as the sixteenth, a player standing
// still that counts its traffic. Everyone sends positions at 10 Hz. Counters: the host process's
// CPU time (user + system from /proc/<pid>/stat) per second of the run, with the idle lobby's as
// a reference, and the bytes per second one player receives and sends (frames with their
// headers, without the IP and TCP/UDP headers).
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback_echo.h"
#include "data/config.h"
#include "net/message_buffer.h"
#include "net/protocol.h"
#include "net/session.h"
#include "net/transport.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/network.h"
#include "world/world.h"

namespace {

using bench::Clock;
using bench::secondsSince;

constexpr int kLoadPlayers = 16;
constexpr double kLoadSeconds = 10.0;
constexpr double kIdleSeconds = 2.0;
constexpr uint32_t kPositionInterval = 100;  // ms, 10 Hz

std::string temporaryFolder() {
  char pattern[] = "/tmp/powderbox-bench-XXXXXX";
  const char* made = mkdtemp(pattern);
  return made ? made : "";
}

// ---- A player held by this process: its connections and what reached it -------------------------

struct Peer {
  rt::Handle game = 0, positions = 0;
  int32_t id = 0;
  bool inRound = false;
  uint64_t bytesIn = 0, bytesOut = 0;
  uint64_t positionsIn = 0;
};

// Reads every complete message; calls seen(type) for each. False when the connection broke.
template <class Seen>
bool drain(Peer& p, rt::Handle connection, Seen seen) {
  for (int i = 0; i < 10000; ++i) {
    MessageBuffer* m = receiveMessage(connection, 0);
    if (m) {
      p.bytesIn += static_cast<uint64_t>(m->length) + kFrameHeaderSize;
      int32_t type = 0;
      if (m->length >= 4) memcpy(&type, m->data, 4);
      if (connection == p.game && type == kMsgIdentify && m->length >= 8) {
        memcpy(&p.id, m->data + 4, 4);
      }
      seen(type);
      freeBuffer(m);
      continue;
    }
    if (connectionFault(connection) != LinkFault::kNone &&
        connectionFault(connection) != LinkFault::kSendFailed) {
      return false;
    }
    if (rt::pollConnection(connection) != rt::kNetData) return true;
  }
  return true;
}

void send(Peer& p, rt::Handle connection, MessageBuffer* message) {
  int sent = sendMessage(message, connection, 1);
  if (sent >= 0) p.bytesOut += static_cast<uint64_t>(sent) + kFrameHeaderSize;
}

MessageBuffer* message(int32_t type) {
  MessageBuffer* b = createBuffer(rt::kAnyNumber, 64, 0);
  putLong(b, type);
  return b;
}

void sendJoinRequest(Peer& p, const std::string& name) {
  MessageBuffer* b = message(kMsgJoinRequest);
  putString(b, name);
  send(p, p.game, b);
}

MessageBuffer* barrelMessage(int32_t owner) {
  MessageBuffer* b = message(kMsgBarrel);
  putLong(b, owner);
  putLong(b, 2);
  putFloat(b, 150.0f);
  putFloat(b, 250.0f);
  putLong(b, 3000);
  return b;
}

void sendPosition(Peer& p, float x, float y) {
  MessageBuffer* b = createBuffer(rt::kAnyNumber, 64, 0);
  putLong(b, p.id);
  putLong(b, static_cast<int32_t>(rt::milliseconds()));
  putFloat(b, x);
  putFloat(b, y);
  putFloat(b, x);
  putFloat(b, y);
  putWord(b, 0);
  send(p, p.positions, b);
}

// ---- BM_HostEcho: the host in this process ------------------------------------------------------

struct HostedSession {
  std::string folder;
  std::vector<Peer> players;
};

bool openHostedSession(HostedSession& s, int count) {
  s.folder = temporaryFolder();
  rt::initNetwork();
  SetConfigFolder(s.folder + "/");
  config = Config{};
  rt::frame.now = rt::milliseconds();
  NetPorts ports{0, 0, 0, "127.0.0.1"};
  if (!createSession(ports, "Bench", true)) return false;
  s.players.resize(static_cast<size_t>(count));
  for (Peer& p : s.players) {
    p.game = rt::openConnection(rt::kAnyNumber, "127.0.0.1", session.ports.tcp, rt::kTcp);
    if (!p.game) return false;
  }
  // Identified, the join request, the player list: every player is in the host's list.
  auto deadline = Clock::now() + std::chrono::seconds(10);
  std::vector<bool> asked(s.players.size(), false);
  while (static_cast<int>(world.players.count()) < count && Clock::now() < deadline) {
    rt::frame.now = rt::milliseconds();
    pollNetwork();
    for (size_t i = 0; i < s.players.size(); ++i) {
      Peer& p = s.players[i];
      drain(p, p.game, [](int32_t) {});
      if (p.id != 0 && !asked[i]) {
        sendJoinRequest(p, "Peer" + std::to_string(i));
        asked[i] = true;
      }
    }
  }
  for (int i = 0; i < 100; ++i) {
    pollNetwork();
    for (Peer& p : s.players) drain(p, p.game, [](int32_t) {});
  }
  return static_cast<int>(world.players.count()) == count;
}

void closeHostedSession(HostedSession& s) {
  for (Peer& p : s.players) {
    rt::closeConnection(p.game);
    forgetConnection(p.game);
  }
  leaveSession();
  rt::shutdownNetwork();
  flushConnections();
  if (!s.folder.empty()) std::filesystem::remove_all(s.folder);
  s = HostedSession{};
}

// Seconds from the send until every player holds the echo; negative when it never came.
double echoOnce(HostedSession& s, size_t sender) {
  std::vector<bool> got(s.players.size(), false);
  size_t missing = s.players.size();
  Peer& from = s.players[sender];
  auto start = Clock::now();
  send(from, from.game, barrelMessage(from.id));
  auto deadline = start + std::chrono::seconds(2);
  while (missing > 0 && Clock::now() < deadline) {
    rt::frame.now = rt::milliseconds();
    pollNetwork();
    for (size_t i = 0; i < s.players.size(); ++i) {
      if (got[i]) continue;
      drain(s.players[i], s.players[i].game, [&](int32_t type) {
        if (type == kMsgBarrel && !got[i]) {
          got[i] = true;
          --missing;
        }
      });
    }
  }
  if (missing > 0) return -1;
  return secondsSince(start);
}

void BM_HostEcho(benchmark::State& state) {
  HostedSession s;
  if (!openHostedSession(s, static_cast<int>(state.range(0)))) {
    state.SkipWithError("cannot open a session with its players on loopback");
    closeHostedSession(s);
    return;
  }
  bench::timeEchoes(state, s.players.size(), [&](size_t sender) { return echoOnce(s, sender); });
  closeHostedSession(s);
}
BENCHMARK(BM_HostEcho)->Arg(2)->Arg(8)->Arg(16)->UseManualTime()->Unit(benchmark::kMicrosecond);

// ---- BM_RawTcpEcho: the floor ------------------------------------------------------------------

void BM_RawTcpEcho(benchmark::State& state) { bench::RawTcpEcho(state); }
BENCHMARK(BM_RawTcpEcho)->UseManualTime()->Unit(benchmark::kMicrosecond);

// ---- BM_HostLoad16: a host process and bot processes --------------------------------------------

// The build tree: this program lives in <build>/bench.
std::string buildFolder() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "" : self.parent_path().parent_path().string();
}

pid_t spawn(const std::vector<std::string>& args, const std::string& folder) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  setenv("APPDATA", folder.c_str(), 1);
  setenv("ALSOFT_DRIVERS", "null", 1);
  if (chdir(folder.c_str()) != 0 || !freopen("/dev/null", "w", stdout)) _exit(126);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

void stop(std::vector<pid_t>& pids) {
  for (pid_t pid : pids) kill(pid, SIGTERM);
  auto deadline = Clock::now() + std::chrono::seconds(5);
  for (pid_t pid : pids) {
    while (waitpid(pid, nullptr, WNOHANG) == 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  pids.clear();
}

// User plus system CPU seconds of a process so far.
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');  // the command name may hold spaces
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  // After the name: state is field 3, utime field 14, stime field 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stoull(field);
    if (i == 15) system = std::stoull(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool waitForText(const std::string& path, const std::string& text, double seconds) {
  auto start = Clock::now();
  while (secondsSince(start) < seconds) {
    std::ifstream in(path);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (all.find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int freePortBase() {
  for (int base = 40000 + static_cast<int>(getpid() % 1000) * 10; base < 65000; base += 7) {
    rt::Handle a = rt::createServer(rt::kAnyNumber, base, rt::kTcp, "127.0.0.1");
    rt::Handle b = rt::createServer(rt::kAnyNumber, base + 1, rt::kTcp, "127.0.0.1");
    rt::Handle c = rt::createServer(rt::kAnyNumber, base + 2, rt::kUdp, "127.0.0.1");
    for (rt::Handle server : {a, b, c}) {
      if (server) rt::closeServer(server);
    }
    if (a && b && c) return base;
  }
  return 0;
}

struct Load {
  std::string folder, build;
  int base = 0;
  pid_t host = 0;
  std::vector<pid_t> pids;  // the host first
  Peer me;
};

const char* startLoad(Load& load) {
  load.build = buildFolder();
  std::string game = load.build + "/powderbox";
  std::string bot = load.build + "/tools/bot/powderbox-bot";
  if (access(game.c_str(), X_OK) != 0 || access(bot.c_str(), X_OK) != 0) {
    return "build the targets powderbox and powderbox-bot first";
  }
  load.folder = temporaryFolder();
  rt::initNetwork();
  load.base = freePortBase();
  if (load.folder.empty() || !load.base) return "no folder or no free ports";
  std::string ports = std::to_string(load.base);
  load.host = spawn({game, "--headless", "--data", load.build, "--host", "--map", "Arena",
                     "--rounds", "100", "--start-with", std::to_string(kLoadPlayers),
                     "--port-base", ports, "--log", load.folder + "/host.log"},
                    load.folder);
  load.pids.push_back(load.host);
  if (!waitForText(load.folder + "/host.log", "SESSION hosting", 30)) return "no host";
  return nullptr;
}

const char* joinLoad(Load& load) {
  std::string bot = load.build + "/tools/bot/powderbox-bot";
  for (int i = 1; i < kLoadPlayers; ++i) {
    load.pids.push_back(spawn({bot, "--connect", "127.0.0.1", "--port-base",
                               std::to_string(load.base), "--name", "Bot" + std::to_string(i),
                               "--play", "wander", "--position-hz", "10", "--quiet"},
                              load.folder));
  }
  Peer& me = load.me;
  me.game = rt::openConnection(rt::kAnyNumber, "127.0.0.1", load.base + 1, rt::kTcp);
  me.positions = rt::openConnection(rt::kAnyNumber, "127.0.0.1", load.base + 2, rt::kUdp);
  if (!me.game || !me.positions) return "cannot join the host";
  bool asked = false;
  auto start = Clock::now();
  while (!me.inRound && secondsSince(start) < 60) {
    if (!drain(me, me.game, [&](int32_t type) { me.inRound |= type == kMsgRoundStart; })) {
      return "the host closed the connection";
    }
    if (me.id != 0 && !asked) {
      sendJoinRequest(me, "Counter");
      asked = true;
    }
    flushConnections();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return me.inRound ? nullptr : "the match did not start";
}

// Plays the standing player for a while: its position every 100 ms, everything read.
bool playFor(Peer& me, double seconds) {
  auto start = Clock::now();
  uint32_t nextPosition = rt::milliseconds();
  while (secondsSince(start) < seconds) {
    if (static_cast<int32_t>(rt::milliseconds() - nextPosition) >= 0) {
      sendPosition(me, 144.0f, 144.0f);
      nextPosition += kPositionInterval;
    }
    if (!drain(me, me.game, [](int32_t) {})) return false;
    drain(me, me.positions, [&](int32_t) { ++me.positionsIn; });
    flushConnections();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void BM_HostLoad16(benchmark::State& state) {
  Load load;
  const char* failure = startLoad(load);
  double idle = 0;
  if (!failure) {
    double before = cpuSeconds(load.host);
    std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
    idle = (cpuSeconds(load.host) - before) / kIdleSeconds;
    failure = joinLoad(load);
  }
  if (failure) {
    state.SkipWithError(failure);
    stop(load.pids);
    rt::shutdownNetwork();
    return;
  }
  for (auto _ : state) {
    playFor(load.me, 2.0);  // the first round settles
    Peer& me = load.me;
    me.bytesIn = me.bytesOut = me.positionsIn = 0;
    double cpuBefore = cpuSeconds(load.host);
    auto start = Clock::now();
    if (!playFor(me, kLoadSeconds)) {
      state.SkipWithError("the host closed the connection");
      break;
    }
    double seconds = secondsSince(start);
    double cpu = cpuSeconds(load.host) - cpuBefore;
    state.SetIterationTime(seconds);
    state.counters["host_cpu_ms_per_s"] = cpu / seconds * 1000.0;
    state.counters["host_idle_cpu_ms_per_s"] = idle * 1000.0;
    state.counters["player_in_bytes_per_s"] = static_cast<double>(me.bytesIn) / seconds;
    state.counters["player_out_bytes_per_s"] = static_cast<double>(me.bytesOut) / seconds;
    state.counters["positions_in_per_s"] = static_cast<double>(me.positionsIn) / seconds;
  }
  stop(load.pids);
  rt::closeConnection(load.me.game);
  rt::closeConnection(load.me.positions);
  rt::shutdownNetwork();
  flushConnections();
  std::filesystem::remove_all(load.folder);
}
BENCHMARK(BM_HostLoad16)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
