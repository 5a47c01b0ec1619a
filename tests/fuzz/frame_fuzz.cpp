// The frame reader on arbitrary bytes, as a hostile peer would send them. The first byte chooses
// the resync mode (bit 0) and how many bytes one read returns at most (the other bits, 1..128);
// the rest is the stream, and then the same bytes as datagrams, each after a two-byte length.
// Every delivered message must check out and be readable to its end, a call that gives nothing
// must have used up every byte it held back, and no buffer may outlive the reader.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "net/message_buffer.h"
#include "net/transport.h"
#include "runtime/checksum.h"

namespace {

struct Stream {
  const uint8_t* bytes;
  size_t size;
  size_t at = 0;
  int piece;
  bool closed = false;  // once drained, the peer hangs up

  int read(uint8_t* into, int32_t count) {
    if (at == size) return closed ? -1 : 0;
    size_t n = std::min({static_cast<size_t>(count), static_cast<size_t>(piece), size - at});
    memcpy(into, bytes + at, n);
    at += n;
    return static_cast<int>(n);
  }
};

// Reads every value kind until the message runs out or a read runs short; the short-read rules
// must hold throughout.
void readToTheEnd(MessageBuffer* m) {
  for (int kind = 0; m->cursor < m->data + m->length && !m->readFailed; kind = (kind + 1) % 4) {
    const uint8_t* before = m->cursor;
    switch (kind) {
      case 0: getLong(m); break;
      case 1: getString(m); break;
      case 2: getWord(m); break;
      default: getByte(m); break;
    }
    if (m->cursor < before || m->cursor > m->data + m->length) abort();
  }
}

void check(MessageBuffer* m) {
  if (m->length < 0 || static_cast<uint32_t>(m->length) > kMaxMessageLength) abort();
  if (m->cursor != m->data) abort();
  readToTheEnd(m);
  freeBuffer(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t buffersBefore = bufferCount();
  int resync = data[0] & 1;
  Stream stream{data + 1, size - 1, 0, (data[0] >> 1) + 1};
  ByteSource source = [&stream](uint8_t* into, int32_t count) { return stream.read(into, count); };
  FrameReader reader;
  LinkFault fault = LinkFault::kNone;
  // Every call takes at least one byte while any wait, so this ends; one more sees the hang-up.
  while (stream.at < stream.size) {
    if (MessageBuffer* m = readFrame(reader, source, resync, &fault)) {
      check(m);
    } else if (!reader.carry.empty()) {
      abort();
    }
  }
  stream.closed = true;
  if (MessageBuffer* m = readFrame(reader, source, resync, &fault)) check(m);
  resetFrameReader(reader);

  FrameReader datagrams;
  for (size_t at = 1; at + 2 <= size;) {
    size_t length = std::min<size_t>(data[at] | data[at + 1] << 8, size - at - 2);
    at += 2;
    const uint8_t* datagram = data + at;
    if (MessageBuffer* m = readDatagramFrame(datagrams, datagram, static_cast<int32_t>(length))) {
      check(m);
    }
    at += length;
  }
  if (bufferCount() != buffersBefore) abort();
  return 0;
}
