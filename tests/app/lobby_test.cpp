// The menus between real games on loopback, driven only by scripted mouse and keys: a server
// created and joined through the multiplayer pages, the lobby chat and the host's choices, a
// match started from the lobby and played to its end, a third player turned away while a round
// runs, and the options kept from one start to the next. Checked through the logs, the settings
// files and the exit codes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/process_support.h"
#include "support/test_support.h"

namespace {

using test::Child;
using test::find;
using test::has;
using test::Line;
using test::texts;
using Strings = std::vector<std::string>;

// Middles of the widgets on the 1024 x 768 screen.
struct Point {
  int x, y;
};
constexpr Point kMultiplayer{150, 270}, kOptions{150, 370}, kQuit{150, 620};
constexpr Point kCreateServer{150, 220}, kDirectConnection{150, 320}, kBack{150, 620};
constexpr Point kCreate{650, 355}, kConnect{650, 355}, kAddressEnd{845, 250};
constexpr Point kMapRow0{650, 188}, kMapRow1{650, 208}, kRoundsDown{904, 408}, kStart{150, 570};
constexpr Point kChatField{600, 718}, kSend{944, 718};
constexpr Point kAddBot{135, 350}, kRemoveBot{315, 350}, kPlayerRow1{150, 208};
constexpr Point kYes{420, 404}, kOk{512, 404};
constexpr Point kAudio{150, 220}, kControl{150, 270}, kGame{150, 320}, kProfil{150, 370};
constexpr Point kMusicAt77{700, 300}, kUpKey{675, 247}, kBlood{562, 302}, kNameEnd{845, 250};

constexpr int kReturn = 28, kBackspace = 14, kZ = 44, kW = 17;
constexpr int kTimeoutMs = 120000;

// Input script lines. A click holds the button for a moment: text for a field that it gives
// the focus comes after it.
std::string click(int ms, Point p) {
  return std::to_string(ms) + " mouse move " + std::to_string(p.x) + " " + std::to_string(p.y) +
         "\n" + std::to_string(ms + 50) + " mouse click left\n";
}
std::string taps(int ms, int code, int times = 1) {
  std::string lines;
  for (int i = 0; i < times; ++i) {
    lines += std::to_string(ms + 20 * i) + " key tap " + std::to_string(code) + "\n";
  }
  return lines;
}
std::string typed(int ms, const std::string& chars) {
  return std::to_string(ms) + " text " + chars + "\n";
}
std::string closeAt(int ms) { return std::to_string(ms) + " close\n"; }
// A gamepad line, "tap a" or "axis leftx 32767".
std::string pad(int ms, const std::string& what) {
  return std::to_string(ms) + " pad " + what + "\n";
}

// Each game has a settings folder of its own, named after it.
class LobbyTest : public ::testing::Test {
 protected:
  std::string configPath(const std::string& name) const {
    return dir.file(name) + "/Vantrel/Powderbox/Config.ini";
  }
  // Config.ini without its carriage returns.
  std::string config(const std::string& name) const {
    std::string text = test::readFile(configPath(name));
    std::erase(text, '\r');
    return text;
  }
  // Settings on the free loopback ports, with the player's name and the address to connect to.
  void writeSettings(const std::string& name, int base, const std::string& address,
                     const std::string& server) {
    std::filesystem::create_directories(dir.file(name) + "/Vantrel/Powderbox");
    test::writeFile(configPath(name),
                    "[Network]\nICP Port = " + std::to_string(base) +
                        "\nTCP Port = " + std::to_string(base + 1) +
                        "\nUDP Port = " + std::to_string(base + 2) + "\nIP = " + address +
                        "\n\n[Server]\n" + server + "\n\n[Others]\nName = " + name + "\n");
  }
  Child start(const std::string& name, const std::string& script, bool window = false,
              const std::string& program = test::binaryDir() + "/powderbox") {
    test::writeFile(dir.file(name + ".txt"), script);
    std::vector<std::string> args = {program, "--data",
                                     test::binaryDir(), "--input-script", dir.file(name + ".txt"),
                                     "--log", dir.file(name + ".log")};
    if (!window) args.push_back("--headless");
    return test::spawn(dir, name, args,
                       {{"APPDATA", dir.file(name)}, {"ALSOFT_DRIVERS", "null"},
                        {"POWDERBOX_SEED", "1"}});
  }
  std::string raw(const std::string& name) const { return test::readFile(dir.file(name + ".log")); }
  std::vector<Line> log(const std::string& name) const { return test::parseLog(raw(name)); }
  // The texts of the menu lines that begin so, in order, without that beginning.
  Strings menu(const std::string& name, const std::string& prefix) const {
    Strings found;
    for (const Line& line : log(name)) {
      if (line.tag == "MENU" && line.text.rfind(prefix, 0) == 0) {
        found.push_back(line.text.substr(prefix.size()));
      }
    }
    return found;
  }
  Strings actions(const std::string& name) const {
    Strings found = menu(name, "action \"");
    for (std::string& action : found) action.pop_back();
    return found;
  }
  void finish(std::vector<Child>& children) {
    ASSERT_TRUE(test::waitAll(children, kTimeoutMs)) << raw(children.front().name);
    for (const Child& c : children) {
      EXPECT_EQ(test::exitCode(c), 0) << c.name << "\n" << test::readFile(c.errors) << raw(c.name);
      EXPECT_EQ(test::sanitizerReport(c), "") << c.name;
    }
  }

