// Data archives: one file holding a tree of folders and named files, each file one block that
// may be packed (JC) and enciphered (AES-256, ciphertext stealing) and always carries a CRC-32.
//
// Archives are numbered objects (0..65535, or kAnyNumber for one addressed by its handle). The
// game opens one at a time, reads what it needs and closes it. An archive file may come from
// anywhere, so every size in it is checked before it is trusted: a damaged or crafted archive
// gives error codes and empty results, never a crash or a huge allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/objects.h"

// Every archive of the game is opened with this password.
inline constexpr const char* kArchivePassword = "JK";

// ---- File layout -------------------------------------------------------------------------

inline constexpr size_t kArchiveHeaderSize = 56;
inline constexpr size_t kArchiveBlockHeaderSize = 24;
inline constexpr char kArchiveIdentification[8] = {'C', 'O', 'L', 'L', '2', '0', '\r', '\n'};
// Header: identification, u64 directory offset, u32 flags, 32-character verifier, 4 spare bytes.
inline constexpr size_t kArchiveDirectoryOffsetAt = 8;
inline constexpr size_t kArchiveFlagsAt = 16;
inline constexpr size_t kArchiveVerifierAt = 20;
inline constexpr uint32_t kArchivePacked = 1;      // archive and block flag: JC packed
inline constexpr uint32_t kArchiveEnciphered = 2;  // archive and block flag: enciphered

struct ArchiveBlockHeader {
  uint64_t storedSize = 0;  // bytes after the header; the reader uses the low 32 bits
  uint32_t flags = 0;
  uint64_t unpackedSize = 0;
  uint32_t crc = 0;  // CRC-32 of the stored bytes
};

void EncodeArchiveBlockHeader(const ArchiveBlockHeader& header, uint8_t out[24]);
ArchiveBlockHeader DecodeArchiveBlockHeader(const uint8_t in[24]);

// The key an archive is enciphered with: the lower-case hex MD5 of the password, its 32
// characters used as the AES-256 key bytes. The header's verifier is the MD5 of the key.
std::string ArchiveKey(const std::string& password);
std::string ArchiveVerifier(const std::string& key);

// Limits a block must keep to be read. Larger or stranger blocks are refused before anything is
// allocated for them.
inline constexpr uint64_t kMaxArchiveEntrySize = 256u << 20;
inline constexpr uint64_t kMaxArchiveDirectorySize = 16u << 20;
// A JC block never unpacks to more than this many times its stored size (our packer stays far
// below: its longest match is 65535 bytes in a few bytes of stream).
inline constexpr uint64_t kMaxArchiveExpansion = 32768;
inline constexpr int kMaxArchiveFolderDepth = 64;
inline constexpr size_t kMaxArchiveDirectoryEntries = 65536;

// ---- Errors --------------------------------------------------------------------------------

enum ArchiveErrorCode : int32_t {
  kArchiveNoError = 0,
  kArchiveBadChecksum = 1,    // also: a block header that cannot be right (sizes, limits)
  kArchiveEncipherError = 2,  // writing only
  kArchiveDecipherError = 3,
  kArchivePackError = 4,  // writing only
  kArchiveUnpackError = 5,
  kArchiveWrongPassword = 6,
};

// The German text of an error code (Windows-1252), "" outside 0..6.
std::string ArchiveErrorText(int32_t code);

// ---- Reading -------------------------------------------------------------------------------

// Opens an archive file (a game path such as "Data\GFX.qzd"). Returns the archive's handle, 0
// when the file is missing, is not an archive or the password is wrong (error 6, see
// LastArchiveError). A directory that fails its checks leaves an open archive with no entries.
rt::Handle OpenArchive(int32_t number, const std::string& fileName, const std::string& password);
// The same for an archive held in memory (the bytes are copied).
rt::Handle OpenArchiveMemory(int32_t number, const uint8_t* bytes, size_t length,
                             const std::string& password);
void CloseArchive(uint32_t archive);

// The content of an entry ("Player\Torso.afs"), followed by 8 zero bytes; empty when the entry
// is missing (error code unchanged) or cannot be read (error code set).
std::vector<uint8_t> ReadArchiveEntry(uint32_t archive, const std::string& path);

// Builds the listings of a folder ("" is the current folder, "\" the root). Both listings are
// sorted by name without regard to letter case and stand before their first element.
bool ExamineArchiveFolder(uint32_t archive, const std::string& path);
bool NextArchiveFile(uint32_t archive);         // false at the end of the file listing
std::string ArchiveFileName(uint32_t archive);  // "" outside the listing
// The listed file's block header, read when the folder was examined.
ArchiveBlockHeader ArchiveFileHeader(uint32_t archive);
// The folder listing, for tools (the game walks files only).
bool NextArchiveFolder(uint32_t archive);
std::string ArchiveFolderName(uint32_t archive);

int32_t ArchiveError(uint32_t archive);  // 0 for a missing archive
// The error code of the archive freed last (closed, or failed while opening).
int32_t LastArchiveError();
// Whether the directory was read; false when it failed its checks and the archive is empty.
bool ArchiveDirectoryRead(uint32_t archive);
