#include "net/message_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// A buffer holding exactly these bytes, cursor at the start, as the transport hands one over.
MessageBuffer* received(const std::string& bytes) {
  MessageBuffer* b = createBuffer(-1, static_cast<int32_t>(bytes.size()), 0);
  putData(b, bytes.data(), static_cast<int32_t>(bytes.size()));
  rewindBuffer(b);
  return b;
}

TEST(MessageBuffer, GrowsByRequestPlus2048) {
  std::vector<uint8_t> bytes(2049, 7);
  MessageBuffer* whole = createBuffer(-1, 2048, 0);
  EXPECT_EQ(putData(whole, bytes.data(), 2049), 1);
  EXPECT_EQ(whole->capacity, 4097);
  EXPECT_EQ(whole->length, 2049);
  EXPECT_EQ(whole->cursor - whole->data, 2049);

  MessageBuffer* piecewise = createBuffer(-1, 2048, 16);
  EXPECT_EQ(piecewise->capacity, 2048);  // the extra bytes do not count
  for (int i = 1; i <= 2049; ++i) putByte(piecewise, i);
  EXPECT_EQ(piecewise->capacity, 4097);
  EXPECT_EQ(piecewise->length, 2049);
  EXPECT_EQ(piecewise->data[2048], 2049 & 0xFF);
  freeBuffer(whole);
  freeBuffer(piecewise);
}

TEST(MessageBuffer, FailedGrowthLeavesBufferIntact) {
  MessageBuffer* b = createBuffer(-1, 16, 0);
  putLong(b, 42);
  uint8_t source[4] = {};
  EXPECT_EQ(putData(b, source, kMaxBufferCapacity), 0);
  EXPECT_EQ(putData(b, source, -1), 0);
  EXPECT_EQ(b->capacity, 16);
  EXPECT_EQ(b->length, 4);
  EXPECT_EQ(b->cursor - b->data, 4);
  rewindBuffer(b);
  EXPECT_EQ(getLong(b), 42);
  freeBuffer(b);
}

TEST(MessageBuffer, ValuesAreLittleEndianAndRoundTrip) {
  MessageBuffer* b = createBuffer(1, 2048, 0);
  putByte(b, -3);
  putWord(b, -2);
  putLong(b, 0x01020304);
  putFloat(b, 1.5f);
  putString(b, "Bob");
  putString(b, "");
  EXPECT_EQ(b->length, 1 + 2 + 4 + 4 + 4 + 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b->data), 7),
            std::string("\xFD\xFE\xFF\x04\x03\x02\x01", 7));

  rewindBuffer(b);
  EXPECT_EQ(getByte(b), -3);
  EXPECT_EQ(getWord(b), -2);
  EXPECT_EQ(getLong(b), 0x01020304);
  EXPECT_EQ(getFloat(b), 1.5f);
  EXPECT_EQ(getString(b), "Bob");
  EXPECT_EQ(b->cursor - b->data, b->length - 1);  // the empty text is its NUL alone
  EXPECT_EQ(getString(b), "");
  EXPECT_EQ(b->cursor - b->data, b->length);

  // A NUL inside a text would shift every later field for the reader.
  uint8_t* at = b->cursor;
  putString(b, std::string("ab\0cd", 5));
  putLong(b, 9);
  b->cursor = at;
  EXPECT_EQ(getString(b), "ab");
  EXPECT_EQ(getLong(b), 9);
  EXPECT_EQ(putString(b, "x", 0), 0);  // no other text format is known
  freeBuffer(b);
}

TEST(MessageBuffer, AShortReadGivesZeroAndEveryReadAfterItToo) {
  MessageBuffer* b = received("\x01\x02\x03");
  EXPECT_EQ(getWord(b), 0x0201);
  EXPECT_FALSE(b->readFailed);
  EXPECT_EQ(getLong(b), 0);
  EXPECT_TRUE(b->readFailed);
  EXPECT_EQ(b->cursor, b->data + 2);
  // The byte that is there is not read after the failure: the fields would be mixed up.
  EXPECT_EQ(getByte(b), 0);
  EXPECT_EQ(getString(b), "");
  rewindBuffer(b);
  EXPECT_FALSE(b->readFailed);
  EXPECT_EQ(getWord(b), 0x0201);
  EXPECT_EQ(getByte(b), 3);
  EXPECT_FALSE(b->readFailed);
  freeBuffer(b);

  b = received("abc");  // no NUL before the end
  EXPECT_EQ(getString(b), "");
  EXPECT_EQ(b->cursor, b->data + 3);
  EXPECT_TRUE(b->readFailed);
  freeBuffer(b);

  b = received("12345");
  char out[8] = {};
  getByte(b);
  EXPECT_EQ(getData(b, out, 8), 4);
  EXPECT_EQ(std::string(out), "2345");
  EXPECT_TRUE(b->readFailed);
  EXPECT_EQ(getData(b, out, 8), 0);
  freeBuffer(b);
}

TEST(MessageBuffer, NumbersAndHandles) {
  size_t before = bufferCount();
  MessageBuffer* first = createBuffer(1, 2048, 0);
  putLong(first, 1);
  MessageBuffer* second = createBuffer(1, 2048, 0);  // frees the unsent first
  EXPECT_EQ(findBuffer(1), second);
  EXPECT_EQ(second->length, 0);
  EXPECT_EQ(bufferCount(), before + 1);

  EXPECT_EQ(createBuffer(65536, 2048, 0), nullptr);
  EXPECT_EQ(createBuffer(-2, 2048, 0), nullptr);
  EXPECT_EQ(createBuffer(2, -1, 0), nullptr);
  EXPECT_EQ(bufferCount(), before + 1);

  MessageBuffer* top = createBuffer(65535, 0, 0);
  MessageBuffer* anonymous = createBuffer(-1, 2048, 0);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->id, 65535u);
  EXPECT_NE(anonymous->id >> 16, 0u);
  uint32_t handle = anonymous->id;
  EXPECT_EQ(findBuffer(handle), anonymous);

  freeBuffer(second);
  freeBuffer(second);  // already gone: ignored
  freeBuffer(nullptr);
  EXPECT_EQ(findBuffer(1), nullptr);
  freeBuffer(top);
  freeBuffer(anonymous);
  EXPECT_EQ(findBuffer(handle), nullptr);
  EXPECT_EQ(bufferCount(), before);
}

// The server search builds buffers on its own threads while the main thread replaces its
// numbered ones.
TEST(MessageBuffer, RegistryIsSharedAcrossThreads) {
  size_t before = bufferCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) {
        MessageBuffer* b = createBuffer(t == 0 ? 7 : -1, 16, 0);
        putString(b, "server");
        if (t != 0) freeBuffer(b);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(bufferCount(), before + 1);
  freeBuffer(findBuffer(7));
  EXPECT_EQ(bufferCount(), before);
}

}  // namespace
