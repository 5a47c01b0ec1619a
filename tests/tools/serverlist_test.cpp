// The server-list service: the game's requests, expiry and the information checks on a clock the
// tests move, its abuse limits, hostile requests, the status page in a browser, and the database
// across a kill -9 of the real program. Every host and client is a loopback address of its own.

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <regex>
#include <thread>

#include "support/process_support.h"
#include "support/test_support.h"
#include "tools/serverlist/service.h"

namespace {

using namespace serverlist;
using Steady = std::chrono::steady_clock;

const std::string kPath = kDefaultPath;

sockaddr_in loopback(const std::string& address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  return a;
}

// A game host's information port: answers its text to every connection and closes.
class InfoHost {
 public:
  InfoHost(const std::string& address, int port, const std::string& text) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = loopback(address, port);
    socklen_t size = sizeof a;
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), size), 0) << address;
    listen(fd_, 16);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, text] {
      while (running_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) continue;
        (void)!write(c, text.data(), text.size());
        close(c);
      }
    });
  }
  ~InfoHost() {
    running_ = false;
    thread_.join();
    close(fd_);
  }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

struct Answer {
  int status = 0;  // 0: closed without an HTTP answer
  std::string body;
  bool closed = false;  // the service closed the connection before the time-out
  size_t sent = 0;      // of the request, before the service stopped taking it
};

// Sends the bytes from a loopback address and reads until the service closes.
Answer roundTrip(int port, const std::string& bytes, const std::string& from = "127.0.0.1",
                int timeoutMs = 3000) {
  Answer answer;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in source = loopback(from, 0);
  sockaddr_in target = loopback("127.0.0.1", port);
  timeval sendLimit{3, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
  if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    close(fd);
    return answer;
  }
  while (answer.sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + answer.sent, bytes.size() - answer.sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the service stopped reading: what it answered is still there
    answer.sent += static_cast<size_t>(n);
  }
  std::string response;
  auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
  while (Steady::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buffer[4096];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      answer.closed = true;
      break;
    }
    response.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  size_t end = response.find("\r\n\r\n");
  if (response.rfind("HTTP/1.", 0) == 0 && end != std::string::npos) {
    answer.status = std::stoi(response.substr(9, 3));
    answer.body = response.substr(end + 4);
  }
  return answer;
}

// A request as the game makes it.
Answer get(int port, const std::string& target, const std::string& from = "127.0.0.1",
           const std::string& headers = "") {
  return roundTrip(port, "GET " + target + " HTTP/1.0\r\nHost: list\r\n" + headers +
                            "Connection: close\r\n\r\n", from);
}

class ServerListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.bind = "127.0.0.1";
    options.port = 0;
    options.db = dir.file("list.db");
    options.checkTimeoutMs = 500;
  }

  // All hosts answer on one port, each on its own address.
  void host(const std::string& address, const std::string& text) {
    hosts[address] = std::make_unique<InfoHost>(address, infoPort, text);
    infoPort = hosts[address]->port();
  }

  void start() {
    service.reset();
    prober = std::make_unique<TcpProber>(infoPort, options.checkTimeoutMs);
    service = std::make_unique<Service>(options, clock, *prober);
    std::string error;
    ASSERT_TRUE(service->start(&error, false)) << error;
  }

  Answer flag(const std::string& from, const std::string& what) {
    return get(service->port(), kPath + "?Flag=" + what, from);
  }
  std::string list() { return get(service->port(), kPath).body; }
  void later(int seconds) {
    clock.advance(seconds);
    service->tick();
  }

  test::TempDir dir;
  ManualClock clock;
  Options options;
  int infoPort = 0;
  std::map<std::string, std::unique_ptr<InfoHost>> hosts;
  std::unique_ptr<TcpProber> prober;
  std::unique_ptr<Service> service;
};

const std::string kAlice = "Alice's Arena\tArena\t3/8\t5\t300\t3735928559";
const std::string kBob = "Bob\tMarket\t1/4\t3\t180\t42";

