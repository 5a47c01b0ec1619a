// The animation file, animation objects, the instance clock and the player figure, on the null
// screen backend with a clock the tests move by hand.
#include "render/animation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "data/archive.h"
#include "data/archive_writer.h"
#include "render/animation_file.h"
#include "render/animation_local.h"
#include "runtime/checksum.h"
#include "runtime/screen.h"
#include "support/test_support.h"
#include "world/angles.h"

namespace {

uint32_t fakeNow = 0;
uint32_t fakeClock() { return fakeNow; }

std::vector<uint8_t> png(int width, int height, uint8_t red) {
  rt::Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.rgba.assign(static_cast<size_t>(width * height * 4), 255);
  for (size_t i = 0; i < pixels.rgba.size(); i += 4) pixels.rgba[i] = red;
  std::vector<uint8_t> out;
  rt::encodePng(pixels, &out);
  return out;
}

AnimationFile makeFile(const std::vector<uint32_t>& durations, uint32_t width = 128,
                       uint32_t height = 128) {
  AnimationFile file;
  file.width = width;
  file.height = height;
  for (size_t i = 0; i < durations.size(); ++i) {
    file.frames.push_back({durations[i], png(8, 8, static_cast<uint8_t>(40 * i))});
  }
  return file;
}

std::vector<uint8_t> encode(const AnimationFile& file) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(WriteAnimationFile(file, &bytes));
  return bytes;
}

void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// After an edit: a correct CRC again, so that the parser looks past it.
void reseal(std::vector<uint8_t>& bytes) {
  putU32(bytes, bytes.size() - 4, rt::crc32(bytes.data(), bytes.size() - 4));
}

AnimationFileError parse(const std::vector<uint8_t>& bytes, int64_t maxSize = -1) {
  AnimationFileView view;
  return ParseAnimationFile(bytes.data(), bytes.size(), maxSize, &view);
}

// ---- The file ------------------------------------------------------------------------------

TEST(AnimationFile, RoundTripsAndAcceptsTheArchivePadding) {
  AnimationFile file = makeFile({100, 0, 250}, 96, 64);
  std::vector<uint8_t> bytes = encode(file);
  bytes.insert(bytes.end(), 8, 0);  // what an archive entry carries behind its content
  AnimationFileView view;
  ASSERT_EQ(ParseAnimationFile(bytes.data(), bytes.size(), -1, &view), kAnimationFileOk);
  EXPECT_EQ(view.width, 96u);
  EXPECT_EQ(view.height, 64u);
  ASSERT_EQ(view.frames.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(view.frames[i].duration, file.frames[i].duration);
    EXPECT_EQ(std::vector<uint8_t>(view.frames[i].image,
                                   view.frames[i].image + view.frames[i].imageLength),
              file.frames[i].image);
  }
  AnimationFile empty;
  std::vector<uint8_t> untouched = {1, 2, 3};
  EXPECT_FALSE(WriteAnimationFile(empty, &untouched));
  EXPECT_EQ(untouched.size(), 3u);
}

TEST(AnimationFile, RefusesWrongIdentificationSizeAndChecksum) {
  const std::vector<uint8_t> good = encode(makeFile({100, 100}));
  uint32_t size = static_cast<uint32_t>(good.size());

  std::vector<uint8_t> bytes = good;
  bytes[7] = '1';  // "AFS-2.01"
  reseal(bytes);
  EXPECT_EQ(parse(bytes), kAnimationFileBadIdentification);
  EXPECT_EQ(parse(std::vector<uint8_t>(good.begin(), good.begin() + 5)),
            kAnimationFileBadIdentification);

  EXPECT_EQ(parse(good, size), kAnimationFileOk);
  EXPECT_EQ(parse(good, size - 1), kAnimationFileTooLarge);

  bytes = good;
  bytes[40] ^= 0x10;  // inside the first picture
  EXPECT_EQ(parse(bytes), kAnimationFileBadChecksum);

  // A size field past the real data, or too small for a header and a CRC.
  bytes = good;
  putU32(bytes, 8, size + 1);
  EXPECT_EQ(parse(bytes), kAnimationFileBadSize);
  putU32(bytes, 8, 27);
  EXPECT_EQ(parse(bytes), kAnimationFileBadSize);

  // Every cut of a good file fails, quietly.
  for (size_t length = 0; length < good.size(); ++length) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(length));
    EXPECT_NE(parse(cut), kAnimationFileOk) << length;
  }
}

