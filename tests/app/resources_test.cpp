// Start-up loading: archives turned into numbered sprites, sounds and particle textures; a
// missing archive leaves only its own resources missing.

#include "app/resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/archive.h"
#include "data/archive_writer.h"
#include "data/resources.h"
#include "render/lights.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "runtime/sound.h"
#include "support/test_support.h"

namespace {

std::vector<uint8_t> png(int width, int height, uint8_t red) {
  rt::Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.rgba.assign(static_cast<size_t>(width) * height * 4, 255);
  for (size_t i = 0; i < pixels.rgba.size(); i += 4) pixels.rgba[i] = red;
  std::vector<uint8_t> out;
  rt::encodePng(pixels, &out);
  return out;
}

// A short mono WAV of silence.
std::vector<uint8_t> wav() {
  std::vector<uint8_t> w(44 + 200, 0);
  auto put32 = [&](size_t at, uint32_t v) { memcpy(&w[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { memcpy(&w[at], &v, 2); };
  memcpy(&w[0], "RIFF", 4);
  put32(4, static_cast<uint32_t>(w.size() - 8));
  memcpy(&w[8], "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, 1);
  put16(22, 1);
  put32(24, 22050);
  put32(28, 44100);
  put16(32, 2);
  put16(34, 16);
  memcpy(&w[36], "data", 4);
  put32(40, 200);
  return w;
}

void writeArchive(const std::string& path,
                  const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
  ArchiveWriter writer;
  BeginArchive(writer, ArchiveWriteOptions{});
  for (const auto& [name, bytes] : files) {
    ASSERT_TRUE(AddArchiveFile(writer, name, bytes.data(), bytes.size())) << name;
  }
  ASSERT_TRUE(SaveArchive(writer, path));
}

class Resources : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::initScreenSystem(rt::Backend::Null);
    rt::initSoundSystem(rt::Backend::Null);
    rt::createDirectory(dir.file("Data"));
    rt::setDataRoot(dir.path());
  }
  void TearDown() override {
    rt::shutdownSoundSystem();
    rt::shutdownScreenSystem();
  }
  test::TempDir dir;
};

}  // namespace

TEST_F(Resources, AMissingArchiveLeavesOnlyItsOwnResourcesMissing) {
  writeArchive(dir.file("Data/GFX.qzd"), {{"Box.png", png(96, 96, 200)},
                                           {"Hair.png", png(40, 40, 10)},
                                           {"Icon Fire.png", png(64, 64, 10)}});
  writeArchive(dir.file("Data/Sounds.qzd"), {{"Fuze.ogg", wav()}, {"Music\\Menu.ogg", wav()}});
  // No GUI, Animations, Fonts or Particles archive.
  LoadResources();

  EXPECT_TRUE(rt::sprite3DExists(kSpriteBox));
  EXPECT_FLOAT_EQ(rt::sprite3DWidth(kSpriteBox), 96);
  // Display sizes are set after loading.
  EXPECT_FLOAT_EQ(rt::sprite3DWidth(kSpriteHair), 32);
  EXPECT_FLOAT_EQ(rt::sprite3DWidth(kSpriteIconFire), 48);
  EXPECT_FALSE(rt::sprite3DExists(kSpriteBarrel));  // not in the archive
  for (int number = kSpriteCheckBox0; number <= kSpriteBackground; ++number) {
    EXPECT_FALSE(rt::sprite3DExists(number)) << number;
  }
  EXPECT_TRUE(rt::soundExists(kSoundFuse));
  EXPECT_TRUE(rt::soundExists(kSoundMenuMusic));
  EXPECT_FALSE(rt::soundExists(kSoundExplosion));
  // The built-in pictures exist whatever the archives hold.
  EXPECT_TRUE(rt::sprite3DExists(DefaultParticleTexture()));
  EXPECT_TRUE(rt::sprite3DExists(kSpriteGlow));
  EXPECT_EQ(rt::spriteWidth(kSpriteGlow), 64);
}

// The warm-up draws every picture at other sizes and turns: the game must find them as they were.
TEST_F(Resources, WarmingUpLeavesPicturesLightsAndBlendAsTheyWere) {
  writeArchive(dir.file("Data/GFX.qzd"), {{"Box.png", png(96, 96, 200)},
                                           {"Hair.png", png(40, 40, 10)},
                                           {"Icon Fire.png", png(64, 64, 10)}});
  LoadResources();
  int32_t cameraX = 0, cameraY = 0;
  InitLights("Data\\Lights.qzd", 1024, 768, &rt::frame.now, &cameraX, &cameraY);
  rt::rotateSprite3D(kSpriteBox, 30, 0);
  rt::setBlendMode(5, 6);

  WarmUpRenderer();

  EXPECT_FLOAT_EQ(rt::sprite3DWidth(kSpriteBox), 96);
  EXPECT_FLOAT_EQ(rt::sprite3DRotation(kSpriteBox), 30);
  EXPECT_FLOAT_EQ(rt::sprite3DWidth(kSpriteHair), 32);
  EXPECT_FLOAT_EQ(rt::sprite3DHeight(kSpriteIconFire), 48);
  EXPECT_EQ(Lights().count(), 0u);
  std::vector<rt::DrawnQuad> drawn;
  rt::setDrawRecorder(&drawn);
  rt::displaySprite3D(kSpriteBox, 0, 0);
  rt::setDrawRecorder(nullptr);
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0].sourceBlend, 5);
  EXPECT_EQ(drawn[0].destinationBlend, 6);
}