TEST_F(ServerListTest, GameRequestsAddListRemoveAndSurviveARestart) {
  host("127.0.0.2", kAlice);
  host("127.0.0.3", kBob);
  start();
  Answer added = flag("127.0.0.2", "add");
  EXPECT_EQ(added.status, 200);
  EXPECT_EQ(added.body, "");
  EXPECT_TRUE(added.closed) << "an HTTP/1.0 answer ends where the connection does";
  EXPECT_EQ(list(), "") << "listed only once its information port answered";
  service->tick();
  EXPECT_EQ(list(), "127.0.0.2");
  EXPECT_EQ(flag("127.0.0.3", "add").status, 200);
  service->tick();
  EXPECT_EQ(list(), "127.0.0.2 127.0.0.3");

  EXPECT_EQ(flag("127.0.0.2", "del").status, 200);
  EXPECT_EQ(list(), "127.0.0.3");
  clock.advance(1);
  EXPECT_EQ(flag("127.0.0.2", "add").status, 200);
  service->tick();
  EXPECT_EQ(list(), "127.0.0.3 127.0.0.2") << "oldest registration first";

  start();  // the same database file
  EXPECT_EQ(list(), "127.0.0.3 127.0.0.2");
}

TEST_F(ServerListTest, RegistrationsExpireUnlessRenewed) {
  host("127.0.0.2", kAlice);
  host("127.0.0.3", kBob);
  start();
  flag("127.0.0.2", "add");
  flag("127.0.0.3", "add");
  service->tick();
  later(500);
  flag("127.0.0.3", "add");  // the game renews every few minutes
  later(99);
  EXPECT_EQ(list(), "127.0.0.2 127.0.0.3");
  later(1);
  EXPECT_EQ(list(), "127.0.0.3");
  EXPECT_EQ(service->registry().size(), 1u);
  later(500);
  EXPECT_EQ(list(), "");
  EXPECT_EQ(service->registry().size(), 0u);
}

TEST_F(ServerListTest, ChecksListOnlyHostsThatAnswerTheirSixFields) {
  host("127.0.0.2", kAlice);
  host("127.0.0.3", kBob);
  host("127.0.0.4", "hello\n");
  host("127.0.0.5", std::string(2000, 'x'));
  host("127.0.0.6", "A\tB\t1/2\t3\t4");  // five fields
  start();
  for (const char* from : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6",
                           "127.0.0.7"}) {
    EXPECT_EQ(flag(from, "add").status, 200);
  }
  service->tick();
  EXPECT_EQ(list(), "127.0.0.2 127.0.0.3");
  std::string json = get(service->port(), "/servers.json").body;
  EXPECT_NE(json.find("\"address\":\"127.0.0.2\",\"name\":\"Alice's Arena\",\"map\":\"Arena\","
                      "\"players\":3,\"player_limit\":8,\"rounds\":5,\"round_time\":300,"
                      "\"map_crc\":3735928559,\"latency_ms\":"),
            std::string::npos)
      << json;

  hosts.erase("127.0.0.3");
  later(options.checkSeconds);
  EXPECT_EQ(list(), "127.0.0.2 127.0.0.3") << "one missed check is forgiven";
  later(options.checkSeconds);
  EXPECT_EQ(list(), "127.0.0.2");

  host("127.0.0.3", kBob);
  flag("127.0.0.3", "add");
  service->tick();  // no round is due: a returning host is checked at once
  EXPECT_EQ(list(), "127.0.0.2 127.0.0.3");
}

TEST_F(ServerListTest, LimitsRegistrationRateAndEntriesPerNetworkAndInAll) {
  options.ratePerMinute = 3;
  options.maxPerNetwork = 2;
  options.maxEntries = 3;
  start();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(flag("127.0.0.2", "add").status, 200);
  Answer refused = flag("127.0.0.2", "add");
  EXPECT_EQ(refused.status, 429);
  EXPECT_LT(refused.body.size(), 100u);
  EXPECT_EQ(flag("127.0.0.2", "del").status, 429) << "removals count too";
  clock.advance(20);
  EXPECT_EQ(flag("127.0.0.2", "add").status, 200);
  EXPECT_EQ(flag("127.0.0.2", "add").status, 429);

  EXPECT_EQ(flag("127.0.0.3", "add").status, 200);
  EXPECT_EQ(flag("127.0.0.4", "add").status, 403) << "a third from one /24";
  EXPECT_EQ(flag("127.0.1.2", "add").status, 200);
  EXPECT_EQ(flag("127.0.2.2", "add").status, 503) << "the fourth in all";
  EXPECT_EQ(flag("127.0.0.3", "del").status, 200);
  EXPECT_EQ(flag("127.0.2.2", "add").status, 200);
}

