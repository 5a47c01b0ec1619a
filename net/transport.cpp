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
// Garbage is searched for the next header this many bytes at a time.
constexpr int32_t kScanChunk = 4096;
// Bytes read per call when the caller asked for no resync: a peer sending without end cannot
// keep one call going.
constexpr int32_t kSkipBudget = 64 << 10;
// Payload bytes made room for before any has arrived; more as they come.
constexpr int32_t kFirstPayloadRoom = 16 << 10;
// Datagrams taken per receive on a datagram link before giving the caller its turn back.
constexpr int kDatagramsPerReceive = 64;

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

// What one call of the reader may take from the source, and how it went.
struct ReadPass {
  int32_t budget;        // source bytes this call may still read
  bool starved = false;  // nothing more can be read now
};

bool holdsCarry(const FrameReader& r) { return r.carried < r.carry.size(); }

// Reads bytes held back from an earlier search first, then from the source.
int take(FrameReader& r, const ByteSource& source, ReadPass& pass, uint8_t* into, int32_t count) {
  if (holdsCarry(r)) {
    size_t n = std::min(static_cast<size_t>(count), r.carry.size() - r.carried);
    std::memcpy(into, r.carry.data() + r.carried, n);
    r.carried += n;
    if (!holdsCarry(r)) {
      r.carry.clear();
      r.carried = 0;
    }
    return static_cast<int>(n);
  }
  int n = source(into, count);
  if (n > 0) {
    n = std::min(n, count);
    pass.budget -= n;
  }
  if (n == 0) pass.starved = true;
  return n;
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
  r.payload = createBuffer(rt::kAnyNumber,
                          std::min(static_cast<int32_t>(length), kFirstPayloadRoom), 0);
  r.received = 0;
  if (!r.payload) {
    resetFrameReader(r);
    *fault = LinkFault::kBadFrame;
    return nullptr;
  }
  // Nothing more will arrive for an empty payload; waiting for it would wedge the reader.
  return length == 0 ? finishPayload(r) : nullptr;
}

// The header in hand fails its check: search the bytes after its first one, a chunk at a time,
// for the next place a header checks, and keep what follows that place for the next reads.
void slideToNextHeader(FrameReader& r, const ByteSource& source, ReadPass& pass,
                       LinkFault* fault) {
  uint8_t window[kFrameHeaderSize - 1 + kScanChunk];
  std::memcpy(window, r.header + 1, kFrameHeaderSize - 1);
  int n = take(r, source, pass, window + kFrameHeaderSize - 1, kScanChunk);
  if (n < 0) {
    resetFrameReader(r);
    *fault = LinkFault::kClosed;
    return;
  }
  int32_t size = kFrameHeaderSize - 1 + n;
  // A header needs 8 bytes to be checked; the last 7 may still begin one.
  int32_t at = size - 7;
  for (int32_t i = 0; i + 8 <= size; ++i) {
    if (headerChecks(window + i)) {
      at = i;
      break;
    }
  }
  r.skipped += at + 1;
  r.headerBytes = std::min(size - at, kFrameHeaderSize);
  std::memmove(r.header, window + at, static_cast<size_t>(r.headerBytes));
  int32_t rest = size - at - r.headerBytes;
  if (rest > 0) {
    std::vector<uint8_t> kept(window + size - rest, window + size);
    kept.insert(kept.end(), r.carry.begin() + static_cast<long>(r.carried), r.carry.end());
    r.carry = std::move(kept);
    r.carried = 0;
  }
}

// Room for the next bytes of the payload, grown as they arrive, so that a header announcing much
// costs memory only once the bytes are really sent.
bool makeRoom(FrameReader& r, int32_t expected) {
  if (r.payload->capacity > r.received) return true;
  int32_t grown = std::min(expected, std::max(r.payload->capacity * 2, kFirstPayloadRoom));
  MessageBuffer* bigger = createBuffer(rt::kAnyNumber, grown, 0);
  if (!bigger) return false;
  std::memcpy(bigger->data, r.payload->data, static_cast<size_t>(r.received));
  freeBuffer(r.payload);
  r.payload = bigger;
  return true;
}

MessageBuffer* readPayload(FrameReader& r, const ByteSource& source, ReadPass& pass,
                           LinkFault* fault) {
  int32_t expected = static_cast<int32_t>(readU32(r.header));
  if (!makeRoom(r, expected)) {
    resetFrameReader(r);
    *fault = LinkFault::kBadFrame;
    return nullptr;
  }
  int32_t room = std::min(expected, r.payload->capacity) - r.received;
  int n = take(r, source, pass, r.payload->data + r.received, room);
  if (n < 0) {
    resetFrameReader(r);
    *fault = LinkFault::kClosed;
    return nullptr;
  }
  r.received += n;
  return r.received == expected ? finishPayload(r) : nullptr;
}

