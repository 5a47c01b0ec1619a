#include "data/archive.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>

#include "runtime/checksum.h"
#include "runtime/containers.h"
#include "runtime/files.h"
#include "runtime/log.h"

namespace {

// Deeper paths than this are not resolved (each component is one step of recursion).
constexpr int kMaxPathDepth = 256;
// Every directory record takes at least this much: a name's terminator and two counts, or a
// name's terminator and a block offset.
constexpr uint64_t kMinRecordSize = 9;

const char* const kErrorTexts[] = {
    "Kein Fehler",
    "Falsche Pr\374fsumme",
    "Fehler bei der Kodierung",
    "Fehler bei der Dekodierung",
    "Fehler bei der Komprimierung",
    "Fehler bei der Dekomprimierung",
    "Falsches Passwort",
};

struct ArchiveFolder;

struct ArchiveFileEntry {
  ArchiveFolder* parent = nullptr;
  ArchiveBlockHeader header;  // filled when the entry is read or listed
  uint64_t offset = 0;
};

struct ArchiveFolder {
  ArchiveFolder* parent = nullptr;
  std::unordered_map<std::string, std::unique_ptr<ArchiveFolder>> folders;
  std::unordered_map<std::string, ArchiveFileEntry> files;
};

// position 0 stands before the first element, k at element k - 1, size + 1 past the end.
template <class T>
struct Listing {
  std::vector<std::pair<std::string, T*>> items;
  size_t position = 0;
};

std::atomic<int32_t> lastError{kArchiveNoError};

struct Archive {
  rt::Handle self = 0;
  rt::Handle file = 0;
  // An archive held in memory reads from here instead of a file.
  bool inMemory = false;
  std::vector<uint8_t> memory;
  uint64_t memoryCursor = 0;
  std::string key;
  bool modified = false;
  bool readOnly = false;
  uint8_t header[kArchiveHeaderSize] = {};
  ArchiveBlockHeader directory;
  ArchiveFolder root;
  int32_t error = kArchiveNoError;
  ArchiveFolder* current = nullptr;
  Listing<ArchiveFolder> folderListing;
  Listing<ArchiveFileEntry> fileListing;
  bool directoryRead = false;
  std::string name;  // for the log

