#include "runtime/network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/clock.h"

namespace {

class Network : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rt::initNetwork()); }
  void TearDown() override { rt::shutdownNetwork(); }
};

// Polls until an event arrives; the test's own time-out guards against a hang.
int waitServerEvent(rt::ServerEvent* event) {
  for (int i = 0; i < 2000; ++i) {
    int type = rt::pollServers(event);
    if (type != rt::kNetNone) return type;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return rt::kNetNone;
}

bool waitConnectionData(rt::Handle connection) {
  for (int i = 0; i < 2000; ++i) {
    if (rt::pollConnection(connection) == rt::kNetData) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// A plain socket bound to a loopback address (port 0: any free one), playing a program that is
// not the game. Reports the bound port.
int loopbackSocket(int type, const std::string& address, int* port = nullptr) {
  int fd = socket(AF_INET, type, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, address.c_str(), &local.sin_addr);
  socklen_t length = sizeof local;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    close(fd);
    return -1;
  }
  if (port) *port = ntohs(local.sin_port);
  return fd;
}

void sendTo(int fd, int port, const std::string& bytes) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

// Reads a datagram of `size` bytes in pieces of at most `piece` bytes; stops at the first piece
// that is not as long as it should be.
std::string readPieces(rt::Handle connection, size_t size, int piece) {
  std::string got;
  std::vector<char> buffer(piece);
  while (got.size() < size) {
    int n = rt::receiveBytes(connection, buffer.data(), piece);
    if (n != std::min<int>(piece, static_cast<int>(size - got.size()))) break;
    got.append(buffer.data(), n);
  }
  return got;
}

struct TcpPair {
  rt::Handle server = 0;
  rt::Handle client = 0;    // made by openConnection
  rt::Handle accepted = 0;  // the server's side
};

TcpPair connectPair() {
  TcpPair pair;
  pair.server = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  if (!pair.server) return pair;
  pair.client = rt::openConnection(rt::kAnyNumber, "127.0.0.1", rt::serverPort(pair.server),
                                   rt::kTcp);
  rt::ServerEvent event;
  if (waitServerEvent(&event) == rt::kNetConnected) pair.accepted = event.connection;
  return pair;
}

TEST_F(Network, TcpConnectDataAndClose) {
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  ASSERT_NE(server, 0u);
  int port = rt::serverPort(server);
  ASSERT_GT(port, 0);
  rt::Handle client = rt::openConnection(rt::kAnyNumber, "localhost", port, rt::kTcp);
  ASSERT_NE(client, 0u);
  EXPECT_EQ(rt::connectionAddress(client), "127.0.0.1");
  EXPECT_EQ(rt::connectionPort(client), port);

  rt::ServerEvent event;
  ASSERT_EQ(waitServerEvent(&event), rt::kNetConnected);
  EXPECT_EQ(event.server, server);
  rt::Handle accepted = event.connection;
  EXPECT_TRUE(rt::isHandle(accepted));
  EXPECT_EQ(rt::connectionAddress(accepted), "127.0.0.1");
  EXPECT_GT(rt::connectionPort(accepted), 0);
  EXPECT_EQ(rt::pollServers(&event), rt::kNetNone);

  ASSERT_EQ(rt::sendBytes(client, "hello", 5), 5);
  ASSERT_EQ(waitServerEvent(&event), rt::kNetData);
  EXPECT_EQ(event.connection, accepted);
  // Level-triggered: unread data is reported again.
  EXPECT_EQ(rt::pollServers(&event), rt::kNetData);
  char text[16] = {};
  EXPECT_EQ(rt::receiveBytes(accepted, text, sizeof text), 5);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(rt::receiveBytes(accepted, text, sizeof text), 0);

  ASSERT_EQ(rt::sendBytes(accepted, "back", 4), 4);
  ASSERT_TRUE(waitConnectionData(client));
  EXPECT_EQ(rt::receiveBytes(client, text, sizeof text), 4);

  // Data sent just before closing is still delivered before the disconnect.
  ASSERT_EQ(rt::sendBytes(client, "bye", 3), 3);
  rt::closeConnection(client);
  ASSERT_EQ(waitServerEvent(&event), rt::kNetData);
  EXPECT_EQ(rt::receiveBytes(accepted, text, sizeof text), 3);
  ASSERT_EQ(waitServerEvent(&event), rt::kNetDisconnected);
  EXPECT_EQ(event.server, server);
  EXPECT_EQ(event.connection, accepted);
  EXPECT_FALSE(rt::connectionExists(accepted));
  EXPECT_EQ(rt::pollServers(&event), rt::kNetNone);
}

TEST_F(Network, BusyConnectionDoesNotStarveOthers) {
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  ASSERT_NE(server, 0u);
  std::vector<rt::Handle> clients, accepted;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(rt::openConnection(rt::kAnyNumber, "127.0.0.1", rt::serverPort(server),
                                         rt::kTcp));
    rt::ServerEvent event;
    ASSERT_EQ(waitServerEvent(&event), rt::kNetConnected);
    accepted.push_back(event.connection);
  }
  for (rt::Handle c : clients) ASSERT_EQ(rt::sendBytes(c, "x", 1), 1);
  // Nobody reads: every connection must still come up within a few polls.
  std::set<rt::Handle> reported;
  for (int i = 0; i < 200 && reported.size() < 3; ++i) {
    rt::ServerEvent event;
    if (rt::pollServers(&event) == rt::kNetData) reported.insert(event.connection);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(reported, std::set<rt::Handle>(accepted.begin(), accepted.end()));
}

TEST_F(Network, LargeSendNeverBlocks) {
  TcpPair pair = connectPair();
  ASSERT_NE(pair.accepted, 0u);
  std::vector<char> message(32 << 20);
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>(i * 7 + i / 4096);
  int length = static_cast<int>(message.size());

  int first = rt::sendBytes(pair.client, message.data(), length);
  ASSERT_GE(first, 0);
  EXPECT_LT(first, length);  // more than the socket buffers hold at once
  std::vector<char> received;
  std::vector<char> chunk(1 << 16);
  int sent = first;
  while (received.size() < message.size()) {
    if (sent < length) {
      int n = rt::sendBytes(pair.client, message.data() + sent, length - sent);
      ASSERT_GE(n, 0);
      ASSERT_LE(n, length - sent);
      sent += n;
    }
    int got = rt::receiveBytes(pair.accepted, chunk.data(), static_cast<int>(chunk.size()));
    ASSERT_GE(got, 0);
    received.insert(received.end(), chunk.begin(), chunk.begin() + got);
  }
  EXPECT_EQ(sent, length);
  EXPECT_TRUE(received == message);
}

TEST_F(Network, UdpDatagramReadInParts) {
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kUdp, "127.0.0.1");
  ASSERT_NE(server, 0u);
  rt::Handle link = rt::openConnection(rt::kAnyNumber, "127.0.0.1", rt::serverPort(server),
                                       rt::kUdp);
  ASSERT_NE(link, 0u);
  std::string datagram(1500, '\0');
  for (size_t i = 0; i < datagram.size(); ++i) datagram[i] = static_cast<char>(i % 251);
  ASSERT_EQ(rt::sendBytes(link, datagram.data(), 1500), 1500);
  ASSERT_EQ(rt::sendBytes(link, "next", 4), 4);

  rt::ServerEvent event;
  ASSERT_EQ(waitServerEvent(&event), rt::kNetData);
  rt::Handle peer = event.connection;
  EXPECT_EQ(event.server, server);
  EXPECT_EQ(readPieces(peer, datagram.size(), 100), datagram);
  // The next datagram stays separate even though the buffer has room for more.
  char buffer[100];
  EXPECT_EQ(rt::receiveBytes(peer, buffer, sizeof buffer), 4);
  EXPECT_EQ(rt::receiveBytes(peer, buffer, sizeof buffer), 0);

  // The same on the link's side.
  ASSERT_EQ(rt::sendBytes(peer, datagram.data(), 1500), 1500);
  ASSERT_TRUE(waitConnectionData(link));
  EXPECT_EQ(readPieces(link, datagram.size(), 100), datagram);
  EXPECT_EQ(rt::pollConnection(link), rt::kNetNone);
}

TEST_F(Network, UdpSendersBecomeSeparatePeers) {
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kUdp, "127.0.0.1");
  ASSERT_NE(server, 0u);
  int port = rt::serverPort(server);
  rt::Handle a = rt::openConnection(rt::kAnyNumber, "127.0.0.1", port, rt::kUdp);
  rt::Handle b = rt::openConnection(rt::kAnyNumber, "localhost", port, rt::kUdp);
  ASSERT_TRUE(a && b);
  ASSERT_EQ(rt::sendBytes(a, "A1", 2), 2);
  ASSERT_EQ(rt::sendBytes(b, "B1", 2), 2);
  ASSERT_EQ(rt::sendBytes(a, "A2", 2), 2);

  std::vector<std::pair<rt::Handle, std::string>> seen;
  rt::ServerEvent event;
  while (seen.size() < 3 && waitServerEvent(&event) == rt::kNetData) {
    char text[8];
    int n = rt::receiveBytes(event.connection, text, sizeof text);
    ASSERT_GT(n, 0);
    seen.emplace_back(event.connection, std::string(text, n));
  }
  ASSERT_EQ(seen.size(), 3u);
  rt::Handle peerA = 0, peerB = 0;
  for (auto& [peer, text] : seen) (text[0] == 'A' ? peerA : peerB) = peer;
  for (auto& [peer, text] : seen) EXPECT_EQ(peer, text[0] == 'A' ? peerA : peerB);
  EXPECT_NE(peerA, peerB);
  EXPECT_EQ(rt::connectionAddress(peerA), "127.0.0.1");
  EXPECT_NE(rt::connectionPort(peerA), rt::connectionPort(peerB));

  ASSERT_EQ(rt::sendBytes(peerB, "toB", 3), 3);
  ASSERT_EQ(rt::sendBytes(peerA, "toA", 3), 3);
  char text[8];
  ASSERT_TRUE(waitConnectionData(a));
  ASSERT_EQ(rt::receiveBytes(a, text, sizeof text), 3);
  EXPECT_EQ(std::string(text, 3), "toA");
  ASSERT_TRUE(waitConnectionData(b));
  ASSERT_EQ(rt::receiveBytes(b, text, sizeof text), 3);
  EXPECT_EQ(std::string(text, 3), "toB");

  rt::closeServer(server);
  EXPECT_FALSE(rt::connectionExists(peerA));
  EXPECT_FALSE(rt::connectionExists(peerB));
  EXPECT_TRUE(rt::connectionExists(a));
}

