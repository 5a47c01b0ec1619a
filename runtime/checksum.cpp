#include "runtime/checksum.h"

#include <nettle/aes.h>
#include <nettle/md5.h>
#include <zlib.h>

#include <cstring>

namespace rt {
namespace {

constexpr size_t kBlock = 16;

// ECB over whole blocks; nettle does the looping.
void encipherBlocks(const aes256_ctx& ctx, const uint8_t* in, uint8_t* out, size_t length) {
  if (length > 0) aes256_encrypt(&ctx, length, out, in);
}

void decipherBlocks(const aes256_ctx& ctx, const uint8_t* in, uint8_t* out, size_t length) {
  if (length > 0) aes256_decrypt(&ctx, length, out, in);
}

}  // namespace

uint32_t crc32(const void* data, size_t length, uint32_t previous) {
  if (!data || length == 0) return previous;
  return static_cast<uint32_t>(
      crc32_z(previous, static_cast<const Bytef*>(data), static_cast<z_size_t>(length)));
}

std::string md5Hex(const void* data, size_t length) {
  md5_ctx ctx;
  md5_init(&ctx);
  if (data && length > 0) md5_update(&ctx, length, static_cast<const uint8_t*>(data));
  uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&ctx, sizeof digest, digest);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * sizeof digest);
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

// The last partial block steals the tail of the block before it, so the output is exactly as
// long as the input and no padding has to be stored.
bool aesDecipherCts(const uint8_t* in, uint8_t* out, size_t length, const uint8_t key[32]) {
  if (!in || !out || !key || length < kBlock) return false;
  aes256_ctx ctx;
  aes256_set_decrypt_key(&ctx, key);
  size_t n = length / kBlock;
  size_t r = length % kBlock;
  if (r == 0) {
    decipherBlocks(ctx, in, out, length);
    return true;
  }
  size_t last = (n - 1) * kBlock;  // the last full block
  decipherBlocks(ctx, in, out, last);
  uint8_t d[kBlock];
  decipherBlocks(ctx, in + last, d, kBlock);
  memcpy(out + n * kBlock, d, r);
  uint8_t joined[kBlock];
  memcpy(joined, in + n * kBlock, r);
  memcpy(joined + r, d + r, kBlock - r);
  decipherBlocks(ctx, joined, out + last, kBlock);
  return true;
}

bool aesEncipherCts(const uint8_t* in, uint8_t* out, size_t length, const uint8_t key[32]) {
  if (!in || !out || !key || length < kBlock) return false;
  aes256_ctx ctx;
  aes256_set_encrypt_key(&ctx, key);
  size_t n = length / kBlock;
  size_t r = length % kBlock;
  if (r == 0) {
    encipherBlocks(ctx, in, out, length);
    return true;
  }
  size_t last = (n - 1) * kBlock;
  encipherBlocks(ctx, in, out, last);
  uint8_t x[kBlock];
  encipherBlocks(ctx, in + last, x, kBlock);
  uint8_t joined[kBlock];
  memcpy(joined, in + n * kBlock, r);
  memcpy(joined + r, x + r, kBlock - r);
  encipherBlocks(ctx, joined, out + last, kBlock);
  memcpy(out + n * kBlock, x, r);
  return true;
}

}  // namespace rt
