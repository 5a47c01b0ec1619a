// The menu pages built by their keys on the null screen with the built data: what each page puts
// up, how the pages answer the player, and whether every text fits its widget in both languages.
#include "ui/menu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "data/archive.h"
#include "data/config.h"
#include "data/language.h"
#include "data/resources.h"
#include "net/server_search.h"
#include "net/session.h"
#include "render/typeface.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/screen.h"
#include "support/test_support.h"
#include "ui/screenshot.h"
#include "ui/widgets.h"

namespace {

constexpr int kKeyEscape = 1, kKeyF12 = 88;

const char* const kPages[] = {"Main Menu", "Credits", "Options", "Audio", "Control", "Game",
                              "Profil", "Multiplayer", "Direct Connection", "Create Server",
                              "Local Connection", "Internet Connection"};

class ScreensTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The server-list pages search as soon as they open.
    if (!test::enterPrivateNetwork()) GTEST_SKIP() << "no network namespace of our own";
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::Handle window = rt::openWindow(0, 0, 0, 1024, 768, "Test", rt::kWindowHidden);
    ASSERT_TRUE(window && rt::openWindowedScreen(window, 0, 0, 1024, 768));
    rt::setDataRoot(test::binaryDir());
    SetConfigFolder(dir.path() + "/");
    config = Config{};
    // The server lobby hosts on ports of the system's choosing.
    config.icpPort = config.tcpPort = config.udpPort = 0;
    config.serverListUrl = "127.0.0.1:1/ServerList";
    ASSERT_TRUE(LoadLanguage(LanguagePath("English")));
    FillKeyNames();
    rt::Handle fonts = OpenArchive(0, "Data\\Fonts.qzd", kArchivePassword);
    ASSERT_NE(fonts, 0u);
    for (auto [number, entry] : {std::pair{kFontNormal, "Normal.tf"}, {kFontLight, "Light.tf"},
                                 {kFontBig, "Big.tf"}}) {
      EXPECT_NE(LoadTypeface(fonts, number, entry), 0u) << entry;
    }
    CloseArchive(fonts);
    rt::frame = rt::Frame{};
    rt::frame.now = 10000;
    rt::releaseAllInput();
    ClearWidgets();
    gui.action.clear();
    mouse = MouseState{};
    menu.currentMenu = "Main Menu";
  }
  void TearDown() override {
    if (IsSkipped()) return;
    endServerSearches();
    leaveSession();
    ClearWidgets();
    rt::frame.events.clear();
    for (int32_t font : {kFontNormal, kFontLight, kFontBig}) FreeTypeface(font);
    rt::shutdownScreenSystem();
    rt::setDataRoot("");
  }

  // One pass of the menus as the main loop runs it, the screenshot key included.
  MenuResult step(std::vector<rt::WindowEvent> events = {}) {
    rt::frame.now += 20;
    rt::frame.events = std::move(events);
    rt::examineKeyboard();
    MenuResult result = MenuFrame(0, "Powderbox");
    CheckScreenshotKey();
    return result;
  }
  void open(const std::string& key) {
    gui.action = key;
    step();
  }
  void click(int x, int y) {
    rt::setMouseState(x, y, false, false);
    step({{rt::kEventLeftDown, 0, x, y}});
    step({{rt::kEventLeftUp, 0, x, y}});
  }
  MenuResult key(int code) { return step({{rt::kEventKeyDown, code}}); }

  static std::vector<Widget*> all(WidgetKind kind) {
    std::vector<Widget*> found;
    for (Widget& w : gui.widgets) {
      if (w.kind == kind) found.push_back(&w);
    }
    return found;
  }
  static const Widget* withText(const std::string& text) {
    for (const Widget& w : gui.widgets) {
      if (w.text == text) return &w;
    }
    return nullptr;
  }

  test::TempDir dir;
};

