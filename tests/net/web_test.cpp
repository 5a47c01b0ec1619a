#include "net/web.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

// A socket on 127.0.0.1 with a free port; listening or merely bound (which refuses connections).
int loopbackSocket(bool listening, int* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      (listening && listen(fd, 4) != 0)) {
    ADD_FAILURE() << "no loopback socket";
  }
  *port = ntohs(address.sin_port);
  return fd;
}

// A web server for one request: it reads the request up to its blank line, then sends the
// canned answer in pieces of the given size (0: at once) and closes; a silent one waits for the
// client to give up instead.
class CannedServer {
 public:
  explicit CannedServer(std::string answer, size_t piece = 0, bool silent = false)
      : answer_(std::move(answer)), piece_(piece ? piece : answer_.size() + 1) {
    listener_ = loopbackSocket(true, &port_);
    thread_ = std::thread([this, silent] { serve(silent); });
  }
  ~CannedServer() { finish(); }

  std::string authority() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string url() const { return "http://" + authority() + "/"; }
  // What the server saw, once it is done.
  const std::string& request() { return finish(), request_; }
  const std::string& peer() { return finish(), peer_; }

 private:
  void finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }
  bool readable(int fd) {
    for (pollfd p{fd, POLLIN, 0}; !stop_;) {
      if (poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }
  void serve(bool silent) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    int fd = readable(listener_) ? accept(listener_, reinterpret_cast<sockaddr*>(&from), &length)
                                 : -1;
    if (fd < 0) return;
    peer_ = inet_ntoa(from.sin_addr);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char buffer[1024];
    ssize_t n = 1;
    while (request_.find("\r\n\r\n") == std::string::npos && readable(fd) &&
           (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
      request_.append(buffer, static_cast<size_t>(n));
    }
    while (silent && readable(fd) && recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    for (size_t at = 0; !silent && at < answer_.size(); at += piece_) {
      size_t count = std::min(piece_, answer_.size() - at);
      if (send(fd, answer_.data() + at, count, MSG_NOSIGNAL) != static_cast<ssize_t>(count)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
  }

  std::string answer_;
  size_t piece_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ = false;
  std::string request_, peer_;
  std::thread thread_;
};

TEST(WebGet, SendsAPlainRequestAndReturnsTheBody) {
  CannedServer server("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n10.0.0.1\r\n10.0.0.2");
  int error = -1;
  std::string body = webGet(server.url() + "Projekte/list.php?action=list&n=2", 2000, &error);
  EXPECT_EQ(error, kWebOk);
  EXPECT_EQ(body, "10.0.0.1\r\n10.0.0.2");
  EXPECT_EQ(server.request(),
            "GET /Projekte/list.php?action=list&n=2 HTTP/1.0\r\n"
            "Host: " + server.authority() + "\r\n"
            "User-Agent: Powderbox/" POWDERBOX_VERSION "\r\n"
            "Connection: close\r\n\r\n");
}

TEST(WebGet, OnlyTheBodyOfAWholeOkAnswerCounts) {
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP/1.0 200 OK\r\nServer: x\r\n\r\nline one\r\n\r\nline two\r\n",
       "line one\r\n\r\nline two\r\n"},
      {"HTTP/1.0 200 OK\nServer: x\n\nline one\nline two\n", "line one\nline two\n"},
      {"HTTP/1.1 200 OK\r\n\r\n", ""},
      {"HTTP/1.0 200 OK\r\nServer: x\r\nline one\r\n", ""},  // no blank line
      {"HTTP/1.0 404 Not Found\r\n\r\nno such list", ""},
      {"HTTP/1.0 2000 OK\r\n\r\nbody", ""},
      {"line one\r\n\r\nline two", ""},
      {"", ""},
  };
  for (const auto& [answer, body] : cases) {
    // Whole, and in tiny writes that split the blank line and the status line.
    for (size_t piece : {size_t{0}, size_t{3}}) {
      CannedServer server(answer, piece);
      int error = -1;
      EXPECT_EQ(webGet(server.url(), 2000, &error), body) << answer << " in pieces of " << piece;
      EXPECT_EQ(error, kWebOk) << answer;
    }
  }
}

TEST(WebGet, AnOversizedBodyIsCutAndEndsTheRequest) {
  std::string big(kMaxWebBody + 300000, 'x');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = static_cast<char>('a' + i % 26);
  CannedServer server("HTTP/1.0 200 OK\r\n\r\n" + big);
  int error = -1;
  std::string body = webGet(server.url(), 2000, &error);
  EXPECT_EQ(error, kWebOk);
  ASSERT_EQ(body.size(), kMaxWebBody);
  EXPECT_TRUE(body == big.substr(0, kMaxWebBody));
}

TEST(WebGet, FailuresToConnectAndSilentServers) {
  int port = 0;
  int closed = loopbackSocket(false, &port);
  int error = -1;
  EXPECT_EQ(webGet("127.0.0.1:" + std::to_string(port) + "/list", 2000, &error), "");
  EXPECT_EQ(error, kWebCannotConnect);
  close(closed);
  for (const char* url : {"", "https://127.0.0.1/list", "bad host/list"}) {
    error = -1;
    EXPECT_EQ(webGet(url, 2000, &error), "") << url;
    EXPECT_EQ(error, kWebCannotConnect) << url;
  }

  CannedServer silent("", 0, true);
  auto start = std::chrono::steady_clock::now();
  error = -1;
  EXPECT_EQ(webGet(silent.url(), 300, &error), "");
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(error, kWebTimedOut);
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::seconds(10));
}

TEST(WebGet, LeavesFromTheGivenLocalAddress) {
  CannedServer server("HTTP/1.0 200 OK\r\n\r\nok");
  int error = -1;
  EXPECT_EQ(webGet(server.url(), 2000, &error, "127.0.0.2"), "ok");
  EXPECT_EQ(server.peer(), "127.0.0.2");
  // An address this machine does not have (a documentation network) cannot be sent from.
  EXPECT_EQ(webGet(server.url(), 2000, &error, "192.0.2.1"), "");
  EXPECT_EQ(error, kWebCannotConnect);
}

TEST(WebUrl, HostPortAndTarget) {
  WebUrl url;
  ASSERT_TRUE(parseWebUrl("serverlist.example/Projekte/List.php", &url));
  EXPECT_EQ(url.host, "serverlist.example");
  EXPECT_EQ(url.port, 80);
  EXPECT_EQ(url.target, "/Projekte/List.php");
  ASSERT_TRUE(parseWebUrl("HTTP://list.example:8080?a=http://b#top", &url));
  EXPECT_EQ(url.host, "list.example");
  EXPECT_EQ(url.port, 8080);
  EXPECT_EQ(url.target, "/?a=http://b");
  // Nothing in the path may end the request line or start a header line of its own.
  ASSERT_TRUE(parseWebUrl("h/a b\r\nX: y", &url));
  EXPECT_EQ(url.target, "/a%20b%0D%0AX:%20y");
  for (const char* bad :
       {"", "ftp://h/", "h:/x", "h:0/", "h:65536/", "h:8o/", "user@h/", "[::1]/", ":80/"}) {
    EXPECT_FALSE(parseWebUrl(bad, &url)) << bad;
  }
}

}  // namespace
