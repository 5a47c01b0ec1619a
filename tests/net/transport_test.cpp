#include "net/transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/checksum.h"
#include "runtime/network.h"

namespace {

std::string frame(const std::string& payload) {
  uint8_t header[kFrameHeaderSize];
  buildFrameHeader(reinterpret_cast<const uint8_t*>(payload.data()),
                   static_cast<uint32_t>(payload.size()), header);
  return std::string(reinterpret_cast<char*>(header), sizeof header) + payload;
}

std::string contentOf(MessageBuffer* m) {
  return std::string(reinterpret_cast<char*>(m->data), static_cast<size_t>(m->length));
}

void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

// A loopback game server with one client: `client` is the client's end, `host` the accepted one.
class Transport : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initNetwork());
    baseline_ = bufferCount();
    server_ = rt::createServer(-1, 0, rt::kTcp, "127.0.0.1");
    ASSERT_NE(server_, 0u);
    client = rt::openConnection(-1, "127.0.0.1", rt::serverPort(server_), rt::kTcp);
    ASSERT_NE(client, 0u);
    rt::ServerEvent event;
    for (int i = 0; i < 2000 && rt::pollServers(&event) != rt::kNetConnected; ++i) pause();
    host = event.connection;
    ASSERT_NE(host, 0u);
  }

  void TearDown() override {
    rt::shutdownNetwork();
    flushConnections();  // forgets every link, freeing partial payloads
    EXPECT_EQ(bufferCount(), baseline_);
  }

  // Writes raw bytes from the client, as a peer that is not the game would.
  void sendRaw(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      int n = rt::sendBytes(client, bytes.data() + done, static_cast<int>(bytes.size() - done));
      ASSERT_GE(n, 0);
      done += static_cast<size_t>(n);
    }
  }

  // Calls receiveMessage until a message comes, the connection faults or two seconds pass.
  MessageBuffer* waitMessage(uint32_t on, int* calls = nullptr) {
    for (int i = 0; i < 2000; ++i) {
      flushConnections();
      if (calls) ++*calls;
      if (MessageBuffer* m = receiveMessage(on, 0)) return m;
      if (connectionFault(on) != LinkFault::kNone) return nullptr;
      if (rt::pollConnection(on) != rt::kNetData) pause();
    }
    return nullptr;
  }

  std::string nextMessage(uint32_t on) {
    MessageBuffer* m = waitMessage(on);
    if (!m) return "<none>";
    std::string content = contentOf(m);
    freeBuffer(m);
    return content;
  }

  rt::Handle server_ = 0;
  rt::Handle client = 0;
  rt::Handle host = 0;
  size_t baseline_ = 0;
};

TEST_F(Transport, MessagesArriveWholeAndInOrder) {
  MessageBuffer* b = createBuffer(1, 2048, 0);
  putLong(b, 17);
  putLong(b, 65537);
  putFloat(b, 150.5f);
  EXPECT_EQ(sendMessage(b, client, 1), 12);
  EXPECT_EQ(findBuffer(1), nullptr);  // freed after sending

  b = createBuffer(-1, 2048, 0);  // an empty message is framed and read like any other
  EXPECT_EQ(sendMessage(b, client, 0), 0);
  putString(b, "after");
  EXPECT_EQ(sendMessage(b, client, 1), 6);

  MessageBuffer* m = waitMessage(host);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->cursor, m->data);
  EXPECT_EQ(getLong(m), 17);
  EXPECT_EQ(getLong(m), 65537);
  EXPECT_EQ(getFloat(m), 150.5f);
  freeBuffer(m);
  EXPECT_EQ(nextMessage(host), "");
  EXPECT_EQ(nextMessage(host), std::string("after\0", 6));
}

