#include "data/config.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "support/test_support.h"

namespace {

// The file as it was before the game remembered its window.
const char* const kFileWithoutDisplay =
    "[Network]\r\nICP Port = 6500\r\nTCP Port = 6501\r\nUDP Port = 6502\r\nIP = 127.0.0.1\r\n"
    "\r\n[Server]\r\nInternet = 0\r\nName = Default Server\r\nRounds = 3\r\nRoundTime = 180\r\n"
    "\r\n[Sound]\r\nVolume = 50\r\nPan = 1\r\nMusic = 25\r\nEffects = 100\r\nNavigation = 75\r\n"
    "\r\n[Control]\r\nUp = 200\r\nRight = 205\r\nDown = 208\r\nLeft = 203\r\nA = 44\r\nB = 45\r\n"
    "Score = 15\r\n"
    "\r\n[Others]\r\nName = Default\r\nLanguage = English\r\nBlood = 1\r\nDeadBodyTime = 600\r\n"
    "FreeCamera = 1\r\nIconTime = 10\r\n"
    "\r\n[ServerList]\r\nURL = serverlist.powderbox.example/Projekte/Powderbox/ServerList.php\r\n"
    "Bind = \r\n";
const char* const kDisplayGroup =
    "\r\n[Display]\r\nFullscreen = 0\r\nWidth = 1024\r\nHeight = 768\r\n";
const std::string kDefaultFile = std::string(kFileWithoutDisplay) + kDisplayGroup;

const char* const kLocaleVariables[] = {"APPDATA", "XDG_CONFIG_HOME", "HOME", "LC_ALL",
                                        "LC_MESSAGES", "LANG"};

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kLocaleVariables) {
      if (const char* value = getenv(name)) saved_[name] = value;
      unsetenv(name);
    }
    setenv("LANG", "C", 1);
    folder_ = dir_.path() + "/Vantrel/Powderbox/";
    SetConfigFolder(folder_);
  }
  void TearDown() override {
    runOverrides = {};
    for (const char* name : kLocaleVariables) unsetenv(name);
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }

  std::string file() const { return folder_ + "Config.ini"; }
  void writeConfig(const std::string& text) {
    std::filesystem::create_directories(folder_);
    test::writeFile(file(), text);
  }

  test::TempDir dir_;
  std::string folder_;
  std::map<std::string, std::string> saved_;
};

TEST_F(ConfigTest, MissingFileGivesDefaultsAndTheFirstSaveWritesEveryKey) {
  // Neither the application-data folder nor the game's folders exist yet.
  setenv("APPDATA", (dir_.path() + "/Roaming").c_str(), 1);
  SetConfigFolder(UserFolder());
  config.volume = 3;
  LoadConfig();
  EXPECT_EQ(config.volume, 50);
  EXPECT_EQ(config.tcpPort, 6501);
  EXPECT_EQ(config.ip, "127.0.0.1");
  EXPECT_EQ(config.language, "English");
  EXPECT_FALSE(ConfigUnreadable());

  ASSERT_TRUE(SaveConfig());
  EXPECT_EQ(test::readFile(dir_.path() + "/Roaming/Vantrel/Powderbox/Config.ini"), kDefaultFile);
}

TEST_F(ConfigTest, UserFolderComesFromAppDataThenXdgThenHome) {
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(UserFolder(), "/home/someone/.config\\Vantrel\\Powderbox\\");
  setenv("XDG_CONFIG_HOME", "/xdg", 1);
  EXPECT_EQ(UserFolder(), "/xdg\\Vantrel\\Powderbox\\");
  setenv("APPDATA", "/appdata", 1);
  EXPECT_EQ(UserFolder(), "/appdata\\Vantrel\\Powderbox\\");
}

