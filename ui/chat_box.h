// The chat box of a match: the message lines over the left of the world (kills, chat, players
// who left), each line a row of coloured pieces of text, and the input field under them. A new
// line plays the chat sound and makes the lines visible; ten seconds later they fade out, one
// alpha step per frame. Return opens the input and sends what was typed; Escape closes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/containers.h"
#include "ui/widgets.h"
#include "world/events.h"

struct PlayerWire;

inline constexpr uint32_t kChatGrey = 0xC0C0C0;   // the connecting words of a line
inline constexpr uint32_t kChatWhite = 0xFFFFFF;  // what a player wrote
inline constexpr size_t kChatLines = 10;          // older lines are dropped

struct ChatSegment {
  std::string text;
  uint32_t colour = kChatWhite;  // 0x00BBGGRR
};

struct ChatLine {
  std::vector<ChatSegment> segments;  // drawn one after another from the left
};

// The input field for a screen of this height.
Widget ChatInputField(int screenHeight);

struct ChatBox {
  uint32_t typeface = 1;          // "Normal"
  int32_t x = 0, y = 460;         // origin: the top of the highest row
  float startAlpha = 200.0f;      // alpha of the lines while fresh
  uint32_t messageLife = 10000;   // ms from the last line until the fading starts
  float alpha = 0;
  uint32_t fadeAt = 0;
  rt::List<ChatLine> lines;       // oldest first
  // A text field of its own, kept out of the widget list, at the bottom left of the screen.
  Widget input = ChatInputField(768);
  bool inputVisible = false;
};

extern ChatBox chatBox;

// Appends an empty line and shows the lines again at full alpha for another message life;
// plays the chat sound. The oldest lines go beyond the line limit. The returned line stays
// valid until it is dropped.
ChatLine* AddChatLine();
// Appends a piece of text in a colour (0x00BBGGRR) to a line. Very long texts are cut: nobody
// sees past the right edge, and a text from the network must not cost thousands of glyphs a
// frame.
void AddChatSegment(ChatLine* line, std::string_view text, uint32_t colour);
inline constexpr size_t kChatSegmentLimit = 512;

// Once per game frame, after the HUD: opens or closes the input on Return and Escape, keeps the
// lines visible while it is open, fades them once their time is up, drops the oldest beyond the
// limit and draws the rest, the newest on the bottom row; then runs the input, and sends its text
// as a chat line once Return has submitted it.
void UpdateChatBox();
// While the input field is open the keys belong to it and the local player stands still.
bool ChatInputActive();

// The listener of the chat box; start-up adds it to the world's listeners. A kill, a chat line
// said during a match and a player who left each make a line.
void AddWorldEventLine(const WorldEvent& event);

// The standard lines: names in their players' colours (cut to 32 characters), the connecting
// words grey, chat text white. A kill line reads victim, the text of "Message Kill" up to its
// "~", killer, the rest of it, "."; a victim who is also the killer gets the self-kill line.
void AddKillLine(const PlayerWire& victim, const PlayerWire& killer);
void AddSelfKillLine(const PlayerWire& victim);
void AddChatMessageLine(const PlayerWire& sender, std::string_view text);
void AddPlayerLeftLine(uint32_t colour, std::string_view name);
