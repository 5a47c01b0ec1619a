// The particle engine on the null screen backend with a clock and a camera the tests move by
// hand; the definition files, their loading from an archive, the builder tool and the shipped
// definitions.
#include "render/particles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "data/archive.h"
#include "data/archive_writer.h"
#include "data/resources.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

uint32_t now = 1000;
int32_t cameraX = 0, cameraY = 0;

std::vector<uint8_t> png(int size) {
  rt::Pixels pixels;
  pixels.width = pixels.height = size;
  pixels.rgba.assign(static_cast<size_t>(size * size * 4), 255);
  std::vector<uint8_t> out;
  rt::encodePng(pixels, &out);
  return out;
}

class ParticleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rt::initScreenSystem(rt::Backend::Null);
    std::vector<uint8_t> picture = png(8);
    rt::Handle sprite = rt::createSpriteFromMemory(rt::kAnyNumber, picture.data(), picture.size());
    texture = rt::createSprite3D(rt::kAnyNumber, sprite);
  }

  void SetUp() override {
    rt::randomSeed(7);
    now = 1000;
    cameraX = cameraY = 0;
    InitParticles(1024, 768, 10, &now, &cameraX, &cameraY, false);
    ClearParticles();
    ClearEmitters();
    SetParticleDrift(false, 0, 0);
    rt::setDrawRecorder(&drawn);
  }

  void TearDown() override { rt::setDrawRecorder(nullptr); }

  static ParticleType plainType() {
    ParticleType type;
    type.active = 1;
    type.texture = texture;
    type.lifetime = 100;
    type.startSize = 16;
    type.speed = 2;
    type.minAngle = type.maxAngle = 0;
    type.startAlpha = 255;
    type.interval = 50;
    return type;
  }

  // One frame 11 ms after the last, so that every frame is due for an update.
  void dueFrame() {
    now += 11;
    drawn.clear();
    ParticleFrame();
  }

  static inline rt::Handle texture = 0;
  std::vector<rt::DrawnQuad> drawn;
};

TEST_F(ParticleTest, EqualAnglesGiveOneDirectionAndAFullRangeSpreadsRound) {
  ParticleType type = plainType();
  type.minAngle = type.maxAngle = 90;
  for (int i = 0; i < 20; ++i) {
    Particle* p = SpawnParticle(type, 0, 0);
    EXPECT_EQ(p->angle, 90);
    EXPECT_NEAR(p->velocityX, 0, 1e-5);
    EXPECT_NEAR(p->velocityY, 2, 1e-5);
  }
  type.minAngle = 0;
  type.maxAngle = 359;
  std::set<int> quarters;
  for (int i = 0; i < 400; ++i) {
    Particle* p = SpawnParticle(type, 0, 0);
    ASSERT_GE(p->angle, 0);
    ASSERT_LE(p->angle, 359);
    EXPECT_NEAR(std::hypot(p->velocityX, p->velocityY), 2, 1e-4);
    quarters.insert(p->angle / 90);
  }
  EXPECT_EQ(quarters.size(), 4u);
}

TEST_F(ParticleTest, ALifeOfLifetimePlusUpToTheExtraAndDriftOnNewParticles) {
  ParticleType type = plainType();
  type.extraLifetime = 50;
  type.driftFactor = 2;
  uint32_t shortest = UINT32_MAX, longest = 0;
  for (int i = 0; i < 200; ++i) {
    uint32_t deathAt = SpawnParticle(type, 0, 0)->deathAt;
    shortest = std::min(shortest, deathAt);
    longest = std::max(longest, deathAt);
  }
  EXPECT_EQ(shortest, now + 100);
  EXPECT_EQ(longest, now + 150);
  EXPECT_NEAR(Particles().back().velocityX, 2, 1e-5);  // drift is off
  SetParticleDrift(true, 1.0f, -0.25f);
  Particle* p = SpawnParticle(type, 0, 0);
  EXPECT_NEAR(p->velocityX, 2 + 2, 1e-5);
  EXPECT_NEAR(p->velocityY, -0.5f, 1e-5);
}

