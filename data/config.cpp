// Config.ini: the settings record, its file, and the key-name table.
#include "data/config.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/containers.h"
#include "runtime/files.h"
#include "runtime/input.h"
#include "runtime/log.h"

Config config;
RunOverrides runOverrides;

namespace {

// A real Config.ini is well under a kilobyte; anything this large is not ours.
constexpr int64_t kMaxConfigSize = 64 * 1024;

std::string configFolder;
bool configUnreadable = false;
std::array<std::string, 256> keyNames;

// ---- The table of settings, in file order ------------------------------------------------

enum class Kind { kNumber, kSwitch, kPort, kKeyCode, kText, kLanguage, kUrl };

struct Setting {
  const char* group;
  const char* key;
  Kind kind;
  int32_t Config::*number = nullptr;
  std::string Config::*text = nullptr;
  int32_t low = 0, high = 0;  // kNumber only
};

constexpr Setting number(const char* group, const char* key, int32_t Config::*field, int32_t low,
                         int32_t high) {
  return {group, key, Kind::kNumber, field, nullptr, low, high};
}
constexpr Setting numeric(const char* group, const char* key, Kind kind,
                          int32_t Config::*field) {
  return {group, key, kind, field, nullptr, 0, 0};
}
constexpr Setting text(const char* group, const char* key, Kind kind,
                       std::string Config::*field) {
  return {group, key, kind, nullptr, field, 0, 0};
}

const Setting kSettings[] = {
    numeric("Network", "ICP Port", Kind::kPort, &Config::icpPort),
    numeric("Network", "TCP Port", Kind::kPort, &Config::tcpPort),
    numeric("Network", "UDP Port", Kind::kPort, &Config::udpPort),
    text("Network", "IP", Kind::kText, &Config::ip),
    numeric("Server", "Internet", Kind::kSwitch, &Config::internet),
    text("Server", "Name", Kind::kText, &Config::serverName),
    number("Server", "Rounds", &Config::rounds, 1, 100),
    number("Server", "RoundTime", &Config::roundTime, 60, 300),
    number("Sound", "Volume", &Config::volume, 0, 100),
    numeric("Sound", "Pan", Kind::kSwitch, &Config::pan),
    number("Sound", "Music", &Config::music, 0, 100),
    number("Sound", "Effects", &Config::effects, 0, 100),
    number("Sound", "Navigation", &Config::navigation, 0, 100),
    numeric("Control", "Up", Kind::kKeyCode, &Config::controlUp),
    numeric("Control", "Right", Kind::kKeyCode, &Config::controlRight),
    numeric("Control", "Down", Kind::kKeyCode, &Config::controlDown),
    numeric("Control", "Left", Kind::kKeyCode, &Config::controlLeft),
    numeric("Control", "A", Kind::kKeyCode, &Config::controlA),
    numeric("Control", "B", Kind::kKeyCode, &Config::controlB),
    numeric("Control", "Score", Kind::kKeyCode, &Config::controlScore),
    text("Others", "Name", Kind::kText, &Config::playerName),
    text("Others", "Language", Kind::kLanguage, &Config::language),
    numeric("Others", "Blood", Kind::kSwitch, &Config::blood),
    number("Others", "DeadBodyTime", &Config::deadBodyTime, 0, 900),
    numeric("Others", "FreeCamera", Kind::kSwitch, &Config::freeCamera),
    number("Others", "IconTime", &Config::iconTime, 0, 30),
    text("ServerList", "URL", Kind::kUrl, &Config::serverListUrl),
    text("ServerList", "Bind", Kind::kText, &Config::bindAddress),
    numeric("Display", "Fullscreen", Kind::kSwitch, &Config::fullscreen),
    number("Display", "Width", &Config::windowWidth, 320, 16384),
    number("Display", "Height", &Config::windowHeight, 240, 16384),
};

// ---- Reading -----------------------------------------------------------------------------

// The language name becomes part of a file path; a name that leaves the language folder is
// not a language.
bool plainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\:") == std::string::npos;
}

int32_t readNumber(const Setting& s, int32_t fallback) {
  int32_t value = rt::readPreferenceLong(s.key, fallback);
  switch (s.kind) {
    case Kind::kSwitch:
      return value != 0 ? 1 : 0;
    case Kind::kPort:
      return value >= 1 && value <= 65535 ? value : fallback;
    case Kind::kKeyCode:
      return value >= 1 && value <= 255 ? value : fallback;
    default:
      return std::clamp(value, s.low, s.high);
  }
}

std::string cutText(const Setting& s, const std::string& value) {
  return s.kind == Kind::kUrl ? value.substr(0, kConfigUrlLength) : ConfigText(value);
}

void readSetting(const Setting& s, const Config& defaults) {
  if (s.number) {
    config.*s.number = readNumber(s, defaults.*s.number);
    return;
  }
  // The file's values lose their outer blanks when read; one cut before a blank must lose it
  // too, or the value would change with every save and load.
  std::string value = rt::trim(cutText(s, rt::readPreferenceString(s.key, defaults.*s.text)));
  if (s.kind == Kind::kLanguage && !plainName(value)) value = defaults.*s.text;
  config.*s.text = value;
}

enum class FileState { kMissing, kReadable, kUnreadable };

