// The widget set driven frame by frame as a player uses it: mouse events into UpdateMouse, the
// manager pass, then the action, the widgets' fields, the bound variables and the drawn quads.
#include "ui/widgets.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "data/resources.h"
#include "render/typeface.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

constexpr int kCtrl = 29, kReturn = 28, kHome = 199, kEnd = 207, kDelete = 211, kV = 47;

class WidgetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    for (int32_t n = kSpriteCheckBox0; n <= kSpriteBlack; ++n) makeSprite(n);
    std::vector<unsigned char> font =
        test::tenPixelTypeface("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789|? ");
    ASSERT_TRUE(LoadTypefaceFromMemory(kFontNormal, font));
    rt::frame = rt::Frame{};
    rt::frame.now = 10000;
    rt::releaseAllInput();
    rt::examineKeyboard();
    ClearWidgets();
    gui.action.clear();
    mouse = MouseState{};
    rt::setDrawRecorder(&drawn);
  }
  void TearDown() override {
    rt::setDrawRecorder(nullptr);
    ClearWidgets();
    rt::frame.events.clear();
    FreeTypeface(kFontNormal);
    rt::shutdownScreenSystem();
  }

  // The recorder names 3D sprites by handle; the widgets draw them by number.
  void makeSprite(int32_t number) {
    rt::Handle image = rt::createImage(rt::kAnyNumber, 32, 32);
    ASSERT_TRUE(rt::createSpriteFromImage(number, image));
    rt::freeImage(image);
    numbers[rt::createSprite3D(number, number)] = number;
  }
  std::vector<rt::DrawnQuad> quadsOf(int32_t sprite) const {
    std::vector<rt::DrawnQuad> out;
    for (const rt::DrawnQuad& q : drawn) {
      auto it = numbers.find(q.sprite3D);
      if (it != numbers.end() && it->second == sprite) out.push_back(q);
    }
    return out;
  }
  // A quad of the sprite whose top left corner is at (x, y).
  bool drawnAt(int32_t sprite, float x, float y) const {
    for (const rt::DrawnQuad& q : quadsOf(sprite)) {
      if (q.corners[0].x == x && q.corners[0].y == y) return true;
    }
    return false;
  }

  // One menu frame at the given time with these events; the action is this frame's alone.
  void frameAt(uint32_t now, std::vector<rt::WindowEvent> events = {}) {
    rt::frame.now = now;
    rt::frame.events = std::move(events);
    gui.action.clear();
    drawn.clear();
    UpdateMouse();
    UpdateWidgets();
  }
  void next(std::vector<rt::WindowEvent> events = {}) {
    frameAt(rt::frame.now + 10, std::move(events));
  }
  void mouseEvent(int x, int y, int code, int param = 0) {
    rt::setMouseState(x, y, false, false);
    next({{code, param, x, y}});
  }
  void press(int x, int y) { mouseEvent(x, y, rt::kEventLeftDown); }
  void release(int x, int y) { mouseEvent(x, y, rt::kEventLeftUp); }
  void click(int x, int y) {
    press(x, y);
    release(x, y);
  }
  void wheel(int x, int y, int notches) { mouseEvent(x, y, rt::kEventWheel, notches * 120); }
  void type(const std::string& text) {
    std::vector<rt::WindowEvent> events;
    for (unsigned char c : text) events.push_back({rt::kEventChar, c});
    next(events);
  }
  void key(int code) { next({{rt::kEventKeyDown, code}}); }
  void paste(const std::string& cp1252) {
    rt::setClipboardText(cp1252);
    rt::setKeyState(kCtrl, true);
    rt::examineKeyboard();
    key(kV);
    rt::setKeyState(kCtrl, false);
    rt::examineKeyboard();
  }

  void pad(int button) { next({{rt::kEventPadDown, button}}); }
  // The top left corners of the untextured quads: the pad's focus frame is all of them.
  std::vector<std::pair<float, float>> plainQuads() const {
    std::vector<std::pair<float, float>> corners;
    for (const rt::DrawnQuad& q : drawn) {
      if (q.texture == 0) corners.emplace_back(q.corners[0].x, q.corners[0].y);
    }
    return corners;
  }

  std::map<uint32_t, int32_t> numbers;
  std::vector<rt::DrawnQuad> drawn;
};