TEST_F(ParticleTest, AlphaLossZeroRemovesAtTheFirstDueUpdateAfterDeath) {
  ParticleType type = plainType();  // dies at 1100
  SpawnParticle(type, 0, 0);
  now = 1100;  // due, but the death time is not yet before now
  ParticleFrame();
  ASSERT_EQ(Particles().count(), 1u);
  now = 1101;  // past its death, but no update is due until 1110 has passed
  ParticleFrame();
  ASSERT_EQ(Particles().count(), 1u);
  now = 1111;
  ParticleFrame();
  EXPECT_EQ(Particles().count(), 0u);
}

TEST_F(ParticleTest, AlphaLossTenFrom255GoesAtThe26thDueUpdate) {
  ParticleType type = plainType();
  type.lifetime = 0;
  type.alphaLoss = 10;
  SpawnParticle(type, 0, 0);
  std::vector<float> alphas;
  for (int update = 1; update <= 30 && !Particles().empty(); ++update) {
    dueFrame();
    if (!Particles().empty()) alphas.push_back(Particles().front().alpha);
  }
  ASSERT_EQ(alphas.size(), 25u);  // removed by the 26th update
  EXPECT_EQ(alphas.front(), 245);
  EXPECT_EQ(alphas.back(), 5);
  EXPECT_TRUE(Particles().empty());
}

