// The language table and the language files.
#include "data/language.h"

#include <mutex>

#include "runtime/containers.h"
#include "runtime/files.h"
#include "runtime/log.h"

namespace {

// A full translation is a few kilobytes. Language files are passed around between players, so
// a larger one is refused before it is parsed at all.
constexpr int64_t kMaxLanguageFile = 64 * 1024;

// The search threads look up their status texts while the main thread draws.
std::mutex tableLock;
rt::Map<std::string> table(true);
size_t textsFromEnglish = 0;  // at the last load

}  // namespace

namespace {

using Texts = std::vector<std::pair<std::string, std::string>>;

bool readLanguageFile(const std::string& path, Texts* texts) {
  int64_t size = rt::fileSize(path);
  if (size < 0 || size > kMaxLanguageFile || !rt::openPreferences(path)) return false;
  rt::preferenceGroup("");
  *texts = rt::preferenceKeys();
  rt::closePreferences();
  return true;
}

}  // namespace

bool LoadLanguage(const std::string& path) {
  Texts texts;
  if (!readLanguageFile(path, &texts)) {
    rt::logLine("LANGUAGE", "%s: cannot be read, texts unchanged", path.c_str());
    return false;
  }
  // A translation that is cut short, out of date or garbage shows English where it has nothing,
  // rather than empty buttons.
  Texts english;
  std::string englishPath = LanguagePath("English");
  if (rt::nativePath(path) != rt::nativePath(englishPath)) readLanguageFile(englishPath, &english);
  std::lock_guard lock(tableLock);
  table.clear();
  for (const auto& [key, text] : texts) *table.add(key) = text;
  textsFromEnglish = 0;
  for (const auto& [key, text] : english) {
    std::string* have = table.find(key);
    if (have && !have->empty()) continue;
    *table.add(key) = text;
    ++textsFromEnglish;
  }
  rt::logLine("LANGUAGE", "%s: %zu texts", path.c_str(), texts.size());
  if (textsFromEnglish > 0) {
    rt::logLine("LANGUAGE", "%s: %zu texts missing, taken from English", path.c_str(),
                textsFromEnglish);
  }
  return true;
}

size_t LanguageTextsFromEnglish() {
  std::lock_guard lock(tableLock);
  return textsFromEnglish;
}

std::string LanguagePath(const std::string& name) { return "Data\\Language\\" + name + ".ini"; }

std::string Lang(const std::string& key) {
  std::lock_guard lock(tableLock);
  return *table.add(key);
}

bool LanguageHasText(const std::string& key) {
  std::lock_guard lock(tableLock);
  const std::string* text = table.find(key);
  return text && !text->empty();
}

std::vector<std::string> LanguageNames() {
  std::vector<std::string> names;
  rt::Handle folder = rt::examineDirectory(rt::kAnyNumber, "Data\\Language\\", "*.ini");
  if (!folder) return names;
  while (rt::nextDirectoryEntry(folder)) {
    if (rt::directoryEntryIsFolder(folder)) continue;
    std::string name = rt::directoryEntryName(folder);
    if (name.size() > 4) names.push_back(name.substr(0, name.size() - 4));
  }
  rt::finishDirectory(folder);
  return names;
}
