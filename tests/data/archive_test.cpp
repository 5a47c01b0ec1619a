// The archive reader against archives from our writer, and against damaged and crafted ones.
#include "data/archive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "data/archive_writer.h"
#include "data/jc_pack.h"
#include "runtime/checksum.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes withPad(Bytes content) {
  content.resize(content.size() + 8, 0);
  return content;
}

Bytes noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

Bytes text(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"Box ", "Barrel ", "Fuse ", "Item ", "Torso\r\n"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += kWords[rng() % 5];
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

struct Entry {
  std::string path;
  Bytes content;
};

const std::vector<Entry> kSample = {
    {"Box.png", noise(3000, 1)},
    {"Player\\Torso.afs", text(5000, 2)},
    {"Player\\Legs.afs", text(40, 3)},
    {"Music\\Menu.ogg", noise(70000, 4)},
    {"Empty.txt", {}},
    {"Tiny.txt", {'a', 'b', 'c'}},
};

Bytes buildArchive(const std::vector<Entry>& entries, ArchiveWriteOptions options = {}) {
  ArchiveWriter w;
  BeginArchive(w, options);
  for (const Entry& e : entries) AddArchiveFile(w, e.path, e.content.data(), e.content.size());
  EXPECT_TRUE(FinishArchive(w)) << w.failure;
  return w.bytes;
}

// Opens bytes as archive number 0 for the scope.
struct OpenedArchive {
  rt::Handle handle;
  explicit OpenedArchive(const Bytes& bytes, const std::string& password = kArchivePassword)
      : handle(OpenArchiveMemory(0, bytes.data(), bytes.size(), password)) {}
  ~OpenedArchive() { CloseArchive(0); }
};

void put(Bytes& out, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

void store(Bytes& out, size_t at, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out[at + size_t(i)] = uint8_t(value >> (8 * i));
}

void putName(Bytes& out, const std::string& name) {
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
}

// An archive made by hand: blocks with the headers given, then a plainly stored directory.
struct Crafted {
  Bytes bytes = Bytes(kArchiveHeaderSize, 0);

  uint64_t addBlock(const ArchiveBlockHeader& h, const Bytes& stored) {
    uint64_t offset = bytes.size();
    uint8_t raw[kArchiveBlockHeaderSize];
    EncodeArchiveBlockHeader(h, raw);
    bytes.insert(bytes.end(), raw, raw + sizeof raw);
    bytes.insert(bytes.end(), stored.begin(), stored.end());
    return offset;
  }

  // As a writer makes them: sizes equal, CRC right.
  uint64_t addPlain(const Bytes& stored, uint32_t flags = 0) {
    return addBlock({stored.size(), flags, stored.size(), rt::crc32(stored.data(), stored.size())},
                    stored);
  }

  Bytes finish(const Bytes& directory, uint32_t archiveFlags = 0) {
    uint64_t at = addPlain(directory);
    memcpy(bytes.data(), kArchiveIdentification, 8);
    store(bytes, kArchiveDirectoryOffsetAt, at, 8);
    store(bytes, kArchiveFlagsAt, archiveFlags, 4);
    std::string verifier = ArchiveVerifier(ArchiveKey(kArchivePassword));
    memcpy(bytes.data() + kArchiveVerifierAt, verifier.data(), 32);
    return bytes;
  }
};

// A root folder record holding the files given (name, block offset).
Bytes rootWith(const std::vector<std::pair<std::string, uint64_t>>& files) {
  Bytes dir;
  put(dir, 0, 4);
  put(dir, files.size(), 4);
  for (const auto& [name, offset] : files) {
    putName(dir, name);
    put(dir, offset, 8);
  }
  return dir;
}

// ---- Round trips
// ---------------------------------------------------------------------------------

TEST(Archive, EveryEntryComesBackByteForByte) {
  const ArchiveWriteOptions variants[] = {{true, true, kArchivePassword},
                                          {false, false, kArchivePassword},
                                          {true, false, kArchivePassword},
                                          {false, true, "Another password"}};
  for (const ArchiveWriteOptions& options : variants) {
    OpenedArchive a(buildArchive(kSample, options), options.password);
    ASSERT_NE(a.handle, 0u);
    for (const Entry& e : kSample) EXPECT_EQ(ReadArchiveEntry(0, e.path), withPad(e.content));
    EXPECT_EQ(ArchiveError(0), kArchiveNoError);
  }
}

TEST(Archive, RoundTripsSizesUpToMegabytesThroughAFile) {
  std::vector<Entry> entries;
  for (size_t n : {0, 1, 15, 16, 17, 33, 4096, 65537, 300000}) {
    entries.push_back({"Noise\\" + std::to_string(n), noise(n, uint32_t(n))});
    entries.push_back({"Text\\" + std::to_string(n), text(n, uint32_t(n))});
  }
  entries.push_back({"Big\\Text", text(2 << 20, 9)});
  entries.push_back({"Big\\Noise", noise(1 << 20, 10)});
  test::TempDir dir;
  ArchiveWriter w;
  BeginArchive(w, {});
  for (const Entry& e : entries) AddArchiveFile(w, e.path, e.content.data(), e.content.size());
  ASSERT_TRUE(SaveArchive(w, dir.file("Round.qzd"))) << w.failure;
  ASSERT_NE(OpenArchive(3, dir.file("Round.qzd"), kArchivePassword), 0u);
  for (const Entry& e : entries) {
    EXPECT_TRUE(ReadArchiveEntry(3, e.path) == withPad(e.content)) << e.path;
  }
  CloseArchive(3);
}

TEST(Archive, BlocksArePackedOnlyWhenItPaysAndEncipheredFrom16Bytes) {
  OpenedArchive a(buildArchive(
      {{"Noise", noise(5000, 1)}, {"Text", text(5000, 2)}, {"Short", text(15, 3)}, {"Empty", {}}}));
  ASSERT_TRUE(ExamineArchiveFolder(0, "\\"));
  std::map<std::string, uint32_t> flags;
  while (NextArchiveFile(0)) flags[ArchiveFileName(0)] = ArchiveFileHeader(0).flags;
  EXPECT_EQ(flags["Noise"], kArchiveEnciphered);
  EXPECT_EQ(flags["Text"], kArchivePacked | kArchiveEnciphered);
  EXPECT_EQ(flags["Short"], 0u);
  EXPECT_EQ(flags["Empty"], 0u);
}

// A few bytes pack into more than they are; the reader must take such a block as it takes any.
TEST(Archive, PackedBlocksLargerThanTheirContentAreRead) {
  ArchiveWriteOptions always;
  always.packAlways = true;
  const std::vector<Entry> small = {{"Small.txt", text(17, 5)}, {"Noise", noise(40, 6)}};
  for (bool encipher : {false, true}) {
    always.encipher = encipher;
    test::TempDir dir;
    ArchiveWriter w;
    BeginArchive(w, always);
    for (const Entry& e : small) AddArchiveFile(w, e.path, e.content.data(), e.content.size());
    ASSERT_TRUE(SaveArchive(w, dir.file("Small.qzd"))) << w.failure;
    ASSERT_NE(OpenArchive(3, dir.file("Small.qzd"), kArchivePassword), 0u);
    ASSERT_TRUE(ExamineArchiveFolder(3, "\\"));
    while (NextArchiveFile(3)) {
      ArchiveBlockHeader h = ArchiveFileHeader(3);
      EXPECT_TRUE(h.flags & kArchivePacked);
      EXPECT_GT(h.storedSize, h.unpackedSize) << ArchiveFileName(3);
    }
    for (const Entry& e : small) EXPECT_EQ(ReadArchiveEntry(3, e.path), withPad(e.content));
    EXPECT_EQ(ArchiveError(3), kArchiveNoError);
    CloseArchive(3);
  }
}

// ---- Paths and listings ----------------------------------------------------------------------

TEST(Archive, PathsResolveFromTheCurrentFolderOrTheRoot) {
  Bytes box = noise(100, 1), torso = text(200, 2), arm = text(50, 3);
  OpenedArchive a(buildArchive(
      {{"Box.png", box}, {"Player\\Torso.afs", torso}, {"Player\\Parts\\Arm.afs", arm}}));
  EXPECT_EQ(ReadArchiveEntry(0, "Box.png"), withPad(box));
  EXPECT_EQ(ReadArchiveEntry(0, "\\Box.png"), withPad(box));
  EXPECT_EQ(ReadArchiveEntry(0, "Player\\Torso.afs"), withPad(torso));
  EXPECT_EQ(ReadArchiveEntry(0, "\\Player\\Torso.afs"), withPad(torso));
  EXPECT_EQ(ReadArchiveEntry(0, "Player\\..\\Box.png"), withPad(box));
  EXPECT_EQ(ReadArchiveEntry(0, "Player\\Parts\\..\\Torso.afs"), withPad(torso));
  EXPECT_EQ(ReadArchiveEntry(0, "Player\\\\Parts\\Arm.afs"), withPad(arm));
  EXPECT_TRUE(ExamineArchiveFolder(0, "Player\\Parts\\"));
  EXPECT_TRUE(ExamineArchiveFolder(0, "\\"));
  EXPECT_TRUE(ExamineArchiveFolder(0, ""));
  // The root has no parent; missing names give nothing and leave the error code alone.
  EXPECT_TRUE(ReadArchiveEntry(0, "..\\Box.png").empty());
  EXPECT_FALSE(ExamineArchiveFolder(0, ".."));
  for (const char* missing : {"Torso.afs", "Missing\\Box.png", "Player\\", "box.png"}) {
    EXPECT_TRUE(ReadArchiveEntry(0, missing).empty()) << missing;
  }
  EXPECT_EQ(ArchiveError(0), kArchiveNoError);
}

TEST(Archive, ListingsAreSortedWithoutRegardToCase) {
  std::vector<Entry> entries;
  for (const char* name : {"b.txt", "A.txt", "c.txt", "B2.txt", "a.txt", "zeta\\x", "Alpha\\x"}) {
    entries.push_back({std::string("Folder\\") + name, text(30, 1)});
  }
  OpenedArchive a(buildArchive(entries));
  EXPECT_FALSE(NextArchiveFile(0)) << "nothing listed yet";
  ASSERT_TRUE(ExamineArchiveFolder(0, "Folder"));
  EXPECT_EQ(ArchiveFileName(0), "") << "before the first element";
  std::vector<std::string> files, folders;
  while (NextArchiveFile(0)) files.push_back(ArchiveFileName(0));
  EXPECT_EQ(files, (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "B2.txt", "c.txt"}));
  EXPECT_EQ(ArchiveFileName(0), "");
  EXPECT_FALSE(NextArchiveFile(0));
  while (NextArchiveFolder(0)) folders.push_back(ArchiveFolderName(0));
  EXPECT_EQ(folders, (std::vector<std::string>{"Alpha", "zeta"}));
  ASSERT_TRUE(ExamineArchiveFolder(0, "Folder"));
  ASSERT_TRUE(NextArchiveFile(0));
  EXPECT_EQ(ArchiveFileHeader(0).unpackedSize, 30u) << "listing reads the block header";
}

// ---- Errors ----------------------------------------------------------------------------------

TEST(Archive, ErrorTexts) {
  EXPECT_EQ(ArchiveErrorText(1),
            "Falsche Pr\xFC"
            "fsumme");
  EXPECT_EQ(ArchiveErrorText(6), "Falsches Passwort");
  EXPECT_EQ(ArchiveErrorText(7), "");
}

TEST(Archive, OpenFailures) {
  Bytes bytes = buildArchive(kSample);
  EXPECT_EQ(OpenArchiveMemory(5, bytes.data(), bytes.size(), "jk"), 0u);
  EXPECT_EQ(LastArchiveError(), kArchiveWrongPassword);
  EXPECT_EQ(ArchiveError(5), kArchiveNoError) << "no object left behind";
  // Without enciphering there is nothing to check the password against.
  Bytes open = buildArchive(kSample, {true, false, kArchivePassword});
  EXPECT_NE(OpenArchiveMemory(5, open.data(), open.size(), "jk"), 0u);
  CloseArchive(5);
  test::TempDir dir;
  EXPECT_EQ(OpenArchive(0, dir.file("None.qzd"), kArchivePassword), 0u);
  bytes[5] = '1';
  EXPECT_EQ(OpenArchiveMemory(0, bytes.data(), bytes.size(), kArchivePassword), 0u);
  EXPECT_EQ(OpenArchiveMemory(0, bytes.data(), 40, kArchivePassword), 0u) << "header cut short";
}

TEST(Archive, CorruptedEntryIsError1AndTheLastErrorOnClose) {
  Bytes bytes = buildArchive(kSample);
  // The first block (Box.png) follows the header.
  bytes[kArchiveHeaderSize + kArchiveBlockHeaderSize + 100] ^= 0x40;
  ASSERT_NE(OpenArchiveMemory(0, bytes.data(), bytes.size(), kArchivePassword), 0u);
  EXPECT_TRUE(ReadArchiveEntry(0, "Box.png").empty());
  EXPECT_EQ(ArchiveError(0), kArchiveBadChecksum);
  EXPECT_EQ(ReadArchiveEntry(0, "Player\\Torso.afs"), withPad(kSample[1].content));
  CloseArchive(0);
  EXPECT_EQ(LastArchiveError(), kArchiveBadChecksum);
}

TEST(Archive, CorruptedDirectoryLeavesAnOpenButEmptyArchive) {
  Bytes bytes = buildArchive(kSample);
  uint64_t directory = 0;
  for (int i = 7; i >= 0; --i) directory = directory << 8 | bytes[kArchiveDirectoryOffsetAt + i];
  bytes[directory + kArchiveBlockHeaderSize + 3] ^= 1;
  OpenedArchive a(bytes);
  ASSERT_NE(a.handle, 0u);
  EXPECT_FALSE(ArchiveDirectoryRead(0));
  for (const Entry& e : kSample) EXPECT_TRUE(ReadArchiveEntry(0, e.path).empty());
  EXPECT_TRUE(ExamineArchiveFolder(0, ""));
  EXPECT_FALSE(NextArchiveFile(0));
  EXPECT_EQ(ArchiveError(0), kArchiveNoError);
}

TEST(Archive, HeaderPackFlagIsNotConsulted) {
  for (bool pack : {true, false}) {
    Bytes bytes = buildArchive(kSample, {pack, true, kArchivePassword});
    store(bytes, kArchiveFlagsAt, kArchiveEnciphered | (pack ? 0 : kArchivePacked), 4);
    OpenedArchive a(bytes);
    for (const Entry& e : kSample) EXPECT_EQ(ReadArchiveEntry(0, e.path), withPad(e.content));
  }
}

TEST(Archive, EncipheredBlocksOfOddLengthAndTooShort) {
  Crafted c;
  std::string key = ArchiveKey(kArchivePassword);
  Bytes plain = text(37, 5), sealed(37);
  ASSERT_TRUE(rt::aesEncipherCts(plain.data(), sealed.data(), 37,
                                 reinterpret_cast<const uint8_t*>(key.data())));
  uint64_t odd = c.addPlain(sealed, kArchiveEnciphered);
  uint64_t tooShort = c.addPlain(Bytes(15, 7), kArchiveEnciphered);
  OpenedArchive a(c.finish(rootWith({{"Odd", odd}, {"Short", tooShort}}), kArchiveEnciphered));
  EXPECT_EQ(ReadArchiveEntry(0, "Odd"), withPad(plain));
  EXPECT_TRUE(ReadArchiveEntry(0, "Short").empty());
  EXPECT_EQ(ArchiveError(0), kArchiveDecipherError);
}

// ---- Hostile archives --------------------------------------------------------------------------

TEST(Archive, ImplausibleBlocksAreRefusedBeforeAllocating) {
  Bytes stored = text(100, 1), packed = JcPack(stored.data(), stored.size());
  uint32_t crc = rt::crc32(stored.data(), stored.size());
  uint32_t packedCrc = rt::crc32(packed.data(), packed.size());
  uint64_t huge = uint64_t(1) << 40;
  struct Case {
    const char* what;
    ArchiveBlockHeader header;
    Bytes bytes;
    int32_t error;
  };
  const Case cases[] = {
      {"stored size past the end", {0xFFFFFFF0u, 0, 0xFFFFFFF0u, crc}, stored, 1},
      {"huge unpacked size", {100, 0, huge, crc}, stored, 1},
      {"unpacked sizes differ", {100, 0, 120, crc}, stored, 1},
      {"expansion beyond any packer",
       {packed.size(), 1, packed.size() << 20, packedCrc},
       packed,
       1},
      {"JC plain size differs", {packed.size(), 1, 99, packedCrc}, packed, 5},
      {"not a JC block", {100, 1, 100, crc}, stored, 5},
      {"packed block of size 0", {0, 1, 0, 0}, {}, 5},
      {"wrong CRC", {100, 0, 100, crc ^ 1}, stored, 1},
      {"upper half of the stored size ignored", {huge | 100, 0, 100, crc}, stored, 0},
  };
  for (const Case& c : cases) {
    Crafted crafted;
    uint64_t at = crafted.addBlock(c.header, c.bytes);
    OpenedArchive a(crafted.finish(rootWith({{"X", at}, {"Far", huge}})));
    EXPECT_EQ(ReadArchiveEntry(0, "X").size(), c.error ? 0u : 108u) << c.what;
    EXPECT_EQ(ArchiveError(0), c.error) << c.what;
    EXPECT_TRUE(ReadArchiveEntry(0, "Far").empty());
    EXPECT_EQ(ArchiveError(0), kArchiveBadChecksum) << "block offset outside the file";
  }
}

// Folders nested depth deep, each with one sub-folder.
Bytes nested(int depth) {
  Bytes dir;
  for (int i = 0; i < depth; ++i) {
    put(dir, 1, 4);
    put(dir, 0, 4);
    putName(dir, "F");
  }
  put(dir, 0, 8);
  return dir;
}

bool directoryReads(const Bytes& directory, uint64_t offset = 0) {
  Bytes bytes = Crafted().finish(directory);
  if (offset) store(bytes, kArchiveDirectoryOffsetAt, offset, 8);
  OpenedArchive a(bytes);
  EXPECT_NE(a.handle, 0u);
  return ArchiveDirectoryRead(0);
}

TEST(Archive, DirectoriesAreHeldToTheirBlock) {
  EXPECT_TRUE(directoryReads(nested(kMaxArchiveFolderDepth)));
  EXPECT_FALSE(directoryReads(nested(kMaxArchiveFolderDepth + 1)));
  EXPECT_FALSE(directoryReads(nested(100000)));
  EXPECT_FALSE(directoryReads(rootWith({}), ~0ull)) << "directory offset outside the file";
  Bytes counts;
  put(counts, 0x7FFFFFFF7FFFFFFFull, 8);
  EXPECT_FALSE(directoryReads(counts));
  Bytes unterminated = rootWith({{"X", 5}});
  unterminated.resize(9);
  unterminated.insert(unterminated.end(), 40, 'a');
  EXPECT_FALSE(directoryReads(unterminated));
  Bytes cutOffset = rootWith({{"X", 5}});
  cutOffset.resize(cutOffset.size() - 3);
  EXPECT_FALSE(directoryReads(cutOffset));
  Bytes negative;
  put(negative, 0x80000000FFFFFFFFull, 8);
  EXPECT_TRUE(directoryReads(negative)) << "counts below 1 mean none";
  std::vector<std::pair<std::string, uint64_t>> many(kMaxArchiveDirectoryEntries + 1, {"", 0});
  EXPECT_FALSE(directoryReads(rootWith(many))) << "more entries than allowed";
}

TEST(Archive, RandomDamageNeverCrashes) {
  std::vector<Entry> entries = {
      {"A\\B\\c.txt", text(3000, 1)}, {"A\\d.bin", noise(500, 2)}, {"e.txt", text(40, 3)}};
  const Bytes archives[] = {buildArchive(entries), buildArchive(entries, {true, false, "x"}),
                            buildArchive(entries, {false, false, "x"})};
  std::mt19937 rng(17);
  for (const Bytes& original : archives) {
    for (int round = 0; round < 150; ++round) {
      Bytes bytes = original;
      for (int f = 1 + int(rng() % 6); f > 0; --f) bytes[rng() % bytes.size()] = uint8_t(rng());
      if (rng() % 5 == 0) bytes.resize(rng() % bytes.size());
      OpenedArchive a(bytes, round % 2 ? "x" : kArchivePassword);
      for (const Entry& e : entries) ReadArchiveEntry(0, e.path);
      if (ExamineArchiveFolder(0, "A")) {
        while (NextArchiveFile(0)) ArchiveFileName(0);
      }
    }
  }
}

// ---- Objects and the writer ------------------------------------------------------------------

TEST(Archive, NumbersAndHandles) {
  Bytes bytes = buildArchive(kSample), broken = bytes;
  broken[kArchiveHeaderSize + kArchiveBlockHeaderSize] ^= 1;
  rt::Handle dynamic = OpenArchiveMemory(rt::kAnyNumber, bytes.data(), bytes.size(), "JK");
  ASSERT_TRUE(rt::isHandle(dynamic));
  EXPECT_EQ(ReadArchiveEntry(dynamic, "Tiny.txt"), withPad(kSample[5].content));
  ASSERT_NE(OpenArchiveMemory(16, broken.data(), broken.size(), "JK"), 0u);
  EXPECT_TRUE(ReadArchiveEntry(16, "Box.png").empty());
  // Opening under a number in use frees the archive that was there.
  ASSERT_NE(OpenArchiveMemory(16, bytes.data(), bytes.size(), "JK"), 0u);
  EXPECT_EQ(LastArchiveError(), kArchiveBadChecksum);
  EXPECT_EQ(ReadArchiveEntry(16, "Box.png"), withPad(kSample[0].content));
  CloseArchive(16);
  CloseArchive(dynamic);
  EXPECT_TRUE(ReadArchiveEntry(dynamic, "Tiny.txt").empty());
  EXPECT_EQ(OpenArchiveMemory(65536, bytes.data(), bytes.size(), "JK"), 0u);
}

TEST(ArchiveWriter, RefusesUnusablePaths) {
  ArchiveWriter w;
  BeginArchive(w, {});
  uint8_t b = 1;
  for (const char* path : {"", "A\\..\\B", "A\\\\B", "A\\"}) {
    EXPECT_FALSE(AddArchiveFile(w, path, &b, 1)) << path;
  }
  EXPECT_TRUE(AddArchiveFile(w, "A/B", &b, 1));
  EXPECT_FALSE(AddArchiveFile(w, "A\\B", &b, 1)) << "taken";
  EXPECT_FALSE(FinishArchive(w)) << "an archive with refused files is not complete";
}

}  // namespace
