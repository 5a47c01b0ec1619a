// The qzd tool from the outside: a folder in, an archive out, and back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "data/archive.h"
#include "support/test_support.h"

namespace {

std::string qzd() { return test::binaryDir() + "/tools/qzd/qzd"; }

bool haveQzd() {
  struct stat st;
  return stat(qzd().c_str(), &st) == 0;
}

int run(const std::string& arguments, std::string* output = nullptr) {
  return test::runCommand(qzd() + " " + arguments + " 2>&1", output);
}

std::string noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = char(rng());
  return s;
}

std::string text(size_t n) {
  std::string s;
  while (s.size() < n) s += "Each barrel has a fuse; each fuse burns down. ";
  s.resize(n);
  return s;
}

// A small content folder: nested folders, an empty file, text, noise, a non-ASCII name.
struct Content {
  test::TempDir dir;
  std::vector<std::pair<std::string, std::string>> files = {
      {"Box.png", noise(5000, 1)},
      {"Player/Torso.afs", text(20000)},
      {"Player/Parts/Arm.afs", text(700)},
      {"Music/Menu.ogg", noise(40000, 2)},
      {"Empty.txt", ""},
      {"Gr\xC3\xBC\xC3\x9F"
       "e.txt",
       text(30)},
  };
  Content() {
    mkdir(dir.file("in").c_str(), 0755);
    mkdir(dir.file("in/Player").c_str(), 0755);
    mkdir(dir.file("in/Player/Parts").c_str(), 0755);
    mkdir(dir.file("in/Music").c_str(), 0755);
    for (const auto& [name, bytes] : files) test::writeFile(dir.file("in/" + name), bytes);
  }
};

TEST(Qzd, CreateThenReadEveryEntryByteForByte) {
  if (!haveQzd()) GTEST_SKIP() << "qzd is not built";
  Content c;
  std::string out;
  ASSERT_EQ(run("create " + c.dir.file("Data.qzd") + " " + c.dir.file("in"), &out), 0) << out;
  ASSERT_NE(OpenArchive(0, c.dir.file("Data.qzd"), kArchivePassword), 0u);
  for (const auto& [name, bytes] : c.files) {
    std::string path = name;
    for (auto& ch : path) ch = ch == '/' ? '\\' : ch;
    if (path[0] == 'G')
      path =
          "Gr\xFC\xDF"
          "e.txt";  // Windows-1252 inside the archive
    std::vector<uint8_t> content = ReadArchiveEntry(0, path);
    ASSERT_EQ(content.size(), bytes.size() + 8) << name;
    EXPECT_EQ(std::string(content.begin(), content.end() - 8), bytes) << name;
  }
  CloseArchive(0);
  ASSERT_EQ(run("verify " + c.dir.file("Data.qzd"), &out), 0) << out;
  ASSERT_EQ(run("list " + c.dir.file("Data.qzd"), &out), 0) << out;
  EXPECT_NE(out.find("PE"), std::string::npos) << "text is packed and enciphered\n" << out;
  EXPECT_NE(out.find("Player\\Parts\\Arm.afs"), std::string::npos) << out;
  ASSERT_EQ(run("extract " + c.dir.file("Data.qzd") + " " + c.dir.file("back"), &out), 0) << out;
  for (const auto& [name, bytes] : c.files) {
    EXPECT_EQ(test::readFile(c.dir.file("back/" + name)), bytes) << name;
  }
}

TEST(Qzd, OptionsChooseWhatIsDone) {
  if (!haveQzd()) GTEST_SKIP() << "qzd is not built";
  Content c;
  std::string out;
  ASSERT_EQ(
      run("create --no-pack --no-encipher " + c.dir.file("Plain.qzd") + " " + c.dir.file("in"),
          &out),
      0)
      << out;
  ASSERT_EQ(run("list " + c.dir.file("Plain.qzd"), &out), 0) << out;
  for (const char* flags : {" PE ", " P- ", " -E "}) {
    EXPECT_EQ(out.find(flags), std::string::npos) << "nothing packed or enciphered\n" << out;
  }
  EXPECT_NE(out.find(" -- "), std::string::npos) << out;
  ASSERT_EQ(run("create --password Secret " + c.dir.file("Own.qzd") + " " + c.dir.file("in"), &out),
            0)
      << out;
  EXPECT_EQ(run("verify " + c.dir.file("Own.qzd"), &out), 1) << "the game's password is wrong";
  EXPECT_NE(out.find("Falsches Passwort"), std::string::npos) << out;
  EXPECT_EQ(run("verify --password Secret " + c.dir.file("Own.qzd"), &out), 0) << out;
}

TEST(Qzd, FailuresAndUsage) {
  if (!haveQzd()) GTEST_SKIP() << "qzd is not built";
  Content c;
  std::string out;
  EXPECT_EQ(run("", &out), 2);
  EXPECT_EQ(run("pack a b", &out), 2);
  EXPECT_EQ(run("create onlyone", &out), 2);
  EXPECT_EQ(run("list --bogus x", &out), 2);
  EXPECT_EQ(run("--help", &out), 0);
  EXPECT_NE(out.find("usage"), std::string::npos);
  EXPECT_EQ(run("create " + c.dir.file("x.qzd") + " " + c.dir.file("missing"), &out), 1);
  EXPECT_EQ(run("list " + c.dir.file("missing.qzd"), &out), 1);
  // A damaged entry fails verification and names the reason.
  ASSERT_EQ(run("create " + c.dir.file("Data.qzd") + " " + c.dir.file("in"), &out), 0) << out;
  std::string bytes = test::readFile(c.dir.file("Data.qzd"));
  bytes[kArchiveHeaderSize + kArchiveBlockHeaderSize + 10] ^= 0x10;
  test::writeFile(c.dir.file("Data.qzd"), bytes);
  EXPECT_EQ(run("verify " + c.dir.file("Data.qzd"), &out), 1) << out;
  EXPECT_NE(out.find("Falsche Pr\xC3\xBC"
                     "fsumme"),
            std::string::npos)
      << out;
}

}  // namespace