TEST_F(Transport, HeaderAndPayloadSplitOverSeveralReads) {
  std::string bytes = frame("split payload");
  size_t cuts[] = {0, 1, 5, 12, 13, 20, bytes.size()};
  for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
    EXPECT_EQ(receiveMessage(host, 0), nullptr);
    sendRaw(bytes.substr(cuts[i], cuts[i + 1] - cuts[i]));
    for (int spin = 0; spin < 5 && i + 2 < std::size(cuts); ++spin) {
      pause();
      EXPECT_EQ(receiveMessage(host, 0), nullptr);
    }
  }
  EXPECT_EQ(nextMessage(host), "split payload");
}

TEST_F(Transport, GarbageIsSkippedInBulk) {
  std::string bad = frame("lost message");
  bad[0] ^= 0x40;  // the length no longer matches its CRC
  std::string garbage(100 << 10, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + i / 7);
  sendRaw(bad + garbage + frame("found again"));
  int calls = 0;
  MessageBuffer* m = waitMessage(host, &calls);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(contentOf(m), "found again");
  // A call reads at most 64 KiB, so a handful of calls cover 100 KiB, not one call per byte.
  EXPECT_LE(calls, 8);
  freeBuffer(m);
}

TEST_F(Transport, BadPayloadCrcIsDroppedAndTheNextMessageRead) {
  std::string bad = frame("tampered");
  bad.back() ^= 1;
  sendRaw(bad + frame("intact"));
  EXPECT_EQ(nextMessage(host), "intact");
  EXPECT_EQ(connectionFault(host), LinkFault::kNone);
}

TEST_F(Transport, OversizedLengthFaultsWithoutAllocating) {
  std::string huge(kFrameHeaderSize, '\0');
  uint32_t length = kMaxMessageLength + 1;
  for (int i = 0; i < 4; ++i) huge[i] = static_cast<char>(length >> (8 * i));
  uint32_t check = rt::crc32(huge.data(), 4);
  for (int i = 0; i < 4; ++i) huge[4 + i] = static_cast<char>(check >> (8 * i));
  sendRaw(huge + frame("never read"));
  size_t before = bufferCount();
  EXPECT_EQ(waitMessage(host), nullptr);
  EXPECT_EQ(connectionFault(host), LinkFault::kBadFrame);
  EXPECT_EQ(bufferCount(), before);
  EXPECT_EQ(receiveMessage(host, 0), nullptr);  // stays faulted until forgotten
  EXPECT_EQ(sendMessage(createBuffer(-1, 4, 0), host, 1), -1);
  forgetConnection(host);
  EXPECT_EQ(connectionFault(host), LinkFault::kNone);
}