TEST_F(ConfigTest, EveryValueSurvivesASaveAndALoad) {
  LoadConfig();
  config.icpPort = 7100;
  config.tcpPort = 7101;
  config.udpPort = 7102;
  config.ip = "10.1.2.3";
  config.internet = 1;
  config.serverName = "Cellar";
  config.rounds = 9;
  config.roundTime = 240;
  config.volume = 80;
  config.pan = 0;
  config.music = 10;
  config.effects = 20;
  config.navigation = 30;
  config.controlUp = 17;
  config.controlRight = 32;
  config.controlDown = 31;
  config.controlLeft = 30;
  config.controlA = 57;
  config.controlB = 29;
  config.controlScore = 42;
  config.playerName = "Gr\xFC\xDF" "e";  // Windows-1252 bytes pass through unchanged
  config.language = "Deutsch";
  config.blood = 0;
  config.deadBodyTime = 90;
  config.freeCamera = 0;
  config.iconTime = 5;
  config.serverListUrl = "lists.example.org:8080/games/powderbox/list.php";  // beyond 32
  config.bindAddress = "192.168.1.20";
  config.fullscreen = 1;
  config.windowWidth = 1600;
  config.windowHeight = 900;
  ASSERT_TRUE(SaveConfig());
  std::string written = test::readFile(file());
  EXPECT_NE(written, kDefaultFile);

  // The file holds every value, so loading it and saving elsewhere must give the same file.
  config = Config{};
  LoadConfig();
  SetConfigFolder(dir_.path() + "/Again/");
  ASSERT_TRUE(SaveConfig());
  EXPECT_EQ(test::readFile(dir_.path() + "/Again/Config.ini"), written);
  EXPECT_EQ(config.playerName, "Gr\xFC\xDF" "e");
  EXPECT_EQ(config.serverListUrl, "lists.example.org:8080/games/powderbox/list.php");
  EXPECT_EQ(config.windowWidth, 1600);
}

// A file from before the window was remembered: every group it had comes back byte for byte,
// the window's group follows with its defaults.
TEST_F(ConfigTest, AnOlderFileKeepsItsGroupsAndGainsTheWindowsAtTheEnd) {
  std::string older = kFileWithoutDisplay;
  older.replace(older.find("Volume = 50"), 11, "Volume = 5");
  writeConfig(older);
  LoadConfig();
  EXPECT_EQ(config.volume, 5);
  EXPECT_EQ(config.fullscreen, 0);
  EXPECT_EQ(config.windowHeight, 768);
  ASSERT_TRUE(SaveConfig());
  std::string saved = test::readFile(file());
  EXPECT_EQ(saved.substr(0, older.size()), older);
  EXPECT_EQ(saved.substr(older.size()), kDisplayGroup);

  writeConfig("[Display]\r\nFullscreen = 7\r\nWidth = 90000\r\nHeight = 12\r\n");
  LoadConfig();
  EXPECT_EQ(config.fullscreen, 1);
  EXPECT_EQ(config.windowWidth, 16384);
  EXPECT_EQ(config.windowHeight, 240);
}

TEST_F(ConfigTest, RunOverridesWinButAreNeverSaved) {
  writeConfig("[ServerList]\r\nURL = list.example.org/list.php\r\nBind = 10.0.0.2\r\n");
  LoadConfig();
  EXPECT_EQ(ServerListUrl(), "list.example.org/list.php");
  EXPECT_EQ(BindAddress(), "10.0.0.2");
  runOverrides = {"127.0.0.1:8000/test.php", "127.0.0.5"};
  EXPECT_EQ(ServerListUrl(), "127.0.0.1:8000/test.php");
  EXPECT_EQ(BindAddress(), "127.0.0.5");
  ASSERT_TRUE(SaveConfig());
  runOverrides = {};
  LoadConfig();
  EXPECT_EQ(ServerListUrl(), "list.example.org/list.php");
  EXPECT_EQ(BindAddress(), "10.0.0.2");
}

