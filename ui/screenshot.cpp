// Screenshots into the configuration folder.
#include "ui/screenshot.h"

#include <algorithm>
#include <cstdint>

#include "data/config.h"
#include "runtime/containers.h"
#include "runtime/files.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/screen.h"

namespace {

constexpr int kKeyF12 = 88;
// Keeps "highest + 1" far from overflowing when a stray file carries a huge number.
constexpr int64_t kMaxNumber = 999999999;

struct NamePattern {
  std::string folder;  // with its trailing separator
  std::string file;
  size_t star = std::string::npos;      // the first "*" of file
  size_t firstMark = std::string::npos; // the first "?" of file
  size_t marks = 0;                     // how many "?" file has
};

NamePattern splitPattern(const std::string& pattern) {
  NamePattern p;
  p.folder = rt::getPathPart(pattern);
  p.file = rt::getFilePart(pattern);
  p.star = p.file.find('*');
  p.firstMark = p.file.find('?');
  p.marks = static_cast<size_t>(std::count(p.file.begin(), p.file.end(), '?'));
  return p;
}

// The number a matching file name carries: where the "*" stands, as many characters as the
// "*" took; otherwise the characters under the "?" run.
int64_t numberOf(const NamePattern& p, const std::string& name) {
  if (p.star != std::string::npos) {
    int64_t length = static_cast<int64_t>(name.size()) - static_cast<int64_t>(p.file.size()) + 1;
    if (length <= 0 || p.star >= name.size()) return 0;
    return rt::val(name.substr(p.star, static_cast<size_t>(length)));
  }
  if (p.marks == 0 || p.firstMark >= name.size()) return 0;
  return rt::val(name.substr(p.firstMark, p.marks));
}

// The highest number among the files of the folder that match; -1 when the folder can neither
// be listed nor made.
int64_t highestNumber(const NamePattern& p) {
  rt::Handle folder = rt::examineDirectory(rt::kAnyNumber, p.folder, p.file);
  if (!folder) return CreateFolderPath(p.folder) ? 0 : -1;
  int64_t highest = 0;
  while (rt::nextDirectoryEntry(folder)) {
    if (rt::directoryEntryIsFolder(folder)) continue;
    int64_t number = numberOf(p, rt::directoryEntryName(folder));
    highest = std::max(highest, std::min(number, kMaxNumber));
  }
  rt::finishDirectory(folder);
  return highest;
}

// The file part with its wildcards replaced by the number; "" when it does not fit.
std::string fileName(const NamePattern& p, int64_t number) {
  std::string digits = rt::str(number);
  if (p.star != std::string::npos) {
    return number > kMaxNumber ? "" : rt::replaceString(p.file, "*", digits);
  }
  if (p.marks == 0) return p.file;
  // Wrapping round to fewer digits would overwrite the oldest pictures.
  if (digits.size() > p.marks) return "";
  digits.insert(0, p.marks - digits.size(), '0');
  std::string name = p.file;
  size_t next = 0;
  for (char& c : name) {
    if (c == '?') c = digits[next++];
  }
  return name;
}

}  // namespace

std::string NextScreenshotPath(const std::string& pattern) {
  NamePattern p = splitPattern(pattern);
  int64_t highest = highestNumber(p);
  if (highest < 0) {
    rt::logLine("SHOT", "%s: no folder for pictures", p.folder.c_str());
    return "";
  }
  std::string name = fileName(p, highest + 1);
  if (name.empty()) {
    rt::logLine("SHOT", "%s: numbers used up", pattern.c_str());
    return "";
  }
  return p.folder + name;
}

bool SaveScreenshot(const std::string& pattern) {
  std::string path = NextScreenshotPath(pattern);
  if (path.empty()) return false;
  rt::Handle image = rt::grabScreen(rt::kAnyNumber, 0, 0, rt::screenWidth(), rt::screenHeight());
  if (!image) {
    rt::logLine("SHOT", "the screen cannot be read");
    return false;
  }
  bool saved = rt::saveImagePng(image, path);
  rt::freeImage(image);
  rt::logLine("SHOT", "%s: %s", path.c_str(), saved ? "saved" : "not saved");
  return saved;
}

void CheckScreenshotKey() {
  if (rt::keyReleased(kKeyF12)) SaveScreenshot(ConfigFolder() + kScreenshotPattern);
}
