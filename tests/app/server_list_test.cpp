// Finding servers with real processes, inside a network namespace of the test's own: the list
// service and two headless hosts with "Internet" set, bound to 127.0.0.2 and 127.0.0.3. Both
// searches of this process list both hosts; one host quits and leaves the list at once, the
// other is killed and leaves it after the service's next check.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "data/config.h"
#include "data/language.h"
#include "net/server_search.h"
#include "net/session.h"
#include "net/web.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/network.h"
#include "support/process_support.h"
#include "support/test_support.h"

namespace {

using test::Child;

const std::string kPath = "/Projekte/Powderbox/ServerList.php";

class ServerListEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::enterPrivateNetwork()) GTEST_SKIP() << "no network namespace of our own";
    ASSERT_TRUE(rt::initNetwork());
    rt::setDataRoot(test::binaryDir());
    SetConfigFolder(dir.path() + "/");
    ASSERT_TRUE(LoadLanguage(LanguagePath("English")));
    base = test::freePortBase();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    endServerSearches();
    for (Child& c : children) {
      if (!c.done) kill(c.pid, SIGKILL);
    }
    test::waitAll(children, 10000);
    rt::shutdownNetwork();
  }

  // The service checks every second and gives a host half a second to answer.
  void startService() {
    children.push_back(test::spawn(
        dir, "service",
        {test::binaryDir() + "/tools/serverlist/powderbox-serverlist", "--bind", "127.0.0.1",
         "--port", "0", "--db", dir.file("list.db"), "--info-port", std::to_string(base),
         "--check-interval", "1", "--check-timeout", "500"},
        {{"ASAN_OPTIONS", "detect_leaks=0"}}));
    ASSERT_TRUE(test::waitForText(children.back().errors, "LISTEN", 10000));
    std::smatch m;
    std::string log = test::readFile(children.back().errors);
    ASSERT_TRUE(std::regex_search(log, m, std::regex("LISTEN 127\\.0\\.0\\.1:(\\d+)")));
    url = "127.0.0.1:" + m[1].str() + kPath;
  }
  Child& host(const std::string& name, const std::string& address) {
    std::string folder = dir.file(name) + "/Vantrel/Powderbox";
    std::filesystem::create_directories(folder);
    test::writeFile(folder + "/Config.ini", "[Server]\r\nName = " + name + "\r\nInternet = 1\r\n");
    children.push_back(test::spawn(
        dir, name,
        {test::binaryDir() + "/powderbox", "--headless", "--data", test::binaryDir(), "--host",
         "--map", "Arena", "--bind", address, "--port-base", std::to_string(base),
         "--server-list", url, "--log", dir.file(name + ".log")},
        {{"APPDATA", dir.file(name)}, {"ALSOFT_DRIVERS", "null"}}));
    return children.back();
  }
  std::string serviceLog() const { return test::readFile(children.front().errors); }
  // The list body the game reads, "" when the service is unreachable.
  std::string listBody() const {
    int error = 0;
    return webGet(url, 2000, &error);
  }
  bool waitForList(const std::string& body, int timeoutMs) const {
    for (uint32_t start = rt::milliseconds(); rt::milliseconds() - start < uint32_t(timeoutMs);
         rt::delay(50)) {
      if (listBody() == body) return true;
    }
    return false;
  }
  // The rows of a whole search, sorted by address.
  std::vector<std::string> search(int32_t mode) {
    startServerSearch(mode, SearchPlaces{url, base, base + 2});
    for (uint32_t start = rt::milliseconds();
         serverSearchRunning() && rt::milliseconds() - start < 10000;) {
      rt::delay(20);
    }
    std::lock_guard lock(lobbyLock());
    EXPECT_EQ(searchResults.status, Lang("Finish") + " (2 Server)");
    std::vector<std::string> rows = searchResults.rows;
    std::sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
      return a.substr(a.rfind('\t')) < b.substr(b.rfind('\t'));
    });
    return rows;
  }

  test::TempDir dir;
  int base = 0;
  std::string url;
  std::vector<Child> children;
};

TEST_F(ServerListEndToEnd, HostsAreFoundBothWaysAndLeaveTheListWhenTheyQuitOrDie) {
  startService();
  host("Alpha", "127.0.0.2");
  host("Bravo", "127.0.0.3");
  // Listed once the service has seen both answer on their information ports.
  ASSERT_TRUE(test::waitForText(children[0].errors, "UP 127.0.0.2", 20000)) << serviceLog();
  ASSERT_TRUE(test::waitForText(children[0].errors, "UP 127.0.0.3", 20000)) << serviceLog();
  std::string body = listBody();
  EXPECT_TRUE(body == "127.0.0.2 127.0.0.3" || body == "127.0.0.3 127.0.0.2") << body;

  // Name, map, players/limit, rounds, round time, map CRC, latency, address.
  std::regex row("(Alpha|Bravo)\tArena\t0/\\d+\t\\d+\t\\d+\t-?\\d+\t\\d+ms\t127\\.0\\.0\\.[23]");
  for (int32_t mode : {kSearchInternet, kSearchLocal}) {
    std::vector<std::string> rows = search(mode);
    ASSERT_EQ(rows.size(), 2u) << "mode " << mode;
    for (const std::string& r : rows) EXPECT_TRUE(std::regex_match(r, row)) << r;
    EXPECT_TRUE(rows[0].starts_with("Alpha\t") && rows[0].ends_with("\t127.0.0.2")) << rows[0];
    EXPECT_TRUE(rows[1].starts_with("Bravo\t") && rows[1].ends_with("\t127.0.0.3")) << rows[1];
  }

  // A quit deregisters before the process ends; a killed host is dropped by the check.
  kill(children[1].pid, SIGTERM);
  std::vector<Child> quitting = {children[1]};
  ASSERT_TRUE(test::waitAll(quitting, 10000));
  children[1].done = true;
  EXPECT_EQ(test::exitCode(quitting[0]), 0) << test::readFile(dir.file("Alpha.log"));
  EXPECT_EQ(listBody(), "127.0.0.3");
  EXPECT_NE(serviceLog().find("DEL 127.0.0.2"), std::string::npos) << serviceLog();

  kill(children[2].pid, SIGKILL);
  EXPECT_TRUE(waitForList("", 6000)) << serviceLog();
  EXPECT_NE(serviceLog().find("DOWN 127.0.0.3"), std::string::npos) << serviceLog();
}

}  // namespace