TEST_F(ConfigTest, KeysAndGroupsMatchRegardlessOfCase) {
  writeConfig(
      "[NETWORK]\r\ntcp port = 7000\r\n"
      "[others]\nNAME = Mira\nlanguage=Deutsch\n"
      "[sOuNd]\rVOLUME = 12\r");
  LoadConfig();
  EXPECT_EQ(config.tcpPort, 7000);
  EXPECT_EQ(config.playerName, "Mira");
  EXPECT_EQ(config.language, "Deutsch");
  EXPECT_EQ(config.volume, 12);
  // "Name" of [Server] is a different key from "Name" of [Others].
  EXPECT_EQ(config.serverName, "Default Server");
  EXPECT_EQ(config.udpPort, 6502);
}

TEST_F(ConfigTest, EditedValuesAreBroughtIntoTheirRanges) {
  std::string longName(40, 'x');
  writeConfig(
      "[Network]\r\nICP Port = 0\r\nTCP Port = 70000\r\nUDP Port = many\r\nIP = " + longName +
      "\r\n[Server]\r\nInternet = 7\r\nRounds = 0\r\nRoundTime = 99999\r\n"
      "[Sound]\r\nVolume = 150\r\nMusic = -5\r\n"
      "[Control]\r\nUp = 300\r\nA = 0\r\nB = 57\r\n"
      "[Others]\r\nName = " + longName + "\r\nLanguage = ..\\..\\secret\r\nIconTime = 31\r\n"
      "[ServerList]\r\nURL = " + std::string(300, 'u') + "\r\nBind = " + longName + "\r\n");
  LoadConfig();
  EXPECT_EQ(config.icpPort, 6500);
  EXPECT_EQ(config.tcpPort, 6501);
  EXPECT_EQ(config.udpPort, 6502);
  EXPECT_EQ(config.ip, std::string(kConfigTextLength, 'x'));
  EXPECT_EQ(config.internet, 1);
  EXPECT_EQ(config.rounds, 1);
  EXPECT_EQ(config.roundTime, 300);
  EXPECT_EQ(config.volume, 100);
  EXPECT_EQ(config.music, 0);
  EXPECT_EQ(config.controlUp, 200);
  EXPECT_EQ(config.controlA, 44);
  EXPECT_EQ(config.controlB, 57);
  EXPECT_EQ(config.playerName.size(), kConfigTextLength);
  EXPECT_EQ(config.language, "English");
  EXPECT_EQ(config.iconTime, 30);
  EXPECT_EQ(config.serverListUrl, std::string(kConfigUrlLength, 'u'));
  EXPECT_EQ(config.bindAddress.size(), kConfigTextLength);
}

TEST_F(ConfigTest, AValueCutBeforeABlankReadsTheSameAfterASave) {
  std::string name = std::string(kConfigTextLength - 1, 'x') + " and more";
  std::string url = std::string(kConfigUrlLength - 1, 'u') + " /more";
  writeConfig("[Others]\r\nName = " + name + "\r\n[ServerList]\r\nURL = " + url + "\r\n");
  LoadConfig();
  Config first = config;
  ASSERT_TRUE(SaveConfig());
  LoadConfig();
  EXPECT_EQ(config.playerName, first.playerName);
  EXPECT_EQ(config.serverListUrl, first.serverListUrl);
  EXPECT_EQ(first.playerName, std::string(kConfigTextLength - 1, 'x'));
}

TEST_F(ConfigTest, GermanLocaleChoosesDeutschOnTheFirstStart) {
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(DefaultLanguage(), "Deutsch");
  LoadConfig();
  EXPECT_EQ(config.language, "Deutsch");

  setenv("LANG", "de", 1);
  EXPECT_EQ(DefaultLanguage(), "Deutsch");
  setenv("LANG", "dea_XX", 1);
  EXPECT_EQ(DefaultLanguage(), "English");
  setenv("LANG", "de_AT.UTF-8", 1);
  setenv("LC_MESSAGES", "en_GB.UTF-8", 1);
  EXPECT_EQ(DefaultLanguage(), "English");
  setenv("LC_ALL", "de_CH.UTF-8", 1);
  EXPECT_EQ(DefaultLanguage(), "Deutsch");

  // A language chosen in the file wins over the locale.
  writeConfig("[Others]\r\nLanguage = English\r\n");
  LoadConfig();
  EXPECT_EQ(config.language, "English");
}