TEST(AnimationFile, RefusesFrameCountsAndLengthsTheBytesCannotHold) {
  const std::vector<uint8_t> good = encode(makeFile({100, 100}));
  std::vector<uint8_t> bytes = good;
  putU32(bytes, 12, 0);
  reseal(bytes);
  EXPECT_EQ(parse(bytes), kAnimationFileBadFrames);

  // A count far beyond the bytes present must fail before anything is sized by it.
  putU32(bytes, 12, 0xFFFFFFFF);
  reseal(bytes);
  EXPECT_EQ(parse(bytes), kAnimationFileBadFrames);

  putU32(bytes, 12, 3);  // room for a third header, not for its picture
  reseal(bytes);
  EXPECT_EQ(parse(bytes), kAnimationFileBadFrames);

  bytes = good;
  putU32(bytes, 28, 0xFFFFFFF0);  // the first picture's length
  reseal(bytes);
  EXPECT_EQ(parse(bytes), kAnimationFileBadFrames);
}

// ---- Animations and instances --------------------------------------------------------------

class AnimationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDrawRecorder(&drawn);
    fakeNow = 1000;
    SetAnimationClock(fakeClock);
  }
  void TearDown() override {
    for (int32_t number = 0; number < 10; ++number) FreeAnimation(static_cast<uint32_t>(number));
    for (rt::Handle instance : made) FreeAnimationInstance(instance);
    SetAnimationClock(nullptr);
    rt::setDrawRecorder(nullptr);
    rt::shutdownScreenSystem();
  }

  rt::Handle load(int32_t number, const std::vector<uint32_t>& durations) {
    return CreateAnimationFromMemory(number, encode(makeFile(durations)));
  }

  rt::Handle instance(uint32_t animation, bool playing) {
    rt::Handle handle = CreateAnimationInstance(rt::kAnyNumber, animation, playing);
    made.push_back(handle);
    return handle;
  }

  // Displays at time t and tells which frame was drawn (-1 for none).
  int drawnFrameAt(uint32_t inst, uint32_t animation, uint32_t t) {
    fakeNow = t;
    drawn.clear();
    DisplayAnimation(inst, 0, 0);
    if (drawn.size() != 1) return -1;
    for (int i = 0; i < AnimationFrameCount(animation); ++i) {
      if (drawn[0].sprite3D == AnimationFrameSprite3D(animation, i)) return i;
    }
    return -2;
  }

  std::vector<rt::DrawnQuad> drawn;
  std::vector<rt::Handle> made;
};

TEST_F(AnimationTest, BuildsOneQuadPerFrameAndFailsCleanly) {
  rt::Handle anim = load(1, {100, 100, 100});
  ASSERT_NE(anim, 0u);
  EXPECT_EQ(AnimationFrameCount(1), 3);
  EXPECT_FLOAT_EQ(AnimationWidth(1), 128);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(rt::sprite3DExists(AnimationFrameSprite3D(1, i)));

  // A bad file under a used number frees the old animation and leaves the number empty.
  rt::Handle firstFrame = AnimationFrameSprite3D(1, 0);
  std::vector<uint8_t> bad = encode(makeFile({100}));
  bad[0] = 'X';
  EXPECT_EQ(CreateAnimationFromMemory(1, bad), 0u);
  EXPECT_FALSE(AnimationExists(1));
  EXPECT_FALSE(AnimationExists(anim));
  EXPECT_FALSE(rt::sprite3DExists(firstFrame));  // its frames went with it

  std::vector<uint8_t> good = encode(makeFile({100}));
  EXPECT_EQ(CreateAnimationFromMemory(2, good, static_cast<int64_t>(good.size()) - 1), 0u);
  EXPECT_NE(CreateAnimationFromMemory(2, good, static_cast<int64_t>(good.size())), 0u);
  EXPECT_EQ(CreateAnimationFromMemory(65536, good), 0u);
}

