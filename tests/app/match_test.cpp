// A whole match between real processes on loopback: a headless host, the game with a window under
// a private X server standing still as a player, and two bots that blow up boxes from a safe place
// until an item has dropped and then blow themselves up, which ends the rounds quickly. It is all
// checked through the processes' logs: boxes, items, kills and scores alike on every machine, five
// seconds from the decision of a round to the next, and everybody back in the lobby at the end.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/process_support.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using test::Child;
using test::exitCode;
using test::find;
using test::freePortBase;
using test::has;
using test::Line;
using test::parseLog;
using test::sanitizerReport;
using test::spawn;
using test::texts;
using test::waitAll;
using test::waitForText;

constexpr int kMatchTimeoutMs = 150000;  // a match takes about 25 s under the sanitizers
constexpr long kRoundEndDelay = 5000;
constexpr long kRoundEndSlack = 2000;  // frames of a busy machine

// The texts of one tag, by the round they fall in (0 before the first round start).
std::map<int, std::multiset<std::string>> byRound(const std::vector<Line>& log,
                                                  const std::string& tag) {
  std::map<int, std::multiset<std::string>> rounds;
  int round = 0;
  for (const Line& line : log) {
    if (line.tag == "ROUND" && line.text.rfind("start ", 0) == 0) {
      round = atoi(line.text.c_str() + 6);
    } else if (line.tag == tag) {
      rounds[round].insert(line.text);
    }
  }
  return rounds;
}

// From the host's log: ms from the kill that left fewer than two of `players` alive in round 1
// to the start of round 2; -1 when either is missing.
long roundGap(const std::vector<Line>& host, int players) {
  int round = 0, deaths = 0;
  long decided = -1;
  for (const Line& line : host) {
    if (line.tag == "ROUND" && line.text.rfind("start ", 0) == 0) {
      round = atoi(line.text.c_str() + 6);
      if (round == 2) return decided < 0 ? -1 : line.ms - decided;
    } else if (line.tag == "KILL" && round == 1 && ++deaths == players - 1) {
      decided = line.ms;
    }
  }
  return -1;
}

// Position messages from the other players that a client applied, from its counting lines
// ("positions: 45 sent, 90 applied, ...").
int positionsApplied(const std::vector<Line>& log) {
  int applied = 0;
  for (const Line& line : log) {
    int sent = 0, taken = 0;
    if (line.tag == "MSG" && sscanf(line.text.c_str(), "positions: %d sent, %d applied", &sent,
                                    &taken) == 2) {
      applied += taken;
    }
  }
  return applied;
}

std::string game() { return test::binaryDir() + "/powderbox"; }
std::string bot() { return test::binaryDir() + "/tools/bot/powderbox-bot"; }

