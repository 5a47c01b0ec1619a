#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "runtime/files.h"
#include "support/test_support.h"

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

class Preferences : public ::testing::Test {
 protected:
  void SetUp() override { rt::setDataRoot(dir.path()); }
  void TearDown() override { rt::closePreferences(); }

  bool openText(const std::string& text) {
    test::writeFile(dir.file("test.ini"), text);
    return rt::openPreferences("test.ini");
  }

  test::TempDir dir;
};

}  // namespace

TEST_F(Preferences, GroupsAndKeysIgnoreCase) {
  ASSERT_TRUE(
      openText("[Network]\r\nTCP Port = 7001\r\nIP = 10.0.0.1\r\n[Sound]\r\nVolume=80\r\n"));
  rt::preferenceGroup("network");
  EXPECT_EQ(rt::readPreferenceLong("tcp port", 6501), 7001);
  EXPECT_EQ(rt::readPreferenceString("ip", "127.0.0.1"), "10.0.0.1");
  EXPECT_EQ(rt::readPreferenceLong("Volume", 50), 50);  // belongs to another group
  rt::preferenceGroup("SOUND");
  EXPECT_EQ(rt::readPreferenceLong("VOLUME", 50), 80);
  rt::preferenceGroup("Control");
  EXPECT_EQ(rt::readPreferenceLong("Up", 200), 200);
  EXPECT_TRUE(rt::preferenceKeys().empty());
}

TEST_F(Preferences, KeysAboveTheFirstGroupAreSeenBeforeAnyGroup) {
  ASSERT_TRUE(openText("; language file\nMain Menu = Hauptmen\xFC\nQuit Question = Beenden?\n"
                       "No Equals Line\n[Extra]\nHidden = yes\n"));
  EXPECT_EQ(rt::preferenceKeys(),
            (Keys{{"Main Menu", "Hauptmen\xFC"}, {"Quit Question", "Beenden?"}}));
  EXPECT_EQ(rt::readPreferenceString("hidden", "none"), "none");
  rt::preferenceGroup("Extra");
  EXPECT_EQ(rt::preferenceKeys(), (Keys{{"Hidden", "yes"}}));
  rt::preferenceGroup("");
  EXPECT_EQ(rt::preferenceKeys().size(), 2u);
}

TEST_F(Preferences, LineEndingsCommentsAndBlanks) {
  ASSERT_TRUE(openText("a = 1\rb=2\r\n; c = 3\n  d  =  spaced value  \n\ne = x = y\n= nokey\n"
                       "\tf\t=\t\n"));
  EXPECT_EQ(rt::preferenceKeys(), (Keys{{"a", "1"}, {"b", "2"}, {"d", "spaced value"},
                                        {"e", "x = y"}, {"f", ""}}));
}

TEST_F(Preferences, FirstOfRepeatedKeysAndGroupsWins) {
  ASSERT_TRUE(openText("[G]\nk = 1\nK = 2\n[Other]\nz = 0\n[g]\nk = 3\nm = 4\n"));
  rt::preferenceGroup("G");
  EXPECT_EQ(rt::readPreferenceString("k", ""), "1");
  EXPECT_EQ(rt::preferenceKeys(), (Keys{{"k", "1"}, {"m", "4"}}));
}

TEST_F(Preferences, NumbersAndFallbacks) {
  ASSERT_TRUE(openText("[N]\nint = -42\nbig = 99999999999\nword = abc\nfloat = 2.5\n"
                       "lead = 12px\nempty =\n"));
  rt::preferenceGroup("N");
  EXPECT_EQ(rt::readPreferenceLong("int", 0), -42);
  EXPECT_EQ(rt::readPreferenceLong("big", 0), INT32_MAX);
  EXPECT_EQ(rt::readPreferenceLong("word", 7), 7);
  EXPECT_EQ(rt::readPreferenceLong("empty", 7), 7);
  EXPECT_EQ(rt::readPreferenceLong("lead", 7), 12);
  EXPECT_EQ(rt::readPreferenceLong("float", 7), 2);
  EXPECT_FLOAT_EQ(rt::readPreferenceFloat("float", 0), 2.5f);
  EXPECT_FLOAT_EQ(rt::readPreferenceFloat("word", 1.25f), 1.25f);
  EXPECT_EQ(rt::readPreferenceString("missing", "def"), "def");
}

