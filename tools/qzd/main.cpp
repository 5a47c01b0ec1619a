// qzd: makes, lists, extracts and checks the game's data archives.
//
//   qzd create [--no-pack] [--no-encipher] [--password TEXT] ARCHIVE FOLDER
//   qzd list [--password TEXT] ARCHIVE
//   qzd extract [--password TEXT] ARCHIVE FOLDER
//   qzd verify [--password TEXT] ARCHIVE
//
// Entry names are Windows-1252 inside an archive and UTF-8 on disk. Exit status: 0 done,
// 1 failed, 2 wrong usage.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "data/archive.h"
#include "data/archive_writer.h"
#include "runtime/containers.h"
#include "runtime/files.h"

namespace fs = std::filesystem;

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: qzd create [--no-pack] [--no-encipher] [--password TEXT] ARCHIVE FOLDER\n"
    "       qzd list [--password TEXT] ARCHIVE\n"
    "       qzd extract [--password TEXT] ARCHIVE FOLDER\n"
    "       qzd verify [--password TEXT] ARCHIVE\n"
    "\n"
    "create   packs every file under FOLDER into ARCHIVE; blocks are packed and enciphered\n"
    "         unless told otherwise, with the game's password unless another is given\n"
    "list     prints every entry with its size, stored size and what was done to it\n"
    "extract  writes every entry under FOLDER\n"
    "verify   reads every entry, checking its CRC and unpacking it\n";

struct Command {
  std::string verb;
  std::vector<std::string> operands;
  ArchiveWriteOptions options;
};

// Parses the command line; false on wrong usage.
bool parseCommand(int argc, char** argv, Command* c) {
  if (argc < 2) return false;
  c->verb = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--no-pack" && c->verb == "create") {
      c->options.pack = false;
    } else if (arg == "--no-encipher" && c->verb == "create") {
      c->options.encipher = false;
    } else if (arg == "--password" && i + 1 < argc) {
      c->options.password = rt::utf8ToCp1252(argv[++i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else {
      c->operands.push_back(arg);
    }
  }
  size_t wanted = c->verb == "create" || c->verb == "extract" ? 2 : 1;
  bool known =
      c->verb == "create" || c->verb == "extract" || c->verb == "list" || c->verb == "verify";
  return known && c->operands.size() == wanted;
}

// Our file services take absolute paths as they are; relative ones would go to the data root.
std::string absolutePath(const std::string& path) {
  std::error_code ignored;
  return fs::absolute(path, ignored).lexically_normal().string();
}

void failWith(const std::string& message) { fprintf(stderr, "qzd: %s\n", message.c_str()); }

// ---- create --------------------------------------------------------------------------------

// Every regular file under folder, as the entry path inside the archive and its place on disk,
// in name order so that the same folder always gives the same archive.
bool collectFiles(const std::string& folder, std::vector<std::pair<std::string, fs::path>>* files) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    failWith(folder + ": not a folder");
    return false;
  }
  fs::recursive_directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    std::string relative = fs::relative(it->path(), folder, error).generic_string();
    files->emplace_back(rt::replaceString(rt::utf8ToCp1252(relative), "/", "\\"), it->path());
  }
  if (error) {
    failWith(folder + ": " + error.message());
    return false;
  }
  std::sort(files->begin(), files->end());
  return true;
}

int create(const Command& c) {
  std::string archivePath = absolutePath(c.operands[0]);
  std::vector<std::pair<std::string, fs::path>> files;
  if (!collectFiles(c.operands[1], &files)) return kFailed;
  ArchiveWriter w;
  BeginArchive(w, c.options);
  uint64_t total = 0;
  for (const auto& [entry, path] : files) {
    std::vector<uint8_t> content;
    if (!rt::readWholeFile(absolutePath(path.string()), &content, int64_t(kMaxArchiveEntrySize))) {
      failWith(path.string() + ": cannot be read (or larger than an entry may be)");
      return kFailed;
    }
    total += content.size();
    if (!AddArchiveFile(w, entry, content.data(), content.size())) {
      failWith(rt::cp1252ToUtf8(w.failure));
      return kFailed;
    }
  }
  if (!SaveArchive(w, archivePath)) {
    failWith(rt::cp1252ToUtf8(w.failure));
    return kFailed;
  }
  printf("%s: %zu files, %llu bytes in %zu bytes\n", c.operands[0].c_str(), files.size(),
         static_cast<unsigned long long>(total), w.bytes.size());
  return kOk;
}

// ---- reading -------------------------------------------------------------------------------

struct Listed {
  std::string path;  // inside the archive, from the root: "\Player\Torso.afs"
  ArchiveBlockHeader header;
};