TEST_F(ScreensTest, EveryPageKeyBuildsItsPage) {
  for (const char* page : kPages) {
    open(page);
    EXPECT_EQ(menu.currentMenu, page);
    EXPECT_EQ(all(WidgetKind::kTitle).size(), 1u) << page;
  }

  open("Main Menu");
  std::vector<Widget*> buttons = all(WidgetKind::kButton);
  ASSERT_EQ(buttons.size(), 5u);
  for (const Widget* b : buttons) EXPECT_TRUE(b->x == 50 && b->width == 200) << b->text;
  EXPECT_EQ(buttons[0]->text, Lang("Singleplayer"));
  EXPECT_TRUE(buttons[0]->disabled);
  EXPECT_EQ(buttons[4]->action, "Quit ?");

  open("Audio");
  std::vector<Widget*> bars = all(WidgetKind::kTrackBar);
  ASSERT_EQ(bars.size(), 4u);
  const int32_t* volumes[] = {&config.volume, &config.music, &config.effects, &config.navigation};
  for (size_t i = 0; i < bars.size(); ++i) {
    EXPECT_TRUE(bars[i]->x == 550 && bars[i]->boundAddress == volumes[i]) << i;
  }
  EXPECT_EQ(all(WidgetKind::kCheckBox).at(0)->boundAddress, &config.pan);

  open("Control");
  std::vector<Widget*> keys = all(WidgetKind::kKeyWidget);
  ASSERT_EQ(keys.size(), 7u);
  EXPECT_EQ(keys[0]->boundAddress, &config.controlUp);
  EXPECT_EQ(keys[6]->boundAddress, &config.controlScore);
  for (const Widget* k : keys) EXPECT_FALSE(k->text.empty()) << "no name for " << k->keyCode;

  open("Game");
  std::vector<Widget*> combos = all(WidgetKind::kComboBox);
  ASSERT_EQ(combos.size(), 1u);
  std::vector<std::string> rows;
  for (const auto& row : combos[0]->rows) rows.push_back(row.at(0));
  EXPECT_EQ(rows, LanguageNames());
  EXPECT_EQ(GetWidgetText(combos[0]), "English");
  std::vector<Widget*> fields = all(WidgetKind::kString);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0]->boundAddress, &config.deadBodyTime);
  EXPECT_TRUE(fields[0]->mode & kNumericField);
  EXPECT_TRUE(fields[0]->minimum == 0 && fields[0]->maximum == 900 && fields[0]->step == 30);
  EXPECT_EQ(fields[0]->text, "600");

  open("Profil");
  EXPECT_EQ(all(WidgetKind::kString).at(0)->boundAddress, &config.playerName);

  open("Direct Connection");
  EXPECT_EQ(all(WidgetKind::kString).at(0)->boundAddress, &config.ip);
  EXPECT_EQ(all(WidgetKind::kString)[0]->action, "Client Lobby");

  open("Create Server");
  ASSERT_NE(withText(Lang("Create")), nullptr);
  EXPECT_EQ(withText(Lang("Create"))->action, "Server Lobby");

  for (const char* page : {"Local Connection", "Internet Connection"}) {
    open(page);
    std::vector<Widget*> lists = all(WidgetKind::kList);
    ASSERT_EQ(lists.size(), 1u);
    const Widget& list = *lists[0];
    EXPECT_TRUE(list.x == 50 && list.y == 200 && list.width == 924 && list.height == 300);
    ASSERT_EQ(list.columns.size(), 8u);
    EXPECT_EQ(list.columns[0].title, Lang("Name"));
    // The map's fingerprint and the address ride along unseen.
    EXPECT_EQ(list.columns[5].width, 0);
    EXPECT_EQ(list.columns[7].width, 0);
  }
}

TEST_F(ScreensTest, TheServerLobbyOpensOnPortsOfItsOwn) {
  open("Server Lobby");
  if (menu.currentMenu != "Server Lobby") GTEST_SKIP() << "no ports to host on";
  std::vector<Widget*> lists = all(WidgetKind::kList);
  ASSERT_GE(lists.size(), 3u);  // maps, players, chat
  EXPECT_FALSE(lists[0]->rows.empty()) << "the built maps are listed";
  std::vector<Widget*> fields = all(WidgetKind::kString);
  ASSERT_GE(fields.size(), 2u);
  EXPECT_EQ(fields[0]->boundAddress, &config.rounds);
  EXPECT_EQ(fields[1]->boundAddress, &config.roundTime);
  ASSERT_NE(withText(Lang("Back")), nullptr);
  EXPECT_EQ(withText(Lang("Back"))->action, "Close Server?");
}

