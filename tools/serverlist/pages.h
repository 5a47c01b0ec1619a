// What the service answers: the game's address list, the status page and its JSON twin. Host
// texts arrive as Windows-1252 from strangers; both pages convert and escape every one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/serverlist/store.h"

namespace serverlist {

// "a b c": the addresses separated by single blanks, nothing else.
std::string listText(const std::vector<Entry>& live);
std::string statusPage(const std::vector<Entry>& live, int64_t now);
std::string statusJson(const std::vector<Entry>& live, int64_t now);

std::string htmlEscape(const std::string& utf8);
std::string jsonString(const std::string& utf8);  // with its quotes

}  // namespace serverlist
