// The receive paths of real sockets on loopback, fed by a hostile peer: TCP clients connect, send
// chunks and hang up, datagrams arrive from several ports, and the server side is served as the
// host serves it (one event after another, messages read until none is left) while a UDP link
// reads what comes back. Each input is a list of steps:
//   byte % 5 == 0  a new TCP client (at most 4)
//            1  the next byte's count of following bytes, sent by client (byte / 5) % 4
//            2  a datagram of the next byte's count of bytes, from sender (byte / 5) % 3
//            3  client (byte / 5) % 4 hangs up
//            4  the link's own datagram of the next byte's count of bytes, sent to the server,
//               whose peer answers it with the same bytes
// No buffer may outlive the input, and everything must be served without a hang.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "net/message_buffer.h"
#include "net/transport.h"
#include "runtime/network.h"

namespace {

constexpr int kClients = 4;
constexpr int kSenders = 3;

void readAll(uint32_t connection) {
  for (int i = 0; i < 64; ++i) {
    MessageBuffer* m = receiveMessage(connection, 0);
    if (m) {
      if (m->length < 0 || static_cast<uint32_t>(m->length) > kMaxMessageLength) abort();
      freeBuffer(m);
      continue;
    }
    if (connectionFault(connection) != LinkFault::kNone ||
        rt::pollConnection(connection) != rt::kNetData) {
      return;
    }
  }
}

// Serves every event of the servers, as the host does, and the link.
void serve(uint32_t link) {
  rt::ServerEvent event;
  for (int i = 0; i < 4096; ++i) {
    int type = rt::pollServers(&event);
    if (type == rt::kNetNone) break;
    if (type == rt::kNetData) {
      if (rt::isDatagramConnection(event.connection)) {
        uint8_t echo[rt::kMaxDatagram];
        int n = rt::receiveDatagram(event.connection, echo, sizeof echo);
        if (n > 0 && rt::sendBytes(event.connection, echo, n) != n) abort();
      } else {
        readAll(event.connection);
        if (connectionFault(event.connection) != LinkFault::kNone) {
          rt::closeConnection(event.connection);
          forgetConnection(event.connection);
        }
      }
    }
  }
  readAll(link);
  flushConnections();
}

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = rt::initNetwork();
  (void)started;
  size_t buffersBefore = bufferCount();
  rt::Handle tcp = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  rt::Handle udp = rt::createServer(rt::kAnyNumber, 0, rt::kUdp, "127.0.0.1");
  if (!tcp || !udp) abort();
  sockaddr_in udpAddress = loopback(rt::serverPort(udp));
  rt::Handle link = rt::openConnection(rt::kAnyNumber, "127.0.0.1", rt::serverPort(udp), rt::kUdp);
  int senders[kSenders];
  for (int& fd : senders) fd = socket(AF_INET, SOCK_DGRAM, 0);
  rt::Handle clients[kClients] = {};
  int opened = 0;

  for (size_t at = 0; at < size;) {
    uint8_t step = data[at++];
    int which = step / 5;
    size_t count = at < size ? std::min<size_t>(data[at], size - at - 1) : 0;
    switch (step % 5) {
      case 0:
        if (opened < kClients) {
          clients[opened++] =
              rt::openConnection(rt::kAnyNumber, "127.0.0.1", rt::serverPort(tcp), rt::kTcp);
        }
        continue;
      case 1:
        if (rt::Handle c = clients[which % kClients]) {
          rt::sendBytes(c, data + at + 1, static_cast<int>(count));
        }
        break;
      case 2:
        sendto(senders[which % kSenders], data + at + 1, count, 0,
               reinterpret_cast<const sockaddr*>(&udpAddress), sizeof udpAddress);
        break;
      case 3:
        rt::closeConnection(clients[which % kClients]);
        clients[which % kClients] = 0;
        continue;
      default:
        rt::sendBytes(link, data + at + 1, static_cast<int>(count));
        break;
    }
    at += count + 1;
    serve(link);
  }
  serve(link);

  for (rt::Handle c : clients) rt::closeConnection(c);
  for (int fd : senders) close(fd);
  rt::closeConnection(link);
  rt::closeServer(tcp);
  rt::closeServer(udp);
  flushConnections();
  if (bufferCount() != buffersBefore) abort();
  return 0;
}
