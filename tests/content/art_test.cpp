// The staged pictures and animations: every entry the game loads is there under its exact name,
// at the size the game draws it, and follows the rules the drawing code relies on (tinted pieces
// are grey, layers are centred, fuse pieces join, the gauge can be cut from the bottom).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "render/animation_file.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

std::string stage(const std::string& entry) { return test::binaryDir() + "/content-stage/" + entry; }

rt::Pixels load(const std::string& entry) {
  std::string bytes = test::readFile(stage(entry));
  rt::Pixels pixels;
  EXPECT_TRUE(rt::decodePicture(bytes.data(), bytes.size(), &pixels)) << entry;
  return pixels;
}

const uint8_t* at(const rt::Pixels& p, int x, int y) {
  return &p.rgba[(static_cast<size_t>(y) * p.width + x) * 4];
}

// Pieces the game tints must carry no hue of their own, or the tint would shift.
void expectGrey(const rt::Pixels& p, const std::string& what) {
  int coloured = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const uint8_t* c = at(p, x, y);
      if (c[3] < 8) continue;
      if (std::abs(c[0] - c[1]) > 3 || std::abs(c[1] - c[2]) > 3) ++coloured;
    }
  }
  EXPECT_EQ(coloured, 0) << what;
}

// Alpha-weighted centre of a picture.
void centreOf(const rt::Pixels& p, double* cx, double* cy) {
  double sum = 0, sx = 0, sy = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      double a = at(p, x, y)[3];
      sum += a;
      sx += a * (x + 0.5);
      sy += a * (y + 0.5);
    }
  }
  *cx = sum > 0 ? sx / sum : 0;
  *cy = sum > 0 ? sy / sum : 0;
}

AnimationFileView parseStaged(const std::string& entry, std::string* bytes) {
  *bytes = test::readFile(stage(entry));
  AnimationFileView view;
  EXPECT_EQ(ParseAnimationFile(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size(), -1, &view),
            kAnimationFileOk)
      << entry;
  return view;
}

rt::Pixels frameOf(const AnimationFileView& view, size_t index) {
  rt::Pixels pixels;
  const AnimationFrameView& frame = view.frames.at(index);
  EXPECT_TRUE(rt::decodePicture(frame.image, frame.imageLength, &pixels));
  return pixels;
}

struct Entry {
  const char* name;
  int width, height;
};

TEST(ArtStage, EveryPictureHasItsEntryNameAndSize) {
  const Entry entries[] = {
      {"GFX/Box.png", 96, 96},           {"GFX/Barrel.png", 96, 96},
      {"GFX/Blood 001.png", 96, 96},     {"GFX/Blood Arm 001.png", 64, 64},
      {"GFX/Blood Torso 001.png", 64, 64}, {"GFX/Hair.png", 32, 32},
      {"GFX/Barrel Small.png", 48, 48},  {"GFX/Barrel Front.png", 128, 128},
      {"GFX/Barrel Gunpowder.png", 128, 128}, {"GFX/Barrel Back.png", 128, 128},
      {"GFX/Fuse.png", 32, 32},          {"GFX/Kills List.png", 512, 28},
      {"GFX/Icon Fire.png", 64, 64},     {"GFX/Icon Fuse.png", 64, 64},
      {"GFX/Icon Barrel.png", 64, 64},   {"GUI/Black.png", 16, 16},
      {"GUI/Title.png", 16, 28},         {"GUI/CheckBox0.png", 24, 24},
      {"GUI/CheckBox1.png", 24, 24},     {"GUI/Button.png", 48, 48},
      {"GUI/String.png", 48, 48},        {"GUI/List.png", 64, 64},
      {"GUI/Up.png", 24, 24},            {"GUI/Down.png", 24, 24},
      {"GUI/Slider.png", 24, 48},        {"GUI/Line.png", 32, 12},
      {"GUI/Head.png", 48, 24},          {"GUI/Select.png", 24, 24},
      {"GUI/SpinUp.png", 24, 16},        {"GUI/SpinDown.png", 24, 16},
      {"GUI/ToolTip.png", 32, 32},       {"GUI/Background.jpg", 1024, 768},
  };
  for (const Entry& e : entries) {
    rt::Pixels p = load(e.name);
    EXPECT_EQ(p.width, e.width) << e.name;
    EXPECT_EQ(p.height, e.height) << e.name;
  }
}

TEST(ArtStage, NineSliceBordersFitTheSmallestBoxes) {
  // The track-bar knob is a button 16 wide: two 8-pixel borders and no middle. The groove is
  // drawn 12 high with 6-pixel borders. Pictures smaller than that would overlap their corners.
  for (const char* name : {"GUI/Button.png", "GUI/String.png", "GUI/List.png", "GUI/Slider.png", "GUI/ToolTip.png"}) {
    rt::Pixels p = load(name);
    EXPECT_GE(p.width, 17) << name;
    EXPECT_GE(p.height, 17) << name;
  }
  rt::Pixels head = load("GUI/Head.png");
  EXPECT_EQ(head.height, 24);
  rt::Pixels line = load("GUI/Line.png");
  EXPECT_GE(line.height, 12);
  EXPECT_GE(line.width, 13);
}

