// A host that a hostile crowd cannot knock over: while hundreds of connections send garbage,
// trickle, say nothing or announce huge frames, datagrams from thousands of ports hit the
// position port and queries hit the information port, a new player still joins and plays, every
// query is answered, and descriptors and memory stay bounded and come back afterwards.
// (tools/attack/host_attack.sh runs the long form with eight players and reports frame rates.)

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "runtime/clock.h"
#include "support/process_support.h"
#include "support/test_support.h"

namespace {

using test::Child;

int descriptors(pid_t pid) {
  DIR* folder = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!folder) return -1;
  int count = 0;
  while (readdir(folder)) ++count;
  closedir(folder);
  return count - 2;
}

long residentKb(pid_t pid) {
  std::string status = test::readFile("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find("VmRSS:");
  return at == std::string::npos ? -1 : atol(status.c_str() + at + 6);
}

long counter(const std::string& line, const std::string& name) {
  std::smatch m;
  std::regex pattern(name + "=(\\d+)");
  return std::regex_search(line, m, pattern) ? std::stol(m[1]) : -1;
}

TEST(HostUnderAttack, PlayersJoinAndPlayWhileTheHostIsAttacked) {
  test::TempDir dir;
  int base = test::freePortBase();
  ASSERT_NE(base, 0);
  std::string ports = std::to_string(base);
  std::vector<std::pair<std::string, std::string>> env = {
      {"APPDATA", dir.path()}, {"ALSOFT_DRIVERS", "null"}, {"POWDERBOX_SEED", "1"},
      {"ASAN_OPTIONS", "detect_leaks=0"}};
  std::string bot = test::binaryDir() + "/tools/bot/powderbox-bot";
  auto botArgs = [&](const std::string& name) {
    return std::vector<std::string>{bot, "--connect", "127.0.0.1", "--port-base", ports, "--name",
                                    name, "--log", dir.file(name + ".log"), "--quiet"};
  };
  std::vector<Child> children;
  children.push_back(test::spawn(
      dir, "host",
      {test::binaryDir() + "/powderbox", "--headless", "--data", test::binaryDir(), "--host",
       "--map", "Arena", "--rounds", "20", "--start-with", "3", "--port-base", ports, "--log",
       dir.file("host.log")},
      env));
  pid_t host = children[0].pid;
  auto hostLog = [&] { return test::readFile(dir.file("host.log")); };
  ASSERT_TRUE(test::waitForText(dir.file("host.log"), "SESSION hosting", 30000)) << hostLog();
  children.push_back(test::spawn(dir, "BotA", botArgs("BotA"), env));
  children.push_back(test::spawn(dir, "BotB", botArgs("BotB"), env));
  ASSERT_TRUE(test::waitForText(dir.file("host.log"), "\"BotB\" joined", 30000)) << hostLog();
  ASSERT_TRUE(test::waitForText(dir.file("host.log"), "\"BotA\" joined", 30000)) << hostLog();
  rt::delay(500);
  int quietDescriptors = descriptors(host);
  long quietKb = residentKb(host);

  std::vector<Child> attack = {test::spawn(
      dir, "attack",
      {test::binaryDir() + "/tools/attack/powderbox-attack", "--port-base", ports, "--seconds",
       "6", "--connections", "300", "--datagrams-per-second", "500", "--queries", "600"},
      env)};
  rt::delay(1500);
  uint32_t lateAt = rt::milliseconds();
  children.push_back(test::spawn(dir, "Late", botArgs("Late"), env));
  EXPECT_TRUE(test::waitForText(dir.file("host.log"), "\"Late\" joined", 5000)) << hostLog();
  RecordProperty("late_join_ms", static_cast<int>(rt::milliseconds() - lateAt));
  int peakDescriptors = 0;
  long peakKb = 0;
  for (int i = 0; i < 150 && waitpid(attack[0].pid, &attack[0].status, WNOHANG) == 0; ++i) {
    peakDescriptors = std::max(peakDescriptors, descriptors(host));
    peakKb = std::max(peakKb, residentKb(host));
    rt::delay(200);
  }
  attack[0].done = true;
  std::string report = test::readFile(dir.file("attack.out"));
  RecordProperty("attack", report);

  // The round started with the late player, whose positions the host relays.
  std::smatch m;
  std::string log = hostLog();
  ASSERT_TRUE(std::regex_search(log, m, std::regex("JOIN player (\\d+) \"Late\" joined")));
  EXPECT_TRUE(test::waitForText(dir.file("host.log"), "positions of player " + m[1].str(), 10000))
      << log;
  EXPECT_NE(log.find("ROUND start 1 map Arena"), std::string::npos) << log;

  // Every query answered; every hostile connection that stayed was let go by the host.
  EXPECT_EQ(counter(report, "answered_15s"), 600) << report;
  EXPECT_EQ(counter(report, "closed_by_host"), 240) << report;  // all but the 60 that hang up
  EXPECT_LT(counter(report, "held_max_ms"), 10000) << report;
  EXPECT_LT(peakDescriptors, 400) << report;
  EXPECT_LT(peakKb - quietKb, 64 * 1024) << report;
  rt::delay(5000);
  EXPECT_LE(descriptors(host), quietDescriptors + 2) << report;  // the late player's own

  for (Child& c : children) kill(c.pid, SIGTERM);
  EXPECT_TRUE(test::waitAll(children, 20000));
  for (const Child& c : children) EXPECT_EQ(test::sanitizerReport(c), "") << c.name;
}

}  // namespace
