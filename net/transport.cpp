#include "net/transport.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "runtime/checksum.h"
#include "runtime/log.h"
#include "runtime/network.h"
#include "runtime/objects.h"

namespace {

// Sent bytes are cut from the front of the queue only once they are this many and half of it,
// so a slow peer does not cost a move of the whole queue per write.
constexpr size_t kQueueCompactAt = 64 << 10;

struct Link {
  FrameReader reader;
  std::vector<uint8_t> queue;
  size_t sent = 0;  // bytes at the front of queue already written
  LinkFault fault = LinkFault::kNone;
};

// Guarded by the buffer lock. Never destroyed, like the buffer registry it points into.
std::unordered_map<uint32_t, Link>& links() {
  static auto* table = new std::unordered_map<uint32_t, Link>;
  return *table;
}

// Logs the 1st, 2nd, 4th, 8th ... occurrence, so a peer sending garbage cannot flood the log.
bool worthLogging(uint32_t& count) {
  ++count;
  return (count & (count - 1)) == 0;
}

bool sticks(LinkFault fault) {
  return fault != LinkFault::kNone && fault != LinkFault::kSendFailed;
}

uint32_t readU32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void writeU32(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool headerChecks(const uint8_t* header) { return rt::crc32(header, 4) == readU32(header + 4); }

// The payload is complete: deliver it when its CRC matches, drop it otherwise.
MessageBuffer* finishPayload(FrameReader& r) {
  MessageBuffer* message = r.payload;
  uint32_t length = readU32(r.header);
  bool intact = rt::crc32(message->data, length) == readU32(r.header + 8);
  r.payload = nullptr;
  r.received = 0;
  r.headerBytes = 0;
  if (intact) {
    rewindBuffer(message);
    message->length = static_cast<int32_t>(length);
    return message;
  }
  if (worthLogging(r.dropped)) {
    rt::logLine("NET", "connection %u: dropped a payload of %u bytes with a bad CRC (%u so far)",
                r.connection, length, r.dropped);
  }
  freeBuffer(message);
  return nullptr;
}

MessageBuffer* readPayload(FrameReader& r, const ByteSource& source, LinkFault* fault) {
  int32_t expected = static_cast<int32_t>(readU32(r.header));
  int32_t wanted = expected - r.received;
  int n = source(r.payload->data + r.received, wanted);
  if (n < 0) {
    resetFrameReader(r);
    *fault = LinkFault::kClosed;
    return nullptr;
  }
  r.received += std::min(n, wanted);
  return r.received == expected ? finishPayload(r) : nullptr;
}

// The header is complete and checked: make room for its payload.
MessageBuffer* startPayload(FrameReader& r, LinkFault* fault) {
  if (r.skipped > 0 && worthLogging(r.slides)) {
    rt::logLine("NET", "connection %u: resynchronised after skipping %d bytes (%u so far)",
                r.connection, r.skipped, r.slides);
  }
  r.skipped = 0;
  uint32_t length = readU32(r.header);
  if (length > kMaxMessageLength) {
    rt::logLine("NET", "connection %u: frame announces %u bytes, more than %u; giving up",
                r.connection, length, kMaxMessageLength);
    resetFrameReader(r);
    *fault = LinkFault::kBadFrame;
    return nullptr;
  }
  r.payload = createBuffer(rt::kAnyNumber, static_cast<int32_t>(length), 0);
  r.received = 0;
  if (!r.payload) {
    resetFrameReader(r);
    *fault = LinkFault::kBadFrame;
    return nullptr;
  }
  // Nothing more will arrive for an empty payload; waiting for it would wedge the reader.
  return length == 0 ? finishPayload(r) : nullptr;
}

MessageBuffer* readHeader(FrameReader& r, const ByteSource& source, int resync,
                          LinkFault* fault) {
  for (;;) {
    int32_t wanted = kFrameHeaderSize - r.headerBytes;
    int n = source(r.header + r.headerBytes, wanted);
    if (n < 0) {
      resetFrameReader(r);
      *fault = LinkFault::kClosed;
      return nullptr;
    }
    r.headerBytes += std::min(n, wanted);
    if (r.headerBytes < kFrameHeaderSize) return nullptr;
    if (headerChecks(r.header)) return startPayload(r, fault);
    std::memmove(r.header, r.header + 1, kFrameHeaderSize - 1);
    r.headerBytes = kFrameHeaderSize - 1;
    ++r.skipped;
    if (!resync) return nullptr;
  }
}

// Caller holds the buffer lock.
void dropLink(uint32_t connection) {
  auto it = links().find(connection);
  if (it == links().end()) return;
  resetFrameReader(it->second.reader);
  links().erase(it);
}

// Caller holds the buffer lock. The link of an existing connection, or null.
Link* linkOf(uint32_t connection) {
  if (!rt::connectionExists(connection)) {
    dropLink(connection);
    return nullptr;
  }
  Link& link = links()[connection];
  link.reader.connection = connection;
  return &link;
}

size_t pending(const Link& link) { return link.queue.size() - link.sent; }

void releaseQueue(Link& link) {
  std::vector<uint8_t>().swap(link.queue);
  link.sent = 0;
}

// Writes as much of the queue as the socket takes. False on a send error.
bool flushLink(Link& link, uint32_t connection) {
  while (pending(link) > 0) {
    int chunk = static_cast<int>(std::min<size_t>(pending(link), INT_MAX));
    int n = rt::sendBytes(connection, link.queue.data() + link.sent, chunk);
    if (n < 0) return false;
    if (n == 0) break;
    link.sent += static_cast<size_t>(n);
  }
  if (link.sent == link.queue.size()) {
    link.queue.clear();
    link.sent = 0;
  } else if (link.sent >= kQueueCompactAt && link.sent * 2 >= link.queue.size()) {
    link.queue.erase(link.queue.begin(), link.queue.begin() + static_cast<long>(link.sent));
    link.sent = 0;
  }
  return true;
}

// Sends what the socket takes at once and queues the rest behind anything already waiting, so
// bytes never overtake each other. On UDP every call is one whole datagram, or an error.
bool sendOrQueue(Link& link, uint32_t connection, const uint8_t* bytes, size_t count) {
  if (count == 0) return true;
  if (pending(link) == 0) {
    int n = rt::sendBytes(connection, bytes, static_cast<int>(count));
    if (n < 0) return false;
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  link.queue.insert(link.queue.end(), bytes, bytes + count);
  return flushLink(link, connection);
}

void markSendFailed(Link& link, uint32_t connection) {
  if (link.fault != LinkFault::kSendFailed) {
    rt::logLine("NET", "connection %u: send failed, %zu bytes unsent", connection, pending(link));
  }
  releaseQueue(link);
  link.fault = LinkFault::kSendFailed;
}

// Caller holds the buffer lock.
int sendLocked(MessageBuffer* buffer, uint32_t connection) {
  if (!buffer || buffer->length < 0) return -1;
  uint32_t length = static_cast<uint32_t>(buffer->length);
  if (length > kMaxMessageLength) {
    rt::logLine("NET", "connection %u: refused to send %u bytes, more than %u", connection, length,
                kMaxMessageLength);
    return -1;
  }
  Link* link = linkOf(connection);
  if (!link || sticks(link->fault)) return -1;
  uint8_t header[kFrameHeaderSize];
  buildFrameHeader(buffer->data, length, header);
  if (!sendOrQueue(*link, connection, header, sizeof header) ||
      !sendOrQueue(*link, connection, buffer->data, length)) {
    markSendFailed(*link, connection);
    return -1;
  }
  if (pending(*link) > kSendQueueLimit) {
    rt::logLine("NET", "connection %u: stalled with %zu bytes unsent", connection, pending(*link));
    releaseQueue(*link);
    link->fault = LinkFault::kStalled;
    return -1;
  }
  link->fault = LinkFault::kNone;
  return static_cast<int>(length);
}

}  // namespace

void buildFrameHeader(const uint8_t* payload, uint32_t length, uint8_t header[kFrameHeaderSize]) {
  writeU32(header, length);
  writeU32(header + 4, rt::crc32(header, 4));
  writeU32(header + 8, rt::crc32(payload, length));
}

int sendMessage(MessageBuffer* buffer, uint32_t connection, int freeAfter) {
  std::lock_guard lock(bufferLock());
  int result = sendLocked(buffer, connection);
  if (freeAfter) freeBuffer(buffer);
  return result;
}

MessageBuffer* receiveMessage(uint32_t connection, int resync) {
  std::lock_guard lock(bufferLock());
  Link* link = linkOf(connection);
  if (!link || sticks(link->fault)) return nullptr;
  ByteSource source = [connection](uint8_t* into, int32_t count) {
    return rt::receiveBytes(connection, into, count);
  };
  LinkFault fault = LinkFault::kNone;
  MessageBuffer* message = readFrame(link->reader, source, resync, &fault);
  if (fault != LinkFault::kNone) {
    releaseQueue(*link);
    link->fault = fault;
  }
  return message;
}

void flushConnections() {
  std::lock_guard lock(bufferLock());
  std::vector<uint32_t> gone;
  for (auto& [connection, link] : links()) {
    if (!rt::connectionExists(connection)) {
      gone.push_back(connection);
      continue;
    }
    if (pending(link) > 0 && !flushLink(link, connection)) markSendFailed(link, connection);
  }
  for (uint32_t connection : gone) dropLink(connection);
}

LinkFault connectionFault(uint32_t connection) {
  std::lock_guard lock(bufferLock());
  auto it = links().find(connection);
  return it == links().end() ? LinkFault::kNone : it->second.fault;
}

size_t queuedBytes(uint32_t connection) {
  std::lock_guard lock(bufferLock());
  auto it = links().find(connection);
  return it == links().end() ? 0 : pending(it->second);
}

void forgetConnection(uint32_t connection) {
  std::lock_guard lock(bufferLock());
  dropLink(connection);
}

MessageBuffer* readFrame(FrameReader& reader, const ByteSource& source, int resync,
                         LinkFault* fault) {
  *fault = LinkFault::kNone;
  if (reader.payload) return readPayload(reader, source, fault);
  return readHeader(reader, source, resync, fault);
}

void resetFrameReader(FrameReader& reader) {
  freeBuffer(reader.payload);
  reader.payload = nullptr;
  reader.received = 0;
  reader.headerBytes = 0;
}