TEST_F(WidgetsTest, ButtonsActOnTheReleaseOverThemAndNotWhenDisabled) {
  Widget* ok = AddButton(100, 100, 200, 40, "OK", "ok");
  press(150, 120);
  EXPECT_EQ(gui.action, "");
  release(500, 500);
  EXPECT_EQ(gui.action, "");

  press(500, 500);
  release(150, 120);
  EXPECT_EQ(gui.action, "ok");

  ok->disabled = true;
  click(150, 120);
  EXPECT_EQ(gui.action, "");
  std::vector<rt::DrawnQuad> faded = quadsOf(kSpriteButton);
  ASSERT_FALSE(faded.empty());
  for (const rt::DrawnQuad& q : faded) EXPECT_LT(q.alpha, 255);
}

TEST_F(WidgetsTest, AHeldScrollArrowRepeatsAfterADelayAndStepsOnceMoreOnRelease) {
  Widget* list = AddList(100, 100, 300, 200, "pick");
  for (int i = 0; i < 60; ++i) AddListRow(list, "ROW " + std::to_string(i));
  // The middle of the down arrow, a 24-pixel square 28 in from the right and bottom edges.
  const int arrowX = 100 + 300 - 28 + 12, arrowY = 100 + 200 - 28 + 12;
  press(arrowX, arrowY);
  const uint32_t down = rt::frame.now;
  EXPECT_EQ(list->state, 0);
  for (uint32_t t = 10; t <= 240; t += 10) frameAt(down + t);
  EXPECT_EQ(list->state, 0) << "no step before the delay";
  frameAt(down + 260);
  EXPECT_EQ(list->state, 1);
  for (uint32_t t = 270; t <= 1260; t += 10) frameAt(down + t);
  EXPECT_NEAR(list->state, 11, 1) << "about one step per 100 ms";
  int32_t held = list->state;
  release(arrowX, arrowY);
  EXPECT_EQ(list->state, held + 1);
  EXPECT_EQ(gui.action, "");
}

TEST_F(WidgetsTest, AMessageBoxTakesTheMouseButEveryWidgetIsStillDrawn) {
  Widget* button = AddButton(400, 380, 240, 40, "GO", "go");
  Widget* box = AddCheckBox(50, 50, "box");
  Widget* list = AddList(600, 100, 300, 200, "list");
  for (int i = 0; i < 60; ++i) AddListRow(list, "ROW");
  // One line: a 400 x 112 box centred on 1024 x 768, its buttons 60 above its bottom.
  Widget* message = AddMessageBox("QUIT?", "yes\tno");
  EXPECT_EQ(gui.modal, message);

  click(60, 60);
  EXPECT_EQ(box->state, 0);
  wheel(700, 200, -3);
  EXPECT_EQ(list->state, 0);
  click(512, 400);  // over the button below, between the two of the message box
  EXPECT_EQ(gui.action, "");
  EXPECT_TRUE(drawnAt(kSpriteCheckBox0, 50, 50));
  EXPECT_TRUE(drawnAt(kSpriteButton, 400, 380));
  EXPECT_TRUE(drawnAt(kSpriteUp, 872, 104));
  for (const rt::DrawnQuad& q : quadsOf(kSpriteButton)) {
    if (q.corners[0].x != 400 || q.corners[0].y != 380) continue;
    EXPECT_EQ(q.colours[0], kWidgetNormal) << "no hover under the message box";
  }
  EXPECT_EQ(gui.modal, message);

  click(522 + 80, 400);
  EXPECT_EQ(gui.action, "no");
  EXPECT_EQ(gui.modal, nullptr);
  RemoveWidget(message);
  click(420, 400);
  EXPECT_EQ(gui.action, "go");
  RemoveWidget(button);

  // Nine pieces to a button: one action gives one, two give two.
  for (auto [actions, buttons] : {std::pair{"ok", 1u}, {"yes\tno", 2u}}) {
    Widget* asked = AddMessageBox("SURE?", actions);
    next();
    size_t pieces = 0;
    for (const rt::DrawnQuad& q : quadsOf(kSpriteButton)) pieces += q.corners[0].y >= 380;
    EXPECT_EQ(pieces, 9 * buttons) << actions;
    RemoveWidget(asked);
  }
}