TEST_F(ConfigTest, AFileThatCannotBeReadIsNeverReplaced) {
  // Far too large to be ours: not read at all.
  const std::string huge = "[Sound]\r\n; " + std::string(100 * 1024, 'x') + "\r\n";
  writeConfig(huge);
  LoadConfig();
  EXPECT_TRUE(ConfigUnreadable());
  EXPECT_FALSE(SaveConfig());
  EXPECT_EQ(test::readFile(file()), huge);

  // Something that is not a file at all.
  std::filesystem::remove(file());
  std::filesystem::create_directories(file());
  LoadConfig();
  EXPECT_TRUE(ConfigUnreadable());
  EXPECT_FALSE(SaveConfig());
  EXPECT_TRUE(std::filesystem::is_directory(file()));

  // Once it is gone, saving works again after the next load.
  std::filesystem::remove(file());
  LoadConfig();
  EXPECT_FALSE(ConfigUnreadable());
  EXPECT_TRUE(SaveConfig());
}

TEST_F(ConfigTest, AFileWithoutReadPermissionIsNeverReplaced) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  writeConfig("[Sound]\r\nVolume = 5\r\n");
  ASSERT_EQ(chmod(file().c_str(), 0200), 0);
  LoadConfig();
  EXPECT_TRUE(ConfigUnreadable());
  EXPECT_EQ(config.volume, 50);
  EXPECT_FALSE(SaveConfig());
  ASSERT_EQ(chmod(file().c_str(), 0600), 0);
  EXPECT_EQ(test::readFile(file()), "[Sound]\r\nVolume = 5\r\n");
}

TEST_F(ConfigTest, AFileThatWasReadIsRewrittenWithEverySettingAndTheValuesRead) {
  using namespace std::string_literals;
  std::string volume5 = kDefaultFile;
  volume5.replace(volume5.find("Volume = 50"), 11, "Volume = 5");
  const std::pair<std::string, std::string> cases[] = {
      {"; edited by hand\r\n[Mods]\r\nVolume = 5\r\n[More]\r\n", kDefaultFile},
      {"this is not a settings file\n", kDefaultFile},
      {"", kDefaultFile},  // left by a crash of an older version
      {"[mods]\r\nSpeed = 9\r\n[SOUND]\r\nvolume = 5\r\nColour = red\r\n", volume5},
      {"[Sound]\r\nnonsense\r\nVolume = 5\r\n\0\0\0garbage"s, volume5},
  };
  for (const auto& [content, expected] : cases) {
    writeConfig(content);
    LoadConfig();
    EXPECT_FALSE(ConfigUnreadable());
    ASSERT_TRUE(SaveConfig());
    EXPECT_EQ(test::readFile(file()), expected) << content;
  }
}

