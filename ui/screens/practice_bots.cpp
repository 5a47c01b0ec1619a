// Practice bots: computer players the host adds to its session from the server lobby. Each is a
// powderbox-bot process on loopback that joins like anybody else and plays with the bots' brain,
// so a bot that fails takes only itself down. They leave with the session (the host's goodbye
// ends them), and with the game (a child is told to stop when its parent goes).
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "data/config.h"
#include "net/session.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/process.h"
#include "ui/screens/screens.h"
#include "world/world.h"

namespace {

// Our bots' names; a bot takes the first that nobody in the session uses.
constexpr const char* kBotNames[] = {"Rusty", "Cinder", "Wick", "Flint", "Pepper", "Tinder",
                                     "Sulphur", "Ember"};
constexpr int kMaxBots = static_cast<int>(std::size(kBotNames));

struct PracticeBot {
  int process = 0;
  std::string name;
  int32_t playerId = 0;  // 0 until its player shows in the session
};

std::vector<PracticeBot> bots;
uint32_t revision = 0;
bool failed = false;

bool nameTaken(const std::string& name) {
  for (const Player& player : world.players) {
    if (playerName(player) == name) return true;
  }
  return std::any_of(bots.begin(), bots.end(),
                     [&](const PracticeBot& bot) { return bot.name == name; });
}

bool idClaimed(int32_t id) {
  return std::any_of(bots.begin(), bots.end(),
                     [&](const PracticeBot& bot) { return bot.playerId == id; });
}

// The program beside the game's (installed), in the build tree's tools, else wherever PATH
// finds it.
std::string botProgram() {
  std::string folder = rt::executableFolder(nullptr);
  for (std::string path : {folder + "/powderbox-bot", folder + "/tools/bot/powderbox-bot"}) {
    if (rt::fileExists(path)) return path;
  }
  return "powderbox-bot";
}

std::vector<std::string> botArguments(const std::string& name) {
  const NetPorts& ports = session.ports;
  std::string address = ports.bindAddress.empty() ? "127.0.0.1" : ports.bindAddress;
  return {"--connect", address, "--tcp-port", std::to_string(ports.tcp),
          "--udp-port", std::to_string(ports.udp), "--name", name, "--play", "hunt",
          "--data", rt::dataRoot(), "--settings", ConfigFolder() + "Bots\\",
          "--seed", std::to_string(rt::random(1 << 30)), "--quiet"};
}

}  // namespace

bool AddPracticeBot() {
  if (!session.isHost || static_cast<int>(bots.size()) >= kMaxBots) return false;
  std::string name;
  for (const char* candidate : kBotNames) {
    if (!nameTaken(candidate)) {
      name = candidate;
      break;
    }
  }
  if (name.empty()) return false;
  int process = rt::startProcess(botProgram(), botArguments(name));
  if (process == 0) return false;
  bots.push_back({process, name, 0});
  rt::logLine("BOTS", "added %s", name.c_str());
  ++revision;
  return true;
}

bool RemovePracticeBot(int32_t playerId) {
  auto bot = std::find_if(bots.rbegin(), bots.rend(), [&](const PracticeBot& b) {
    return playerId == 0 || b.playerId == playerId;
  });
  if (bot == bots.rend()) return false;
  // It says goodbye on its own; the session drops its player when the connection closes.
  rt::stopProcess(bot->process);
  rt::logLine("BOTS", "removed %s", bot->name.c_str());
  // The process is reaped by FollowPracticeBots once it has gone.
  bot->name.clear();
  bot->playerId = -1;
  ++revision;
  return true;
}

bool IsPracticeBot(int32_t playerId) { return playerId > 0 && idClaimed(playerId); }

bool PracticeBotsJoining() {
  return std::any_of(bots.begin(), bots.end(),
                     [](const PracticeBot& b) { return !b.name.empty() && b.playerId == 0; });
}

int PracticeBotCount() {
  return static_cast<int>(std::count_if(bots.begin(), bots.end(),
                                        [](const PracticeBot& b) { return !b.name.empty(); }));
}

uint32_t PracticeBotsRevision() { return revision; }

bool PracticeBotFailed() { return std::exchange(failed, false); }

void FollowPracticeBots() {
  if (bots.empty()) return;
  // The session is over: the bots heard the goodbye, or hear it now.
  if (!session.isHost) {
    for (PracticeBot& bot : bots) {
      if (!bot.name.empty()) rt::stopProcess(bot.process);
      bot.name.clear();
    }
  }
  for (PracticeBot& bot : bots) {
    if (bot.playerId != 0 || bot.name.empty()) continue;
    for (const Player& player : world.players) {
      if (playerName(player) == bot.name && !idClaimed(player.id)) {
        bot.playerId = player.id;
        ++revision;
        rt::logLine("BOTS", "%s plays as player %d", bot.name.c_str(), player.id);
        break;
      }
    }
  }
  size_t before = bots.size();
  std::erase_if(bots, [](const PracticeBot& bot) {
    bool running = rt::processRunning(bot.process);
    if (running || bot.name.empty()) return !running;
    rt::logLine("BOTS", "%s has gone%s", bot.name.c_str(), bot.playerId ? "" : " without joining");
    if (bot.playerId == 0) failed = true;
    return true;
  });
  if (bots.size() != before) ++revision;
}

void StopPracticeBots() {
  for (PracticeBot& bot : bots) rt::stopProcess(bot.process);
  for (PracticeBot& bot : bots) rt::awaitProcess(bot.process, 2000);
  bots.clear();
}