// A full table lets the peer heard from longest ago go: the table never grows past its cap, and
// a new sender always gets in.
TEST_F(Network, UdpPeerTableMakesRoomForNewSenders) {
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kUdp, "127.0.0.1");
  ASSERT_NE(server, 0u);
  int port = rt::serverPort(server);
  // Distinct source addresses in 127/8, so a reused ephemeral port cannot merge two senders.
  auto senderAddress = [](int i) {
    return "127.0." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
  };
  std::vector<rt::Handle> peers;
  auto drain = [&] {
    rt::ServerEvent event;
    char buffer[16];
    while (rt::pollServers(&event) == rt::kNetData) {
      peers.push_back(event.connection);
      while (rt::receiveBytes(event.connection, buffer, sizeof buffer) > 0) {}
    }
  };
  constexpr int kSenders = 1100;
  for (int i = 0; i < kSenders; ++i) {
    int fd = loopbackSocket(SOCK_DGRAM, senderAddress(i));
    ASSERT_GE(fd, 0) << senderAddress(i);
    sendTo(fd, port, "p");
    close(fd);
    if (i % 50 == 49) drain();
  }
  drain();
  ASSERT_EQ(peers.size(), static_cast<size_t>(kSenders));
  size_t alive = std::count_if(peers.begin(), peers.end(), rt::connectionExists);
  EXPECT_EQ(alive, 1024u);
  // The first senders went, the last ones stay.
  EXPECT_FALSE(rt::connectionExists(peers.front()));
  EXPECT_TRUE(rt::connectionExists(peers.back()));
  EXPECT_EQ(rt::connectionAddress(peers.back()), senderAddress(kSenders - 1));
}

