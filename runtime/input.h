// Keyboard, mouse and gamepad.
//
// Key codes are DirectInput scan codes (1 Escape, 28 Return, 57 Space, 88 F12, 200 Up, 203 Left,
// 205 Right, 208 Down, ...); -1 means "any key". The SDL backend maps every SDL scancode that has
// a DirectInput counterpart; the null backend has no keyboard of its own. Both take scripted
// input (below) on top.
#pragma once

#include <cstdint>
#include <string>

namespace rt {

constexpr int kAnyKey = -1;

// Samples the state of all 256 keys once; the game calls it once per frame.
void examineKeyboard();
// Non-zero while the key was down in the last sample.
bool keyPushed(int key);
// 1 exactly once after the key went up (in the first query after the release); -1 = any key.
bool keyReleased(int key);
// The platform's name of the key, "" when it has none.
std::string keyName(int key);

// DirectInput code for an SDL scancode and back; 0 when there is none.
int keyCodeFromScancode(int sdlScancode);
int scancodeFromKeyCode(int key);

// Text entry. The platform's text input (an input method or an on-screen keyboard) is on only
// while a text field has the focus; typed text arrives as kEventChar window events in
// Windows-1252, and a character without a Windows-1252 code is dropped.
void setTextInput(bool on);
bool textInputOn();
// The clipboard's text in Windows-1252, characters without a code dropped; "" when empty.
std::string clipboardText();
void setClipboardText(const std::string& cp1252);

// Mouse, from the main window's events.
int mouseX();
int mouseY();
bool mouseLeft();
bool mouseRight();
// Wheel notches gathered since the last call (the wheel delta divided by 120).
int mouseWheel();

// Gamepad: the first one plugged in, read as a standard controller (south and east face
// buttons, back, start, the D-pad and the left stick). The stick past its dead zone counts as the
// D-pad, so callers ask for directions only. Sampled with the keyboard by examineKeyboard; each
// change of a button or direction also arrives as a kEventPadDown / kEventPadUp window event.
// The SDL backend feeds it from SDL's game controllers, unplugging and plugging included; the
// input script (below) feeds it on any backend.
enum PadButton : int {
  kPadSouth,
  kPadEast,
  kPadBack,
  kPadStart,
  kPadUp,
  kPadDown,
  kPadLeft,
  kPadRight,
  kPadButtonCount,
};
enum PadAxis : int { kPadStickX, kPadStickY };
// Stick values run -32768..32767 (y grows downward). A direction is pressed past kPadPress and let
// go again only inside kPadLetGo, so that a stick resting near the edge does not chatter.
inline constexpr int kPadPress = 16000, kPadLetGo = 12000;

bool padPushed(int button);
// 1 exactly once after the button (or direction) went up, like keyReleased.
bool padReleased(int button);
// The connected pad's name, "" when there is none.
std::string padName();

// Scripted input for tests and demos: a text file of lines "<ms> <event> <args>" where ms counts
// from startInputScript(). Events:
//   key down <code> | key up <code> | key tap <code>      (tap: down now, up 60 ms later)
//   text <characters...>                                   (typed characters, UTF-8 in the file)
//   mouse move <x> <y> | mouse down left|right | mouse up left|right | mouse click left|right
//   wheel <notches>
//   pad down|up|tap a|b|back|start|dpup|dpdown|dpleft|dpright   (a south, b east)
//   pad axis leftx|lefty <-32768..32767> | pad connect <name...> | pad disconnect
//   close                                                  (the window's close button)
// Blank lines and lines starting with '#' are skipped. Returns false when the file cannot be
// read or a line cannot be parsed (the message says which).
bool loadInputScript(const std::string& path, std::string* error = nullptr);
void startInputScript();
// Feeds the events that are due by now into the window events and key states; called by the
// screen's event gathering.
void pumpInputScript();
bool inputScriptFinished();

// Used by the screen backends to feed the key and mouse states from the window's events.
void setKeyState(int key, bool down);
void setMouseState(int x, int y, bool left, bool right);
void addMouseWheel(int delta);
// The pad: plugged in under a name ("" unplugged, which lets go of everything), a button or the
// D-pad, the left stick's axes.
void setPadConnected(const std::string& name);
void setPadButton(int button, bool down);
void setPadStick(int axis, int value);
// Resets every key and button, the pad's included (window lost focus).
void releaseAllInput();

}  // namespace rt
