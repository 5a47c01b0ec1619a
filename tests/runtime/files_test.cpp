#include "runtime/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "runtime/checksum.h"
#include "support/test_support.h"

namespace {

// The bytes of a literal, NULs included.
template <size_t N>
std::string bytesOf(const char (&text)[N]) {
  return std::string(text, N - 1);
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override { rt::setDataRoot(dir.path()); }
  void TearDown() override { rt::setDataRoot(""); }

  // Writes bytes into a file under the temporary data root and opens it as file 1.
  uint32_t openWith(const std::string& bytes) {
    test::writeFile(dir.file("in.bin"), bytes);
    rt::Handle h = rt::openFile(1, "in.bin");
    EXPECT_NE(h, 0u);
    return 1;
  }

  std::vector<std::string> listing(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    rt::Handle d = rt::examineDirectory(rt::kAnyNumber, folder, pattern);
    if (!d) return {"<failed>"};
    while (rt::nextDirectoryEntry(d)) names.push_back(rt::directoryEntryName(d));
    rt::finishDirectory(d);
    return names;
  }

  std::vector<std::string> folderContents() {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir dir;
};

}  // namespace

TEST_F(Files, TypedReadsAreLittleEndianAndZeroPastTheEnd) {
  uint32_t f = openWith(bytesOf("\xFE\x34\x12\x78\x56\x34\x12\x00\x00\xC0\x3F\xAA\xBB"));
  EXPECT_EQ(rt::readByte(f), -2);
  EXPECT_EQ(rt::readWord(f), 0x1234);
  EXPECT_EQ(rt::readLong(f), 0x12345678);
  EXPECT_FLOAT_EQ(rt::readFloat(f), 1.5f);
  EXPECT_FALSE(rt::endOfFile(f));
  // Two bytes left: a partial int32 counts as past the end.
  EXPECT_EQ(rt::readLong(f), 0);
  EXPECT_TRUE(rt::endOfFile(f));
  EXPECT_EQ(rt::readUByte(f), 0);
  EXPECT_EQ(rt::readWord(f), 0);
  EXPECT_EQ(rt::readFloat(f), 0.0f);
  EXPECT_EQ(rt::readLine(f), "");
  char buffer[4];
  EXPECT_EQ(rt::readData(f, buffer, 4), 0);
  rt::closeFile(f);
  EXPECT_FALSE(rt::fileOpen(f));
  EXPECT_EQ(rt::readLong(f), 0);  // a closed file reads as empty
}

TEST_F(Files, ReadLineTerminators) {
  uint32_t f = openWith(bytesOf("one\r\ntwo\rthree\nfour\0five\r\rsix\n\nlast"));
  EXPECT_EQ(rt::readLine(f), "one");
  EXPECT_EQ(rt::readLine(f), "two");
  EXPECT_EQ(rt::readLine(f), "three");
  EXPECT_EQ(rt::readLine(f), "four");
  EXPECT_EQ(rt::readLine(f), "five");
  EXPECT_EQ(rt::readLine(f), "");  // the second CR is a line of its own
  EXPECT_EQ(rt::readLine(f), "six");
  EXPECT_EQ(rt::readLine(f), "");
  EXPECT_EQ(rt::readLine(f), "last");  // the end of the file ends a line
  EXPECT_TRUE(rt::endOfFile(f));
  EXPECT_EQ(rt::readLine(f), "");
}

TEST_F(Files, LoneCrLeavesTheNextByteUnread) {
  uint32_t f = openWith(bytesOf("name\r\x07\x00\x00\x00"));
  EXPECT_EQ(rt::readLine(f), "name");
  EXPECT_EQ(rt::readLong(f), 7);
}

TEST_F(Files, LinesAcrossTheReadBuffer) {
  // The reader fills 64 KiB at a time from where it stands: the first CR LF is split by the
  // first refill, and the lone CR of the second line is the last byte of the second fill.
  const size_t edge = 65536;
  std::string bytes(edge - 1, 'a');
  bytes += "\r\nb";
  bytes += std::string(edge - 3, 'c');
  bytes += bytesOf("\r\x05\x00");
  uint32_t f = openWith(bytes);
  EXPECT_EQ(rt::readLine(f), std::string(edge - 1, 'a'));
  EXPECT_EQ(rt::readLine(f), "b" + std::string(edge - 3, 'c'));
  EXPECT_EQ(rt::filePosition(f), static_cast<int64_t>(2 * edge));
  EXPECT_EQ(rt::readWord(f), 5);
  EXPECT_TRUE(rt::endOfFile(f));
}

TEST_F(Files, SeekPositionAndLength) {
  uint32_t f = openWith("0123456789");
  EXPECT_EQ(rt::fileLength(f), 10);
  EXPECT_EQ(rt::filePosition(f), 0);
  ASSERT_TRUE(rt::seekFile(f, 7));
  EXPECT_EQ(rt::filePosition(f), 7);
  EXPECT_EQ(rt::readUByte(f), '7');
  EXPECT_EQ(rt::filePosition(f), 8);
  ASSERT_TRUE(rt::seekFile(f, 2));
  EXPECT_EQ(rt::readLine(f), "23456789");
  EXPECT_FALSE(rt::seekFile(f, -1));
  ASSERT_TRUE(rt::seekFile(f, 100));
  EXPECT_TRUE(rt::endOfFile(f));
  EXPECT_EQ(rt::readByte(f), 0);
}

TEST_F(Files, WriteThenRead) {
  rt::Handle h = rt::createFile(rt::kAnyNumber, "out.bin");
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(rt::isHandle(h));
  EXPECT_TRUE(rt::writeLong(h, -2));
  EXPECT_TRUE(rt::writeString(h, "line\r\n"));
  std::string big(100000, 'z');
  EXPECT_EQ(rt::writeData(h, big.data(), static_cast<int64_t>(big.size())),
            static_cast<int64_t>(big.size()));
  EXPECT_EQ(rt::fileLength(h), 4 + 6 + 100000);
  ASSERT_TRUE(rt::seekFile(h, 0));
  EXPECT_EQ(rt::readLong(h), -2);
  EXPECT_EQ(rt::readLine(h), "line");
  // Overwrite in the middle, then read on.
  ASSERT_TRUE(rt::seekFile(h, 10));
  EXPECT_TRUE(rt::writeString(h, "AB"));
  ASSERT_TRUE(rt::seekFile(h, 9));
  EXPECT_EQ(rt::readUByte(h), '\n');
  EXPECT_EQ(rt::readUByte(h), 'A');
  rt::closeFile(h);
  std::string back = test::readFile(dir.file("out.bin"));
  ASSERT_EQ(back.size(), 100010u);
  EXPECT_EQ(back.substr(0, 12), std::string("\xFE\xFF\xFF\xFFline\r\nAB", 12));
}

TEST_F(Files, NumberedSlotIsReplacedAndFailuresLeaveNothing) {
  test::writeFile(dir.file("a.txt"), "A");
  test::writeFile(dir.file("b.txt"), "B");
  ASSERT_NE(rt::openFile(3, "a.txt"), 0u);
  ASSERT_NE(rt::openFile(3, "b.txt"), 0u);
  EXPECT_EQ(rt::readUByte(3), 'B');
  EXPECT_EQ(rt::openFile(3, "missing.txt"), 0u);
  EXPECT_FALSE(rt::fileOpen(3));
  EXPECT_EQ(rt::openFile(4, ""), 0u);  // the data root is a folder, not a file
  EXPECT_EQ(rt::openFile(70000, "a.txt"), 0u);
}

TEST_F(Files, CaseBlindPathsAndBackslashes) {
  std::filesystem::create_directories(dir.file("data/maps"));
  test::writeFile(dir.file("data/maps/X.MAP"), "map");
  EXPECT_EQ(rt::nativePath("Data\\Maps\\x.map"), dir.file("data/maps/X.MAP"));
  EXPECT_TRUE(rt::fileExists("Data\\Maps\\x.map"));
  EXPECT_EQ(rt::fileSize("DATA\\MAPS\\X.map"), 3);
  ASSERT_NE(rt::openFile(2, "Data\\Maps\\x.map"), 0u);
  EXPECT_EQ(rt::readLine(2), "map");
  rt::closeFile(2);
  // A new file lands in the folder that exists, under the name given.
  ASSERT_NE(rt::createFile(2, "Data\\Maps\\New.map"), 0u);
  rt::closeFile(2);
  EXPECT_TRUE(std::filesystem::exists(dir.file("data/maps/New.map")));
  EXPECT_FALSE(rt::fileExists("Data\\Maps"));  // a folder is not a file
  EXPECT_EQ(rt::fileSize("Data\\Maps\\none.map"), -1);
  // Nothing is cached: a file that appears later is found.
  test::writeFile(dir.file("data/maps/Later.MAP"), "");
  EXPECT_TRUE(rt::fileExists("data\\MAPS\\later.map"));
}

TEST_F(Files, AbsolutePathsStayAbsolute) {
  test::TempDir other;
  test::writeFile(other.file("Config.ini"), "x");
  EXPECT_EQ(rt::nativePath(other.path() + "\\config.ini"), other.file("Config.ini"));
  EXPECT_TRUE(rt::fileExists(other.path() + "\\Config.ini"));
  EXPECT_EQ(rt::nativePath("a\\b"), dir.file("a/b"));
}

TEST_F(Files, DataRootFromTheEnvironmentOrTheExecutable) {
  setenv("POWDERBOX_DATA", dir.path().c_str(), 1);
  rt::initDataRoot("ignored");
  EXPECT_EQ(rt::dataRoot(), dir.path());
  unsetenv("POWDERBOX_DATA");
  rt::initDataRoot(nullptr);
  std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(exe.rfind(rt::dataRoot(), 0), 0u) << rt::dataRoot();
}

TEST(WildcardMatch, Patterns) {
  EXPECT_TRUE(rt::wildcardMatch("Picture????.png", "Picture0001.png"));
  EXPECT_TRUE(rt::wildcardMatch("Picture????.png", "picture0042.PNG"));
  EXPECT_FALSE(rt::wildcardMatch("Picture????.png", "Picture001.png"));
  EXPECT_FALSE(rt::wildcardMatch("Picture????.png", "Picture00001.png"));
  EXPECT_TRUE(rt::wildcardMatch("*.map", "Arena.MAP"));
  EXPECT_TRUE(rt::wildcardMatch("*.map", ".map"));
  EXPECT_FALSE(rt::wildcardMatch("*.map", "Arena.map.bak"));
  EXPECT_TRUE(rt::wildcardMatch("*", ""));
  EXPECT_TRUE(rt::wildcardMatch("*", "anything"));
  EXPECT_TRUE(rt::wildcardMatch("", "anything"));
  EXPECT_TRUE(rt::wildcardMatch("*.*", "noext"));
  EXPECT_TRUE(rt::wildcardMatch("?", "a"));
  EXPECT_FALSE(rt::wildcardMatch("?", ""));
  EXPECT_FALSE(rt::wildcardMatch("?", "ab"));
  EXPECT_TRUE(rt::wildcardMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(rt::wildcardMatch("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(rt::wildcardMatch("**x", "x"));
}

TEST_F(Files, DirectoryListingsAreFilteredAndSorted) {
  std::filesystem::create_directories(dir.file("Shots/sub.png"));
  for (const char* name : {"Picture0003.png", "picture0001.PNG", "Picture0002.png",
                           "Picture12.png", "notes.txt"}) {
    test::writeFile(dir.file(std::string("Shots/") + name), "");
  }
  EXPECT_EQ(listing("shots\\", "Picture????.png"),
            (std::vector<std::string>{"picture0001.PNG", "Picture0002.png", "Picture0003.png"}));
  EXPECT_EQ(listing("Shots", "*.txt"), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(listing("Shots", "*").size(), 6u);
  EXPECT_EQ(listing("Shots", "").size(), 6u);
  EXPECT_EQ(listing("Shots", "?").size(), 0u);
  EXPECT_EQ(listing("Missing", "*"), std::vector<std::string>{"<failed>"});

  rt::Handle d = rt::examineDirectory(5, "Shots", "*.png");
  ASSERT_NE(d, 0u);
  EXPECT_EQ(rt::directoryEntryName(5), "");  // before the first entry
  std::vector<bool> folders;
  while (rt::nextDirectoryEntry(5)) folders.push_back(rt::directoryEntryIsFolder(5));
  EXPECT_EQ(folders, (std::vector<bool>{false, false, false, false, true}));
  EXPECT_FALSE(rt::nextDirectoryEntry(5));
  EXPECT_EQ(rt::directoryEntryName(5), "");
  rt::finishDirectory(5);
  EXPECT_FALSE(rt::nextDirectoryEntry(5));
}

TEST_F(Files, CreateDirectoryOneLevel) {
  EXPECT_TRUE(rt::createDirectory("ScreenShots"));
  EXPECT_TRUE(rt::createDirectory("screenshots\\"));  // exists already, in another case
  EXPECT_FALSE(rt::createDirectory("a\\b\\c"));
  test::writeFile(dir.file("plain"), "");
  EXPECT_FALSE(rt::createDirectory("plain"));
  EXPECT_EQ(folderContents(), (std::vector<std::string>{"ScreenShots", "plain"}));
}

TEST_F(Files, WholeFileHelpers) {
  test::writeFile(dir.file("check.txt"), "123456789");
  EXPECT_EQ(rt::fileCrc32("check.txt"), 0xCBF43926u);
  EXPECT_EQ(rt::fileCrc32("missing.txt"), 0u);
  std::vector<uint8_t> big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  test::writeFile(dir.file("big.bin"), big);
  EXPECT_EQ(rt::fileCrc32("big.bin"), rt::crc32(big.data(), big.size()));

  std::vector<uint8_t> out{1, 2, 3};
  ASSERT_TRUE(rt::readWholeFile("big.bin", &out, 200000));
  EXPECT_EQ(out, big);
  EXPECT_FALSE(rt::readWholeFile("big.bin", &out, 199999));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(rt::readWholeFile("missing", &out, 100));
  EXPECT_FALSE(rt::readWholeFile("", &out, 100));
}

TEST_F(Files, AtomicWriteReplacesTheFile) {
  test::writeFile(dir.file("Config.ini"), "old contents");
  chmod(dir.file("Config.ini").c_str(), 0640);
  ASSERT_TRUE(rt::writeFileAtomically("config.ini", "new", 3));
  EXPECT_EQ(test::readFile(dir.file("Config.ini")), "new");
  struct stat st;
  ASSERT_EQ(stat(dir.file("Config.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_TRUE(rt::writeFileAtomically("Fresh.ini", "", 0));
  EXPECT_EQ(folderContents(), (std::vector<std::string>{"Config.ini", "Fresh.ini"}));
}

TEST_F(Files, FailedAtomicWriteKeepsTheOldFile) {
  test::writeFile(dir.file("Config.ini"), "old contents");
  EXPECT_FALSE(rt::writeFileAtomically("Missing\\Config.ini", "x", 1));

  // A file size limit makes the write itself fail part way, even for root.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = rt::writeFileAtomically("Config.ini", "far too long", 12);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(test::readFile(dir.file("Config.ini")), "old contents");
  EXPECT_EQ(folderContents(), std::vector<std::string>{"Config.ini"});

  if (geteuid() != 0) {
    chmod(dir.path().c_str(), 0555);
    EXPECT_FALSE(rt::writeFileAtomically("Config.ini", "new", 3));
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(test::readFile(dir.file("Config.ini")), "old contents");
  }
}