// A loop that sleeps on its connections wakes for bytes that arrive during the sleep, for a
// datagram already taken off the socket, and otherwise at the deadline.
TEST_F(Network, WaitForDataWakesOnArrivalOrAtTheDeadline) {
  TcpPair pair = connectPair();
  ASSERT_TRUE(pair.client && pair.accepted);
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kUdp, "127.0.0.1");
  rt::Handle link = rt::openConnection(rt::kAnyNumber, "127.0.0.1", rt::serverPort(server),
                                       rt::kUdp);
  ASSERT_TRUE(server && link);
  const uint32_t watched[] = {pair.client, link, 0xDEAD0001u};
  auto soon = [] { return rt::microseconds() + 20000; };
  EXPECT_FALSE(rt::waitForData(watched, 3, soon()));

  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    rt::sendBytes(pair.accepted, "x", 1);
  });
  EXPECT_TRUE(rt::waitForData(watched, 3, rt::microseconds() + 10000000));
  sender.join();
  char byte;
  EXPECT_EQ(rt::receiveBytes(pair.client, &byte, 1), 1);
  EXPECT_FALSE(rt::waitForData(watched, 3, soon()));

  // A datagram the poll has read waits in the link, no longer on its socket.
  ASSERT_EQ(rt::sendBytes(link, "hi", 2), 2);
  rt::ServerEvent event;
  ASSERT_EQ(waitServerEvent(&event), rt::kNetData);
  ASSERT_EQ(rt::sendBytes(event.connection, "back", 4), 4);
  ASSERT_TRUE(waitConnectionData(link));
  EXPECT_TRUE(rt::waitForData(watched, 3, soon()));
}

