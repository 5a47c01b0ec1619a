// The picture tools of the content build: svgrender's PNG and JPEG output, artgen's templates
// and scenes. They run on files from this repository only, but a mistake in a source must stop
// the build with a message, not write a broken picture.

#include <gtest/gtest.h>

#include <string>

#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

std::string tool(const std::string& name) {
  return "ASAN_OPTIONS=detect_leaks=0 " + test::binaryDir() + "/tools/" + name + "/" + name;
}

bool decode(const std::string& path, rt::Pixels* pixels) {
  std::string bytes = test::readFile(path);
  return rt::decodePicture(bytes.data(), bytes.size(), pixels);
}

const uint8_t* at(const rt::Pixels& p, int x, int y) { return &p.rgba[(static_cast<size_t>(y) * p.width + x) * 4]; }

const char* kSquare =
    "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' viewBox='0 0 16 16'>"
    "<rect x='4' y='4' width='8' height='8' fill='#ffffff'/></svg>";

TEST(Svgrender, TransparentEdgesTakeTheColourOfTheirNeighbours) {
  // Smooth scaling in the game mixes in the colour of transparent pixels next to an edge; black
  // there would draw a dark fringe round a white piece.
  test::TempDir dir;
  test::writeFile(dir.file("square.svg"), std::string(kSquare));
  ASSERT_EQ(test::runCommand(tool("svgrender") + " " + dir.file("square.svg") + " " + dir.file("square.png")), 0);
  rt::Pixels p;
  ASSERT_TRUE(decode(dir.file("square.png"), &p));
  EXPECT_EQ(at(p, 8, 8)[3], 255);
  const uint8_t* outside = at(p, 2, 8);
  EXPECT_EQ(outside[3], 0);
  EXPECT_EQ(outside[0], 255);
  EXPECT_EQ(outside[1], 255);
  EXPECT_EQ(outside[2], 255);
}

TEST(Svgrender, JpegNamesGiveAPictureOverBlack) {
  test::TempDir dir;
  test::writeFile(dir.file("square.svg"), std::string(kSquare));
  ASSERT_EQ(test::runCommand(tool("svgrender") + " " + dir.file("square.svg") + " " + dir.file("square.jpg") + " 32 32"), 0);
  std::string bytes = test::readFile(dir.file("square.jpg"));
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);
  rt::Pixels p;
  ASSERT_TRUE(decode(dir.file("square.jpg"), &p));
  EXPECT_EQ(p.width, 32);
  EXPECT_GT(at(p, 16, 16)[0], 240);
  EXPECT_LT(at(p, 2, 2)[0], 16);
  EXPECT_EQ(at(p, 2, 2)[3], 255);
}

TEST(Artgen, TemplateHolesAreFilledPerFrame) {
  test::TempDir dir;
  test::writeFile(dir.file("bar.svg"),
                  std::string("<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' viewBox='0 0 16 16'>"
                              "<rect x='{{16*p}}' y='0' width='{{max(1, 16/n)}}' height='16' fill='#fff'/></svg>"));
  ASSERT_EQ(test::runCommand(tool("artgen") + " frames " + dir.file("bar.svg") + " " + dir.file("bar_") + " 4 16 16"), 0);
  for (int frame = 0; frame < 4; ++frame) {
    rt::Pixels p;
    ASSERT_TRUE(decode(dir.file("bar_0" + std::to_string(frame) + ".png"), &p)) << frame;
    // frame f lights columns 4f .. 4f + 3 only
    for (int x = 0; x < 16; ++x) EXPECT_EQ(at(p, x, 8)[3], x / 4 == frame ? 255 : 0) << "frame " << frame << " x " << x;
  }
}

