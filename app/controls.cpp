#include "app/controls.h"

#include "data/config.h"
#include "runtime/input.h"

namespace {

// The pad plays beside the keyboard: either one holding a control holds it.
bool held(int key, int padButton) { return rt::keyPushed(key) || rt::padPushed(padButton); }

// Both are asked, so that neither keeps a release it owes for a later frame.
bool released(int key, int padButton) {
  bool keyUp = rt::keyReleased(key);
  bool padUp = rt::padReleased(padButton);
  return keyUp || padUp;
}

// The south button that started the match from the lobby is still down when the round starts;
// letting it go is not a barrel.
bool ignoreSouthRelease = false;

}  // namespace

void IgnoreHeldAction() { ignoreSouthRelease = true; }

MoveKeys ReadMoveKeys() {
  MoveKeys keys;
  keys.up = held(config.controlUp, rt::kPadUp);
  keys.down = held(config.controlDown, rt::kPadDown);
  keys.left = held(config.controlLeft, rt::kPadLeft);
  keys.right = held(config.controlRight, rt::kPadRight);
  return keys;
}

CameraKeys ReadCameraKeys(bool actionReleased) {
  MoveKeys held = ReadMoveKeys();
  CameraKeys keys;
  keys.up = held.up;
  keys.down = held.down;
  keys.left = held.left;
  keys.right = held.right;
  keys.fast = ::held(config.controlA, rt::kPadSouth);
  keys.recentre = released(config.controlB, rt::kPadEast);
  keys.next = actionReleased;
  return keys;
}

bool ReadActionReleased() {
  bool keyUp = rt::keyReleased(config.controlA);
  bool padUp = rt::padReleased(rt::kPadSouth);
  if (ignoreSouthRelease) {
    if (!rt::padPushed(rt::kPadSouth)) ignoreSouthRelease = false;
    padUp = false;
  }
  return keyUp || padUp;
}

bool ScoreKeyHeld() { return held(config.controlScore, rt::kPadBack); }