TEST_F(Network, ConnectToClosedPortFails) {
  int port = 0;
  close(loopbackSocket(SOCK_STREAM, "127.0.0.1", &port));
  EXPECT_EQ(rt::openConnection(rt::kAnyNumber, "127.0.0.1", port, rt::kTcp), 0u);
  EXPECT_EQ(rt::openConnection(rt::kAnyNumber, "127.0.0.1", 0, rt::kTcp), 0u);
  EXPECT_EQ(rt::openConnection(rt::kAnyNumber, "127.0.0.1", 70000, rt::kUdp), 0u);
}

TEST_F(Network, ConnectGivesUpWhenNobodyAnswers) {
  // A listener that never accepts, with the smallest backlog: once its queue is full the
  // system drops further handshakes, so the connect can only end by the time-out.
  int port = 0;
  int fd = loopbackSocket(SOCK_STREAM, "127.0.0.1", &port);
  ASSERT_EQ(listen(fd, 0), 0);
  bool failed = false;
  std::vector<rt::Handle> opened;
  for (int i = 0; i < 16 && !failed; ++i) {
    rt::Handle c = rt::openConnection(rt::kAnyNumber, "127.0.0.1", port, rt::kTcp, 200);
    if (c) opened.push_back(c);
    failed = c == 0;
  }
  EXPECT_TRUE(failed);
  for (rt::Handle c : opened) rt::closeConnection(c);
  close(fd);
}

TEST_F(Network, PortTakenOrInvalidFails) {
  rt::Handle tcp = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  rt::Handle udp = rt::createServer(rt::kAnyNumber, 0, rt::kUdp, "127.0.0.1");
  ASSERT_TRUE(tcp && udp);
  EXPECT_EQ(rt::createServer(rt::kAnyNumber, rt::serverPort(tcp), rt::kTcp, "127.0.0.1"), 0u);
  EXPECT_EQ(rt::createServer(rt::kAnyNumber, rt::serverPort(udp), rt::kUdp, "127.0.0.1"), 0u);
  EXPECT_EQ(rt::createServer(rt::kAnyNumber, 65536, rt::kTcp), 0u);
  EXPECT_EQ(rt::createServer(rt::kAnyNumber, 0, 4), 0u);
}

