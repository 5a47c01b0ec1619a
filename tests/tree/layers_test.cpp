// The game's folders stand on each other one way: runtime, data, world, then render, audio and net
// side by side, then ui, then app. An include that runs up or sideways fails here with its file
// and line, and so does any circle of folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

const std::map<std::string, int> kLayer = {{"runtime", 0}, {"data", 1},  {"world", 2},
                                           {"render", 3},  {"audio", 3}, {"net", 3},
                                           {"ui", 4},      {"app", 5}};
// Built on top of the game; the game itself never includes them.
const std::set<std::string> kAboveTheGame = {"tools", "tests", "bench"};

struct Include {
  std::string file;
  int line;
  std::string from, to;  // folders
};

std::vector<Include> gameIncludes() {
  namespace fs = std::filesystem;
  const std::regex include(R"(^\s*#\s*include\s*"([a-z_]+)/)");
  std::vector<Include> found;
  for (const auto& [folder, layer] : kLayer) {
    for (const auto& entry : fs::recursive_directory_iterator(test::sourceDir() + "/" + folder)) {
      std::string extension = entry.path().extension().string();
      if (extension != ".h" && extension != ".cpp") continue;
      std::ifstream in(entry.path());
      std::string text;
      std::smatch match;
      for (int line = 1; std::getline(in, text); ++line) {
        if (!std::regex_search(text, match, include)) continue;
        std::string relative = fs::relative(entry.path(), test::sourceDir()).string();
        found.push_back({relative, line, folder, match[1]});
      }
    }
  }
  return found;
}

TEST(Layers, EveryIncludeRunsDownAndNoFoldersIncludeEachOther) {
  std::vector<Include> includes = gameIncludes();
  ASSERT_GT(includes.size(), 100u);
  std::map<std::string, std::set<std::string>> uses;
  for (const Include& i : includes) {
    if (i.to == i.from) continue;
    uses[i.from].insert(i.to);
    bool above = kAboveTheGame.count(i.to) > 0;
    bool upward = kLayer.count(i.to) > 0 && kLayer.at(i.to) >= kLayer.at(i.from);
    EXPECT_FALSE(above || upward) << i.file << ":" << i.line << " (" << i.from << ") includes "
                                  << i.to;
  }
  // A circle of folders, walked depth first from every folder.
  std::set<std::string> done;
  std::vector<std::string> path;
  std::function<void(const std::string&)> walk = [&](const std::string& folder) {
    auto onPath = std::find(path.begin(), path.end(), folder);
    if (onPath != path.end()) {
      std::string circle;
      for (auto it = onPath; it != path.end(); ++it) circle += *it + " -> ";
      ADD_FAILURE() << "a circle of folders: " << circle << folder;
      return;
    }
    if (!done.insert(folder).second) return;
    path.push_back(folder);
    for (const std::string& next : uses[folder]) walk(next);
    path.pop_back();
  };
  for (const auto& [folder, layer] : kLayer) walk(folder);
}

}  // namespace