TEST_F(AnimationTest, AFrameThatDoesNotDecodeDrawsNothing) {
  AnimationFile file = makeFile({100, 100, 100});
  file.frames[1].image = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};
  ASSERT_NE(CreateAnimationFromMemory(3, encode(file)), 0u);
  EXPECT_EQ(AnimationFrameSprite3D(3, 1), 0u);
  rt::Handle inst = instance(3, true);
  EXPECT_EQ(drawnFrameAt(inst, 3, 1050), 0);
  EXPECT_EQ(drawnFrameAt(inst, 3, 1150), -1);
  EXPECT_EQ(drawnFrameAt(inst, 3, 1250), 2);
}

TEST_F(AnimationTest, AnInstanceOfAMissingAnimationExistsButDrawsNothing) {
  rt::Handle inst = instance(9, true);
  ASSERT_NE(inst, 0u);
  EXPECT_TRUE(AnimationInstanceExists(inst));
  DisplayAnimation(inst, 10, 10);
  EXPECT_TRUE(drawn.empty());
  // Nor does it come alive when the number is filled later: it plays what existed at creation.
  ASSERT_NE(load(9, {100}), 0u);
  DisplayAnimation(inst, 10, 10);
  EXPECT_TRUE(drawn.empty());
}

TEST_F(AnimationTest, ClockAt250And350MillisecondsAfterPlay) {
  ASSERT_NE(load(1, {100, 100, 100}), 0u);
  rt::Handle inst = instance(1, false);
  fakeNow = 5000;
  PlayAnimation(inst);
  EXPECT_EQ(drawnFrameAt(inst, 1, 5250), 2);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 50);
  EXPECT_EQ(drawnFrameAt(inst, 1, 5350), 0);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 50);

  // The same straight to 350 ms, and across the wrap of the 32-bit tick.
  rt::Handle other = instance(1, false);
  fakeNow = 0xFFFFFF9C;  // 100 ms before the wrap
  PlayAnimation(other);
  EXPECT_EQ(drawnFrameAt(other, 1, 250), 0);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(other), 50);
}

TEST_F(AnimationTest, APauseLongerThanTheLoopIsReducedFirst) {
  ASSERT_NE(load(1, {100, 100, 100}), 0u);
  rt::Handle inst = instance(1, true);
  EXPECT_EQ(drawnFrameAt(inst, 1, 1120), 1);
  // Ten loops and 100 ms later, one frame further.
  EXPECT_EQ(drawnFrameAt(inst, 1, 1120 + 3000 + 100), 2);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 20);
  // Days later: still a sensible frame and time.
  EXPECT_EQ(drawnFrameAt(inst, 1, 1120 + 3100 + 86'400'000u * 3 + 100), 0);
  EXPECT_NEAR(AnimationTimeInFrame(inst), 20, 1e-3);
}

TEST_F(AnimationTest, StoppedTimeIsNotCaughtUp) {
  ASSERT_NE(load(1, {100, 100, 100}), 0u);
  rt::Handle inst = instance(1, true);
  EXPECT_EQ(drawnFrameAt(inst, 1, 1150), 1);
  StopAnimation(inst);
  EXPECT_FALSE(AnimationPlaying(inst));
  EXPECT_EQ(drawnFrameAt(inst, 1, 1290), 1);  // stopped: the frame stays
  fakeNow = 2000;
  PlayAnimation(inst);
  EXPECT_TRUE(AnimationPlaying(inst));
  EXPECT_EQ(drawnFrameAt(inst, 1, 2040), 1);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 90);

  ResetAnimation(inst);
  EXPECT_FALSE(AnimationPlaying(inst));
  EXPECT_EQ(AnimationCurrentFrame(inst), 0);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 0);
}