TEST_F(Network, NumberedServerReplacedWithItsConnections) {
  rt::Handle first = rt::createServer(7, 0, rt::kTcp, "127.0.0.1");
  ASSERT_NE(first, 0u);
  rt::Handle client = rt::openConnection(3, "127.0.0.1", rt::serverPort(7), rt::kTcp);
  ASSERT_NE(client, 0u);
  rt::ServerEvent event;
  ASSERT_EQ(waitServerEvent(&event), rt::kNetConnected);

  rt::Handle second = rt::createServer(7, 0, rt::kUdp, "127.0.0.1");
  EXPECT_NE(second, first);
  EXPECT_EQ(rt::serverPort(first), 0);
  EXPECT_FALSE(rt::connectionExists(event.connection));
  // The client, addressed by its number, sees the close.
  ASSERT_TRUE(waitConnectionData(3));
  char byte;
  EXPECT_EQ(rt::receiveBytes(3, &byte, 1), -1);
}

TEST_F(Network, HandlesAreNeverReused) {
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  ASSERT_NE(server, 0u);
  std::set<rt::Handle> handles{server};
  for (int i = 0; i < 20; ++i) {
    rt::Handle client = rt::openConnection(i % 2 ? 5 : rt::kAnyNumber, "127.0.0.1",
                                           rt::serverPort(server), rt::kTcp);
    rt::ServerEvent event;
    ASSERT_EQ(waitServerEvent(&event), rt::kNetConnected);
    EXPECT_TRUE(rt::isHandle(client));
    EXPECT_TRUE(handles.insert(client).second);
    EXPECT_TRUE(handles.insert(event.connection).second);
    rt::closeConnection(client);
    ASSERT_EQ(waitServerEvent(&event), rt::kNetDisconnected);
  }
}

TEST_F(Network, MissingConnectionsDoNothing) {
  TcpPair pair = connectPair();
  ASSERT_NE(pair.accepted, 0u);
  rt::closeConnection(pair.accepted);
  rt::closeConnection(pair.accepted);
  for (rt::Handle gone : {pair.accepted, rt::Handle{0}, rt::Handle{12}, rt::Handle{0xFFFF0000}}) {
    char byte = 0;
    EXPECT_FALSE(rt::connectionExists(gone));
    EXPECT_EQ(rt::sendBytes(gone, "x", 1), -1);
    EXPECT_EQ(rt::receiveBytes(gone, &byte, 1), -1);
    EXPECT_EQ(rt::pollConnection(gone), rt::kNetNone);
    EXPECT_EQ(rt::connectionAddress(gone), "");
    EXPECT_EQ(rt::connectionPort(gone), 0);
    rt::closeServer(gone);
    EXPECT_EQ(rt::serverPort(gone), 0);
  }
  // The server forgot the closed connection.
  rt::ServerEvent event;
  EXPECT_EQ(rt::pollServers(&event), rt::kNetNone);
}

// The server search queries info ports from threads of its own while the frame loop polls.
TEST_F(Network, QueriesFromOtherThreads) {
  rt::Handle server = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  ASSERT_NE(server, 0u);
  int port = rt::serverPort(server);
  constexpr int kQueries = 8;
  std::vector<std::string> answers(kQueries);
  std::vector<std::thread> threads;
  for (int i = 0; i < kQueries; ++i) {
    threads.emplace_back([&, i] {
      rt::Handle c = rt::openConnection(rt::kAnyNumber, "127.0.0.1", port, rt::kTcp);
      if (!c) return;
      char buffer[64];
      for (int tries = 0; tries < 5000; ++tries) {
        int n = rt::receiveBytes(c, buffer, sizeof buffer);
        if (n < 0) break;
        answers[i].append(buffer, n);
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      rt::closeConnection(c);
    });
  }
  int served = 0;
  for (int i = 0; i < 5000 && served < kQueries; ++i) {
    rt::ServerEvent event;
    int type = rt::pollServers(&event);
    if (type == rt::kNetConnected) {
      rt::sendBytes(event.connection, "name\tmap", 8);
      rt::closeConnection(event.connection);
      ++served;
    }
    if (type == rt::kNetNone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(served, kQueries);
  for (const std::string& answer : answers) EXPECT_EQ(answer, "name\tmap");
}

}  // namespace