// Runs SaveConfig in a child whose files may not grow past a few bytes, as on a full disk.
TEST_F(ConfigTest, AFailedWriteLeavesThePreviousFileWhole) {
  LoadConfig();
  ASSERT_TRUE(SaveConfig());
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {64, 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    config.volume = 1;
    _exit(SaveConfig() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed save must report failure";
  EXPECT_EQ(test::readFile(file()), kDefaultFile);
  // No half-written temporary file is left beside it.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

// The temporaries a save leaves when it is killed, by name.
std::set<std::string> temporariesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = entry.path().filename();
    if (name != "Config.ini") names.insert(name);
  }
  return names;
}

// A process killed at any moment of saving leaves either the old or the new file, byte for
// byte. POWDERBOX_KILLS sets the number of kills (bench/config_kills.sh runs a thousand).
TEST_F(ConfigTest, AKilledSaveLeavesAWholeFile) {
  LoadConfig();
  ASSERT_TRUE(SaveConfig());
  std::string other = kDefaultFile;
  other.replace(other.find("Volume = 50"), 11, "Volume = 51");
  // Kills fall anywhere in the first few saves of the child.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) SaveConfig();
  auto save = (std::chrono::steady_clock::now() - start) / 20;
  long window = std::max<long>(
      1, 3 * std::chrono::duration_cast<std::chrono::microseconds>(save).count());
  const char* wanted = getenv("POWDERBOX_KILLS");
  int kills = wanted ? atoi(wanted) : 50;
  std::mt19937 rng(12345);
  int olds = 0, news = 0;
  for (int k = 0; k < kills; ++k) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[0]);
      ssize_t told = write(ready[1], "r", 1);
      (void)told;
      for (int i = 0;; ++i) {
        config.volume = 50 + ((i + k) & 1);
        SaveConfig();
      }
    }
    close(ready[1]);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    usleep(static_cast<useconds_t>(rng() % static_cast<unsigned long>(window)));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::string text = test::readFile(file());
    olds += text == kDefaultFile;
    news += text == other;
    ASSERT_TRUE(text == kDefaultFile || text == other) << "kill " << k << ":\n" << text;
  }
  size_t left = temporariesIn(folder_).size();
  printf("%d kills %ld us apart at most: old file %d, new file %d, %zu unfinished writes left\n",
         kills, window, olds, news, left);
}

// What killed saves leave lies there until the next start, which takes only those: the file's
// own temporaries, old enough that no running copy of the game can still be writing them.
TEST_F(ConfigTest, UnfinishedSavesAreRemovedAtTheNextStart) {
  writeConfig(kDefaultFile);
  const std::vector<std::string> stale = {".Config.ini.Ab3xYz", ".Config.ini.000000"};
  const std::vector<std::string> kept = {".Config.ini.fresh1", ".Config.ini.toolong", "Config.ini.abcdef",
                                          ".config.ini.abcdef", ".Config.ini.ab-def", "notes.txt"};
  time_t hourAgo = time(nullptr) - 3600;
  for (const std::string& name : stale) test::writeFile(folder_ + name, "[Network]\r\nTCP");
  for (const std::string& name : kept) test::writeFile(folder_ + name, "x");
  std::filesystem::create_directory(folder_ + ".Config.ini.folder");
  for (const std::string& name : temporariesIn(folder_)) {
    if (name == ".Config.ini.fresh1") continue;
    timeval times[2] = {{hourAgo, 0}, {hourAgo, 0}};
    utimes((folder_ + name).c_str(), times);
  }
  LoadConfig();
  std::set<std::string> after = temporariesIn(folder_);
  std::set<std::string> expected(kept.begin(), kept.end());
  expected.insert(".Config.ini.folder");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(test::readFile(file()), kDefaultFile);
}

TEST(KeyNames, OnlyTheListedCodesHaveNames) {
  FillKeyNames();
  EXPECT_EQ(KeyName(1), "Escape");
  EXPECT_EQ(KeyName(88), "F12");
  // (86, the extra key of ISO keyboards, is named only where the layout has it.)
  for (int code : {1, 28, 44, 45, 57, 69, 83, 87, 88, 156, 157, 181, 183, 184, 197, 199, 200,
                   201, 203, 205, 207, 208, 209, 210, 211, 219, 220, 221}) {
    EXPECT_FALSE(KeyName(code).empty()) << code;
  }
  // Codes outside the table cannot be bound, whatever the keyboard calls them.
  for (int code : {0, 84, 85, 89, 100, 155, 182, 198, 202, 222, 255, -1, 256}) {
    EXPECT_EQ(KeyName(code), "") << code;
  }
  EXPECT_NE(KeyName(69), KeyName(197));  // Num Lock and Pause share a scan code
}

}  // namespace
