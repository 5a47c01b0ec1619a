// Keyboard sampling and releases, the key-code table, the mouse, the gamepad (its state, and a
// virtual pad through SDL), and scripted input on the null backend with a clock the test turns by
// hand.
#include "runtime/input.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "runtime/input_local.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

// Leaves no key, button, wheel or was-down flag over from an earlier test.
void resetInput() {
  rt::releaseAllInput();
  rt::examineKeyboard();
  for (int key = 0; key < 256; ++key) rt::keyReleased(key);
  rt::keyReleased(rt::kAnyKey);
  while (rt::mouseWheel() != 0) {
  }
  rt::setMouseState(0, 0, false, false);
  rt::setPadConnected("");
  rt::examineKeyboard();
  for (int button = 0; button < rt::kPadButtonCount; ++button) rt::padReleased(button);
}

// The pad's events waiting in the window queue, as (code, button) pairs.
std::vector<std::pair<int, int>> padEvents() {
  std::vector<std::pair<int, int>> events;
  rt::WindowEvent e;
  while (rt::windowEvent(&e) != rt::kEventNone) {
    if (e.code == rt::kEventPadDown || e.code == rt::kEventPadUp) {
      events.emplace_back(e.code, e.param);
    }
  }
  return events;
}

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override { resetInput(); }
};

TEST_F(KeyboardTest, ReleaseIsReportedOnceInTheFirstQueryAfterIt) {
  EXPECT_FALSE(rt::keyReleased(57));
  rt::setKeyState(57, true);
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyReleased(57)) << "down: remembered, not released";
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyReleased(57));
  rt::setKeyState(57, false);
  EXPECT_FALSE(rt::keyReleased(57)) << "the sample still says down";
  rt::examineKeyboard();
  EXPECT_TRUE(rt::keyReleased(57));
  EXPECT_FALSE(rt::keyReleased(57));
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyReleased(57));
}

TEST_F(KeyboardTest, ReleaseNeedsTheKeySeenDownByAQuery) {
  rt::setKeyState(30, true);
  rt::examineKeyboard();
  rt::setKeyState(30, false);
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyReleased(30));
}

TEST_F(KeyboardTest, AnyKeyReleaseIsOnceAndLeavesSingleKeysAlone) {
  rt::setKeyState(44, true);
  rt::setKeyState(45, true);
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyReleased(rt::kAnyKey));
  EXPECT_FALSE(rt::keyReleased(44));
  rt::setKeyState(44, false);
  rt::examineKeyboard();
  EXPECT_TRUE(rt::keyReleased(rt::kAnyKey)) << "one of the held keys went up";
  EXPECT_FALSE(rt::keyReleased(rt::kAnyKey));
  EXPECT_TRUE(rt::keyReleased(44)) << "asking about any key did not use up this release";
  rt::setKeyState(45, false);
  rt::examineKeyboard();
  EXPECT_TRUE(rt::keyReleased(rt::kAnyKey));
  EXPECT_FALSE(rt::keyReleased(rt::kAnyKey));
}

TEST_F(KeyboardTest, KeyPushedFollowsTheSampleNotTheLiveState) {
  rt::setKeyState(200, true);
  EXPECT_FALSE(rt::keyPushed(200));
  EXPECT_FALSE(rt::keyPushed(rt::kAnyKey));
  rt::examineKeyboard();
  EXPECT_TRUE(rt::keyPushed(200));
  EXPECT_TRUE(rt::keyPushed(rt::kAnyKey));
  rt::setKeyState(200, false);
  EXPECT_TRUE(rt::keyPushed(200));
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyPushed(200));
}

TEST_F(KeyboardTest, OutOfRangeKeysAreIgnored) {
  rt::setKeyState(256, true);
  rt::setKeyState(-5, true);
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyPushed(256));
  EXPECT_FALSE(rt::keyPushed(-5));
  EXPECT_FALSE(rt::keyReleased(1000));
  EXPECT_FALSE(rt::keyPushed(rt::kAnyKey));
}

TEST_F(KeyboardTest, ReleaseAllClearsKeysAndButtons) {
  rt::setKeyState(29, true);
  rt::setMouseState(10, 20, true, true);
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyReleased(29));
  rt::releaseAllInput();
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyPushed(29));
  EXPECT_TRUE(rt::keyReleased(29));
  EXPECT_FALSE(rt::mouseLeft());
  EXPECT_FALSE(rt::mouseRight());
  EXPECT_EQ(rt::mouseX(), 10);
}