  Archive() = default;
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  // However an archive goes (closed, replaced, failed while opening), its error code stays
  // behind for LastArchiveError.
  ~Archive() {
    lastError = error;
    if (file) rt::closeFile(file);
  }
};

rt::ObjectTable<Archive>& archives() {
  static rt::ObjectTable<Archive> table;
  return table;
}

uint32_t loadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t loadU64(const uint8_t* p) { return uint64_t(loadU32(p)) | uint64_t(loadU32(p + 4)) << 32; }

void storeU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void storeU64(uint8_t* p, uint64_t v) {
  storeU32(p, uint32_t(v));
  storeU32(p + 4, uint32_t(v >> 32));
}

// ---- Reading bytes -----------------------------------------------------------------------

uint64_t sourceLength(Archive& a) {
  if (a.inMemory) return a.memory.size();
  int64_t length = rt::fileLength(a.file);
  return length > 0 ? uint64_t(length) : 0;
}

bool readAt(Archive& a, uint64_t offset, void* out, size_t length) {
  if (a.inMemory) {
    if (offset > a.memory.size() || length > a.memory.size() - offset) return false;
    if (length > 0) memcpy(out, a.memory.data() + offset, length);
    a.memoryCursor = offset + length;
    return true;
  }
  if (offset > uint64_t(std::numeric_limits<int64_t>::max())) return false;
  if (!rt::seekFile(a.file, int64_t(offset))) return false;
  if (length == 0) return true;
  return rt::readData(a.file, out, int64_t(length)) == int64_t(length);
}

bool readBlockHeader(Archive& a, uint64_t offset, ArchiveBlockHeader* header) {
  uint8_t raw[kArchiveBlockHeaderSize];
  if (!readAt(a, offset, raw, sizeof raw)) return false;
  *header = DecodeArchiveBlockHeader(raw);
  return true;
}

// ---- Blocks --------------------------------------------------------------------------------

// The checks a block header must pass before anything is allocated for it. Returns a reason for
// the log, or null.
const char* implausibleBlock(Archive& a, uint64_t start, const ArchiveBlockHeader& h,
                             uint64_t maxSize) {
  uint64_t stored = h.storedSize & 0xFFFFFFFFu;
  uint64_t length = sourceLength(a);
  if (start > length || stored > length - start) return "stored size beyond the end of the file";
  if (h.unpackedSize > maxSize) return "unpacked size over the limit";
  // A packed block may be larger than its content (a few bytes pack into more), so the stored
  // bytes get a buffer of their own, bounded by the file; the content's buffer is bounded by the
  // limit above and by how far a packed stream can expand.
  if (!(h.flags & kArchivePacked) && stored != h.unpackedSize) {
    return "unpacked block whose sizes differ";
  }
  if ((h.flags & kArchivePacked) && h.unpackedSize > stored * kMaxArchiveExpansion) {
    return "packed block expanding beyond any packer's reach";
  }
  return nullptr;
}

// The JC header must promise exactly the block's unpacked size, checked before the output is
// allocated.
bool jcHeaderFits(const std::vector<uint8_t>& bytes, uint64_t unpackedSize) {
  if (bytes.size() < 10 || bytes[0] != 'J' || bytes[1] != 'C') return false;
  return unpackedSize != 0 && loadU32(bytes.data() + 2) == unpackedSize;
}

// Reads, checks, deciphers and unpacks the block whose stored bytes start at start. On success
// content holds the unpacked size + 8 bytes, the last 8 zero.
int32_t readBlockContent(Archive& a, uint64_t start, const ArchiveBlockHeader& h, uint64_t maxSize,
                         std::vector<uint8_t>* content, const char** reason) {
  if ((*reason = implausibleBlock(a, start, h, maxSize))) return kArchiveBadChecksum;
  size_t stored = size_t(h.storedSize & 0xFFFFFFFFu);
  size_t unpacked = size_t(h.unpackedSize);
  std::vector<uint8_t> bytes(stored);
  if (!readAt(a, start, bytes.data(), stored)) {
    *reason = "stored bytes unreadable";
    return kArchiveBadChecksum;
  }
  if (rt::crc32(bytes.data(), stored) != h.crc) {
    *reason = "CRC-32 mismatch";
    return kArchiveBadChecksum;
  }
  if (h.flags & kArchiveEnciphered) {
    std::vector<uint8_t> plain(stored);
    if (!rt::aesDecipherCts(bytes.data(), plain.data(), stored,
                            reinterpret_cast<const uint8_t*>(a.key.data()))) {
      *reason = "cannot be deciphered";
      return kArchiveDecipherError;
    }
    bytes.swap(plain);
  }
  if (!(h.flags & kArchivePacked)) {
    bytes.resize(unpacked + 8, 0);
    *content = std::move(bytes);
    return kArchiveNoError;
  }
  if (!jcHeaderFits(bytes, h.unpackedSize)) {
    *reason = "JC header does not match the block";
    return kArchiveUnpackError;
  }
  std::vector<uint8_t> out(unpacked + 8, 0);
  if (rt::jcUnpack(bytes.data(), stored, out.data(), unpacked) != unpacked) {
    *reason = "JC stream damaged";
    return kArchiveUnpackError;
  }
  *content = std::move(out);
  return kArchiveNoError;
}

// ---- Directory -----------------------------------------------------------------------------

struct DirectoryCursor {
  const uint8_t* at;
  const uint8_t* end;
  size_t entries = 0;
};

bool readI32(DirectoryCursor& c, int32_t* value) {
  if (c.end - c.at < 4) return false;
  *value = int32_t(loadU32(c.at));
  c.at += 4;
  return true;
}

bool readU64(DirectoryCursor& c, uint64_t* value) {
  if (c.end - c.at < 8) return false;
  *value = loadU64(c.at);
  c.at += 8;
  return true;
}

// A name ends at its zero byte, which must lie inside the block.
bool readName(DirectoryCursor& c, std::string* name) {
  const void* zero = memchr(c.at, 0, size_t(c.end - c.at));
  if (!zero) return false;
  const uint8_t* stop = static_cast<const uint8_t*>(zero);
  name->assign(reinterpret_cast<const char*>(c.at), size_t(stop - c.at));
  c.at = stop + 1;
  return true;
}

bool parseFolder(DirectoryCursor& c, ArchiveFolder& folder, int depth) {
  if (depth > kMaxArchiveFolderDepth) return false;
  int32_t folderCount = 0;
  int32_t fileCount = 0;
  if (!readI32(c, &folderCount) || !readI32(c, &fileCount)) return false;
  uint64_t folders = folderCount < 1 ? 0 : uint64_t(folderCount);
  uint64_t files = fileCount < 1 ? 0 : uint64_t(fileCount);
  // Counts are held against what the block can really contain.
  if ((folders + files) * kMinRecordSize > uint64_t(c.end - c.at)) return false;
  c.entries += size_t(folders + files);
  if (c.entries > kMaxArchiveDirectoryEntries) return false;
  std::string name;
  for (uint64_t i = 0; i < folders; ++i) {
    if (!readName(c, &name)) return false;
    auto child = std::make_unique<ArchiveFolder>();
    child->parent = &folder;
    if (!parseFolder(c, *child, depth + 1)) return false;
    folder.folders.try_emplace(name, std::move(child));  // a repeated name keeps the first
  }
  for (uint64_t i = 0; i < files; ++i) {
    uint64_t offset = 0;
    if (!readName(c, &name) || !readU64(c, &offset)) return false;
    folder.files.try_emplace(name, ArchiveFileEntry{&folder, ArchiveBlockHeader(), offset});
  }
  return true;
}

void readDirectory(Archive& a) {
  uint64_t offset = loadU64(a.header + kArchiveDirectoryOffsetAt);
  if (!readBlockHeader(a, offset, &a.directory)) {
    rt::logLine("DATA", "archive %s: directory header missing", a.name.c_str());
    return;
  }
  std::vector<uint8_t> content;
  const char* reason = nullptr;
  if (readBlockContent(a, offset + kArchiveBlockHeaderSize, a.directory, kMaxArchiveDirectorySize,
                       &content, &reason) != kArchiveNoError) {
    rt::logLine("DATA", "archive %s: directory %s", a.name.c_str(), reason);
    return;
  }
  DirectoryCursor cursor{content.data(), content.data() + a.directory.unpackedSize};
  if (!parseFolder(cursor, a.root, 0)) {
    // Half a directory would be worse than none.
    a.root.folders.clear();
    a.root.files.clear();
    rt::logLine("DATA", "archive %s: directory damaged", a.name.c_str());
    return;
  }
  a.directoryRead = true;
  rt::logLine("DATA", "archive %s opened: %zu entries", a.name.c_str(), cursor.entries);
}

// ---- Opening -------------------------------------------------------------------------------

// Fills the archive from its source; false when it must not stay open.
bool startArchive(Archive& a, const std::string& password) {
  a.key = ArchiveKey(password);
  a.current = &a.root;
  a.readOnly = true;
  if (!readAt(a, 0, a.header, kArchiveHeaderSize) ||
      memcmp(a.header, kArchiveIdentification, sizeof kArchiveIdentification) != 0) {
    rt::logLine("DATA", "archive %s: not an archive", a.name.c_str());
    return false;
  }
  uint32_t flags = loadU32(a.header + kArchiveFlagsAt);
  if (flags & kArchiveEnciphered) {
    std::string verifier(reinterpret_cast<const char*>(a.header + kArchiveVerifierAt), 32);
    if (verifier != ArchiveVerifier(a.key)) {
      a.error = kArchiveWrongPassword;
      rt::logLine("DATA", "archive %s: wrong password", a.name.c_str());
      return false;
    }
  }
  readDirectory(a);
  return true;
}

template <class Source>
rt::Handle createArchive(int32_t number, const std::string& name, const std::string& password,
                         Source attach) {
  rt::Handle handle = archives().create(number, [&]() -> std::unique_ptr<Archive> {
    auto a = std::make_unique<Archive>();
    a->name = name;
    if (!attach(*a)) {
      rt::logLine("DATA", "archive %s: cannot be opened", name.c_str());
      return nullptr;
    }
    if (!startArchive(*a, password)) return nullptr;
    return a;
  });
  if (handle == 0) return 0;
  if (Archive* a = archives().find(handle)) a->self = number >= 0 ? rt::Handle(number) : handle;
  return handle;
}

// ---- Folders -------------------------------------------------------------------------------

ArchiveFolder* resolveFolder(Archive& a, const std::string& path, int depth) {
  if (depth > kMaxPathDepth) return nullptr;
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
  size_t cut = trimmed.find_last_of('\\');
  std::string head = cut == std::string::npos ? "" : trimmed.substr(0, cut + 1);
  std::string last = cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
  ArchiveFolder* start = nullptr;
  if (head == "\\" || path == "\\") {
    start = &a.root;
  } else if (head.empty()) {
    start = a.current;
  } else {
    start = resolveFolder(a, head, depth + 1);
  }
  if (!start) return nullptr;
  if (last == "..") return start->parent;
  if (last.empty()) return start;
  auto it = start->folders.find(last);
  return it == start->folders.end() ? nullptr : it->second.get();
}

ArchiveFileEntry* findEntry(Archive& a, const std::string& path) {
  size_t cut = path.find_last_of('\\');
  std::string folderPart = cut == std::string::npos ? "" : path.substr(0, cut + 1);
  std::string fileName = cut == std::string::npos ? path : path.substr(cut + 1);
  ArchiveFolder* folder = resolveFolder(a, folderPart, 0);
  if (!folder) return nullptr;
  auto it = folder->files.find(fileName);
  return it == folder->files.end() ? nullptr : &it->second;
}

template <class T>
void sortListing(Listing<T>& listing) {
  std::sort(listing.items.begin(), listing.items.end(), [](const auto& x, const auto& y) {
    if (rt::lessNoCase(x.first, y.first)) return true;
    if (rt::lessNoCase(y.first, x.first)) return false;
    return x.first < y.first;  // names that differ only in case keep a fixed order
  });
  listing.position = 0;
}

template <class T>
bool stepListing(Listing<T>& listing) {
  if (listing.position >= listing.items.size()) {
    listing.position = listing.items.size() + 1;
    return false;
  }
  ++listing.position;
  return true;
}

template <class T>
const std::pair<std::string, T*>* listed(const Listing<T>& listing) {
  if (listing.position == 0 || listing.position > listing.items.size()) return nullptr;
  return &listing.items[listing.position - 1];
}

}  // namespace

