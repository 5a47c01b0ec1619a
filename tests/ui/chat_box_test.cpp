// The chat box's message lines on the null screen: rows from the bottom, the line limit, pieces
// one after another, the fading, and the standard kill, chat and leaving lines.
#include "ui/chat_box.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "data/language.h"
#include "render/typeface.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "support/test_support.h"
#include "world/world.h"

namespace {

float row(int r) { return 460.0f + 12.0f * static_cast<float>(r); }

// A glyph's pen: DrawText puts its quad half a pixel up and left of it.
struct Glyph {
  float x, y;
  uint32_t colour;  // 0x00RRGGBB
  int alpha;
};

class ChatBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    std::vector<unsigned char> font = test::tenPixelTypeface("ABCDEFGHIJKLMNOPQRSTUVWXYZ ");
    ASSERT_TRUE(LoadTypefaceFromMemory(1, font));
    rt::frame.width = 1024;
    rt::frame.now = 20000;
    chatBox = ChatBox{};
    useLanguage("Message Kill = was blown up by ~\nMessage SelfKill = blew himself up\n"
                "Message Disconnect = has left the game\n");
    rt::setDrawRecorder(&drawn);
  }
  void TearDown() override {
    rt::setDrawRecorder(nullptr);
    chatBox = ChatBox{};
    FreeTypeface(1);
    rt::shutdownScreenSystem();
  }

  void useLanguage(const std::string& text) {
    test::writeFile(dir.file("Test.ini"), text);
    ASSERT_TRUE(LoadLanguage(dir.file("Test.ini")));
  }

  std::vector<Glyph> update() {
    drawn.clear();
    UpdateChatBox();
    std::vector<Glyph> glyphs;
    for (const rt::DrawnQuad& q : drawn) {
      glyphs.push_back({q.corners[0].x + 0.5f, q.corners[0].y + 0.5f, q.colours[0], q.alpha});
    }
    return glyphs;
  }
  int firstAlpha() {
    std::vector<Glyph> glyphs = update();
    return glyphs.empty() ? -1 : glyphs[0].alpha;
  }

  // Each line as its pieces joined, and as "text|colour" pieces.
  static std::vector<std::string> texts() {
    std::vector<std::string> out;
    for (const ChatLine& line : chatBox.lines) {
      std::string text;
      for (const ChatSegment& s : line.segments) text += s.text;
      out.push_back(text);
    }
    return out;
  }
  static std::vector<std::string> pieces(const ChatLine& line) {
    std::vector<std::string> out;
    for (const ChatSegment& s : line.segments) {
      char colour[16];
      std::snprintf(colour, sizeof colour, "|%06X", s.colour);
      out.push_back(s.text + colour);
    }
    return out;
  }

  static PlayerWire player(int32_t id, const std::string& name, uint32_t colour) {
    PlayerWire p;
    p.id = id;
    setPlayerName(p, name);
    p.colour = static_cast<int32_t>(colour);
    return p;
  }

  test::TempDir dir;
  std::vector<rt::DrawnQuad> drawn;
};

TEST_F(ChatBoxTest, PiecesFollowEachOtherAndTheNewestLineIsOnTheBottomRow) {
  ChatLine* line = AddChatLine();
  AddChatSegment(line, "AB", 0x2020E0);
  AddChatSegment(line, "", 0x00FF00);
  AddChatSegment(line, "C D", 0xC0C0C0);
  AddChatSegment(nullptr, "X", 0xFFFFFF);
  std::vector<Glyph> glyphs = update();
  ASSERT_EQ(glyphs.size(), 5u);
  for (size_t i = 0; i < glyphs.size(); ++i) {
    EXPECT_EQ(glyphs[i].x, 10.0f * static_cast<float>(i)) << i;
    EXPECT_EQ(glyphs[i].y, row(9)) << i;
    EXPECT_EQ(glyphs[i].alpha, 200) << i;
  }
  EXPECT_EQ(glyphs[0].colour, 0xE02020u);
  EXPECT_EQ(glyphs[2].colour, 0xC0C0C0u);

  AddChatSegment(AddChatLine(), "E", 0xFFFFFF);
  glyphs = update();
  EXPECT_EQ(glyphs.front().y, row(8));
  EXPECT_EQ(glyphs.back().y, row(9));
}

