// Keyboard, mouse and gamepad state, fed by the screen backends and the input script.
#include "runtime/input.h"

#include <algorithm>
#include <array>
#include <string>

#include "runtime/screen_local.h"

namespace rt {
namespace {

constexpr int kKeyCount = 256;
constexpr int kWheelStep = 120;
// Far more than any hand can turn between two frames; keeps the sum from overflowing.
constexpr int kWheelLimit = kWheelStep * 100000;
constexpr size_t kPadNameLength = 60;

struct InputState {
  std::array<bool, kKeyCount> live{};    // as the window's events leave it
  std::array<bool, kKeyCount> sample{};  // as examineKeyboard saw it
  // Was-down flags for keyReleased: one set for single keys, one for "any key", so that asking
  // about one never swallows the release the other is waiting for.
  std::array<bool, kKeyCount> wasDown{};
  std::array<bool, kKeyCount> anyWasDown{};
  int mouseX = 0, mouseY = 0;
  bool left = false, right = false;
  int wheel = 0;  // raw delta; whole notches are handed out, the rest waits
  std::string padName;
  std::array<bool, kPadButtonCount> padButtons{};  // the buttons and the D-pad as pressed
  std::array<int, 2> stick{};
  std::array<bool, kPadButtonCount> padLive{};     // buttons, with the stick as the D-pad
  std::array<bool, kPadButtonCount> padSample{};
  std::array<bool, kPadButtonCount> padWasDown{};
};

InputState& input() {
  static InputState state;
  return state;
}

bool validKey(int key) { return key >= 0 && key < kKeyCount; }
bool validPadButton(int button) { return button >= 0 && button < kPadButtonCount; }

// One direction of the stick, with the let-go margin: held stays held until well inside.
bool stickHeld(int value, int sign, bool wasHeld) {
  int along = value * sign;
  return along > kPadPress || (wasHeld && along > kPadLetGo);
}

// The buttons as the game sees them, the stick folded into the D-pad; every change is an event.
void updatePad() {
  InputState& s = input();
  std::array<bool, kPadButtonCount> now = s.padButtons;
  // The D-pad's own state tells nothing about the stick's, so the stick's hysteresis reads what
  // the combined direction was.
  now[kPadLeft] = now[kPadLeft] || stickHeld(s.stick[kPadStickX], -1, s.padLive[kPadLeft]);
  now[kPadRight] = now[kPadRight] || stickHeld(s.stick[kPadStickX], 1, s.padLive[kPadRight]);
  now[kPadUp] = now[kPadUp] || stickHeld(s.stick[kPadStickY], -1, s.padLive[kPadUp]);
  now[kPadDown] = now[kPadDown] || stickHeld(s.stick[kPadStickY], 1, s.padLive[kPadDown]);
  for (int b = 0; b < kPadButtonCount; ++b) {
    if (now[b] == s.padLive[b]) continue;
    s.padLive[b] = now[b];
    pushWindowEvent(WindowEvent{now[b] ? kEventPadDown : kEventPadUp, b, s.mouseX, s.mouseY});
  }
}

// Down in the sample: remember it and say no. Up after being seen down: say yes, once.
bool releasedOnce(bool down, bool* flag) {
  if (down) {
    *flag = true;
    return false;
  }
  if (!*flag) return false;
  *flag = false;
  return true;
}

}  // namespace

void examineKeyboard() {
  input().sample = input().live;
  input().padSample = input().padLive;
}

bool keyPushed(int key) {
  InputState& s = input();
  if (key == kAnyKey) return std::find(s.sample.begin(), s.sample.end(), true) != s.sample.end();
  return validKey(key) && s.sample[key];
}

bool keyReleased(int key) {
  InputState& s = input();
  if (key == kAnyKey) {
    bool any = false;
    for (int k = 0; k < kKeyCount; ++k) any |= releasedOnce(s.sample[k], &s.anyWasDown[k]);
    return any;
  }
  if (!validKey(key)) return false;
  return releasedOnce(s.sample[key], &s.wasDown[key]);
}

bool padPushed(int button) { return validPadButton(button) && input().padSample[button]; }

bool padReleased(int button) {
  InputState& s = input();
  return validPadButton(button) && releasedOnce(s.padSample[button], &s.padWasDown[button]);
}

std::string padName() { return input().padName; }

void setPadConnected(const std::string& name) {
  InputState& s = input();
  // Shown on a settings page: a name of any length from a script must not run across it.
  s.padName = name.substr(0, kPadNameLength);
  if (!name.empty()) return;
  s.padButtons.fill(false);
  s.stick.fill(0);
  updatePad();
}

void setPadButton(int button, bool down) {
  if (!validPadButton(button)) return;
  input().padButtons[button] = down;
  updatePad();
}

void setPadStick(int axis, int value) {
  if (axis != kPadStickX && axis != kPadStickY) return;
  input().stick[axis] = std::clamp(value, -32768, 32767);
  updatePad();
}

int mouseX() { return input().mouseX; }
int mouseY() { return input().mouseY; }
bool mouseLeft() { return input().left; }
bool mouseRight() { return input().right; }

int mouseWheel() {
  InputState& s = input();
  int notches = s.wheel / kWheelStep;
  s.wheel -= notches * kWheelStep;
  return notches;
}

void setKeyState(int key, bool down) {
  if (validKey(key)) input().live[key] = down;
}

void setMouseState(int x, int y, bool left, bool right) {
  InputState& s = input();
  s.mouseX = x;
  s.mouseY = y;
  s.left = left;
  s.right = right;
}

void addMouseWheel(int delta) {
  InputState& s = input();
  s.wheel = std::clamp(s.wheel + std::clamp(delta, -kWheelLimit, kWheelLimit), -kWheelLimit,
                       kWheelLimit);
}

void releaseAllInput() {
  InputState& s = input();
  s.live.fill(false);
  s.left = false;
  s.right = false;
  s.padButtons.fill(false);
  s.stick.fill(0);
  updatePad();
}

}  // namespace rt