TEST_F(Preferences, MissingFileGivesDefaults) {
  EXPECT_FALSE(rt::openPreferences("nothing.ini"));
  rt::preferenceGroup("Network");
  EXPECT_EQ(rt::readPreferenceLong("TCP Port", 6501), 6501);
  EXPECT_FALSE(rt::closePreferencesChecked());
}

TEST_F(Preferences, WrittenBytesAreExactAndReadBack) {
  ASSERT_TRUE(rt::createPreferences("Out.ini"));
  rt::writePreferenceComment("settings");
  rt::preferenceGroup("Network");
  rt::writePreferenceLong("TCP Port", 6501);
  rt::writePreferenceString("IP", "127.0.0.1");
  rt::preferenceGroup("Others");
  rt::writePreferenceString("Name", "two\r\nlines");
  rt::writePreferenceLong("Low", -2147483647 - 1);
  rt::writePreferenceFloat("Scale", 0.1f);
  ASSERT_TRUE(rt::closePreferencesChecked());
  EXPECT_EQ(test::readFile(dir.file("Out.ini")),
            "; settings\r\n"
            "\r\n"
            "[Network]\r\n"
            "TCP Port = 6501\r\n"
            "IP = 127.0.0.1\r\n"
            "\r\n"
            "[Others]\r\n"
            "Name = two  lines\r\n"
            "Low = -2147483648\r\n"
            "Scale = 0.1\r\n");

  ASSERT_TRUE(rt::openPreferences("out.ini"));
  rt::preferenceGroup("others");
  EXPECT_EQ(rt::readPreferenceString("name", ""), "two  lines");
  EXPECT_EQ(rt::readPreferenceLong("low", 0), INT32_MIN);
  EXPECT_EQ(rt::readPreferenceFloat("scale", 0), 0.1f);
  rt::preferenceGroup("Network");
  EXPECT_EQ(rt::readPreferenceLong("tcp port", 0), 6501);
}

TEST_F(Preferences, NothingIsWrittenBeforeClosing) {
  test::writeFile(dir.file("Config.ini"), "[Old]\r\n");
  ASSERT_TRUE(rt::createPreferences("Config.ini"));
  rt::preferenceGroup("New");
  EXPECT_EQ(test::readFile(dir.file("Config.ini")), "[Old]\r\n");
  rt::closePreferences();
  EXPECT_EQ(test::readFile(dir.file("Config.ini")), "[New]\r\n");
}

TEST_F(Preferences, AFailedSaveIsReported) {
  EXPECT_FALSE(rt::createPreferences("Gone\\Config.ini"));
  std::filesystem::create_directory(dir.file("Gone"));
  ASSERT_TRUE(rt::createPreferences("Gone\\Config.ini"));
  rt::writePreferenceLong("k", 1);
  // The folder goes away before the save.
  std::filesystem::remove(dir.file("Gone"));
  EXPECT_FALSE(rt::closePreferencesChecked());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(Preferences, OpeningAnotherFileWritesTheCreatedOne) {
  ASSERT_TRUE(rt::createPreferences("First.ini"));
  rt::writePreferenceLong("k", 1);
  EXPECT_FALSE(rt::openPreferences("nothing.ini"));
  EXPECT_EQ(test::readFile(dir.file("First.ini")), "k = 1\r\n");
}

TEST_F(Preferences, BinaryJunkAndHugeFilesAreHarmless) {
  std::mt19937 generator(5);
  std::string junk(200000, '\0');
  for (char& c : junk) c = static_cast<char>(generator());
  ASSERT_TRUE(openText(junk));
  rt::preferenceKeys();
  rt::readPreferenceString("x", "");
  rt::closePreferences();

  std::string longLine = "key = " + std::string(100000, 'v') + "\nnext = 1\n";
  ASSERT_TRUE(openText(longLine));
  EXPECT_LT(rt::readPreferenceString("key", "").size(), 20000u);
  EXPECT_EQ(rt::readPreferenceLong("next", 0), 1);
  rt::closePreferences();

  test::writeFile(dir.file("huge.ini"), std::string(5 << 20, 'a'));
  EXPECT_FALSE(rt::openPreferences("huge.ini"));
}
