#include "app/controls.h"

#include "data/config.h"
#include "runtime/input.h"

MoveKeys ReadMoveKeys() {
  MoveKeys keys;
  keys.up = rt::keyPushed(config.controlUp);
  keys.down = rt::keyPushed(config.controlDown);
  keys.left = rt::keyPushed(config.controlLeft);
  keys.right = rt::keyPushed(config.controlRight);
  return keys;
}

CameraKeys ReadCameraKeys(bool actionReleased) {
  MoveKeys held = ReadMoveKeys();
  CameraKeys keys;
  keys.up = held.up;
  keys.down = held.down;
  keys.left = held.left;
  keys.right = held.right;
  keys.fast = rt::keyPushed(config.controlA);
  keys.recentre = rt::keyReleased(config.controlB);
  keys.next = actionReleased;
  return keys;
}

bool ReadActionReleased() { return rt::keyReleased(config.controlA); }

bool ScoreKeyHeld() { return rt::keyPushed(config.controlScore); }
