// Finding servers: list bodies and information answers, the local network's probe, searches over
// fake servers on loopback addresses (answering, slow, silent, refusing), stopping a search, a
// real host answering a local search, and a host's registration with the list service.
#include "net/server_search.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data/config.h"
#include "data/language.h"
#include "net/discovery.h"
#include "net/protocol.h"
#include "net/server_list.h"
#include "net/session.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/network.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

const std::string kInfo = "Alice's\tPlains\t1/8\t3\t180\t12345";

std::string cell(const std::string& row, int index) {
  size_t at = 0;
  for (int i = 0; i < index && at != std::string::npos; ++i) at = row.find('\t', at) + 1;
  return row.substr(at, row.find('\t', at) - at);
}

TEST(ServerSearch, ListBodiesAndInformationAnswers) {
  using List = std::vector<std::string>;
  EXPECT_EQ(listAddresses("\n10.0.0.1 10.0.0.2\n"), (List{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(listAddresses("10.0.0.1  10.0.0.2"), (List{"10.0.0.1"}));  // an empty field ends it
  EXPECT_EQ(listAddresses(""), List{});
  EXPECT_EQ(listAddresses("a;b 10.0.0.3 10.0.0.3 host.example"),
            (List{"10.0.0.3", "host.example"}));
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "10.0.0." + std::to_string(i) + " ";
  EXPECT_EQ(listAddresses(many).size(), kMaxQueries);

  EXPECT_EQ(serverRow(kInfo + "\r\n", 7, "10.0.0.1"), kInfo + "\t7ms\t10.0.0.1");
  EXPECT_EQ(serverRow("Alice\tPlains\t1/8\t3\t180", 7, "x"), "") << "a field short";
  EXPECT_EQ(serverRow(kInfo + "\textra", 7, "x"), "") << "a field too many";
  EXPECT_EQ(serverRow("Al\nice\tPlains\t1/8\t3\t180\t1", 7, "x"), "");
}

TEST(Probe, AnswersProbesOnlyBrieflyAndNeverAtLength) {
  std::vector<uint8_t> probe = buildProbe(0xC0FFEE);
  ASSERT_EQ(probe.size(), static_cast<size_t>(kProbeLength));
  uint8_t answer[kProbeLength];
  int size = answerProbe(probe.data(), kProbeLength, "10.1.1.1", 1000, "127.0.0.2", 6500, answer);
  ASSERT_EQ(size, kProbeAnswerLength);
  ASSERT_LE(size, kProbeLength);
  ProbeAnswer read;
  rt::Datagram datagram{"127.0.0.1", std::vector<uint8_t>(answer, answer + size)};
  ASSERT_TRUE(readProbeAnswer(datagram, 0xC0FFEE, &read));
  EXPECT_EQ(read.address, "127.0.0.2");
  EXPECT_EQ(read.icpPort, 6500);
  EXPECT_FALSE(readProbeAnswer(datagram, 0xC0FFEF, &read)) << "another search's answer";

  // A host on every address is named by the sender of its answer.
  size = answerProbe(probe.data(), kProbeLength, "10.1.1.2", 1000, "", 7000, answer);
  datagram = {"192.0.2.7", std::vector<uint8_t>(answer, answer + size)};
  ASSERT_TRUE(readProbeAnswer(datagram, 0xC0FFEE, &read));
  EXPECT_EQ(read.address, "192.0.2.7");

  // Anything else, and a sender asking too often, gets nothing.
  std::vector<uint8_t> other = probe;
  other[15] = 1;
  EXPECT_EQ(answerProbe(other.data(), kProbeLength, "10.1.1.3", 1000, "", 1, answer), 0);
  EXPECT_EQ(answerProbe(probe.data(), kProbeLength - 1, "10.1.1.3", 1000, "", 1, answer), 0);
  for (int i = 0; i < kProbeAnswersPerAddress; ++i) {
    EXPECT_GT(answerProbe(probe.data(), kProbeLength, "10.1.1.4", 5000, "", 1, answer), 0);
  }
  EXPECT_EQ(answerProbe(probe.data(), kProbeLength, "10.1.1.4", 5500, "", 1, answer), 0);
  EXPECT_GT(answerProbe(probe.data(), kProbeLength, "10.1.1.4", 6000, "", 1, answer), 0);
  EXPECT_FALSE(isProbe(answer, kProbeAnswerLength)) << "hosts never answer each other";
}

// TCP servers on loopback addresses, served by one thread. Each answers every connection after
// its delay: an information text at once, or a web answer once the request has arrived. A silent
// one holds its connections without a word.
class FakeServers {
 public:
  struct Spec {
    std::string address;
    std::string answer;
    int delayMs = 0;
    bool web = false;
    bool silent = false;
  };

  ~FakeServers() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (const Listener& l : listeners_) close(l.fd);
  }
  // Listens on address:port (0: any) and returns the port.
  int add(const Spec& spec, int port = 0) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, spec.address.c_str(), &a.sin_addr);
    socklen_t length = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), length) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      ADD_FAILURE() << "cannot listen on " << spec.address << ":" << port;
    }
    std::lock_guard lock(mutex_);
    listeners_.push_back({fd, spec});
    if (!thread_.joinable()) thread_ = std::thread([this] { serve(); });
    return ntohs(a.sin_port);
  }
  // "peer request-line" of every web request so far.
  std::vector<std::string> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  struct Listener {
    int fd;
    Spec spec;
  };
  struct Open {
    int fd;
    Spec spec;
    std::string peer, request;
    std::chrono::steady_clock::time_point due;
  };

  void serve() {
    std::vector<Open> open;
    while (!stop_) {
      std::vector<pollfd> fds;
      std::vector<Listener> listeners;
      {
        std::lock_guard lock(mutex_);
        listeners = listeners_;
      }
      for (const Listener& l : listeners) fds.push_back({l.fd, POLLIN, 0});
      for (const Open& o : open) fds.push_back({o.fd, POLLIN, 0});
      poll(fds.data(), fds.size(), 5);
      for (size_t i = 0; i < listeners.size(); ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        int fd = accept(listeners[i].fd, reinterpret_cast<sockaddr*>(&from), &length);
        if (fd < 0) continue;
        auto due = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(listeners[i].spec.delayMs);
        open.push_back({fd, listeners[i].spec, inet_ntoa(from.sin_addr), "", due});
      }
      std::erase_if(open, [&](Open& o) { return step(o); });
    }
    for (const Open& o : open) close(o.fd);
  }
  // True when the connection is done with.
  bool step(Open& o) {
    char buffer[512];
    ssize_t got;
    while ((got = recv(o.fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
      o.request.append(buffer, static_cast<size_t>(got));
    }
    if (got == 0 && o.spec.silent) {
      close(o.fd);
      return true;
    }
    bool ready = !o.spec.web || o.request.find("\r\n\r\n") != std::string::npos;
    if (o.spec.silent || !ready || std::chrono::steady_clock::now() < o.due) return false;
    if (o.spec.web) {
      std::lock_guard lock(mutex_);
      requests_.push_back(o.peer + " " + o.request.substr(0, o.request.find("\r\n")));
    }
    send(o.fd, o.spec.answer.data(), o.spec.answer.size(), MSG_NOSIGNAL);
    close(o.fd);
    return true;
  }

  std::mutex mutex_;
  std::vector<Listener> listeners_;
  std::vector<std::string> requests_;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Searches broadcast and registrations reach out: only ever inside our own namespace.
    if (!test::enterPrivateNetwork()) GTEST_SKIP() << "no network namespace of our own";
    ASSERT_TRUE(rt::initNetwork());
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDataRoot(test::binaryDir());
    SetConfigFolder(dir.path() + "/");
    config = Config{};
    ASSERT_TRUE(LoadLanguage(LanguagePath("English")));
  }
  void TearDown() override {
    if (IsSkipped()) return;
    endServerSearches();
    leaveSession();
    finishServerList();
    rt::shutdownNetwork();
    rt::shutdownScreenSystem();
  }

  // The search's results under the lobby lock.
  static SearchResults results() {
    std::lock_guard lock(lobbyLock());
    return searchResults;
  }
  // Serves the host's network (when there is one) until the search has nothing more to ask.
  static void waitForSearch(int timeoutMs = 8000) {
    uint32_t start = rt::milliseconds();
    while (serverSearchRunning() && rt::milliseconds() - start < uint32_t(timeoutMs)) {
      if (session.isHost) pollNetwork();
      rt::delay(5);
    }
  }
  static SearchPlaces places(const std::string& url, int icpPort, int probePort = 9) {
    return {url, icpPort, probePort};
  }

  test::TempDir dir;
  FakeServers servers;
};