// Walks the tree below folder (a path from the root) and collects every file.
void collectEntries(const std::string& folder, std::vector<Listed>* out) {
  if (!ExamineArchiveFolder(0, folder.empty() ? "\\" : folder)) return;
  std::vector<std::string> folders;
  while (NextArchiveFile(0)) {
    out->push_back({folder + "\\" + ArchiveFileName(0), ArchiveFileHeader(0)});
  }
  while (NextArchiveFolder(0)) folders.push_back(ArchiveFolderName(0));
  for (const std::string& name : folders) {
    // A name holding the separator could never be asked for; it is left out.
    if (name.find('\\') != std::string::npos || name == ".." || name.empty()) continue;
    collectEntries(folder + "\\" + name, out);
  }
}

bool openForReading(const Command& c) {
  if (OpenArchive(0, absolutePath(c.operands[0]), c.options.password)) return true;
  int32_t error = LastArchiveError();
  failWith(c.operands[0] + ": " +
           (error ? rt::cp1252ToUtf8(ArchiveErrorText(error)) : "missing or not an archive"));
  return false;
}

std::string shown(const std::string& entry) { return rt::cp1252ToUtf8(entry.substr(1)); }

int list(const Command& c) {
  if (!openForReading(c)) return kFailed;
  std::vector<Listed> entries;
  collectEntries("", &entries);
  for (const Listed& e : entries) {
    printf("%12llu %12llu %c%c %08x  %s\n", static_cast<unsigned long long>(e.header.unpackedSize),
           static_cast<unsigned long long>(e.header.storedSize & 0xFFFFFFFFu),
           e.header.flags & kArchivePacked ? 'P' : '-',
           e.header.flags & kArchiveEnciphered ? 'E' : '-', e.header.crc, shown(e.path).c_str());
  }
  bool ok = ArchiveDirectoryRead(0);
  if (!ok) failWith(c.operands[0] + ": directory damaged");
  CloseArchive(0);
  return ok ? kOk : kFailed;
}

// Reads every entry and hands it over; counts what could not be read.
int forEachEntry(const Command& c,
                 const std::function<bool(const Listed&, const std::vector<uint8_t>&)>& use) {
  if (!openForReading(c)) return kFailed;
  int failures = 0;
  if (!ArchiveDirectoryRead(0)) {
    failWith(c.operands[0] + ": directory damaged");
    ++failures;
  }
  std::vector<Listed> entries;
  collectEntries("", &entries);
  for (const Listed& e : entries) {
    std::vector<uint8_t> content = ReadArchiveEntry(0, e.path);
    if (content.empty()) {
      failWith(shown(e.path) + ": " + rt::cp1252ToUtf8(ArchiveErrorText(ArchiveError(0))));
      ++failures;
      continue;
    }
    content.resize(content.size() - 8);
    if (!use(e, content)) ++failures;
  }
  CloseArchive(0);
  printf("%s: %zu entries, %d failed\n", c.operands[0].c_str(), entries.size(), failures);
  return failures ? kFailed : kOk;
}

int verify(const Command& c) {
  return forEachEntry(c, [](const Listed&, const std::vector<uint8_t>&) { return true; });
}

// Names from an archive are not trusted on disk: nothing may climb out of the target folder.
bool safeOnDisk(const std::string& entryPath) {
  std::string rest = entryPath.substr(1);
  size_t start = 0;
  for (;;) {
    size_t cut = rest.find('\\', start);
    std::string part =
        rest.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
    if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos) {
      return false;
    }
    if (cut == std::string::npos) return true;
    start = cut + 1;
  }
}

// Written under exactly this name: names that differ only in letter case are different files
// here, even though the game's own file services would find one for the other.
bool writeExactly(const fs::path& file, const std::vector<uint8_t>& content) {
  FILE* out = fopen(file.c_str(), "wb");
  if (!out) return false;
  bool ok = content.empty() || fwrite(content.data(), 1, content.size(), out) == content.size();
  return fclose(out) == 0 && ok;
}

int extract(const Command& c) {
  std::string target = absolutePath(c.operands[1]);
  return forEachEntry(c, [&](const Listed& e, const std::vector<uint8_t>& content) {
    if (!safeOnDisk(e.path)) {
      failWith(shown(e.path) + ": unsafe name, skipped");
      return false;
    }
    fs::path file = fs::path(target) / rt::replaceString(shown(e.path), "\\", "/");
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    if (error || !writeExactly(file, content)) {
      failWith(file.string() + ": cannot be written");
      return false;
    }
    return true;
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    fputs(kUsageText, stdout);
    return kOk;
  }
  Command c;
  if (!parseCommand(argc, argv, &c)) {
    fputs(kUsageText, stderr);
    return kUsage;
  }
  if (c.verb == "create") return create(c);
  if (c.verb == "list") return list(c);
  if (c.verb == "extract") return extract(c);
  return verify(c);
}
