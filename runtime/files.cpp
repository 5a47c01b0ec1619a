#include "runtime/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "runtime/checksum.h"
#include "runtime/containers.h"
#include "runtime/log.h"

namespace rt {
namespace {

// Big enough that the map loader's byte-by-byte reads almost never reach the kernel.
constexpr size_t kBufferSize = 64 * 1024;
// A line longer than this keeps its first part; the rest up to the terminator is skipped, so a
// binary file read as text cannot make one huge string.
constexpr size_t kMaxLine = 1 << 20;

std::string& rootFolder() {
  static std::string root;
  return root;
}

// ---- Paths -------------------------------------------------------------------------------

bool pathExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool isFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string parentFolder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    if (end > begin) parts.push_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

// The entry of folder whose name equals name without regard to case; "" when none. Several
// candidates (possible on a case-sensitive disk) resolve to the lowest in byte order.
std::string findNoCase(const std::string& folder, const std::string& name) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return "";
  std::string best;
  while (dirent* entry = readdir(dir)) {
    std::string candidate = entry->d_name;
    if (!equalNoCase(candidate, name)) continue;
    if (best.empty() || candidate < best) best = candidate;
  }
  closedir(dir);
  return best;
}

// Walks the path one component at a time, taking the exact name when it exists and otherwise
// the entry that differs only in letter case. Components that exist in no form are kept as
// given, so a file about to be created lands in the folder that does exist.
std::string resolveCase(const std::string& path) {
  bool absolute = !path.empty() && path[0] == '/';
  bool trailing = !path.empty() && path.back() == '/';
  std::string done = absolute ? "/" : "";
  std::vector<std::string> parts = splitPath(path);
  bool lost = false;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    std::string name = part;
    if (!lost && part != "." && part != ".." && !pathExists(done + part)) {
      std::string found = findNoCase(done.empty() ? "." : done, part);
      if (found.empty()) {
        lost = true;
      } else {
        name = found;
      }
    }
    done += name;
    if (i + 1 < parts.size() || trailing) done += '/';
  }
  return done;
}