TEST(ArtStage, TintedPiecesAreGrey) {
  for (const char* name : {"GFX/Icon Fire.png", "GFX/Icon Fuse.png", "GFX/Icon Barrel.png", "GFX/Kills List.png",
                           "GUI/Title.png", "GUI/Button.png", "GUI/String.png", "GUI/List.png", "GUI/Head.png",
                           "GUI/Slider.png", "GUI/Line.png", "GUI/CheckBox0.png", "GUI/CheckBox1.png", "GUI/Up.png",
                           "GUI/Down.png", "GUI/Select.png", "GUI/SpinUp.png", "GUI/SpinDown.png"}) {
    expectGrey(load(name), name);
  }
  for (const char* name : {"Animations/Player/Shoulder.afs", "Animations/Items/Fire.afs", "Animations/Items/Time.afs",
                           "Animations/Items/Amount.afs"}) {
    std::string bytes;
    AnimationFileView view = parseStaged(name, &bytes);
    for (size_t i = 0; i < view.frames.size(); ++i) expectGrey(frameOf(view, i), name + std::string(" frame ") + std::to_string(i));
  }
}

TEST(ArtStage, AnimationsLoopAtTheirDisplaySize) {
  struct Animation {
    const char* name;
    uint32_t size;
    size_t fewest, most;
    uint32_t shortest, longest;
  };
  const Animation animations[] = {
      {"Animations/Player/Torso.afs", 128, 8, 12, 60, 80},  {"Animations/Player/Legs.afs", 128, 8, 12, 60, 80},
      {"Animations/Player/Shoulder.afs", 128, 8, 12, 60, 80}, {"Animations/Items/Fire.afs", 64, 8, 16, 40, 150},
      {"Animations/Items/Time.afs", 64, 8, 16, 40, 150},     {"Animations/Items/Amount.afs", 64, 8, 16, 40, 150},
  };
  for (const Animation& a : animations) {
    std::string bytes;
    AnimationFileView view = parseStaged(a.name, &bytes);
    EXPECT_EQ(view.width, a.size) << a.name;
    EXPECT_EQ(view.height, a.size) << a.name;
    EXPECT_GE(view.frames.size(), a.fewest) << a.name;
    EXPECT_LE(view.frames.size(), a.most) << a.name;
    for (size_t i = 0; i < view.frames.size(); ++i) {
      EXPECT_GE(view.frames[i].duration, a.shortest) << a.name;
      EXPECT_LE(view.frames[i].duration, a.longest) << a.name;
      rt::Pixels p = frameOf(view, i);
      EXPECT_EQ(p.width, static_cast<int>(a.size)) << a.name << " frame " << i;
      EXPECT_EQ(p.height, static_cast<int>(a.size)) << a.name << " frame " << i;
    }
  }
}

TEST(ArtStage, PlayerLayersShareTheCentreAndAllThreeWalk) {
  // Frame 0 is the standing pose: every layer is symmetric about the middle column, so that the
  // three line up under one rotation about (64, 64). Walking frames must differ from it.
  for (const char* name : {"Animations/Player/Torso.afs", "Animations/Player/Legs.afs", "Animations/Player/Shoulder.afs"}) {
    std::string bytes;
    AnimationFileView view = parseStaged(name, &bytes);
    ASSERT_GE(view.frames.size(), 4u) << name;
    rt::Pixels rest = frameOf(view, 0);
    double cx, cy;
    centreOf(rest, &cx, &cy);
    EXPECT_NEAR(cx, 64.0, 1.0) << name;
    EXPECT_NEAR(cy, 64.0, 10.0) << name;
    rt::Pixels stride = frameOf(view, view.frames.size() / 4);
    EXPECT_NE(rest.rgba, stride.rgba) << name;
  }
}

TEST(ArtStage, GaugeShowsPowderForEveryStrength) {
  // The powder is cut from the bottom to 128 * strength / 12 rows; the front must let the lowest
  // strength (10 rows) and the strength number (drawn from row 48) show.
  rt::Pixels powder = load("GFX/Barrel Gunpowder.png");
  rt::Pixels front = load("GFX/Barrel Front.png");
  for (int y = 12; y <= 117; ++y) EXPECT_EQ(at(powder, 64, y)[3], 255) << "powder row " << y;
  EXPECT_LT(at(front, 64, 119)[3], 16);
  for (int y = 30; y <= 100; y += 10) EXPECT_LT(at(front, 64, y)[3], 16) << "window row " << y;
  // The fuse row starts behind the barrel's lower right.
  EXPECT_EQ(at(front, 100, 112)[3], 255);
}

TEST(ArtStage, FusePiecesJoinEvery28Pixels) {
  rt::Pixels fuse = load("GFX/Fuse.png");
  for (int y = 0; y < fuse.height; ++y) {
    for (int x = 0; x < 4; ++x) {
      const uint8_t* left = at(fuse, x, y);
      const uint8_t* right = at(fuse, x + 28, y);
      EXPECT_NEAR(left[3], right[3], 8) << "x " << x << " y " << y;
      if (left[3] == 0) continue;
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(left[c], right[c], 24) << "x " << x << " y " << y;
    }
  }
  // The spark sits on the cord at the right end, 26 pixels down.
  EXPECT_EQ(at(fuse, 31, 26)[3], 255);
}

TEST(ArtStage, BackgroundIsBrightEnoughToShowDimmed) {
  // The menu draws it at alpha 64 over black.
  rt::Pixels p = load("GUI/Background.jpg");
  double sum = 0;
  for (size_t i = 0; i < p.rgba.size(); i += 4) sum += (p.rgba[i] + p.rgba[i + 1] + p.rgba[i + 2]) / 3.0;
  EXPECT_GT(sum / (p.rgba.size() / 4), 100.0);
}

}  // namespace