TEST_F(ServerListTest, HostileRequestsAreAnsweredOrDroppedWithoutHarm) {
  options.proxies = {"127.0.0.1"};
  options.readTimeoutSeconds = 1;
  options.maxConnectionsPerAddress = 2;
  start();
  int port = service->port();
  for (const char* bad : {"?Flag=ADD", "?Flag=add&Flag=del", "?Flag=", "?Flag=add%27%3B%20DROP"
                          "%20TABLE%20servers%3B--"}) {
    Answer a = get(port, kPath + bad, "127.0.0.9");
    EXPECT_EQ(a.status, 400) << bad;
    EXPECT_LT(a.body.size(), 100u);
  }
  EXPECT_EQ(roundTrip(port, "POST " + kPath + "?Flag=add HTTP/1.0\r\nContent-Length: 1\r\n\r\nx")
                .status, 405);
  EXPECT_EQ(roundTrip(port, "HEAD " + kPath + "?Flag=add HTTP/1.0\r\n\r\n").status, 405);

  // X-Forwarded-For counts from the trusted proxy only, and only when it holds addresses.
  EXPECT_EQ(get(port, kPath + "?Flag=add", "127.0.0.1",
                "X-Forwarded-For: 127.0.4.4, 127.0.0.1\r\n").status, 200);
  EXPECT_EQ(get(port, kPath + "?Flag=add", "127.0.0.9", "X-Forwarded-For: 127.0.4.5\r\n").status,
            200);
  EXPECT_EQ(get(port, kPath + "?Flag=add", "127.0.0.1",
                "X-Forwarded-For: 127.0.4.6'); DROP TABLE servers;--\r\n").status, 400);
  EXPECT_EQ(service->registry().addresses(false),
            (std::vector<std::string>{"127.0.0.9", "127.0.4.4"}));

  // Far more than a request may hold: answered or cut off, never read to the end.
  for (const std::string& flood :
       {"GET / HTTP/1.0\r\nX-Big: " + std::string(32 << 20, 'a') + "\r\n\r\n",
        "GET / HTTP/1.0\r\n" + [] {
          std::string many;
          for (int i = 0; i < 5000; ++i) many += "X-" + std::to_string(i) + ": a\r\n";
          return many;
        }() + "\r\n",
        std::string("\0\xff\xfe\r\n\r\n\r\n", 8), "GET /" + std::string(20000, 'a') + "\r\n\r\n"}) {
    Answer a = roundTrip(port, flood);
    EXPECT_TRUE(a.closed);
    EXPECT_NE(a.status, 200);
    EXPECT_LT(a.sent, 16u << 20) << "only the socket buffers took more";
  }

  // Clients that send nothing hold a connection for the read time-out, and no more than two
  // of them per address; everybody else is served meanwhile.
  auto idle = [&](const std::string& from) {
    return std::async(std::launch::async, [=] { return roundTrip(port, "", from, 4000); });
  };
  auto started = Steady::now();
  auto first = idle("127.0.0.8");
  auto second = idle("127.0.0.8");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Answer third = roundTrip(port, "", "127.0.0.8", 4000);
  EXPECT_TRUE(third.closed);
  EXPECT_LT(Steady::now() - started, std::chrono::milliseconds(800)) << "turned away at once";
  EXPECT_EQ(get(port, kPath).body, "");
  EXPECT_TRUE(first.get().closed);
  EXPECT_TRUE(second.get().closed);
  EXPECT_LT(Steady::now() - started, std::chrono::milliseconds(2500));
}

TEST_F(ServerListTest, StatusPagesConvertAndEscapeHostTexts) {
  host("127.0.0.2", "<script>alert(1)</script> & \"Q\\ B\xe4r \x80\tA<b>\t2/8\t1\t65\t7");
  start();
  flag("127.0.0.2", "add");
  service->tick();
  std::string page = get(service->port(), "/").body;
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;Q\\ B\u00e4r \u20ac"),
            std::string::npos)
      << page;
  for (const char* part : {"name=\"viewport\"", "http-equiv=\"refresh\" content=\"30\"",
                           "2 / 8", "1:05", "A&lt;b&gt;"}) {
    EXPECT_NE(page.find(part), std::string::npos) << part;
  }
  std::string json = get(service->port(), "/servers.json").body;
  EXPECT_NE(json.find("\"name\":\"\\u003cscript\\u003ealert(1)\\u003c/script\\u003e \\u0026 "
                      "\\\"Q\\\\ B\u00e4r \u20ac\""),
            std::string::npos)
      << json;
}

std::string chromium() {
  std::string path;
  return test::runCommand("command -v chromium", &path) == 0 ? "chromium" : "";
}

std::string unescape(std::string text) {
  for (auto [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""},
                          {"&#39;", "'"}, {"&amp;", "&"}}) {
    for (size_t at; (at = text.find(from)) != std::string::npos;) {
      text.replace(at, strlen(from), to);
    }
  }
  return text;
}

