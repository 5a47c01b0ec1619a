#include "ui/chat_box.h"

#include <algorithm>
#include <cmath>

#include "audio/audio.h"
#include "net/protocol.h"
#include "net/session.h"
#include "data/language.h"
#include "render/typeface.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "ui/title_bar.h"
#include "world/world.h"

ChatBox chatBox;

namespace {

constexpr size_t kNameLength = 32;
constexpr int kKeyEscape = 1, kKeyReturn = 28, kKeyPadEnter = 156;

void keepVisible(ChatBox& box) {
  box.alpha = box.startAlpha;
  box.fadeAt = rt::frame.now + box.messageLife;
}

void dropOldLines(ChatBox& box) {
  while (box.lines.count() > kChatLines) box.lines.erase(box.lines.begin());
}

// A text from a language file or the network, up to its first NUL and at most limit bytes.
std::string cut(std::string_view text, size_t limit) {
  text = text.substr(0, text.find('\0'));
  return std::string(text.substr(0, limit));
}

// The fields of a text split at "~"; a missing field is empty.
std::string_view field(std::string_view text, size_t index) {
  for (size_t i = 0; i < index; ++i) {
    size_t tilde = text.find('~');
    if (tilde == std::string_view::npos) return {};
    text.remove_prefix(tilde + 1);
  }
  return text.substr(0, text.find('~'));
}

void drawLine(const ChatBox& box, const ChatLine& line, float top, int alpha) {
  float x = static_cast<float>(box.x);
  for (const ChatSegment& segment : line.segments) {
    if (x >= static_cast<float>(rt::frame.width)) return;
    DrawText(box.typeface, x, top, segment.text, alpha, segment.colour);
    x += std::round(TextWidth(box.typeface, segment.text));
  }
}

// Line k of n (0 = oldest) sits on row 10 - n + k, so the newest is on the bottom row.
void drawLines(ChatBox& box) {
  const float lineHeight = std::round(TextHeight(box.typeface, " "));
  const int alpha = static_cast<int>(std::lround(std::clamp(box.alpha, 0.0f, 255.0f)));
  const int64_t count = static_cast<int64_t>(box.lines.count());
  const int64_t rows = static_cast<int64_t>(kChatLines);
  int64_t k = 0;
  for (const ChatLine& line : box.lines) {
    const float row = static_cast<float>(rows + k - count);
    drawLine(box, line, static_cast<float>(box.y) + row * lineHeight, alpha);
    ++k;
  }
}

void closeInput(ChatBox& box) {
  box.inputVisible = false;
  box.input.state = 0;
  box.input.text.clear();
  box.input.caret = 0;
  box.input.scroll = 0;
}

// Return opens the input when it is closed, and is taken from the frame so that the field does
// not see it as its own; Escape closes it and forgets what was typed.
void openOrCloseInput(ChatBox& box) {
  std::vector<rt::WindowEvent>& events = rt::frame.events;
  for (auto it = events.begin(); it != events.end(); ++it) {
    if (it->code != rt::kEventKeyDown) continue;
    if (!box.input.state && (it->param == kKeyReturn || it->param == kKeyPadEnter)) {
      box.inputVisible = true;
      box.input.state = 1;
      box.input.y = rt::frame.height - 50;
      events.erase(it);
      return;
    }
    if (box.input.state && it->param == kKeyEscape) {
      closeInput(box);
      events.erase(it);  // it closed the chat and asks nothing more
      return;
    }
  }
}

}  // namespace

ChatLine* AddChatLine() {
  ChatLine* line = chatBox.lines.append();
  keepVisible(chatBox);
  dropOldLines(chatBox);
  PlayChatSound();
  return line;
}

void AddChatSegment(ChatLine* line, std::string_view text, uint32_t colour) {
  if (!line) return;
  line->segments.push_back({cut(text, kChatSegmentLimit), colour & 0xFFFFFF});
}

Widget ChatInputField(int screenHeight) {
  Widget input = MakeStringWidget(10, screenHeight - 50, 400, 40, "Send Text");
  input.frameAlpha = 128;
  return input;
}

void UpdateChatBox() {
  ChatBox& box = chatBox;
  gui.textFocus = false;
  // While somebody types, the history stays on screen.
  if (box.inputVisible) keepVisible(box);
  // A question of the title bar takes Return as its answer.
  if (!QuitQuestionOpen()) openOrCloseInput(box);
  if (rt::timeBefore(box.fadeAt, rt::frame.now) && box.alpha > 0) {
    box.alpha = std::max(box.alpha - 1.0f, 0.0f);
  }
  dropOldLines(box);
  if (box.alpha > 0) drawLines(box);
  if (!box.inputVisible) return;
  RunWidget(box.input);
  // Nobody reads further than a line's limit, so nobody types further either.
  if (box.input.text.size() > kChatSegmentLimit) {
    box.input.text.resize(kChatSegmentLimit);
    box.input.caret = std::min<int32_t>(box.input.caret, kChatSegmentLimit);
  }
  if (box.input.state) return;
  // Return has submitted it: the line goes to the host, which echoes it to everybody.
  if (!box.input.text.empty() && session.isConnected) sendChatMessage(box.input.text);
  closeInput(box);
}

bool ChatInputActive() { return chatBox.inputVisible; }

void AddWorldEventLine(const WorldEvent& event) {
  switch (event.type) {
    case WorldEventType::kPlayerKilled: AddKillLine(*event.player, *event.other); break;
    case WorldEventType::kChatLine: AddChatMessageLine(*event.player, event.text); break;
    case WorldEventType::kLeaveLine: AddPlayerLeftLine(event.colour, event.text); break;
    default: break;
  }
}

void AddKillLine(const PlayerWire& victim, const PlayerWire& killer) {
  if (&victim == &killer || victim.id == killer.id) {
    AddSelfKillLine(victim);
    return;
  }
  const std::string text = Lang("Message Kill");
  ChatLine* line = AddChatLine();
  AddChatSegment(line, playerName(victim), static_cast<uint32_t>(victim.colour));
  AddChatSegment(line, " " + std::string(field(text, 0)), kChatGrey);
  AddChatSegment(line, playerName(killer), static_cast<uint32_t>(killer.colour));
  AddChatSegment(line, std::string(field(text, 1)) + ".", kChatGrey);
}

void AddSelfKillLine(const PlayerWire& victim) {
  ChatLine* line = AddChatLine();
  AddChatSegment(line, playerName(victim), static_cast<uint32_t>(victim.colour));
  AddChatSegment(line, " " + Lang("Message SelfKill") + ".", kChatGrey);
}

void AddChatMessageLine(const PlayerWire& sender, std::string_view text) {
  ChatLine* line = AddChatLine();
  AddChatSegment(line, playerName(sender), static_cast<uint32_t>(sender.colour));
  AddChatSegment(line, ": " + cut(text, kChatSegmentLimit), kChatWhite);
}

void AddPlayerLeftLine(uint32_t colour, std::string_view name) {
  ChatLine* line = AddChatLine();
  AddChatSegment(line, cut(name, kNameLength), colour);
  AddChatSegment(line, " " + Lang("Message Disconnect") + ".", kChatGrey);
}