// The largest allowed message fills the socket buffers: the rest waits in the queue and goes out
// as the receiver reads, in many pieces.
TEST_F(Transport, LargestMessageGoesThroughTheQueue) {
  MessageBuffer* b = createBuffer(-1, 0, 0);
  std::vector<uint8_t> bytes(kMaxMessageLength);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  putData(b, bytes.data(), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(sendMessage(b, host, 1), static_cast<int>(kMaxMessageLength));
  MessageBuffer* m = waitMessage(client);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(std::memcmp(m->data, bytes.data(), bytes.size()), 0);
  EXPECT_EQ(queuedBytes(host), 0u);
  freeBuffer(m);

  b = createBuffer(-1, 0, 0);
  putData(b, bytes.data(), static_cast<int32_t>(bytes.size()));
  putByte(b, 0);
  EXPECT_EQ(sendMessage(b, host, 1), -1);
  EXPECT_EQ(queuedBytes(host), 0u);
}

TEST_F(Transport, ReaderThatStopsReadingIsReportedStalled) {
  std::vector<uint8_t> chunk(64 << 10, 1);
  int sends = 0;
  size_t mostQueued = 0;
  // The kernel's buffers fill first, then the queue; no send may block meanwhile.
  while (sends < 1000) {
    MessageBuffer* b = createBuffer(-1, 0, 0);
    putData(b, chunk.data(), static_cast<int32_t>(chunk.size()));
    ++sends;
    if (sendMessage(b, host, 1) < 0) break;
    mostQueued = std::max(mostQueued, queuedBytes(host));
    flushConnections();
  }
  EXPECT_LT(sends, 1000);
  EXPECT_GT(mostQueued, kSendQueueLimit / 2);
  EXPECT_EQ(connectionFault(host), LinkFault::kStalled);
  EXPECT_EQ(queuedBytes(host), 0u);  // the queue is let go at once
  EXPECT_EQ(sendMessage(createBuffer(-1, 4, 0), host, 1), -1);
}

TEST_F(Transport, ClosedAndVanishedConnections) {
  // A peer that closes: the reader reports it and stops.
  sendRaw(frame("last words"));
  rt::closeConnection(client);
  EXPECT_EQ(nextMessage(host), "last words");
  EXPECT_EQ(waitMessage(host), nullptr);
  EXPECT_EQ(connectionFault(host), LinkFault::kClosed);

  // A connection closed under a half-read payload leaves nothing behind.
  size_t before = bufferCount();
  rt::Handle second = rt::openConnection(-1, "127.0.0.1", rt::serverPort(server_), rt::kTcp);
  rt::ServerEvent event;
  for (int i = 0; i < 2000 && rt::pollServers(&event) != rt::kNetConnected; ++i) pause();
  rt::Handle accepted = event.connection;
  std::string half = frame("half a message").substr(0, 16);
  ASSERT_EQ(rt::sendBytes(second, half.data(), static_cast<int>(half.size())), 16);
  for (int i = 0; i < 100 && bufferCount() == before; ++i) {
    receiveMessage(accepted, 0);
    pause();
  }
  EXPECT_EQ(bufferCount(), before + 1);
  rt::closeConnection(accepted);
  flushConnections();
  EXPECT_EQ(bufferCount(), before);

  MessageBuffer* b = createBuffer(-1, 4, 0);
  EXPECT_EQ(sendMessage(b, accepted, 1), -1);
  EXPECT_EQ(bufferCount(), before);  // freed although it could not go
  EXPECT_EQ(receiveMessage(accepted, 0), nullptr);
  EXPECT_EQ(connectionFault(accepted), LinkFault::kNone);  // no state for a missing connection
}

TEST_F(Transport, UdpSendsAFrameAsOneDatagramAndReadsBothForms) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof local;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), size), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size), 0);
  rt::Handle link = rt::openConnection(-1, "127.0.0.1", ntohs(local.sin_port), rt::kUdp);
  MessageBuffer* b = createBuffer(2, 2048, 0);
  putLong(b, 65536);
  putWord(b, 90);
  EXPECT_EQ(sendMessage(b, link, 1), 6);
  char datagram[64];
  EXPECT_EQ(recv(fd, datagram, sizeof datagram, 0), kFrameHeaderSize + 6);

  // A position server reads the new form, and the header and payload of an older sender.
  rt::Handle udp = rt::createServer(-1, 0, rt::kUdp, "127.0.0.1");
  link = rt::openConnection(-1, "127.0.0.1", rt::serverPort(udp), rt::kUdp);
  b = createBuffer(2, 2048, 0);
  putString(b, "position");
  sendMessage(b, link, 1);
  std::string old = frame("older");
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(rt::serverPort(udp)));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (std::string part : {old.substr(0, kFrameHeaderSize), old.substr(kFrameHeaderSize)}) {
    sendto(fd, part.data(), part.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  close(fd);
  std::vector<std::string> got;
  for (int i = 0; i < 2000 && got.size() < 2; ++i) {
    rt::ServerEvent event;
    if (rt::pollServers(&event) == rt::kNetData) {
      while (MessageBuffer* m = receiveMessage(event.connection, 0)) {
        got.push_back(contentOf(m));
        freeBuffer(m);
      }
    }
    pause();
  }
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"older", std::string("position\0", 9)}));
}

// ---- The frame reader over bytes in memory ----

struct MemorySource {
  std::string bytes;
  size_t at = 0;
  int piece = 1 << 30;  // most bytes one read returns
  int operator()(uint8_t* into, int32_t count) {
    if (at == bytes.size()) return 0;
    int n = std::min({count, piece, static_cast<int>(bytes.size() - at)});
    std::memcpy(into, bytes.data() + at, static_cast<size_t>(n));
    at += static_cast<size_t>(n);
    return n;
  }
};