  test::TempDir dir;
};

// Alice hosts in a window, Bob joins by address; they chat, Bob's lobby follows Alice's choices,
// one round ends with both blown up by their own barrels, and both leave through the screens.
TEST_F(LobbyTest, ServerCreatedJoinedChattedPlayedAndLeftThroughTheScreens) {
  if (!test::startXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  int base = test::freePortBase();
  ASSERT_NE(base, 0);
  writeSettings("Alice", base, "127.0.0.1", "Rounds = 2");
  writeSettings("Bob", base, "localhost", "Rounds = 2");
  // Each script runs from the end of its start-up: Bob, headless and ready at once, starts when
  // Alice's window shows, so that his steps fall between hers with a second or more to spare.
  std::vector<Child> children;
  children.push_back(start("Alice",
                           click(1000, kMultiplayer) + click(1600, kCreateServer) +
                               click(2200, kCreate) + click(5400, kChatField) +
                               typed(5600, "hi from the host") + click(6000, kSend) +
                               click(6600, kMapRow1) + click(7200, kRoundsDown) +
                               click(7800, kMapRow0) + click(8400, kStart) + taps(10000, kZ) +
                               click(23000, kBack) + click(23800, kYes) + closeAt(24600),
                           true));
  if (!test::waitForText(dir.file("Alice.log"), "START main window shown", kTimeoutMs)) {
    test::waitAll(children, 0);
    FAIL() << "no window\n" << raw("Alice");
  }
  children.push_back(start("Bob",
                           click(1000, kMultiplayer) + click(1600, kDirectConnection) +
                               click(2200, kAddressEnd) + taps(2400, kBackspace, 9) +
                               typed(2800, "127.0.0.1") + taps(3600, kReturn) +
                               click(4800, kChatField) + typed(5000, "hello from the client") +
                               taps(5400, kReturn) + taps(10000, kZ) + click(21500, kBack) +
                               closeAt(22500)));
  ASSERT_NO_FATAL_FAILURE(finish(children));

  std::vector<Line> host = log("Alice"), client = log("Bob");
  EXPECT_TRUE(has(host, "START", "screen opened 1024x768")) << raw("Alice");
  EXPECT_FALSE(has(host, "START", "screen opened 1024x768 (headless)"));
  EXPECT_EQ(actions("Alice"),
            (Strings{"Main Menu", "Multiplayer", "Create Server", "Server Lobby", "Send Text",
                     "Send ServerData", "Send ServerData", "Send ServerData", "Start",
                     "Server Lobby", "Close Server?", "Multiplayer"}))
      << raw("Alice");
  EXPECT_EQ(actions("Bob"), (Strings{"Main Menu", "Multiplayer", "Direct Connection",
                                     "Client Lobby", "Send Text", "Client Lobby", "Multiplayer"}))
      << raw("Bob");

  // The typed address took the place of the one in the settings, and was kept.
  EXPECT_TRUE(has(client, "SESSION", "joined 127.0.0.1 on ports")) << raw("Bob");
  EXPECT_NE(config("Bob").find("IP = 127.0.0.1\n"), std::string::npos) << config("Bob");

  for (const std::vector<Line>* lines : {&host, &client}) {
    EXPECT_TRUE(has(*lines, "CHAT", "Alice: hi from the host"));
    EXPECT_TRUE(has(*lines, "CHAT", "Bob: hello from the client"));
  }
  // Every choice of the host reached the client's lobby, again after the match.
  EXPECT_EQ(menu("Bob", "lobby shows "),
            (Strings{"no map, 3 rounds, 180 s", "map Market, 2 rounds, 180 s",
                     "map Market, 1 rounds, 180 s", "map Arena, 1 rounds, 180 s",
                     "map Arena, 1 rounds, 180 s"}))
      << raw("Bob");

  // One round on the map chosen last, then both back in their lobbies with the same scores.
  EXPECT_TRUE(has(host, "GAME", "over after 1 rounds")) << raw("Alice");
  std::multiset<std::string> scores = texts(host, "SCORE");
  EXPECT_EQ(scores.size(), 2u) << raw("Alice");
  EXPECT_EQ(texts(client, "SCORE"), scores) << raw("Bob");
  for (const std::vector<Line>* lines : {&host, &client}) {
    EXPECT_TRUE(has(*lines, "ROUND", "start 1 map Arena (1 of 1, 2 players"));
    EXPECT_EQ(texts(*lines, "KILL").size(), 2u);
    EXPECT_TRUE(has(*lines, "GAME", "back in the lobby"));
  }

  // Bob left first; Alice then closed the server through its question.
  const Line* left = find(host, "LEAVE", "player ");
  ASSERT_NE(left, nullptr) << raw("Alice");
  EXPECT_NE(left->text.find("\"Bob\" left, 1 players"), std::string::npos) << left->text;
  EXPECT_TRUE(has(client, "SESSION", "left"));
  EXPECT_FALSE(has(client, "SESSION", "the host closed the game"));
  EXPECT_TRUE(has(host, "SESSION", "left"));
}

// Carol connects while Alice's and Bob's round runs: turned away, she stays in her lobby without a
// message and leaves it with "Back". Alice then quits mid-round: Bob is back in his lobby with
// "Game Canceled", whose "OK" leads to the multiplayer page rather than to a new connect.
TEST_F(LobbyTest, AJoinerDuringARoundIsTurnedAwayAndKeepsItsLobby) {
  int base = test::freePortBase();
  ASSERT_NE(base, 0);
  for (const char* name : {"Alice", "Bob", "Carol"}) {
    writeSettings(name, base, "127.0.0.1", "Rounds = 1");
  }
  std::string join = click(1000, kMultiplayer) + click(1600, kDirectConnection);
  std::vector<Child> children;
  children.push_back(start("Alice", click(1000, kMultiplayer) + click(1600, kCreateServer) +
                                        click(2200, kCreate) + click(4400, kMapRow0) +
                                        click(5000, kStart) + closeAt(15000)));
  children.push_back(start("Bob", join + click(3400, kConnect) + click(16500, kOk) +
                                      closeAt(17500)));
  if (!test::waitForText(dir.file("Alice.log"), "ROUND start 1", kTimeoutMs)) {
    test::waitAll(children, 0);
    FAIL() << "no round started\n" << raw("Alice") << raw("Bob");
  }
  children.push_back(
      start("Carol", join + click(2200, kConnect) + click(3400, kBack) + closeAt(4000)));
  ASSERT_NO_FATAL_FAILURE(finish(children));

  std::vector<Line> host = log("Alice"), third = log("Carol");
  EXPECT_TRUE(has(host, "ROUND", "start 1 map Arena (1 of 1, 2 players")) << raw("Alice");
  EXPECT_EQ(texts(host, "JOIN").size(), 2u) << raw("Alice");
  EXPECT_NE(raw("Alice").find("send RoundRunning(15) to "), std::string::npos);

  EXPECT_EQ(actions("Carol"), (Strings{"Main Menu", "Multiplayer", "Direct Connection",
                                       "Client Lobby", "Multiplayer"}))
      << raw("Carol");
  EXPECT_TRUE(has(third, "SESSION", "turned away: the lobby stays without players"))
      << raw("Carol");
  EXPECT_FALSE(has(third, "SESSION", "connection to the host lost"));
  EXPECT_TRUE(has(third, "MENU", "lobby shows no map")) << raw("Carol");

  EXPECT_TRUE(has(log("Bob"), "SESSION", "the host closed the game")) << raw("Bob");
  EXPECT_EQ(actions("Bob"), (Strings{"Main Menu", "Multiplayer", "Direct Connection",
                                     "Client Lobby", "Client Lobby", "Multiplayer"}))
      << raw("Bob");
  EXPECT_FALSE(has(log("Bob"), "SESSION", "cannot join")) << raw("Bob");
}

// Alice adds two practice bots in her server lobby: they join and show with their mark. She
// removes the one she selects; the other goes when she closes the session, and no bot outlives
// her game.
TEST_F(LobbyTest, PracticeBotsAreAddedMarkedRemovedAndGoWithTheSession) {
  int base = test::freePortBase();
  ASSERT_NE(base, 0);
  writeSettings("Alice", base, "127.0.0.1", "Rounds = 1");
  std::vector<Child> children;
  children.push_back(start("Alice", click(1000, kMultiplayer) + click(1600, kCreateServer) +
                                        click(2200, kCreate) + click(3000, kAddBot) +
                                        click(3600, kAddBot) + click(8000, kPlayerRow1) +
                                        click(8600, kRemoveBot) + click(11000, kBack) +
                                        click(11600, kYes) + closeAt(13000)));
  ASSERT_NO_FATAL_FAILURE(finish(children));

  std::vector<Line> host = log("Alice");
  EXPECT_EQ(actions("Alice"),
            (Strings{"Main Menu", "Multiplayer", "Create Server", "Server Lobby", "Add Bot",
                     "Add Bot", "Remove Bot", "Close Server?", "Multiplayer"}))
      << raw("Alice");
  Strings lists = menu("Alice", "lobby lists ");
  auto listed = [&](const std::string& names) {
    return std::find(lists.begin(), lists.end(), names) != lists.end();
  };
  EXPECT_TRUE(listed("Alice, Rusty [Bot], Cinder [Bot]")) << raw("Alice");
  EXPECT_TRUE(listed("Alice, Cinder [Bot]")) << raw("Alice");
  EXPECT_TRUE(has(host, "BOTS", "removed Rusty")) << raw("Alice");
  const Line* left = find(host, "LEAVE", "player ");
  ASSERT_NE(left, nullptr) << raw("Alice");
  EXPECT_NE(left->text.find("\"Rusty\" left"), std::string::npos) << left->text;
  // Both bot programs ended of themselves, told to go or by the host's goodbye.
  size_t ended = std::count_if(host.begin(), host.end(), [](const Line& line) {
    return line.tag == "PROC" && line.text.find("ended with 0") != std::string::npos;
  });
  EXPECT_EQ(ended, 2u) << raw("Alice");
}

// "Start" pressed while a bot added just before is still on its way waits for it: the round
// begins with the bot rather than turning it away. The game runs from a folder of its own, whose
// bot program takes a second to start.
TEST_F(LobbyTest, StartWaitsForABotStillJoining) {
  int base = test::freePortBase();
  ASSERT_NE(base, 0);
  writeSettings("Alice", base, "127.0.0.1", "Rounds = 1");
  const std::string folder = dir.file("slow");
  std::filesystem::create_directories(folder);
  const std::string game = test::binaryDir() + "/powderbox";
  std::error_code linked;
  std::filesystem::create_hard_link(game, folder + "/powderbox", linked);
  if (linked) std::filesystem::copy_file(game, folder + "/powderbox");
  test::writeFile(folder + "/powderbox-bot", "#!/bin/sh\nsleep 1\nexec " + test::binaryDir() +
                                                  "/tools/bot/powderbox-bot \"$@\"\n");
  std::filesystem::permissions(folder + "/powderbox-bot", std::filesystem::perms::owner_all);
  std::vector<Child> children;
  children.push_back(start("Alice",
                           click(1000, kMultiplayer) + click(1600, kCreateServer) +
                               click(2200, kCreate) + click(3000, kMapRow0) +
                               click(3400, kAddBot) + click(3600, kStart) + closeAt(9000),
                           false, folder + "/powderbox"));
  ASSERT_NO_FATAL_FAILURE(finish(children));
  std::vector<Line> host = log("Alice");
  EXPECT_TRUE(has(host, "MENU", "the start waits for the bots still joining")) << raw("Alice");
  EXPECT_TRUE(has(host, "ROUND", "start 1 map Arena (1 of 1, 2 players")) << raw("Alice");
}

// A volume, a key, Blood and the name, each changed on its page, are in Config.ini after "Quit",
// and a second start reads them and writes them back unchanged.
TEST_F(LobbyTest, OptionsOfEveryPageSurviveQuitAndTheNextStart) {
  std::vector<Child> first = {start(
      "Zoe", click(1000, kOptions) + click(1600, kAudio) + click(2200, kMusicAt77) +
                 click(2800, kControl) + click(3400, kUpKey) + taps(4000, kW) +
                 click(4600, kGame) + click(5200, kBlood) + click(5800, kProfil) +
                 click(6400, kNameEnd) + taps(6600, kBackspace, 8) + typed(7000, "Zoe") +
                 click(7600, kBack) + click(8200, kQuit) + click(8800, kYes))};
  ASSERT_NO_FATAL_FAILURE(finish(first));
  EXPECT_EQ(actions("Zoe"), (Strings{"Main Menu", "Options", "Audio", "Control", "Game", "Profil",
                                     "Main Menu", "Quit ?", "Quit"}))
      << raw("Zoe");
  std::string saved = config("Zoe");
  for (const char* line : {"\nMusic = 77\n", "\nUp = 17\n", "\nBlood = 0\n",
                           "[Others]\nName = Zoe\n", "\nVolume = 50\n"}) {
    EXPECT_NE(saved.find(line), std::string::npos) << line << "\n" << saved;
  }

  // Opening the options saves the settings, and closing saves them again.
  std::vector<Child> second = {
      start("Zoe", click(1000, kOptions) + click(1600, kProfil) + closeAt(2200))};
  ASSERT_NO_FATAL_FAILURE(finish(second));
  EXPECT_NE(raw("Zoe").find("Config.ini: read"), std::string::npos) << raw("Zoe");
  EXPECT_EQ(actions("Zoe"), (Strings{"Main Menu", "Options", "Profil"})) << raw("Zoe");
  EXPECT_EQ(config("Zoe"), saved);
}

// A player with a gamepad alone: east backs out of a page, the stick and the D-pad move the focus,
// south works the buttons and the lists; in the match the stick and the D-pad walk the player off
// its spawn point and south places a barrel there.
TEST_F(LobbyTest, AGamepadAloneCreatesAServerStartsTheMatchWalksAndPlacesABarrel) {
  int base = test::freePortBase();
  ASSERT_NE(base, 0);
  writeSettings("Pat", base, "127.0.0.1", "Rounds = 1");
  std::string menus = pad(0, "connect Test Pad") + pad(1000, "tap a") + pad(1400, "tap b") +
                      pad(1800, "tap a") + pad(2200, "tap a") +  // Multiplayer, Create Server
                      pad(2600, "axis leftx 32767") + pad(2700, "axis leftx 0") +
                      pad(3000, "tap dpdown") + pad(3400, "tap a") +  // "Create"
                      pad(4200, "tap dpright") + pad(4600, "tap dpdown") +  // the first map
                      pad(5000, "tap dpleft") + pad(5400, "tap dpdown") +   // the player
                      pad(5800, "tap dpdown") + pad(6200, "tap dpdown") +   // past "Add Bot"
                      pad(6600, "tap a");                                   // "Start"
  std::string match = pad(7400, "axis leftx 32767") + pad(8000, "axis leftx 0") +
                      pad(8100, "down dpdown") + pad(8700, "up dpdown") +
                      pad(8800, "tap a") + closeAt(9400);
  std::vector<Child> children = {start("Pat", menus + match)};
  ASSERT_NO_FATAL_FAILURE(finish(children));
  EXPECT_EQ(actions("Pat"), (Strings{"Main Menu", "Multiplayer", "Main Menu", "Multiplayer",
                                     "Create Server", "Server Lobby", "Send ServerData",
                                     "Start"}))
      << raw("Pat");
  ASSERT_TRUE(has(log("Pat"), "ROUND", "start 1 map Arena")) << raw("Pat");
  std::vector<std::string> cells;
  for (const Line& line : log("Pat")) {
    size_t at = line.text.find("placed a barrel at cell ");
    if (line.tag == "BARREL" && at != std::string::npos) {
      cells.push_back(line.text.substr(at + 24, line.text.find(' ', at + 24) - at - 24));
    }
  }
  ASSERT_EQ(cells.size(), 1u) << "one barrel, and none for the press that started the match\n"
                              << raw("Pat");
  // The arena's spawn points: a barrel on none of them was placed after a walk.
  for (const char* spawn : {"1,1", "13,11", "13,1", "1,11", "7,1", "7,11", "1,6", "13,6"}) {
    EXPECT_NE(cells[0], spawn) << raw("Pat");
  }
}

}  // namespace
