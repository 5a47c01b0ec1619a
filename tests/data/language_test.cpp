#include "data/language.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "runtime/files.h"
#include "support/test_support.h"

namespace {

std::string builtLanguage(const std::string& name) {
  return test::binaryDir() + "/Data/Language/" + name + ".ini";
}

// The English file of a data root of its own, the root given back at the end.
class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.file("Data/Language"));
    test::writeFile(dir.file("Data/Language/English.ini"),
                    "Main Menu = Main Menu\r\nCredits = Credits\r\nQuit = Quit\r\n"
                    "Back = Back\r\n");
    root = rt::dataRoot();
    rt::setDataRoot(dir.path());
  }
  void TearDown() override { rt::setDataRoot(root); }

  test::TempDir dir;
  std::string root;
};

TEST_F(LanguageTest, MissingTextsComeFromEnglishAndOthersStayEmpty) {
  test::writeFile(dir.file("Test.ini"),
                  "; comment = not a key\r\nMain Menu = Hauptmen\xFC\r\nQuit = \r\n"
                  "Message Kill = wurde von ~ gesprengt\r\n");
  ASSERT_TRUE(LoadLanguage(dir.file("Test.ini")));
  EXPECT_EQ(Lang("Main Menu"), "Hauptmen\xFC");
  EXPECT_EQ(Lang("Credits"), "Credits");
  EXPECT_EQ(Lang("Quit"), "Quit");  // an empty text counts as missing
  EXPECT_EQ(Lang("Message Kill"), "wurde von ~ gesprengt");
  EXPECT_EQ(LanguageTextsFromEnglish(), 3u);
  // A key neither file has shows empty, and asking for it does not give it a text.
  EXPECT_EQ(Lang("Options"), "");
  EXPECT_FALSE(LanguageHasText("Options"));
  EXPECT_EQ(Lang("; comment"), "");

  ASSERT_TRUE(LoadLanguage(LanguagePath("English")));
  EXPECT_EQ(LanguageTextsFromEnglish(), 0u);
}

TEST_F(LanguageTest, GarbageOrCutFilesShowEnglishWhereTheyHaveNothing) {
  std::string garbage;
  for (int i = 0; i < 4000; ++i) garbage += static_cast<char>((i * 37) % 256);
  const std::pair<std::string, size_t> cases[] = {
      {garbage, 4},
      {"Main Menu = Hauptmen\xFC\r\nCredits = Mitwir", 2},  // cut in its second line
      {"\r\n\r\n", 4},
  };
  for (const auto& [text, missing] : cases) {
    test::writeFile(dir.file("Broken.ini"), text);
    ASSERT_TRUE(LoadLanguage(dir.file("Broken.ini")));
    EXPECT_EQ(LanguageTextsFromEnglish(), missing);
    EXPECT_EQ(Lang("Back"), "Back");
  }
}

TEST_F(LanguageTest, OnlyTheKeysAboveTheFirstGroupCount) {
  test::writeFile(dir.file("Test.ini"), "Back = Back\n[Extra]\nStart = Go\n");
  ASSERT_TRUE(LoadLanguage(dir.file("Test.ini")));
  EXPECT_EQ(Lang("Back"), "Back");
  EXPECT_EQ(Lang("back"), "Back");
  EXPECT_EQ(Lang("Start"), "");
}

TEST(Language, AFileThatCannotBeReadKeepsThePreviousTexts) {
  test::TempDir dir;
  test::writeFile(dir.file("Good.ini"), "Options = Optionen\n");
  ASSERT_TRUE(LoadLanguage(dir.file("Good.ini")));

  EXPECT_FALSE(LoadLanguage(dir.file("Missing.ini")));
  EXPECT_EQ(Lang("Options"), "Optionen");

  std::filesystem::create_directory(dir.file("Folder.ini"));
  EXPECT_FALSE(LoadLanguage(dir.file("Folder.ini")));
  EXPECT_EQ(Lang("Options"), "Optionen");

  // A huge file of distinct keys is refused before it is parsed, so it cannot stall the game.
  std::string flood;
  for (int i = 0; flood.size() < 200 * 1024; ++i) flood += std::to_string(i) + "=x\n";
  test::writeFile(dir.file("Flood.ini"), flood);
  EXPECT_FALSE(LoadLanguage(dir.file("Flood.ini")));
  EXPECT_EQ(Lang("Options"), "Optionen");
}

// The literal keys of the calls Lang("...") in a source text.
void addLiteralKeys(const std::string& text, std::set<std::string>* keys) {
  auto identifier = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t at = text.find("Lang("); at != std::string::npos; at = text.find("Lang(", at + 1)) {
    if (at > 0 && identifier(text[at - 1])) continue;
    size_t open = text.find_first_not_of(" \t", at + 5);
    if (open == std::string::npos || text[open] != '"') continue;
    size_t close = text.find('"', open + 1);
    size_t after = close == std::string::npos ? close : text.find_first_not_of(" \t", close + 1);
    if (after == std::string::npos || text[after] != ')') continue;
    keys->insert(text.substr(open + 1, close - open - 1));
  }
}

