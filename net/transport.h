// Framed messages over the runtime's connections, TCP and UDP alike.
//
// A frame is a 12-byte header (u32 payload length, CRC-32 of those 4 bytes, CRC-32 of the
// payload; little-endian) followed by the payload, a message buffer's bytes from its start to its
// length. On UDP a frame leaves as one datagram. Datagrams are read one by one: a whole frame, or
// a header alone followed by its payload alone (how older senders split them); anything else is
// dropped on its own, so a lost or reordered datagram never takes another message with it.
//
// Sending never blocks the frame loop: what the socket does not take now waits in the
// connection's send queue and goes out with the next send or flushConnections(). A peer that stops
// reading until its queue passes kSendQueueLimit is marked stalled.
//
// Every connection has a fault state. kStalled, kBadFrame and kClosed stick: sends then return -1
// and receives nothing until forgetConnection(). The protocol checks connectionFault() of its
// connections every frame and closes a faulted one (a game connection like a disconnected client):
// a faulted connection is read no further, so the platform keeps reporting its waiting data.
// kSendFailed only reports the last send: a broken stream, or one lost datagram on a UDP link.
//
// All state is guarded by the buffer lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "net/message_buffer.h"

inline constexpr int32_t kFrameHeaderSize = 12;
// The largest payload a header may announce. The game's biggest message is the round start, one
// byte per map cell plus the players (64 KB for a 256 x 256 map). A checked header announcing
// more comes from a broken or hostile peer; nothing is allocated for it.
inline constexpr uint32_t kMaxMessageLength = 1u << 20;
// Bytes waiting in one connection's send queue before the peer counts as stalled. Twice the
// largest frame, so that one big message to a healthy but busy peer never trips it.
inline constexpr size_t kSendQueueLimit = 2u << 20;

enum class LinkFault : int {
  kNone = 0,
  kSendFailed = 1,  // the last send reported an error
  kStalled = 2,     // the peer stopped reading and its send queue passed kSendQueueLimit
  kBadFrame = 3,    // a checked header announced more than kMaxMessageLength
  kClosed = 4,      // the peer closed the connection or it failed while receiving
};

// The header of a frame around length bytes of payload.
void buildFrameHeader(const uint8_t* payload, uint32_t length, uint8_t header[kFrameHeaderSize]);

// Frames the buffer's content and sends or queues it. Returns the payload length, or -1 for a
// null buffer, a payload above kMaxMessageLength, a missing or faulted connection or a send
// error. With freeAfter set the buffer is freed in every case: the caller has handed it over.
int sendMessage(MessageBuffer* buffer, uint32_t connection, int freeAfter);

// Advances the connection's receive state with what is waiting. Returns a complete message whose
// payload CRC matched (cursor at its start, the caller frees it), or null. At most one message
// per call; the caller calls again while data waits and stops when connectionFault() is set.
// Null means everything read so far is used: no complete message waits in the reader. Garbage is
// searched for the next header that checks in bulk; with resync 0 (what the game passes) at most
// 64 KiB of it per call, with non-zero as much as waits.
MessageBuffer* receiveMessage(uint32_t connection, int resync);

// Writes queued bytes of every connection as far as the sockets take them, and forgets the state
// of connections that no longer exist. Called once per frame by the network polls.
void flushConnections();

LinkFault connectionFault(uint32_t connection);
// Bytes framed but not yet taken by the connection's socket.
size_t queuedBytes(uint32_t connection);
// Drops the connection's receive state, send queue and fault; call when closing it.
void forgetConnection(uint32_t connection);

// ---- The frame reader, open for tests and fuzzing ----------------------------------------------

// Receive state of one connection.
struct FrameReader {
  uint32_t connection = 0;           // named in log lines
  MessageBuffer* payload = nullptr;  // being filled; null while the header is incomplete
  int32_t received = 0;              // payload bytes so far
  uint8_t header[kFrameHeaderSize] = {};
  int32_t headerBytes = 0;
  int32_t skipped = 0;      // bytes slid over since the last good header
  uint32_t dropped = 0;     // payloads dropped for a bad CRC, for rate-limited logging
  uint32_t slides = 0;      // resynchronisations begun, likewise
  // Bytes read while searching for a header and found to follow it, read again before the source.
  std::vector<uint8_t> carry;
  size_t carried = 0;
};

// Reads like rt::receiveBytes: bytes read (> 0, at most count), 0 when nothing waits, -1 when the
// peer closed.
using ByteSource = std::function<int(uint8_t* into, int32_t count)>;

// One step of receiveMessage over any byte source. *fault is set to kNone, or to kBadFrame or
// kClosed when the reader gave up (its state is then reset).
MessageBuffer* readFrame(FrameReader& reader, const ByteSource& source, int resync,
                         LinkFault* fault);
// How a datagram reads on its own: no frame, a checked header alone (its payload is the next
// datagram, as older senders split them), or a checked header with its intact payload.
enum class DatagramForm { kNoFrame, kHeaderAlone, kWholeFrame };
DatagramForm datagramForm(const uint8_t* datagram, int32_t length);

// One datagram of a datagram link: the message it completes (the caller frees it), or null.
MessageBuffer* readDatagramFrame(FrameReader& reader, const uint8_t* datagram, int32_t length);
// Frees a partly received payload and forgets a partial header.
void resetFrameReader(FrameReader& reader);
