// Keyboard and mouse state, fed by the screen backends and the input script.
#include "runtime/input.h"

#include <algorithm>
#include <array>

namespace rt {
namespace {

constexpr int kKeyCount = 256;
constexpr int kWheelStep = 120;
// Far more than any hand can turn between two frames; keeps the sum from overflowing.
constexpr int kWheelLimit = kWheelStep * 100000;

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
};

InputState& input() {
  static InputState state;
  return state;
}

bool validKey(int key) { return key >= 0 && key < kKeyCount; }

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

void examineKeyboard() { input().sample = input().live; }

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
}

}  // namespace rt
