// The title bar over every menu and match frame: the game's barrel and name, a button that
// minimises the window and one that closes it after a question, and during a match a way back to
// the menus. The bar's strip still drags the borderless window.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int kTitleBarHeight = 28;
// The right end of the strip holds the bar's buttons; presses left of it drag the window.
inline constexpr int kTitleBarButtons = 256;

enum class TitleBarChoice { kNothing, kQuit };

// Draws the bar on top of the frame and handles its buttons. In the menus "x" asks the menus'
// quit question. During a match it opens the match's own question, whose "Quit" comes back as
// kQuit and whose "None" closes it; "Main Menu" leaves the match for the multiplayer page, and so
// does "Yes" to the question Escape or the pad's Start asks. An open question takes the pad's
// buttons; Return answers "Yes", Escape or the pad's east button "No".
TitleBarChoice TitleBarFrame(uint32_t window, std::string_view title, bool inMatch);

// The match's quit question is open.
bool QuitQuestionOpen();
void CloseQuitQuestion();
