// Archive blocks past their CRC check: the input becomes the stored bytes of one entry and the
// content of the directory, and the CRCs are set to match, so the fuzzer reaches deciphering,
// unpacking and directory parsing instead of stopping at the checksum.
//
// Input: [0] block flags, [1..4] unpacked size, [5..6] directory length L, L directory bytes,
// then the entry's stored bytes.
#include <cstring>
#include <string>
#include <vector>

#include "data/archive.h"
#include "runtime/checksum.h"

namespace {

uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putBlock(std::vector<uint8_t>& out, uint32_t flags, uint64_t unpacked, const uint8_t* bytes,
              size_t length) {
  ArchiveBlockHeader h;
  h.storedSize = length;
  h.flags = flags;
  h.unpackedSize = unpacked;
  h.crc = rt::crc32(bytes, length);
  uint8_t raw[kArchiveBlockHeaderSize];
  EncodeArchiveBlockHeader(h, raw);
  out.insert(out.end(), raw, raw + sizeof raw);
  out.insert(out.end(), bytes, bytes + length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 7) return 0;
  uint32_t flags = data[0] & 3;
  uint32_t unpacked = load32(data + 1);
  size_t directoryLength = size_t(data[5]) | size_t(data[6]) << 8;
  if (directoryLength > size - 7) return 0;
  const uint8_t* directory = data + 7;
  const uint8_t* stored = directory + directoryLength;
  size_t storedLength = size - 7 - directoryLength;

  std::vector<uint8_t> archive(kArchiveHeaderSize, 0);
  putBlock(archive, flags, unpacked, stored, storedLength);
  uint64_t directoryOffset = archive.size();
  putBlock(archive, 0, directoryLength, directory, directoryLength);
  memcpy(archive.data(), kArchiveIdentification, sizeof kArchiveIdentification);
  for (int i = 0; i < 8; ++i)
    archive[kArchiveDirectoryOffsetAt + i] = uint8_t(directoryOffset >> (8 * i));
  archive[kArchiveFlagsAt] = kArchiveEnciphered;
  std::string verifier = ArchiveVerifier(ArchiveKey(kArchivePassword));
  memcpy(archive.data() + kArchiveVerifierAt, verifier.data(), 32);

  if (!OpenArchiveMemory(0, archive.data(), archive.size(), kArchivePassword)) return 0;
  if (ExamineArchiveFolder(0, "")) {
    while (NextArchiveFile(0)) ReadArchiveEntry(0, ArchiveFileName(0));
  }
  CloseArchive(0);
  return 0;
}