TEST_F(ParticleTest, LossesThatNeverEndAParticleEndItAtOnce) {
  for (float loss : {-1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    ParticleType type = plainType();
    type.lifetime = 0;
    type.alphaLoss = loss;
    SpawnParticle(type, 0, 0);
    dueFrame();
    EXPECT_TRUE(Particles().empty()) << loss;
  }
  ParticleType type = plainType();
  type.lifetime = 0;
  type.alphaLoss = 1;
  type.startAlpha = std::numeric_limits<float>::quiet_NaN();
  SpawnParticle(type, 0, 0);
  dueFrame();
  EXPECT_TRUE(Particles().empty());
}

TEST_F(ParticleTest, MovementIsOneStepPerDueFrameWhateverTheTime) {
  ParticleType type = plainType();
  type.lifetime = 100000;
  type.sizeChange = 1;
  Particle* p = SpawnParticle(type, 0, 0);
  dueFrame();
  EXPECT_EQ(p->x, 2);
  EXPECT_EQ(p->size, 17);
  EXPECT_EQ(p->half, 8.5f);
  ParticleFrame();  // same time: drawn, not moved
  EXPECT_EQ(p->x, 2);
  now += 5000;  // a long stall still moves one step only
  ParticleFrame();
  EXPECT_EQ(p->x, 4);
  EXPECT_EQ(p->size, 18);
}

TEST_F(ParticleTest, DrawsTheSharedQuadAtTheParticleAndRestoresTheBlend) {
  ParticleType type = plainType();
  type.lifetime = 100000;
  type.minAngle = type.maxAngle = 30;
  type.speed = 0;
  type.startSize = 20.4f;
  type.startAlpha = 99.6f;
  type.sourceBlend = 5;
  type.destinationBlend = 2;
  SpawnParticle(type, 300, 200);
  cameraX = 100;
  cameraY = 50;
  dueFrame();
  ASSERT_EQ(drawn.size(), 1u);
  const rt::DrawnQuad& q = drawn[0];
  EXPECT_EQ(q.sprite3D, texture);
  EXPECT_EQ(q.alpha, 100);
  EXPECT_EQ(q.sourceBlend, 5);
  EXPECT_EQ(q.destinationBlend, 2);
  // 20 x 20 turned by 30 degrees about its centre; top-left at round(200 - 10.2) = 190.
  float centreX = (q.corners[0].x + q.corners[2].x) / 2;
  float centreY = (q.corners[0].y + q.corners[2].y) / 2;
  EXPECT_NEAR(centreX, 190 + 10, 1e-3);
  EXPECT_NEAR(centreY, 140 + 10, 1e-3);
  EXPECT_NEAR(std::hypot(q.corners[1].x - q.corners[0].x, q.corners[1].y - q.corners[0].y), 20,
              1e-3);
  EXPECT_NEAR(rt::sprite3DRotation(texture), 30, 1e-3);
  rt::displaySprite3D(texture, 0, 0);
  EXPECT_EQ(drawn.back().sourceBlend, 5);
  EXPECT_EQ(drawn.back().destinationBlend, 6);
}

TEST_F(ParticleTest, NothingIsDrawnWithoutATextureOrASizeOrOffScreen) {
  ParticleType type = plainType();
  type.lifetime = 100000;
  type.speed = 0;
  type.texture = 0;
  SpawnParticle(type, 100, 100);
  type.texture = texture;
  type.startSize = 0.4f;  // rounds to nothing
  SpawnParticle(type, 100, 100);
  type.startSize = 16;
  SpawnParticle(type, -40, 100);
  SpawnParticle(type, 100, 900);
  dueFrame();
  EXPECT_TRUE(drawn.empty());
  EXPECT_EQ(Particles().count(), 4u);
}

TEST_F(ParticleTest, AnUnknownTypeIsAnEmptyRecordWhoseParticlesVanish) {
  ParticleType* type = ParticleTypeByName("No Such Type");
  EXPECT_EQ(type, ParticleTypeByName("No Such Type"));
  EXPECT_EQ(type->lifetime, 0);
  EXPECT_EQ(type->startSize, 0);
  EXPECT_EQ(type->texture, 0u);
  SpawnParticle(*type, 5, 5);
  dueFrame();
  EXPECT_TRUE(drawn.empty());
  EXPECT_TRUE(Particles().empty());
}

TEST_F(ParticleTest, EmittersSpawnInTheirAreaOncePerInterval) {
  ParticleType type = plainType();
  type.areaWidth = 10;
  type.areaHeight = 7;
  type.lifetime = 100000;
  ParticleType* emitter = AddEmitter(type, 500, 300);
  EXPECT_EQ(emitter->halfAreaWidth, 5);
  EXPECT_EQ(emitter->halfAreaHeight, 3);
  for (int i = 0; i < 200; ++i) {
    now += 10;
    ParticleFrame();
  }
  // Frames 10 ms apart over 2000 ms: the first at once, then every 60 ms, since an emission is
  // due only once the clock is past its time.
  EXPECT_EQ(Particles().count(), 34u);
  ClearParticles();
  emitter->speed = 0;
  for (int i = 0; i < 100; ++i) {
    emitter->nextEmission = now - 1;
    ParticleFrame();
  }
  for (const Particle& p : Particles()) {
    EXPECT_GE(p.x, 495);
    EXPECT_LE(p.x, 505);
    EXPECT_GE(p.y, 297);
    EXPECT_LE(p.y, 304);
  }
  emitter->active = 0;
  emitter->nextEmission = now - 1;
  size_t before = Particles().count();
  ParticleFrame();
  EXPECT_EQ(Particles().count(), before);
  SetEmittersEnabled(false);
  emitter->active = 1;
  ParticleFrame();
  EXPECT_EQ(Particles().count(), before);
  SetEmittersEnabled(true);
}

TEST_F(ParticleTest, AnEmitterOutsideTheEnlargedScreenKeepsItsClockWithoutSpawning) {
  ParticleType type = plainType();
  type.lifetime = 100000;
  type.speed = 0;
  cameraX = 1000;
  cameraY = 2000;
  // Screen x -128 is outside (the test is strict), -127 inside; likewise the other edges.
  ParticleType* outside[] = {
      AddEmitter(type, 1000 - 128, 2100),
      AddEmitter(type, 1000 + 1024 + 128, 2100),
      AddEmitter(type, 1100, 2000 - 128),
      AddEmitter(type, 1100, 2000 + 768 + 128),
  };
  ParticleType* inside = AddEmitter(type, 1000 - 127, 2000 - 127);
  now += 1;
  ParticleFrame();
  EXPECT_EQ(Particles().count(), 1u);
  EXPECT_EQ(Particles().front().x, 1000 - 127);
  for (ParticleType* e : outside) {
    EXPECT_EQ(e->nextEmission, now + 50);
    EXPECT_EQ(e->screenX, e->x - 1000);
  }
  EXPECT_EQ(inside->nextEmission, now + 50);
  RemoveEmitter(inside);
  EXPECT_EQ(Emitters().count(), 4u);
}

TEST_F(ParticleTest, TheOldestParticleMakesRoomAtTheLimit) {
  ParticleType type = plainType();
  for (size_t i = 0; i < kMaxParticles; ++i) SpawnParticle(type, static_cast<int>(i), 0);
  Particle* newest = SpawnParticle(type, -1, 0);
  EXPECT_EQ(Particles().count(), kMaxParticles);
  EXPECT_EQ(Particles().front().x, 1);
  EXPECT_EQ(&Particles().back(), newest);
}

// ---- Definition files ------------------------------------------------------------------------

ParticleType sampleDefinition() {
  ParticleType t;
  t.unused = 7;
  t.active = 1;
  t.areaWidth = 9;
  t.areaHeight = 4;
  t.interval = 25;
  t.textureKey = "Spark";
  t.lifetime = 300;
  t.extraLifetime = 200;
  t.startSize = 12.5f;
  t.sizeChange = -0.25f;
  t.speed = 1.5f;
  t.minAngle = -45;
  t.maxAngle = 45;
  t.driftFactor = 0.5f;
  t.sourceBlend = 5;
  t.destinationBlend = 2;
  t.startAlpha = 250;
  t.alphaLoss = 12;
  return t;
}

void expectSameFields(const ParticleType& a, const ParticleType& b) {
  EXPECT_EQ(a.unused, b.unused);
  EXPECT_EQ(a.active, b.active);
  EXPECT_EQ(a.areaWidth, b.areaWidth);
  EXPECT_EQ(a.areaHeight, b.areaHeight);
  EXPECT_EQ(a.interval, b.interval);
  EXPECT_EQ(a.textureKey, b.textureKey);
  EXPECT_EQ(a.lifetime, b.lifetime);
  EXPECT_EQ(a.extraLifetime, b.extraLifetime);
  EXPECT_EQ(a.startSize, b.startSize);
  EXPECT_EQ(a.sizeChange, b.sizeChange);
  EXPECT_EQ(a.speed, b.speed);
  EXPECT_EQ(a.minAngle, b.minAngle);
  EXPECT_EQ(a.maxAngle, b.maxAngle);
  EXPECT_EQ(a.driftFactor, b.driftFactor);
  EXPECT_EQ(a.sourceBlend, b.sourceBlend);
  EXPECT_EQ(a.destinationBlend, b.destinationBlend);
  EXPECT_EQ(a.startAlpha, b.startAlpha);
  EXPECT_EQ(a.alphaLoss, b.alphaLoss);
}

TEST(ParticleDefinition, RoundTripsAndIsLaidOutFieldByField) {
  std::vector<uint8_t> bytes = EncodeParticleDefinition(sampleDefinition(), "Sparky", "Header");
  // Two lines, five numbers, the texture line, twelve numbers.
  ASSERT_EQ(bytes.size(), 8u + 8u + 5 * 4 + 7u + 12 * 4);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 16), "Header\r\nSparky\r\n");
  EXPECT_EQ(bytes[16], 7);  // the unused field, little-endian
  EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 43), "Spark\r\n");
  ParticleType parsed;
  std::string name;
  ASSERT_TRUE(ParseParticleDefinition(bytes, &parsed, &name));
  EXPECT_EQ(name, "Sparky");
  expectSameFields(parsed, sampleDefinition());
  EXPECT_EQ(parsed.halfAreaWidth, 4);
  EXPECT_EQ(parsed.halfAreaHeight, 2);
}

