// Checks of the hosts' information ports: a host is listed only while it answers there.
#pragma once

#include <string>
#include <vector>

#include "tools/serverlist/registry.h"

namespace serverlist {

// The most of an answer that is read; a longer one is not a game host's.
inline constexpr size_t kMaxInfoAnswer = 512;

// Reads "name TAB map TAB players/limit TAB rounds TAB round time TAB map CRC", with or without
// a line break at the end. False for anything else.
bool parseServerInfo(const std::string& text, ServerInfo* info);

class Prober {
 public:
  virtual ~Prober() = default;
  virtual std::vector<CheckResult> check(const std::vector<std::string>& addresses) = 0;
};

// Connects to every address at once (up to a window of connections), each with its own
// deadline, so that one round costs about one time-out however many hosts are dead.
class TcpProber : public Prober {
 public:
  TcpProber(int port, int timeoutMs, size_t window = 128)
      : port_(port), timeoutMs_(timeoutMs), window_(window) {}
  std::vector<CheckResult> check(const std::vector<std::string>& addresses) override;

 private:
  int port_;
  int timeoutMs_;
  size_t window_;
};

}  // namespace serverlist