TEST(Artgen, BrokenTemplatesStopWithAMessage) {
  test::TempDir dir;
  const char* broken[] = {"{{nosuch(p)}}", "{{p +}}", "{{1/0}}", "{{p", "{{q}}"};
  for (const char* hole : broken) {
    test::writeFile(dir.file("bad.svg"), std::string("<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'>"
                                                     "<rect width='") + hole + "' height='8'/></svg>");
    std::string output;
    EXPECT_EQ(test::runCommand(tool("artgen") + " frames " + dir.file("bad.svg") + " " + dir.file("bad_") + " 2 8 8 2>&1", &output), 1)
        << hole;
    EXPECT_NE(output.find("bad.svg"), std::string::npos) << output;
    EXPECT_FALSE(test::runCommand("test -e " + dir.file("bad_00.png")) == 0) << hole;
  }
  EXPECT_EQ(test::runCommand(tool("artgen") + " frames " + dir.file("bad.svg") + " x 0 8 8 2>/dev/null"), 2);
  EXPECT_EQ(test::runCommand(tool("artgen") + " frames " + dir.file("bad.svg") + " x 100 8 8 2>/dev/null"), 2);
}

TEST(Artgen, ComposeTintsStretchesNineSlicesAndAdds) {
  test::TempDir dir;
  // A white 16 x 16 square with a black 4-pixel border.
  rt::Pixels square;
  square.width = square.height = 16;
  square.rgba.assign(16 * 16 * 4, 255);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      if (x >= 4 && x < 12 && y >= 4 && y < 12) continue;
      uint8_t* c = &square.rgba[(static_cast<size_t>(y) * 16 + x) * 4];
      c[0] = c[1] = c[2] = 0;
    }
  }
  std::vector<uint8_t> png;
  ASSERT_TRUE(rt::encodePng(square, &png));
  test::writeFile(dir.file("square.png"), png);
  test::writeFile(dir.file("scene.layout"),
                  std::string("# a test scene\n"
                              "canvas 64 32 000000\n"
                              "draw square.png 0 0 40 24 nine=4 tint=808080\n"
                              "draw \"${NAME}\" 48 8 8 8 tint=ff0000 alpha=128 add\n"));
  ASSERT_EQ(test::runCommand(tool("artgen") + " compose " + dir.file("scene.layout") + " " + dir.file("scene.png") +
                             " NAME=square.png"),
            0);
  rt::Pixels p;
  ASSERT_TRUE(decode(dir.file("scene.png"), &p));
  ASSERT_EQ(p.width, 64);
  // The middle is stretched and tinted; the 4-pixel border keeps its width.
  EXPECT_NEAR(at(p, 20, 12)[0], 128, 2);
  EXPECT_NEAR(at(p, 20, 12)[1], 128, 2);
  EXPECT_LT(at(p, 2, 12)[0], 8);
  EXPECT_NEAR(at(p, 6, 12)[0], 128, 2);
  EXPECT_NEAR(at(p, 37, 12)[0], 0, 8);
  EXPECT_NEAR(at(p, 33, 12)[0], 128, 2);
  // The second square is red at half strength, added to black.
  EXPECT_NEAR(at(p, 52, 12)[0], 128, 3);
  EXPECT_EQ(at(p, 52, 12)[1], 0);
}

TEST(Artgen, BrokenLayoutsStopWithTheLine) {
  test::TempDir dir;
  const char* broken[] = {"draw nothing.png 0 0 8 8\n", "draw x.png 0 0 8 8 spin=3\n", "rect 0 0 8 8 red\n",
                          "draw \"${MISSING}\" 0 0 8 8\n", "jump 1 2\n"};
  for (const char* line : broken) {
    test::writeFile(dir.file("scene.layout"), std::string("canvas 8 8\n") + line);
    std::string output;
    EXPECT_EQ(test::runCommand(tool("artgen") + " compose " + dir.file("scene.layout") + " " + dir.file("out.png") + " 2>&1", &output), 1)
        << line;
    EXPECT_NE(output.find("scene.layout:2"), std::string::npos) << output;
  }
  test::writeFile(dir.file("scene.layout"), std::string("draw x.png 0 0 8 8\n"));
  EXPECT_EQ(test::runCommand(tool("artgen") + " compose " + dir.file("scene.layout") + " " + dir.file("out.png") + " 2>/dev/null"), 1);
  EXPECT_FALSE(test::runCommand("test -e " + dir.file("out.png")) == 0);
}

}  // namespace
