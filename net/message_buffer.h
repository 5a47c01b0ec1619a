// Message buffers: every network message is built in, and read from, one growable block of bytes
// with a single cursor. Values are little-endian without alignment or type tags; the reader must
// know the order the sender used.
//
// Buffers live in one registry shared by all threads (the server search builds its own on its
// threads). A buffer is addressed by a number 0..65535 chosen by the caller (1 for reliable
// messages, 2 for the position message) or, when created with kAnyNumber, by its own handle.
// Creating, finding and freeing take the buffer lock; puts and gets on a buffer that one thread
// owns take none.
//
// Reads past the end never fail loudly: numbers read as 0, texts as empty, so a short message
// from a peer is harmless. The first read that runs short marks the buffer, and from then on every
// read gives 0 or empty text, so a reader takes its fields and checks readFailed once at the end.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

struct MessageBuffer {
  uint32_t id = 0;            // the number it was created under, or its own handle
  uint8_t* data = nullptr;    // the storage; never null while the buffer lives
  int32_t capacity = 0;       // bytes usable in data
  uint8_t* cursor = nullptr;  // next write or read; data <= cursor <= data + capacity
  int32_t length = 0;         // end of the furthest write, or the length of a received message
  bool readFailed = false;    // a read ran past length; cleared only by rewindBuffer
};

// A put that would take a buffer past this many bytes fails and leaves the buffer as it was.
inline constexpr int32_t kMaxBufferCapacity = 64 << 20;
// Every put grows a full buffer by what it needs plus this much.
inline constexpr int32_t kBufferGrowth = 2048;
// The only text form the game writes and reads: the bytes, then one NUL.
inline constexpr int kTextNul = -1;

// number: rt::kAnyNumber (-1) for a new handle, or 0..65535, which replaces and frees any buffer of
// that number. Allocates initialCapacity + extra bytes, of which initialCapacity count as
// capacity. Null for a number above 65535, negative sizes or a failed allocation.
MessageBuffer* createBuffer(int32_t number, int32_t initialCapacity, int32_t extra);
// The live buffer of a number or handle, or null.
MessageBuffer* findBuffer(uint32_t numberOrHandle);
// Removes the buffer from the registry and frees it. Does nothing for null or a buffer that is
// no longer registered.
void freeBuffer(MessageBuffer* buffer);
// Buffers alive in the registry.
size_t bufferCount();
// The buffer lock. Recursive, so that the transport may hold it while it creates and frees.
std::recursive_mutex& bufferLock();

// Writes at the cursor, growing the buffer when needed. 1 on success; 0 (nothing written) for a
// null buffer or when the buffer cannot grow.
int putByte(MessageBuffer* buffer, int32_t value);
int putWord(MessageBuffer* buffer, int32_t value);
int putLong(MessageBuffer* buffer, int32_t value);
int putFloat(MessageBuffer* buffer, float value);
// Writes the text up to its first NUL, then a NUL. Only kTextNul is a known format.
int putString(MessageBuffer* buffer, std::string_view text, int format = kTextNul);
int putData(MessageBuffer* buffer, const void* source, int32_t count);

// The cursor back to the first byte, for reading a message (again) from its start; clears
// readFailed.
void rewindBuffer(MessageBuffer* buffer);

// Each returns the value and advances the cursor when all its bytes lie before length and no read
// has failed yet; otherwise 0, the cursor stays and readFailed is set.
int8_t getByte(MessageBuffer* buffer);
int16_t getWord(MessageBuffer* buffer);
int32_t getLong(MessageBuffer* buffer);
float getFloat(MessageBuffer* buffer);
// The NUL-terminated text at the cursor, which moves past the NUL. When no NUL comes before
// length: an empty text, the cursor moves to length and readFailed is set.
std::string getString(MessageBuffer* buffer, int format = kTextNul);
// Copies count bytes, or the fewer left before length; advances by and returns the bytes copied.
// Fewer than count set readFailed.
int32_t getData(MessageBuffer* buffer, void* destination, int32_t count);