TEST_F(SearchTest, InternetSearchListsServersAsTheyAnswerAndADeadOneCostsItsTimeOnly) {
  int port = servers.add({"127.0.0.2", kInfo});
  servers.add({"127.0.0.3", "Bob\tMarket\t2/4\t5\t120\t99", 300}, port);
  servers.add({"127.0.0.4", "", 0, false, true}, port);  // accepts and says nothing
  // 127.0.0.5 refuses.
  int list = servers.add(
      {"127.0.0.1", "HTTP/1.0 200 OK\r\n\r\n127.0.0.4 127.0.0.2 127.0.0.5 127.0.0.3\n", 0, true});
  uint32_t start = rt::milliseconds();
  startServerSearch(kSearchInternet, places("127.0.0.1:" + std::to_string(list) + "/l", port));
  EXPECT_EQ(results().status, Lang("Download ServerList"));

  // The quick servers are listed long before the silent one gives up.
  while (results().rows.size() < 2 && rt::milliseconds() - start < 8000) rt::delay(5);
  uint32_t bothListed = rt::milliseconds() - start;
  SearchResults found = results();
  ASSERT_EQ(found.rows.size(), 2u);
  EXPECT_EQ(found.rows[0].substr(0, kInfo.size() + 1), kInfo + "\t");
  EXPECT_TRUE(found.rows[0].ends_with("ms\t127.0.0.2")) << found.rows[0];
  EXPECT_TRUE(found.rows[1].starts_with("Bob\tMarket\t2/4\t5\t120\t99\t")) << found.rows[1];
  // Half of the 300 ms between the connect and the end of the answer.
  int latency = std::stoi(cell(found.rows[1], 6));
  EXPECT_GE(latency, 150);
  EXPECT_LT(latency, 1000);
  EXPECT_EQ(found.status, Lang("Connect Server") + " (2/3)");
  EXPECT_LT(bothListed, 3000u);

  waitForSearch();
  EXPECT_GE(rt::milliseconds() - start, static_cast<uint32_t>(kQueryTimeoutMs));
  EXPECT_LT(rt::milliseconds() - start, static_cast<uint32_t>(kQueryTimeoutMs + 2000));
  EXPECT_EQ(results().rows.size(), 2u);
  EXPECT_EQ(results().status, Lang("Finish") + " (2 Server)");
}