TEST_F(KeyboardTest, WheelCountsWholeNotchesAndKeepsTheRest) {
  rt::addMouseWheel(120);
  rt::addMouseWheel(240);
  EXPECT_EQ(rt::mouseWheel(), 3);
  EXPECT_EQ(rt::mouseWheel(), 0);
  rt::addMouseWheel(-360);
  EXPECT_EQ(rt::mouseWheel(), -3);
  rt::addMouseWheel(60);
  EXPECT_EQ(rt::mouseWheel(), 0);
  rt::addMouseWheel(60);
  EXPECT_EQ(rt::mouseWheel(), 1) << "two half notches make one";
}

// ---- Gamepad -------------------------------------------------------------------------------

using PadEvents = std::vector<std::pair<int, int>>;
constexpr int kDown = rt::kEventPadDown, kUp = rt::kEventPadUp;

TEST_F(KeyboardTest, TheStickIsTheDPadWithAMarginBeforeItLetsGo) {
  padEvents();
  rt::setPadConnected("Pad");
  rt::setPadStick(rt::kPadStickX, rt::kPadPress);
  EXPECT_TRUE(padEvents().empty()) << "on the edge is not past it";
  rt::setPadStick(rt::kPadStickX, rt::kPadPress + 1);
  rt::setPadStick(rt::kPadStickY, -32768);
  EXPECT_EQ(padEvents(), (PadEvents{{kDown, rt::kPadRight}, {kDown, rt::kPadUp}}));
  rt::examineKeyboard();
  EXPECT_TRUE(rt::padPushed(rt::kPadRight));
  EXPECT_TRUE(rt::padPushed(rt::kPadUp));
  EXPECT_FALSE(rt::padReleased(rt::kPadRight));

  rt::setPadStick(rt::kPadStickX, rt::kPadLetGo + 1);
  EXPECT_TRUE(padEvents().empty()) << "a stick easing back a little still holds";
  rt::setPadButton(rt::kPadRight, true);
  rt::setPadStick(rt::kPadStickX, 0);
  EXPECT_TRUE(padEvents().empty()) << "the D-pad holds the same direction";
  rt::setPadButton(rt::kPadRight, false);
  rt::setPadStick(rt::kPadStickY, -rt::kPadLetGo);
  EXPECT_EQ(padEvents(), (PadEvents{{kUp, rt::kPadRight}, {kUp, rt::kPadUp}}));
  rt::examineKeyboard();
  EXPECT_TRUE(rt::padReleased(rt::kPadRight));
  EXPECT_FALSE(rt::padReleased(rt::kPadRight)) << "once";
  EXPECT_FALSE(rt::padReleased(rt::kPadDown)) << "never seen down";
  EXPECT_FALSE(rt::padPushed(-1));
  EXPECT_FALSE(rt::padPushed(rt::kPadButtonCount));
  rt::setPadButton(99, true);
  rt::setPadStick(7, 30000);
  EXPECT_TRUE(padEvents().empty());
}

TEST_F(KeyboardTest, UnpluggingOrLosingFocusLetsGoOfThePad) {
  padEvents();
  rt::setPadConnected("Pad One");
  EXPECT_EQ(rt::padName(), "Pad One");
  rt::setPadButton(rt::kPadSouth, true);
  rt::setPadStick(rt::kPadStickY, 32767);
  rt::releaseAllInput();
  EXPECT_EQ(padEvents(), (PadEvents{{kDown, rt::kPadSouth},
                                    {kDown, rt::kPadDown},
                                    {kUp, rt::kPadSouth},
                                    {kUp, rt::kPadDown}}));
  EXPECT_EQ(rt::padName(), "Pad One") << "a lost focus leaves the pad plugged in";
  rt::setPadButton(rt::kPadBack, true);
  rt::setPadConnected("");
  EXPECT_EQ(padEvents(), (PadEvents{{kDown, rt::kPadBack}, {kUp, rt::kPadBack}}));
  EXPECT_EQ(rt::padName(), "");
  rt::setPadConnected(std::string(500, 'x'));
  EXPECT_LE(rt::padName().size(), 64u) << "a name is cut to what a page can show";
}

