#include "net/message_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "runtime/objects.h"

namespace {

// Numbers (0..65535) and handles (upper bits set) never collide, so one map serves both.
struct Registry {
  std::recursive_mutex lock;
  std::unordered_set<MessageBuffer*> all;
  std::unordered_map<uint32_t, MessageBuffer*> byId;
};

// Never destroyed: threads and other modules may still free buffers while statics go.
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

// Caller holds the lock.
void destroy(Registry& r, MessageBuffer* buffer) {
  auto named = r.byId.find(buffer->id);
  if (named != r.byId.end() && named->second == buffer) r.byId.erase(named);
  r.all.erase(buffer);
  std::free(buffer->data);
  delete buffer;
}

int32_t used(const MessageBuffer* buffer) {
  return static_cast<int32_t>(buffer->cursor - buffer->data);
}

// Makes room for n more bytes at the cursor. A failed growth leaves the buffer untouched.
bool ensureRoom(MessageBuffer* buffer, int32_t n) {
  int64_t end = static_cast<int64_t>(used(buffer)) + n;
  if (end > buffer->capacity) {
    int64_t grown = end + kBufferGrowth;
    if (grown > kMaxBufferCapacity) return false;
    auto* data = static_cast<uint8_t*>(std::realloc(buffer->data, static_cast<size_t>(grown)));
    if (!data) return false;
    int32_t at = used(buffer);
    // Zeroed, so a cursor set beyond length never exposes stale heap bytes.
    std::memset(data + buffer->capacity, 0, static_cast<size_t>(grown - buffer->capacity));
    buffer->data = data;
    buffer->capacity = static_cast<int32_t>(grown);
    buffer->cursor = data + at;
  }
  if (buffer->length < end) buffer->length = static_cast<int32_t>(end);
  return true;
}

int putBytes(MessageBuffer* buffer, const void* bytes, int32_t count) {
  if (!buffer || count < 0 || (!bytes && count > 0)) return 0;
  if (!ensureRoom(buffer, count)) return 0;
  if (count > 0) std::memcpy(buffer->cursor, bytes, static_cast<size_t>(count));
  buffer->cursor += count;
  return 1;
}

int putLittleEndian(MessageBuffer* buffer, uint32_t value, int32_t size) {
  uint8_t bytes[4];
  for (int32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return putBytes(buffer, bytes, size);
}

int32_t left(const MessageBuffer* buffer) { return buffer->length - used(buffer); }

// Reads size bytes as an unsigned little-endian number into *value; false (cursor unmoved) when
// they do not all lie before length.
bool getLittleEndian(MessageBuffer* buffer, int32_t size, uint32_t* value) {
  if (!buffer || buffer->readFailed) return false;
  if (left(buffer) < size) {
    buffer->readFailed = true;
    return false;
  }
  uint32_t result = 0;
  for (int32_t i = 0; i < size; ++i) result |= static_cast<uint32_t>(buffer->cursor[i]) << (8 * i);
  buffer->cursor += size;
  *value = result;
  return true;
}

}  // namespace

std::recursive_mutex& bufferLock() { return registry().lock; }

MessageBuffer* createBuffer(int32_t number, int32_t initialCapacity, int32_t extra) {
  if (number < rt::kAnyNumber || number > rt::kMaxNumber) return nullptr;
  int64_t size = static_cast<int64_t>(initialCapacity) + extra;
  if (initialCapacity < 0 || extra < 0 || size > kMaxBufferCapacity) return nullptr;
  // Never a null block, even for an empty message.
  auto* data = static_cast<uint8_t*>(std::calloc(size > 0 ? static_cast<size_t>(size) : 1, 1));
  if (!data) return nullptr;
  auto* buffer = new MessageBuffer;
  buffer->data = data;
  buffer->capacity = initialCapacity;
  buffer->cursor = data;

  Registry& r = registry();
  std::lock_guard lock(r.lock);
  if (number >= 0) {
    auto old = r.byId.find(static_cast<uint32_t>(number));
    if (old != r.byId.end()) destroy(r, old->second);
    buffer->id = static_cast<uint32_t>(number);
  } else {
    buffer->id = rt::newHandle();
  }
  r.all.insert(buffer);
  r.byId[buffer->id] = buffer;
  return buffer;
}

MessageBuffer* findBuffer(uint32_t numberOrHandle) {
  Registry& r = registry();
  std::lock_guard lock(r.lock);
  auto it = r.byId.find(numberOrHandle);
  return it == r.byId.end() ? nullptr : it->second;
}

void freeBuffer(MessageBuffer* buffer) {
  Registry& r = registry();
  std::lock_guard lock(r.lock);
  if (!buffer || !r.all.contains(buffer)) return;
  destroy(r, buffer);
}

size_t bufferCount() {
  Registry& r = registry();
  std::lock_guard lock(r.lock);
  return r.all.size();
}

int putByte(MessageBuffer* buffer, int32_t value) {
  return putLittleEndian(buffer, static_cast<uint32_t>(value), 1);
}

int putWord(MessageBuffer* buffer, int32_t value) {
  return putLittleEndian(buffer, static_cast<uint32_t>(value), 2);
}

int putLong(MessageBuffer* buffer, int32_t value) {
  return putLittleEndian(buffer, static_cast<uint32_t>(value), 4);
}

int putFloat(MessageBuffer* buffer, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return putLittleEndian(buffer, bits, 4);
}

int putString(MessageBuffer* buffer, std::string_view text, int format) {
  if (format != kTextNul) return 0;
  // A NUL inside the text would end it early for the reader and shift every later field.
  text = text.substr(0, text.find('\0'));
  if (!buffer || text.size() >= static_cast<size_t>(kMaxBufferCapacity)) return 0;
  int32_t count = static_cast<int32_t>(text.size());
  if (!ensureRoom(buffer, count + 1)) return 0;
  std::memcpy(buffer->cursor, text.data(), text.size());
  buffer->cursor[count] = 0;
  buffer->cursor += count + 1;
  return 1;
}

int putData(MessageBuffer* buffer, const void* source, int32_t count) {
  return putBytes(buffer, source, count);
}

void rewindBuffer(MessageBuffer* buffer) {
  if (!buffer) return;
  buffer->cursor = buffer->data;
  buffer->readFailed = false;
}

int8_t getByte(MessageBuffer* buffer) {
  uint32_t value = 0;
  getLittleEndian(buffer, 1, &value);
  return static_cast<int8_t>(value);
}

int16_t getWord(MessageBuffer* buffer) {
  uint32_t value = 0;
  getLittleEndian(buffer, 2, &value);
  return static_cast<int16_t>(value);
}

int32_t getLong(MessageBuffer* buffer) {
  uint32_t value = 0;
  getLittleEndian(buffer, 4, &value);
  return static_cast<int32_t>(value);
}

float getFloat(MessageBuffer* buffer) {
  uint32_t bits = 0;
  getLittleEndian(buffer, 4, &bits);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string getString(MessageBuffer* buffer, int format) {
  if (!buffer || buffer->readFailed || format != kTextNul) return {};
  int32_t remaining = left(buffer);
  const void* nul = remaining > 0 ? std::memchr(buffer->cursor, 0, remaining) : nullptr;
  if (!nul) {
    buffer->cursor = buffer->data + buffer->length;
    buffer->readFailed = true;
    return {};
  }
  std::string text(reinterpret_cast<const char*>(buffer->cursor),
                   static_cast<const uint8_t*>(nul) - buffer->cursor);
  buffer->cursor += text.size() + 1;
  return text;
}

int32_t getData(MessageBuffer* buffer, void* destination, int32_t count) {
  if (!buffer || buffer->readFailed || count <= 0 || !destination) return 0;
  int32_t copied = std::min(count, std::max(left(buffer), 0));
  if (copied > 0) std::memcpy(destination, buffer->cursor, static_cast<size_t>(copied));
  buffer->cursor += copied;
  if (copied < count) buffer->readFailed = true;
  return copied;
}
