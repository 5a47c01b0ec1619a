// Network over POSIX sockets: TCP listeners and connections, UDP servers and links.
//
// Every socket is non-blocking once it exists, so nothing here stalls the frame loop except the
// client connect, which gives up after a time-out. TCP sockets set TCP_NODELAY: messages go out
// as a header and a payload, and Nagle's algorithm would hold the second write back.
//
// A UDP server turns every distinct sender address into a peer connection, so that data can be
// received from it and sent back to it like any other connection.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/objects.h"

namespace rt {

bool initNetwork();
void shutdownNetwork();

// kUdpShared: a UDP server whose address and port others may bind as well, each receiving every
// broadcast: bound to a broadcast address, it hears there what a server bound to one address
// of that network never receives.
enum NetMode : int { kTcp = 1, kUdp = 2, kUdpShared = 3 };

// kTcp: listener on all interfaces, backlog 100. kUdp: socket bound to all interfaces.
// bindAddress may name one local address instead (tests bind to 127.0.0.1).
Handle createServer(int32_t number, int port, int mode, const std::string& bindAddress = "");
// Closes the server and every connection it accepted or created.
void closeServer(uint32_t server);
int serverPort(uint32_t server);  // the bound port (useful after binding port 0)

// Sees every datagram that a UDP server receives from a sender that is not yet one of its peers.
// Returns -1 to let it through (the sender becomes a peer), 0 to drop it, or the length of an
// answer written into `answer` that goes straight back to the sender. An answer is never longer
// than the datagram it answers, so a forged sender address cannot make us amplify traffic.
// Runs on the thread that polls the servers.
using DatagramFilter = std::function<int(const uint8_t* data, int length,
                                         const std::string& from, uint8_t* answer)>;
void setDatagramFilter(uint32_t server, DatagramFilter filter);

constexpr int kConnectTimeoutMs = 5000;

// kTcp: connects to host (name or dotted address), giving up after timeoutMs.
// kUdp: an unconnected socket that remembers host:port as the target of every send.
// localAddress, when given, is the local address to send from: a machine with several addresses
// whose host binds to one of them must also speak to the outside from that one.
Handle openConnection(int32_t number, const std::string& host, int port, int mode,
                      int timeoutMs = kConnectTimeoutMs, const std::string& localAddress = "");
void closeConnection(uint32_t connection);
bool connectionExists(uint32_t connection);

enum NetEvent : int {
  kNetNone = 0,
  kNetConnected = 1,     // a client connected to a TCP server
  kNetData = 2,          // data waits on the named connection (TCP client, or UDP peer)
  kNetDisconnected = 4,  // a TCP client closed; its connection is gone after this event
};

struct ServerEvent {
  int type = kNetNone;
  Handle server = 0;
  Handle connection = 0;
};

// The next event of any server. One pass over every socket finds them all (waiting connections
// are accepted then, up to a bound per listener); they are handed out one a call, and a new pass
// is made when they are used up. Level-triggered: a connection whose data has not been read is
// reported again by the next pass. A UDP server with more than 1,024 peers lets the one heard
// from longest ago go to make room for a new sender.
int pollServers(ServerEvent* out);

// kNetData when data waits on a connection made by openConnection (a UDP link reads one
// datagram of at most 2048 bytes at this point and keeps it until it is consumed).
int pollConnection(uint32_t connection);

constexpr int kMaxDatagram = 2048;

// Sleeps until data waits on one of the connections (made by openConnection) or until the
// deadline, an absolute point of microseconds() (runtime/clock.h). True when data waits. A loop
// that sleeps between frames serves what arrives at once instead of at its next frame.
bool waitForData(const uint32_t* connections, int count, uint64_t microsecondsDeadline);

// TCP: what has arrived, up to length. UDP: from the pending datagram; what is not taken stays
// for the next call. Returns the bytes read (> 0), 0 when nothing waits, -1 when the peer closed
// the connection or it failed.
int receiveBytes(uint32_t connection, void* buffer, int length);

// UDP only: the rest of the first waiting datagram as a whole (what does not fit into length is
// dropped), 0 when none waits; -1 for a missing or TCP connection.
int receiveDatagram(uint32_t connection, void* buffer, int length);
bool isDatagramConnection(uint32_t connection);

// Sends without blocking: returns the bytes the system accepted (possibly fewer than length,
// possibly 0 when its buffer is full), or -1 on an error. UDP sends one datagram (all or -1).
int sendBytes(uint32_t connection, const void* data, int length);

// The peer's address in dotted form and its port ("" and 0 when unknown).
std::string connectionAddress(uint32_t connection);
int connectionPort(uint32_t connection);

}  // namespace rt