TEST_F(SearchTest, AStoppedSearchAddsNothingAndAnUnreachableListFinishesEmpty) {
  int port = servers.add({"127.0.0.2", kInfo, 600});
  int list = servers.add({"127.0.0.1", "HTTP/1.0 200 OK\r\n\r\n127.0.0.2", 0, true});
  startServerSearch(kSearchInternet, places("127.0.0.1:" + std::to_string(list) + "/", port));
  for (int i = 0; i < 400 && results().status == Lang("Download ServerList"); ++i) rt::delay(5);
  ASSERT_EQ(results().status, Lang("Connect Server") + " (0/1)");
  stopServerSearch();
  std::string status = results().status;
  rt::delay(1000);
  EXPECT_TRUE(results().rows.empty());
  EXPECT_EQ(results().status, status);

  // Nobody at the list's address: finished with nothing, no message.
  startServerSearch(kSearchInternet, places("127.0.0.1:1/", port));
  waitForSearch();
  EXPECT_EQ(results().status, Lang("Finish") + " (0 Server)");
  EXPECT_TRUE(results().rows.empty());
}

TEST_F(SearchTest, LocalSearchFindsHostsBoundToTheirOwnAddresses) {
  // An empty network keeps the count at nothing of nothing.
  startServerSearch(kSearchLocal, places("", 9, 9));
  waitForSearch();
  EXPECT_EQ(results().status, Lang("Connect Server") + " (0/0)");

  // A real host on 127.0.0.2 beside a fake one on 127.0.0.3 sharing its broadcast socket.
  config.serverName = "Here";
  ASSERT_TRUE(createSession(NetPorts{0, 0, 0, "127.0.0.2"}, "Host", true));
  int icp = servers.add({"127.0.0.3", kInfo});
  rt::Handle other = rt::createServer(rt::kAnyNumber, session.ports.udp, rt::kUdpShared,
                                      "127.255.255.255");
  ASSERT_NE(other, 0u);
  rt::setDatagramFilter(other, [icp](const uint8_t* data, int length, const std::string& from,
                                     uint8_t* answer) {
    return answerProbe(data, length, from, rt::milliseconds(), "127.0.0.3", icp, answer);
  });
  startServerSearch(kSearchLocal, places("", 9, session.ports.udp));
  EXPECT_EQ(results().status, Lang("Examine Local Network"));
  waitForSearch();
  std::vector<std::string> rows = results().rows;
  ASSERT_EQ(rows.size(), 2u) << results().status;
  std::sort(rows.begin(), rows.end());
  EXPECT_TRUE(rows[0].starts_with(kInfo)) << rows[0];
  EXPECT_TRUE(rows[0].ends_with("\t127.0.0.3"));
  EXPECT_TRUE(rows[1].starts_with("Here\t")) << rows[1];
  EXPECT_TRUE(rows[1].ends_with("\t127.0.0.2"));
  EXPECT_EQ(results().status, Lang("Finish") + " (2 Server)");
  rt::closeServer(other);
}