TEST_F(AnimationTest, NegativeSpeedStepsBackwardAndWraps) {
  ASSERT_NE(load(1, {100, 100, 100}), 0u);
  rt::Handle inst = instance(1, true);
  SetAnimationSpeed(inst, -1);
  // From the start of frame 0, 50 ms back is the middle of the last frame.
  EXPECT_EQ(drawnFrameAt(inst, 1, 1050), 2);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 50);
  EXPECT_EQ(drawnFrameAt(inst, 1, 1100), 1);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 100);
  EXPECT_EQ(drawnFrameAt(inst, 1, 1260), 0);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 40);
  EXPECT_EQ(drawnFrameAt(inst, 1, 1300), 2);
  // Backwards over a pause of many loops.
  EXPECT_EQ(drawnFrameAt(inst, 1, 1300 + 3000 + 110), 1);
  EXPECT_FLOAT_EQ(AnimationTimeInFrame(inst), 90);
}

TEST_F(AnimationTest, SpeedScalesAndZeroFreezes) {
  ASSERT_NE(load(1, {100, 100, 100}), 0u);
  rt::Handle inst = instance(1, true);
  SetAnimationSpeed(inst, 2);
  EXPECT_EQ(drawnFrameAt(inst, 1, 1060), 1);
  EXPECT_EQ(drawnFrameAt(inst, 1, 1100), 2);
  SetAnimationSpeed(inst, 0);
  EXPECT_EQ(drawnFrameAt(inst, 1, 1900), 2);
  SetAnimationSpeed(inst, NAN);
  SetAnimationSpeed(inst, 1);
  // The frozen time is not caught up after the thaw.
  EXPECT_EQ(drawnFrameAt(inst, 1, 1950), 2);
}

TEST_F(AnimationTest, ZeroDurationsNeitherHangNorBreakTheClock) {
  ASSERT_NE(load(1, {0, 0, 0}), 0u);
  rt::Handle still = instance(1, true);
  EXPECT_EQ(drawnFrameAt(still, 1, 5000), 0);
  EXPECT_FALSE(std::isnan(AnimationTimeInFrame(still)));

  // Zero-length frames in a loop that has time are skipped over.
  ASSERT_NE(load(2, {100, 0, 100}), 0u);
  fakeNow = 1000;
  rt::Handle skip = instance(2, true);
  EXPECT_EQ(drawnFrameAt(skip, 2, 1150), 2);
  SetAnimationSpeed(skip, -1);
  EXPECT_EQ(drawnFrameAt(skip, 2, 1210), 0);
}

TEST_F(AnimationTest, DisplayTintsSizesAndTurnsTheFrame) {
  ASSERT_NE(load(1, {100}), 0u);
  rt::Handle inst = instance(1, false);
  SetAnimationColour(inst, 0x4040E0);  // a red, red in the low byte
  DisplayAnimation(inst, 10, 20, 200);
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0].alpha, 200);
  for (uint32_t colour : drawn[0].colours) EXPECT_EQ(colour, 0xE04040u);
  EXPECT_FLOAT_EQ(drawn[0].corners[0].x, 10);
  EXPECT_FLOAT_EQ(drawn[0].corners[0].y, 20);
  EXPECT_FLOAT_EQ(drawn[0].corners[2].x, 138);  // the file's 128, not the picture's 8
  EXPECT_FLOAT_EQ(drawn[0].corners[2].y, 148);

  RotateAnimation(inst, 60, false);
  RotateAnimation(inst, 30, true);
  EXPECT_FLOAT_EQ(AnimationAngle(inst), 90);
  drawn.clear();
  DisplayAnimation(inst, 0, 0, 255, 0x00FF00);
  ASSERT_EQ(drawn.size(), 1u);
  for (uint32_t colour : drawn[0].colours) EXPECT_EQ(colour, 0x00FF00u);
  // A quarter turn clockwise about the centre (64, 64): the top-left corner goes top-right.
  EXPECT_NEAR(drawn[0].corners[0].x, 128, 1e-3);
  EXPECT_NEAR(drawn[0].corners[0].y, 0, 1e-3);
}