std::string absoluteFolder(const std::string& folder) {
  std::string path = replaceString(folder, "\\", "/");
  if (path.empty()) path = ".";
  if (path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}


// ---- File objects ------------------------------------------------------------------------

struct File {
  int fd = -1;
  bool writable = false;
  int64_t position = 0;
  // Read cache: the bytes [cacheStart, cacheStart + cacheLength) of the file.
  std::vector<uint8_t> cache;
  int64_t cacheStart = 0;
  size_t cacheLength = 0;
  // Writes not yet handed to the kernel, to go at pendingStart.
  std::vector<uint8_t> pending;
  int64_t pendingStart = 0;
  bool writeFailed = false;

  ~File();
};

bool writeAllAt(int fd, const uint8_t* data, size_t length, int64_t offset) {
  while (length > 0) {
    ssize_t n = pwrite(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

ssize_t readAt(int fd, uint8_t* data, size_t length, int64_t offset) {
  for (;;) {
    ssize_t n = pread(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool flushPending(File& f) {
  if (f.pending.empty()) return true;
  bool ok = writeAllAt(f.fd, f.pending.data(), f.pending.size(), f.pendingStart);
  f.pending.clear();
  if (!ok) {
    f.writeFailed = true;
    logLine("FILES", "write failed: %s", strerror(errno));
  }
  return ok;
}

File::~File() {
  flushPending(*this);
  if (fd >= 0) close(fd);
}

bool cached(const File& f) {
  return f.position >= f.cacheStart &&
         f.position < f.cacheStart + static_cast<int64_t>(f.cacheLength);
}

// Makes the byte at the position available in the cache; false at the end of the file.
bool fillCache(File& f) {
  if (cached(f)) return true;
  flushPending(f);
  f.cacheLength = 0;
  if (f.cache.empty()) f.cache.resize(kBufferSize);
  ssize_t n = readAt(f.fd, f.cache.data(), f.cache.size(), f.position);
  if (n <= 0) return false;
  f.cacheStart = f.position;
  f.cacheLength = static_cast<size_t>(n);
  return true;
}

int peekByte(File& f) {
  if (!fillCache(f)) return -1;
  return f.cache[static_cast<size_t>(f.position - f.cacheStart)];
}

size_t readBytes(File& f, uint8_t* out, size_t length) {
  size_t done = 0;
  while (done < length) {
    if (!cached(f) && length - done >= kBufferSize) {
      // Large reads go straight into the caller's buffer.
      flushPending(f);
      ssize_t n = readAt(f.fd, out + done, length - done, f.position);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
      f.position += n;
      continue;
    }
    if (!fillCache(f)) break;
    size_t offset = static_cast<size_t>(f.position - f.cacheStart);
    size_t take = std::min(f.cacheLength - offset, length - done);
    memcpy(out + done, f.cache.data() + offset, take);
    done += take;
    f.position += static_cast<int64_t>(take);
  }
  return done;
}

size_t writeBytes(File& f, const uint8_t* data, size_t length) {
  if (!f.writable || length == 0) return 0;
  f.cacheLength = 0;
  bool follows = f.position == f.pendingStart + static_cast<int64_t>(f.pending.size());
  if (!f.pending.empty() && (!follows || f.pending.size() + length > kBufferSize)) {
    flushPending(f);
  }
  if (length >= kBufferSize) {
    if (!writeAllAt(f.fd, data, length, f.position)) {
      f.writeFailed = true;
      return 0;
    }
    f.position += static_cast<int64_t>(length);
    return length;
  }
  if (f.pending.empty()) f.pendingStart = f.position;
  f.pending.insert(f.pending.end(), data, data + length);
  f.position += static_cast<int64_t>(length);
  return length;
}

int64_t lengthOf(File& f) {
  struct stat st;
  int64_t length = fstat(f.fd, &st) == 0 ? st.st_size : 0;
  int64_t pendingEnd = f.pendingStart + static_cast<int64_t>(f.pending.size());
  return f.pending.empty() ? length : std::max(length, pendingEnd);
}

// Opens a regular file only: a folder or a device under a game path is refused, and a FIFO
// cannot block the open.
int openRegular(const std::string& native, int flags) {
  int fd = open(native.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

ObjectTable<File>& files() {
  static ObjectTable<File> table;
  return table;
}

Handle makeFile(int32_t number, const std::string& path, int flags, bool writable) {
  std::string native = nativePath(path);
  return files().create(number, [&]() -> std::unique_ptr<File> {
    int fd = openRegular(native, flags);
    if (fd < 0) return nullptr;
    auto f = std::make_unique<File>();
    f->fd = fd;
    f->writable = writable;
    return f;
  });
}

// Reads size bytes as a little-endian value; a value cut short by the end of the file is 0.
template <class T>
T readValue(uint32_t file) {
  File* f = files().find(file);
  if (!f) return 0;
  uint8_t bytes[sizeof(T)];
  if (readBytes(*f, bytes, sizeof bytes) != sizeof bytes) return 0;
  uint64_t bits = 0;
  for (size_t i = 0; i < sizeof bytes; ++i) bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  T value;
  if constexpr (sizeof(T) == 4) {
    uint32_t word = static_cast<uint32_t>(bits);
    memcpy(&value, &word, sizeof value);
  } else {
    value = static_cast<T>(bits);
  }
  return value;
}

// ---- Directories -------------------------------------------------------------------------

struct DirectoryEntry {
  std::string name;
  bool folder = false;
};

struct Directory {
  std::vector<DirectoryEntry> entries;
  size_t next = 0;  // entries[next - 1] is current; 0 = before the first
};

ObjectTable<Directory>& directories() {
  static ObjectTable<Directory> table;
  return table;
}

bool entryIsFolder(const std::string& folder, const dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
  return isFolder(folder + "/" + entry->d_name);
}

std::unique_ptr<Directory> listFolder(const std::string& native, const std::string& pattern) {
  DIR* dir = opendir(native.c_str());
  if (!dir) return nullptr;
  auto listing = std::make_unique<Directory>();
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || !wildcardMatch(pattern, name)) continue;
    listing->entries.push_back({name, entryIsFolder(native, entry)});
  }
  closedir(dir);
  std::sort(listing->entries.begin(), listing->entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) {
              if (lessNoCase(a.name, b.name)) return true;
              if (lessNoCase(b.name, a.name)) return false;
              return a.name < b.name;
            });
  return listing;
}

const DirectoryEntry* currentEntry(uint32_t directory) {
  Directory* d = directories().find(directory);
  if (!d || d->next == 0 || d->next > d->entries.size()) return nullptr;
  return &d->entries[d->next - 1];
}

}  // namespace

std::string executableFolder(const char* argv0) {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) return parentFolder(std::string(buffer, static_cast<size_t>(n)));
  if (argv0 && *argv0) {
    if (char* real = realpath(argv0, nullptr)) {
      std::string folder = parentFolder(real);
      ::free(real);
      return folder;
    }
  }
  return absoluteFolder(".");
}

// ---- Data root and paths -----------------------------------------------------------------

void setDataRoot(const std::string& folder) { rootFolder() = absoluteFolder(folder); }

const std::string& dataRoot() { return rootFolder(); }

void initDataRoot(const char* argv0) {
  const char* forced = getenv("POWDERBOX_DATA");
  if (forced && *forced) {
    setDataRoot(forced);
    return;
  }
  auto holdsData = [](const std::string& folder) {
    std::string data = findNoCase(folder, "Data");
    return !data.empty() && isFolder(folder + "/" + data);
  };
  std::string home = executableFolder(argv0);
  // An installed program keeps its data in <prefix>/share/powderbox beside <prefix>/bin. This
  // comes before the walk up, which could otherwise find a build tree above a staged install.
  std::string installed = parentFolder(home) + "/share/powderbox";
  if (!holdsData(home) && holdsData(installed)) {
    setDataRoot(installed);
    return;
  }
  for (std::string folder = home;; folder = parentFolder(folder)) {
    if (holdsData(folder)) {
      setDataRoot(folder);
      return;
    }
    if (folder == "/" || folder == ".") break;
  }
  setDataRoot(home);
}

std::string nativePath(const std::string& gamePath) {
  std::string path = replaceString(gamePath, "\\", "/");
  if (path.empty() || path[0] != '/') {
    const std::string& root = dataRoot();
    if (!root.empty()) path = root == "/" ? "/" + path : root + "/" + path;
  }
  if (path.empty() || pathExists(path)) return path;
  return resolveCase(path);
}

// ---- Files -------------------------------------------------------------------------------

Handle openFile(int32_t number, const std::string& path) {
  return makeFile(number, path, O_RDONLY, false);
}

Handle createFile(int32_t number, const std::string& path) {
  return makeFile(number, path, O_RDWR | O_CREAT | O_TRUNC, true);
}

void closeFile(uint32_t file) { files().free(file); }

bool fileOpen(uint32_t file) { return files().exists(file); }

int64_t readData(uint32_t file, void* buffer, int64_t length) {
  File* f = files().find(file);
  if (!f || !buffer || length <= 0) return 0;
  return static_cast<int64_t>(readBytes(*f, static_cast<uint8_t*>(buffer),
                                        static_cast<size_t>(length)));
}

int8_t readByte(uint32_t file) { return readValue<int8_t>(file); }
uint8_t readUByte(uint32_t file) { return readValue<uint8_t>(file); }
int16_t readWord(uint32_t file) { return readValue<int16_t>(file); }
int32_t readLong(uint32_t file) { return readValue<int32_t>(file); }
float readFloat(uint32_t file) { return readValue<float>(file); }

std::string readLine(uint32_t file) {
  File* f = files().find(file);
  std::string line;
  if (!f) return line;
  while (fillCache(*f)) {
    const uint8_t* begin = f->cache.data() + (f->position - f->cacheStart);
    const uint8_t* end = f->cache.data() + f->cacheLength;
    const uint8_t* stop = begin;
    while (stop < end && *stop != 0 && *stop != '\r' && *stop != '\n') ++stop;
    size_t room = kMaxLine - line.size();
    line.append(begin, begin + std::min(static_cast<size_t>(stop - begin), room));
    f->position += stop - begin;
    if (stop == end) continue;
    ++f->position;
    if (*stop == '\r' && peekByte(*f) == '\n') ++f->position;
    break;
  }
  return line;
}

bool endOfFile(uint32_t file) {
  File* f = files().find(file);
  if (!f) return true;
  if (cached(*f)) return false;
  return f->position >= lengthOf(*f);
}

int64_t writeData(uint32_t file, const void* data, int64_t length) {
  File* f = files().find(file);
  if (!f || !data || length <= 0) return 0;
  return static_cast<int64_t>(
      writeBytes(*f, static_cast<const uint8_t*>(data), static_cast<size_t>(length)));
}

bool writeLong(uint32_t file, int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                      static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  return writeData(file, bytes, 4) == 4;
}

bool writeString(uint32_t file, const std::string& text) {
  if (text.empty()) return fileOpen(file);
  return writeData(file, text.data(), static_cast<int64_t>(text.size())) ==
         static_cast<int64_t>(text.size());
}

bool seekFile(uint32_t file, int64_t position) {
  File* f = files().find(file);
  if (!f || position < 0) return false;
  f->position = position;
  return true;
}

int64_t filePosition(uint32_t file) {
  File* f = files().find(file);
  return f ? f->position : 0;
}

int64_t fileLength(uint32_t file) {
  File* f = files().find(file);
  return f ? lengthOf(*f) : 0;
}

// ---- Whole-file helpers ------------------------------------------------------------------

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(nativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t fileSize(const std::string& path) {
  struct stat st;
  if (stat(nativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>* out, int64_t maxBytes) {
  if (!out) return false;
  out->clear();
  int fd = openRegular(nativePath(path), O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && st.st_size <= maxBytes;
  if (ok) {
    out->resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out->size()) {
      ssize_t n = readAt(fd, out->data() + done, out->size() - done, static_cast<int64_t>(done));
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    out->resize(done);  // the file may have shrunk meanwhile
  } else {
    logLine("FILES", "%s: unreadable or larger than %lld bytes", path.c_str(),
            static_cast<long long>(maxBytes));
  }
  close(fd);
  return ok;
}

bool writeFileAtomically(const std::string& path, const void* data, size_t length) {
  std::string native = nativePath(path);
  std::string folder = parentFolder(native);
  std::string temp = folder + "/." + getFilePart(native) + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    logLine("FILES", "%s: cannot write: %s", native.c_str(), strerror(errno));
    return false;
  }
  // Keep the permissions of the file being replaced; mkostemp would leave 0600.
  struct stat old;
  mode_t mode = stat(native.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  bool ok = fchmod(fd, mode) == 0 &&
            writeAllAt(fd, static_cast<const uint8_t*>(data), data ? length : 0, 0) &&
            fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), native.c_str()) == 0;
  if (!ok) {
    logLine("FILES", "%s: write failed: %s", native.c_str(), strerror(errno));
    unlink(temp.c_str());
    return false;
  }
  // The rename itself must reach the disk too.
  int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    fsync(folderFd);
    close(folderFd);
  }
  return true;
}

namespace {

// "." + name + "." + the six letters and digits mkostemp puts in place of XXXXXX.
bool isTemporaryOf(const std::string& entry, const std::string& name) {
  std::string prefix = "." + name + ".";
  if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  return std::all_of(entry.begin() + static_cast<long>(prefix.size()), entry.end(),
                     [](char c) { return isalnum(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

int removeStaleTemporaries(const std::string& path) {
  std::string native = nativePath(path);
  std::string folder = parentFolder(native);
  std::string name = getFilePart(native);
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  time_t now = time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    if (!isTemporaryOf(entry->d_name, name)) continue;
    std::string temp = folder + "/" + entry->d_name;
    struct stat st;
    if (lstat(temp.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
    // A writer that is alive renames its temporary within moments (another copy of the game
    // saving right now); only what has been left lying is ours to take away.
    if (now - st.st_mtime < kStaleTemporarySeconds) continue;
    if (unlink(temp.c_str()) == 0) ++removed;
  }
  closedir(dir);
  if (removed > 0) logLine("FILES", "%s: %d unfinished writes removed", native.c_str(), removed);
  return removed;
}

uint32_t fileCrc32(const std::string& path) {
  int fd = openRegular(nativePath(path), O_RDONLY);
  if (fd < 0) return 0;
  std::vector<uint8_t> buffer(kBufferSize);
  uint32_t crc = 0;
  int64_t offset = 0;
  for (;;) {
    ssize_t n = readAt(fd, buffer.data(), buffer.size(), offset);
    if (n <= 0) break;
    crc = crc32(buffer.data(), static_cast<size_t>(n), crc);
    offset += n;
  }
  close(fd);
  return crc;
}

// ---- Directories -------------------------------------------------------------------------

Handle examineDirectory(int32_t number, const std::string& folder, const std::string& pattern) {
  std::string native = nativePath(folder);
  return directories().create(number, [&] { return listFolder(native, pattern); });
}

bool nextDirectoryEntry(uint32_t directory) {
  Directory* d = directories().find(directory);
  if (!d || d->next > d->entries.size()) return false;
  ++d->next;
  return d->next <= d->entries.size();
}

std::string directoryEntryName(uint32_t directory) {
  const DirectoryEntry* entry = currentEntry(directory);
  return entry ? entry->name : "";
}

bool directoryEntryIsFolder(uint32_t directory) {
  const DirectoryEntry* entry = currentEntry(directory);
  return entry && entry->folder;
}

void finishDirectory(uint32_t directory) { directories().free(directory); }

bool createDirectory(const std::string& path) {
  std::string native = nativePath(path);
  if (mkdir(native.c_str(), 0755) != 0 && errno != EEXIST) {
    logLine("FILES", "%s: cannot create folder: %s", native.c_str(), strerror(errno));
  }
  return isFolder(native);
}

// "*" any run, "?" exactly one character, letters without regard to case. Backtracks only to
// the last "*", which is enough for these patterns and keeps the match linear in practice.
bool wildcardMatch(const std::string& pattern, const std::string& name) {
  if (pattern.empty() || pattern == "*.*") return true;
  std::string p = lowerCase(pattern);
  std::string n = lowerCase(name);
  size_t pi = 0, ni = 0;
  size_t star = std::string::npos, starName = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      starName = ni;
    } else if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++starName;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace rt