// Every key the code asks for: the literals of the sources and the list of keys passed through
// variables.
std::set<std::string> keysTheCodeUses() {
  std::set<std::string> keys(std::begin(kLanguageKeys), std::end(kLanguageKeys));
  for (const char* folder : {"app", "data", "world", "render", "audio", "net", "ui"}) {
    std::filesystem::path root = test::sourceDir() + "/" + folder;
    if (!std::filesystem::exists(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      std::string ext = entry.path().extension();
      if (ext == ".cpp" || ext == ".h") addLiteralKeys(test::readFile(entry.path()), &keys);
    }
  }
  return keys;
}

TEST(Language, LiteralKeysAreFoundInTheSources) {
  std::set<std::string> keys;
  addLiteralKeys("a = Lang(\"Main Menu\") + Lang( \"Quit\" ); SetLang(\"x\"); Lang(name);", &keys);
  EXPECT_EQ(keys, (std::set<std::string>{"Main Menu", "Quit"}));
}

TEST(Language, EveryShippedLanguageHasATextForEveryKeyTheCodeUses) {
  std::set<std::string> keys = keysTheCodeUses();
  ASSERT_GT(keys.size(), 60u);
  for (const char* name : {"English", "Deutsch"}) {
    ASSERT_TRUE(LoadLanguage(builtLanguage(name))) << name;
    EXPECT_EQ(LanguageTextsFromEnglish(), 0u) << name;
    for (const std::string& key : keys) {
      EXPECT_TRUE(LanguageHasText(key)) << name << " lacks \"" << key << "\"";
    }
    // The code splits the kill message at its one "~".
    std::string kill = Lang("Message Kill");
    EXPECT_EQ(std::count(kill.begin(), kill.end(), '~'), 1) << name;
  }
}

TEST(Language, ShippedFilesAreWindows1252WithCrLfLines) {
  std::string german = test::readFile(builtLanguage("Deutsch"));
  ASSERT_FALSE(german.empty());
  EXPECT_NE(german.find("Main Menu = Hauptmen\xFC\r\n"), std::string::npos);
  EXPECT_NE(german.find("Size = Gr\xF6\xDF" "e\r\n"), std::string::npos);
  EXPECT_EQ(german.find("\xC3"), std::string::npos) << "UTF-8 left in the file";
  for (size_t at = german.find('\n'); at != std::string::npos; at = german.find('\n', at + 1)) {
    ASSERT_GT(at, 0u);
    EXPECT_EQ(german[at - 1], '\r');
  }
  ASSERT_TRUE(LoadLanguage(builtLanguage("Deutsch")));
  EXPECT_EQ(Lang("Back"), "Zur\xFC" "ck");
}

TEST(Language, NamesAreTheLanguageFilesWithoutExtension) {
  std::string root = rt::dataRoot();
  rt::setDataRoot(test::binaryDir());
  std::vector<std::string> names = LanguageNames();
  rt::setDataRoot(root);
  EXPECT_EQ(names, (std::vector<std::string>{"Deutsch", "English"}));
}

// The content tool refuses sources the game would misread.
TEST(Language, TheBuildToolRefusesFaultySources) {
  test::TempDir dir;
  std::string tool = test::binaryDir() + "/tools/langbuild/langbuild";
  auto run = [&](const std::string& first, const std::string& second) {
    test::writeFile(dir.file("A.ini"), first);
    test::writeFile(dir.file("B.ini"), second);
    return test::runCommand("ASAN_OPTIONS=detect_leaks=0 " + tool + " " + dir.file("out") + " " +
                            dir.file("A.ini") + " " + dir.file("B.ini") + " 2>/dev/null");
  };
  EXPECT_EQ(run("; fine\nBack = Back\n\nSize = Size\n", "Back = Zurück\nSize = Größe\n"), 0);
  EXPECT_EQ(test::readFile(dir.file("out/B.ini")),
            "Back = Zur\xFC" "ck\r\nSize = Gr\xF6\xDF" "e\r\n");

  EXPECT_NE(run("Back = Back\nback = Again\n", "Back = Zurück\n"), 0);    // twice
  EXPECT_NE(run("Back = Back\nSize = Size\n", "Back = Zurück\n"), 0);     // missing key
  EXPECT_NE(run("Back = Back\n", "Back = Zurück\nSize = Größe\n"), 0);    // extra key
  EXPECT_NE(run("Back = Back\nJust words\n", "Back = Zurück\n"), 0);      // not key = text
  EXPECT_NE(run("Back = Back\n[Group]\n", "Back = Zurück\n"), 0);         // group line
  EXPECT_NE(run("Back = \xE2\x86\x90\n", "Back = Zurück\n"), 0);          // no 1252 byte
  EXPECT_NE(run("Back = Back\n", "Back = Zur\xFC" "ck\n"), 0);            // not UTF-8
}

}  // namespace