// ---- Layout helpers ------------------------------------------------------------------------

void EncodeArchiveBlockHeader(const ArchiveBlockHeader& header, uint8_t out[24]) {
  storeU64(out, header.storedSize);
  storeU32(out + 8, header.flags);
  storeU64(out + 12, header.unpackedSize);
  storeU32(out + 20, header.crc);
}

ArchiveBlockHeader DecodeArchiveBlockHeader(const uint8_t in[24]) {
  ArchiveBlockHeader h;
  h.storedSize = loadU64(in);
  h.flags = loadU32(in + 8);
  h.unpackedSize = loadU64(in + 12);
  h.crc = loadU32(in + 20);
  return h;
}

std::string ArchiveKey(const std::string& password) { return rt::md5Hex(password); }

std::string ArchiveVerifier(const std::string& key) { return rt::md5Hex(key); }

std::string ArchiveErrorText(int32_t code) {
  if (code < 0 || code >= int32_t(std::size(kErrorTexts))) return "";
  return kErrorTexts[code];
}

// ---- Reading -------------------------------------------------------------------------------

rt::Handle OpenArchive(int32_t number, const std::string& fileName, const std::string& password) {
  return createArchive(number, fileName, password, [&](Archive& a) {
    a.file = rt::openFile(rt::kAnyNumber, fileName);
    return a.file != 0;
  });
}