MessageBuffer* readHeader(FrameReader& r, const ByteSource& source, ReadPass& pass,
                          LinkFault* fault) {
  if (r.headerBytes < kFrameHeaderSize) {
    int n = take(r, source, pass, r.header + r.headerBytes, kFrameHeaderSize - r.headerBytes);
    if (n < 0) {
      resetFrameReader(r);
      *fault = LinkFault::kClosed;
      return nullptr;
    }
    r.headerBytes += n;
    if (r.headerBytes < kFrameHeaderSize) return nullptr;
  }
  if (headerChecks(r.header)) return startPayload(r, fault);
  slideToNextHeader(r, source, pass, fault);
  return nullptr;
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
  // Header and payload in one piece: one datagram on UDP, so that a lost or reordered datagram
  // costs one message and never the next one too.
  std::vector<uint8_t> frame(kFrameHeaderSize + length);
  buildFrameHeader(buffer->data, length, frame.data());
  if (length > 0) std::memcpy(frame.data() + kFrameHeaderSize, buffer->data, length);
  if (!sendOrQueue(*link, connection, frame.data(), frame.size())) {
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
  if (rt::isDatagramConnection(connection)) {
    uint8_t datagram[rt::kMaxDatagram];
    for (int i = 0; i < kDatagramsPerReceive; ++i) {
      int n = rt::receiveDatagram(connection, datagram, sizeof datagram);
      if (n <= 0) return nullptr;
      if (MessageBuffer* message = readDatagramFrame(link->reader, datagram, n)) return message;
    }
    return nullptr;
  }
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
  ReadPass pass{resync ? INT32_MAX : kSkipBudget};
  // Bytes held back are always used up, so that null means no whole message is left in here.
  while (holdsCarry(reader) || (!pass.starved && pass.budget > 0)) {
    MessageBuffer* message = reader.payload ? readPayload(reader, source, pass, fault)
                                            : readHeader(reader, source, pass, fault);
    if (message || *fault != LinkFault::kNone) return message;
  }
  return nullptr;
}

DatagramForm datagramForm(const uint8_t* datagram, int32_t length) {
  if (length < kFrameHeaderSize || !headerChecks(datagram)) return DatagramForm::kNoFrame;
  if (length == kFrameHeaderSize && readU32(datagram) != 0) return DatagramForm::kHeaderAlone;
  uint32_t size = readU32(datagram);
  bool whole = size == static_cast<uint32_t>(length - kFrameHeaderSize) &&
               rt::crc32(datagram + kFrameHeaderSize, size) == readU32(datagram + 8);
  return whole ? DatagramForm::kWholeFrame : DatagramForm::kNoFrame;
}

MessageBuffer* readDatagramFrame(FrameReader& reader, const uint8_t* datagram, int32_t length) {
  bool checked = length >= kFrameHeaderSize && headerChecks(datagram);
  uint32_t announced = checked ? readU32(datagram) : 0;
  const uint8_t* payload = nullptr;
  if (checked && length == kFrameHeaderSize) {
    // A header on its own: its payload is the next datagram.
    std::memcpy(reader.header, datagram, kFrameHeaderSize);
    reader.headerBytes = kFrameHeaderSize;
    if (announced != 0) return nullptr;
    payload = datagram;
  } else if (checked && announced == static_cast<uint32_t>(length - kFrameHeaderSize)) {
    std::memcpy(reader.header, datagram, kFrameHeaderSize);
    payload = datagram + kFrameHeaderSize;
  } else if (!checked && reader.headerBytes == kFrameHeaderSize &&
             readU32(reader.header) == static_cast<uint32_t>(length)) {
    payload = datagram;
  }
  reader.headerBytes = 0;
  if (!payload) {
    if (worthLogging(reader.dropped)) {
      rt::logLine("NET", "connection %u: dropped a datagram of %d bytes that is no message (%u so "
                  "far)", reader.connection, length, reader.dropped);
    }
    return nullptr;
  }
  uint32_t size = readU32(reader.header);
  if (rt::crc32(payload, size) != readU32(reader.header + 8)) {
    if (worthLogging(reader.dropped)) {
      rt::logLine("NET", "connection %u: dropped a payload of %u bytes with a bad CRC (%u so far)",
                  reader.connection, size, reader.dropped);
    }
    return nullptr;
  }
  MessageBuffer* message = createBuffer(rt::kAnyNumber, static_cast<int32_t>(size), 0);
  if (!message) return nullptr;
  if (size > 0) std::memcpy(message->data, payload, size);
  message->length = static_cast<int32_t>(size);
  rewindBuffer(message);
  return message;
}

void resetFrameReader(FrameReader& reader) {
  freeBuffer(reader.payload);
  reader.payload = nullptr;
  reader.received = 0;
  reader.headerBytes = 0;
  std::vector<uint8_t>().swap(reader.carry);
  reader.carried = 0;
}
