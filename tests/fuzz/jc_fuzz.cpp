// The JC unpacker on arbitrary blocks, and the packer on arbitrary content: whatever it packs
// must come back unchanged.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "data/jc_pack.h"
#include "runtime/checksum.h"

namespace {

// Large enough for any block a small input can describe sensibly, small enough to stay fast.
constexpr size_t kMaxCapacity = 256 << 10;

void unpackAsBlock(const uint8_t* data, size_t size) {
  size_t capacity = 0;
  if (size >= 6) {
    uint32_t plain;
    memcpy(&plain, data + 2, 4);
    capacity = plain < kMaxCapacity ? plain : kMaxCapacity;
  }
  // Not zeroed: clearing up to a quarter megabyte an input cost more than the unpacking.
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity + 1]);
  size_t n = rt::jcUnpack(data, size, out.get(), capacity);
  if (n > capacity) abort();
}

void packAndBack(const uint8_t* data, size_t size) {
  std::vector<uint8_t> packed = JcPack(data, size);
  if (size == 0) return;
  std::vector<uint8_t> back(size);
  if (rt::jcUnpack(packed.data(), packed.size(), back.data(), size) != size) abort();
  if (memcmp(back.data(), data, size) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unpackAsBlock(data, size);
  packAndBack(data, size);
  return 0;
}
