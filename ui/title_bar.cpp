#include "ui/title_bar.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "data/language.h"
#include "data/resources.h"
#include "net/session.h"
#include "render/typeface.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "ui/menu.h"
#include "ui/widgets.h"
#include "ui/widgets_local.h"
#include "world/rounds.h"

namespace {

constexpr uint32_t kBarColour = 0x808080;
constexpr int kButtonWidth = 32;
constexpr int kIconSize = 28;
constexpr int kKeyEscape = 1, kKeyReturn = 28, kKeyPadEnter = 156;

// The match's one open question: quitting the game ("x") or leaving the match (Escape, Start).
std::optional<Widget> quitQuestion;

// A button of the bar: its label in the colour of its state; true when it was clicked.
bool barButton(int x, int width, std::string_view label, float scale, float rise = 0) {
  uint32_t colour = kWidgetNormal;
  bool clicked = WidgetClicked(x, 0, width, kTitleBarHeight, &colour);
  float left = x + (width - TextWidth(kFontNormal, label, scale)) / 2;
  float top = (kTitleBarHeight - TextHeight(kFontNormal, label, scale)) / 2 - rise;
  DrawText(kFontNormal, std::round(left), std::round(top), label, 255, colour, scale, 0);
  return clicked;
}

void drawBar(std::string_view title) {
  int width = rt::frame.width;
  if (rt::sprite3DExists(kSpriteTitle)) {
    TintSprite3D(kSpriteTitle, kBarColour);
    rt::sizeSprite3D(kSpriteTitle, static_cast<float>(width), kTitleBarHeight);
    rt::displaySprite3D(kSpriteTitle, 0, 0, 255);
  }
  if (rt::sprite3DExists(kSpriteBarrelSmall)) {
    float oldWidth = rt::sprite3DWidth(kSpriteBarrelSmall);
    float oldHeight = rt::sprite3DHeight(kSpriteBarrelSmall);
    rt::sizeSprite3D(kSpriteBarrelSmall, kIconSize, kIconSize);
    rt::displaySprite3D(kSpriteBarrelSmall, 8, 0, 255);
    rt::sizeSprite3D(kSpriteBarrelSmall, oldWidth, oldHeight);
  }
  DrawText(kFontNormal, 48, 4, title, 255, kBarColour, 0.75f, 0);
}

Widget makeQuestion(const char* textKey, const char* yes) {
  Widget question;
  question.kind = WidgetKind::kMessageBox;
  question.width = rt::frame.width;
  question.height = rt::frame.height;
  question.text = Lang(textKey);
  question.action = std::string(yes) + "\tNone";
  return question;
}

// Back to the menus on the multiplayer page: a session is left properly, and a match without
// one (a tried map) simply ends.
void leaveMatch() {
  rt::logLine("MENU", "back to the menus from the match");
  CloseQuitQuestion();
  leaveSession();
  if (world.match.running) endMatchWorld();
  menu.currentMenu = "Multiplayer";
}

}  // namespace

TitleBarChoice TitleBarFrame(uint32_t window, std::string_view title, bool inMatch) {
  drawBar(title);
  int width = rt::frame.width;
  // The underscore lies on the line's foot: raised, it reads as the minimise sign.
  if (barButton(width - 64, kButtonWidth, "_", 1.0f, 8)) rt::minimizeWindow(window);
  bool close = barButton(width - 32, kButtonWidth, "x", 1.3f);
  if (!inMatch) {
    // The page stays what it was: a lobby behind the question goes on following its session.
    if (close && !gui.modal) gui.action = "Quit ?";
    return TitleBarChoice::kNothing;
  }
  std::string back = Lang("Main Menu");
  int backWidth = static_cast<int>(std::lround(TextWidth(kFontNormal, back, 1.0f))) + 16;
  if (barButton(width - kTitleBarButtons, backWidth, back, 1.0f)) {
    leaveMatch();
    return TitleBarChoice::kNothing;
  }
  // Keyboard and pad players leave through a question too; the chat takes its own Escape first.
  const bool escape = FrameHasEvent(rt::kEventKeyDown, kKeyEscape);
  // A question opened in this frame takes no answer before the next.
  const bool wasOpen = quitQuestion.has_value();
  if (!wasOpen && close) {
    rt::logLine("MENU", "quit question");
    quitQuestion = makeQuestion("Quit Question", "Quit");
  } else if (!wasOpen && (escape || FrameHasEvent(rt::kEventPadDown, rt::kPadStart))) {
    rt::logLine("MENU", "leave question");
    quitQuestion = makeQuestion("Leave Question", "Leave");
  }
  if (!quitQuestion) return TitleBarChoice::kNothing;
  gui.action.clear();
  Widget* const modal = gui.modal;
  gui.modal = &*quitQuestion;
  if (wasOpen) FollowPadInBox(*quitQuestion);
  if (gui.action.empty()) RunWidget(*quitQuestion);
  if (wasOpen && gui.action.empty()) {
    std::vector<MessageButton> buttons = MessageButtons(*quitQuestion);
    if (FrameHasEvent(rt::kEventKeyDown, kKeyReturn) ||
        FrameHasEvent(rt::kEventKeyDown, kKeyPadEnter)) {
      gui.action = buttons.front().action;
    } else if (escape || FrameHasEvent(rt::kEventPadDown, rt::kPadEast)) {
      gui.action = buttons.back().action;
    }
  }
  DrawPadInBox(*quitQuestion);
  gui.modal = modal;
  std::string answer = gui.action;
  gui.action.clear();
  if (answer.empty()) return TitleBarChoice::kNothing;
  rt::logLine("MENU", "question answered \"%s\"", answer.c_str());
  if (answer == "Quit") return TitleBarChoice::kQuit;
  if (answer == "Leave") {
    leaveMatch();
    return TitleBarChoice::kNothing;
  }
  CloseQuitQuestion();
  return TitleBarChoice::kNothing;
}

bool QuitQuestionOpen() { return quitQuestion.has_value(); }

void CloseQuitQuestion() { quitQuestion.reset(); }
