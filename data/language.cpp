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

}  // namespace

bool LoadLanguage(const std::string& path) {
  int64_t size = rt::fileSize(path);
  if (size < 0 || size > kMaxLanguageFile || !rt::openPreferences(path)) {
    rt::logLine("LANGUAGE", "%s: cannot be read, texts unchanged", path.c_str());
    return false;
  }
  rt::preferenceGroup("");
  std::vector<std::pair<std::string, std::string>> keys = rt::preferenceKeys();
  rt::closePreferences();
  std::lock_guard lock(tableLock);
  table.clear();
  for (const auto& [key, text] : keys) *table.add(key) = text;
  rt::logLine("LANGUAGE", "%s: %zu texts", path.c_str(), keys.size());
  return true;
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