TEST_F(SearchTest, AHostRegistersFromItsAddressAgainAndAgainAndLeavesTheList) {
  FakeServers& web = servers;
  int port = web.add({"127.0.0.1", "HTTP/1.0 200 OK\r\n\r\n", 0, true});
  std::string url = "127.0.0.1:" + std::to_string(port) + "/Projekte/Powderbox/ServerList.php";
  config.internet = 1;
  runOverrides.serverListUrl = url;
  ASSERT_TRUE(createSession(NetPorts{0, 0, 0, "127.0.0.2"}, "Host", true));
  leaveSession();
  runOverrides = RunOverrides{};
  joinServerList(url, "127.0.0.3", 100);
  rt::delay(350);
  leaveServerList();
  finishServerList();
  std::vector<std::string> seen = web.requests();
  ASSERT_GE(seen.size(), 5u);
  const std::string add = "GET /Projekte/Powderbox/ServerList.php?Flag=add HTTP/1.0";
  const std::string del = "GET /Projekte/Powderbox/ServerList.php?Flag=del HTTP/1.0";
  EXPECT_EQ(seen[0], "127.0.0.2 " + add);
  EXPECT_EQ(seen[1], "127.0.0.2 " + del);
  for (size_t i = 2; i + 1 < seen.size(); ++i) EXPECT_EQ(seen[i], "127.0.0.3 " + add);
  EXPECT_EQ(seen.back(), "127.0.0.3 " + del);
}

}  // namespace
