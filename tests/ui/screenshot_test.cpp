#include "ui/screenshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "data/config.h"
#include "runtime/input.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

constexpr int kKeyF12 = 88;

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (!std::filesystem::is_directory(folder)) return names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ScreenshotName, TheFirstInAFreshFolderIsPicture0001) {
  test::TempDir dir;
  std::string pattern = dir.path() + "/ScreenShots\\Picture????.png";
  EXPECT_EQ(NextScreenshotPath(pattern), dir.path() + "/ScreenShots\\Picture0001.png");
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("ScreenShots")));
}

TEST(ScreenshotName, NumbersGoOnFromTheHighestFile) {
  test::TempDir dir;
  std::string shots = dir.file("ScreenShots");
  std::filesystem::create_directory(shots);
  std::string pattern = shots + "/Picture????.png";
  test::writeFile(shots + "/Picture0003.png", "x");
  EXPECT_EQ(NextScreenshotPath(pattern), shots + "/Picture0004.png");

  // Gaps stay, letter case does not matter, folders and other names do not count.
  test::writeFile(shots + "/picture0007.PNG", "x");
  std::filesystem::create_directory(shots + "/Picture0042.png");
  test::writeFile(shots + "/Picture12345.png", "x");
  test::writeFile(shots + "/Picture0099.jpg", "x");
  EXPECT_EQ(NextScreenshotPath(pattern), shots + "/Picture0008.png");
}

TEST(ScreenshotName, AStarTakesTheNumberWithoutPadding) {
  test::TempDir dir;
  std::string pattern = dir.path() + "/Shot*.png";
  EXPECT_EQ(NextScreenshotPath(pattern), dir.path() + "/Shot1.png");
  test::writeFile(dir.file("Shot9.png"), "x");
  test::writeFile(dir.file("Shot12.png"), "x");
  EXPECT_EQ(NextScreenshotPath(pattern), dir.path() + "/Shot13.png");
}

TEST(ScreenshotName, UsedUpNumbersNeverOverwriteAPicture) {
  test::TempDir dir;
  test::writeFile(dir.file("Picture9999.png"), "x");
  EXPECT_EQ(NextScreenshotPath(dir.path() + "/Picture????.png"), "");
  test::writeFile(dir.file("Huge99999999999999999999999.png"), "x");
  EXPECT_EQ(NextScreenshotPath(dir.path() + "/Huge*.png"), "");
}

TEST(ScreenshotName, AFolderThatCannotBeMadeGivesNoName) {
  test::TempDir dir;
  test::writeFile(dir.file("Blocker"), "a file where the folder should be");
  EXPECT_EQ(NextScreenshotPath(dir.file("Blocker") + "/Picture????.png"), "");
}

TEST(Screenshot, NothingIsSavedWhenTheScreenCannotBeRead) {
  test::TempDir dir;
  ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
  rt::Handle window = rt::openWindow(0, 0, 0, 1024, 768, "Test", rt::kWindowHidden);
  ASSERT_TRUE(window && rt::openWindowedScreen(window, 0, 0, 1024, 768));
  EXPECT_FALSE(SaveScreenshot(dir.path() + "/ScreenShots\\Picture????.png"));
  EXPECT_TRUE(filesIn(dir.file("ScreenShots")).empty());
  rt::shutdownScreenSystem();
}

// A solid quad of one colour, stretched to the given size.
rt::Handle solidQuad(uint8_t r, uint8_t g, uint8_t b, float width, float height) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 16; ++i) pixels.insert(pixels.end(), {r, g, b, 255});
  rt::Handle image = rt::createImage(rt::kAnyNumber, 4, 4, pixels.data());
  rt::Handle sprite = rt::createSpriteFromImage(rt::kAnyNumber, image);
  rt::freeImage(image);
  rt::Handle quad = rt::createSprite3D(rt::kAnyNumber, sprite);
  rt::sizeSprite3D(quad, width, height);
  return quad;
}

// Holding F12 over several frames gives one picture, taken at the release, of the whole screen
// with what was drawn on top (the title bar).
TEST(Screenshot, HoldingF12GivesOnePictureOfTheWholeScreen) {
  if (!test::startXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Sdl));
  rt::Handle window =
      rt::openWindow(0, 0, 0, 1024, 768, "Test", rt::kWindowCentred | rt::kWindowBorderless);
  ASSERT_TRUE(window && rt::openWindowedScreen(window, 0, 0, 1024, 768));
  test::TempDir dir;
  SetConfigFolder(dir.path() + "/");
  rt::Handle titleBar = solidQuad(200, 30, 40, 1024, 28);

  auto frame = [&](bool f12Down) {
    rt::setKeyState(kKeyF12, f12Down);
    rt::examineKeyboard();
    rt::clearScreen(0x603010);  // 0x00BBGGRR
    rt::displaySprite3D(titleBar, 0, 0);
    CheckScreenshotKey();
  };
  for (int i = 0; i < 5; ++i) frame(true);
  EXPECT_TRUE(filesIn(dir.file("ScreenShots")).empty()) << "taken while the key was still down";
  for (int i = 0; i < 5; ++i) frame(false);
  ASSERT_EQ(filesIn(dir.file("ScreenShots")), std::vector<std::string>{"Picture0001.png"});

  std::string png = test::readFile(dir.file("ScreenShots/Picture0001.png"));
  rt::Pixels pixels;
  ASSERT_TRUE(rt::decodePicture(png.data(), png.size(), &pixels));
  EXPECT_EQ(pixels.width, 1024);
  EXPECT_EQ(pixels.height, 768);
  auto pixel = [&](int x, int y) {
    const uint8_t* p = &pixels.rgba[(static_cast<size_t>(y) * 1024 + x) * 4];
    return std::vector<int>{p[0], p[1], p[2]};
  };
  EXPECT_EQ(pixel(5, 5), (std::vector<int>{200, 30, 40}));
  EXPECT_EQ(pixel(1020, 27), (std::vector<int>{200, 30, 40}));
  EXPECT_EQ(pixel(512, 400), (std::vector<int>{0x10, 0x30, 0x60}));
  EXPECT_EQ(pixel(1023, 767), (std::vector<int>{0x10, 0x30, 0x60}));
  rt::shutdownScreenSystem();
}

}  // namespace