TEST_F(WidgetsTest, AComboBoxFoldsOnClicksOutsideAndSelectsARowOfItsList) {
  Widget* combo = AddComboBox(100, 100, 200, 30, "colour");
  for (const char* row : {"RED", "GREEN", "BLUE"}) AddListRow(combo, row);
  std::string colour = "BLUE";
  BindWidget(combo, &colour, 10);
  EXPECT_EQ(combo->selectedRow, 2);

  click(150, 115);
  EXPECT_TRUE(combo->open);
  EXPECT_EQ(gui.popup, combo);
  click(600, 600);
  EXPECT_FALSE(combo->open);
  EXPECT_EQ(gui.popup, nullptr);
  EXPECT_EQ(combo->selectedRow, 2);
  EXPECT_EQ(colour, "BLUE");

  click(150, 115);
  click(150, 115);
  EXPECT_FALSE(combo->open) << "a second click on the box folds it";

  // The unfolded list lies under the box; its rows start 4 pixels into it.
  click(150, 115);
  int row = static_cast<int>(TextHeight(kFontNormal, "|", 1.0f));
  click(150, 100 + 30 + 4 + row + row / 2);
  EXPECT_EQ(combo->selectedRow, 1);
  EXPECT_EQ(colour, "GREEN");
  EXPECT_EQ(gui.action, "colour");
  EXPECT_FALSE(combo->open);
  EXPECT_EQ(gui.popup, nullptr);
}

TEST_F(WidgetsTest, ANumberFieldStaysInItsRangeForTheWheelAndTheSpinArrows) {
  Widget* field = AddNumberWidget(100, 100, 120, 40, 1, 5, 1, "count");
  int32_t count = 4;
  BindWidget(field, &count);
  click(110, 120);
  for (int i = 0; i < 3; ++i) wheel(110, 120, 1);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(field->text, "5");
  wheel(110, 120, -9);
  EXPECT_TRUE(count >= 1 && count <= 5) << count;
  for (int i = 0; i < 6; ++i) click(100 + 120 - 28 + 12, 100 + 20 + 8);  // the lower arrow
  EXPECT_EQ(count, 1);
  EXPECT_EQ(field->text, "1");
  for (int i = 0; i < 6; ++i) click(100 + 120 - 28 + 12, 100 + 4 + 8);
  EXPECT_EQ(count, 5);
}

TEST_F(WidgetsTest, TextFieldsKeepToTheirBoundTypeAndLength) {
  Widget* number = AddStringWidget(100, 100, 200, 30, "number");
  Widget* name = AddStringWidget(100, 200, 200, 30, "name");
  int32_t value = 12;
  std::string text = "AB";
  BindWidget(number, &value);
  BindWidget(name, &text, 5);

  click(290, 115);
  type("X3Y");
  EXPECT_EQ(number->text, "123");
  EXPECT_EQ(value, 123);
  paste("4A5");
  EXPECT_EQ(value, 12345);

  click(290, 215);
  EXPECT_EQ(number->state, 0) << "the press elsewhere took the focus";
  type("CDEFG");
  EXPECT_EQ(text, "ABCDE");
  key(kHome);
  for (int i = 0; i < 3; ++i) key(kDelete);
  EXPECT_EQ(text, "DE");
  const std::string accented = "\xE4\x80\xDF";
  paste(accented + "XYZ");
  EXPECT_EQ(text, accented + "DE");
  key(kEnd);
  paste("Z");
  EXPECT_EQ(name->text, accented + "DE");
  EXPECT_EQ(gui.action, "");
  key(kReturn);
  EXPECT_EQ(gui.action, "name");
  EXPECT_EQ(name->state, 0);
  type("Q");
  EXPECT_EQ(text, accented + "DE");
}

// ---- The gamepad's focus --------------------------------------------------------------------