TEST_F(ScreensTest, ADisabledButtonDoesNothingAndUpdateRebuildsTheList) {
  open("Main Menu");
  uint32_t entered = gui.pageEnteredAt;
  click(150, 220);
  EXPECT_EQ(menu.currentMenu, "Main Menu");
  EXPECT_EQ(gui.pageEnteredAt, entered) << "an action was handled";
  click(150, 270);
  EXPECT_EQ(menu.currentMenu, "Multiplayer");

  open("Local Connection");
  AddListRow(all(WidgetKind::kList).at(0), "Somebody's\tPlains\t2/8");
  entered = gui.pageEnteredAt;
  click(650, 570);
  EXPECT_EQ(menu.currentMenu, "Local Connection");
  EXPECT_NE(gui.pageEnteredAt, entered);
  ASSERT_EQ(all(WidgetKind::kList).size(), 1u);
  EXPECT_TRUE(all(WidgetKind::kList)[0]->rows.empty()) << "the page was not built anew";
}

// The page shows what its search found; a row whose map differs from ours is never joined.
TEST_F(ScreensTest, TheServerListFollowsItsSearchAndAForeignMapCannotBeJoined) {
  open("Local Connection");
  {
    std::lock_guard lock(lobbyLock());
    searchResults.rows.push_back("Far\tNightfall\t1/8\t3\t180\t1\t4ms\t127.0.0.9");
    searchResults.status = "Somewhere";
  }
  step();
  Widget* list = all(WidgetKind::kList).at(0);
  ASSERT_EQ(list->rows.size(), 1u);
  EXPECT_EQ(list->rows[0][6], "4ms");
  ASSERT_NE(withText("Somewhere"), nullptr);
  list->selectedRow = 0;
  click(150, 570);
  ASSERT_EQ(all(WidgetKind::kMessageBox).size(), 1u);
  EXPECT_EQ(all(WidgetKind::kMessageBox)[0]->action, "Local Connection");
  EXPECT_FALSE(session.isConnected);
}

TEST_F(ScreensTest, ChoosingALanguageRebuildsTheGamePageInIt) {
  open("Game");
  click(600, 250);
  const Widget* combo = all(WidgetKind::kComboBox).at(0);
  ASSERT_TRUE(combo->open);
  int row = 0;
  while (row < static_cast<int>(combo->rows.size()) && combo->rows[row][0] != "Deutsch") ++row;
  ASSERT_LT(row, static_cast<int>(combo->rows.size()));
  int line = static_cast<int>(TextHeight(kFontNormal, "|", 1.0f));
  click(600, 230 + 40 + 4 + row * line + line / 2);
  EXPECT_EQ(config.language, "Deutsch");
  EXPECT_EQ(menu.currentMenu, "Game");
  EXPECT_NE(withText("Sprache:"), nullptr);
  EXPECT_EQ(GetWidgetText(all(WidgetKind::kComboBox).at(0)), "Deutsch");
  key(kKeyEscape);
  EXPECT_EQ(menu.currentMenu, "Main Menu");
  EXPECT_NE(withText("Mehrspieler"), nullptr);
}

TEST_F(ScreensTest, EscapePressesBackOrAnswersTheQuestionWithItsLastButton) {
  const std::pair<const char*, const char*> backs[] = {{"Credits", "Main Menu"},
                                                       {"Audio", "Main Menu"},
                                                       {"Create Server", "Main Menu"},
                                                       {"Internet Connection", "Multiplayer"}};
  for (auto [page, back] : backs) {
    open(page);
    key(kKeyEscape);
    EXPECT_EQ(menu.currentMenu, back) << page;
  }
  open("Main Menu");
  uint32_t entered = gui.pageEnteredAt;
  key(kKeyEscape);
  EXPECT_EQ(gui.pageEnteredAt, entered) << "the main menu has no way back";

  click(150, 620);
  ASSERT_NE(gui.modal, nullptr);
  EXPECT_EQ(key(kKeyEscape), MenuResult::kStay);
  EXPECT_EQ(gui.modal, nullptr);
  EXPECT_TRUE(all(WidgetKind::kMessageBox).empty());
  EXPECT_EQ(menu.currentMenu, "Main Menu");
  EXPECT_EQ(all(WidgetKind::kButton).size(), 5u);
}

TEST_F(ScreensTest, TheControlPageNamesThePadAsItComesAndGoesAndEastGoesBack) {
  open("Control");
  EXPECT_NE(withText("none connected"), nullptr);
  rt::setPadConnected("Test Pad");
  step();
  EXPECT_NE(withText("Test Pad"), nullptr) << "plugged in while the page is up";
  step({{rt::kEventPadDown, rt::kPadEast}});
  EXPECT_EQ(menu.currentMenu, "Main Menu");
  rt::setPadConnected("");
}