TEST_F(ChatBoxTest, AtMostTenLinesTheOldestDropped) {
  for (int i = 0; i < 12; ++i) AddChatSegment(AddChatLine(), std::string(1, 'A' + i), 0xFFFFFF);
  EXPECT_EQ(chatBox.lines.count(), kChatLines);
  EXPECT_EQ(texts().front(), "C");
  EXPECT_EQ(texts().back(), "L");
  std::vector<Glyph> glyphs = update();
  ASSERT_EQ(glyphs.size(), 10u);
  for (int r = 0; r < 10; ++r) EXPECT_EQ(glyphs[r].y, row(r)) << r;
}

TEST_F(ChatBoxTest, OneAlphaStepPerFrameOnceTenSecondsHavePassed) {
  AddChatSegment(AddChatLine(), "A", 0xFFFFFF);
  rt::frame.now += 10000;
  EXPECT_EQ(firstAlpha(), 200);
  rt::frame.now += 1;
  EXPECT_EQ(firstAlpha(), 199);
  EXPECT_EQ(firstAlpha(), 198);  // per frame, whatever the clock did
  for (int i = 0; i < 196; ++i) update();
  EXPECT_EQ(firstAlpha(), 1);
  EXPECT_EQ(firstAlpha(), -1);
  EXPECT_EQ(chatBox.alpha, 0);

  // A new line, or an open input, brings the whole history back.
  AddChatSegment(AddChatLine(), "B", 0xFFFFFF);
  EXPECT_EQ(update().size(), 2u);
  rt::frame.now += 60000;
  update();
  chatBox.inputVisible = true;
  EXPECT_TRUE(ChatInputActive());
  EXPECT_EQ(firstAlpha(), 200);
  chatBox.inputVisible = false;
  rt::frame.now += 10001;
  EXPECT_EQ(firstAlpha(), 199);
}

TEST_F(ChatBoxTest, KillLinesNameTheVictimFirst) {
  PlayerWire victim = player(3, "Vic", 0x2020E0), killer = player(4, "Kim", 0xF08080);
  AddKillLine(victim, killer);
  EXPECT_EQ(pieces(chatBox.lines.back()),
            (std::vector<std::string>{"Vic|2020E0", " was blown up by |C0C0C0", "Kim|F08080",
                                      ".|C0C0C0"}));
  AddKillLine(victim, PlayerWire(victim));
  EXPECT_EQ(pieces(chatBox.lines.back()),
            (std::vector<std::string>{"Vic|2020E0", " blew himself up.|C0C0C0"}));

  useLanguage("Message Kill = wurde von ~ gesprengt\n");
  AddKillLine(victim, killer);
  EXPECT_EQ(texts().back(), "Vic wurde von Kim gesprengt.");
  useLanguage("Message Kill = died\n");  // without "~" both names still show
  AddKillLine(victim, killer);
  EXPECT_EQ(texts().back(), "Vic diedKim.");
}

TEST_F(ChatBoxTest, ChatAndLeavingLines) {
  AddChatMessageLine(player(5, "Nia", 0x10D0D0), "hello there");
  AddPlayerLeftLine(0x780287, "Leo");
  EXPECT_EQ(pieces(chatBox.lines.front()),
            (std::vector<std::string>{"Nia|10D0D0", ": hello there|FFFFFF"}));
  EXPECT_EQ(pieces(chatBox.lines.back()),
            (std::vector<std::string>{"Leo|780287", " has left the game.|C0C0C0"}));
}

TEST_F(ChatBoxTest, NamesAndTextsFromTheNetworkAreCut) {
  AddPlayerLeftLine(0xFF123456, std::string(100, 'L'));
  AddPlayerLeftLine(0x123456, std::string("Eve\0Mallory", 11));
  AddChatMessageLine(player(5, "Bob", 0xFFFFFF), std::string(1 << 20, 'X'));
  EXPECT_EQ(pieces(chatBox.lines.front())[0], std::string(32, 'L') + "|123456");
  EXPECT_EQ(texts()[1], "Eve has left the game.");
  EXPECT_EQ(texts()[2].size(), 3 + kChatSegmentLimit);
  EXPECT_LT(update().size(), 600u);

  // A piece that would start right of the screen is not drawn at all.
  ChatLine* wide = AddChatLine();
  AddChatSegment(wide, std::string(120, 'W'), 0xFFFFFF);
  AddChatSegment(wide, "Z", 0x0000FF);
  size_t bottom = 0;
  for (const Glyph& g : update()) bottom += g.y == row(9);
  EXPECT_EQ(bottom, 120u);
}

}  // namespace