class MatchTest : public ::testing::Test {
 protected:
  std::vector<std::pair<std::string, std::string>> env() const {
    return {{"APPDATA", dir.path()}, {"ALSOFT_DRIVERS", "null"}, {"POWDERBOX_SEED", "1"}};
  }
  std::vector<Line> log(const std::string& name) const {
    return parseLog(test::readFile(dir.file(name + ".log")));
  }
  std::string raw(const std::string& name) const {
    return test::readFile(dir.file(name + ".log"));
  }
  std::vector<std::string> botArgs(const std::string& name, int base) const {
    return {bot(), "--connect", "127.0.0.1", "--port-base", std::to_string(base), "--name", name,
            "--log", dir.file(name + ".log"), "--quiet"};
  }
  static std::vector<std::string> plus(std::vector<std::string> args,
                                       const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  test::TempDir dir;
};

TEST_F(MatchTest, TwoRoundsBetweenAHostAWindowAndTwoBots) {
  if (!test::startXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  int base = freePortBase();
  ASSERT_NE(base, 0);
  std::string ports = std::to_string(base);
  std::vector<Child> children;
  children.push_back(spawn(dir, "host",
                           {game(), "--headless", "--data", test::binaryDir(), "--host", "--map",
                            "Arena", "--rounds", "2", "--once", "--start-with", "3",
                            "--port-base", ports, "--log", dir.file("host.log")},
                           env()));
  if (!waitForText(dir.file("host.log"), "SESSION hosting", 30000)) {
    waitAll(children, 0);
    FAIL() << "the host did not open its ports\n" << raw("host");
  }
  children.push_back(spawn(dir, "window",
                           {game(), "--data", test::binaryDir(), "--connect", "127.0.0.1",
                            "--port-base", ports, "--name", "Window", "--log",
                            dir.file("window.log")},
                           env()));
  children.push_back(spawn(dir, "BotA",
                           plus(botArgs("BotA", base),
                                {"--play", "suicide", "--until-item", "--chat", "hello there"}),
                           env()));
  children.push_back(spawn(dir, "BotB",
                           plus(botArgs("BotB", base), {"--play", "suicide", "--until-item"}),
                           env()));
  auto started = Clock::now();
  bool ended = waitAll(children, kMatchTimeoutMs);
  long seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
  ASSERT_TRUE(ended) << "the match did not end within the time-out\n" << raw("host");
  for (const Child& c : children) {
    EXPECT_EQ(exitCode(c), 0) << c.name << "\n" << test::readFile(c.errors);
    EXPECT_EQ(sanitizerReport(c), "") << c.name;
  }
  RecordProperty("match_seconds", static_cast<int>(seconds));

  std::vector<Line> host = log("host"), window = log("window");
  std::map<std::string, std::vector<Line>> clients = {
      {"window", window}, {"BotA", log("BotA")}, {"BotB", log("BotB")}};

  // The game window really was a window, and everybody took part in the same two rounds.
  EXPECT_TRUE(has(window, "START", "screen opened 1024x768")) << raw("window");
  EXPECT_FALSE(has(window, "START", "screen opened 1024x768 (headless)"));
  EXPECT_EQ(texts(host, "JOIN").size(), 3u) << raw("host");
  EXPECT_TRUE(has(host, "GAME", "over after 2 rounds")) << raw("host");
  for (const auto& [name, lines] : clients) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(has(lines, "ROUND", "start 1 map Arena (1 of 2, 3 players")) << raw(name);
    EXPECT_TRUE(has(lines, "ROUND", "start 2 map Arena (2 of 2, 3 players")) << raw(name);
  }

  // Barrels broke boxes, and every machine saw the same boxes go in each round.
  auto hostBoxes = byRound(host, "BOX");
  EXPECT_FALSE(hostBoxes[1].empty()) << raw("host");
  EXPECT_FALSE(hostBoxes[2].empty()) << raw("host");
  for (const auto& [name, lines] : clients) {
    auto boxes = byRound(lines, "BOX");
    EXPECT_EQ(boxes[1], hostBoxes[1]) << name;
    EXPECT_EQ(boxes[2], hostBoxes[2]) << name;
  }

  // The host's item drops reached every client with the same identifiers and cells.
  std::multiset<std::string> items = texts(host, "ITEM");
  EXPECT_FALSE(items.empty()) << raw("host");
  EXPECT_NE(raw("host").find("send ItemDropped(18) to all"), std::string::npos);
  for (const auto& [name, lines] : clients) EXPECT_EQ(texts(lines, "ITEM"), items) << name;

  // Kills are counted alike everywhere: the same kills in each round, the same score table.
  auto hostKills = byRound(host, "KILL");
  EXPECT_GE(hostKills[1].size(), 2u) << raw("host");
  EXPECT_GE(hostKills[2].size(), 2u) << raw("host");
  std::multiset<std::string> scores = texts(host, "SCORE");
  EXPECT_EQ(scores.size(), 3u) << raw("host");
  for (const auto& [name, lines] : clients) {
    EXPECT_EQ(byRound(lines, "KILL"), hostKills) << name;
    EXPECT_EQ(texts(lines, "SCORE"), scores) << name;
  }

  // The next round came five seconds after the previous one was decided.
  long gap = roundGap(host, 3);
  EXPECT_GE(gap, kRoundEndDelay - 10) << raw("host");
  EXPECT_LE(gap, kRoundEndDelay + kRoundEndSlack) << raw("host");

  // A chat line and the positions went round; the match ended in the lobby for everybody.
  EXPECT_TRUE(has(host, "CHAT", "BotA: hello there"));
  EXPECT_TRUE(has(window, "CHAT", "BotA: hello there")) << raw("window");
  EXPECT_TRUE(has(clients["BotB"], "CHAT", "BotA: hello there"));
  EXPECT_GT(positionsApplied(window), 0) << raw("window");
  EXPECT_TRUE(has(host, "QUICK", "the match is over")) << raw("host");
  for (const auto& [name, lines] : clients) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(has(lines, "GAME", "back in the lobby")) << raw(name);
    EXPECT_NE(raw(name).find("recv GameOver(12)"), std::string::npos);
  }
  EXPECT_TRUE(has(clients["BotA"], "BOT", "leaving: the host ended the session"));
  EXPECT_TRUE(has(window, "QUICK", "the session has ended")) << raw("window");
}