// The real path: SDL's game controllers under the SDL screen, whose event pump hands them on; a
// virtual pad plugged in, pressed and pulled out.
TEST_F(KeyboardTest, AVirtualPadThroughTheSdlScreenIsPluggedPressedAndPulled) {
  if (!test::startXvfb()) GTEST_SKIP() << "no Xvfb";
  ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Sdl));
  SDL_VirtualJoystickDesc desc{};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = SDL_CONTROLLER_AXIS_MAX;
  desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  desc.name = "Virtual Test Pad";
  int device = SDL_JoystickAttachVirtualEx(&desc);
  ASSERT_GE(device, 0) << SDL_GetError();
  SDL_Joystick* stick = SDL_JoystickOpen(device);
  ASSERT_NE(stick, nullptr) << SDL_GetError();
  // SDL may hand over one update's axes and buttons in either order.
  auto sorted = [](PadEvents events) {
    std::sort(events.begin(), events.end());
    return events;
  };
  EXPECT_TRUE(padEvents().empty());
  EXPECT_EQ(rt::padName(), "Virtual Test Pad");
  SDL_JoystickSetVirtualButton(stick, SDL_CONTROLLER_BUTTON_A, 1);
  SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_LEFTX, -30000);
  EXPECT_EQ(sorted(padEvents()), sorted({{kDown, rt::kPadSouth}, {kDown, rt::kPadLeft}}));
  SDL_JoystickSetVirtualButton(stick, SDL_CONTROLLER_BUTTON_A, 0);
  SDL_JoystickSetVirtualButton(stick, SDL_CONTROLLER_BUTTON_BACK, 1);
  EXPECT_EQ(sorted(padEvents()), sorted({{kUp, rt::kPadSouth}, {kDown, rt::kPadBack}}));
  SDL_JoystickClose(stick);
  SDL_JoystickDetachVirtual(device);
  EXPECT_EQ(sorted(padEvents()), sorted({{kUp, rt::kPadBack}, {kUp, rt::kPadLeft}}));
  EXPECT_EQ(rt::padName(), "") << "pulled out";
  rt::shutdownScreenSystem();
}

// ---- Key codes -----------------------------------------------------------------------------

TEST(KeyCodes, TableMapsBothWaysForEveryCode) {
  std::set<int> scancodes;
  int mapped = 0;
  for (int key = 0; key < 256; ++key) {
    int scancode = rt::scancodeFromKeyCode(key);
    if (scancode == 0) continue;
    ++mapped;
    EXPECT_TRUE(scancodes.insert(scancode).second) << "scancode used twice: " << scancode;
    EXPECT_EQ(rt::keyCodeFromScancode(scancode), key) << "key " << key;
  }
  for (int scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
    int key = rt::keyCodeFromScancode(scancode);
    if (key == 0) continue;
    EXPECT_EQ(rt::scancodeFromKeyCode(key), scancode) << "scancode " << scancode;
  }
  EXPECT_GE(mapped, 130) << "the table lost entries";
  EXPECT_EQ(rt::keyCodeFromScancode(-1), 0);
  EXPECT_EQ(rt::keyCodeFromScancode(SDL_NUM_SCANCODES), 0);
  EXPECT_EQ(rt::scancodeFromKeyCode(-1), 0);
  EXPECT_EQ(rt::scancodeFromKeyCode(256), 0);
}

TEST(KeyCodes, GameDefaultsAndSampleKeys) {
  const std::pair<int, SDL_Scancode> expected[] = {
      {200, SDL_SCANCODE_UP},       {203, SDL_SCANCODE_LEFT},
      {205, SDL_SCANCODE_RIGHT},    {208, SDL_SCANCODE_DOWN},
      {44, SDL_SCANCODE_Z},         {45, SDL_SCANCODE_X},
      {15, SDL_SCANCODE_TAB},       {88, SDL_SCANCODE_F12},
      {1, SDL_SCANCODE_ESCAPE},     {28, SDL_SCANCODE_RETURN},
      {57, SDL_SCANCODE_SPACE},     {156, SDL_SCANCODE_KP_ENTER},
      {157, SDL_SCANCODE_RCTRL},    {184, SDL_SCANCODE_RALT},
      {183, SDL_SCANCODE_PRINTSCREEN}, {197, SDL_SCANCODE_PAUSE},
      {69, SDL_SCANCODE_NUMLOCKCLEAR}, {86, SDL_SCANCODE_NONUSBACKSLASH},
      {211, SDL_SCANCODE_DELETE},   {221, SDL_SCANCODE_APPLICATION},
      {102, SDL_SCANCODE_F15},
  };
  for (auto [key, scancode] : expected) {
    EXPECT_EQ(rt::scancodeFromKeyCode(key), scancode) << "key " << key;
    EXPECT_EQ(rt::keyCodeFromScancode(scancode), key) << "key " << key;
  }
}