TEST_F(AnimationTest, LoadsFromAnArchiveEntry) {
  ArchiveWriter writer;
  BeginArchive(writer, ArchiveWriteOptions{});
  std::vector<uint8_t> afs = encode(makeFile({100, 100}));
  ASSERT_TRUE(AddArchiveFile(writer, "Player\\Legs.afs", afs.data(), afs.size()));
  ASSERT_TRUE(FinishArchive(writer));
  rt::Handle archive =
      OpenArchiveMemory(rt::kAnyNumber, writer.bytes.data(), writer.bytes.size(), kArchivePassword);
  ASSERT_NE(archive, 0u);
  EXPECT_NE(LoadAnimation(archive, 2, "Player\\Legs.afs"), 0u);
  EXPECT_EQ(AnimationFrameCount(2), 2);
  EXPECT_EQ(LoadAnimation(archive, 4, "Items\\Fire.afs"), 0u);
  EXPECT_FALSE(AnimationExists(4));
  CloseArchive(archive);
}

// ---- Angles and the player figure ----------------------------------------------------------

TEST(AnimationAngles, ShortestDifferenceStaysWithinAHalfTurn) {
  EXPECT_FLOAT_EQ(shortestAngleDifference(10, 20), 10);
  EXPECT_FLOAT_EQ(shortestAngleDifference(350, 10), 20);
  EXPECT_FLOAT_EQ(shortestAngleDifference(10, 350), -20);
  EXPECT_FLOAT_EQ(shortestAngleDifference(-180, 90), -90);
  EXPECT_FLOAT_EQ(shortestAngleDifference(0, 180), 180);
  EXPECT_FLOAT_EQ(shortestAngleDifference(720, -90), -90);
}

TEST(AnimationAngles, ATwentyFiveDegreeTurnTakesThreeFrames) {
  float angle = 0;
  angle = TurnBodyAngle(angle, 25);
  EXPECT_FLOAT_EQ(angle, 10);
  angle = TurnBodyAngle(angle, 25);
  EXPECT_FLOAT_EQ(angle, 20);
  angle = TurnBodyAngle(angle, 25);
  EXPECT_FLOAT_EQ(angle, 25);
  // Facing right (-90) to up (-180) from 170: the short way, over the half-turn mark.
  EXPECT_FLOAT_EQ(TurnBodyAngle(170, -180), 180);
  EXPECT_FLOAT_EQ(TurnBodyAngle(180, -180), -180);
}

TEST_F(AnimationTest, PlayerFigureDrawsLegsTorsoShoulderAndHairInOrder) {
  ASSERT_NE(load(kTorsoAnimation, {100}), 0u);
  ASSERT_NE(load(kLegsAnimation, {100}), 0u);
  ASSERT_NE(load(kShoulderAnimation, {100}), 0u);
  std::vector<uint8_t> hairPng = png(32, 32, 0);
  ASSERT_NE(rt::createSpriteFromMemory(kHairSprite, hairPng.data(), hairPng.size()), 0u);
  rt::Handle hair = rt::createSprite3D(kHairSprite, kHairSprite);
  ASSERT_NE(hair, 0u);

  PlayerBody body = CreatePlayerBody();
  EXPECT_FALSE(AnimationPlaying(body.legs));
  body.displayedAngle = 0;
  body.targetAngle = 25;
  DrawPlayerBody(body, 300.6f, 200.4f, 100, 50, 0x2020E0);
  EXPECT_FLOAT_EQ(body.displayedAngle, 10);
  ASSERT_EQ(drawn.size(), 4u);
  const rt::Handle order[4] = {AnimationFrameSprite3D(kLegsAnimation, 0),
                               AnimationFrameSprite3D(kTorsoAnimation, 0),
                               AnimationFrameSprite3D(kShoulderAnimation, 0), hair};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(drawn[i].sprite3D, order[i]);
    // Frames at round(x - camera - 64), the hair at round(x - camera - 16): all centred alike.
    EXPECT_FLOAT_EQ((drawn[i].corners[0].x + drawn[i].corners[2].x) / 2, 201);
    EXPECT_FLOAT_EQ((drawn[i].corners[0].y + drawn[i].corners[2].y) / 2, 150);
    EXPECT_FLOAT_EQ(rt::sprite3DRotation(order[i]), 10);
  }
  EXPECT_FLOAT_EQ(std::hypot(drawn[3].corners[1].x - drawn[3].corners[0].x,
                             drawn[3].corners[1].y - drawn[3].corners[0].y),
                  32);
  EXPECT_EQ(drawn[0].colours[0], 0xFFFFFFu);
  EXPECT_EQ(drawn[2].colours[0], 0xE02020u);  // the player's colour, red and blue swapped
  FreePlayerBody(body);
  EXPECT_EQ(body.legs, 0u);
}