// The controls of a match in a real window: the chat opened with Return, a line typed and sent
// and seen by the others, the quit question opened from the title bar and answered "None", the
// leave question asked by Escape and by the pad's Start and answered "No" by Escape and by the
// pad, and once more by Escape and answered "Yes" by Return: back to the menus.
TEST_F(MatchTest, ChatQuestionsAndLeavingInAWindow) {
  if (!test::startXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  int base = freePortBase();
  ASSERT_NE(base, 0);
  std::string ports = std::to_string(base);
  test::writeFile(dir.file("window.txt"),
                  "5000 key tap 28\n"
                  "5300 text hello from the window\n"
                  "5700 key tap 28\n"
                  "6500 mouse move 1008 14\n6600 mouse click left\n"  // "x"
                  "7500 mouse move 600 404\n7600 mouse click left\n"  // "None"
                  "7800 pad connect Test Pad\n"
                  "8000 key tap 1\n8100 key tap 44\n8300 key tap 1\n"  // no barrel meanwhile
                  "8600 pad tap start\n8900 pad tap b\n"
                  "9200 key tap 1\n9500 key tap 28\n"
                  "10500 close\n");
  std::vector<Child> children;
  children.push_back(spawn(dir, "host",
                           {game(), "--headless", "--data", test::binaryDir(), "--host", "--map",
                            "Arena", "--rounds", "1", "--once", "--start-with", "2",
                            "--port-base", ports, "--log", dir.file("host.log")},
                           env()));
  ASSERT_TRUE(waitForText(dir.file("host.log"), "SESSION hosting", 30000)) << raw("host");
  children.push_back(spawn(dir, "window",
                           {game(), "--data", test::binaryDir(), "--connect", "127.0.0.1",
                            "--port-base", ports, "--name", "Window", "--input-script",
                            dir.file("window.txt"), "--log", dir.file("window.log")},
                           env()));
  // Once the bot leaves too, the empty host ends its one round and, with --once, itself.
  children.push_back(spawn(dir, "bot",
                           plus(botArgs("bot", base), {"--play", "still", "--leave-after", "16"}),
                           env()));
  ASSERT_TRUE(waitAll(children, kMatchTimeoutMs)) << raw("window");
  for (const Child& c : children) {
    EXPECT_EQ(exitCode(c), 0) << c.name << "\n" << test::readFile(c.errors);
    EXPECT_EQ(sanitizerReport(c), "") << c.name;
  }
  std::vector<Line> window = log("window");
  EXPECT_TRUE(has(window, "ROUND", "start 1 map Arena")) << raw("window");
  EXPECT_TRUE(has(log("bot"), "CHAT", "Window: hello from the window")) << raw("bot");
  EXPECT_TRUE(has(log("host"), "CHAT", "Window: hello from the window")) << raw("host");
  int asked = 0, declined = 0;
  for (const Line& line : window) {
    asked += line.tag == "MENU" && line.text == "leave question";
    declined += line.tag == "MENU" && line.text == "question answered \"None\"";
  }
  EXPECT_EQ(asked, 3) << raw("window");
  EXPECT_EQ(declined, 3) << raw("window");
  EXPECT_TRUE(has(window, "MENU", "question answered \"Leave\"")) << raw("window");
  for (const Line& line : log("host")) EXPECT_NE(line.tag, "BARREL") << line.text;
  EXPECT_TRUE(has(window, "MENU", "back to the menus from the match")) << raw("window");
  EXPECT_TRUE(has(window, "SESSION", "left")) << raw("window");
  EXPECT_TRUE(has(window, "MENU", "action \"Multiplayer\"")) << raw("window");
}

TEST_F(MatchTest, BotsLeaveWhenToldAndFailWithoutAHost) {
  int base = freePortBase();
  ASSERT_NE(base, 0);
  std::string ports = std::to_string(base);

  // Nobody listens yet: no session, status 1. A bad command line: status 2.
  std::vector<Child> lonely = {spawn(dir, "lonely", botArgs("lonely", base), env())};
  ASSERT_TRUE(waitAll(lonely, 30000));
  EXPECT_EQ(exitCode(lonely[0]), 1);
  EXPECT_NE(test::readFile(lonely[0].errors).find("cannot connect"), std::string::npos);
  EXPECT_EQ(test::runCommand(bot() + " --connect 127.0.0.1 --play dance 2>/dev/null"), 2);
  EXPECT_EQ(test::runCommand(bot() + " --play still 2>/dev/null"), 2);
  std::string help;
  EXPECT_EQ(test::runCommand(bot() + " --help", &help), 0);
  EXPECT_NE(help.find("--rounds-then-leave"), std::string::npos);

  // A host that waits for more players than come, and closes after a while.
  test::writeFile(dir.file("close.txt"), "3000 close\n");
  std::vector<Child> children;
  children.push_back(spawn(dir, "host",
                           {game(), "--headless", "--data", test::binaryDir(), "--host",
                            "--start-with", "9", "--port-base", ports, "--input-script",
                            dir.file("close.txt"), "--log", dir.file("host.log")},
                           env()));
  ASSERT_TRUE(waitForText(dir.file("host.log"), "SESSION hosting", 30000)) << raw("host");
  children.push_back(spawn(dir, "early", plus(botArgs("early", base), {"--leave-after", "1"}),
                           env()));
  children.push_back(spawn(dir, "late", botArgs("late", base), env()));
  ASSERT_TRUE(waitAll(children, 60000)) << raw("host");
  for (const Child& c : children) {
    EXPECT_EQ(exitCode(c), 0) << c.name << "\n" << test::readFile(c.errors);
    EXPECT_EQ(sanitizerReport(c), "") << c.name;
  }
  std::vector<Line> host = log("host"), early = log("early"), late = log("late");
  EXPECT_TRUE(has(early, "BOT", "leaving: its time is up")) << raw("early");
  const Line* joined = find(early, "BOT", "joined as player ");
  ASSERT_NE(joined, nullptr) << raw("early");
  std::string id = joined->text.substr(17);
  EXPECT_TRUE(has(host, "LEAVE", "player " + id + " \"early\" left, 1 players")) << raw("host");
  EXPECT_TRUE(has(late, "LEAVE", "player " + id + " \"early\" left")) << raw("late");
  // Closing the host's window says goodbye rather than letting the connections drop.
  EXPECT_TRUE(has(late, "SESSION", "the host closed the game")) << raw("late");
  EXPECT_TRUE(has(late, "BOT", "leaving: the host ended the session")) << raw("late");
}

}  // namespace