TEST_F(WidgetsTest, ThePadFocusWalksThePageAndWorksEachKindOfWidget) {
  AddTitle(50, 50, "PAGE");
  AddButton(50, 150, 200, 40, "SOLO", "solo")->disabled = true;
  Widget* first = AddButton(50, 200, 200, 40, "A", "a");
  Widget* second = AddButton(50, 350, 200, 40, "B", "b");
  Widget* volume = AddTrackBar(550, 234, 200, 32, 0, 100, 1, "");
  Widget* check = AddCheckBox(550, 378, "checked");
  Widget* list = AddList(550, 420, 300, 100, "pick");
  for (const char* row : {"R0", "R1", "R2"}) AddListRow(list, row);
  Widget* back = AddButton(50, 600, 200, 40, "BACK", "back");
  int32_t level = 3, ticked = 0;
  BindWidget(volume, &level);
  BindWidget(check, &ticked);

  next();
  EXPECT_EQ(gui.focus, nullptr) << "no pad, no focus";
  EXPECT_TRUE(plainQuads().empty());
  pad(rt::kPadDown);
  EXPECT_EQ(gui.focus, first) << "the first press shows the focus on the first live widget";
  ASSERT_EQ(plainQuads().size(), 4u);
  EXPECT_EQ(plainQuads()[0], std::make_pair(46.0f, 196.0f)) << "framed around the widget";
  pad(rt::kPadDown);
  EXPECT_EQ(gui.focus, second);
  pad(rt::kPadRight);
  EXPECT_EQ(gui.focus, check) << "the nearest to the right, not the nearest straight across";
  pad(rt::kPadSouth);
  EXPECT_EQ(ticked, 1);
  EXPECT_EQ(gui.action, "checked");

  pad(rt::kPadUp);
  ASSERT_EQ(gui.focus, volume);
  pad(rt::kPadRight);
  EXPECT_EQ(level, 8) << "a twentieth of the range per press";
  pad(rt::kPadLeft);
  pad(rt::kPadLeft);
  EXPECT_EQ(level, 0);
  EXPECT_EQ(gui.focus, volume) << "left and right change the value, the focus stays";

  pad(rt::kPadDown);
  pad(rt::kPadDown);
  ASSERT_EQ(gui.focus, list);
  pad(rt::kPadDown);
  EXPECT_EQ(list->selectedRow, 0) << "down walks into the rows";
  EXPECT_EQ(gui.action, "pick");
  pad(rt::kPadDown);
  pad(rt::kPadDown);
  EXPECT_EQ(list->selectedRow, 2);
  pad(rt::kPadDown);
  EXPECT_EQ(gui.focus, back) << "past the last row the focus leaves the list";
  pad(rt::kPadDown);
  EXPECT_EQ(gui.focus, first) << "and round again from the top";
  pad(rt::kPadUp);
  pad(rt::kPadSouth);
  EXPECT_EQ(gui.action, "back");

  RemoveWidget(back);
  EXPECT_EQ(gui.focus, nullptr) << "a removed widget takes the focus with it";
}

TEST_F(WidgetsTest, APluggedPadShowsTheFocusWhichKeepsItsPlaceWhenThePageIsBuiltAgain) {
  auto build = [](std::string* colour, int32_t* count) {
    AddButton(50, 200, 200, 40, "A", "a");
    Widget* combo = AddComboBox(550, 230, 200, 40, "colour");
    for (const char* row : {"RED", "GREEN", "BLUE"}) AddListRow(combo, row);
    BindWidget(combo, colour, 10);
    BindWidget(AddNumberWidget(550, 330, 100, 40, 0, 90, 30, ""), count);
    return combo;
  };
  std::string colour = "RED";
  int32_t count = 60;
  build(&colour, &count);
  rt::setPadConnected("TEST PAD");
  next();
  ASSERT_NE(gui.focus, nullptr);
  EXPECT_EQ(gui.focus->text, "A");
  pad(rt::kPadRight);
  pad(rt::kPadRight);
  EXPECT_EQ(colour, "GREEN");
  EXPECT_EQ(gui.action, "colour");
  pad(rt::kPadDown);
  pad(rt::kPadRight);
  pad(rt::kPadRight);
  EXPECT_EQ(count, 90) << "a numeric field steps and stays in its range";
  pad(rt::kPadUp);

  ClearWidgets();
  Widget* combo = build(&colour, &count);
  next();
  EXPECT_EQ(gui.focus, combo) << "the same widget in the same place has the focus again";

  // A question takes the pad: its last answer first, then the one beside it.
  AddMessageBox("SURE?", "yes\tno");
  pad(rt::kPadDown);
  EXPECT_EQ(colour, "GREEN") << "the page under the question stays as it was";
  pad(rt::kPadSouth);
  EXPECT_EQ(gui.action, "no");
  EXPECT_EQ(gui.modal, nullptr);
  AddMessageBox("SURE?", "yes\tno");
  pad(rt::kPadLeft);
  pad(rt::kPadSouth);
  EXPECT_EQ(gui.action, "yes");

  rt::setPadConnected("");
  next();
  EXPECT_EQ(gui.focus, nullptr) << "pulling the pad out hides the focus";
}

}  // namespace