// Tells a file that is simply not there from one that is there but cannot be read: locked,
// not a file, too large to be ours, or cut short by a read error. Whatever a readable file
// holds, it is read, and the next save writes it anew.
FileState examineConfigFile(const std::string& path) {
  struct stat st;
  if (stat(rt::nativePath(path).c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? FileState::kMissing : FileState::kUnreadable;
  }
  std::vector<uint8_t> bytes;
  if (!rt::readWholeFile(path, &bytes, kMaxConfigSize)) return FileState::kUnreadable;
  // The reader stops quietly at a read error, so a short read is the only sign of one.
  if (static_cast<off_t>(bytes.size()) != st.st_size) return FileState::kUnreadable;
  return FileState::kReadable;
}

std::string configPath() { return ConfigFolder() + "Config.ini"; }

// ---- Paths -----------------------------------------------------------------------------

bool isFolder(const std::string& native) {
  struct stat st;
  return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string homeFolder() {
  const char* home = getenv("HOME");
  if (home && *home) return home;
  if (const passwd* user = getpwuid(getuid())) {
    if (user->pw_dir && *user->pw_dir) return user->pw_dir;
  }
  return "";
}

}  // namespace

// ---- Folders -----------------------------------------------------------------------------

std::string UserFolder() {
  std::string base;
  const char* appData = getenv("APPDATA");
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (appData && *appData) {
    base = appData;
  } else if (xdg && *xdg) {
    base = xdg;
  } else {
    std::string home = homeFolder();
    // Without any home the folder lands beside the game data rather than at the disk's root.
    base = home.empty() ? ".config" : home + "/.config";
  }
  return base + "\\Vantrel\\Powderbox\\";
}

void SetConfigFolder(const std::string& folder) { configFolder = folder; }

const std::string& ConfigFolder() { return configFolder; }

bool CreateFolderPath(const std::string& folder) {
  std::string native = rt::nativePath(folder);
  if (isFolder(native)) return true;
  for (size_t slash = native.find('/', 1); slash != std::string::npos;
       slash = native.find('/', slash + 1)) {
    std::string level = native.substr(0, slash);
    if (!isFolder(level) && !rt::createDirectory(level)) return false;
  }
  return rt::createDirectory(native);
}

// ---- Settings ----------------------------------------------------------------------------

std::string ConfigText(const std::string& text) { return text.substr(0, kConfigTextLength); }

std::string ServerListUrl() {
  return runOverrides.serverListUrl.empty() ? config.serverListUrl : runOverrides.serverListUrl;
}

std::string BindAddress() {
  return runOverrides.bindAddress.empty() ? config.bindAddress : runOverrides.bindAddress;
}

std::string DefaultLanguage() {
  // The order in which the C library picks the language of messages.
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv(variable);
    if (!value || !*value) continue;
    std::string locale = rt::lowerCase(value);
    bool german = locale.rfind("de", 0) == 0 &&
                  (locale.size() == 2 || strchr("_.@-", locale[2]) != nullptr);
    return german ? "Deutsch" : "English";
  }
  return "English";
}

void LoadConfig() {
  Config defaults;
  defaults.language = DefaultLanguage();
  config = defaults;
  configUnreadable = false;
  std::string path = configPath();
  // A save cut short by a kill leaves its temporary beside the file.
  rt::removeStaleTemporaries(path);
  FileState state = examineConfigFile(path);
  if (state == FileState::kMissing) {
    rt::logLine("CONFIG", "%s: none yet, defaults", path.c_str());
    return;
  }
  if (state == FileState::kUnreadable || !rt::openPreferences(path)) {
    configUnreadable = true;
    rt::logLine("CONFIG", "%s: cannot be read, defaults; the file will be left alone",
                path.c_str());
    return;
  }
  const char* group = "";
  for (const Setting& s : kSettings) {
    if (strcmp(group, s.group) != 0) rt::preferenceGroup(group = s.group);
    readSetting(s, defaults);
  }
  rt::closePreferences();
  rt::logLine("CONFIG", "%s: read", path.c_str());
}

bool SaveConfig() {
  std::string path = configPath();
  if (configUnreadable) {
    rt::logLine("CONFIG", "%s: not saved, the file on disk could not be read", path.c_str());
    return false;
  }
  if (!CreateFolderPath(ConfigFolder()) || !rt::createPreferences(path)) {
    rt::logLine("CONFIG", "%s: not saved, no folder to write in", path.c_str());
    return false;
  }
  const char* group = "";
  for (const Setting& s : kSettings) {
    if (strcmp(group, s.group) != 0) rt::preferenceGroup(group = s.group);
    if (s.number) {
      rt::writePreferenceLong(s.key, config.*s.number);
    } else {
      rt::writePreferenceString(s.key, cutText(s, config.*s.text));
    }
  }
  bool saved = rt::closePreferencesChecked();
  rt::logLine("CONFIG", "%s: %s", path.c_str(), saved ? "saved" : "not saved");
  return saved;
}

bool ConfigUnreadable() { return configUnreadable; }

// ---- Key names ---------------------------------------------------------------------------

void FillKeyNames() {
  // The main block 1..83 (Num Lock among them) and the keys of the extended block that a
  // player may bind; everything else stays nameless and so cannot be bound.
  static constexpr int kExtendedKeys[] = {86,  87,  88,  156, 157, 181, 183, 184, 197, 199, 200,
                                          201, 203, 205, 207, 208, 209, 210, 211, 219, 220, 221};
  keyNames.fill("");
  for (int code = 1; code <= 83; ++code) keyNames[code] = rt::keyName(code);
  for (int code : kExtendedKeys) keyNames[code] = rt::keyName(code);
}

const std::string& KeyName(int code) {
  static const std::string none;
  if (code < 0 || code >= static_cast<int>(keyNames.size())) return none;
  return keyNames[static_cast<size_t>(code)];
}