// Every message the reader gives, call after call, until a call gives none.
std::vector<std::string> readAll(FrameReader& reader, MemorySource& memory, int resync,
                                 int* calls = nullptr) {
  ByteSource source = std::ref(memory);
  std::vector<std::string> got;
  LinkFault fault = LinkFault::kNone;
  for (int i = 0; i < 1000 && fault == LinkFault::kNone; ++i) {
    if (calls) ++*calls;
    MessageBuffer* m = readFrame(reader, source, resync, &fault);
    if (!m && memory.at == memory.bytes.size()) break;
    if (m) got.push_back(contentOf(m));
    freeBuffer(m);
  }
  return got;
}

TEST(FrameReader, FindsTheNextHeaderInBulkAndKeepsWhatFollowsIt) {
  std::string garbage = "\x01\x02\x03\x04\x05" + std::string(300 << 10, 'x');
  std::string stream = garbage + frame("hello") + frame("") + frame("world") + "\x07";
  for (int piece : {1 << 30, 5000, 7}) {
    MemorySource memory{stream};
    memory.piece = piece;
    FrameReader reader;
    int calls = 0;
    EXPECT_EQ(readAll(reader, memory, 0, &calls), (std::vector<std::string>{"hello", "", "world"}))
        << piece;
    // A call reads at most 64 KiB unless resync is asked.
    if (piece > 4096) {
      EXPECT_LE(calls, 10);
    }
    EXPECT_EQ(reader.headerBytes, 1);  // the trailing byte waits as the start of a header
    resetFrameReader(reader);
  }
  MemorySource memory{stream};
  FrameReader reader;
  int calls = 0;
  EXPECT_EQ(readAll(reader, memory, 1, &calls).size(), 3u);
  EXPECT_LE(calls, 5);
  resetFrameReader(reader);
}

TEST(FrameReader, RoomForAPayloadGrowsWithWhatArrives) {
  std::string big(200000, 'b');
  std::string bytes = frame(big);
  MemorySource memory{bytes.substr(0, kFrameHeaderSize + 10)};
  FrameReader reader;
  LinkFault fault;
  ByteSource source = std::ref(memory);
  EXPECT_EQ(readFrame(reader, source, 0, &fault), nullptr);
  ASSERT_NE(reader.payload, nullptr);
  EXPECT_LE(reader.payload->capacity, 16 << 10);  // not the 200,000 announced
  memory.bytes = bytes;
  MessageBuffer* m = nullptr;
  for (int i = 0; i < 100 && !m; ++i) m = readFrame(reader, source, 0, &fault);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(contentOf(m), big);
  freeBuffer(m);
}

// One lost or reordered datagram costs its own message only.
TEST(FrameReader, DatagramsStandAlone) {
  std::string b = frame("B"), c = frame("C"), d = frame("D"), e = frame("E");
  std::string header = c.substr(0, kFrameHeaderSize);
  std::vector<std::string> datagrams = {
      b.substr(kFrameHeaderSize),                    // a payload whose header was lost
      b,                                             // whole
      header, c.substr(kFrameHeaderSize),            // the older two-datagram form
      d.substr(0, kFrameHeaderSize),                 // a header whose payload was lost...
      e,                                             // ...does not take the next message
      e.substr(kFrameHeaderSize), header,            // reordered: both dropped
      "garbage of any length", std::string(2, '\0'),
      frame("")};
  FrameReader reader;
  std::vector<std::string> got;
  for (const std::string& datagram : datagrams) {
    MessageBuffer* m = readDatagramFrame(reader, reinterpret_cast<const uint8_t*>(datagram.data()),
                                         static_cast<int32_t>(datagram.size()));
    if (m) got.push_back(contentOf(m));
    freeBuffer(m);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"B", "C", "E", ""}));
}

}  // namespace
