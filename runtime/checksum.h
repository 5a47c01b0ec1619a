// Checksums, ciphers and the JC unpacker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rt {

// The standard reflected CRC-32 (as zlib computes it). Pass the previous result to continue.
uint32_t crc32(const void* data, size_t length, uint32_t previous = 0);

// MD5 as 32 lower-case hexadecimal characters.
std::string md5Hex(const void* data, size_t length);
inline std::string md5Hex(const std::string& text) { return md5Hex(text.data(), text.size()); }

// AES-256 in ECB mode with ciphertext stealing. The key is 32 bytes. in and out may not overlap.
// Lengths below 16 fail (false); others of any size work, the last partial block stolen from the
// one before it.
bool aesDecipherCts(const uint8_t* in, uint8_t* out, size_t length, const uint8_t key[32]);
bool aesEncipherCts(const uint8_t* in, uint8_t* out, size_t length, const uint8_t key[32]);

// Unpacks a JC block (signature "JC", u32 plain size, u32 checksum, bit stream) into out.
// Returns the number of bytes written, 0 on failure. Never reads past inLength nor writes past
// outCapacity, whatever the stream says.
size_t jcUnpack(const uint8_t* in, size_t inLength, uint8_t* out, size_t outCapacity);
// The checksum a JC header carries over the unpacked content (0 for lengths below 4).
uint32_t jcChecksum(const uint8_t* data, size_t length);

}  // namespace rt