TEST_F(ServerListTest, StatusPageRendersInABrowser) {
  if (chromium().empty()) GTEST_SKIP() << "chromium is not installed";
  host("127.0.0.2", kAlice);
  host("127.0.0.3", "B\xe4rbel's <Box>\tMarket\t1/4\t3\t180\t42");
  start();
  flag("127.0.0.2", "add");
  flag("127.0.0.3", "add");
  service->tick();
  test::TempDir profile;
  std::string dom;
  std::string command = "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic"
                        " --no-first-run --disable-background-networking --disable-component-update"
                        " --disable-sync --user-data-dir=" + profile.path() +
                        " --dump-dom http://127.0.0.1:" + std::to_string(service->port()) +
                        "/ 2>/dev/null";
  ASSERT_EQ(test::runCommand(command, &dom), 0);
  std::vector<std::vector<std::string>> rows;
  std::regex row("<tr>(.*?)</tr>"), cell("<td[^>]*>(.*?)</td>");
  for (std::sregex_iterator r(dom.begin(), dom.end(), row), end; r != end; ++r) {
    std::string cells = (*r)[1];
    std::vector<std::string> texts;
    for (std::sregex_iterator c(cells.begin(), cells.end(), cell); c != end; ++c) {
      texts.push_back(unescape((*c)[1]));
    }
    if (!texts.empty()) rows.push_back(texts);
  }
  ASSERT_EQ(rows.size(), 2u) << dom;
  std::string since = rows[0][6];
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Alice's Arena", "Arena", "3 / 8", "5", "5:00",
                                               "<1 ms", since}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"B\u00e4rbel's <Box>", "Market", "1 / 4", "3",
                                               "3:00", "<1 ms", since}));
  EXPECT_TRUE(std::regex_match(since, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d UTC)"))) << since;
}

// The real program, killed while it writes, then started again on the same file.
TEST(ServerListProgram, DatabaseSurvivesAKillDuringWrites) {
  test::TempDir dir;
  std::string program = test::binaryDir() + "/tools/serverlist/powderbox-serverlist";
  std::vector<std::string> args = {program, "--bind", "127.0.0.1", "--port", "0", "--db",
                                   dir.file("list.db"), "--proxy", "127.0.0.1", "--rate", "100000",
                                   "--max-per-network", "100000", "--max-entries", "100000",
                                   "--info-port", "1", "--check-timeout", "100"};
  auto run = [&](const std::string& name, int* port) {
    test::Child child = test::spawn(dir, name, args, {{"ASAN_OPTIONS", "detect_leaks=0"}});
    EXPECT_TRUE(test::waitForText(child.errors, "LISTEN", 10000));
    std::smatch m;
    std::string log = test::readFile(child.errors);
    if (std::regex_search(log, m, std::regex("LISTEN 127\\.0\\.0\\.1:(\\d+)"))) {
      *port = std::stoi(m[1]);
    }
    return child;
  };
  int port = 0;
  test::Child first = run("first", &port);
  ASSERT_GT(port, 0);
  std::atomic<int> acknowledged{0};
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    for (int i = 0; writing && i < 60000; ++i) {
      std::string forwarded =
          "127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
      if (get(port, kPath + "?Flag=add", "127.0.0.1", "X-Forwarded-For: " + forwarded + "\r\n")
              .status == 200) {
        ++acknowledged;
      }
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  kill(first.pid, SIGKILL);
  writing = false;
  writer.join();
  std::vector<test::Child> children{first};
  test::waitAll(children, 5000);
  ASSERT_GT(acknowledged, 50);

  test::Child second = run("second", &port);
  std::smatch m;
  std::string log = test::readFile(second.errors);
  ASSERT_TRUE(std::regex_search(log, m, std::regex("DATABASE .*: (\\d+) registrations"))) << log;
  EXPECT_GE(std::stoi(m[1]), acknowledged.load()) << "every acknowledged registration is kept";
  EXPECT_EQ(get(port, kPath).status, 200);
  EXPECT_EQ(get(port, kPath + "?Flag=del").status, 200);
  kill(second.pid, SIGTERM);
  children = {second};
  EXPECT_TRUE(test::waitAll(children, 10000));
  EXPECT_EQ(test::exitCode(children[0]), 0);

  std::string output;
  EXPECT_EQ(test::runCommand(program + " --help", &output), 0);
  EXPECT_NE(output.find("--check-interval"), std::string::npos);
  EXPECT_NE(test::runCommand(program + " --expire soon 2>/dev/null"), 0);
}

}  // namespace