TEST_F(AnimationTest, MovementPlaysTheFigureAndStandingRestsIt) {
  ASSERT_NE(load(kTorsoAnimation, {100, 100}), 0u);
  ASSERT_NE(load(kLegsAnimation, {100, 100}), 0u);
  ASSERT_NE(load(kShoulderAnimation, {100, 100}), 0u);
  PlayerBody body = CreatePlayerBody();
  made.insert(made.end(), {body.legs, body.torso, body.shoulder});

  AnimatePlayerBody(body, true, false);  // a remote player: legs and torso only
  EXPECT_TRUE(AnimationPlaying(body.legs));
  EXPECT_TRUE(AnimationPlaying(body.torso));
  EXPECT_FALSE(AnimationPlaying(body.shoulder));

  // Held movement does not restart running clocks: 150 ms after the first step is frame 1.
  fakeNow = 1100;
  AnimatePlayerBody(body, true, false);
  EXPECT_EQ(drawnFrameAt(body.legs, kLegsAnimation, 1150), 1);

  AnimatePlayerBody(body, true, true);
  EXPECT_TRUE(AnimationPlaying(body.shoulder));
  AnimatePlayerBody(body, false, true);
  for (rt::Handle part : {body.legs, body.torso, body.shoulder}) {
    EXPECT_FALSE(AnimationPlaying(part));
    EXPECT_EQ(AnimationCurrentFrame(part), 0);
  }
}

// ---- The packaging tool --------------------------------------------------------------------

TEST(AnimationTool, PackagesListsAndRefuses) {
  std::string tool = test::binaryDir() + "/tools/afsbuild/afsbuild";
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << "afsbuild not built";
  test::TempDir dir;
  test::writeFile(dir.file("a.png"), png(4, 4, 10));
  test::writeFile(dir.file("b.png"), png(4, 4, 200));
  test::writeFile(dir.file("broken.png"), std::string("\x89PNG not really"));
  std::string out = dir.file("walk.afs");

  EXPECT_EQ(test::runCommand(tool + " --duration 90 " + out + " 128 96 " + dir.file("a.png") + " " +
                             dir.file("b.png") + ":120"),
            0);
  std::string bytes = test::readFile(out);
  AnimationFileView view;
  ASSERT_EQ(ParseAnimationFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), -1,
                               &view),
            kAnimationFileOk);
  EXPECT_EQ(view.width, 128u);
  EXPECT_EQ(view.height, 96u);
  ASSERT_EQ(view.frames.size(), 2u);
  EXPECT_EQ(view.frames[0].duration, 90u);
  EXPECT_EQ(view.frames[1].duration, 120u);

  std::string listing;
  EXPECT_EQ(test::runCommand(tool + " --list " + out, &listing), 0);
  EXPECT_NE(listing.find("128 x 96, 2 frames, loop 210 ms"), std::string::npos) << listing;
  EXPECT_NE(listing.find("frame 1: 120 ms"), std::string::npos) << listing;

  EXPECT_EQ(test::runCommand(tool + " " + dir.file("x.afs") + " 128 128 " + dir.file("broken.png") +
                             " 2>/dev/null"),
            1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.afs")));
  EXPECT_EQ(test::runCommand(tool + " " + out + " 128 128 2>/dev/null"), 2);
  EXPECT_EQ(test::runCommand(tool + " --list " + dir.file("a.png") + " 2>/dev/null"), 1);
}

}  // namespace