TEST_F(Resources, TextureFolderKeepsTheFirstOfANameAndOnlyLowerCaseExtensions) {
  writeArchive(dir.file("Data/Particles.qzd"), {{"Textures\\Smoke.jpg", png(8, 8, 1)},
                                                {"Textures\\Smoke.png", png(16, 16, 2)},
                                                {"Textures\\Spark.PNG", png(4, 4, 3)},
                                                {"Textures\\Fire.bmp", png(2, 2, 4)},
                                                {"Textures\\notes.txt", {'h', 'i'}}});
  rt::Handle archive = OpenArchive(0, "Data\\Particles.qzd", kArchivePassword);
  ASSERT_TRUE(archive);
  LoadTextureFolder(archive, "Textures\\");
  CloseArchive(archive);

  rt::Map<ParticleTexture>& textures = ParticleTextures();
  ASSERT_NE(textures.find("Smoke"), nullptr);
  // Name order: Smoke.jpg comes before Smoke.png and wins.
  EXPECT_EQ(rt::spriteWidth(textures.find("Smoke")->sprite), 8);
  EXPECT_EQ(textures.find("Spark"), nullptr);  // "PNG" in capitals is not a texture
  EXPECT_NE(textures.find("Fire"), nullptr);   // a .bmp name, whatever the bytes decode as
  EXPECT_EQ(textures.find("notes"), nullptr);
  EXPECT_EQ(textures.count(), 2u);

  // Loading again replaces the whole map.
  writeArchive(dir.file("Data/Other.qzd"), {{"Textures\\Ash.png", png(4, 4, 9)}});
  archive = OpenArchive(0, "Data\\Other.qzd", kArchivePassword);
  LoadTextureFolder(archive, "Textures\\");
  CloseArchive(archive);
  EXPECT_EQ(textures.count(), 1u);
  EXPECT_NE(textures.find("Ash"), nullptr);
}

TEST_F(Resources, EntriesComeWithEightZeroBytesThatLoadersTolerate) {
  std::vector<uint8_t> sound = wav();
  writeArchive(dir.file("Data/Sounds.qzd"), {{"Item.ogg", sound}});
  rt::Handle archive = OpenArchive(0, "Data\\Sounds.qzd", kArchivePassword);
  ASSERT_TRUE(archive);
  std::vector<uint8_t> entry = ReadArchiveEntry(archive, "Item.ogg");
  ASSERT_EQ(entry.size(), sound.size() + 8);
  EXPECT_TRUE(std::equal(entry.end() - 8, entry.end(), std::vector<uint8_t>(8, 0).begin()));
  EXPECT_TRUE(LoadSound(archive, kSoundItem, "Item.ogg", false));
  EXPECT_FALSE(LoadSound(archive, kSoundStep, "Step.ogg", false));  // missing entry
  EXPECT_EQ(Load3DSprite(archive, kSpriteBox, "Box.png"), 0);
  CloseArchive(archive);
}