rt::Handle OpenArchiveMemory(int32_t number, const uint8_t* bytes, size_t length,
                             const std::string& password) {
  return createArchive(number, "(memory)", password, [&](Archive& a) {
    if (!bytes && length > 0) return false;
    a.inMemory = true;
    if (length > 0) a.memory.assign(bytes, bytes + length);
    return true;
  });
}

void CloseArchive(uint32_t archive) { archives().free(archive); }

std::vector<uint8_t> ReadArchiveEntry(uint32_t archive, const std::string& path) {
  Archive* a = archives().find(archive);
  if (!a) return {};
  ArchiveFileEntry* entry = findEntry(*a, path);
  if (!entry) return {};
  std::vector<uint8_t> content;
  const char* reason = "block header missing";
  int32_t error = kArchiveBadChecksum;
  if (readBlockHeader(*a, entry->offset, &entry->header)) {
    error = readBlockContent(*a, entry->offset + kArchiveBlockHeaderSize, entry->header,
                             kMaxArchiveEntrySize, &content, &reason);
  }
  if (error != kArchiveNoError) {
    a->error = error;
    rt::logLine("DATA", "archive %s: entry %s: %s", a->name.c_str(), path.c_str(), reason);
    return {};
  }
  return content;
}

bool ExamineArchiveFolder(uint32_t archive, const std::string& path) {
  Archive* a = archives().find(archive);
  if (!a) return false;
  ArchiveFolder* folder = resolveFolder(*a, path, 0);
  if (!folder) return false;
  a->folderListing.items.clear();
  a->fileListing.items.clear();
  for (auto& [name, child] : folder->folders)
    a->folderListing.items.emplace_back(name, child.get());
  for (auto& [name, entry] : folder->files) {
    if (!readBlockHeader(*a, entry.offset, &entry.header)) entry.header = ArchiveBlockHeader();
    a->fileListing.items.emplace_back(name, &entry);
  }
  sortListing(a->folderListing);
  sortListing(a->fileListing);
  return true;
}

bool NextArchiveFile(uint32_t archive) {
  Archive* a = archives().find(archive);
  return a && stepListing(a->fileListing);
}

std::string ArchiveFileName(uint32_t archive) {
  Archive* a = archives().find(archive);
  if (!a) return "";
  auto* item = listed(a->fileListing);
  return item ? item->first : "";
}

ArchiveBlockHeader ArchiveFileHeader(uint32_t archive) {
  Archive* a = archives().find(archive);
  if (!a) return {};
  auto* item = listed(a->fileListing);
  return item ? item->second->header : ArchiveBlockHeader();
}

bool NextArchiveFolder(uint32_t archive) {
  Archive* a = archives().find(archive);
  return a && stepListing(a->folderListing);
}

std::string ArchiveFolderName(uint32_t archive) {
  Archive* a = archives().find(archive);
  if (!a) return "";
  auto* item = listed(a->folderListing);
  return item ? item->first : "";
}

int32_t ArchiveError(uint32_t archive) {
  Archive* a = archives().find(archive);
  return a ? a->error : kArchiveNoError;
}

int32_t LastArchiveError() { return lastError; }

bool ArchiveDirectoryRead(uint32_t archive) {
  Archive* a = archives().find(archive);
  return a && a->directoryRead;
}