TEST(ParticleDefinition, AFileThatEndsEarlyIsRefusedWithoutAPartialRecord) {
  std::vector<uint8_t> bytes = EncodeParticleDefinition(sampleDefinition(), "Sparky", "H");
  for (size_t length = 0; length < bytes.size(); ++length) {
    ParticleType type;
    type.lifetime = 1234;
    std::string name = "unchanged";
    EXPECT_FALSE(ParseParticleDefinition({bytes.data(), length}, &type, &name)) << length;
    EXPECT_EQ(type.lifetime, 1234);
    EXPECT_EQ(name, "unchanged");
  }
  bytes.push_back(0xAB);  // trailing bytes are left alone
  ParticleType type;
  EXPECT_TRUE(ParseParticleDefinition(bytes, &type, nullptr));
}

TEST(ParticleDefinition, LinesEndAtNulLineFeedOrCarriageReturnLineFeed) {
  std::vector<uint8_t> bytes = EncodeParticleDefinition(sampleDefinition(), "Sparky", "H");
  // "H\r\nSparky\r\n" -> "H\0Sparky\n": the fields follow each terminator directly.
  std::vector<uint8_t> other = {'H', 0, 'S', 'p', 'a', 'r', 'k', 'y', '\n'};
  other.insert(other.end(), bytes.begin() + 11, bytes.end());
  ParticleType type;
  std::string name;
  ASSERT_TRUE(ParseParticleDefinition(other, &type, &name));
  EXPECT_EQ(name, "Sparky");
  expectSameFields(type, sampleDefinition());
  // A lone CR belongs to the text.
  std::vector<uint8_t> lone = {'H', '\n', 'A', '\r', 'B', '\n'};
  lone.insert(lone.end(), bytes.begin() + 11, bytes.end());
  ASSERT_TRUE(ParseParticleDefinition(lone, &type, &name));
  EXPECT_EQ(name, "A\rB");
}