TEST(KeyCodes, NamesWithoutVideo) {
  EXPECT_EQ(rt::keyName(44), "Z");
  EXPECT_EQ(rt::keyName(1), "Escape");
  EXPECT_EQ(rt::keyName(200), "Up");
  EXPECT_EQ(rt::keyName(0), "");
  EXPECT_EQ(rt::keyName(84), "") << "no key has this code";
  EXPECT_EQ(rt::keyName(227), "") << "wake has no SDL counterpart";
  EXPECT_EQ(rt::keyName(-1), "");
  EXPECT_EQ(rt::keyName(256), "");
}

TEST(KeyCodes, NamesFromTheKeyboardLayoutWithVideo) {
  if (!test::startXvfb()) GTEST_SKIP() << "no Xvfb";
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  EXPECT_EQ(rt::keyName(44), "Z");  // the test display has a US layout
  EXPECT_EQ(rt::keyName(28), "Return");
  EXPECT_EQ(rt::keyName(227), "");
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// ---- Scripted input ------------------------------------------------------------------------

uint32_t fakeNow = 0;
uint32_t fakeClock() { return fakeNow; }

class InputScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    resetInput();
    fakeNow = 1000;
    rt::setInputScriptClock(fakeClock);
    test::writeFile(dir.file("empty.txt"), "");
  }
  void TearDown() override {
    rt::setInputScriptClock(nullptr);
    rt::loadInputScript(dir.file("empty.txt"));
    rt::shutdownScreenSystem();
  }

  bool load(const std::string& text, std::string* error = nullptr) {
    test::writeFile(dir.file("script.txt"), text);
    return rt::loadInputScript(dir.file("script.txt"), error);
  }

  std::string loadError(const std::string& text) {
    std::string error;
    EXPECT_FALSE(load(text, &error)) << text;
    return error;
  }

  // Every queued event, with the script pumped at the given time first.
  std::vector<rt::WindowEvent> eventsAt(uint32_t elapsed) {
    fakeNow = 1000 + elapsed;
    rt::pumpInputScript();
    std::vector<rt::WindowEvent> events;
    rt::WindowEvent e;
    while (rt::windowEvent(&e) != rt::kEventNone) events.push_back(e);
    return events;
  }

  test::TempDir dir;
};

TEST_F(InputScriptTest, ParsingErrorsNameTheLine) {
  std::string error = loadError("# a comment\n\n100 key down 30\n200 jump around\n");
  EXPECT_NE(error.find("line 4"), std::string::npos) << error;
  EXPECT_NE(error.find("jump"), std::string::npos) << error;

  const char* broken[] = {
      "abc key down 1",       "-5 close",           "100",
      "100 key down 0",       "100 key down 256",   "100 key down x",
      "100 key press 30",     "100 key down",       "100 key down 30 31",
      "100 mouse move 5",     "100 mouse move a b", "100 mouse down middle",
      "100 mouse wiggle left", "100 wheel",         "100 wheel 1.5",
      "100 close now",        "100 text",           "99999999999 close",
      "100 pad",              "100 pad down x",     "100 pad tap",
      "100 pad axis leftx",   "100 pad axis rightx 5", "100 pad axis lefty 40000",
      "100 pad connect",      "100 pad disconnect now", "100 pad wave a",
  };
  for (const char* line : broken) {
    error = loadError(std::string("0 close\r\n") + line + "\r\n");
    EXPECT_NE(error.find("line 2"), std::string::npos) << line << ": " << error;
  }
  EXPECT_FALSE(rt::loadInputScript(dir.file("no-such-file.txt"), &error));
  EXPECT_NE(error.find("no-such-file.txt"), std::string::npos) << error;
}

TEST_F(InputScriptTest, FailedLoadKeepsThePreviousScript) {
  ASSERT_TRUE(load("0 key down 2\n"));
  EXPECT_FALSE(load("0 key down 3\nnonsense\n"));
  rt::startInputScript();
  std::vector<rt::WindowEvent> events = eventsAt(0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].param, 2);
}

