// Writing data archives, for our content tools; the game only reads them (data/archive.h).
//
// Layout written: the header at offset 0, one block per file in the order they were added, then
// the directory block, whose offset the header names. Each block is packed when that makes it
// smaller and enciphered when it is at least 16 bytes long (the cipher cannot take less); its
// flags say which was done, so empty and tiny entries are simply stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data/archive.h"

struct ArchiveWriteOptions {
  bool pack = true;
  bool encipher = true;
  std::string password = kArchivePassword;
  // Packs every block, also where the packed form comes out larger than its content.
  bool packAlways = false;
};

struct ArchiveWriterFolder {
  std::map<std::string, std::unique_ptr<ArchiveWriterFolder>> folders;
  std::map<std::string, uint64_t> files;  // name -> block offset
};

struct ArchiveWriter {
  ArchiveWriteOptions options;
  std::string key;
  std::vector<uint8_t> bytes;  // the archive as far as it is written
  ArchiveWriterFolder root;
  int32_t error = kArchiveNoError;
  std::string failure;  // what went wrong, for the tool's message
  bool finished = false;
};

// Appends one block (header and stored bytes) for this content to out. Returns the error code
// (0 on success).
int32_t AppendArchiveBlock(std::vector<uint8_t>* out, const uint8_t* content, size_t length,
                           const ArchiveWriteOptions& options, const std::string& key);

void BeginArchive(ArchiveWriter& w, const ArchiveWriteOptions& options);
// Adds a file under its path inside the archive ("Player\Torso.afs"; "/" separates too). Refuses
// empty, "." and ".." components and a path that is already taken.
bool AddArchiveFile(ArchiveWriter& w, const std::string& entryPath, const uint8_t* content,
                    size_t length);
// Writes the directory and the header; w.bytes is then the whole archive.
bool FinishArchive(ArchiveWriter& w);
// Finishes (if needed) and writes the archive to a file, replacing it atomically.
bool SaveArchive(ArchiveWriter& w, const std::string& path);
