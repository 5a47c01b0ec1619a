// The INI reader as the configuration file and the language files use it: both are edited by
// hand and language files are passed around between players. The input is the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "data/config.h"
#include "data/language.h"
#include "runtime/files.h"
#include "tests/fuzz/scratch_files.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

bool sameConfig(const Config& a, const Config& b) {
  return a.icpPort == b.icpPort && a.tcpPort == b.tcpPort && a.udpPort == b.udpPort &&
         a.ip == b.ip && a.internet == b.internet && a.serverName == b.serverName &&
         a.rounds == b.rounds && a.roundTime == b.roundTime && a.volume == b.volume &&
         a.pan == b.pan && a.music == b.music && a.effects == b.effects &&
         a.navigation == b.navigation && a.controlUp == b.controlUp &&
         a.controlRight == b.controlRight && a.controlDown == b.controlDown &&
         a.controlLeft == b.controlLeft && a.controlA == b.controlA && a.controlB == b.controlB &&
         a.controlScore == b.controlScore && a.playerName == b.playerName &&
         a.language == b.language && a.blood == b.blood && a.deadBodyTime == b.deadBodyTime &&
         a.freeCamera == b.freeCamera && a.iconTime == b.iconTime &&
         a.serverListUrl == b.serverListUrl && a.bindAddress == b.bindAddress;
}

void checkRanges(const Config& c) {
  for (int32_t port : {c.icpPort, c.tcpPort, c.udpPort}) check(port >= 1 && port <= 65535);
  for (int32_t key : {c.controlUp, c.controlRight, c.controlDown, c.controlLeft, c.controlA,
                      c.controlB, c.controlScore}) {
    check(key >= 1 && key <= 255);
  }
  check(c.rounds >= 1 && c.rounds <= 100 && c.roundTime >= 60 && c.roundTime <= 300);
  check(c.volume >= 0 && c.volume <= 100 && c.iconTime >= 0 && c.iconTime <= 30);
  for (const std::string* text : {&c.ip, &c.serverName, &c.playerName, &c.language,
                                  &c.bindAddress}) {
    check(text->size() <= kConfigTextLength);
  }
  check(c.serverListUrl.size() <= kConfigUrlLength);
  check(c.language.find_first_of("/\\:") == std::string::npos);
}

// Every key a group lists is found by a lookup, with the same value.
void checkListingAgrees(const std::string& path) {
  check(rt::openPreferences(path));
  for (const char* group : {"", "Network", "Others"}) {
    rt::preferenceGroup(group);
    for (const auto& [key, value] : rt::preferenceKeys()) {
      check(!key.empty() && rt::readPreferenceString(key, "\x01none") == value);
    }
  }
  rt::closePreferences();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::scratchFile("Config.ini", data, size);
  checkListingAgrees(path);
  LoadLanguage(path);
  for (const char* key : kLanguageKeys) Lang(key);

  // Whatever the file held, the values read are saved and read back unchanged.
  SetConfigFolder(fuzz::scratchFolder());
  LoadConfig();
  checkRanges(config);
  Config read = config;
  check(SaveConfig());
  LoadConfig();
  check(sameConfig(read, config));
  return 0;
}