TEST_F(ScreensTest, F12LeavesThePageAsItWas) {
  open("Control");
  auto snapshot = [] {
    std::string page = menu.currentMenu;
    for (const Widget& w : gui.widgets) page += "|" + w.text + std::to_string(w.state);
    return page;
  };
  std::string before = snapshot();
  rt::setKeyState(kKeyF12, true);
  step();
  rt::setKeyState(kKeyF12, false);
  step();
  EXPECT_EQ(snapshot(), before);
  EXPECT_EQ(config.controlUp, Config{}.controlUp);
  // The key was seen (the folder is made for the picture), but the null screen cannot be read
  // back, so no picture may be left behind.
  std::string shots = dir.file("ScreenShots");
  ASSERT_TRUE(std::filesystem::is_directory(shots));
  EXPECT_TRUE(std::filesystem::is_empty(shots));
}

// Every label, title, button and column head measured in the typeface it is drawn with.
TEST_F(ScreensTest, EveryTextFitsItsWidgetInEveryLanguage) {
  struct Tightest {
    std::string what;
    float spare = 1e9f;
  };
  std::vector<std::string> pages(std::begin(kPages), std::end(kPages));
  pages.push_back("Server Lobby");
  for (const char* language : {"English", "Deutsch"}) {
    ASSERT_TRUE(LoadLanguage(LanguagePath(language)));
    Tightest tightest[4];  // buttons, labels, column heads, titles
    auto fits = [&](int kind, const std::string& what, float width, float room) {
      EXPECT_LE(width, room) << language << " " << what;
      if (room - width < tightest[kind].spare) tightest[kind] = {what, room - width};
    };
    for (const std::string& page : pages) {
      open(page);
      step();  // bound texts show their values
      if (menu.currentMenu != page) continue;  // no ports for the lobby
      for (const Widget& w : gui.widgets) {
        std::string what = page + ": \"" + w.text + "\"";
        float scale = w.kind == WidgetKind::kKeyWidget && w.text.size() >= 7 ? 0.75f : 1.0f;
        if (w.kind == WidgetKind::kButton || w.kind == WidgetKind::kKeyWidget) {
          fits(0, what, TextWidth(kFontNormal, w.text, scale), w.width - 16);
        } else if (w.kind == WidgetKind::kText) {
          // Up to the screen's edge, its frame's and whatever stands next on its line.
          int right = 1024;
          for (const Widget& o : gui.widgets) {
            bool inside = o.x <= w.x && o.y <= w.y && w.x < o.x + o.width && w.y < o.y + o.height;
            bool level = o.y < w.y + w.height && w.y < o.y + o.height && o.x > w.x;
            if (o.kind == WidgetKind::kFrame && inside) right = std::min(right, o.x + o.width);
            if (o.kind != WidgetKind::kFrame && level) right = std::min(right, o.x);
          }
          fits(1, what, TextWidth(kFontNormal, w.text, 1.0f), right - w.x);
        } else if (w.kind == WidgetKind::kComboBox) {
          for (const auto& row : w.rows) {
            fits(1, page + ": " + row[0], TextWidth(kFontNormal, row[0], 1.0f), w.width - 36);
          }
        } else if (w.kind == WidgetKind::kList) {
          int used = 4;
          for (const ListColumn& c : w.columns) {
            used += c.width;
            if (c.title.empty()) continue;
            fits(2, page + ": " + c.title, TextWidth(kFontNormal, c.title, 0.75f), c.width - 8);
          }
          EXPECT_LE(used, w.width - 28) << page << ": the heads run under the scroll arrows";
        } else if (w.kind == WidgetKind::kTitle) {
          // The big typeface closes up to one pixel apart once the title has swung in.
          fits(3, what, TextWidth(kFontBig, w.text, 1.0f) + w.text.size(), 1024 - w.x);
        }
      }
    }
    // Message boxes grow with their lines, up to the screen; their buttons are 160 wide.
    for (const char* question :
         {"Quit Question", "Cant Join", "No Connection", "Cancel Question", "Game Canceled"}) {
      fits(1, question, TextWidth(kFontNormal, Lang(question), 1.0f) + 80, 1024);
    }
    for (const char* answer : {"OK", "Yes", "No"}) {
      fits(0, answer, TextWidth(kFontNormal, Lang(answer), 1.0f), 160 - 16);
    }
    for (const Tightest& t : tightest) {
      std::printf("%s, tightest: %s, %.0f px to spare\n", language, t.what.c_str(), t.spare);
    }
    leaveSession();
  }
}

}  // namespace
