// INI preferences: the configuration file and the language files.
//
// Written files are byte for byte predictable: "[Group]" and "key = value" lines ending in CR LF,
// keys in the order they were written, and one empty line before every group line except at the
// very start of the file.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string_view>

#include "runtime/containers.h"
#include "runtime/files.h"
#include "runtime/log.h"

namespace rt {
namespace {

// Language files may come from anywhere; these keep a hostile one small and harmless.
constexpr int64_t kMaxFileSize = 4 << 20;
constexpr size_t kMaxLineLength = 16 * 1024;

struct PreferenceGroup {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
  // Key -> index into keys, so that reading a big file stays linear.
  std::unordered_map<std::string, size_t, NoCaseHash, NoCaseEqual> index;
};

struct Preferences {
  enum class Mode { kClosed, kReading, kWriting } mode = Mode::kClosed;
  std::string path;
  // Reading: groups[0] holds the keys above the first group line.
  std::vector<PreferenceGroup> groups;
  int selected = 0;  // index into groups, -1 for a group the file does not have
  // Writing: the text so far.
  std::string output;
};

Preferences& state() {
  static Preferences preferences;
  return preferences;
}

const std::string* findKey(const PreferenceGroup& group, const std::string& key) {
  auto it = group.index.find(key);
  return it == group.index.end() ? nullptr : &group.keys[it->second].second;
}

// A group named twice continues the first; a key given twice keeps its first value, so a
// lookup and a listing of the group always agree.
std::vector<PreferenceGroup> parsePreferences(const std::vector<uint8_t>& bytes) {
  std::vector<PreferenceGroup> groups(1);
  std::unordered_map<std::string, size_t, NoCaseHash, NoCaseEqual> groupIndex;
  size_t current = 0;
  // Lines end at CR LF, CR, LF or NUL; an overlong line keeps its first part. The text is only
  // looked at in place: names, keys and values are the only strings made.
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find_first_of(std::string_view("\r\n\0", 3), begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trimView(text.substr(begin, std::min(end - begin, kMaxLineLength)));
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++end;
    begin = end + 1;

    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      std::string_view inside = line.substr(1, close == std::string_view::npos ? close : close - 1);
      std::string name(trimView(inside));
      auto existing = groupIndex.find(name);
      if (existing != groupIndex.end()) {
        current = existing->second;
      } else {
        groups.push_back({name, {}, {}});
        current = groups.size() - 1;
        groupIndex.emplace(std::move(name), current);
      }
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string key(trimView(line.substr(0, equals)));
    PreferenceGroup& group = groups[current];
    if (key.empty() || !group.index.try_emplace(key, group.keys.size()).second) continue;
    group.keys.emplace_back(std::move(key), std::string(trimView(line.substr(equals + 1))));
  }
  return groups;
}

const std::string* lookUp(const std::string& key) {
  Preferences& p = state();
  if (p.mode != Preferences::Mode::kReading || p.selected < 0) return nullptr;
  return findKey(p.groups[static_cast<size_t>(p.selected)], key);
}

// A value with a line break in it would start a line of its own in the file.
std::string oneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  return out;
}

void appendLine(const std::string& line) {
  Preferences& p = state();
  if (p.mode != Preferences::Mode::kWriting) return;
  p.output += oneLine(line);
  p.output += "\r\n";
}

bool startsWithNumber(const std::string& text) {
  std::string t = trim(text);
  size_t i = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
  if (i < t.size() && t[i] == '.') ++i;
  return i < t.size() && t[i] >= '0' && t[i] <= '9';
}

std::string floatText(float value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

void reset() { state() = Preferences{}; }

}  // namespace

bool openPreferences(const std::string& path) {
  closePreferences();
  std::vector<uint8_t> bytes;
  if (!readWholeFile(path, &bytes, kMaxFileSize)) return false;
  Preferences& p = state();
  p.mode = Preferences::Mode::kReading;
  p.path = path;
  p.groups = parsePreferences(bytes);
  p.selected = 0;
  return true;
}

bool createPreferences(const std::string& path) {
  closePreferences();
  // Nothing is written before closing, but a missing or locked folder can be told now.
  std::string native = nativePath(path);
  size_t slash = native.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(folder.c_str(), W_OK) != 0) {
    logLine("PREFS", "%s: folder missing or not writable", path.c_str());
    return false;
  }
  Preferences& p = state();
  p.mode = Preferences::Mode::kWriting;
  p.path = path;
  return true;
}

void closePreferences() { closePreferencesChecked(); }

bool closePreferencesChecked() {
  Preferences& p = state();
  if (p.mode == Preferences::Mode::kClosed) return false;
  bool ok = true;
  if (p.mode == Preferences::Mode::kWriting) {
    ok = writeFileAtomically(p.path, p.output.data(), p.output.size());
    if (!ok) logLine("PREFS", "%s: not saved", p.path.c_str());
  }
  reset();
  return ok;
}

void preferenceGroup(const std::string& group) {
  Preferences& p = state();
  if (p.mode == Preferences::Mode::kWriting) {
    if (!p.output.empty()) p.output += "\r\n";
    appendLine("[" + group + "]");
    return;
  }
  if (p.mode != Preferences::Mode::kReading) return;
  if (group.empty()) {
    p.selected = 0;
    return;
  }
  PreferenceGroup* found = nullptr;
  for (size_t i = 1; i < p.groups.size() && !found; ++i) {
    if (equalNoCase(p.groups[i].name, group)) found = &p.groups[i];
  }
  p.selected = found ? static_cast<int>(found - p.groups.data()) : -1;
}

std::string readPreferenceString(const std::string& key, const std::string& fallback) {
  const std::string* value = lookUp(key);
  return value ? *value : fallback;
}

int32_t readPreferenceLong(const std::string& key, int32_t fallback) {
  const std::string* value = lookUp(key);
  if (!value || !startsWithNumber(*value)) return fallback;
  return static_cast<int32_t>(std::clamp<int64_t>(val(*value), INT32_MIN, INT32_MAX));
}

float readPreferenceFloat(const std::string& key, float fallback) {
  const std::string* value = lookUp(key);
  if (!value || !startsWithNumber(*value)) return fallback;
  double number = valF(*value);
  if (!std::isfinite(static_cast<float>(number))) return fallback;
  return static_cast<float>(number);
}

void writePreferenceString(const std::string& key, const std::string& value) {
  appendLine(key + " = " + value);
}

void writePreferenceLong(const std::string& key, int32_t value) {
  appendLine(key + " = " + str(value));
}

void writePreferenceFloat(const std::string& key, float value) {
  appendLine(key + " = " + floatText(value));
}

void writePreferenceComment(const std::string& text) { appendLine("; " + text); }

std::vector<std::pair<std::string, std::string>> preferenceKeys() {
  Preferences& p = state();
  if (p.mode != Preferences::Mode::kReading || p.selected < 0) return {};
  return p.groups[static_cast<size_t>(p.selected)].keys;
}

}  // namespace rt