// ---- Loading from the archive -------------------------------------------------------------

std::vector<uint8_t> definition(const std::string& name, const std::string& texture, float speed) {
  ParticleType type = sampleDefinition();
  type.textureKey = texture;
  type.speed = speed;
  return EncodeParticleDefinition(type, name, "Test");
}

TEST_F(ParticleTest, LoadingReadsEveryRootFileInNameOrderAndResolvesTextures) {
  test::TempDir dir;
  ASSERT_TRUE(rt::createDirectory(dir.path() + "/Data"));
  ArchiveWriter writer;
  BeginArchive(writer, {});
  auto add = [&writer](const std::string& path, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(AddArchiveFile(writer, path, bytes.data(), bytes.size()));
  };
  std::vector<uint8_t> picture = png(4);
  add("Textures\\Dot.png", picture);
  add("Textures\\Dot.jpg", picture);
  // Without regard to case "a" comes before "B": the later file wins.
  add("a twin.particle", definition("Loaded Twin", "", 1));
  add("B twin.particle", definition("Loaded Twin", "Dot", 2));
  add("c blank.particle", definition("Loaded Blank", " ", 3));
  add("d unknown.particle", definition("Loaded Unknown", "Nowhere", 4));
  std::vector<uint8_t> cut = definition("Loaded Cut", "Dot", 5);
  cut.pop_back();
  add("e cut.particle", cut);
  ASSERT_TRUE(SaveArchive(writer, dir.path() + "/Data/Particles.qzd"));

  CreateDefaultParticleTexture();
  rt::Handle archive =
      OpenArchive(rt::kAnyNumber, dir.file("Data/Particles.qzd"), kArchivePassword);
  ASSERT_NE(archive, 0u);
  EXPECT_EQ(LoadParticleArchive(archive), 5);  // one texture and four definitions
  CloseArchive(archive);

  ASSERT_NE(ParticleTextures().find("Dot"), nullptr);
  rt::Handle dot = ParticleTextures().find("Dot")->sprite3D;
  EXPECT_NE(dot, 0u);
  const ParticleType& twin = *ParticleTypeByName("Loaded Twin");
  EXPECT_EQ(twin.speed, 2);
  EXPECT_EQ(twin.texture, dot);
  EXPECT_NE(DefaultParticleTexture(), 0u);
  EXPECT_EQ(ParticleTypeByName("Loaded Blank")->texture, DefaultParticleTexture());
  EXPECT_EQ(ParticleTypeByName("Loaded Unknown")->texture, DefaultParticleTexture());
  EXPECT_EQ(ParticleTypeByName("Loaded Cut")->lifetime, 0);  // not loaded: an empty record
}

// ---- The builder and the shipped definitions ---------------------------------------------------

std::string partbuild() {
  return "ASAN_OPTIONS=detect_leaks=0 " + test::binaryDir() + "/tools/partbuild/partbuild";
}

const char* const kSource =
    "# a test\n"
    "name = Tested Sparks\n"
    "texture = Spark   # the picture\n"
    "emitting = yes\n"
    "area = 9 x 4\n"
    "interval = 25\n"
    "lifetime = 300\n"
    "extra lifetime = 200\n"
    "start size = 12.5\n"
    "size change = -0.25\n"
    "speed = 1.5\n"
    "angles = -45 to 45\n"
    "drift = 0.5\n"
    "blend = source alpha, one\n"
    "start alpha = 250\n"
    "alpha loss = 12\n";