TEST_F(InputScriptTest, KeysAndTextArriveWhenDue) {
  ASSERT_TRUE(load("  # lines may come in any order\n"
                   "300 key down 14\n"
                   "100 key tap 30\n"
                   "200 text h\xC3\xA9 x\n"));
  EXPECT_FALSE(rt::inputScriptFinished());
  rt::startInputScript();
  EXPECT_TRUE(eventsAt(99).empty());

  std::vector<rt::WindowEvent> events = eventsAt(100);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, rt::kEventKeyDown);
  EXPECT_EQ(events[0].param, 30);
  rt::examineKeyboard();
  EXPECT_TRUE(rt::keyPushed(30));

  EXPECT_TRUE(eventsAt(159).empty()) << "a tap is held for 60 ms";
  events = eventsAt(160);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, rt::kEventKeyUp);
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyPushed(30));

  events = eventsAt(250);
  ASSERT_EQ(events.size(), 4u);
  const int typed[] = {'h', 0xE9, ' ', 'x'};  // UTF-8 in the file, Windows-1252 in the events
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(events[i].code, rt::kEventChar);
    EXPECT_EQ(events[i].param, typed[i]);
  }

  EXPECT_FALSE(rt::inputScriptFinished());
  events = eventsAt(5000);
  ASSERT_EQ(events.size(), 2u) << "Backspace also types its character";
  EXPECT_EQ(events[0].code, rt::kEventKeyDown);
  EXPECT_EQ(events[1].code, rt::kEventChar);
  EXPECT_EQ(events[1].param, 8);
  EXPECT_TRUE(rt::inputScriptFinished());
}

TEST_F(InputScriptTest, MouseWheelAndClose) {
  ASSERT_TRUE(load("0 mouse move 300 200\n"
                   "10 mouse click left\n"
                   "20 mouse down right\n"
                   "30 wheel -2\n"
                   "40 mouse up right\n"
                   "50 close\n"));
  rt::startInputScript();
  std::vector<rt::WindowEvent> events = eventsAt(0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, rt::kEventMouseMove);
  EXPECT_EQ(events[0].x, 300);
  EXPECT_EQ(events[0].y, 200);
  EXPECT_EQ(rt::mouseX(), 300);

  events = eventsAt(30);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].code, rt::kEventLeftDown);
  EXPECT_EQ(events[0].x, 300);
  EXPECT_EQ(events[1].code, rt::kEventRightDown);
  EXPECT_EQ(events[2].code, rt::kEventWheel);
  EXPECT_EQ(events[2].param, -240);
  EXPECT_TRUE(rt::mouseLeft());
  EXPECT_TRUE(rt::mouseRight());
  EXPECT_EQ(rt::mouseWheel(), -2);

  events = eventsAt(70);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].code, rt::kEventRightUp);
  EXPECT_EQ(events[1].code, rt::kEventClose);
  EXPECT_EQ(events[2].code, rt::kEventLeftUp) << "the click lets go 60 ms after it pressed";
  EXPECT_FALSE(rt::mouseLeft());
  EXPECT_FALSE(rt::mouseRight());
  EXPECT_TRUE(rt::inputScriptFinished());
}

TEST_F(InputScriptTest, PadLinesPlugPressAndPullAPad) {
  ASSERT_TRUE(load("0 pad connect Test  Pad \xC3\xA9\n"
                   "10 pad tap a\n"
                   "20 pad axis lefty 20000\n"
                   "30 pad down back\n"
                   "40 pad disconnect\n"));
  rt::startInputScript();
  eventsAt(0);
  EXPECT_EQ(rt::padName(), "Test  Pad \xE9") << "blanks kept, Windows-1252 inside";
  std::vector<rt::WindowEvent> events = eventsAt(30);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].code, rt::kEventPadDown);
  EXPECT_EQ(events[0].param, rt::kPadSouth);
  EXPECT_EQ(events[1].param, rt::kPadDown);
  EXPECT_EQ(events[2].param, rt::kPadBack);
  rt::examineKeyboard();
  EXPECT_TRUE(rt::padPushed(rt::kPadBack));
  events = eventsAt(70);
  ASSERT_EQ(events.size(), 3u) << "unplugging lets go of all three, the tap's own end included";
  for (const rt::WindowEvent& e : events) EXPECT_EQ(e.code, rt::kEventPadUp);
  EXPECT_EQ(rt::padName(), "");
}

TEST_F(InputScriptTest, NothingHappensBeforeTheStart) {
  ASSERT_TRUE(load("0 close\n"));
  EXPECT_TRUE(eventsAt(1000).empty());
  rt::startInputScript();
  std::vector<rt::WindowEvent> events = eventsAt(1000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, rt::kEventClose);
}

}  // namespace
