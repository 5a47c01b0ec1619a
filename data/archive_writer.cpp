#include "data/archive_writer.h"

#include <cstring>

#include "data/jc_pack.h"
#include "runtime/checksum.h"
#include "runtime/files.h"

namespace {

constexpr size_t kCipherBlock = 16;

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void putU64(std::vector<uint8_t>& out, uint64_t v) {
  putU32(out, uint32_t(v));
  putU32(out, uint32_t(v >> 32));
}

void putName(std::vector<uint8_t>& out, const std::string& name) {
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
}

void putFolder(std::vector<uint8_t>& out, const ArchiveWriterFolder& folder) {
  putU32(out, uint32_t(folder.folders.size()));
  putU32(out, uint32_t(folder.files.size()));
  for (const auto& [name, child] : folder.folders) {
    putName(out, name);
    putFolder(out, *child);
  }
  for (const auto& [name, offset] : folder.files) {
    putName(out, name);
    putU64(out, offset);
  }
}

size_t countEntries(const ArchiveWriterFolder& folder) {
  size_t count = folder.folders.size() + folder.files.size();
  for (const auto& [name, child] : folder.folders) count += countEntries(*child);
  return count;
}

std::vector<std::string> splitEntryPath(const std::string& path) {
  std::vector<std::string> parts(1);
  for (char c : path) {
    if (c == '\\' || c == '/') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

bool validComponent(const std::string& part) {
  return !part.empty() && part != "." && part != ".." && part.find('\0') == std::string::npos;
}

bool fail(ArchiveWriter& w, int32_t error, const std::string& why) {
  if (w.error == kArchiveNoError) w.error = error;
  if (w.failure.empty()) w.failure = why;
  return false;
}

// The folder that will hold the entry, created as needed; null when the path is unusable.
ArchiveWriterFolder* folderFor(ArchiveWriter& w, const std::vector<std::string>& parts) {
  ArchiveWriterFolder* folder = &w.root;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    auto& child = folder->folders[parts[i]];
    if (!child) child = std::make_unique<ArchiveWriterFolder>();
    folder = child.get();
  }
  return folder;
}

}  // namespace

int32_t AppendArchiveBlock(std::vector<uint8_t>* out, const uint8_t* content, size_t length,
                           const ArchiveWriteOptions& options, const std::string& key) {
  if (length > kMaxArchiveEntrySize || (!content && length > 0)) return kArchivePackError;
  ArchiveBlockHeader header;
  header.unpackedSize = length;
  std::vector<uint8_t> stored(content, content + length);
  // Packing must pay for itself; incompressible content (pictures, sounds) is stored as it is.
  if ((options.pack || options.packAlways) && length > 0) {
    std::vector<uint8_t> packed = JcPack(content, length);
    if (packed.empty()) return kArchivePackError;
    if (packed.size() < length || options.packAlways) {
      stored.swap(packed);
      header.flags |= kArchivePacked;
    }
  }
  if (options.encipher && key.size() == 32 && stored.size() >= kCipherBlock) {
    std::vector<uint8_t> sealed(stored.size());
    if (!rt::aesEncipherCts(stored.data(), sealed.data(), stored.size(),
                            reinterpret_cast<const uint8_t*>(key.data()))) {
      return kArchiveEncipherError;
    }
    stored.swap(sealed);
    header.flags |= kArchiveEnciphered;
  }
  header.storedSize = stored.size();
  header.crc = rt::crc32(stored.data(), stored.size());
  uint8_t raw[kArchiveBlockHeaderSize];
  EncodeArchiveBlockHeader(header, raw);
  out->insert(out->end(), raw, raw + sizeof raw);
  out->insert(out->end(), stored.begin(), stored.end());
  return kArchiveNoError;
}

void BeginArchive(ArchiveWriter& w, const ArchiveWriteOptions& options) {
  w.options = options;
  w.key = ArchiveKey(options.password);
  w.bytes.assign(kArchiveHeaderSize, 0);
  w.root = ArchiveWriterFolder();
  w.error = kArchiveNoError;
  w.failure.clear();
  w.finished = false;
}

bool AddArchiveFile(ArchiveWriter& w, const std::string& entryPath, const uint8_t* content,
                    size_t length) {
  if (w.finished) return fail(w, kArchiveNoError, "archive already finished");
  std::vector<std::string> parts = splitEntryPath(entryPath);
  for (const std::string& part : parts) {
    if (!validComponent(part)) return fail(w, kArchiveNoError, "unusable entry path " + entryPath);
  }
  if (parts.size() - 1 > size_t(kMaxArchiveFolderDepth)) {
    return fail(w, kArchiveNoError, "folders nested too deep: " + entryPath);
  }
  ArchiveWriterFolder* folder = folderFor(w, parts);
  if (folder->files.count(parts.back())) {
    return fail(w, kArchiveNoError, "entry added twice: " + entryPath);
  }
  uint64_t offset = w.bytes.size();
  int32_t error =
      AppendArchiveBlock(&w.bytes, content, length, w.options, w.key);
  if (error != kArchiveNoError) {
    w.bytes.resize(offset);
    return fail(w, error, ArchiveErrorText(error) + ": " + entryPath);
  }
  folder->files[parts.back()] = offset;
  return true;
}

bool FinishArchive(ArchiveWriter& w) {
  if (w.finished) return w.error == kArchiveNoError && w.failure.empty();
  std::vector<uint8_t> directory;
  putFolder(directory, w.root);
  // What the reader would refuse is not written.
  if (countEntries(w.root) > kMaxArchiveDirectoryEntries ||
      directory.size() > kMaxArchiveDirectorySize) {
    return fail(w, kArchiveNoError, "too many entries for one archive");
  }
  uint64_t directoryOffset = w.bytes.size();
  int32_t error =
      AppendArchiveBlock(&w.bytes, directory.data(), directory.size(), w.options, w.key);
  if (error != kArchiveNoError) return fail(w, error, ArchiveErrorText(error) + ": directory");
  uint8_t* header = w.bytes.data();
  memcpy(header, kArchiveIdentification, sizeof kArchiveIdentification);
  for (int i = 0; i < 8; ++i)
    header[kArchiveDirectoryOffsetAt + i] = uint8_t(directoryOffset >> (8 * i));
  uint32_t flags =
      (w.options.pack || w.options.packAlways ? kArchivePacked : 0) | (w.options.encipher ? kArchiveEnciphered : 0);
  for (int i = 0; i < 4; ++i) header[kArchiveFlagsAt + i] = uint8_t(flags >> (8 * i));
  std::string verifier = ArchiveVerifier(w.key);
  memcpy(header + kArchiveVerifierAt, verifier.data(), 32);
  w.finished = true;
  return w.error == kArchiveNoError && w.failure.empty();
}

bool SaveArchive(ArchiveWriter& w, const std::string& path) {
  if (!FinishArchive(w)) return false;
  if (!rt::writeFileAtomically(path, w.bytes.data(), w.bytes.size())) {
    return fail(w, kArchiveNoError, "cannot write " + path);
  }
  return true;
}