TEST(PartBuild, BuildsWhatTheGameReadsAndShowsItAgain) {
  test::TempDir dir;
  test::writeFile(dir.file("sparks.txt"), std::string(kSource));
  ASSERT_EQ(test::runCommand(partbuild() + " " + dir.file("sparks.txt") + " " +
                             dir.file("sparks.particle")),
            0);
  std::string bytes = test::readFile(dir.file("sparks.particle"));
  ParticleType type;
  std::string name;
  ASSERT_TRUE(ParseParticleDefinition(
      {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, &type, &name));
  EXPECT_EQ(name, "Tested Sparks");
  ParticleType expected = sampleDefinition();
  expected.unused = 0;
  expectSameFields(type, expected);

  std::string shown;
  ASSERT_EQ(test::runCommand(partbuild() + " --show " + dir.file("sparks.particle"), &shown), 0);
  test::writeFile(dir.file("again.txt"), shown);
  ASSERT_EQ(test::runCommand(partbuild() + " " + dir.file("again.txt") + " " +
                             dir.file("again.particle")),
            0);
  EXPECT_EQ(test::readFile(dir.file("again.particle")), bytes);
}

TEST(PartBuild, ReportsEveryProblemWithItsLine) {
  test::TempDir dir;
  std::string source = std::string(kSource) +
                       "speed = 2\n"         // line 17: given twice
                       "colour = red\n"      // 18: unknown
                       "just words\n";       // 19: no "="
  source = rt::replaceString(source, "start alpha = 250", "start alpha = 300");  // line 15
  source = rt::replaceString(source, "-45 to 45", "45 to -45");                   // line 12
  source = rt::replaceString(source, "lifetime = 300\n", "");                     // missing
  test::writeFile(dir.file("bad.txt"), source);
  std::string output;
  EXPECT_EQ(test::runCommand(partbuild() + " " + dir.file("bad.txt") + " " +
                                 dir.file("bad.particle") + " 2>&1",
                             &output),
            1);
  for (const char* expected : {"bad.txt:11: angles", "bad.txt:14: start alpha", "bad.txt:16:",
                               "bad.txt:17: unknown key", "bad.txt:18: expected",
                               "missing \"lifetime\""}) {
    EXPECT_NE(output.find(expected), std::string::npos) << expected << " in\n" << output;
  }
  EXPECT_FALSE(rt::fileExists(dir.file("bad.particle")));
}

// Every type the game spawns by name is in the built archive, with a texture that is there too.
TEST(ShippedParticles, EveryTypeTheGameNamesIsDefinedWithItsTexture) {
  rt::Handle archive = OpenArchive(rt::kAnyNumber, test::binaryDir() + "/Data/Particles.qzd",
                                   kArchivePassword);
  ASSERT_NE(archive, 0u);
  std::set<std::string> textures;
  ASSERT_TRUE(ExamineArchiveFolder(archive, "\\Textures\\"));
  while (NextArchiveFile(archive)) {
    std::string file = ArchiveFileName(archive);
    textures.insert(file.substr(0, file.size() - 4));
  }
  std::set<std::string> names;
  ASSERT_TRUE(ExamineArchiveFolder(archive, "\\"));
  std::vector<std::string> files;
  while (NextArchiveFile(archive)) files.push_back(ArchiveFileName(archive));
  for (const std::string& file : files) {
    std::vector<uint8_t> bytes = ReadArchiveEntry(archive, "\\" + file);
    ASSERT_GE(bytes.size(), 8u);
    ParticleType type;
    std::string name;
    ASSERT_TRUE(ParseParticleDefinition({bytes.data(), bytes.size() - 8}, &type, &name)) << file;
    names.insert(name);
    EXPECT_TRUE(textures.count(type.textureKey)) << name << " names " << type.textureKey;
    EXPECT_GT(type.startSize, 0) << name;
  }
  CloseArchive(archive);
  for (const char* name : {"Explosion", "Explosion Smoke", "Wood 001", "Blood 001",
                           "Blood Cloud 001", "Spark", "Spark HUD"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
}

}  // namespace
